#include "classes/class_texts.h"

#include "platform/registry.h"

namespace plg {

std::string ValueNotWrittenMessage(const std::string& text) {
  return "Unable to create Value " + text;
}

std::string ClassesRootPath(std::string_view path) {
  std::string full = RootName(RegistryRoot::kClassesRoot);
  full += '\\';
  full.append(path);
  return full;
}

}  // namespace plg
