// Fault tests: the built program against bad input and a hostile
// environment (broken registry files, odd prefixes, huge and binary
// arguments, output that cannot be written). Each case says what the program
// must still do: the right exit code and output, no signal death, nothing on
// standard error, no hang, and time and memory that do not grow out of hand.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "program_test.h"

namespace {

constexpr char kKey[] =
    "[Software\\\\Wow6432Node\\\\Brek Computer Corporation\\\\BrekZOLP\\\\"
    "CurrentVersion] 1\n";
const std::string kHead = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n";

std::string Found560Less() {
  return Installed("5.60") + Specified("6.0") + kLess;
}

// The longest single argument Linux passes (MAX_ARG_STRLEN, 32 pages, with
// its NUL): a 1 MB argument cannot reach a program at all.
constexpr std::size_t kLongestArgument = 128 * 1024 - 1;

class FaultTest : public ProgramTest {};

const std::vector<std::string> kCheck = {"zolpversionlessthan", "6.0"};

TEST_F(FaultTest, OutputThatCannotBeWrittenChangesNoExitCode) {
  // Every kind of run, including the longest output the program can make.
  const std::string long_word(kLongestArgument, 'w');
  struct Case {
    const char* what;
    std::string registry;  // Empty: no system.reg.
    std::vector<std::string> args;
    int code;
  };
  const std::string found = kHead + std::string(kKey) + "\"Version\"=\"5.60\"\n";
  const Case kCases[] = {
      {"no command", found, {}, 0},
      {"VERSION missing", found, {"zolpversionlessthan"}, 3},
      {"VERSION malformed", found, {"zolpversionlessthan", "x"}, 4},
      {"not installed", "", kCheck, 1},
      {"value unreadable", kHead + std::string(kKey), kCheck, 1},
      {"value unparsable", kHead + std::string(kKey) + "\"Version\"=\"x\"\n", kCheck, 1},
      {"a long invalid word", found, {long_word}, 1},
      {"a long malformed VERSION", found, {"zolpversionlessthan", long_word}, 4},
  };
  for (const Output output : {Output::kClosed, Output::kFull, Output::kBrokenPipe,
                              Output::kReadOnly}) {
    for (const Case& c : kCases) {
      SCOPED_TRACE(std::string(c.what) + " with output " +
                   std::to_string(static_cast<int>(output)));
      RemoveRegistry();
      if (!c.registry.empty()) WriteRegistry(c.registry);
      ExpectRun(Tarvex(c.args, {}, output), "", c.code);
    }
  }
}

TEST_F(FaultTest, ABrokenRegistryFileIsReadAsFarAsItGoes) {
  const std::string key = kHead + std::string(kKey);
  const std::string nul_line = std::string("\"Other\"=\"a\0b\"\n", 14);
  struct Case {
    const char* what;
    std::function<void()> make;
    std::string out;
    int code;
  };
  const Case kCases[] = {
      {"missing", [] {}, kNotInstalled, 1},
      {"empty", [&] { WriteRegistry(""); }, kNotInstalled, 1},
      {"only the signature", [&] { WriteRegistry("WINE REGISTRY Version 2"); },
       kNotInstalled, 1},
      {"a directory", [&] { ASSERT_EQ(mkdir(reg_.c_str(), 0755), 0); },
       kNotInstalled, 1},
      {"a dangling symlink",
       [&] { ASSERT_EQ(symlink((dir_ + "/nowhere").c_str(), reg_.c_str()), 0); },
       kNotInstalled, 1},
      {"a symlink to a registry file",
       [&] {
         std::ofstream(dir_ + "/real.reg") << key << "\"Version\"=\"5.60\"\n";
         ASSERT_EQ(symlink((dir_ + "/real.reg").c_str(), reg_.c_str()), 0);
       },
       Found560Less(), 0},
      {"a symlink loop",
       [&] { ASSERT_EQ(symlink(reg_.c_str(), reg_.c_str()), 0); }, kNotInstalled, 1},
      {"a FIFO without a writer",
       [&] { ASSERT_EQ(mkfifo(reg_.c_str(), 0644), 0); }, kNotInstalled, 1},
      {"a character device",
       [&] { ASSERT_EQ(symlink("/dev/zero", reg_.c_str()), 0); }, kNotInstalled, 1},
      {"cut in the section line", [&] { WriteRegistry(key.substr(0, key.size() - 20)); },
       kNotInstalled, 1},
      {"cut before the section name closes",
       [&] { WriteRegistry(key.substr(0, key.size() - 4)); }, kNotInstalled, 1},
      {"cut after the section name", [&] { WriteRegistry(key.substr(0, key.size() - 3)); },
       kUnreadable, 1},
      {"cut in the value's name", [&] { WriteRegistry(key + "\"Vers"); }, kUnreadable, 1},
      {"cut in the value's data", [&] { WriteRegistry(key + "\"Version\"=\"5.6"); },
       kUnparsable, 1},
      {"cut in a hex list", [&] { WriteRegistry(key + "\"Version\"=hex:35,2e,\\\n"); },
       kUnparsable, 1},
      {"NUL bytes in another value",
       [&] { WriteRegistry(key + nul_line + "\"Version\"=\"5.60\"\n"); }, Found560Less(), 0},
      {"NUL bytes before the key",
       [&] { WriteRegistry(kHead + std::string("\0\0[\0]\n\0\n", 8) + kKey + "\"Version\"=\"5.60\"\n"); },
       Found560Less(), 0},
      {"a NUL byte in the value",
       [&] { WriteRegistry(key + std::string("\"Version\"=\"5.6\0\"\n", 17)); },
       kUnparsable, 1},
      {"a NUL byte in the key's name",
       [&] {
         WriteRegistry(kHead + std::string("[Software\\\\Wow6432Node\\\\Brek") +
                       std::string(1, '\0') + " Computer Corporation\\\\BrekZOLP\\\\"
                       "CurrentVersion] 1\n\"Version\"=\"5.60\"\n");
       },
       kNotInstalled, 1},
      {"invalid UTF-8 around the key",
       [&] {
         WriteRegistry(kHead + "[\xff\xfe\xc0\xaf] 1\n\"\xed\xa0\x80\"=\"\xf8\x80\"\n" + kKey +
                       "\"Version\"=\"5.60\xff\xc3\"\n");
       },
       Found560Less(), 0},
      {"non-ASCII inside the number",
       [&] { WriteRegistry(key + "\"Version\"=\"5.\xc3\xa9""60\"\n"); }, kUnparsable, 1},
      {"CR LF line ends",
       [&] {
         WriteRegistry("WINE REGISTRY Version 2\r\n\r\n[Software\\\\Wow6432Node\\\\Brek "
                       "Computer Corporation\\\\BrekZOLP\\\\CurrentVersion] 1\r\n"
                       "#time=1\r\n\"Version\"=\"5.60\"\r\n");
       },
       Found560Less(), 0},
      {"a 20 MB line before the key",
       [&] { WriteRegistry(kHead + ";" + std::string(20 << 20, 'x') + "\n" + kKey + "\"Version\"=\"5.60\"\n"); },
       Found560Less(), 0},
      {"a 20 MB value before the version",
       [&] { WriteRegistry(key + "\"Big\"=\"" + std::string(20 << 20, 'x') + "\"\n\"Version\"=\"5.60\"\n"); },
       Found560Less(), 0},
      {"a 20 MB version",
       [&] { WriteRegistry(key + "\"Version\"=\"5.60" + std::string(20 << 20, '0') + "\"\n"); },
       kUnreadable, 1},
      {"a 20 MB section line without an end",
       [&] { WriteRegistry(kHead + "[" + std::string(20 << 20, 'S')); }, kNotInstalled, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    RemoveRegistry();
    c.make();
    const RunResult run = Tarvex(kCheck);
    std::printf("%s: %.3f s CPU\n", c.what, run.cpu_seconds);
    ExpectRun(run, c.out, c.code);
  }
}

// Text as the hex list of its UTF-16LE units, the way system.reg keeps a link.
std::string Utf16Hex(const std::string& text) {
  std::string hex;
  for (const char c : text) {
    char pair[16];
    std::snprintf(pair, sizeof pair, "%s%02x,00", hex.empty() ? "" : ",",
                  static_cast<unsigned char>(c));
    hex += pair;
  }
  return hex;
}

// Sixteen links, each to a key 16,000 levels deep whose first level is the
// next link: every hop would lengthen the path looked for by 16,000 levels.
std::string ChainOfDeepLinks() {
  std::string text = "WINE REGISTRY Version 2\n\n";
  for (int hop = 0; hop < 16; ++hop) {
    std::string target = "\\Registry\\Machine\\L" + std::to_string(hop + 1);
    for (int level = 1; level < 16000; ++level) target += "\\a";
    text += "[" + (hop == 0 ? std::string("Software") : "L" + std::to_string(hop)) +
            "]\n#link\n\"SymbolicLinkValue\"=hex(6):" + Utf16Hex(target) + "\n";
  }
  return text;
}

// 20,000 links under Brek Computer Corporation that the lookup passes by,
// each naming the next, then ZOLP's key.
std::string ManyLinks() {
  std::string text = kHead;
  for (int i = 0; i < 20000; ++i) {
    text += "[Software\\\\Wow6432Node\\\\Brek Computer Corporation\\\\L" +
            std::to_string(i) + "] 1\n#link\n\"SymbolicLinkValue\"=hex(6):" +
            Utf16Hex("\\Registry\\Machine\\Software\\Wow6432Node\\Brek Computer "
                     "Corporation\\L" + std::to_string(i + 1)) + "\n";
  }
  return text + kKey + "\"Version\"=\"5.60\"\n";
}

TEST_F(FaultTest, KeyPathsOfAHundredThousandLevels) {
  std::string below = "[Software\\\\Wow6432Node\\\\Brek Computer Corporation\\\\BrekZOLP"
                      "\\\\CurrentVersion";
  std::string beside = "[Software\\\\Wow6432Node\\\\Brek Computer Corporation";
  for (int level = 0; level < 100000; ++level) {
    below += "\\\\a";
    beside += "\\\\b";
  }
  below += "] 1\n\"Version\"=\"1.0\"\n";
  beside += "] 1\n\"Version\"=\"1.0\"\n";
  struct Case {
    const char* what;
    std::string registry;
    std::string out;
  };
  const Case kCases[] = {
      // The key exists as the parent of another, but has no values of its own.
      {"only a key far below", kHead + below, kUnreadable},
      {"only a key far beside", kHead + beside, kNotInstalled},
      {"both, then the key", kHead + below + beside + kKey + "\"Version\"=\"5.60\"\n",
       Found560Less()},
      {"20,000 links beside the key, each to the next", ManyLinks(), Found560Less()},
      // This crashed the program: the lookup recursed once a level.
      {"links that chain to ever longer paths", ChainOfDeepLinks(), kNotInstalled},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    WriteRegistry(c.registry);
    ExpectRun(Tarvex(kCheck), c.out, c.out == Found560Less() ? 0 : 1);
  }
}

// Writes a registry file of about `megabytes` MB of other keys, ZOLP's last.
void WriteLargeRegistry(const std::string& path, int megabytes) {
  std::string block;
  for (int i = 0; block.size() < (1 << 20); ++i) {
    block += "[Software\\\\Classes\\\\CLSID\\\\{" + std::to_string(i) +
             "}\\\\InprocServer32] 1700000000\n#time=1d9d1c8e5a3b2f0\n"
             "@=\"C:\\\\windows\\\\system32\\\\x.dll\"\n\"ThreadingModel\"=\"Both\"\n\n";
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_GE(std::fputs(kHead.c_str(), file), 0);
  for (int i = 0; i < megabytes; ++i) {
    ASSERT_EQ(std::fwrite(block.data(), 1, block.size(), file), block.size());
  }
  const std::string key = std::string(kKey) + "\"Version\"=\"5.60\"\n";
  ASSERT_EQ(std::fwrite(key.data(), 1, key.size(), file), key.size());
  ASSERT_EQ(std::fclose(file), 0);
}

TEST_F(FaultTest, A100MegabyteFileTakesLinearTimeAndFlatMemory) {
  WriteLargeRegistry(reg_, 10);
  const RunResult small = Tarvex(kCheck);
  ExpectRun(small, Found560Less(), 0);
  WriteLargeRegistry(reg_, 100);
  const RunResult large = Tarvex(kCheck);
  ExpectRun(large, Found560Less(), 0);
  std::printf("10 MB: %.3f s CPU, %ld KiB peak; 100 MB: %.3f s CPU, %ld KiB peak\n",
              small.cpu_seconds, small.max_rss_kib, large.cpu_seconds, large.max_rss_kib);
  EXPECT_LE(large.max_rss_kib, small.max_rss_kib + 8 * 1024);
  // Ten times the bytes: linear is about ten times the time; quadratic would
  // be a hundred. The allowance covers the start-up and a busy machine.
  EXPECT_LE(large.cpu_seconds, 20 * small.cpu_seconds + 0.2);
}

TEST_F(FaultTest, ThePrefixIsTakenAsGiven) {
  const std::string registry = kHead + std::string(kKey) + "\"Version\"=\"5.60\"\n";
  const std::string odd = dir_ + "/a prefix\twith blanks, \xc3\xa9t\xc3\xa9 \xe2\x82\xac";
  ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
  std::ofstream(odd + "/system.reg") << registry;
  ASSERT_EQ(mkdir((dir_ + "/rel").c_str(), 0755), 0);
  std::ofstream(dir_ + "/rel/system.reg") << registry;
  ASSERT_EQ(mkdir((dir_ + "/home").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir_ + "/home/.wine").c_str(), 0755), 0);
  std::ofstream(dir_ + "/home/.wine/system.reg") << registry;
  cwd_ = dir_;
  WriteRegistry(registry);
  struct Case {
    const char* what;
    std::vector<std::string> env;
    std::string out;
    int code;
  };
  const Case kCases[] = {
      {"blanks and non-ASCII", {"WINEPREFIX=" + odd}, Found560Less(), 0},
      // Relative to the working directory, as Wine takes it.
      {"relative", {"WINEPREFIX=rel", "HOME=/nonexistent"}, Found560Less(), 0},
      {"relative, missing", {"WINEPREFIX=rel/missing", "HOME=" + dir_}, kNotInstalled, 1},
      {"empty falls back to HOME", {"WINEPREFIX=", "HOME=" + dir_ + "/nonexistent"},
       kNotInstalled, 1},
      {"HOME unset, WINEPREFIX set", {"WINEPREFIX=" + prefix_}, Found560Less(), 0},
      {"HOME unset and no WINEPREFIX", {"LANG=C"}, kNotInstalled, 1},
      {"HOME empty", {"HOME="}, kNotInstalled, 1},
      {"HOME relative", {"HOME=home"}, Found560Less(), 0},
      {"a prefix that is a file", {"WINEPREFIX=" + reg_}, kNotInstalled, 1},
      {"a prefix of 4096 bytes", {"WINEPREFIX=" + std::string(4096, '/')}, kNotInstalled, 1},
      {"a prefix of 100 KiB", {"WINEPREFIX=/" + std::string(100 << 10, 'p')}, kNotInstalled, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    ExpectRun(Tarvex(kCheck, c.env), c.out, c.code);
  }
}

TEST_F(FaultTest, ArgumentsOfAnyBytesAndTheLongestLength) {
  WriteRegistry(kHead + std::string(kKey) + "\"Version\"=\"5.60\"\n");
  std::string high;
  for (int b = 0x80; b <= 0xff; ++b) high += static_cast<char>(b);
  std::string control;
  for (int b = 1; b < 0x20; ++b) control += static_cast<char>(b);
  control += '\x7f';
  std::string longest_high(kLongestArgument, '\0');
  for (std::size_t i = 0; i < longest_high.size(); ++i) {
    longest_high[i] = static_cast<char>(0x80 + i % 128);
  }
  const std::string longest_version = "5.60" + std::string(kLongestArgument - 4, '0');
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string out_prefix;  // The usage text follows an invalid word.
    int code;
  };
  const Case kCases[] = {
      {"a word of bytes 0x80 to 0xFF", {high}, InvalidPrefix(high), 1},
      {"a word of control characters", {control}, InvalidPrefix(control), 1},
      {"the longest word", {std::string(kLongestArgument, 'Z')},
       InvalidPrefix(std::string(kLongestArgument, 'Z')), 1},
      {"the longest high-byte word", {longest_high}, InvalidPrefix(longest_high), 1},
      {"VERSION of bytes 0x80 to 0xFF", {"zolpversionlessthan", high}, Malformed(high), 4},
      {"VERSION of control characters", {"zolpversionlessthan", control}, Malformed(control), 4},
      {"VERSION after control characters", {"zolpversionlessthan", "\x0b\x0c\r\n 6.0\x01\x02"},
       Found560Less(), 0},
      {"the longest VERSION, digits wrapping", {"zolpversionlessthan", longest_version},
       "The version of ZOLP installed is: 5.60\n"
       "The version of ZOLP specified is: 5.0\n"
       "Installed version of ZOLP is equal to or greater than the specified version.\n",
       2},
      {"the longest high-byte VERSION", {"zolpversionlessthan", longest_high},
       Malformed(longest_high), 4},
      {"VERSION missing", {"zolpversionlessthan"}, kMissing, 3},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const RunResult run = Tarvex(c.args);
    ExpectClean(run, c.code);
    EXPECT_EQ(run.out.substr(0, c.out_prefix.size()), c.out_prefix);
    if (c.code != 1) {
      EXPECT_EQ(run.out, c.out_prefix);
    }
  }
}

}  // namespace
