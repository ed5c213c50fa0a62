// Tests of the version check and the installed-version lookup over an
// in-memory registry: the decisions, the messages and the key's lifetime.
#include "version/version_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "version/installed_version.h"
#include "version/registry.h"
#include "version/registry_fake.h"

namespace {

constexpr char kNotInstalled[] = "No version of ZOLP is installed.\n";
constexpr char kUnreadable[] =
    "Unable to read the ZOLP \"Version\" registry value.\n"
    "Appears that no version of ZOLP is installed.\n";
constexpr char kUnparsable[] =
    "Unable to parse version information out of the ZOLP \"Version\" "
    "registry value.\nAppears that no version of ZOLP is installed.\n";
constexpr char kLess[] =
    "Installed version of ZOLP is less than specified version.\n";
constexpr char kNotLess[] =
    "Installed version of ZOLP is equal to or greater than the specified "
    "version.\n";

void InstallValue(const std::string& bytes) {
  TheFakeRegistry() = FakeRegistry{};
  TheFakeRegistry().key_exists = true;
  TheFakeRegistry().value = bytes;
}

// Runs "tarvex zolpversionlessthan VERSION" and returns its output.
std::string Check(const std::string& version, int* code) {
  std::string arg0 = "tarvex", arg1 = "zolpversionlessthan", arg2 = version;
  char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
  testing::internal::CaptureStdout();
  *code = RunVersionLessThan(3, argv);
  return testing::internal::GetCapturedStdout();
}

TEST(RunVersionLessThanTest, ComparesMajorThenMinorAsSignedNumbers) {
  struct Case {
    const char* installed;
    const char* specified;
    int code;
    const char* installed_echo;
    const char* specified_echo;
  };
  constexpr Case kCases[] = {
      {"5.60", "5.60", 2, "5.60", "5.60"},
      {"5.60", "5.61", 0, "5.60", "5.61"},
      {"5.60", "6.0", 0, "5.60", "6.0"},
      {"5.60", "5.59", 2, "5.60", "5.59"},
      {"5.60", "5.6", 2, "5.60", "5.6"},
      {"5.60", "4.99", 2, "5.60", "4.99"},
      {"5.60", "05.060", 2, "5.60", "5.60"},
      {"5.60", " +5.60 and more", 2, "5.60", "5.60"},
      {"5.6.0", "5.60", 0, "5.6", "5.60"},
      {"5.60", "-1.0", 2, "5.60", "-1.0"},
      {"-2.0", "-1.0", 0, "-2.0", "-1.0"},
      {"5.-60", "5.0", 0, "5.-60", "5.0"},
      {"0.0", "4294967301.0", 0, "0.0", "5.0"},
      {"2147483647.0", "2147483648.0", 2, "2147483647.0", "-2147483648.0"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.installed) + " vs " + c.specified);
    InstallValue(std::string(c.installed) + '\0');
    int code = -1;
    const std::string out = Check(c.specified, &code);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(out, std::string("The version of ZOLP installed is: ") +
                       c.installed_echo + "\nThe version of ZOLP specified is: " +
                       c.specified_echo + "\n" + (c.code == 0 ? kLess : kNotLess));
    EXPECT_EQ(TheFakeRegistry().opened_path,
              "SOFTWARE\\Brek Computer Corporation\\BrekZOLP\\CurrentVersion");
    EXPECT_EQ(TheFakeRegistry().queried_name, "Version");
  }
}

TEST(RunVersionLessThanTest, RefusesMalformedVersionWithoutAskingTheRegistry) {
  const std::vector<std::string> kMalformed = {
      "5.6.0", "5.60.1", "5.60.7.8", "5.60. 7", "5", ".5", "5..60", "5,60",
      "0x5.1", "abc", "5 .60", "", "\xff\x80", "5\t.60"};
  for (const std::string& version : kMalformed) {
    SCOPED_TRACE("\"" + version + "\"");
    TheFakeRegistry() = FakeRegistry{};
    int code = -1;
    EXPECT_EQ(Check(version, &code),
              "Error: The format of the VERSION parameter is invalid.\n"
              "       The specified VERSION parameter string is: " +
                  version + "\n");
    EXPECT_EQ(code, 4);
    EXPECT_EQ(TheFakeRegistry().opened_path, "");
  }
}

TEST(RunVersionLessThanTest, MissingVersionIsDecidedByTheCountAlone) {
  TheFakeRegistry() = FakeRegistry{};
  std::string arg0 = "tarvex", arg1 = "zolpversionlessthan";
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunVersionLessThan(2, argv), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error: Required VERSION parameter is missing.\n");
  EXPECT_EQ(TheFakeRegistry().opened_path, "");
}

TEST(GetInstalledVersionTest, TellsEveryFailureApartAndClosesWhatItOpened) {
  struct Case {
    bool key_exists;
    long query_status;
    std::string value;
    int found;
    std::int32_t major;
    std::int32_t minor;
    std::string output;
  };
  const Case kCases[] = {
      {false, 0, "5.60", 0, 0, 0, kNotInstalled},
      {true, kRegistryNotFound, "", 0, 0, 0, kUnreadable},
      {true, kRegistryMoreData, "", 0, 0, 0, kUnreadable},
      {true, 5 /* access denied */, "", 0, 0, 0, kUnreadable},
      {true, 0, std::string("5.60\0", 5), 1, 5, 60,
       "The version of ZOLP installed is: 5.60\n"},
      {true, 0, "5.60", 1, 5, 60,  // Stored without a NUL.
       "The version of ZOLP installed is: 5.60\n"},
      {true, 0, std::string(" 5.60 build 7\0", 14), 1, 5, 60,
       "The version of ZOLP installed is: 5.60\n"},
      {true, 0, std::string("5\0.60", 5), 0, 0, 0, kUnparsable},
      {true, 0, "", 0, 0, 0, kUnparsable},
      {true, 0, std::string("\0", 1), 0, 0, 0, kUnparsable},
      {true, 0, "abc", 0, 0, 0, kUnparsable},
      {true, 0, std::string("\x05\x00\x00\x00", 4), 0, 0, 0, kUnparsable},
      {true, 0, std::string(259, ' ') + "1", 0, 0, 0, kUnparsable},
      {true, 0, std::string(257, ' ') + "1.2", 1, 1, 2,
       "The version of ZOLP installed is: 1.2\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE("value \"" + c.value + "\"");
    TheFakeRegistry() = FakeRegistry{};
    TheFakeRegistry().key_exists = c.key_exists;
    TheFakeRegistry().query_status = c.query_status;
    TheFakeRegistry().value = c.value;
    std::int32_t major = -7, minor = -7;
    testing::internal::CaptureStdout();
    EXPECT_EQ(GetInstalledVersion(&major, &minor), c.found);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
    EXPECT_EQ(major, c.major);
    EXPECT_EQ(minor, c.minor);
    EXPECT_EQ(TheFakeRegistry().closed, TheFakeRegistry().opened);
  }
}

TEST(RunVersionLessThanTest, NotInstalledEndsWithTheLookupsMessageOnly) {
  TheFakeRegistry() = FakeRegistry{};
  int code = -1;
  EXPECT_EQ(Check("5.60", &code), kNotInstalled);
  EXPECT_EQ(code, 1);
  InstallValue("garbage");
  EXPECT_EQ(Check("5.60", &code), kUnparsable);
  EXPECT_EQ(code, 1);
}

}  // namespace
