#include "classes/class_texts.h"

namespace plg {

std::string ValueNotWrittenMessage(const std::string& text) {
  return "Unable to create Value " + text;
}

std::string QuotedExecutablePath(std::string_view directory, std::string_view base_name) {
  std::string path = "\"";
  path += directory;
  path += base_name;
  path += ".exe\"";
  return path;
}

}  // namespace plg
