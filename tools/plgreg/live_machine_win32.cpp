#include "tools/plgreg/live_machine.h"

#include <windows.h>

#include "platform/win32/win32_enumerating_registry.h"
#include "tools/plgreg/module_file.h"

namespace plg::tool {

namespace {

// Opens `name` beneath `parent` for reading; false when it is not there.
bool OpenForCopy(Win32EnumeratingRegistry& registry, const RegKey& parent, const std::string& name,
                 const std::string& path, RegKey* key) {
  const RegStatus status = registry.OpenKey(parent, name, kKeyRead, key);
  if (status == kSuccess) return true;
  if (status == kErrorFileNotFound) return false;
  throw UnreadableMachine("cannot read [" + path + "]: error " + std::to_string(status));
}

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
    if (!OpenForCopy(registry, key, name, path + "\\" + name, &child)) continue;
    CopyTree(registry, child, path + "\\" + name, image, depth + 1);
  }
}

}  // namespace

std::unique_ptr<MemoryRegistry> ReadLiveMachine(const std::vector<std::string>& paths) {
  auto image = std::make_unique<MemoryRegistry>();
  image->SetAnsiPathLimit(0);
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
    if (!OpenForCopy(registry, RegKey::Root(root), relative, path, &key)) continue;
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
  return path.substr(0, slash + 1) + "plgproduct.dll";
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

namespace {

std::wstring LongPathOf(const std::string& path) {
  const int length =
      MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
  // Short names resolve only where the file exists; elsewhere the path stays.
  const DWORD needed = GetLongPathNameW(wide.c_str(), nullptr, 0);
  if (needed == 0) return wide;
  std::wstring resolved(needed, L'\0');
  const DWORD written = GetLongPathNameW(wide.c_str(), resolved.data(), needed);
  if (written == 0 || written >= needed) return wide;
  resolved.resize(written);
  return resolved;
}

}  // namespace

bool SameModulePath(const std::string& a, const std::string& b) {
  const std::wstring first = LongPathOf(a);
  const std::wstring second = LongPathOf(b);
  return CompareStringOrdinal(first.data(), static_cast<int>(first.size()), second.data(),
                              static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace plg::tool
