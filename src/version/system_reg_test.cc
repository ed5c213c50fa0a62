// Tests of reading system.reg: finding the key as a 32-bit program does and
// returning the value as RegQueryValueExA does, over small registry files.
#include "version/system_reg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "version/registry.h"

namespace {

constexpr char kZolpPath[] =
    "SOFTWARE\\Brek Computer Corporation\\BrekZOLP\\CurrentVersion";
constexpr char kHead[] = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n";
constexpr char kWin32Key[] =
    "[Software\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion] 1700000000\n";
constexpr char kWin64Key[] =
    "[Software\\\\Wow6432Node\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion] 1700000000\n";

// A registry file in memory that hands out at most `chunk` bytes a read, so
// every block boundary the reader can meet is met.
class StringFile : public RegistryFile {
 public:
  StringFile(std::string bytes, std::size_t chunk)
      : bytes_(std::move(bytes)), chunk_(chunk) {}
  long ReadAt(std::uint64_t offset, char* buffer,
              std::size_t capacity) override {
    if (fail_from_ <= offset) return -1;
    if (offset >= bytes_.size()) return 0;
    const std::size_t count =
        std::min({capacity, chunk_, bytes_.size() - static_cast<std::size_t>(offset)});
    std::memcpy(buffer, bytes_.data() + offset, count);
    return static_cast<long>(count);
  }
  std::uint64_t fail_from_ = ~std::uint64_t{0};

