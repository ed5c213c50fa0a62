// The grammar of system.reg: decoding escaped strings and their UTF-8, and
// reading value lines with every form of their data.
#include "version/system_reg_grammar.h"

namespace {

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads an escaped string that ends with `end`, keeping its first `limit`
// units in `*text` and storing them all in `*data`, each when given.
bool ReadString(Reader& in, char end, std::u16string* text, std::size_t limit,
                ValueData* data) {
  for (;;) {
    char16_t units[2];
    int count = 0;
    const Decoded decoded = DecodeChar(in, end, units, &count);
    if (decoded == Decoded::kEnd) return true;
    if (decoded == Decoded::kBad) return false;
    for (int i = 0; i < count; ++i) {
      if (text && text->size() < limit) *text += units[i];
      if (data) data->AppendUnit(units[i]);
    }
  }
}

// How a number of value data ended.
enum class Number { kNone, kRead, kReadBeforeX };

// Reads a number as strtoul(text, &end, 16) does, the way Wine reads the
// numbers of value data: blanks, a sign and "0x" may come first, a negative
// number wraps, one beyond 64 bits is the largest. kNone: there is no digit.
// kReadBeforeX: "0x" with no digit after it, which is the number 0 followed by
// an "x" that the reader has moved past.
Number ReadNumber(Reader& in, std::uint64_t* value) {
  SkipSpaces(in);
  const bool negative = in.NextIs('-');
  if (!negative) in.NextIs('+');
  *value = 0;
  if (in.NextIs('0')) {
    if (in.NextIs('x') || in.NextIs('X')) {
      if (HexDigit(in.Peek()) < 0) return Number::kReadBeforeX;
    }
  } else if (HexDigit(in.Peek()) < 0) {
    return Number::kNone;
  }
  bool overflow = false;
  while (HexDigit(in.Peek()) >= 0) {
    const auto digit = static_cast<std::uint64_t>(HexDigit(in.Next()));
    if (*value > (~std::uint64_t{0} >> 4)) overflow = true;
    *value = (*value << 4) | digit;
  }
  if (overflow) {
    *value = ~std::uint64_t{0};
  } else if (negative) {
    *value = ~*value + 1;
  }
  return Number::kRead;
}

// Reads a list of hex bytes such as "01,ab,\" that may go on over the next
// lines, whatever they hold; leaves the reader on its last line. A byte is
// read as a 32-bit number, as Wine reads it.
bool ReadHexList(Reader& in, ValueData* data) {
  for (;;) {
    std::uint64_t byte = 0;
    while (HexDigit(in.Peek()) >= 0) {
      if (ReadNumber(in, &byte) != Number::kRead ||
          static_cast<std::uint32_t>(byte) > 0xff) {
        return false;
      }
      data->Append(static_cast<unsigned char>(byte));
      SkipSpaces(in);
      in.NextIs(',');
      SkipSpaces(in);
    }
    if (in.AtLineEnd()) return true;
    // What follows the "\" is not read.
    if (!in.NextIs('\\')) return false;
    in.SkipLine();
    if (in.Peek() < 0) return false;
    SkipSpaces(in);
  }
}

// Reads the data part of a value line, after the "=".
bool ReadValueData(Reader& in, ValueData* data) {
  std::uint64_t number = 0;
  if (in.NextIs('"')) {
    data->type = kTypeSz;
  } else if (in.NextAre("str")) {
    // Only these three types have this form, spelled just so.
    if (in.NextAre(":\"")) {
      data->type = kTypeSz;
    } else {
      if (!in.NextIs('(')) return false;
      if (in.NextIs('2')) {
        data->type = kTypeExpandSz;
      } else if (in.NextIs('7')) {
        data->type = kTypeMultiSz;
      } else {
        return false;
      }
      if (!in.NextAre("):\"")) return false;
    }
  } else if (in.NextAre("dword:")) {
    // Digits that cannot be read leave the number 0, the way Wine reads it.
    ReadNumber(in, &number);
    data->type = kTypeDword;
    for (int shift = 0; shift < 32; shift += 8) {
      data->Append(static_cast<unsigned char>(number >> shift));
    }
    return true;
  } else if (in.NextAre("hex")) {
    data->type = kTypeBinary;
    if (in.NextIs('(')) {
      // No digits at all is type 0, if nothing else stands before the ")".
      const std::uint64_t start = in.offset();
      const Number read = ReadNumber(in, &number);
      if (read == Number::kReadBeforeX ||
          (read == Number::kNone && in.offset() != start) || !in.NextIs(')')) {
        return false;
      }
      data->type = static_cast<std::uint32_t>(number);
    }
    return in.NextIs(':') && ReadHexList(in, data);
  } else {
    return false;
  }
  if (!ReadString(in, '"', nullptr, 0, data)) return false;
  data->AppendUnit(0);
  return true;
}

}  // namespace

