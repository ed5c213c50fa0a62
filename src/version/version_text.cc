// Reading of version text, locale-free and with defined wrap-around.
#include "version/version_text.h"

#include <cstddef>
#include <limits>

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Maps the 32 bits of `bits` onto the signed value with the same bits, without
// relying on the implementation-defined narrowing conversion.
std::int32_t ToSigned(std::uint32_t bits) {
  constexpr std::uint32_t kSignBit = 0x80000000u;
  if (bits < kSignBit) return static_cast<std::int32_t>(bits);
  return static_cast<std::int32_t>(bits - kSignBit) +
         std::numeric_limits<std::int32_t>::min();
}

}  // namespace

int ReadVersionNumbers(std::string_view text, int count,
                       std::int32_t numbers[]) {
  std::size_t pos = 0;
  for (int read = 0; read < count; ++read) {
    if (read > 0) {
      if (pos >= text.size() || text[pos] != '.') return read;
      ++pos;
    }
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
      negative = text[pos] == '-';
      ++pos;
    }
    if (pos >= text.size() || !IsDigit(text[pos])) return read;
    std::uint32_t value = 0;  // Unsigned arithmetic wraps by definition.
    while (pos < text.size() && IsDigit(text[pos])) {
      value = value * 10u + static_cast<std::uint32_t>(text[pos] - '0');
      ++pos;
    }
    numbers[read] = ToSigned(negative ? 0u - value : value);
  }
  return count;
}

std::string FormatVersion(std::int32_t major, std::int32_t minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}
