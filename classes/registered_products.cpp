#include "classes/registered_products.h"

#include "registry/registry_helpers.h"
#include "registry/registry_paths.h"

namespace plg {

bool NoProductRegistered(Platform& platform) {
  RegKey options;
  const RegStatus status = platform.registry.OpenKey(RegKey::LocalMachine(), GetOptionsKeyPath(),
                                                     kKeyAllAccess, &options);
  // Only a key that is not there says that no product is left; a key that
  // cannot be read may well hold other products.
  if (status == kErrorFileNotFound) return true;
  if (status != kSuccess) return false;
  KeyInfo info;
  if (platform.registry.QueryInfo(options, &info) != kSuccess) return false;
  return info.values == 0;
}

}  // namespace plg
