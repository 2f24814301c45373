#include "settings/customization_settings.h"

#include <cstdint>

#include "registry/registry_helpers.h"
#include "registry/registry_paths.h"
#include "registry/text_rules.h"
#include "resources/product_strings.h"

namespace plg {

namespace {

// Writes one GUI switch and reports a failure; the caller goes on either way.
void WriteSwitch(Platform& platform, const RegKey& key, const char* name,
                 unsigned string_id, const char* message) {
  const std::uint32_t number =
      static_cast<std::uint32_t>(BooleanTextValue(LoadProductString(platform, string_id)));
  if (RegStatus status = platform.registry.SetDword(key, name, number)) {
    ReportRegistrationError(platform, message,
                            {key.path() + " value \"" + name + "\"", status});
  }
}

}  // namespace

int BooleanTextValue(std::string_view text) {
  return text == "1" || EqualsIgnoringCase(text, "TRUE") ? 1 : 0;
}

void RegisterCustomizationDll(Platform& platform, RegistrationMode mode,
                              const std::string& module_path) {
  if (mode == kUnregister) return;
  const std::string path = GetProductVersionKeyPath(platform, kSoftwareKey, "Customization");
  RegKey key;
  if (!CreateKeyOrReport(platform, RegistryRoot::kLocalMachine, path, "Unable to open customization  key", &key)) {
    return;
  }
  SetRegistryStringOrReport(platform, key, "DLL", module_path,
                            "Unable to enter value customization DLL key");
}

void RegisterPfsView(Platform& platform, RegistrationMode mode) {
  if (mode == kUnregister) return;
  const std::string path = GetProductVersionKeyPath(platform, kSoftwareKey, "PFSView");
  const std::string class_id = LoadProductString(platform, kLanguageClassId);
  RegKey key;
  if (!CreateKeyOrReport(platform, RegistryRoot::kLocalMachine, path, "Unable to open PFS CLSID key", &key)) {
    return;
  }
  // The host looks the class up under "DLL", as it does the customization
  // library, although the data is a class identifier.
  SetRegistryStringOrReport(platform, key, "DLL", class_id,
                            "Unable to enter PFS default CLSID key");
}

void RegisterGuiDefaults(Platform& platform, RegistrationMode mode) {
  if (mode == kUnregister) return;
  const std::string path = GetProductVersionKeyPath(platform, kSoftwareKey, "GUIDefaults");
  RegKey key;
  if (!CreateKeyOrReport(platform, RegistryRoot::kLocalMachine, path, "Unable to open GUI defaults key", &key)) {
    return;
  }
  WriteSwitch(platform, key, "CtrlStreamFixedOnly", kCtrlStreamFixedOnly,
              "Unable to enter default control stream connection key");
  WriteSwitch(platform, key, "CustomModelingOn", kCustomModelingOn,
              "Unable to enter custom modeling key");
}

}  // namespace plg
