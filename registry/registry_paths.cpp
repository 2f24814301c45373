#include "registry/registry_paths.h"

#include <initializer_list>
#include <string>
#include <string_view>

#include "resources/product_strings.h"

namespace plg {

namespace {

// The key names `parts` joined by backslashes, in one block. An empty part
// stays, as an empty key name: a missing string then gives a path that the
// registry calls refuse (IsSafeKeyPath), not a shorter one.
std::string JoinKeys(std::initializer_list<std::string_view> parts, bool trailing = false) {
  std::size_t size = parts.size() - 1 + (trailing ? 1 : 0);
  for (std::string_view part : parts) size += part.size();
  std::string path;
  path.reserve(size);
  bool first = true;
  for (std::string_view part : parts) {
    if (!first) path += '\\';
    path += part;
    first = false;
  }
  if (trailing) path += '\\';
  return path;
}

// The software key of `view`, spelt as the release views have it.
std::string_view ViewSoftwareKey(RegistryView view) {
  return view == RegistryView::k32Bit ? "SOFTWARE\\Wow6432Node" : kSoftwareKeyUpper;
}

// "Software\Tolvanics\Kelsys\38.0\<subkey>".
std::string SharedSystemKeyPath(std::string_view subkey) {
  return JoinKeys({kSoftwareKey, kCompanyName, kSharedSystemName, GetVersionString(), subkey});
}

}  // namespace

std::string GetVersionString() {
  return std::to_string(kProductMajorVersion) + "." + std::to_string(kProductMinorVersion);
}

std::string GetCompanyKeyPath() { return JoinKeys({kSoftwareKey, kCompanyName}); }

std::string GetOptionsSubkeyPath() {
  return JoinKeys({kSharedSystemName, GetVersionString(), "Options"});
}

std::string GetOptionsKeyPath() { return SharedSystemKeyPath("Options"); }

std::string GetDirKeyPath() { return SharedSystemKeyPath("Dir"); }

std::string GetProductVersionKeyPath(const Platform& platform, std::string_view software,
                                     std::string_view subkey) {
  // Concatenation, not formatting: a product name is data and may hold '%'.
  const std::string product = LoadProductString(platform, kProductName);
  if (subkey.empty()) return JoinKeys({software, kCompanyName, product, GetVersionString()});
  return JoinKeys({software, kCompanyName, product, GetVersionString(), subkey});
}

std::string GetReleasesKeyPath(RegistryView view) {
  return JoinKeys({ViewSoftwareKey(view), kCompanyName, kSharedSystemNameUpper}, true);
}

std::string GetProductViewKeyPath(RegistryView view, std::string_view product_name) {
  return JoinKeys({ViewSoftwareKey(view), kCompanyName, product_name}, true);
}

}  // namespace plg
