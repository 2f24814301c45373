#include "tools/plgreg/live_machine.h"

#include <windows.h>

#include "platform/win32/win32_enumerating_registry.h"

namespace plg::tool {

namespace {

void CopyValues(Win32EnumeratingRegistry& registry, const RegKey& key, const std::string& path,
                MemoryRegistry* image) {
  std::string name;
  RegValue value;
  for (std::uint32_t index = 0; registry.EnumValue(key, index, &name, &value) == kSuccess;
       ++index) {
    image->SeedValue(path, name, value.type, std::move(value.data));
  }
}

void CopyTree(Win32EnumeratingRegistry& registry, const RegKey& key, const std::string& path,
              MemoryRegistry* image, int depth) {
  image->SeedKey(path);
  CopyValues(registry, key, path, image);
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
  Win32EnumeratingRegistry registry;
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

std::optional<std::string> ModuleBesideProgram() {
  // The ANSI form, as the module's own GetModuleFileNameA gives its path.
  char program[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  std::string path(program, length);
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return std::nullopt;
  path = path.substr(0, slash + 1) + "plgproduct.dll";
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return path;
}

}  // namespace plg::tool
