// Win32Registry with value enumeration (RegEnumValueA), for the tools.
// Windows builds only.
#pragma once

#include "platform/registry_value_enumerator.h"
#include "platform/win32/win32_registry.h"

namespace plg {

// A class and a file of their own: the DLL never enumerates values, and
// would link this code (and import RegEnumValueA) if Win32Registry, whose
// vtable it uses, offered it.
class Win32EnumeratingRegistry : public Win32Registry, public RegistryValueEnumerator {
 protected:
  RegStatus DoEnumValue(const RegKey& key, std::uint32_t index, std::string* name,
                        RegValue* value) override;
};

}  // namespace plg
