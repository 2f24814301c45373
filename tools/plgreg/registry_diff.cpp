#include "tools/plgreg/registry_diff.h"

#include <algorithm>
#include <map>

namespace plg::tool {

namespace {

constexpr char kMachine[] = "HKEY_LOCAL_MACHINE";
constexpr char kClassesPrefix[] = "SOFTWARE\\CLASSES\\";

// Names fold as the registry folds them; single-byte, so that keys and
// values sort by their bytes.
std::string Lower(const std::string& text) { return Utf16ToAnsi(LowerCaseName(text)); }

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

struct KeyImage {
  std::string relative;                           // beneath HKEY_LOCAL_MACHINE, as spelled
  std::map<std::string, const RegEntry*> values;  // by lower-cased name
};

// Keys by their lower-cased components, which orders them as reg export
// does: each key before its subkeys, siblings by name.
using MachineImage = std::map<std::vector<std::string>, KeyImage>;

MachineImage ImageOf(const std::vector<RegEntry>& entries) {
  MachineImage image;
  std::map<std::string, KeyImage*> by_relative;
  for (const RegEntry& entry : entries) {
    if (entry.key.empty()) continue;  // the root itself never changes
    if (!entry.is_value) {
      KeyImage& key = image[Components(Lower(entry.key))];
      key.relative = entry.key;
      by_relative[entry.key] = &key;
    } else {
      by_relative.at(entry.key)->values[Lower(entry.name)] = &entry;
    }
  }
  return image;
}

std::string DisplayPath(const std::string& relative) {
  const std::string_view prefix = kClassesPrefix;
  if (relative.size() >= prefix.size() &&
      EqualsFolded(std::string_view(relative).substr(0, prefix.size()), prefix)) {
    return "HKEY_CLASSES_ROOT\\" + relative.substr(prefix.size());
  }
  return std::string(kMachine) + "\\" + relative;
}

bool SameValue(const RegEntry& a, const RegEntry& b) {
  return a.type == b.type && a.data == b.data;
}

}  // namespace

std::vector<RegistryChange> DiffRegistries(const MemoryRegistry& before,
                                           const MemoryRegistry& after) {
  const std::vector<RegEntry> before_entries = before.Snapshot(kMachine);
  const std::vector<RegEntry> after_entries = after.Snapshot(kMachine);
  const MachineImage old_image = ImageOf(before_entries);
  const MachineImage new_image = ImageOf(after_entries);

  std::vector<std::vector<std::string>> keys;
  for (const auto& [components, key] : old_image) keys.push_back(components);
  for (const auto& [components, key] : new_image) keys.push_back(components);
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());

  std::vector<RegistryChange> changes;
  for (const std::vector<std::string>& components : keys) {
    const auto old_it = old_image.find(components);
    const auto new_it = new_image.find(components);
    if (new_it == new_image.end()) {
      // Only the top of a removed tree: its parent is still there.
      const std::vector<std::string> parent(components.begin(), components.end() - 1);
      if (parent.empty() || new_image.count(parent) != 0) {
        RegistryChange change;
        change.kind = RegistryChange::Kind::kRemoveKey;
        change.key = DisplayPath(old_it->second.relative);
        changes.push_back(std::move(change));
      }
      continue;
    }
    const KeyImage& now = new_it->second;
    const std::string path = DisplayPath(now.relative);
    static const KeyImage kNoKey;
    const KeyImage& was = old_it == old_image.end() ? kNoKey : old_it->second;
    if (old_it == old_image.end()) {
      RegistryChange change;
      change.kind = RegistryChange::Kind::kAddKey;
      change.key = path;
      changes.push_back(std::move(change));
    }
    std::vector<std::string> names;
    for (const auto& [name, entry] : was.values) names.push_back(name);
    for (const auto& [name, entry] : now.values) names.push_back(name);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (const std::string& name : names) {
      const auto old_value = was.values.find(name);
      const auto new_value = now.values.find(name);
      RegistryChange change;
      change.key = path;
      if (old_value != was.values.end()) {
        if (new_value != now.values.end() && SameValue(*old_value->second, *new_value->second)) {
          continue;
        }
        change.had_value = true;
        change.old_type = old_value->second->type;
        change.old_data = old_value->second->data;
        change.name = old_value->second->name;
      }
      if (new_value == now.values.end()) {
        change.kind = RegistryChange::Kind::kRemoveValue;
      } else {
        change.kind = RegistryChange::Kind::kSetValue;
        change.name = new_value->second->name;
        change.type = new_value->second->type;
        change.data = new_value->second->data;
      }
      changes.push_back(std::move(change));
    }
  }
  return changes;
}

RegFile ChangesAsRegFile(const std::vector<RegistryChange>& changes, RegFileFormat format) {
  RegFile file;
  file.format = format;
  for (const RegistryChange& change : changes) {
    const bool removes_key = change.kind == RegistryChange::Kind::kRemoveKey;
    if (file.keys.empty() || file.keys.back().path != change.key ||
        file.keys.back().remove != removes_key) {
      RegFileKey key;
      key.path = change.key;
      key.remove = removes_key;
      file.keys.push_back(std::move(key));
    }
    if (change.kind == RegistryChange::Kind::kSetValue ||
        change.kind == RegistryChange::Kind::kRemoveValue) {
      RegFileValue value;
      value.name = change.name;
      value.remove = change.kind == RegistryChange::Kind::kRemoveValue;
      value.type = change.type;
      value.data = change.data;
      file.keys.back().values.push_back(std::move(value));
    }
  }
  return file;
}

}  // namespace plg::tool