 private:
  std::string bytes_;
  std::size_t chunk_;
};

struct Result {
  long open = -1;
  long query = -1;
  std::string data;  // What the query returned.
  bool operator==(const Result& other) const {
    return open == other.open && query == other.query && data == other.data;
  }
};

std::ostream& operator<<(std::ostream& os, const Result& r) {
  os << "open " << r.open << " query " << r.query << " data \"";
  for (const char c : r.data) {
    if (c >= 0x20 && c < 0x7f) {
      os << c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
      os << hex;
    }
  }
  return os << "\"";
}

Result Lookup(StringFile& file, const char* value = "Version") {
  Result result;
  RegistryFileKey key;
  result.open = OpenRegistryFileKey(file, kZolpPath, &key);
  if (result.open != kRegistrySuccess) return result;
  unsigned char buffer[260];
  std::uint32_t size = sizeof buffer;
  result.query = QueryRegistryFileValue(file, key, value, buffer, &size);
  if (result.query == kRegistrySuccess) {
    result.data.assign(reinterpret_cast<const char*>(buffer), size);
  }
  return result;
}

// Looks the value up with several block sizes; they must all agree.
Result Lookup(const std::string& text, const char* value = "Version") {
  StringFile whole(text, ~std::size_t{0});
  const Result result = Lookup(whole, value);
  for (const std::size_t chunk : {1, 2, 3, 7, 4096}) {
    StringFile pieces(text, chunk);
    EXPECT_EQ(Lookup(pieces, value), result) << "read " << chunk << " bytes at a time";
  }
  return result;
}

Result Found(const std::string& data) { return {0, 0, data}; }
const Result kNoKey = {kRegistryNotFound, -1, ""};
const Result kNoValue = {0, kRegistryNotFound, ""};
const Result kTooLong = {0, kRegistryMoreData, ""};

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

struct Case {
  const char* what;
  std::string file;
  Result expected;
};

void Check(const Case& c) {
  SCOPED_TRACE(c.what);
  EXPECT_EQ(Lookup(c.file), c.expected);
}

TEST(SystemRegTest, FindsTheKeyInTheViewOfA32BitProgram) {
  const std::string value = "\"Version\"=\"5.60\"\n";
  const Case kCases[] = {
      {"win32 prefix: the path as it is", kHead + std::string(kWin32Key) + value,
       Found(std::string("5.60\0", 5))},
      {"win64 prefix: below Wow6432Node",
       kHead + std::string("[Software\\\\Wow6432Node\\\\Classes] 1\n") + kWin64Key + value,
       Found(std::string("5.60\0", 5))},
      {"win64 prefix, key only in the 64-bit view: no fallback",
       kHead + std::string("[Software\\\\Wow6432Node\\\\Classes] 1\n") + kWin32Key + value,
       kNoKey},
      {"both views: the 32-bit one",
       kHead + std::string(kWin32Key) + "\"Version\"=\"9.99\"\n" + kWin64Key + value,
       Found(std::string("5.60\0", 5))},
      {"Wow6432Node deeper in the path",
       kHead + std::string("[Software\\\\Brek Computer Corporation\\\\Wow6432Node\\\\BrekZOLP\\\\CurrentVersion]\n") + value,
       Found(std::string("5.60\0", 5))},
      {"Wow6432Node below the last name is entered too",
       kHead + std::string(kWin32Key) + value +
           "[Software\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion\\\\Wow6432Node]\n\"Version\"=\"1.1\"\n",
       Found(std::string("1.1\0", 4))},
      {"no redirection below a Wow6432Node",
       kHead + std::string(kWin64Key) + value +
           "[Software\\\\Wow6432Node\\\\Brek Computer Corporation\\\\Wow6432Node\\\\BrekZOLP\\\\CurrentVersion]\n\"Version\"=\"9.9\"\n",
       Found(std::string("5.60\0", 5))},
      {"names in any letter case",
       kHead + std::string("[sOFTWARE\\\\wow6432node\\\\BREK COMPUTER CORPORATION\\\\brekzolp\\\\currentVERSION]\n\"vERSION\"=\"5.60\"\n"),
       Found(std::string("5.60\0", 5))},
      {"names with escapes",
       kHead + std::string("[\\x53oftware\\x5c\\Brek\\040Computer Corporation\\\\BrekZOLP\\\\CurrentVersion]\n\"\\Version\"=\"5.60\"\n"),
       Found(std::string("5.60\0", 5))},
      {"empty elements are skipped",
       kHead + std::string("[\\\\Software\\\\\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion\\\\]\n") + value,
       Found(std::string("5.60\0", 5))},
      {"a key with only subkeys exists but has no values",
       kHead + std::string("[Software\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion\\\\Sub] 1\n") + value,
       kNoValue},
      {"a parent alone is not the key",
       kHead + std::string("[Software\\\\Brek Computer Corporation\\\\BrekZOLP] 1\n") + value,
       kNoKey},
      {"a longer name is another key",
       kHead + std::string("[Software\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersions]\n") + value,
       kNoKey},
      {"a section name without its \"]\" makes no key",
       kHead + std::string("[Software\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion 1\n") + value,
       kNoKey},
      {"an unclosed section below Wow6432Node does not make that view",
       kHead + std::string("[Software\\\\Wow6432Node\\\\Classes\n") + kWin32Key + value,
       Found(std::string("5.60\0", 5))},
      {"a NUL in a section name spoils it",
       kHead + std::string("[Software\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion\0]\n", 65) + value,
       kNoKey},
      {"the key missing", kHead + std::string("[Software\\\\Other] 1\n") + value, kNoKey},
      {"no registry: wrong first line",
       "WINE REGISTRY Version 1\n" + std::string(kWin32Key) + value, kNoKey},
      {"no registry: empty file", "", kNoKey},
      {"no registry: a first line that only starts right",
       "WINE REGISTRY Version 2x\n" + std::string(kWin32Key) + value, kNoKey},
      {"CR LF line ends",
       "WINE REGISTRY Version 2\r\n\r\n[Software\\\\Brek Computer Corporation\\\\BrekZOLP\\\\CurrentVersion] 1\r\n#time=1d\r\n\"Version\"=\"5.60\"\r\n",
       Found(std::string("5.60\0", 5))},
      {"a \"[\" inside a line starts no section",
       kHead + std::string(kWin32Key) + "\"A\"=\"[x]\"\n; [Software]\nx [Software]\n" + value,
       Found(std::string("5.60\0", 5))},
      {"but one after blanks does",
       kHead + std::string(kWin32Key) + "\"A\"=\"x\"\n \t\v\f\r[Software]\n" + value, kNoValue},
      {"blanks before value and option lines",
       kHead + std::string(kWin64Key) + " \t\"Version\"=\"5.60\"\n",
       Found(std::string("5.60\0", 5))},
      {"a section line carried over into by a hex list is none",
       kHead + std::string("[Software\\\\Other]\n\"x\"=hex:35,\\\n") + kWin32Key + value,
       kNoKey},
      {"the same where the section before is read",
       kHead + std::string(kWin32Key) + "\"Version\"=\"1.0\"\n\"x\"=hex:35,\\ ignored\n" +
           "[Software\\\\Other]\n" + value,
       Found(std::string("5.60\0", 5))},
      {"a list that ended before the section line",
       kHead + std::string("[Software\\\\Other]\n\"x\"=hex:35,\\\n36\n") + kWin32Key + value,
       Found(std::string("5.60\0", 5))},
      {"a line with a \\ that carries nothing over",
       kHead + std::string("[Software\\\\Other]\n\"x\"=\"a\\\\\"\n;\\\n") + kWin32Key + value,
       Found(std::string("5.60\0", 5))},
      {"values of a section that is no key carry nothing over",
       kHead + std::string("[Software\\\\Other\n\"x\"=hex:35,\\\n") + kWin32Key + value,
       Found(std::string("5.60\0", 5))},
      {"sections taken in one after another",
       kHead + std::string("[Software\\\\Other]\n\"x\"=hex:35,\\\n[A]\n\"y\"=hex:36,\\\n[B]\n") +
           "\"Version\"=\"9.9\"\n\"z\"=hex:37,\\\n  38,\\\n" + kWin32Key + value,
       kNoKey},
      {"and the first section after them",
       kHead + std::string("[Software\\\\Other]\n\"x\"=hex:35,\\\n[A]\n\"y\"=hex:36,\\\n[B]\n\n") +
           kWin32Key + value,
       Found(std::string("5.60\0", 5))},
      // After the first line below Software, the ones that start as it does are
      // passed over unread.
      {"sections passed over for their known start, then one that carries over",
       kHead + std::string("[Software\\\\Other0]\n\n[Software\\\\Other]\n\"x\"=hex:35,\\\n") +
           "[Software\\\\Other2]\n\n" +
           "[Software\\\\Other3]\n\n[Software\\\\Other4]\n\"y\"=hex:36,\\\n" + kWin32Key + value,
       kNoKey},
      {"the same where the last one passed over is no key",
       kHead + std::string("[Software\\\\Other0]\n\n[Software\\\\Other]\n\"x\"=hex:35,\\\n") +
           "[Software\\\\Other2]\n\n" +
           "[Software\\\\Other3]\n\n[Software\\\\Other4\n\"y\"=hex:36,\\\n" + kWin32Key + value,
       Found(std::string("5.60\0", 5))},
      {"a line with a known start that a value takes in is no section",
       kHead + std::string("[Software\\\\Other0]\n\n[Software\\\\Other]\n\"x\"=hex:35,\\\n") +
           "[Software\\\\Other5\n\"y\"=hex:36,\\\n" + kWin32Key + value,
       kNoKey},
      {"sections passed over after one that was read",
       kHead + std::string("[Software\\\\Other0]\n\n[Software\\\\Other]\n\n[Software]\n\"v\"=\"1\"\n\n") +
           "[Software\\\\Other3]\n\n[Software\\\\Other4]\n\"y\"=hex:36,\\\n" + kWin32Key + value,
       kNoKey},
      {"nor do values before any section",
       kHead + std::string("\"x\"=hex:35,\\\n") + kWin32Key + value,
       Found(std::string("5.60\0", 5))},
  };
  for (const Case& c : kCases) Check(c);
}

// Paths other than ZOLP's, as a 32-bit program may ask for them.
TEST(SystemRegTest, RedirectsEachPathAsAProgramAsksForIt) {
  struct PathCase {
    const char* what;
    const char* path;
    long open;
    long query;
  };
  const std::string text = kHead + std::string(
      "[A\\\\Wow6432Node\\\\B] 1\n\"Version\"=\"A/W/B\"\n"
      "[A\\\\Wow6432Node\\\\Wow6432Node\\\\B] 1\n\"Version\"=\"A/W/W/B\"\n"
      "[Caf\\xe9\\\\Vers\\x131on] 1\n\"Version\"=\"ı\"\n"
      "[L] 1\n#link\n\"SymbolicLinkValue\"=hex(6):") +
      Utf16Hex("\\Registry\\Machine") + "\n";
  const PathCase kCases[] = {
      {"redirected once", "A\\B", 0, 0},
      {"Wow6432Node named in the path is not redirected again", "A\\Wow6432Node\\B", 0, 0},
      {"the twice-nested one only when named", "A\\Wow6432Node\\Wow6432Node\\B", 0, 0},
      {"Wow6432Node itself", "A\\Wow6432Node", 0, kRegistryNotFound},
      {"a link to HKEY_LOCAL_MACHINE", "L", 0, kRegistryNotFound},
      {"and on from there", "L\\A\\B", 0, 0},
      {"a name beyond ASCII in another case, by Wine's table", "CAF\xc9", 0, kRegistryNotFound},
      {"where dotless i is no I", "Caf\xe9\\Version", kRegistryNotFound, -1},
  };
  const std::string kData[] = {"A/W/B", "A/W/B", "A/W/W/B", "", "", "A/W/B", "", ""};
  for (std::size_t i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    const PathCase& c = kCases[i];
    SCOPED_TRACE(c.what);
    StringFile file(text, 5);
    RegistryFileKey key;
    ASSERT_EQ(OpenRegistryFileKey(file, c.path, &key), c.open);
    if (c.open != 0) continue;
    unsigned char buffer[260];
    std::uint32_t size = sizeof buffer;
    EXPECT_EQ(QueryRegistryFileValue(file, key, "Version", buffer, &size), c.query);
    if (c.query == 0) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), size),
                kData[i] + std::string(1, '\0'));
    }
  }
}

