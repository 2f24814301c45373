// How the registry names keys and values, as the ANSI calls see it: names
// are code page 1252 text, compared by their upper-cased UTF-16 form; a key
// path's separators and the HKEY_CLASSES_ROOT alias; the length limits.
//
// The in-memory registry, the .reg reader and writer, plgreg and the tests'
// checks all follow these rules, so that none of them can disagree with the
// others about whether two names are the same. Comparisons run a plain loop:
// the fuzzer hooks memcmp and would report every character compared.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

namespace plg {

// Wine refuses longer key names (one component of a path); Windows' own
// limit is 255.
inline constexpr std::size_t kMaxKeyNameLength = 256;
// Value names, as Windows documents them.
inline constexpr std::size_t kMaxValueNameLength = 16383;

// --- Code page 1252 (as Wine and Windows use for English locales) ---

// Bytes 0x80 to 0x9F; the rest match Latin-1. The five bytes 1252 leaves
// undefined map to the control characters of the same number, as Windows
// maps them.
inline constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The UTF-16 character of a byte.
constexpr char16_t WideOf(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte >= 0x80 && byte < 0xA0) ? kCp1252High[byte - 0x80] : static_cast<char16_t>(byte);
}

// The byte of a UTF-16 character, '?' for one 1252 cannot hold.
inline char AnsiOf(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  const char16_t* hit = std::find(std::begin(kCp1252High), std::end(kCp1252High), c);
  return hit == std::end(kCp1252High) ? '?'
                                      : static_cast<char>(0x80 + (hit - std::begin(kCp1252High)));
}

// Whole texts; characters with no 1252 form become '?'.
std::u16string AnsiToUtf16(std::string_view text);
std::string Utf16ToAnsi(std::u16string_view text);
// As Utf16ToAnsi, but false (and `*ansi` untouched) when a character has no
// 1252 form: the ANSI calls would see it as '?', which names something else.
bool Utf16ToAnsiExactly(std::u16string_view text, std::string* ansi);

// --- Letter case ---

// Names compare as Windows compares them: by upper-cased UTF-16. Of code
// page 1252 this folds a-z, the Latin-1 letters (0xE0-0xFE but 0xF7) and
// four more: bytes 0x9A, 0x9C, 0x9E and 0xFF (to 0x8A, 0x8C, 0x8E, 0x9F).
constexpr char16_t UpperCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  switch (c) {
    case 0xFF: return 0x0178;
    case 0x0161: return 0x0160;
    case 0x0153: return 0x0152;
    case 0x017E: return 0x017D;
    default: return c;
  }
}

// The inverse of UpperCase on code page 1252: the same names compare equal.
// reg export and Wine's registry order names by their lower-cased form.
constexpr char16_t LowerCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
  switch (c) {
    case 0x0178: return 0x00FF;
    case 0x0160: return 0x0161;
    case 0x0152: return 0x0153;
    case 0x017D: return 0x017E;
    default: return c;
  }
}

// A single-byte name lower-cased, in UTF-16: the key names sort by.
std::u16string LowerCaseName(std::string_view name);

// Each byte of code page 1252 as its upper-cased UTF-16 character.
struct FoldedAnsiTable {
  char16_t folded[256] = {};
  constexpr FoldedAnsiTable() {
    for (int byte = 0; byte < 256; ++byte) {
      folded[byte] = UpperCase(WideOf(static_cast<char>(byte)));
    }
  }
  constexpr char16_t operator[](char c) const { return folded[static_cast<unsigned char>(c)]; }
};
inline constexpr FoldedAnsiTable kFoldedAnsi;

// UpperCase of U+0000 to U+00FF, which nearly every stored name is made of:
// one look-up where UpperCase takes several comparisons.
struct UpperLatin1Table {
  char16_t upper[256] = {};
  constexpr UpperLatin1Table() {
    for (int c = 0; c < 256; ++c) upper[c] = UpperCase(static_cast<char16_t>(c));
  }
};
inline constexpr UpperLatin1Table kUpperLatin1;

// A name as the ANSI calls pass it, compared without converting it first.
struct AnsiName {
  std::string_view text;
};

namespace names_detail {
inline std::size_t Length(std::u16string_view name) { return name.size(); }
inline std::size_t Length(AnsiName name) { return name.text.size(); }
inline char16_t FoldedAt(std::u16string_view name, std::size_t i) {
  const char16_t c = name.data()[i];
  return c < 0x100 ? kUpperLatin1.upper[c] : UpperCase(c);
}
inline char16_t FoldedAt(AnsiName name, std::size_t i) { return kFoldedAnsi[name.text.data()[i]]; }
}  // namespace names_detail

// Compares two names (each a UTF-16 view or an AnsiName) as their folded
// forms compare, without building them: lookups are most of what the
// in-memory registry does, and they allocate nothing.
template <typename A, typename B>
int CompareFolded(const A& a, const B& b) {
  using names_detail::FoldedAt;
  using names_detail::Length;
  const std::size_t common = std::min(Length(a), Length(b));
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t x = FoldedAt(a, i);
    const char16_t y = FoldedAt(b, i);
    if (x != y) return x < y ? -1 : 1;
  }
  return Length(a) == Length(b) ? 0 : Length(a) < Length(b) ? -1 : 1;
}

// True when two single-byte names are the same name to the registry.
inline bool EqualsFolded(std::string_view a, std::string_view b) {
  return CompareFolded(AnsiName{a}, AnsiName{b}) == 0;
}

// --- Key paths ---

// Calls `visit` with each key name of a path as the registry splits it
// (runs of backslashes separate, a trailing one is ignored) until it returns
// false; returns false then.
template <typename Visit>
bool EachKeyName(std::string_view path, Visit visit) {
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start && !visit(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// A full key path in the form the registry compares: case folded, single
// separators, HKEY_CLASSES_ROOT spelt as HKEY_LOCAL_MACHINE\SOFTWARE\CLASSES.
std::u16string CanonicalKeyPath(std::string_view path);
// The same into `canonical`, whose storage is reused.
void CanonicalKeyPath(std::string_view path, std::u16string* canonical);

// True when the canonical path `path` names the key `top` or a key beneath
// it ("A\B" is beneath "A", "AB" is not).
bool IsCanonicalKeyOrBeneath(std::u16string_view path, std::u16string_view top);
// The same for two full paths as written, compared as the registry compares.
bool IsKeyOrBeneath(std::string_view path, std::string_view top);

}  // namespace plg
