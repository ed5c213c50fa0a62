// Reading system.reg in blocks: the reads of the next block, and the copy of
// bytes read.
#include "version/system_reg_blocks.h"

Reader::Reader(RegistryFile& file, std::uint64_t offset)
    : file_(file), block_(new char[kBlockSize]), block_offset_(offset) {}

void Reader::CopyFrom(std::uint64_t start, std::string* bytes) const {
  bytes->clear();
  if (start < block_offset_ || pos_ >= end_) return;
  const std::size_t from = static_cast<std::size_t>(start - block_offset_);
  bytes->assign(&block_[from], pos_ + 1 - from);
}

bool Reader::PreviousLineHoldsBackslash() const {
  std::size_t i = pos_;
  while (i > 0 && block_[i - 1] != '\n') --i;  // This line's start.
  if (i == 0) return true;
  --i;
  if (i == 0) return byte_before_block_ != '\n';
  if (block_[i - 1] == '\n') return false;  // An empty line.
  for (; i > 0 && block_[i - 1] != '\n'; --i) {
    if (block_[i - 1] == '\\') return true;
  }
  return i == 0;
}

bool Reader::Fill() {
  if (at_end_) return false;
  if (end_ > 0) {
    second_byte_before_block_ = end_ >= 2 ? block_[end_ - 2] : byte_before_block_;
    byte_before_block_ = block_[end_ - 1];
    std::size_t i = end_;
    while (i > 0 && IsBlank(static_cast<unsigned char>(block_[i - 1]))) --i;
    if (i > 0) blanks_before_block_ = block_[i - 1] == '\n';
  }
  block_offset_ += end_;
  pos_ = end_ = 0;
  const long got = file_.ReadAt(block_offset_, block_.get(), kBlockSize);
  if (got <= 0) {
    failed_ = got < 0;
    at_end_ = true;
    return false;
  }
  end_ = static_cast<std::size_t>(got);
  return true;
}
