#include "tools/plgreg/live_machine.h"

#include <windows.h>

#include "platform/win32/win32_registry.h"

namespace plg::tool {

namespace {

// Values are enumerated here directly: registration never enumerates values,
// so the registry seam does not offer it.
void CopyValues(const RegKey& key, const std::string& path, MemoryRegistry* image) {
  const HKEY hkey = key.is_root() ? (key.root() == RegistryRoot::kClassesRoot
                                         ? HKEY_CLASSES_ROOT
                                         : HKEY_LOCAL_MACHINE)
                                  : reinterpret_cast<HKEY>(key.handle());
  DWORD max_name = 0;
  DWORD max_data = 0;
  if (RegQueryInfoKeyA(hkey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       &max_name, &max_data, nullptr, nullptr) != ERROR_SUCCESS) {
    return;
  }
  std::vector<char> name(max_name + 1);
  std::vector<BYTE> data(max_data + 1);
  for (DWORD index = 0;; ++index) {
    DWORD name_size = static_cast<DWORD>(name.size());
    DWORD data_size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    const LSTATUS status = RegEnumValueA(hkey, index, name.data(), &name_size, nullptr, &type,
                                         data.data(), &data_size);
    if (status != ERROR_SUCCESS) break;
    image->SeedValue(path, std::string(name.data(), name_size), type,
                     std::vector<std::uint8_t>(data.begin(), data.begin() + data_size));
  }
}

void CopyTree(Win32Registry& registry, const RegKey& key, const std::string& path,
              MemoryRegistry* image, int depth) {
  image->SeedKey(path);
  CopyValues(key, path, image);
  // Deeper than any key registration writes; a guard against cycles of links.
  if (depth > 32) return;
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    if (registry.EnumKey(key, index, 2048, &name) != kSuccess) break;
    RegKey child;
    if (registry.OpenKey(key, name, kKeyRead, &child) != kSuccess) continue;
    CopyTree(registry, child, path + "\\" + name, image, depth + 1);
  }
}

}  // namespace

std::unique_ptr<MemoryRegistry> ReadLiveMachine(const std::vector<std::string>& paths) {
  auto image = std::make_unique<MemoryRegistry>();
  Win32Registry registry;
  for (const std::string& path : paths) {
    const std::size_t slash = path.find('\\');
    if (slash == std::string::npos) continue;
    const std::string root_name = path.substr(0, slash);
    RegistryRoot root;
    if (root_name == "HKEY_LOCAL_MACHINE") {
      root = RegistryRoot::kLocalMachine;
    } else if (root_name == "HKEY_CLASSES_ROOT") {
      root = RegistryRoot::kClassesRoot;
    } else {
      continue;
    }
    // The keys on the way there that exist, without their contents: the
    // containers the footprint leaves out (HKEY_CLASSES_ROOT\CLSID) would
    // otherwise count as missing once none of the keys beneath them is left.
    const std::string relative = path.substr(slash + 1);
    for (std::size_t at = relative.find('\\'); at != std::string::npos;
         at = relative.find('\\', at + 1)) {
      RegKey ancestor;
      if (registry.OpenKey(RegKey::Root(root), relative.substr(0, at), kKeyRead, &ancestor) ==
          kSuccess) {
        image->SeedKey(root_name + "\\" + relative.substr(0, at));
      }
    }
    RegKey key;
    if (registry.OpenKey(RegKey::Root(root), relative, kKeyRead, &key) != kSuccess) continue;
    CopyTree(registry, key, path, image.get(), 0);
  }
  return image;
}

}  // namespace plg::tool
