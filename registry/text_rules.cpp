#include "registry/text_rules.h"

namespace plg {

namespace {

constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string TrimLeadingWhiteSpace(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  return first == std::string_view::npos ? std::string() : std::string(text.substr(first));
}

std::string TrimWhiteSpace(std::string_view text) {
  const std::string leading_trimmed = TrimLeadingWhiteSpace(text);
  const std::size_t last = leading_trimmed.find_last_not_of(kWhiteSpace);
  return leading_trimmed.substr(0, last == std::string::npos ? 0 : last + 1);
}

}  // namespace plg