TEST(SystemRegTest, MergesRepeatedSectionsAndTheLastValueWins) {
  const Case kCases[] = {
      {"repeated in another letter case",
       kHead + std::string(kWin32Key) + "\"Version\"=\"1.0\"\n\"Other\"=\"x\"\n" +
           "[Software\\\\Other]\n\"Version\"=\"7.7\"\n" +
           "[SOFTWARE\\\\BREK COMPUTER CORPORATION\\\\BREKZOLP\\\\CURRENTVERSION]\n\"VERSION\"=\"5.60\"\n",
       Found(std::string("5.60\0", 5))},
      {"a later section without the value keeps it",
       kHead + std::string(kWin32Key) + "\"Version\"=\"5.60\"\n" + kWin32Key + "\"Other\"=\"x\"\n",
       Found(std::string("5.60\0", 5))},
      {"the same value twice in a section",
       kHead + std::string(kWin32Key) + "\"Version\"=\"1.0\"\n\"Version\"=\"5.60\"\n",
       Found(std::string("5.60\0", 5))},
      {"a malformed later line replaces it with no data",
       kHead + std::string(kWin32Key) + "\"Version\"=\"5.60\"\n\"Version\"=nonsense\n",
       Found("")},
  };
  for (const Case& c : kCases) Check(c);
}

