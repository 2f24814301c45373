#include "platform/win32/win32_registry.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/win32_hkey.h"

namespace plg {

namespace {

// The ANSI calls take zero-terminated names.
std::string Terminated(std::string_view text) { return std::string(text); }

// Subkey `index`'s name through RegEnumKeyExA or RegEnumKeyExW, in a buffer
// of `capacity` characters; only the name is asked for.
template <typename Char, typename EnumKeyEx, typename Name>
RegStatus EnumKeyName(EnumKeyEx enum_key, HKEY key, std::uint32_t index, std::size_t capacity,
                      Name* name) {
  std::vector<Char> buffer(capacity + 1);
  DWORD size = static_cast<DWORD>(capacity);
  const LSTATUS status =
      enum_key(key, index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return status;
  name->assign(buffer.begin(), buffer.begin() + size);
  return ERROR_SUCCESS;
}

}  // namespace

RegStatus Win32Registry::DoCreateKey(const RegKey& parent, std::string_view path, RegAccess access,
                                     KeyHandle* handle) {
  HKEY created = nullptr;
  char empty_class[] = "";
  const LSTATUS status = RegCreateKeyExA(ToHkey(parent), Terminated(path).c_str(), 0, empty_class,
                                         0, access, nullptr, &created, nullptr);
  if (status == ERROR_SUCCESS) *handle = reinterpret_cast<KeyHandle>(created);
  return status;
}

RegStatus Win32Registry::DoOpenKey(const RegKey& parent, std::string_view path, RegAccess access,
                                   KeyHandle* handle) {
  HKEY opened = nullptr;
  const std::string name = Terminated(path);
  const LSTATUS status = access == kMaximumAllowed
                             ? RegOpenKeyA(ToHkey(parent), name.c_str(), &opened)
                             : RegOpenKeyExA(ToHkey(parent), name.c_str(), 0, access, &opened);
  if (status == ERROR_SUCCESS) *handle = reinterpret_cast<KeyHandle>(opened);
  return status;
}

RegStatus Win32Registry::DoSetValue(const RegKey& key, std::string_view name, ValueType type,
                                    const void* data, std::size_t size) {
  return RegSetValueExA(ToHkey(key), Terminated(name).c_str(), 0, type,
                        static_cast<const BYTE*>(data), static_cast<DWORD>(size));
}

RegStatus Win32Registry::DoQueryValue(const RegKey& key, std::string_view name,
                                      std::size_t capacity, RegValue* value) {
  // One spare byte: for string types the call appends a zero when there is
  // room, and that byte is not part of the value.
  std::vector<BYTE> buffer(capacity + 1);
  DWORD type = REG_NONE;
  DWORD size = static_cast<DWORD>(capacity);
  const LSTATUS status =
      RegQueryValueExA(ToHkey(key), Terminated(name).c_str(), nullptr, &type, buffer.data(), &size);
  if (status != ERROR_SUCCESS) return status;
  value->type = type;
  value->data.assign(buffer.begin(), buffer.begin() + size);
  return ERROR_SUCCESS;
}

RegStatus Win32Registry::DoQueryInfo(const RegKey& key, KeyInfo* info) {
  // Only the counts: asking for the class name too would fail with
  // ERROR_MORE_DATA for a key whose class name outgrows the buffer.
  DWORD subkeys = 0;
  DWORD values = 0;
  const LSTATUS status = RegQueryInfoKeyA(ToHkey(key), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                          nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return status;
  info->subkeys = subkeys;
  info->values = values;
  return ERROR_SUCCESS;
}

RegStatus Win32Registry::DoEnumKey(const RegKey& key, std::uint32_t index, std::size_t capacity,
                                   std::string* name) {
  return EnumKeyName<char>(RegEnumKeyExA, ToHkey(key), index, capacity, name);
}

RegStatus Win32Registry::DoEnumKeyW(const RegKey& key, std::uint32_t index, std::size_t capacity,
                                    std::u16string* name) {
  return EnumKeyName<wchar_t>(RegEnumKeyExW, ToHkey(key), index, capacity, name);
}

RegStatus Win32Registry::DoDeleteKey(const RegKey& parent, std::string_view path) {
  return RegDeleteKeyA(ToHkey(parent), Terminated(path).c_str());
}

RegStatus Win32Registry::DoDeleteValue(const RegKey& key, std::string_view name) {
  return RegDeleteValueA(ToHkey(key), Terminated(name).c_str());
}

std::u16string Win32Registry::WideNameOf(std::string_view name) const {
  if (name.empty()) return {};
  const int length = static_cast<int>(name.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, name.data(), length, nullptr, 0);
  std::vector<wchar_t> wide(static_cast<std::size_t>(size));
  MultiByteToWideChar(CP_ACP, 0, name.data(), length, wide.data(), size);
  return std::u16string(wide.begin(), wide.end());
}

void Win32Registry::DoCloseKey(KeyHandle handle) noexcept {
  RegCloseKey(reinterpret_cast<HKEY>(handle));
}

}  // namespace plg
