// The registry on POSIX systems: HKEY_LOCAL_MACHINE of a Wine prefix, read
// straight from its system.reg. Only what concerns finding and reading that
// file belongs here; the file format is read by system_reg.cc.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "version/registry.h"
#include "version/system_reg.h"

namespace {

class DescriptorFile : public RegistryFile {
 public:
  explicit DescriptorFile(int fd) : fd_(fd) {}
  ~DescriptorFile() override { close(fd_); }
  DescriptorFile(const DescriptorFile&) = delete;
  DescriptorFile& operator=(const DescriptorFile&) = delete;

  long ReadAt(std::uint64_t offset, char* buffer,
              std::size_t capacity) override {
    for (;;) {
      const ssize_t got = pread(fd_, buffer, capacity, static_cast<off_t>(offset));
      if (got >= 0 || errno != EINTR) return got < 0 ? -1 : static_cast<long>(got);
    }
  }

 private:
  int fd_;
};

struct OpenedKey {
  explicit OpenedKey(int fd) : file(fd) {}
  DescriptorFile file;
  RegistryFileKey key;
};

// Wine's convention: $WINEPREFIX, or $HOME/.wine when that is unset or empty.
bool FindRegistryFile(std::string* path) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix && *prefix) {
    *path = prefix;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) return false;
    *path = std::string(home) + "/.wine";
  }
  *path += "/system.reg";
  return true;
}

}  // namespace

long OpenRegistryKey(const char* path, RegistryKey* key) {
  std::string file_path;
  if (!FindRegistryFile(&file_path)) return kRegistryNotFound;
  // Non-blocking, so that a FIFO without a writer cannot hang the program;
  // anything but a regular file is then refused.
  const int fd =
      open(file_path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return kRegistryNotFound;
  auto opened = new OpenedKey(fd);
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    delete opened;
    return kRegistryNotFound;
  }
  const long result = OpenRegistryFileKey(opened->file, path, &opened->key);
  if (result != kRegistrySuccess) {
    delete opened;
    return result;
  }
  *key = opened;
  return kRegistrySuccess;
}

long QueryRegistryValue(RegistryKey key, const char* name, unsigned char* data,
                        std::uint32_t* size) {
  auto opened = static_cast<OpenedKey*>(key);
  return QueryRegistryFileValue(opened->file, opened->key, name, data, size);
}

void CloseRegistryKey(RegistryKey key) { delete static_cast<OpenedKey*>(key); }
