// The upper case of a UTF-16 unit through Wine's own table.
#include "version/upper_case.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace {

struct Upper {
  char16_t unit;
  char16_t upper;
};

// Every unit from U+0080 up whose upper case is another unit, in order.
constexpr Upper kUppers[] = {
#include "version/upper_case_table.inc"
};

constexpr bool InOrder() {
  for (std::size_t i = 1; i < std::size(kUppers); ++i) {
    if (kUppers[i - 1].unit >= kUppers[i].unit) return false;
  }
  return true;
}
static_assert(InOrder(), "the search needs the units in order");

}  // namespace

char16_t UpperCaseOfNonAscii(char16_t unit) {
  const auto* found =
      std::lower_bound(std::begin(kUppers), std::end(kUppers), unit,
                       [](const Upper& u, char16_t c) { return u.unit < c; });
  return found != std::end(kUppers) && found->unit == unit ? found->upper
                                                           : unit;
}
