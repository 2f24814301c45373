#include "classes/class_texts.h"

#include "platform/registry.h"

namespace plg {

namespace {

// ASCII only: the process locale must not change what counts as the host.
char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string ValueNotWrittenMessage(const std::string& text) {
  return "Unable to create Value " + text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string TrimWhiteSpace(std::string_view text) {
  constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return std::string(text.substr(first, last - first + 1));
}

std::string ClassesRootPath(std::string_view path) {
  std::string full = RootName(RegistryRoot::kClassesRoot);
  full += '\\';
  full.append(path);
  return full;
}

}  // namespace plg