TEST(SystemRegTest, ReturnsTheDataTheWayTheNarrowQueryDoes) {
  const std::string key = kHead + std::string(kWin32Key) + "#time=1d9\n; a comment\n\n";
  const std::string s259(259, '7');
  const Case kCases[] = {
      {"REG_SZ", key + "\"Version\"=\"5.60\"\n", Found(std::string("5.60\0", 5))},
      {"empty REG_SZ", key + "\"Version\"=\"\"\n", Found(std::string("\0", 1))},
      {"REG_SZ with trailing words", key + "\"Version\"=\" 5.60 beta\" junk\n",
       Found(std::string(" 5.60 beta\0", 11))},
      {"REG_EXPAND_SZ, not expanded", key + "\"Version\"=str(2):\"%V%5.60\"\n",
       Found(std::string("%V%5.60\0", 8))},
      {"REG_MULTI_SZ", key + "\"Version\"=str(7):\"5.60\\0x\\0\"\n",
       Found(std::string("5.60\0x\0\0", 8))},
      {"escapes", key + "\"Version\"=\"\\x35\\x2e\\066\\60\\q\\\\\\\"\\t\\x4142\"\n",
       Found(std::string("5.60q\\\"\t?\0", 10))},
      {"non-ASCII units narrow to code page 1252",
       key + "\"Version\"=\"5.60\\xe9\\x4e2d\\x20ac\"\n",
       Found(std::string("5.60\xe9?\x80\0", 8))},
      {"full-width digits by best fit", key + "\"Version\"=\"\\xff15.\\xff16\\xff10\"\n",
       Found(std::string("5.60\0", 5))},
      {"raw UTF-8", key + "\"Version\"=\"5.60\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\"\n",
       Found(std::string("5.60\xe9???\0", 9))},
      {"invalid UTF-8 is dropped", key + "\"Version\"=\"5.60\xff\xc3\"\n",
       Found(std::string("5.60\0", 5))},
      {"a broken sequence is dropped up to the byte that broke it",
       key + "\"Version\"=\"\xe4\xb8" "5\xc3.60\x80\xed\xa0\x80\"\n",
       Found(std::string("5.60\0", 5))},
      {"259 characters fit", key + "\"Version\"=\"" + s259 + "\"\n",
       Found(s259 + std::string("\0", 1))},
      {"260 characters do not", key + "\"Version\"=\"" + s259 + "7\"\n", kTooLong},
      {"a long string is counted to its end",
       key + "\"Version\"=\"" + std::string(100000, '5') + "\"\n", kTooLong},
      {"REG_BINARY", key + "\"Version\"=hex:35,2e,36,30\n", Found("5.60")},
      {"REG_BINARY with odd spacing", key + "\"Version\"=hex:35 ,2e,36 30,\n",
       Found("5.60")},
      {"empty REG_BINARY", key + "\"Version\"=hex:\n", Found("")},
      {"hex(1) is UTF-16 text", key + "\"Version\"=hex(1):" + Utf16Hex("5.60") + ",00,00\n",
       Found(std::string("5.60\0", 5))},
      {"hex(1) without its NUL", key + "\"Version\"=hex(1):" + Utf16Hex("5.60") + "\n",
       Found("5.60")},
      {"hex(2) of odd length", key + "\"Version\"=hex(2):" + Utf16Hex("5.60") + ",35\n",
       Found("5.60")},
      {"hex(7)", key + "\"Version\"=hex(7):" + Utf16Hex("5.60") + ",00,00,00,00\n",
       Found(std::string("5.60\0\0", 6))},
      {"hex(1) non-ASCII", key + "\"Version\"=hex(1):e9,00,35,00,00,4e\n", Found("\xe9" "5?")},
      {"hex list over three lines",
       key + "\"Version\"=hex:35,\\\n  2e,36,\\\r\n\t30\n\"Other\"=\"x\"\n", Found("5.60")},
      {"a line after the list's \\ is part of it",
       key + "\"Version\"=hex:35,\\\n\"Version\"=\"9.9\"\n", Found("")},
      {"but a section line is not",
       key + "\"Version\"=hex:35,\\\n" + kWin32Key + "\"Other\"=\"x\"\n", Found("")},
      {"260 hex bytes fit", key + "\"Version\"=hex:" + [] {
         std::string h = "35";
         for (int i = 1; i < 260; ++i) h += ",30";
         return h;
       }() + "\n",
       Found("5" + std::string(259, '0'))},
      {"261 hex bytes do not", key + "\"Version\"=hex:" + [] {
         std::string h = "35";
         for (int i = 1; i < 261; ++i) h += ",30";
         return h;
       }() + "\n",
       kTooLong},
      {"REG_DWORD, little-endian", key + "\"Version\"=dword:00302e35\n",
       Found(std::string("5.0\0", 4))},
      {"REG_DWORD, short", key + "\"Version\"=dword:5\n", Found(std::string("\x05\0\0\0", 4))},
      {"REG_QWORD", key + "\"Version\"=hex(b):35,2e,36,30,00,00,00,00\n",
       Found(std::string("5.60\0\0\0\0", 8))},
      {"unknown type number keeps its bytes", key + "\"Version\"=hex(100):35\n", Found("5")},
      {"garbage data", key + "\"Version\"=garbage\n", Found("")},
      {"unreadable dword digits are 0", key + "\"Version\"=dword:zz\n",
       Found(std::string(4, '\0'))},
      {"dword digits beyond 32 bits", key + "\"Version\"=dword:0000000100\n",
       Found(std::string("\0\x01\0\0", 4))},
      {"str() of a type without that form", key + "\"Version\"=str(1):\"5.60\"\n",
       Found("")},
      {"hex byte too large", key + "\"Version\"=hex:35,100\n", Found("")},
      {"unterminated string", key + "\"Version\"=\"5.60\n", Found("")},
      {"NUL inside the string", key + std::string("\"Version\"=\"5.6\0\"\n", 17), Found("")},
      {"no = sign makes no value", key + "\"Version\" \"5.60\"\n", kNoValue},
      {"blanks around =", key + "\"Version\" \t= \t\"5.60\"\n", Found(std::string("5.60\0", 5))},
      {"any blanks around =", key + "\"Version\"\r\v=\f\"5.60\"\n", Found(std::string("5.60\0", 5))},
      {"str: is REG_SZ", key + "\"Version\"=str:\"5.60\"\n", Found(std::string("5.60\0", 5))},
      {"str() spelled otherwise", key + "\"Version\"=str(02):\"5.60\"\n", Found("")},
      {"hex() is type 0", key + "\"Version\"=hex():35\n", Found("5")},
      {"hex() numbers as strtoul reads them", key + "\"Version\"=hex( +0x2):" + Utf16Hex("5.6") + "\n",
       Found("5.6")},
      {"hex() with a sign and no digit", key + "\"Version\"=hex(-):35\n", Found("")},
      {"hex(0x) is no type", key + "\"Version\"=hex(0x):35\n", Found("")},
      {"dword with 0x and spaces", key + "\"Version\"=dword: 0x35\n", Found(std::string("5\0\0\0", 4))},
      {"negative dword", key + "\"Version\"=dword:-1\n", Found(std::string(4, '\xff'))},
      {"hex bytes with 0x", key + "\"Version\"=hex:0x35,2e\n", Found("5.")},
      {"hex bytes read as 32-bit numbers", key + "\"Version\"=hex:100000035\n", Found("5")},
      {"a hex byte 0x without digits", key + "\"Version\"=hex:0x,35\n", Found("")},
      {"a hex list whose \\ ends the file", key + "\"Version\"=hex:35,\\\n", Found("")},
      {"the default value is another value", key + "@=\"5.60\"\n", kNoValue},
      {"a name that never ends makes no value", key + "\"Version=\"5.60\n", kNoValue},
      {"a value line without a key", kHead + std::string("\"Version\"=\"5.60\"\n"), kNoKey},
  };
  for (const Case& c : kCases) Check(c);
}

