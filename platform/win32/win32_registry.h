// The registry seam over the real Windows registry: the ANSI advapi32 calls
// (and RegEnumKeyExW for UTF-16 names). Windows builds only.
#pragma once

#include "platform/registry.h"

namespace plg {

class Win32Registry : public Registry {
 public:
  // MultiByteToWideChar with CP_ACP, as the ANSI calls convert names.
  std::u16string WideNameOf(std::string_view name) const override;

 protected:
  RegStatus DoCreateKey(const RegKey& parent, std::string_view path, RegAccess access,
                        KeyHandle* handle) override;
  RegStatus DoOpenKey(const RegKey& parent, std::string_view path, RegAccess access,
                      KeyHandle* handle) override;
  RegStatus DoSetValue(const RegKey& key, std::string_view name, ValueType type, const void* data,
                       std::size_t size) override;
  RegStatus DoQueryValue(const RegKey& key, std::string_view name, std::size_t capacity,
                         RegValue* value) override;
  RegStatus DoQueryInfo(const RegKey& key, KeyInfo* info) override;
  RegStatus DoEnumKey(const RegKey& key, std::uint32_t index, std::size_t capacity,
                      std::string* name) override;
  RegStatus DoEnumKeyW(const RegKey& key, std::uint32_t index, std::size_t capacity,
                       std::u16string* name) override;
  RegStatus DoDeleteKey(const RegKey& parent, std::string_view path) override;
  RegStatus DoDeleteValue(const RegKey& key, std::string_view name) override;
  void DoCloseKey(KeyHandle handle) noexcept override;
};

}  // namespace plg
