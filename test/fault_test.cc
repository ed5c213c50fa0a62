// Fault tests: the built program against bad input and a hostile
// environment (broken registry files, odd prefixes, huge and binary
// arguments, output that cannot be written). Each case says what the program
// must still do: the right exit code and output, no signal death, nothing on
// standard error, no hang, and time and memory that do not grow out of hand.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <new>
#include <random>
#include <string>
#include <utility>
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

// A system.reg shaped like the one of a fresh win64 prefix (about 8,700
// sections in 1.6 MB), with ZOLP's key 97% of the way in, under
// Software\Wow6432Node as a 32-bit installer writes it. `seed` picks the other
// keys, so two files differ throughout and hold the key at different offsets.
std::string FreshSizeRegistry(const std::string& version, unsigned seed) {
  std::mt19937 rng(seed);
  const auto below = [&rng](std::uint32_t n) {
    return static_cast<unsigned>(rng() % n);
  };
  const auto name = [&] {
    std::string text;
    if (below(10) < 4) {
      unsigned parts[6];
      for (unsigned& part : parts) part = below(0x10000);
      char guid[48];
      std::snprintf(guid, sizeof guid, "{%04X%04X-%04X-%04X-%04X-%04X%04X0000}",
                    parts[0], parts[1], parts[2], parts[3], parts[4], parts[5],
                    parts[0] ^ parts[1]);
      return std::string(guid);
    }
    for (unsigned n = 3 + below(12); n > 0; --n)
      text += static_cast<char>('a' + below(26));
    return text;
  };
  struct Root {
    const char* path;
    unsigned weight;  // Out of 100.
  };
  constexpr Root kRoots[] = {
      {"Software\\\\Classes", 40},
      {"Software\\\\Microsoft\\\\Windows\\\\CurrentVersion", 12},
      {"Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion", 8},
      {"Software\\\\Wow6432Node\\\\Classes", 25},
      {"Software\\\\Wow6432Node\\\\Microsoft", 8},
      {"System\\\\CurrentControlSet\\\\Services", 4},
      {"System\\\\ControlSet001\\\\Control", 3},
  };
  std::vector<std::string> paths;
  for (int i = 0; i < 8700; ++i) {
    unsigned pick = below(100);
    const Root* root = kRoots;
    while (pick >= root->weight) pick -= (root++)->weight;
    std::string path = root->path;
    for (unsigned n = 1 + below(3); n > 0; --n) path += "\\\\" + name();
    paths.push_back(path);
  }
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
  };
  std::sort(paths.begin(), paths.end(),
            [&](const std::string& a, const std::string& b) {
              return std::lexicographical_compare(
                  a.begin(), a.end(), b.begin(), b.end(),
                  [&](char x, char y) { return lower(x) < lower(y); });
            });
  std::string text =
      "WINE REGISTRY Version 2\n;; All keys relative to "
      "REGISTRY\\\\Machine\n\n#arch=win64\n\n"
      "[Software\\\\Wow6432Node\\\\Policies] "
      "1796966759\n#time=1dd89301ab6f24e\n#link\n"
      "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,"
      "72,00,79,00,5c,"
      "00\n\n";
  constexpr unsigned kValueCounts[] = {0, 1, 2, 2, 3};
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i == paths.size() * 97 / 100) {
      text += std::string(kKey) + "#time=1dd89301ab6f24e\n\"Version\"=\"" +
              version + "\"\n\n";
    }
    char line[64];
    std::snprintf(line, sizeof line, "] 1796966759\n#time=1dd89301%07x\n",
                  below(1u << 28));
    text += "[" + paths[i] + line;
    for (unsigned n = kValueCounts[below(5)]; n > 0; --n) {
      text += "\"" + name() + "\"=";
      if (below(10) < 7) {
        text += "\"" + name() + "\"\n";
      } else {
        std::snprintf(line, sizeof line, "dword:%04x%04x\n", below(0x10000),
                      below(0x10000));
        text += line;
      }
    }
    text += "\n";
  }
  return text;
}

