// Fuzz target: version text reading must agree with sscanf where sscanf is
// defined, and with a separate 64-bit reading of the digits everywhere.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "version/version_text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A reading written separately from the product's: digits accumulate in 64
// bits (whose low 32 bits are the value modulo 2^32), then the sign applies.
int ReferenceRead(const std::string& text, int count, std::int64_t out[]) {
  std::size_t pos = 0;
  for (int read = 0; read < count; ++read) {
    if (read > 0) {
      if (pos >= text.size() || text[pos] != '.') return read;
      ++pos;
    }
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
      negative = text[pos++] == '-';
    }
    if (pos >= text.size() || !IsDigit(text[pos])) return read;
    std::uint64_t digits = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
      digits = digits * 10 + static_cast<std::uint64_t>(text[pos] - '0');
    }
    std::int64_t low = static_cast<std::int64_t>(digits & 0xffffffffu);
    if (negative) low = -low;
    // Back into the range of a 32-bit signed number, modulo 2^32.
    low = ((low % 4294967296LL) + 4294967296LL) % 4294967296LL;
    if (low >= 2147483648LL) low -= 4294967296LL;
    out[read] = low;
  }
  return count;
}

// sscanf's %d is defined only while the number fits in an int.
bool NoNumberOverNineDigits(const std::string& text) {
  int run = 0;
  for (const char c : text) {
    run = IsDigit(c) ? run + 1 : 0;
    if (run > 9) return false;
  }
  return true;
}

void Fail(const char* what) {
  std::fprintf(stderr, "mismatch: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // sscanf sees the text only up to its first NUL; so does the product here.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string text = bytes.substr(0, bytes.find('\0'));

  for (const int count : {2, 3}) {
    std::int32_t numbers[3] = {0, 0, 0};
    const int read = ReadVersionNumbers(text, count, numbers);
    std::int64_t expected[3] = {0, 0, 0};
    const int expected_read = ReferenceRead(text, count, expected);
    if (read != expected_read) Fail("count against the 64-bit reading");
    for (int i = 0; i < read; ++i) {
      if (numbers[i] != expected[i]) Fail("value against the 64-bit reading");
    }

    if (!NoNumberOverNineDigits(text)) continue;
    int scanned[3] = {0, 0, 0};
    const int scan_read =
        count == 3
            ? std::sscanf(text.c_str(), "%d.%d.%d", &scanned[0], &scanned[1],
                          &scanned[2])
            : std::sscanf(text.c_str(), "%d.%d", &scanned[0], &scanned[1]);
    // Only "all numbers read" decides; sscanf says EOF where nothing is read.
    if ((read == count) != (scan_read == count)) Fail("decision against sscanf");
    if (scan_read > 0 && read != scan_read) Fail("count against sscanf");
    for (int i = 0; i < scan_read; ++i) {
      if (numbers[i] != scanned[i]) Fail("value against sscanf");
    }
  }
  // The shown form of the two numbers reads back as the same two numbers.
  std::int32_t numbers[2];
  if (ReadVersionNumbers(text, 2, numbers) == 2) {
    std::int32_t again[2];
    if (ReadVersionNumbers(FormatVersion(numbers[0], numbers[1]), 2, again) != 2 ||
        again[0] != numbers[0] || again[1] != numbers[1]) {
      Fail("formatted version does not read back");
    }
  }
  return 0;
}
