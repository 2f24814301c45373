#include "platform/win32/win32_enumerating_registry.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/win32/win32_hkey.h"

namespace plg {

RegStatus Win32EnumeratingRegistry::DoEnumValue(const RegKey& key, std::uint32_t index,
                                                std::string* name, RegValue* value) {
  const HKEY hkey = ToHkey(key);
  DWORD max_name = 0;
  DWORD max_data = 0;
  LSTATUS status = RegQueryInfoKeyA(hkey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, &max_name, &max_data, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return status;
  // The key's longest name and data, with a spare byte as in DoQueryValue. A
  // value written since may be longer: the call then tells the data size it
  // needs, and a name can never be longer than the registry's limit.
  constexpr DWORD kLongestValueName = 16383;
  std::vector<char> name_buffer(max_name + 1);
  std::vector<BYTE> data_buffer(max_data + 1);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD name_size = static_cast<DWORD>(name_buffer.size());
    DWORD data_size = static_cast<DWORD>(data_buffer.size());
    DWORD type = REG_NONE;
    status = RegEnumValueA(hkey, index, name_buffer.data(), &name_size, nullptr, &type,
                           data_buffer.data(), &data_size);
    if (status == ERROR_MORE_DATA) {
      name_buffer.resize(kLongestValueName + 1);
      data_buffer.resize(std::max<std::size_t>(data_buffer.size(), data_size + std::size_t{1}));
      continue;
    }
    if (status != ERROR_SUCCESS) return status;
    name->assign(name_buffer.data(), name_size);
    value->type = type;
    value->data.assign(data_buffer.begin(), data_buffer.begin() + data_size);
    return ERROR_SUCCESS;
  }
  return status;
}

}  // namespace plg
