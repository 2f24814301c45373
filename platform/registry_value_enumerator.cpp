#include "platform/registry_value_enumerator.h"

#include <utility>

namespace plg {

RegStatus RegistryValueEnumerator::EnumValue(const RegKey& key, std::uint32_t index,
                                             std::string* name, RegValue* value) {
  if (!key.valid()) return kErrorInvalidHandle;
  std::string read_name;
  RegValue read_value;
  const RegStatus status = DoEnumValue(key, index, &read_name, &read_value);
  if (status != kSuccess) return status;
  *name = std::move(read_name);
  *value = std::move(read_value);
  return kSuccess;
}

}  // namespace plg
