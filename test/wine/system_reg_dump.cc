// Test-only program for the Wine tests (not part of tarvex): what the
// system.reg reader returns, in the format of tarvex_regtool's dump, so the
// two can be compared line by line.
//
//   tarvex_regdump SYSTEM_REG KEYS_FILE   lines: key [TAB value]; the value is
//                                         "Version" when not given
#include <cstdio>
#include <fstream>
#include <string>

#include "version/registry.h"
#include "version/system_reg.h"

namespace {

class StreamFile : public RegistryFile {
 public:
  explicit StreamFile(const char* path) : in_(path, std::ios::binary) {}
  bool ok() const { return static_cast<bool>(in_); }
  long ReadAt(std::uint64_t offset, char* buffer, std::size_t capacity) override {
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(buffer, static_cast<std::streamsize>(capacity));
    if (in_.bad()) return -1;
    return static_cast<long>(in_.gcount());
  }

 private:
  std::ifstream in_;
};

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) return 2;
  StreamFile file(argv[1]);
  std::ifstream keys(argv[2], std::ios::binary);
  if (!file.ok() || !keys) return 2;
  std::string line;
  while (std::getline(keys, line)) {
    const std::size_t tab = line.find('\t');
    const std::string path = line.substr(0, tab);
    const std::string value =
        tab == std::string::npos ? "Version" : line.substr(tab + 1);
    RegistryFileKey key;
    const long open = OpenRegistryFileKey(file, path, &key);
    long query = -1;
    unsigned char data[260] = {0};
    std::uint32_t size = sizeof(data);
    if (open == kRegistrySuccess) {
      query = QueryRegistryFileValue(file, key, value, data, &size);
    }
    std::printf("open=%ld query=%ld size=%lu data=", open, query,
                static_cast<unsigned long>(size));
    if (query == kRegistrySuccess) {
      for (std::uint32_t i = 0; i < size && i < sizeof(data); ++i) std::printf("%02x", data[i]);
    }
    std::printf("\n");
  }
  return 0;
}
