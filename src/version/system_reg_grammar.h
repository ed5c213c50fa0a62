// The grammar of system.reg: escaped strings and their UTF-8, value lines and
// every form of value data, and the closing of a section line. What the lookup
// needs of a line, read from the bytes at the reader's position.
#ifndef TARVEX_VERSION_SYSTEM_REG_GRAMMAR_H_
#define TARVEX_VERSION_SYSTEM_REG_GRAMMAR_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "version/system_reg_blocks.h"
#include "version/upper_case.h"

constexpr char kSignature[] = "WINE REGISTRY Version 2";
// Value data beyond this is counted but not kept: it is far more than a
// returned value or a link target can use.
constexpr std::size_t kMaxKeptData = std::size_t{64} * 1024;
// Names longer than this cannot be a name the lookup asks for.
constexpr std::size_t kMaxKeptName = 256;

constexpr std::uint32_t kTypeSz = 1;
constexpr std::uint32_t kTypeExpandSz = 2;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;
constexpr std::uint32_t kTypeMultiSz = 7;

// Key and value names compare as Wine compares them: by the upper case of
// each unit.
inline bool EqualsFolded(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return UpperCaseOf(x) == UpperCaseOf(y);
         });
}

inline bool IsStringType(std::uint32_t type) {
  return type == kTypeSz || type == kTypeExpandSz || type == kTypeMultiSz;
}

inline void SkipSpaces(Reader& in) {
  while (IsBlank(in.Peek())) in.Next();
}

enum class Decoded { kUnits, kEnd, kBad };

// Decodes the next character of an escaped string that ends with `end`, into
// one or two UTF-16 units. The line end, a NUL byte and the end of the file
// are never part of a string.
Decoded DecodeChar(Reader& in, char end, char16_t units[2], int* count);

// A value's data as stored: strings as UTF-16LE, with their NUL.
struct ValueData {
  std::uint32_t type = 0;
  std::uint64_t size = 0;  // All of it, even beyond what is kept.
  std::string kept;        // The first kMaxKeptData bytes.

  void Append(unsigned char byte) {
    if (kept.size() < kMaxKeptData) kept += static_cast<char>(byte);
    ++size;
  }
  void AppendUnit(char16_t unit) {
    Append(static_cast<unsigned char>(unit & 0xff));
    Append(static_cast<unsigned char>(unit >> 8));
  }
  bool complete() const { return kept.size() == size; }
};

// Reads a value line ("name"=data or @=data). Returns false when the name or
// the "=" cannot be read; a line whose data cannot be read still makes a
// value, with no data. Leaves the reader at the start of the line after it.
bool ReadValueLine(Reader& in, std::u16string* name, ValueData* data);

// Checks that the rest of a section line closes its name with "]". Stops
// before a line end, which belongs to the line.
bool SectionNameCloses(Reader& in);

#endif  // TARVEX_VERSION_SYSTEM_REG_GRAMMAR_H_
