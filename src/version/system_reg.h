// Reading one value out of Wine's registry file (system.reg), as a 32-bit
// program in that prefix sees it. Pure functions over the file's bytes: the
// caller supplies them, nothing here touches the file system.
#ifndef TARVEX_VERSION_SYSTEM_REG_H_
#define TARVEX_VERSION_SYSTEM_REG_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The bytes of a registry file. The reader asks for them in order, in blocks,
// and goes back to the start (or to a section it found) for a second look, so
// the file never has to be held in memory.
class RegistryFile {
 public:
  virtual ~RegistryFile() = default;
  // Reads up to `capacity` bytes at `offset`: returns the count, 0 at the end
  // of the file, or -1 when the file cannot be read.
  virtual long ReadAt(std::uint64_t offset, char* buffer,
                      std::size_t capacity) = 0;
};

// A key found in a registry file: its path with every link and 32-bit
// redirection resolved, and where its first section starts (kNoSection when it
// has none, being only the parent of other keys).
struct RegistryFileKey {
  static constexpr std::uint64_t kNoSection = ~std::uint64_t{0};
  std::vector<std::u16string> path;
  std::uint64_t first_section = kNoSection;
};

// Finds `path` (names separated by "\") under HKEY_LOCAL_MACHINE, whose file
// `file` is, in the view of a 32-bit program: below a key that has a
// Wow6432Node child the path continues inside that child, and a key marked as
// a link stands for the key it names. Returns 0, or 2 (not found) when the key
// does not exist or the file is no registry file or cannot be read.
long OpenRegistryFileKey(RegistryFile& file, std::string_view path,
                         RegistryFileKey* key);

// Reads value `name` of `key` the way RegQueryValueExA does: string types come
// back as narrow text, a byte a UTF-16 unit in code page 1252 with Wine's best
// fit (code_page_1252.h), other types as stored. `*size` is the capacity of `data` on entry and the bytes stored on
// success. Returns 0, 2 when there is no such value, or 234 (more data) when it
// does not fit, storing nothing but the size it needs in `*size`.
long QueryRegistryFileValue(RegistryFile& file, const RegistryFileKey& key,
                            std::string_view name, unsigned char* data,
                            std::uint32_t* size);

#endif  // TARVEX_VERSION_SYSTEM_REG_H_
