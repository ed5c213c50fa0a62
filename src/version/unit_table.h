// Tables keyed by UTF-16 unit, generated from Wine's own files: arrays of
// entries with a `unit` member, in the order of the units, searched by
// halving.
#ifndef TARVEX_VERSION_UNIT_TABLE_H_
#define TARVEX_VERSION_UNIT_TABLE_H_

#include <algorithm>
#include <cstddef>
#include <iterator>

// Whether the units of `table` rise strictly, as the search needs; for a
// static_assert beside the table.
template <typename Entry, std::size_t N>
constexpr bool UnitsInOrder(const Entry (&table)[N]) {
  for (std::size_t i = 1; i < N; ++i) {
    if (table[i - 1].unit >= table[i].unit) return false;
  }
  return true;
}

// The entry of `table` for `unit`, or nullptr when it has none.
template <typename Entry, std::size_t N>
const Entry* FindUnit(const Entry (&table)[N], char16_t unit) {
  const Entry* found = std::lower_bound(
      std::begin(table), std::end(table), unit,
      [](const Entry& entry, char16_t u) { return entry.unit < u; });
  return found != std::end(table) && found->unit == unit ? found : nullptr;
}

#endif  // TARVEX_VERSION_UNIT_TABLE_H_
