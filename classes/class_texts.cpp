#include "classes/class_texts.h"

namespace plg {

std::string ValueNotWrittenMessage(const std::string& text) {
  return "Unable to create Value " + text;
}

}  // namespace plg
