// Value enumeration, the one registry operation that registration never
// makes: plgreg uses it to copy a live registry's keys into an image. It is
// kept out of Registry so that the interface the registration steps see holds
// only what they do. MemoryRegistry and Win32EnumeratingRegistry (which
// the DLL never links) implement both.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace plg {

class RegistryValueEnumerator {
 public:
  virtual ~RegistryValueEnumerator() = default;

  // RegEnumValueA: the name ("" for the default value), type and data of
  // value `index` of `key`, which must have been opened through the same
  // object's Registry side. The whole name and data, however long: the
  // implementation sizes its buffers, so there is no kErrorMoreData. Names and
  // string data come in the ANSI code page, as RegQueryValueExA gives them.
  // kErrorNoMoreItems past the end; out-parameters are untouched when the call
  // fails. The order is the registry's own and callers must not rely on it:
  // Windows keeps values in the order they were created, Wine sorted by name
  // without regard to case.
  [[nodiscard]] RegStatus EnumValue(const RegKey& key, std::uint32_t index, std::string* name,
                                    RegValue* value);

 protected:
  virtual RegStatus DoEnumValue(const RegKey& key, std::uint32_t index, std::string* name,
                                RegValue* value) = 0;
};

}  // namespace plg
