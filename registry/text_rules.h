// Text rules that several steps apply to product strings: ASCII-only case
// folding (the process locale must not change what a step writes) and the
// C library's white space.
#pragma once

#include <string>
#include <string_view>

namespace plg {

// True when `a` and `b` are equal but for the case of ASCII letters.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// `text` without leading white space (blank, tab, line feed, vertical tab,
// form feed, carriage return); trailing white space stays.
std::string TrimLeadingWhiteSpace(std::string_view text);

// `text` without leading and trailing white space.
std::string TrimWhiteSpace(std::string_view text);

}  // namespace plg
