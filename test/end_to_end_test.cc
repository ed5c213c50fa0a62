// End-to-end tests: the built program, run against registry files in Wine
// prefixes made for each test, judged by its exact output and exit code.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "program_test.h"

namespace {

// A registry file of a win64 prefix with `value_line` as ZOLP's value.
std::string Win64Registry(const std::string& value_line) {
  return "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
         "#arch=win64\n\n"
         "[Software\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion] 1\n"
         "\"Version\"=\"64.0\"\n\n"
         "[Software\\\\Wow6432Node\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion] 1\n"
         "#time=1d9d1c8e5a3b2f0\n" + value_line + "\n";
}

class EndToEndTest : public ProgramTest {};

TEST_F(EndToEndTest, DispatchesOnTheFirstWordInAnyLetterCase) {
  struct Case {
    std::vector<std::string> args;
    std::string out;
    int code;
  };
  const Case kCases[] = {
      {{}, Usage(), 0},
      {{"help"}, Usage(), 0},
      {{"HELP"}, Usage(), 0},
      {{"HeLp", "more", "words"}, Usage(), 0},
      {{"helpx"}, Invalid("helpx"), 1},
      {{"hel"}, Invalid("hel"), 1},
      {{"bogus", "help"}, Invalid("bogus"), 1},
      {{""}, Invalid(""), 1},
      {{" help"}, Invalid(" help"), 1},
      {{"h\xc3\xa9lp\x01\x7f"}, Invalid("h\xc3\xa9lp\x01\x7f"), 1},
      {{"zolpversionlessthanx", "5.60"}, Invalid("zolpversionlessthanx"), 1},
      {{"zolpversionlessthan"}, "Error: Required VERSION parameter is missing.\n", 3},
      {{"ZOLPVERSIONLESSTHAN"}, "Error: Required VERSION parameter is missing.\n", 3},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args.empty() ? "(no arguments)" : "\"" + c.args[0] + "\"");
    ExpectRun(Tarvex(c.args), c.out, c.code);
  }
}

TEST_F(EndToEndTest, EchoesLongArgumentsByteForByte) {
  // The longest single argument Linux passes to a program (MAX_ARG_STRLEN).
  std::string word(128 * 1024 - 1, 'w');
  for (std::size_t i = 0; i < word.size(); i += 3) word[i] = static_cast<char>(0x80 + i % 128);
  ExpectRun(Tarvex({word}), Invalid(word), 1);
  ExpectRun(Tarvex({"zolpversionlessthan", word}), Malformed(word), 4);
}

TEST_F(EndToEndTest, ChecksTheInstalledVersion) {
  struct Case {
    std::string value_line;
    std::string version;
    std::string out;
    int code;
  };
  const std::string v560 = "\"Version\"=\"5.60\"";
  const Case kCases[] = {
      {v560, "5.60", Installed("5.60") + Specified("5.60") + kNotLess, 2},
      {v560, "5.61", Installed("5.60") + Specified("5.61") + kLess, 0},
      {v560, "6.0", Installed("5.60") + Specified("6.0") + kLess, 0},
      {v560, "5.59", Installed("5.60") + Specified("5.59") + kNotLess, 2},
      {v560, "5.6", Installed("5.60") + Specified("5.6") + kNotLess, 2},
      {v560, "4.99", Installed("5.60") + Specified("4.99") + kNotLess, 2},
      {v560, " \t+05.060 and more", Installed("5.60") + Specified("5.60") + kNotLess, 2},
      {v560, "5.60.", Installed("5.60") + Specified("5.60") + kNotLess, 2},
      {v560, "5.60.x", Installed("5.60") + Specified("5.60") + kNotLess, 2},
      {v560, "-1.0", Installed("5.60") + Specified("-1.0") + kNotLess, 2},
      {v560, "5.-60", Installed("5.60") + Specified("5.-60") + kNotLess, 2},
      {v560, "4294967301.0", Installed("5.60") + Specified("5.0") + kNotLess, 2},
      {"\"Version\"=\"5.6.0\"", "5.60", Installed("5.6") + Specified("5.60") + kLess, 0},
      {"\"version\"=\" 5.60 final\"", "5.61", Installed("5.60") + Specified("5.61") + kLess, 0},
      {"\"Version\"=str(2):\"7.1\"", "7.2", Installed("7.1") + Specified("7.2") + kLess, 0},
      {"\"Version\"=hex:35,2e,36,30", "6.0", Installed("5.60") + Specified("6.0") + kLess, 0},
      // Full-width digits, as Wine writes them, narrow by best fit.
      {"\"Version\"=\"\\xff15.\\xff16\\xff10\"", "5.61",
       Installed("5.60") + Specified("5.61") + kLess, 0},
      {"\"Version\"=\"" + std::string(255, ' ') + "1.2\"", "1.3",
       Installed("1.2") + Specified("1.3") + kLess, 0},
      {"\"Version\"=\"" + std::string(260, '5') + "\"", "5.60", kUnreadable, 1},
      {"\"Other\"=\"5.60\"", "5.60", kUnreadable, 1},
      {"\"Version\"=\"abc\"", "5.60", kUnparsable, 1},
      {"\"Version\"=\"\"", "5.60", kUnparsable, 1},
      {"\"Version\"=dword:00000005", "5.60", kUnparsable, 1},
      {"\"Version\"=nonsense", "5.60", kUnparsable, 1},
      {v560, "5.6.0", Malformed("5.6.0"), 4},
      {v560, "5.60.7.8", Malformed("5.60.7.8"), 4},
      {v560, "5.60. 7", Malformed("5.60. 7"), 4},
      {v560, "5 .60", Malformed("5 .60"), 4},
      {v560, "", Malformed(""), 4},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.value_line + " / VERSION \"" + c.version + "\"");
    WriteRegistry(Win64Registry(c.value_line));
    ExpectRun(Tarvex({"zolpversionlessthan", c.version, "extra"}), c.out, c.code);
  }
}

