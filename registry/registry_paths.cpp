#include "registry/registry_paths.h"

#include "resources/product_strings.h"

namespace plg {

namespace {

// "<software>\Tolvanics".
std::string CompanyKeyPath(std::string_view software) {
  std::string path(software);
  path += "\\";
  path += kCompanyName;
  return path;
}

// "Kelsys\38.0\<subkey>", relative to the company key.
std::string SharedSystemSubkeyPath(std::string_view subkey) {
  std::string path = kSharedSystemName;
  path += "\\";
  path += GetVersionString();
  path += "\\";
  path += subkey;
  return path;
}

// The software key of `view`, spelt as the release views have it.
std::string ViewSoftwareKey(RegistryView view) {
  std::string key = kSoftwareKeyUpper;
  if (view == RegistryView::k32Bit) key += "\\Wow6432Node";
  return key;
}

}  // namespace

std::string GetVersionString() {
  return std::to_string(kProductMajorVersion) + "." + std::to_string(kProductMinorVersion);
}

std::string GetCompanyKeyPath() { return CompanyKeyPath(kSoftwareKey); }

std::string GetOptionsSubkeyPath() { return SharedSystemSubkeyPath("Options"); }

std::string GetOptionsKeyPath() { return GetCompanyKeyPath() + "\\" + GetOptionsSubkeyPath(); }

std::string GetDirKeyPath() { return GetCompanyKeyPath() + "\\" + SharedSystemSubkeyPath("Dir"); }

std::string GetProductVersionKeyPath(const Platform& platform, std::string_view software,
                                     std::string_view subkey) {
  // Concatenation, not formatting: a product name is data and may hold '%'.
  std::string path = CompanyKeyPath(software);
  path += "\\";
  path += LoadProductString(platform, kProductName);
  path += "\\";
  path += GetVersionString();
  if (!subkey.empty()) {
    path += "\\";
    path += subkey;
  }
  return path;
}

std::string GetReleasesKeyPath(RegistryView view) {
  return CompanyKeyPath(ViewSoftwareKey(view)) + "\\" + kSharedSystemNameUpper + "\\";
}

std::string GetProductViewKeyPath(RegistryView view, std::string_view product_name) {
  std::string path = CompanyKeyPath(ViewSoftwareKey(view));
  path += "\\";
  path += product_name;
  path += "\\";
  return path;
}

}  // namespace plg