Decoded DecodeChar(Reader& in, char end, char16_t units[2], int* count) {
  *count = 1;
  int c = in.Peek();
  if (c < 0 || c == '\n' || c == 0) return Decoded::kBad;
  in.Next();
  if (c == static_cast<unsigned char>(end)) return Decoded::kEnd;
  if (c == '\\') {
    c = in.Peek();
    if (c < 0 || c == '\n' || c == 0) return Decoded::kBad;
    in.Next();
    switch (c) {
      case 'a': units[0] = u'\a'; return Decoded::kUnits;
      case 'b': units[0] = u'\b'; return Decoded::kUnits;
      case 'e': units[0] = 0x1b; return Decoded::kUnits;
      case 'f': units[0] = u'\f'; return Decoded::kUnits;
      case 'n': units[0] = u'\n'; return Decoded::kUnits;
      case 'r': units[0] = u'\r'; return Decoded::kUnits;
      case 't': units[0] = u'\t'; return Decoded::kUnits;
      case 'v': units[0] = u'\v'; return Decoded::kUnits;
      case 'x':
        if (HexDigit(in.Peek()) >= 0) {
          unsigned value = 0;
          for (int i = 0; i < 4 && HexDigit(in.Peek()) >= 0; ++i) {
            value = value * 16 + static_cast<unsigned>(HexDigit(in.Next()));
          }
          units[0] = static_cast<char16_t>(value);
          return Decoded::kUnits;
        }
        break;
      default:
        if (c >= '0' && c <= '7') {
          unsigned value = static_cast<unsigned>(c - '0');
          for (int i = 0; i < 2 && in.Peek() >= '0' && in.Peek() <= '7'; ++i) {
            value = value * 8 + static_cast<unsigned>(in.Next() - '0');
          }
          units[0] = static_cast<char16_t>(value);
          return Decoded::kUnits;
        }
        break;
    }
  }
  if (c < 0x80) {
    units[0] = static_cast<char16_t>(c);
    return Decoded::kUnits;
  }
  // UTF-8, as Wine reads it: the bytes of a sequence that is not well formed
  // are dropped, and reading goes on at the byte that broke it. Continuation
  // bytes are never ASCII, so no quote or line end is swallowed.
  *count = 0;
  int extra = 0;
  std::uint32_t code = 0;
  int low = 0x80, high = 0xbf;  // Allowed range of the first continuation.
  if (c >= 0xc2 && c <= 0xdf) {
    extra = 1, code = static_cast<std::uint32_t>(c & 0x1f);
  } else if (c >= 0xe0 && c <= 0xef) {
    extra = 2, code = static_cast<std::uint32_t>(c & 0x0f);
    if (c == 0xe0) low = 0xa0;  // Overlong.
    if (c == 0xed) high = 0x9f;  // Surrogates.
  } else if (c >= 0xf0 && c <= 0xf4) {
    extra = 3, code = static_cast<std::uint32_t>(c & 0x07);
    if (c == 0xf0) low = 0x90;
    if (c == 0xf4) high = 0x8f;
  } else {
    return Decoded::kUnits;
  }
  for (int i = 0; i < extra; ++i) {
    const int next = in.Peek();
    if (next < low || next > high) return Decoded::kUnits;
    low = 0x80, high = 0xbf;
    code = (code << 6) | static_cast<std::uint32_t>(next & 0x3f);
    in.Next();
  }
  if (code >= 0x10000) {
    code -= 0x10000;
    units[0] = static_cast<char16_t>(0xd800 + (code >> 10));
    units[1] = static_cast<char16_t>(0xdc00 + (code & 0x3ff));
    *count = 2;
  } else {
    units[0] = static_cast<char16_t>(code);
    *count = 1;
  }
  return Decoded::kUnits;
}

bool ReadValueLine(Reader& in, std::u16string* name, ValueData* data) {
  name->clear();
  *data = ValueData{};
  bool named = in.NextIs('@');
  if (!named && in.NextIs('"')) {
    named = ReadString(in, '"', name, kMaxKeptName + 1, nullptr);
  }
  if (named) {
    SkipSpaces(in);
    named = in.NextIs('=');
  }
  if (named) {
    SkipSpaces(in);
    if (!ReadValueData(in, data)) *data = ValueData{};
  }
  // A line the data went on to is used up, even a section line.
  in.SkipLine();
  return named;
}

bool SectionNameCloses(Reader& in) {
  for (;;) {
    const int c = in.Peek();
    if (c < 0 || c == '\n' || c == 0) return false;
    in.Next();
    if (c == ']') return true;
    if (c == '\\') {
      const int escaped = in.Peek();
      if (escaped < 0 || escaped == '\n' || escaped == 0) return false;
      in.Next();
    }
  }
}