// A value line that ends before its data does must not take in the line after
// it, least of all a section line: only a hex list goes on past a line end.
TEST(SystemRegTest, AValueLineCutShortLeavesTheNextLineAlone) {
  struct CutCase {
    const char* line;  // Up to its line end.
    std::string data;  // What the key's value then holds.
  };
  const CutCase kCuts[] = {
      {"\"Version\"=", ""},         {"\"Version\"=s", ""},
      {"\"Version\"=str", ""},      {"\"Version\"=str(", ""},
      {"\"Version\"=str(2", ""},    {"\"Version\"=str(7)", ""},
      {"\"Version\"=str(2):", ""},  {"\"Version\"=str:", ""},
      {"\"Version\"=\"5.6", ""},     {"\"Version\"=\"5.6\\", ""},
      {"\"Version\"=hex(", ""},     {"\"Version\"=hex(2", ""},
      {"\"Version\"=hex(2)", ""},   {"\"Version\"=hex", ""},
      {"\"Version\"=dword:", std::string(4, '\0')},
      {"\"Version\"=dword", ""},
  };
  const std::string value = "\"Version\"=\"5.60\"\n";
  for (const CutCase& cut : kCuts) {
    SCOPED_TRACE(cut.line);
    // Read only to tell whether the section line after it is one.
    EXPECT_EQ(Lookup(kHead + std::string("[Software\\\\Other]\n") + cut.line + "\n" +
                     kWin32Key + value),
              Found(std::string("5.60\0", 5)));
    // Read as the key's own values: the next section's are not the key's.
    EXPECT_EQ(Lookup(kHead + std::string(kWin32Key) + cut.line + "\n[Software\\\\Other]\n" +
                     "\"Version\"=\"9.9\"\n"),
              Found(cut.data));
  }
}

