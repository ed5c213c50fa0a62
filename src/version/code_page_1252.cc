// Narrowing UTF-16 text to code page 1252 through Wine's own table.
#include "version/code_page_1252.h"

#include "version/unit_table.h"

namespace {

struct Narrowing {
  char16_t unit;
  unsigned char byte;
};

// Every unit from U+0080 up that does not narrow to "?", in order.
constexpr Narrowing kNarrowings[] = {
#include "version/code_page_1252_table.inc"
};
static_assert(UnitsInOrder(kNarrowings), "the search needs the units in order");

}  // namespace

unsigned char NarrowToCodePage1252(char16_t unit) {
  if (unit < 0x80) return static_cast<unsigned char>(unit);
  const Narrowing* found = FindUnit(kNarrowings, unit);
  return found ? found->byte : '?';
}
