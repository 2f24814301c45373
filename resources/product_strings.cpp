#include "resources/product_strings.h"

namespace plg {

std::string LoadProductString(const Platform& platform, unsigned id) {
  return platform.strings.Load(id).value_or(std::string());
}

}  // namespace plg
