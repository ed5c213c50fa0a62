// Narrowing UTF-16 text to code page 1252 the way Wine does, with its best fit.
#ifndef TARVEX_VERSION_CODE_PAGE_1252_H_
#define TARVEX_VERSION_CODE_PAGE_1252_H_

// The byte that `unit` narrows to in code page 1252, as Wine's
// RegQueryValueExA narrows string data under an English or Western European
// (or the C) locale: the unit's own byte where the code page has the character,
// Wine's best-fit byte where its table gives one (U+FF15 "５" is "5"), and "?"
// for everything else, a lone surrogate included.
unsigned char NarrowToCodePage1252(char16_t unit);

#endif  // TARVEX_VERSION_CODE_PAGE_1252_H_