TEST(SystemRegTest, FollowsLinks) {
  const std::string link_to_64bit =
      "[Software\\\\Wow6432Node\\\\Brek Computer Corporation] 1\n#link\n"
      "\"SymbolicLinkValue\"=hex(6):" +
      Utf16Hex("\\Registry\\Machine\\Software\\Brek Computer Corporation") + "\n";
  const std::string value = "\"Version\"=\"5.60\"\n";
  const Case kCases[] = {
      {"a link in the 32-bit view to the 64-bit key",
       kHead + link_to_64bit + kWin32Key + value, Found(std::string("5.60\0", 5))},
      {"a link as the key itself",
       kHead + std::string(kWin64Key) + "#link\n\"SymbolicLinkValue\"=hex(6):" +
           Utf16Hex("\\REGISTRY\\MACHINE\\Software\\Target") + "\n[Software\\\\Target]\n" + value,
       Found(std::string("5.60\0", 5))},
      {"links in a chain",
       kHead + std::string("[Software\\\\A]\n#link\n\"SymbolicLinkValue\"=hex(6):") +
           Utf16Hex("\\Registry\\Machine\\Software\\B") + "\n[Software\\\\B]\n#link\n" +
           "\"SymbolicLinkValue\"=hex(6):" + Utf16Hex("\\Registry\\Machine\\Software\\C") +
           "\n[Software\\\\C\\\\BrekZOLP\\\\CurrentVersion]\n" +
           value + "[Software\\\\Wow6432Node\\\\Brek Computer Corporation]\n#link\n" +
           "\"SymbolicLinkValue\"=hex(6):" + Utf16Hex("\\Registry\\Machine\\Software\\A") + "\n",
       Found(std::string("5.60\0", 5))},
      {"a link to a missing key", kHead + link_to_64bit, kNoKey},
      {"a link that names itself",
       kHead + std::string("[Software\\\\Wow6432Node\\\\Brek Computer Corporation]\n#link\n") +
           "\"SymbolicLinkValue\"=hex(6):" +
           Utf16Hex("\\Registry\\Machine\\Software\\Wow6432Node\\Brek Computer Corporation") + "\n",
       kNoKey},
      {"a link outside the machine's registry",
       kHead + std::string("[Software\\\\Wow6432Node\\\\Brek Computer Corporation]\n#link\n") +
           "\"SymbolicLinkValue\"=hex(6):" + Utf16Hex("\\Registry\\User\\Brek") + "\n" +
           kWin32Key + value,
       kNoKey},
      {"a link value of another type is read as UTF-16 all the same",
       kHead + std::string("[Software\\\\Wow6432Node\\\\Brek Computer Corporation] 1\n #linked\n"
                           "\"SymbolicLinkValue\"=hex(1):") +
           Utf16Hex("\\REGISTRY\\machine\\\\Software\\Brek Computer Corporation") + "\n" +
           kWin32Key + value,
       Found(std::string("5.60\0", 5))},
      {"a link with a Wow6432Node child is redirected, not followed",
       kHead + std::string("[Software\\\\Brek Computer Corporation]\n#link\n\"SymbolicLinkValue\"=hex(6):") +
           Utf16Hex("\\Registry\\Machine\\Software\\Target") +
           "\n[Software\\\\Target\\\\BrekZOLP\\\\CurrentVersion]\n\"Version\"=\"9.9\"\n" +
           "[Software\\\\Brek Computer Corporation\\\\Wow6432Node\\\\BrekZOLP\\\\CurrentVersion]\n" +
           value,
       Found(std::string("5.60\0", 5))},
      {"a link whose root is spelled with two separators",
       kHead + std::string("[Software\\\\Wow6432Node\\\\Brek Computer Corporation]\n#link\n") +
           "\"SymbolicLinkValue\"=hex(6):" + Utf16Hex("\\Registry\\\\Machine\\Software\\Brek Computer Corporation") +
           "\n" + kWin32Key + value,
       kNoKey},
      {"a link to another root",
       kHead + std::string("[Software\\\\Wow6432Node\\\\Brek Computer Corporation]\n#link\n") +
           "\"SymbolicLinkValue\"=hex(6):" + Utf16Hex("\\Registry\\Users\\Software\\Brek Computer Corporation") +
           "\n" + kWin32Key + value,
       kNoKey},
      {"a link value with its NUL",
       kHead + std::string("[Software\\\\Wow6432Node\\\\Brek Computer Corporation]\n#link\n") +
           "\"SymbolicLinkValue\"=\"\\\\Registry\\\\Machine\\\\Software\\\\Brek Computer Corporation\"\n" +
           kWin32Key + value,
       kNoKey},
      {"SymbolicLinkValue without #link is an ordinary value",
       kHead + std::string("[Software\\\\Wow6432Node\\\\Brek Computer Corporation]\n") +
           "\"SymbolicLinkValue\"=hex(6):" + Utf16Hex("\\Registry\\Machine\\Software\\X") + "\n" +
           kWin64Key + value,
       Found(std::string("5.60\0", 5))},
  };
  for (const Case& c : kCases) Check(c);
}

