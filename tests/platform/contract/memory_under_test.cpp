#include "machine/memory_registry.h"
#include "tests/platform/contract/registry_under_test.h"

#include <utility>

namespace plg::contract {

RegistryUnderTest MakeRegistryUnderTest() {
  auto registry = std::make_unique<MemoryRegistry>();
  RegistryValueEnumerator* values = registry.get();
  return {std::move(registry), values, "memory"};
}

}  // namespace plg::contract
