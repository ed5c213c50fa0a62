// Tests of narrowing UTF-16 units to code page 1252 with Wine's best fit.
#include "version/code_page_1252.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(CodePage1252Test, NarrowsEachUnitAsWineDoes) {
  struct Case {
    char16_t unit;
    unsigned char byte;
  };
  constexpr Case kCases[] = {
      // ASCII, the ends of it and the NUL, as itself.
      {0x0000, 0x00}, {0x0035, '5'}, {0x003f, '?'}, {0x007f, 0x7f},
      // The high range where 1252 has the character.
      {0x20ac, 0x80}, {0x201a, 0x82}, {0x0192, 0x83}, {0x2122, 0x99},
      {0x0178, 0x9f}, {0x00a0, 0xa0}, {0x00e9, 0xe9}, {0x00ff, 0xff},
      // The five bytes 1252 leaves undefined stand for the C1 controls.
      {0x0081, 0x81}, {0x008d, 0x8d}, {0x008f, 0x8f}, {0x0090, 0x90},
      {0x009d, 0x9d},
      // The other C1 controls, whose bytes 1252 gives to other characters.
      {0x0080, '?'}, {0x0085, '?'}, {0x009f, '?'},
      // Best fit: full-width forms, digits, signs and spaces.
      {0xff15, '5'}, {0xff10, '0'}, {0xff0e, '.'}, {0x2212, '-'},
      {0x2080, '0'}, {0x2078, '8'}, {0x2003, ' '}, {0x3000, ' '},
      {0x2500, '-'}, {0x253c, '+'}, {0x0101, 'a'}, {0x0100, 'A'},
      {0xff5e, '~'}, {0x221e, '8'},  // Infinity, as Wine's table has it.
      // Holes in the best fit: superscript nine, the narrower spaces.
      {0x2079, '?'}, {0x2007, '?'}, {0x200a, '?'},
      // No mapping: CJK, surrogates alone or in a pair, the last unit.
      {0x4e2d, '?'}, {0xd800, '?'}, {0xd83d, '?'}, {0xde00, '?'},
      {0xdfff, '?'}, {0xfffd, '?'}, {0xffff, '?'}, {0x0400, '?'},
  };
  for (const Case& c : kCases) {
    char trace[16];
    std::snprintf(trace, sizeof(trace), "U+%04X", static_cast<unsigned>(c.unit));
    SCOPED_TRACE(trace);
    EXPECT_EQ(NarrowToCodePage1252(c.unit), c.byte);
  }
}

// Wine's own counts: the non-ASCII units that narrow to an ASCII byte other
// than "?", and those of them that become a digit, ".", "+", "-" or a space,
// the bytes a version number is read from.
TEST(CodePage1252Test, HasWinesBestFitToAscii) {
  int ascii = 0;
  int number = 0;
  for (unsigned unit = 0x80; unit <= 0xffff; ++unit) {
    const unsigned char byte = NarrowToCodePage1252(static_cast<char16_t>(unit));
    if (byte >= 0x80 || byte == '?') continue;
    ++ascii;
    if ((byte >= '0' && byte <= '9') || byte == '.' || byte == '+' ||
        byte == '-' || byte == ' ') {
      ++number;
    }
  }
  EXPECT_EQ(ascii, 391);
  EXPECT_EQ(number, 71);
}

}  // namespace