TEST(SystemRegTest, AReadErrorIsNoRegistry) {
  const std::string text = kHead + std::string(kWin32Key) + "\"Version\"=\"5.60\"\n";
  for (const std::uint64_t fail_from : {std::uint64_t{0}, std::uint64_t{30}}) {
    StringFile file(text, 16);
    file.fail_from_ = fail_from;
    EXPECT_EQ(Lookup(file), kNoKey) << "failing from byte " << fail_from;
  }
}

TEST(SystemRegTest, ALongPathAndALongLineAreReadThrough) {
  std::string deep = "[Software\\\\Wow6432Node";
  for (int i = 0; i < 100000; ++i) deep += "\\\\a";
  deep += "]\n\"x\"=hex:" + std::string(3000000, '0') + "\n";
  EXPECT_EQ(Lookup(kHead + deep + kWin64Key + "\"Version\"=\"5.60\"\n"),
            Found(std::string("5.60\0", 5)));
}

// A path of `depth` levels that a link from the 32-bit view of Brek Computer
// Corporation leads to, with ZOLP's key at its end.
std::string LinkToDepth(std::size_t depth) {
  std::string target = "\\Registry\\Machine\\D", section = "[D";
  for (std::size_t level = 3; level < depth; ++level) {
    target += "\\a";
    section += "\\\\a";
  }
  return kHead +
         std::string("[Software\\\\Wow6432Node\\\\Brek Computer Corporation]\n#link\n") +
         "\"SymbolicLinkValue\"=hex(6):" + Utf16Hex(target) + "\n" + section +
         "\\\\BrekZOLP\\\\CurrentVersion]\n\"Version\"=\"5.60\"\n";
}

