#include "registrar/modeler_options.h"

#include "classes/version_open_verbs.h"
#include "registry/registry_helpers.h"
#include "registry/registry_paths.h"
#include "resources/product_strings.h"

namespace plg {

void RegisterModelerOptions(Platform& platform) {
  Registry& registry = platform.registry;
  RegKey company;
  if (!CreateKeyOrReport(platform, RegistryRoot::kLocalMachine, GetCompanyKeyPath(),
                         "Unable to open HKEY_LOCAL_MACHINE", &company)) {
    return;
  }

  const std::string product_name = LoadProductString(platform, kProductName);
  {
    RegKey product;
    if (RegStatus status = registry.CreateKey(company, product_name, kKeyAllAccess, &product)) {
      ReportRegistrationError(platform, "Unable to create Application Name key",
                              {std::string(company.path()) + "\\" + product_name, status});
    }
  }

  RegKey options;
  if (RegStatus status =
          registry.CreateKey(company, GetOptionsSubkeyPath(), kKeyAllAccess, &options)) {
    ReportRegistrationError(platform, "Unable to open modeler options key",
                            {std::string(company.path()) + "\\" + GetOptionsSubkeyPath(), status});
    return;
  }
  const std::string product_key = LoadProductString(platform, kProductKey);
  constexpr char kValueMessage[] = "Unable to enter value in modeler options key";
  // An empty name would write the Options key's own default value.
  if (product_key.empty()) {
    ReportRegistrationError(platform, kValueMessage, {std::string(options.path()) + " value \"\""});
  } else {
    SetRegistryStringOrReport(platform, options, product_key, product_name, kValueMessage);
  }
}

void UnregisterModelerOptions(Platform& platform) {
  static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kLocalMachine,
                                       GetProductVersionKeyPath(platform)));

  RemoveVersionOpenVerbs(platform);

  const std::string product_key = LoadProductString(platform, kProductKey);
  RegKey options;
  if (!product_key.empty() && platform.registry.OpenKey(RegKey::LocalMachine(), GetOptionsKeyPath(),
                                                        kKeyAllAccess, &options) == kSuccess) {
    static_cast<void>(platform.registry.DeleteValue(options, product_key));
  }
}

}  // namespace plg
