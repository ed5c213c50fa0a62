// The upper case of a UTF-16 unit through Wine's own table.
#include "version/upper_case.h"

#include "version/unit_table.h"

namespace {

struct Upper {
  char16_t unit;
  char16_t upper;
};

// Every unit from U+0080 up whose upper case is another unit, in order.
constexpr Upper kUppers[] = {
#include "version/upper_case_table.inc"
};
static_assert(UnitsInOrder(kUppers), "the search needs the units in order");

}  // namespace

char16_t UpperCaseOfNonAscii(char16_t unit) {
  const Upper* found = FindUnit(kUppers, unit);
  return found ? found->upper : unit;
}
