#include "machine/memory_registry.h"
#include "tests/platform/contract/registry_under_test.h"

namespace plg::contract {

RegistryUnderTest MakeRegistryUnderTest() {
  return {std::make_unique<MemoryRegistry>(), "memory"};
}

}  // namespace plg::contract
