// Tests of version text reading: the counts and values that decide a check.
#include "version/version_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct Case {
  const char* text;
  int count;  // Numbers asked for.
  int read;   // Numbers read.
  std::int32_t first;
  std::int32_t second;
};

TEST(ReadVersionNumbersTest, ReadsLikeTheScanPatterns) {
  constexpr Case kCases[] = {
      {"5.60", 2, 2, 5, 60},
      {"5.60", 3, 2, 5, 60},
      {"5.6.0", 3, 3, 5, 6},
      {"5.6.0", 2, 2, 5, 6},
      {"05.060", 2, 2, 5, 60},
      {"+5.60", 2, 2, 5, 60},
      {"-1.0", 2, 2, -1, 0},
      {"5.-60", 2, 2, 5, -60},
      {" \t\n\v\f\r5.60", 2, 2, 5, 60},
      {"5. 60", 2, 2, 5, 60},     // Blanks after the dot belong to the number.
      {"5.\t+60", 2, 2, 5, 60},
      {"5.60.", 3, 2, 5, 60},     // A dot with no number after it.
      {"5.60. 7", 3, 3, 5, 60},
      {"5.60.x", 3, 2, 5, 60},
      {"5.60abc", 3, 2, 5, 60},
      {"5 .60", 2, 1, 5, 0},      // No blank before the dot.
      {"5", 2, 1, 5, 0},
      {"5.", 2, 1, 5, 0},
      {"5..60", 2, 1, 5, 0},
      {"5,60", 2, 1, 5, 0},
      {"0x5.1", 2, 1, 0, 0},
      {".5", 2, 0, 0, 0},
      {"", 2, 0, 0, 0},
      {"abc", 2, 0, 0, 0},
      {"+-5.1", 2, 0, 0, 0},      // One sign only.
      {"- 5.1", 2, 0, 0, 0},      // The sign must touch the digits.
      {"5.+", 2, 1, 5, 0},
      {"\xa0" "5.60", 2, 0, 0, 0},  // Only ASCII white space is skipped.
      {"\x1c" "5.60", 2, 0, 0, 0},
      {"2147483647.-2147483648", 2, 2, 2147483647, INT32_MIN},
      {"2147483648.0", 2, 2, INT32_MIN, 0},    // Digits wrap at 32 bits.
      {"4294967301.0", 2, 2, 5, 0},            // 2^32 + 5.
      {"-4294967301.0", 2, 2, -5, 0},
      {"4294967295.-4294967295", 2, 2, -1, 1},
      {"99999999999999999999.1", 2, 2, 1661992959, 1},  // 10^20 - 1 mod 2^32.
      {"000000000000000000000000000007.1", 2, 2, 7, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\" count " +
                 std::to_string(c.count));
    std::int32_t numbers[3] = {0, 0, 0};
    EXPECT_EQ(ReadVersionNumbers(c.text, c.count, numbers), c.read);
    if (c.read >= 1) {
      EXPECT_EQ(numbers[0], c.first);
    }
    if (c.read >= 2) {
      EXPECT_EQ(numbers[1], c.second);
    }
  }
}

TEST(ReadVersionNumbersTest, StopsAtTheEndOfTheTextNotAtANul) {
  // Registry data is read up to its end; a byte past it must not count.
  const std::string text("5.6", 3);
  std::int32_t numbers[2] = {0, 0};
  EXPECT_EQ(ReadVersionNumbers(std::string_view(text.data(), 2), 2, numbers), 1);
  EXPECT_EQ(ReadVersionNumbers(text, 2, numbers), 2);
  EXPECT_EQ(numbers[1], 6);
}

TEST(FormatVersionTest, PlainDecimal) {
  EXPECT_EQ(FormatVersion(5, 60), "5.60");
  EXPECT_EQ(FormatVersion(-1, 0), "-1.0");
  EXPECT_EQ(FormatVersion(INT32_MIN, INT32_MAX), "-2147483648.2147483647");
}

}  // namespace
