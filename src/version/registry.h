// The three registry operations the installed-version lookup needs, with the
// system's own status codes. Each platform has its own back end.
#ifndef TARVEX_VERSION_REGISTRY_H_
#define TARVEX_VERSION_REGISTRY_H_

#include <cstdint>

using RegistryKey = void*;

constexpr long kRegistrySuccess = 0;
constexpr long kRegistryNotFound = 2;   // ERROR_FILE_NOT_FOUND
constexpr long kRegistryMoreData = 234;  // ERROR_MORE_DATA

// Opens `path` under HKEY_LOCAL_MACHINE for reading, in the view a 32-bit
// program has. On success `*key` must be closed with CloseRegistryKey.
long OpenRegistryKey(const char* path, RegistryKey* key);

// Reads value `name` of `key` as narrow text, the way RegQueryValueExA does:
// `*size` is the capacity of `data` on entry and the bytes stored on success.
// Data that does not fit fails with kRegistryMoreData, storing nothing but
// the size it needs in `*size`.
long QueryRegistryValue(RegistryKey key, const char* name, unsigned char* data,
                        std::uint32_t* size);

void CloseRegistryKey(RegistryKey key);

#endif  // TARVEX_VERSION_REGISTRY_H_
