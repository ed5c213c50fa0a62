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

void SkipBlanks(Reader& in) {
  while (in.Peek() == ' ' || in.Peek() == '\t') in.Next();
}

void SkipSpaces(Reader& in) {
  for (int c = in.Peek(); c == ' ' || (c >= '\t' && c <= '\r' && c != '\n');
       c = in.Peek()) {
    in.Next();
  }
}

// Reads hex digits as a number, saturating beyond 64 bits.
bool ReadHexNumber(Reader& in, std::uint64_t* value) {
  if (HexDigit(in.Peek()) < 0) return false;
  *value = 0;
  bool overflow = false;
  while (HexDigit(in.Peek()) >= 0) {
    const auto digit = static_cast<std::uint64_t>(HexDigit(in.Next()));
    if (*value > (~std::uint64_t{0} >> 4)) overflow = true;
    *value = (*value << 4) | digit;
  }
  if (overflow) *value = ~std::uint64_t{0};
  return true;
}

// Reads a list of hex bytes such as "01,ab,\" that may go on over the next
// lines; leaves the reader on the line end of its last line.
bool ReadHexList(Reader& in, ValueData* data) {
  for (;;) {
    std::uint64_t byte = 0;
    while (ReadHexNumber(in, &byte)) {
      if (byte > 0xff) return false;
      data->Append(static_cast<unsigned char>(byte));
      SkipSpaces(in);
      in.NextIs(',');
      SkipSpaces(in);
    }
    if (in.AtLineEnd()) return true;
    if (!in.NextIs('\\')) return false;
    // The list goes on at the next line, unless that line starts a section.
    in.SkipLine();
    if (in.Peek() == '[') return false;
    SkipSpaces(in);
  }
}

// Reads the data part of a value line, after the "=".
bool ReadValueData(Reader& in, ValueData* data) {
  std::uint64_t number = 0;
  if (in.NextIs('"')) {
    data->type = kTypeSz;
  } else if (in.NextAre("str(")) {
    // Only the string types that are not plain strings have this form.
    if (!ReadHexNumber(in, &number) || !in.NextAre("):\"") ||
        (number != kTypeExpandSz && number != kTypeMultiSz)) {
      return false;
    }
    data->type = static_cast<std::uint32_t>(number);
  } else if (in.NextAre("dword:")) {
    // Digits that cannot be read leave the number 0, the way Wine reads it.
    SkipSpaces(in);
    if (!ReadHexNumber(in, &number)) number = 0;
    data->type = kTypeDword;
    for (int shift = 0; shift < 32; shift += 8) {
      data->Append(static_cast<unsigned char>(number >> shift));
    }
    return true;
  } else if (in.NextAre("hex")) {
    data->type = kTypeBinary;
    if (in.NextIs('(')) {
      if (!ReadHexNumber(in, &number) || !in.NextIs(')')) return false;
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
    SkipBlanks(in);
    named = in.NextIs('=');
  }
  if (named) {
    SkipBlanks(in);
    if (!ReadValueData(in, data)) *data = ValueData{};
  }
  // A hex list cut short by a section line has left the reader on that line;
  // any other line it went on to is used up.
  if (in.Peek() != '[' || !in.AtLineStart()) in.SkipLine();
  return named;
}

bool SectionNameCloses(Reader& in) {
  for (;;) {
    const int c = in.Next();
    if (c < 0 || c == '\n' || c == 0) return false;
    if (c == ']') return true;
    if (c == '\\') {
      const int escaped = in.Peek();
      if (escaped < 0 || escaped == '\n' || escaped == 0) return false;
      in.Next();
    }
  }
}
