#include "registry/registry_helpers.h"

#include <string>
#include <vector>

#include "registry/registry_paths.h"
#include "resources/product_strings.h"

namespace plg {

namespace {

// Reads of installation data are bounded like the buffers the shared
// system's own tools use; a longer value counts as unreadable.
constexpr std::size_t kReadBufferSize = 4096;
// Subkey names longer than this end the enumeration of a tree deletion.
constexpr std::size_t kEnumNameCapacity = 2048;

// The value's bytes up to the first zero: the text a C reader would see,
// without reading past the returned length.
std::string TextOf(const RegValue& value) {
  std::string text;
  for (std::uint8_t byte : value.data) {
    if (byte == 0) break;
    text += static_cast<char>(byte);
  }
  return text;
}

std::string ReadDefaultText(Platform& platform, const RegKey& key, std::string_view name,
                            bool* ok) {
  RegValue value;
  *ok = platform.registry.QueryValue(key, name, kReadBufferSize, &value) == kSuccess;
  return *ok ? TextOf(value) : std::string();
}

bool DeleteTreeAtDepth(Platform& platform, RegistryRoot root, const std::string& path, int depth) {
  Registry& registry = platform.registry;
  {
    RegKey key;
    if (depth < kMaxRegistryDepth &&
        registry.OpenKey(RegKey::Root(root), path, kKeyAllAccess, &key) == kSuccess) {
      std::vector<std::string> children;
      std::string name;
      for (std::uint32_t index = 0;
           registry.EnumKey(key, index, kEnumNameCapacity, &name) == kSuccess; ++index) {
        std::string child;
        child.reserve(path.size() + 1 + name.size());
        children.push_back(std::move(child.append(path).append(1, '\\').append(name)));
      }
      // Nothing is deleted while the key is open for enumeration.
      key.Close();
      for (const std::string& child : children) {
        static_cast<void>(DeleteTreeAtDepth(platform, root, child, depth + 1));
      }
    }
  }
  return registry.DeleteKey(RegKey::Root(root), path) == kSuccess;
}

}  // namespace

bool CreateKeyOrReport(Platform& platform, RegistryRoot root, std::string_view path,
                       const char* message, RegKey* key) {
  const RegStatus status =
      platform.registry.CreateKey(RegKey::Root(root), path, kKeyAllAccess, key);
  if (status == kSuccess) return true;
  if (message != nullptr) {
    ReportRegistrationError(platform, message,
                            {std::string(RootName(root)) + "\\" + std::string(path), status});
  }
  return false;
}

bool CreateProductVersionKeyOrReport(Platform& platform, std::string_view software,
                                     std::string_view subkey, const char* message, RegKey* key) {
  return CreateKeyOrReport(platform, RegistryRoot::kLocalMachine,
                           GetProductVersionKeyPath(platform, software, subkey), message, key);
}

bool SetRegistryString(Platform& platform, const RegKey& key, std::string_view value_name,
                       const std::string& text) {
  return platform.registry.SetString(key, value_name, text) == kSuccess;
}

bool SetRegistryStringOrReport(Platform& platform, const RegKey& key, std::string_view value_name,
                               const std::string& text, const std::string& message) {
  const RegStatus status = platform.registry.SetString(key, value_name, text);
  if (status == kSuccess) return true;
  ReportRegistrationError(
      platform, message,
      {std::string(key.path()) + " value \"" + std::string(value_name) + "\"", status});
  return false;
}

bool DeleteRegistryTree(Platform& platform, RegistryRoot root, const std::string& path) {
  if (!IsSafeKeyPath(path)) return false;
  return DeleteTreeAtDepth(platform, root, path, 0);
}

std::string GetInstallDirectory(Platform& platform, InstallDirectory kind) {
  const char* value_name = nullptr;
  switch (kind) {
    case InstallDirectory::kBin: value_name = "bin"; break;
    case InstallDirectory::kHelp: value_name = "help"; break;
    case InstallDirectory::kLib: value_name = "lib"; break;
    case InstallDirectory::kRoot: value_name = "root"; break;
  }
  if (value_name == nullptr) return {};
  RegKey key;
  if (platform.registry.OpenKey(RegKey::LocalMachine(), GetDirKeyPath(), kKeyRead, &key) !=
      kSuccess) {
    return {};
  }
  bool ok = false;
  std::string directory = ReadDefaultText(platform, key, value_name, &ok);
  // The bin directory enters quoted command lines, where a quote would end
  // the executable's path early: it counts as unreadable.
  if (kind == InstallDirectory::kBin && directory.find('"') != std::string::npos) return {};
  return directory;
}

int CountOptionsValues(Platform& platform) {
  RegKey key;
  if (platform.registry.OpenKey(RegKey::LocalMachine(), GetOptionsKeyPath(), kKeyAllAccess, &key) !=
      kSuccess) {
    return 0;
  }
  KeyInfo info;
  if (platform.registry.QueryInfo(key, &info) != kSuccess) return 0;
  return static_cast<int>(info.values);
}

bool IsProductVersionCurrent(Platform& platform) {
  const std::string prog_id = LoadProductString(platform, kApplicationProgId);
  const std::string marker = prog_id + " " + LoadProductString(platform, kMajorVersion) +
                             LoadProductString(platform, kMinorVersion);
  // Only a marker key that is not there (or cannot even be named, string 439
  // missing) counts as this version's: one that exists but cannot be opened
  // or read may name another version.
  RegKey key;
  const RegStatus opened =
      platform.registry.OpenKey(RegKey::ClassesRoot(), prog_id + "\\CurVer", kKeyRead, &key);
  if (opened != kSuccess) return opened == kErrorFileNotFound || opened == kErrorBadPathname;
  bool ok = false;
  std::string current = ReadDefaultText(platform, key, "", &ok);
  if (!ok) return false;
  if (current.size() > marker.size()) current.resize(marker.size());
  return current == marker;
}

void ReportRegistrationError(Platform& platform, const std::string& text,
                             const RegFailure& failure) {
  std::string detail;
  if (!failure.path.empty()) {
    detail = failure.path;
    if (failure.status != kSuccess) detail += ": error " + std::to_string(failure.status);
  }
  // The event first: a box may stay open for long, or for good.
  platform.events.WriteError(text, failure.path, failure.status);
  platform.reporter.Show(text, detail);
}

}  // namespace plg