TEST(SystemRegTest, AKeyLiesAtMost512LevelsDeep) {
  const Case kCases[] = {
      {"511 levels", LinkToDepth(511), Found(std::string("5.60\0", 5))},
      {"512 levels", LinkToDepth(512), Found(std::string("5.60\0", 5))},
      {"513 levels", LinkToDepth(513), kNoKey},
  };
  for (const Case& c : kCases) Check(c);
}

TEST(SystemRegTest, ChainedLinksToLongPathsEndWithoutExhaustingTheStack) {
  // Every link names a key 16,000 levels deep whose first level is the next
  // link, so each hop would add 16,000 levels to the path looked for. This
  // crashed the program by recursing once a level.
  std::string text = "WINE REGISTRY Version 2\n\n";
  for (int hop = 0; hop < 16; ++hop) {
    std::string target = "\\Registry\\Machine\\L" + std::to_string(hop + 1);
    for (int level = 1; level < 16000; ++level) target += "\\a";
    text += "[" + (hop == 0 ? std::string("Software") : "L" + std::to_string(hop)) +
            "]\n#link\n\"SymbolicLinkValue\"=hex(6):" + Utf16Hex(target) + "\n";
  }
  StringFile file(text, ~std::size_t{0});
  EXPECT_EQ(Lookup(file), kNoKey);
}

TEST(SystemRegTest, DataThatDoesNotFitTellsTheSizeItNeeds) {
  struct SizeCase {
    const char* what;
    std::string value_line;
    std::uint32_t capacity;
    long query;
    std::uint32_t size;
  };
  const SizeCase kCases[] = {
      {"string of 260 with its NUL", "\"Version\"=\"" + std::string(259, '7') + "\"", 260, 0, 260},
      {"string of 261 with its NUL", "\"Version\"=\"" + std::string(260, '7') + "\"", 260,
       kRegistryMoreData, 261},
      {"string in a small buffer", "\"Version\"=\"5.60\"", 3, kRegistryMoreData, 5},
      {"binary of 261", "\"Version\"=hex:" + std::string(261 * 3 - 1, '3'), 260, kRegistryMoreData,
       261},
      {"dword in a small buffer", "\"Version\"=dword:00000005", 2, kRegistryMoreData, 4},
  };
  for (const SizeCase& c : kCases) {
    SCOPED_TRACE(c.what);
    std::string line = c.value_line;
    if (line.find("hex:") != std::string::npos) {
      for (std::size_t i = line.find("hex:") + 4 + 2; i < line.size(); i += 3) line[i] = ',';
    }
    StringFile file(std::string(kHead) + kWin64Key + line + "\n", ~std::size_t{0});
    RegistryFileKey key;
    ASSERT_EQ(OpenRegistryFileKey(file, kZolpPath, &key), kRegistrySuccess);
    unsigned char buffer[300] = {0};
    std::uint32_t size = c.capacity;
    EXPECT_EQ(QueryRegistryFileValue(file, key, "Version", buffer, &size), c.query);
    EXPECT_EQ(size, c.size);
    if (c.query != kRegistrySuccess) {
      EXPECT_EQ(buffer[0], 0);  // Nothing stored.
    }
  }
}

}  // namespace
