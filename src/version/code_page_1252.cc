// Narrowing UTF-16 text to code page 1252 through Wine's own table.
#include "version/code_page_1252.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace {

struct Narrowing {
  char16_t unit;
  unsigned char byte;
};

// Every unit from U+0080 up that does not narrow to "?", in order.
constexpr Narrowing kNarrowings[] = {
#include "version/code_page_1252_table.inc"
};

constexpr bool InOrder() {
  for (std::size_t i = 1; i < std::size(kNarrowings); ++i) {
    if (kNarrowings[i - 1].unit >= kNarrowings[i].unit) return false;
  }
  return true;
}
static_assert(InOrder(), "the search needs the units in order");

}  // namespace

unsigned char NarrowToCodePage1252(char16_t unit) {
  if (unit < 0x80) return static_cast<unsigned char>(unit);
  const auto* found = std::lower_bound(
      std::begin(kNarrowings), std::end(kNarrowings), unit,
      [](const Narrowing& n, char16_t u) { return n.unit < u; });
  return found != std::end(kNarrowings) && found->unit == unit ? found->byte
                                                               : '?';
}
