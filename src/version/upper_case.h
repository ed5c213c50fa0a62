// The upper case of a UTF-16 unit by Wine's own table, which Wine compares
// key and value names by.
#ifndef TARVEX_VERSION_UPPER_CASE_H_
#define TARVEX_VERSION_UPPER_CASE_H_

// A unit from U+0080 up in upper case.
char16_t UpperCaseOfNonAscii(char16_t unit);

// `unit` in upper case, as Wine's table gives it: one unit for one, so "é" is
// "É" and "ÿ" is "Ÿ", while "ß", "ı" and "ſ" stay as they are. ASCII, which
// nearly every name is, needs no table.
inline char16_t UpperCaseOf(char16_t unit) {
  if (unit >= 0x80) return UpperCaseOfNonAscii(unit);
  return (unit >= u'a' && unit <= u'z')
             ? static_cast<char16_t>(unit - u'a' + u'A')
             : unit;
}

#endif  // TARVEX_VERSION_UPPER_CASE_H_
