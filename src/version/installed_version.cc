// Lookup of the installed ZOLP version in the registry.
#include "version/installed_version.h"

#include <cstddef>
#include <cstring>
#include <string_view>

#include "version/output.h"
#include "version/registry.h"
#include "version/version_text.h"

namespace {

constexpr char kZolpKeyPath[] =
    "SOFTWARE\\Brek Computer Corporation\\BrekZOLP\\CurrentVersion";
constexpr char kVersionValueName[] = "Version";
constexpr std::uint32_t kValueBufferSize = 260;

}  // namespace

int GetInstalledVersion(std::int32_t* major, std::int32_t* minor) {
  *major = 0;
  *minor = 0;

  RegistryKey key = nullptr;
  if (OpenRegistryKey(kZolpKeyPath, &key) != kRegistrySuccess) {
    WriteMessageLine("No version of ZOLP is installed.");
    return 0;
  }
  unsigned char buffer[kValueBufferSize];
  buffer[0] = 0;
  std::uint32_t size = kValueBufferSize;
  const long status = QueryRegistryValue(key, kVersionValueName, buffer, &size);
  CloseRegistryKey(key);
  if (status != kRegistrySuccess) {
    WriteMessageLine(
        "Unable to read the ZOLP \"Version\" registry value.\n"
        "Appears that no version of ZOLP is installed.");
    return 0;
  }

  // The value is text up to its first NUL or the end of the returned bytes;
  // a value stored without a NUL must not be read past what was returned.
  const char* text = reinterpret_cast<const char*>(buffer);
  const std::size_t returned = size < kValueBufferSize ? size : kValueBufferSize;
  const void* nul = std::memchr(text, 0, returned);
  const std::string_view value(
      text, nul ? static_cast<const char*>(nul) - text : returned);

  std::int32_t numbers[2];
  if (ReadVersionNumbers(value, 2, numbers) != 2) {
    WriteMessageLine(
        "Unable to parse version information out of the ZOLP \"Version\" "
        "registry value.\nAppears that no version of ZOLP is installed.");
    return 0;
  }
  *major = numbers[0];
  *minor = numbers[1];
  WriteMessageLine("The version of ZOLP installed is: " +
                   FormatVersion(*major, *minor));
  return 1;
}
