#include "platform/win32/win32_registry.h"
#include "tests/platform/contract/registry_under_test.h"

namespace plg::contract {

RegistryUnderTest MakeRegistryUnderTest() {
  return {std::make_unique<Win32Registry>(), "win32"};
}

}  // namespace plg::contract
