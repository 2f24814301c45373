// The difference between two images of one machine, as the changes that turn
// the first into the second.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "machine/memory_registry.h"
#include "machine/reg_file.h"

namespace plg::tool {

struct RegistryChange {
  enum class Kind { kAddKey, kRemoveKey, kSetValue, kRemoveValue };

  Kind kind = Kind::kAddKey;
  // Full path; keys beneath HKEY_LOCAL_MACHINE\Software\Classes are named
  // through HKEY_CLASSES_ROOT, as registration addresses them.
  std::string key;
  std::string name;           // value changes: the value name, "" for the default value
  ValueType type = kRegNone;  // kSetValue: the new value
  std::vector<std::uint8_t> data;
  // kSetValue of a value that was there before, and kRemoveValue: the old value.
  bool had_value = false;
  ValueType old_type = kRegNone;
  std::vector<std::uint8_t> old_data;
};

// Every change from `before` to `after`, keys depth first in reg export's
// order, each key's own change before its values' changes. A removed tree is
// one kRemoveKey for its top; names compare without regard to case.
std::vector<RegistryChange> DiffRegistries(const MemoryRegistry& before,
                                           const MemoryRegistry& after);

// The changes as a registry file that makes them: [KEY] for added keys and
// for keys whose values change, "name"=- and [-KEY] for removals.
RegFile ChangesAsRegFile(const std::vector<RegistryChange>& changes, RegFileFormat format);

}  // namespace plg::tool
