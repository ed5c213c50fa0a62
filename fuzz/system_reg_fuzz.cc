// Fuzz target: the system.reg reader over arbitrary bytes. Besides the
// sanitizers' checks, a lookup must give the same answer however the file's
// bytes are handed out, and never store more than the capacity it was given.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "version/system_reg.h"

namespace {

// The file's bytes in memory, handed out at most `chunk` bytes a read.
class MemoryFile : public RegistryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size, std::size_t chunk)
      : data_(data), size_(size), chunk_(chunk) {}
  long ReadAt(std::uint64_t offset, char* buffer,
              std::size_t capacity) override {
    if (offset >= size_) return 0;
    const std::size_t count = std::min(
        {capacity, chunk_, size_ - static_cast<std::size_t>(offset)});
    std::memcpy(buffer, data_ + offset, count);
    return static_cast<long>(count);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t chunk_;
};

struct Answer {
  long open = -1;
  long query = -1;
  std::string data;
  bool operator==(const Answer& o) const {
    return open == o.open && query == o.query && data == o.data;
  }
};

Answer Lookup(RegistryFile& file, const char* path, std::uint32_t capacity) {
  Answer answer;
  RegistryFileKey key;
  answer.open = OpenRegistryFileKey(file, path, &key);
  if (answer.open != 0) return answer;
  // Exactly `capacity` bytes, so a store past them is a sanitizer report.
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[capacity + 1]);
  unsigned char* data = buffer.get() + 1;
  std::uint32_t size = capacity;
  answer.query = QueryRegistryFileValue(file, key, "Version", data, &size);
  if (answer.query == 0) {
    if (size > capacity) {
      std::fprintf(stderr, "stored %u bytes into %u\n", size, capacity);
      std::abort();
    }
    answer.data.assign(reinterpret_cast<const char*>(data), size);
  } else if (answer.query != 2 && answer.query != 234) {
    std::abort();
  }
  return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The first byte picks the capacity and the path; the rest is the file.
  if (size < 1) return 0;
  const std::uint32_t capacity = data[0] & 0x7f ? data[0] & 0x7f : 260;
  const char* path =
      (data[0] & 0x80) ? "Software\\Classes\\CLSID"
                       : "SOFTWARE\\Brek Computer Corporation\\BrekZOLP\\CurrentVersion";
  ++data;
  --size;
  MemoryFile whole(data, size, ~std::size_t{0});
  const Answer answer = Lookup(whole, path, capacity);
  if (answer.open != 0 && answer.open != 2) std::abort();
  // Block boundaries anywhere must not change the answer.
  for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}}) {
    if (chunk == 1 && size > 4096) continue;  // Keeps each run fast.
    MemoryFile pieces(data, size, chunk);
    if (!(Lookup(pieces, path, capacity) == answer)) {
      std::fprintf(stderr, "answer differs with %zu-byte reads\n", chunk);
      std::abort();
    }
  }
  return 0;
}
