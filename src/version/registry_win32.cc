// The registry on Windows: the system's own registry through the narrow
// (ANSI) functions. This is the only file that includes <windows.h>.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "version/registry.h"

long OpenRegistryKey(const char* path, RegistryKey* key) {
  // No view flag: the shipped program is 32-bit, and the system itself
  // redirects a 32-bit program to the view a 32-bit program should see.
  HKEY opened = nullptr;
  const LONG result =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &opened);
  if (result == ERROR_SUCCESS) *key = static_cast<RegistryKey>(opened);
  return result;
}

long QueryRegistryValue(RegistryKey key, const char* name, unsigned char* data,
                        std::uint32_t* size) {
  DWORD dword_size = *size;
  const LONG result = RegQueryValueExA(static_cast<HKEY>(key), name, nullptr,
                                       nullptr, data, &dword_size);
  *size = dword_size;
  return result;
}

void CloseRegistryKey(RegistryKey key) { RegCloseKey(static_cast<HKEY>(key)); }