// Names the answer a run of kCheck gave: its exit code and output must be one
// of the program's message forms, and a version it shows must agree with the
// exit code. Returns false for anything else.
bool NameAnswer(const RunResult& run, std::string* answer) {
  if (run.timed_out || run.signal != 0 || !run.err.empty()) return false;
  if (run.code == 1) {
    const std::pair<std::string, const char*> kForms[] = {
        {kNotInstalled, "not installed"},
        {kUnreadable, "value unreadable"},
        {kUnparsable, "value unparsable"},
    };
    for (const auto& [out, name] : kForms) {
      if (run.out == out) {
        *answer = name;
        return true;
      }
    }
    return false;
  }
  if (run.code != 0 && run.code != 2) return false;
  const std::string head = "The version of ZOLP installed is: ";
  const std::size_t end = run.out.find('\n');
  if (run.out.compare(0, head.size(), head) != 0 || end == std::string::npos)
    return false;
  const std::string version = run.out.substr(head.size(), end - head.size());
  long long major = 0, minor = 0;
  char rest = 0;
  if (std::sscanf(version.c_str(), "%lld.%lld%c", &major, &minor, &rest) != 2 ||
      std::to_string(major) + "." + std::to_string(minor) != version) {
    return false;
  }
  const bool less = major < 6 || (major == 6 && minor < 0);
  if (run.code != (less ? 0 : 2) || run.out != Installed(version) +
                                                   Specified("6.0") +
                                                   (less ? kLess : kNotLess)) {
    return false;
  }
  *answer = "version " + version;
  return true;
}

std::string Describe(const RunResult& run) {
  return "exit code " + std::to_string(run.code) + ", signal " +
         std::to_string(run.signal) + (run.timed_out ? ", timed out" : "") +
         ", output \"" + run.out.substr(0, 300) + "\", error output \"" +
         run.err.substr(0, 300) + "\"";
}

