#include "settings/library_settings.h"

#include "registry/registry_helpers.h"
#include "registry/registry_paths.h"
#include "registry/text_rules.h"
#include "resources/product_strings.h"

namespace plg {

std::vector<std::string> SplitLibraryList(std::string_view list) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    if (comma > start) entries.emplace_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return entries;
}

void RegisterSuffixSettings(Platform& platform, RegistrationMode mode) {
  if (mode == kUnregister) return;
  RegKey key;
  // Unreported on purpose, as for the Script Library key; only a failed
  // value write is shown.
  if (!CreateProductVersionKeyOrReport(platform, kSoftwareKey, "Suffix", nullptr, &key)) {
    return;
  }
  const std::string pairing = LoadProductString(platform, kDocumentExtension) + "," +
                              LoadProductString(platform, kLanguageProgId);
  SetRegistryStringOrReport(platform, key, "ASCII", pairing,
                            "Unable to create ASCII document suffix entry in HKLM");
}

void RegisterDefaultLibraries(Platform& platform, RegistrationMode mode) {
  if (mode == kUnregister) return;
  const std::string list = TrimLeadingWhiteSpace(LoadProductString(platform, kDefaultLibraries));
  // Trailing blanks are part of the last name, so "none " is a library.
  if (list.empty() || EqualsIgnoringCase(list, "none")) return;

  const std::string prefix = GetInstallDirectory(platform, InstallDirectory::kLib) + "\\";
  RegKey key;
  if (!CreateProductVersionKeyOrReport(platform, kSoftwareKeyUpper, "Default Libraries",
                                       "Unable to create default library key", &key)) {
    return;
  }
  for (const std::string& library : SplitLibraryList(list)) {
    SetRegistryStringOrReport(platform, key, library, prefix + library,
                              "Unable to create default library entry");
  }
}

void RegisterScriptSettings(Platform& platform, RegistrationMode mode) {
  if (mode == kUnregister) return;
  const std::string script = TrimLeadingWhiteSpace(LoadProductString(platform, kScriptLibrary));
  RegKey key;
  if (!CreateProductVersionKeyOrReport(platform, kSoftwareKeyUpper, "Script Library", nullptr,
                                       &key)) {
    return;
  }
  // A value named "Default", not the key's default value. An empty script
  // name is still written, replacing whatever an earlier registration left.
  SetRegistryStringOrReport(platform, key, "Default", script,
                            "Unable to create script library entry");
}

}  // namespace plg
