// The HKEY behind a RegKey, for the Win32 side of the seam only.
#pragma once

#include <windows.h>

#include "platform/registry.h"

namespace plg {

inline HKEY ToHkey(const RegKey& key) {
  if (key.is_root()) {
    return key.root() == RegistryRoot::kClassesRoot ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
  }
  return reinterpret_cast<HKEY>(key.handle());
}

}  // namespace plg
