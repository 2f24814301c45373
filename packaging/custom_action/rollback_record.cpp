#include "packaging/custom_action/rollback_record.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string_view>
#include <vector>

#include "registrar/owned_keys.h"
#include "registry/registry_helpers.h"

namespace plg {

namespace {

constexpr char kComplete[] = "Complete";
constexpr char kKeys[] = "\\Keys";
constexpr char kContent[] = "\\Content\\";
// A key name's 255 characters and the terminating zero.
constexpr std::size_t kNameCapacity = 256;
// Registry values hold at most a few megabytes in practice; no more is read.
constexpr std::size_t kMaxValueSize = std::size_t{1} << 24;

struct Location {
  RegistryRoot root;
  std::string path;  // beneath the root; empty for the root itself
};

Location Locate(std::string_view full) {
  const std::size_t slash = full.find('\\');
  const std::string_view root = full.substr(0, slash);
  Location location{root == RootName(RegistryRoot::kClassesRoot) ? RegistryRoot::kClassesRoot
                                                                 : RegistryRoot::kLocalMachine,
                    std::string()};
  if (slash != std::string_view::npos) location.path = std::string(full.substr(slash + 1));
  return location;
}

RegStatus Open(Platform& platform, const Location& location, RegAccess access, RegKey* key) {
  return platform.registry.OpenKey(RegKey::Root(location.root), location.path, access, key);
}

bool Exists(Platform& platform, const Location& location) {
  RegKey key;
  return Open(platform, location, kKeyRead, &key) == kSuccess;
}

// The first failure of a series of calls.
void Keep(RegStatus status, RegStatus* first) {
  if (status != kSuccess && *first == kSuccess) *first = status;
}

// Writes `value` as it was read: a string's bytes stay as they are (the
// byte past them is not a zero, so SetValue adds none).
RegStatus WriteExactly(Registry& registry, const RegKey& key, std::string_view name,
                       const RegValue& value) {
  std::vector<std::uint8_t> bytes = value.data;
  bytes.push_back(1);
  return registry.SetValue(key, name, value.type, bytes.data(), value.data.size());
}

RegStatus ReadValue(Registry& registry, const RegKey& key, std::string_view name, RegValue* value) {
  RegStatus status = kErrorMoreData;
  for (std::size_t capacity = 4096; status == kErrorMoreData && capacity <= kMaxValueSize;
       capacity *= 2) {
    status = registry.QueryValue(key, name, capacity, value);
  }
  return status;
}

// Copies the values and subkeys of `from` into `to`, every one of them.
RegStatus CopyTree(Platform& platform, RegistryValueEnumerator& enumerator, const RegKey& from,
                   const RegKey& to, int depth) {
  Registry& registry = platform.registry;
  RegStatus first = kSuccess;
  std::string name;
  RegValue value;
  for (std::uint32_t index = 0;; ++index) {
    const RegStatus status = enumerator.EnumValue(from, index, &name, &value);
    if (status == kErrorNoMoreItems) break;
    if (status != kSuccess) return status;
    Keep(WriteExactly(registry, to, name, value), &first);
  }
  for (std::uint32_t index = 0;; ++index) {
    const RegStatus status = registry.EnumKey(from, index, kNameCapacity, &name);
    if (status == kErrorNoMoreItems) break;
    if (status != kSuccess) return status;
    if (depth >= kMaxRegistryDepth) return kErrorBadPathname;
    RegKey source;
    RegKey target;
    RegStatus opened = registry.OpenKey(from, name, kKeyRead, &source);
    if (opened == kSuccess) opened = registry.CreateKey(to, name, kKeyAllAccess, &target);
    if (opened == kSuccess) opened = CopyTree(platform, enumerator, source, target, depth + 1);
    Keep(opened, &first);
  }
  return first;
}

// The owned key itself and each of its parents, roots left out.
std::vector<std::string> KeyAndParents(std::string_view full) {
  std::vector<std::string> paths;
  for (std::size_t slash = full.find('\\'); slash != std::string_view::npos;
       slash = full.find('\\', slash + 1)) {
    if (slash != full.find('\\')) paths.emplace_back(full.substr(0, slash));
  }
  paths.emplace_back(full);
  return paths;
}

RegStatus Record(Platform& platform, RegistryValueEnumerator& enumerator,
                 const std::string& record) {
  Registry& registry = platform.registry;
  RegKey keys;
  RegStatus status =
      registry.CreateKey(RegKey::LocalMachine(), record + kKeys, kKeyAllAccess, &keys);
  if (status != kSuccess) return status;
  for (std::size_t row = 0; row < std::size(kOwnedKeys); ++row) {
    const OwnedKey& owned = kOwnedKeys[row];
    for (const std::string& path : KeyAndParents(owned.path)) {
      status = registry.SetDword(keys, path, Exists(platform, Locate(path)) ? 1 : 0);
      if (status != kSuccess) return status;
    }
    RegKey key;
    if (owned.scope == OwnedScope::kOpenOnly ||
        Open(platform, Locate(owned.path), kKeyRead, &key) != kSuccess) {
      continue;
    }
    RegValue value;
    if (owned.scope == OwnedScope::kOneValue) {
      status = ReadValue(registry, key, owned.value, &value);
      if (status == kErrorFileNotFound) continue;
      if (status != kSuccess) return status;
    }
    RegKey copy;
    status = registry.CreateKey(RegKey::LocalMachine(), record + kContent + std::to_string(row),
                                kKeyAllAccess, &copy);
    if (status == kSuccess) {
      status = owned.scope == OwnedScope::kOneValue
                   ? WriteExactly(registry, copy, owned.value, value)
                   : CopyTree(platform, enumerator, key, copy, 0);
    }
    if (status != kSuccess) return status;
  }
  RegKey top;
  status = registry.OpenKey(RegKey::LocalMachine(), record, kKeyAllAccess, &top);
  return status == kSuccess ? registry.SetDword(top, kComplete, 1) : status;
}

bool IsComplete(Platform& platform, const std::string& record) {
  RegKey key;
  RegValue value;
  return platform.registry.OpenKey(RegKey::LocalMachine(), record, kKeyRead, &key) == kSuccess &&
         platform.registry.QueryValue(key, kComplete, 4, &value) == kSuccess &&
         value.type == kRegDword && value.data == std::vector<std::uint8_t>{1, 0, 0, 0};
}

// Deletes `location` with all it holds; kSuccess also when it was not there.
RegStatus DeleteTree(Platform& platform, const Location& location) {
  if (!Exists(platform, location)) return kSuccess;
  return DeleteRegistryTree(platform, location.root, location.path) ? kSuccess : kErrorAccessDenied;
}

RegStatus RestoreOwnedKey(Platform& platform, RegistryValueEnumerator& enumerator,
                          const std::string& record, std::size_t row) {
  Registry& registry = platform.registry;
  const OwnedKey& owned = kOwnedKeys[row];
  // A key only opened holds nothing of the module's; RemoveCreatedKeys
  // deletes it when it was not there before.
  if (owned.scope == OwnedScope::kOpenOnly) return kSuccess;
  const Location location = Locate(owned.path);
  RegKey copy;
  const bool recorded =
      registry.OpenKey(RegKey::LocalMachine(), record + kContent + std::to_string(row), kKeyRead,
                       &copy) == kSuccess;
  RegKey key;
  if (owned.scope == OwnedScope::kOneValue) {
    RegValue value;
    if (recorded && ReadValue(registry, copy, owned.value, &value) == kSuccess) {
      RegStatus status =
          registry.CreateKey(RegKey::Root(location.root), location.path, kKeyAllAccess, &key);
      return status == kSuccess ? WriteExactly(registry, key, owned.value, value) : status;
    }
    if (Open(platform, location, kKeyAllAccess, &key) != kSuccess) return kSuccess;
    const RegStatus status = registry.DeleteValue(key, owned.value);
    return status == kErrorFileNotFound ? kSuccess : status;
  }
  RegStatus status = DeleteTree(platform, location);
  if (status != kSuccess || !recorded) return status;
  status = registry.CreateKey(RegKey::Root(location.root), location.path, kKeyAllAccess, &key);
  return status == kSuccess ? CopyTree(platform, enumerator, copy, key, 0) : status;
}

// Deletes each key the record names as absent that is there now and empty,
// deepest first.
RegStatus RemoveCreatedKeys(Platform& platform, RegistryValueEnumerator& enumerator,
                            const std::string& record) {
  Registry& registry = platform.registry;
  RegKey keys;
  RegStatus status = registry.OpenKey(RegKey::LocalMachine(), record + kKeys, kKeyRead, &keys);
  if (status != kSuccess) return status;
  std::vector<std::string> absent;
  std::string name;
  RegValue value;
  for (std::uint32_t index = 0;; ++index) {
    status = enumerator.EnumValue(keys, index, &name, &value);
    if (status == kErrorNoMoreItems) break;
    if (status != kSuccess) return status;
    if (value.data == std::vector<std::uint8_t>{0, 0, 0, 0}) absent.push_back(name);
  }
  std::sort(absent.begin(), absent.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  RegStatus first = kSuccess;
  for (const std::string& path : absent) {
    const Location location = Locate(path);
    RegKey key;
    KeyInfo info;
    if (Open(platform, location, kKeyRead, &key) != kSuccess ||
        registry.QueryInfo(key, &info) != kSuccess || info.subkeys != 0 || info.values != 0) {
      continue;
    }
    key.Close();
    Keep(registry.DeleteKey(RegKey::Root(location.root), location.path), &first);
  }
  return first;
}

}  // namespace

bool IsProductCode(const std::string& text) {
  constexpr std::string_view kShape = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (kShape[i] == 'X' ? !std::isxdigit(c) : c != static_cast<unsigned char>(kShape[i])) {
      return false;
    }
  }
  return true;
}

std::string RollbackRecordPath(const std::string& product_code) {
  if (!IsProductCode(product_code)) return std::string();
  return std::string(kRollbackRecordsKey) + "\\" + product_code;
}

RegStatus TakeRollbackRecord(Platform& platform, RegistryValueEnumerator& registry,
                             const std::string& record) {
  RegStatus status = DeleteTree(platform, {RegistryRoot::kLocalMachine, record});
  if (status == kSuccess) status = Record(platform, registry, record);
  if (status != kSuccess) DeleteRollbackRecord(platform, record);
  return status;
}

RegStatus RestoreRollbackRecord(Platform& platform, RegistryValueEnumerator& registry,
                                const std::string& record) {
  if (!IsComplete(platform, record)) return kSuccess;
  RegStatus first = kSuccess;
  for (std::size_t row = 0; row < std::size(kOwnedKeys); ++row) {
    Keep(RestoreOwnedKey(platform, registry, record, row), &first);
  }
  Keep(RemoveCreatedKeys(platform, registry, record), &first);
  return first;
}

void DeleteRollbackRecord(Platform& platform, const std::string& record) {
  static_cast<void>(DeleteTree(platform, {RegistryRoot::kLocalMachine, record}));
  // Only once empty: another product's record may be there.
  static_cast<void>(platform.registry.DeleteKey(RegKey::LocalMachine(), kRollbackRecordsKey));
}

}  // namespace plg
