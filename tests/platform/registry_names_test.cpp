// The registry's name rules: code page 1252, case folding, key paths.
#include "platform/registry_names.h"

#include <gtest/gtest.h>

#include <string>

namespace plg {
namespace {

TEST(RegistryNames, NamesCompareAsTheRegistryFoldsThem) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"Pellagor", "pELLAGOR", true},
      {"a", "a ", false},
      {"\x9a", "\x8a", true},  // s and S with caron, from 0x80-0x9F
      {"\x9c\x9e", "\x8c\x8e", true},
      {"\xff", "\x9f", true},   // y with diaeresis folds out of Latin-1
      {"\xe9", "\xc9", true},   // e and E with acute
      {"\xf7", "\xd7", false},  // division and multiplication signs are no letters
      {"\x9d", "\x8d", false},  // undefined in 1252: control characters, not folded
      {"\x81", "?", false},     // ... and not '?'
      {"\xdf", "SS", false},    // sharp s stays one character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(c.same, EqualsFolded(c.a, c.b));
    EXPECT_EQ(c.same, CompareFolded(AnsiName{c.a}, std::u16string_view(AnsiToUtf16(c.b))) == 0);
    EXPECT_EQ(c.same, CanonicalKeyPath(c.a) == CanonicalKeyPath(c.b));
    // reg export's lower case is the same rule the other way round.
    EXPECT_EQ(c.same, LowerCaseName(c.a) == LowerCaseName(c.b));
  }
}

TEST(RegistryNames, UpperAndLowerCaseFoldEveryByteAlike) {
  for (int byte = 0; byte < 256; ++byte) {
    const char16_t c = WideOf(static_cast<char>(byte));
    SCOPED_TRACE(byte);
    EXPECT_EQ(UpperCase(c), UpperCase(LowerCase(c)));
    EXPECT_EQ(LowerCase(c), LowerCase(UpperCase(c)));
    EXPECT_EQ(UpperCase(c), kFoldedAnsi[static_cast<char>(byte)]);
  }
}

TEST(RegistryNames, CodePage1252ConvertsBothWays) {
  EXPECT_EQ(u"a\u00e9\u20ac\u0081\u017e", AnsiToUtf16("a\xe9\x80\x81\x9e"));
  EXPECT_EQ("a\xe9\x80\x81\x9e", Utf16ToAnsi(u"a\u00e9\u20ac\u0081\u017e"));
  EXPECT_EQ("?", Utf16ToAnsi(u"\u4e2d"));
  struct Case {
    std::u16string wide;
    bool exact;
    std::string ansi;
  } cases[] = {
      {u"Caf\u00e9 \u20ac", true, "Caf\xe9 \x80"},
      {u"\u0081\u008d\u008f\u0090\u009d", true, "\x81\x8d\x8f\x90\x9d"},  // the undefined five
      {u"?", true, "?"},
      {u"\u0080", false, "kept"},  // a control character 1252 has no byte for
      {u"x\u4e2d", false, "kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ansi);
    std::string ansi = "kept";
    EXPECT_EQ(c.exact, Utf16ToAnsiExactly(c.wide, &ansi));
    EXPECT_EQ(c.ansi, ansi);
  }
}

TEST(RegistryNames, AKeyIsBeneathItselfAndItsAncestorsOnly) {
  struct Case {
    const char* path;
    const char* top;
    bool beneath;
  } cases[] = {
      {"HKEY_CLASSES_ROOT\\Foo", "HKEY_CLASSES_ROOT\\Foo", true},
      {"HKEY_CLASSES_ROOT\\FooBar", "HKEY_CLASSES_ROOT\\Foo", false},
      {"HKEY_CLASSES_ROOT\\Foo\\Bar", "HKEY_CLASSES_ROOT\\Foo", true},
      {"HKEY_CLASSES_ROOT\\Foo", "HKEY_CLASSES_ROOT\\Foo\\Bar", false},
      {"hkey_classes_root\\FOO\\bar", "HKEY_CLASSES_ROOT\\Foo", true},
      {"HKEY_CLASSES_ROOT\\\xc9t\xe9\\x", "HKEY_CLASSES_ROOT\\\xe9T\xc9", true},
      {"HKEY_CLASSES_ROOT\\\x9a\\x", "HKEY_CLASSES_ROOT\\\x8a", true},
      {"HKEY_LOCAL_MACHINE\\Software\\Classes\\Foo\\x", "HKEY_CLASSES_ROOT\\Foo", true},
      {"HKEY_CLASSES_ROOT\\Foo\\\\Bar\\", "HKEY_CLASSES_ROOT\\Foo\\Bar", true},
      {"HKEY_LOCAL_MACHINE\\Foo", "HKEY_CLASSES_ROOT\\Foo", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " / " + c.top);
    EXPECT_EQ(c.beneath, IsKeyOrBeneath(c.path, c.top));
    EXPECT_EQ(c.beneath,
              IsCanonicalKeyOrBeneath(CanonicalKeyPath(c.path), CanonicalKeyPath(c.top)));
  }
}

}  // namespace
}  // namespace plg
