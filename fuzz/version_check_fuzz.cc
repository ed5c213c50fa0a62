// Fuzz target: the whole version check over an in-memory registry with an
// arbitrary VERSION and arbitrary value bytes. The exit code must be one of 0
// to 4 and the output exactly one of the program's message forms, consistent
// with the code.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "version/registry.h"
#include "version/registry_fake.h"
#include "version/version_check.h"

namespace {

int g_output = -1;  // A memory file that standard output writes to.

const std::string kMissing = "Error: Required VERSION parameter is missing.\n";
const std::string kNotInstalled = "No version of ZOLP is installed.\n";
const std::string kUnreadable =
    "Unable to read the ZOLP \"Version\" registry value.\n"
    "Appears that no version of ZOLP is installed.\n";
const std::string kUnparsable =
    "Unable to parse version information out of the ZOLP \"Version\" "
    "registry value.\nAppears that no version of ZOLP is installed.\n";
const std::string kLess =
    "Installed version of ZOLP is less than specified version.\n";
const std::string kNotLess =
    "Installed version of ZOLP is equal to or greater than the specified "
    "version.\n";

[[noreturn]] void Fail(const char* what, const std::string& output) {
  std::fprintf(stderr, "%s; output:\n%s\n", what, output.c_str());
  std::abort();
}

// Reads "<int>.<int>\n" as the program writes a version: an optional "-",
// digits without a leading zero, within 32 bits.
bool TakeVersion(std::string* text, long long* major, long long* minor) {
  long long parts[2];
  std::size_t pos = 0;
  for (int i = 0; i < 2; ++i) {
    const bool negative = pos < text->size() && (*text)[pos] == '-';
    if (negative) ++pos;
    const std::size_t start = pos;
    long long value = 0;
    while (pos < text->size() && (*text)[pos] >= '0' && (*text)[pos] <= '9' &&
           pos - start < 11) {
      value = value * 10 + ((*text)[pos++] - '0');
    }
    if (pos == start || ((*text)[start] == '0' && pos - start > 1)) return false;
    if (negative && value == 0) return false;
    parts[i] = negative ? -value : value;
    if (parts[i] < -2147483648LL || parts[i] > 2147483647LL) return false;
    if (pos >= text->size() || (*text)[pos] != (i == 0 ? '.' : '\n')) return false;
    ++pos;
  }
  *major = parts[0];
  *minor = parts[1];
  text->erase(0, pos);
  return true;
}

bool TakePrefix(std::string* text, const std::string& prefix) {
  if (text->compare(0, prefix.size(), prefix) != 0) return false;
  text->erase(0, prefix.size());
  return true;
}

void CheckOutput(int code, const std::string& version, std::string output) {
  const std::string whole = output;
  switch (code) {
    case 3:
      if (output != kMissing) Fail("code 3 with other output", whole);
      return;
    case 4:
      if (output != "Error: The format of the VERSION parameter is invalid.\n"
                    "       The specified VERSION parameter string is: " +
                        version + "\n") {
        Fail("code 4 with other output", whole);
      }
      return;
    case 1:
      if (output != kNotInstalled && output != kUnreadable &&
          output != kUnparsable) {
        Fail("code 1 with other output", whole);
      }
      return;
    case 0:
    case 2: {
      long long installed[2], specified[2];
      if (!TakePrefix(&output, "The version of ZOLP installed is: ") ||
          !TakeVersion(&output, &installed[0], &installed[1]) ||
          !TakePrefix(&output, "The version of ZOLP specified is: ") ||
          !TakeVersion(&output, &specified[0], &specified[1])) {
        Fail("found version with other output", whole);
      }
      const bool less = installed[0] < specified[0] ||
                        (installed[0] == specified[0] && installed[1] < specified[1]);
      if (output != (less ? kLess : kNotLess)) Fail("wrong verdict line", whole);
      if ((code == 0) != less) Fail("code disagrees with the versions", whole);
      return;
    }
    default:
      Fail("exit code out of range", whole);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  g_output = memfd_create("tarvex-stdout", 0);
  if (g_output < 0 || dup2(g_output, 1) != 1) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // Layout: one control byte, then VERSION up to the first NUL (an argument
  // cannot hold one), then the value's bytes.
  if (size < 1) return 0;
  const std::uint8_t control = data[0];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t nul = rest.find('\0');
  std::string version = rest.substr(0, nul);
  FakeRegistry& registry = TheFakeRegistry();
  registry = FakeRegistry{};
  registry.key_exists = (control & 1) == 0;
  constexpr long kStatuses[] = {kRegistrySuccess, kRegistryNotFound,
                                kRegistryMoreData, 5};
  registry.query_status = kStatuses[(control >> 1) & 3];
  registry.value = nul == std::string::npos ? "" : rest.substr(nul + 1);
  const bool has_version = (control & 8) == 0;

  std::string arg0 = "tarvex", arg1 = "zolpversionlessthan";
  char* argv[] = {arg0.data(), arg1.data(), version.data(), nullptr};
  if (std::fflush(stdout) != 0 || ftruncate(g_output, 0) != 0 ||
      lseek(g_output, 0, SEEK_SET) != 0) {
    std::abort();
  }
  const int code = RunVersionLessThan(has_version ? 3 : 2, argv);
  if (std::fflush(stdout) != 0) std::abort();
  std::string output;
  char buffer[4096];
  for (off_t offset = 0;;) {
    const ssize_t got = pread(g_output, buffer, sizeof buffer, offset);
    if (got < 0) std::abort();
    if (got == 0) break;
    output.append(buffer, static_cast<std::size_t>(got));
    offset += got;
  }
  CheckOutput(code, version, output);
  if (registry.opened != registry.closed) Fail("a key was left open", output);
  return 0;
}
