// What the registry contract suite runs against: the in-memory registry on
// Linux, the real registry (through Win32Registry) under Wine.
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/registry_value_enumerator.h"

namespace plg::contract {

struct RegistryUnderTest {
  std::unique_ptr<Registry> registry;
  // The same object's value enumeration.
  RegistryValueEnumerator* values = nullptr;
  // A name for messages: "memory" or "win32".
  std::string name;
};

RegistryUnderTest MakeRegistryUnderTest();

}  // namespace plg::contract
