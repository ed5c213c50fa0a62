// Reading system.reg in blocks: the file's bytes in order with one byte of
// look-ahead, and the fast skips over lines, so a large file is read once with
// memory that does not grow with it.
#ifndef TARVEX_VERSION_SYSTEM_REG_BLOCKS_H_
#define TARVEX_VERSION_SYSTEM_REG_BLOCKS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "version/system_reg.h"

// The blanks Wine skips in a line: isspace() of the C locale, less the line
// end.
inline bool IsBlank(int c) {
  return c == ' ' || (c >= '\t' && c <= '\r' && c != '\n');
}

// Bytes read at a time.
constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

// The file's bytes with one byte of look-ahead, read a block at a time.
class Reader {
 public:
  Reader(RegistryFile& file, std::uint64_t offset);

  bool failed() const { return failed_; }
  std::uint64_t offset() const { return block_offset_ + pos_; }

  // The next byte, or -1 at the end of the file.
  int Peek() {
    if (pos_ == end_ && !Fill()) return -1;
    return static_cast<unsigned char>(block_[pos_]);
  }
  int Next() {
    const int c = Peek();
    if (c >= 0) ++pos_;
    return c;
  }
  bool NextIs(char c) {
    if (Peek() != static_cast<unsigned char>(c)) return false;
    ++pos_;
    return true;
  }
  bool NextAre(std::string_view text) {
    for (const char c : text) {
      if (!NextIs(c)) return false;
    }
    return true;
  }
  bool AtLineEnd() {
    const int c = Peek();
    return c < 0 || c == '\n';
  }

  // Whether the bytes ahead start with `prefix` (looked for in this block only).
  bool StartsWith(std::string_view prefix) const {
    return end_ - pos_ >= prefix.size() &&
           std::memcmp(&block_[pos_], prefix.data(), prefix.size()) == 0;
  }

  // Copies the bytes from `start` up to and including the next one, or clears
  // `*bytes` when they are not all in this block.
  void CopyFrom(std::uint64_t start, std::string* bytes) const;

  // Moves past the next line end.
  void SkipLine() {
    for (;;) {
      if (pos_ == end_ && !Fill()) return;
      const void* hit = std::memchr(&block_[pos_], '\n', end_ - pos_);
      if (hit) {
        pos_ = static_cast<std::size_t>(static_cast<const char*>(hit) -
                                        block_.get()) + 1;
        return;
      }
      pos_ = end_;
    }
  }

  // Moves to the next "[" that starts a line, after blanks or none, or to the
  // end of the file. On the way it passes over the section lines after an
  // empty line whose name starts with `known` (looked for in this block only),
  // which the caller has no use for: most lines of a large file, as its
  // sections come sorted. Returns where the last line it passed over starts,
  // or RegistryFileKey::kNoSection.
  std::uint64_t SkipToSection(std::string_view known) {
    std::uint64_t passed = RegistryFileKey::kNoSection;
    for (;;) {
      if (pos_ == end_ && !Fill()) return passed;
      const void* hit = std::memchr(&block_[pos_], '[', end_ - pos_);
      if (!hit) {
        pos_ = end_;
        continue;
      }
      pos_ = static_cast<std::size_t>(static_cast<const char*>(hit) -
                                      block_.get());
      // Wine writes an empty line before each section: one test settles both
      // that this starts a line and that no data can carry over to it.
      after_empty_line_ = pos_ >= 2 ? block_[pos_ - 1] == '\n' && block_[pos_ - 2] == '\n'
                                    : AfterEmptyLineAtBlockStart();
      if (after_empty_line_) {
        if (known.empty() || end_ - pos_ <= known.size() ||
            std::memcmp(&block_[pos_ + 1], known.data(), known.size()) != 0) {
          return passed;
        }
        passed = offset();
      } else if (OnlyBlanksBefore()) {
        return passed;
      }
      ++pos_;
    }
  }

  // Whether the line before the "[" that SkipToSection stopped at may end in a
  // "\" that carries a value's data over to this line: false when it is empty
  // or holds no "\", true when it does or lies outside this block.
  bool PreviousLineMayContinue() const {
    return !after_empty_line_ && PreviousLineHoldsBackslash();
  }

 private:
  bool Fill();
  bool PreviousLineHoldsBackslash() const;
  // Whether the byte at `pos_`, the first or second of the block, follows
  // an empty line.
  bool AfterEmptyLineAtBlockStart() const {
    return pos_ == 0 ? byte_before_block_ == '\n' && second_byte_before_block_ == '\n'
                     : block_[0] == '\n' && byte_before_block_ == '\n';
  }

  // Whether only blanks stand between the line start and the next byte.
  bool OnlyBlanksBefore() const {
    for (std::size_t i = pos_; i > 0; --i) {
      const char c = block_[i - 1];
      if (c == '\n') return true;
      if (!IsBlank(static_cast<unsigned char>(c))) return false;
    }
    return blanks_before_block_;
  }

  RegistryFile& file_;
  std::unique_ptr<char[]> block_;  // Not cleared: only what was read is used.
  std::uint64_t block_offset_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  // Reading starts at the start of the file or of a section: a line start.
  char byte_before_block_ = '\n';
  // And no line before it is known to be empty.
  char second_byte_before_block_ = 0;
  // Whether the last line of the blocks before this one holds only blanks.
  bool blanks_before_block_ = true;
  // Whether the "[" that SkipToSection stopped at follows an empty line.
  bool after_empty_line_ = false;
  bool at_end_ = false;
  bool failed_ = false;
};

#endif  // TARVEX_VERSION_SYSTEM_REG_BLOCKS_H_
