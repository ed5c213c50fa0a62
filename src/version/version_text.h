// Reading of version text such as "5.60" into numbers.
#ifndef TARVEX_VERSION_VERSION_TEXT_H_
#define TARVEX_VERSION_VERSION_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

// Reads up to `count` numbers separated by "." from the start of `text`, the
// way the pattern "%d.%d" (count 2) or "%d.%d.%d" (count 3) reads them, and
// returns how many were read. A number is optional white space (0x09 to 0x0D,
// 0x20), at most one sign directly followed by digits, and decimal digits that
// wrap at 32 bits. A "." must follow the previous number directly. Reading
// stops at the first byte that does not fit; the rest is ignored.
int ReadVersionNumbers(std::string_view text, int count,
                       std::int32_t numbers[]);

// Writes a version pair the way messages show it: "5.60", "-1.0".
std::string FormatVersion(std::int32_t major, std::int32_t minor);

#endif  // TARVEX_VERSION_VERSION_TEXT_H_