// Writes `bytes` over the file at `path` from its start, truncating it first,
// `piece` bytes a call.
bool WriteInPieces(const std::string& path, const std::string& bytes,
                   std::size_t piece) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t wrote =
        write(fd, bytes.data() + done, std::min(piece, bytes.size() - done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      close(fd);
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return close(fd) == 0;
}

// The program beside a writer that keeps changing system.reg between two
// fresh-size files, ZOLP 5.60 and 6.10, as fast as it can.
class RewriteTest : public ProgramTest {
 protected:
  // Wine writes a new file and renames it over the old one; a careless tool
  // truncates the file and writes it again.
  enum class Mode { kRename, kInPlace };

  struct Counts {
    int checks = 0;
    int raced = 0;     // Checks during which the writer changed the file.
    long changes = 0;  // The writer's changes made while a check ran.
    std::map<std::string, int> answers;
    int faults = 0;  // Runs that gave none of the program's answers.
  };

  // The checks of one run: at least kMinChecks, then more until kMaxChecks
  // or kMaxTime, whichever comes first; a few faulty runs end it early. The
  // sanitizer build's program takes a few tenths of a second a check beside
  // the writer, the Release one a few hundredths.
  static constexpr int kMinChecks = 16;
  static constexpr int kMaxChecks = 400;
  static constexpr std::chrono::seconds kMaxTime{4};
  static constexpr int kMaxFaults = 5;

  void SetUp() override {
    ProgramTest::SetUp();
    files_[0] = FreshSizeRegistry("5.60", 1);
    files_[1] = FreshSizeRegistry("6.10", 2);
  }

  // Each file alone gives its own exact answer.
  void ExpectWholeFileAnswers() {
    ASSERT_GT(files_[0].size(), 1400u * 1024);
    ASSERT_NE(files_[0].find("Version\"=\"5.60\""),
              files_[1].find("Version\"=\"6.10\""));
    WriteRegistry(files_[0]);
    ExpectRun(Tarvex(kCheck), Found560Less(), 0);
    WriteRegistry(files_[1]);
    ExpectRun(Tarvex(kCheck), Installed("6.10") + Specified("6.0") + kNotLess,
              2);
  }

  // Runs kCheck over and over while a writer changes system.reg, and counts
  // what the checks answered. The writer is a process, not a thread: each run
  // of the program forks, which is unsafe beside a second thread.
  Counts CheckWhileWriting(Mode mode) {
    struct Shared {
      std::atomic<long> changes{0};
      std::atomic<bool> stop{false};
    };
    // Shared between processes, which only lock-free atomics can be.
    static_assert(std::atomic<long>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free);
    Counts counts;
    WriteRegistry(files_[0]);
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
      ADD_FAILURE() << "cannot map memory to share with the writer";
      return counts;
    }
    Shared* shared = new (memory) Shared;
    const std::string temp = reg_ + ".new";
    const pid_t writer = fork();
    if (writer == 0) {
      // Never outlives the test, even when the test dies.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      std::minstd_rand rest(3);
      const auto deadline =
          std::chrono::steady_clock::now() + std::chrono::minutes(2);
      for (std::size_t i = 1;
           !shared->stop && std::chrono::steady_clock::now() < deadline; ++i) {
        const std::string& bytes = files_[i % 2];
        const bool written = mode == Mode::kRename
                                 ? WriteInPieces(temp, bytes, bytes.size()) &&
                                       rename(temp.c_str(), reg_.c_str()) == 0
                                 : WriteInPieces(reg_, bytes, 4096);
        if (!written) _exit(1);
        ++shared->changes;
        // A tool that rewrites the file now and then leaves it whole for a
        // while, so that checks also start on a whole file and see it change
        // between the lookup of the key and the read of its value.
        if (mode == Mode::kInPlace)
          usleep(static_cast<useconds_t>(rest() % 10000));
      }
      _exit(0);
    }
    if (writer < 0) {
      ADD_FAILURE() << "cannot start the writer";
    } else {
      // The checks start once the writer is at work.
      for (int i = 0; i < 1000 && shared->changes == 0; ++i) usleep(1000);
      const auto start = std::chrono::steady_clock::now();
      while (counts.faults < kMaxFaults &&
             (counts.checks < kMinChecks ||
              (counts.checks < kMaxChecks &&
               std::chrono::steady_clock::now() - start < kMaxTime))) {
        const long before = shared->changes;
        const RunResult run = Tarvex(kCheck);
        const long after = shared->changes;
        ++counts.checks;
        counts.changes += after - before;
        if (after > before) ++counts.raced;
        std::string answer;
        if (NameAnswer(run, &answer)) {
          ++counts.answers[answer];
        } else {
          ++counts.faults;
          ADD_FAILURE() << "check " << counts.checks << " gave "
                        << Describe(run);
        }
      }
      shared->stop = true;
      int status = 0;
      EXPECT_EQ(waitpid(writer, &status, 0), writer);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "the writer failed to write " << reg_;
    }
    std::printf(
        "%s: %d checks, %d raced by the writer, %ld changes while they ran\n",
        mode == Mode::kRename ? "rename" : "in place", counts.checks,
        counts.raced, counts.changes);
    for (const auto& [answer, count] : counts.answers) {
      std::printf("  %5d %s\n", count, answer.c_str());
    }
    std::printf("  %5d none of the program's answers\n", counts.faults);
    shared->~Shared();
    munmap(memory, sizeof(Shared));
    return counts;
  }

  // Checks that never raced the writer would prove nothing: the writer must
  // have changed the file more than a few times while checks ran, and during
  // most of the checks.
  static void ExpectRaced(const Counts& counts) {
    EXPECT_GE(counts.changes, 20);
    EXPECT_GE(counts.raced, counts.checks / 2);
  }

  std::string files_[2];
};

TEST_F(RewriteTest, ARegistryReplacedByRenameGivesOneWholeFilesAnswer) {
  ASSERT_NO_FATAL_FAILURE(ExpectWholeFileAnswers());
  Counts counts = CheckWhileWriting(Mode::kRename);
  ExpectRaced(counts);
  EXPECT_EQ(counts.faults, 0);
  // Each names the exact output and exit code of one whole file.
  const int whole =
      counts.answers["version 5.60"] + counts.answers["version 6.10"];
  EXPECT_EQ(whole, counts.checks) << "a check saw neither whole file";
  EXPECT_GT(counts.answers["version 5.60"], 0);
  EXPECT_GT(counts.answers["version 6.10"], 0);
}

TEST_F(RewriteTest, ARegistryRewrittenInPlaceGivesOnlyTheProgramsAnswers) {
  ASSERT_NO_FATAL_FAILURE(ExpectWholeFileAnswers());
  Counts counts = CheckWhileWriting(Mode::kInPlace);
  ExpectRaced(counts);
  EXPECT_EQ(counts.faults, 0);
  // A read torn between the two files, or cut short, may give another of the
  // program's answers: counted, not forbidden.
  const int whole =
      counts.answers["version 5.60"] + counts.answers["version 6.10"];
  std::printf("  %5d torn or cut short (neither whole file's answer)\n",
              counts.checks - whole - counts.faults);
}

}  // namespace