TEST_F(EndToEndTest, FindsThePrefixTheWayWineDoes) {
  WriteRegistry(Win64Registry("\"Version\"=\"5.60\""));
  const std::string found = Installed("5.60") + Specified("6.0") + kLess;
  const std::vector<std::string> args = {"zolpversionlessthan", "6.0"};
  // $HOME/.wine when WINEPREFIX is unset or empty.
  ASSERT_EQ(rename(prefix_.c_str(), (dir_ + "/.wine").c_str()), 0);
  ExpectRun(Tarvex(args, {"HOME=" + dir_}), found, 0);
  ExpectRun(Tarvex(args, {"WINEPREFIX=", "HOME=" + dir_}), found, 0);
  ExpectRun(Tarvex(args, {"WINEPREFIX=" + dir_ + "/elsewhere", "HOME=" + dir_}),
            kNotInstalled, 1);
  ExpectRun(Tarvex(args, {"WINEPREFIX=" + dir_ + "/.wine/"}), found, 0);
  ExpectRun(Tarvex(args, {"PATH=/bin"}), kNotInstalled, 1);  // No HOME at all.
}

TEST_F(EndToEndTest, AnythingButARegistryFileIsNoRegistry) {
  const std::vector<std::string> args = {"zolpversionlessthan", "6.0"};
  ExpectRun(Tarvex(args), kNotInstalled, 1);  // No system.reg.
  WriteRegistry("");
  ExpectRun(Tarvex(args), kNotInstalled, 1);
  WriteRegistry("REGEDIT4\n" + Win64Registry("\"Version\"=\"5.60\""));
  ExpectRun(Tarvex(args), kNotInstalled, 1);
  ASSERT_EQ(unlink((prefix_ + "/system.reg").c_str()), 0);
  ASSERT_EQ(mkfifo((prefix_ + "/system.reg").c_str(), 0644), 0);
  ExpectRun(Tarvex(args), kNotInstalled, 1);  // Must not wait for a writer.
  ASSERT_EQ(unlink((prefix_ + "/system.reg").c_str()), 0);
  ASSERT_EQ(mkdir((prefix_ + "/system.reg").c_str(), 0755), 0);
  ExpectRun(Tarvex(args), kNotInstalled, 1);
}

TEST_F(EndToEndTest, TheExitCodeSurvivesOutputThatCannotBeWritten) {
  WriteRegistry(Win64Registry("\"Version\"=\"5.60\""));
  struct Case {
    std::vector<std::string> args;
    int code;
  };
  const Case kCases[] = {{{"zolpversionlessthan", "6.0"}, 0},
                         {{"zolpversionlessthan", "5.0"}, 2},
                         {{"bogus"}, 1},
                         {{"help"}, 0}};
  for (const Output output : {Output::kClosed, Output::kFull, Output::kBrokenPipe}) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(c.args[0] + " with output " + std::to_string(static_cast<int>(output)));
      ExpectRun(Tarvex(c.args, {}, output), "", c.code);
    }
  }
}

TEST_F(EndToEndTest, TheExamplePrefixAnswers) {
  const std::vector<std::string> env = {
      std::string("WINEPREFIX=") + TARVEX_SOURCE_DIR + "/examples/prefix"};
  ExpectRun(Tarvex({"zolpversionlessthan", "5.61"}, env),
            Installed("5.60") + Specified("5.61") + kLess, 0);
}

}  // namespace
