#include "platform/registry_names.h"

namespace plg {

std::u16string AnsiToUtf16(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (char c : text) wide += WideOf(c);
  return wide;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (char16_t c : text) narrow += AnsiOf(c);
  return narrow;
}

bool Utf16ToAnsiExactly(std::u16string_view text, std::string* ansi) {
  std::string narrow;
  narrow.reserve(text.size());
  for (char16_t c : text) {
    const char byte = AnsiOf(c);
    if (WideOf(byte) != c) return false;
    narrow += byte;
  }
  *ansi = std::move(narrow);
  return true;
}

std::u16string LowerCaseName(std::string_view name) {
  std::u16string lower;
  lower.reserve(name.size());
  for (char c : name) lower += LowerCase(WideOf(c));
  return lower;
}

// "HKEY_CLASSES_ROOT\x" and "HKEY_LOCAL_MACHINE\Software\Classes\x" name the
// same key; the canonical form folds case, separators and that alias.
void CanonicalKeyPath(std::string_view path, std::u16string* canonical) {
  // One pass into the caller's buffer, sized once and written through a
  // pointer: the containment check and the fault matching canonicalise every
  // path they see.
  constexpr std::u16string_view kClasses = u"HKEY_CLASSES_ROOT";
  constexpr std::u16string_view kClassesKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES";
  canonical->resize(path.size() + kClassesKey.size());
  char16_t* const start = canonical->data();
  char16_t* out = start;
  EachKeyName(path, [&](std::string_view part) {
    if (out == start && CompareFolded(AnsiName{part}, kClasses) == 0) {
      out = std::copy(kClassesKey.begin(), kClassesKey.end(), out);
      return true;
    }
    if (out != start) *out++ = u'\\';
    for (char c : part) *out++ = kFoldedAnsi[c];
    return true;
  });
  canonical->resize(static_cast<std::size_t>(out - start));
}

std::u16string CanonicalKeyPath(std::string_view path) {
  std::u16string canonical;
  CanonicalKeyPath(path, &canonical);
  return canonical;
}

bool IsCanonicalKeyOrBeneath(std::u16string_view path, std::u16string_view top) {
  if (path.size() < top.size()) return false;
  if (path.size() != top.size() && path[top.size()] != u'\\') return false;
  // From the end: paths share their long first keys ("HKEY_LOCAL_MACHINE
  // \SOFTWARE\..."), so most that differ do so near the end of `top`.
  const char16_t* p = path.data();
  const char16_t* t = top.data();
  for (std::size_t i = top.size(); i > 0; --i) {
    if (p[i - 1] != t[i - 1]) return false;
  }
  return true;
}

bool IsKeyOrBeneath(std::string_view path, std::string_view top) {
  return IsCanonicalKeyOrBeneath(CanonicalKeyPath(path), CanonicalKeyPath(top));
}

}  // namespace plg
