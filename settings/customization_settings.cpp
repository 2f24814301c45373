#include "settings/customization_settings.h"

#include <cstdint>

#include "registry/registry_helpers.h"
#include "registry/registry_paths.h"
#include "registry/text_rules.h"
#include "resources/product_strings.h"

namespace plg {

namespace {

// Writes one GUI switch and reports a failure; the caller goes on either way.
void WriteSwitch(Platform& platform, const RegKey& key, const char* name, unsigned string_id,
                 const char* message) {
  const std::uint32_t number =
      static_cast<std::uint32_t>(BooleanTextValue(LoadProductString(platform, string_id)));
  if (RegStatus status = platform.registry.SetDword(key, name, number)) {
    ReportRegistrationError(platform, message,
                            {std::string(key.path()) + " value \"" + name + "\"", status});
  }
}

// Writes `text` as the value "DLL" of the product version's `subkey`,
// reporting `key_message` or `value_message` when the key or the value
// cannot be written.
void WriteDllSetting(Platform& platform, const char* subkey, const char* key_message,
                     const std::string& text, const char* value_message) {
  RegKey key;
  if (!CreateProductVersionKeyOrReport(platform, kSoftwareKey, subkey, key_message, &key)) {
    return;
  }
  SetRegistryStringOrReport(platform, key, "DLL", text, value_message);
}

}  // namespace

int BooleanTextValue(std::string_view text) {
  return text == "1" || EqualsIgnoringCase(text, "TRUE") ? 1 : 0;
}

void RegisterCustomizationDll(Platform& platform, RegistrationMode mode,
                              const std::string& module_path) {
  if (mode == kUnregister) return;
  WriteDllSetting(platform, "Customization", "Unable to open customization  key", module_path,
                  "Unable to enter value customization DLL key");
}

void RegisterPfsView(Platform& platform, RegistrationMode mode) {
  if (mode == kUnregister) return;
  // The host looks the class up under "DLL", as it does the customization
  // library, although the data is a class identifier.
  WriteDllSetting(platform, "PFSView", "Unable to open PFS CLSID key",
                  LoadProductString(platform, kLanguageClassId),
                  "Unable to enter PFS default CLSID key");
}

void RegisterGuiDefaults(Platform& platform, RegistrationMode mode) {
  if (mode == kUnregister) return;
  RegKey key;
  if (!CreateProductVersionKeyOrReport(platform, kSoftwareKey, "GUIDefaults",
                                       "Unable to open GUI defaults key", &key)) {
    return;
  }
  WriteSwitch(platform, key, "CtrlStreamFixedOnly", kCtrlStreamFixedOnly,
              "Unable to enter default control stream connection key");
  WriteSwitch(platform, key, "CustomModelingOn", kCustomModelingOn,
              "Unable to enter custom modeling key");
}

}  // namespace plg
