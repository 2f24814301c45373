#include "registry/text_rules.h"

#include <gtest/gtest.h>

namespace plg {
namespace {

TEST(TextRules, CaseFoldingIsAsciiOnly) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"TolvaneModeler", "tolvanemodeler", true},
      {"TRUE", "tRuE", true},
      {"none", "NONE", true},
      {"none", "none ", false},
      {"\xc9", "\xe9", false},  // accented letters are not folded
      {"", "", true},
      {"[", "{", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(c.equal, EqualsIgnoringCase(c.a, c.b));
  }
}

TEST(TextRules, TrimsTheCLibrarysWhiteSpace) {
  EXPECT_EQ("plg \t", TrimLeadingWhiteSpace(" \t\n\v\f\rplg \t"));
  EXPECT_EQ("plg", TrimWhiteSpace(" \tplg\r\n"));
  EXPECT_EQ("a b", TrimWhiteSpace("a b"));
  EXPECT_EQ("", TrimWhiteSpace(" \t "));
  EXPECT_EQ("", TrimLeadingWhiteSpace(""));
  EXPECT_EQ("\xa0x", TrimWhiteSpace("\xa0x"));  // no-break space is text
}

}  // namespace
}  // namespace plg
