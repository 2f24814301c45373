#include "settings/settings_key.h"

#include "registry/registry_helpers.h"
#include "resources/product_strings.h"

namespace plg {

std::string ProductVersionSubkeyPath(const Platform& platform,
                                     std::string_view software,
                                     std::string_view subkey) {
  // Concatenation, not formatting: a product name is data and may hold '%'.
  std::string path(software);
  path += "\\Tolvanics\\";
  path += LoadProductString(platform, kProductName);
  path += "\\";
  path += GetVersionString();
  path += "\\";
  path += subkey;
  return path;
}

}  // namespace plg
