#include "platform/win32/win32_enumerating_registry.h"
#include "tests/platform/contract/registry_under_test.h"

#include <utility>

namespace plg::contract {

RegistryUnderTest MakeRegistryUnderTest() {
  auto registry = std::make_unique<Win32EnumeratingRegistry>();
  RegistryValueEnumerator* values = registry.get();
  return {std::move(registry), values, "win32"};
}

}  // namespace plg::contract
