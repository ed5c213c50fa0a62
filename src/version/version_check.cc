// The zolpversionlessthan command: validate VERSION, look up, compare.
#include "version/version_check.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "version/installed_version.h"
#include "version/output.h"
#include "version/version_text.h"

int RunVersionLessThan(int argc, char* argv[]) {
  if (argc < 3) {
    WriteMessageLine("Error: Required VERSION parameter is missing.");
    return 3;
  }
  const std::string_view version = argv[2];
  // A third number makes the text malformed even though its first two are
  // valid: "5.6.0" is not how a version is written here.
  std::int32_t numbers[3];
  if (ReadVersionNumbers(version, 3, numbers) == 3 ||
      ReadVersionNumbers(version, 2, numbers) != 2) {
    WriteMessageLine(
        "Error: The format of the VERSION parameter is invalid.\n"
        "       The specified VERSION parameter string is: " +
        std::string(version));
    return 4;
  }
  const std::int32_t specified_major = numbers[0];
  const std::int32_t specified_minor = numbers[1];

  std::int32_t installed_major = 0;
  std::int32_t installed_minor = 0;
  if (!GetInstalledVersion(&installed_major, &installed_minor)) return 1;

  WriteMessageLine("The version of ZOLP specified is: " +
                   FormatVersion(specified_major, specified_minor));
  if (installed_major < specified_major ||
      (installed_major == specified_major &&
       installed_minor < specified_minor)) {
    WriteMessageLine("Installed version of ZOLP is less than specified version.");
    return 0;
  }
  WriteMessageLine(
      "Installed version of ZOLP is equal to or greater than the specified "
      "version.");
  return 2;
}
