#include "platform/memory_registry.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace plg {

namespace {

// Code page 1252, bytes 0x80 to 0x9F; the rest match Latin-1. The five bytes
// 1252 leaves undefined map to the control characters of the same number, as
// Windows maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Key names compare as Windows compares them: by upper-cased UTF-16.
char16_t UpperCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  switch (c) {
    case 0xFF: return 0x0178;
    case 0x0161: return 0x0160;
    case 0x0153: return 0x0152;
    case 0x017E: return 0x017D;
    default: return c;
  }
}

std::u16string Fold(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) c = UpperCase(c);
  return folded;
}

// Wine refuses longer subkey names; Windows' own limit is 255.
constexpr std::size_t kMaxKeyNameLength = 256;

bool IsStringType(ValueType type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// Splits a subkey path as the registry does: runs of backslashes separate,
// a trailing one is ignored.
std::vector<std::u16string> SplitPath(std::string_view path) {
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(AnsiToUtf16(path.substr(start, end - start)));
    start = end + 1;
  }
  return parts;
}

std::string JoinPath(const std::string& parent, std::string_view path) {
  std::string full = parent;
  for (const std::u16string& part : SplitPath(path)) {
    full += '\\';
    full += Utf16ToAnsi(part);
  }
  return full;
}

bool IsValueOp(RegOp op) {
  return op == RegOp::kSetValue || op == RegOp::kQueryValue ||
         op == RegOp::kDeleteValue;
}

}  // namespace

struct MemoryRegistry::Node {
  struct Value {
    std::u16string name;
    ValueType type;
    std::vector<std::uint8_t> data;
  };

  std::u16string name;
  Node* parent = nullptr;
  bool deleted = false;
  std::map<std::u16string, std::shared_ptr<Node>> children;  // by Fold(name)
  std::vector<Value> values;

  // Enumeration by index walks `children` in order; callers enumerate index
  // 0, 1, 2, ..., so without this cache a full enumeration would cost the
  // square of the number of subkeys. Rebuilt after any change of `children`.
  mutable std::vector<const Node*> enumeration;
  mutable bool enumeration_valid = false;

  const Node* ChildAt(std::size_t index) const {
    if (!enumeration_valid) {
      enumeration.clear();
      enumeration.reserve(children.size());
      for (const auto& entry : children) enumeration.push_back(entry.second.get());
      enumeration_valid = true;
    }
    return index < enumeration.size() ? enumeration[index] : nullptr;
  }

  void RemoveChild(const Node& child) {
    children.erase(Fold(child.name));
    enumeration_valid = false;
  }

  Value* FindValue(std::u16string_view value_name) {
    const std::u16string folded = Fold(value_name);
    for (Value& value : values) {
      if (Fold(value.name) == folded) return &value;
    }
    return nullptr;
  }

  std::shared_ptr<Node> Child(std::u16string_view child_name) const {
    auto it = children.find(Fold(child_name));
    return it == children.end() ? nullptr : it->second;
  }

  std::shared_ptr<Node> AddChild(std::u16string child_name) {
    auto node = std::make_shared<Node>();
    node->name = std::move(child_name);
    node->parent = this;
    children[Fold(node->name)] = node;
    enumeration_valid = false;
    return node;
  }

  void MarkDeleted() {
    deleted = true;
    for (auto& [folded, child] : children) child->MarkDeleted();
    children.clear();
    enumeration.clear();
    enumeration_valid = false;
  }
};

const char* RegOpName(RegOp op) {
  switch (op) {
    case RegOp::kCreateKey: return "CreateKey";
    case RegOp::kOpenKey: return "OpenKey";
    case RegOp::kSetValue: return "SetValue";
    case RegOp::kQueryValue: return "QueryValue";
    case RegOp::kQueryInfo: return "QueryInfo";
    case RegOp::kEnumKey: return "EnumKey";
    case RegOp::kDeleteKey: return "DeleteKey";
    case RegOp::kDeleteValue: return "DeleteValue";
    case RegOp::kAny: return "Any";
  }
  return "?";
}

bool RegEntry::operator==(const RegEntry& other) const {
  return key == other.key && is_value == other.is_value && name == other.name &&
         type == other.type && data == other.data;
}

std::u16string AnsiToUtf16(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    wide += (byte >= 0x80 && byte < 0xA0) ? kCp1252High[byte - 0x80]
                                           : static_cast<char16_t>(byte);
  }
  return wide;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      narrow += static_cast<char>(c);
      continue;
    }
    const char16_t* hit = std::find(std::begin(kCp1252High), std::end(kCp1252High), c);
    narrow += hit == std::end(kCp1252High)
                  ? '?'
                  : static_cast<char>(0x80 + (hit - std::begin(kCp1252High)));
  }
  return narrow;
}

// "HKEY_CLASSES_ROOT\x" and "HKEY_LOCAL_MACHINE\Software\Classes\x" name the
// same key; the canonical form folds case, separators and that alias.
std::u16string CanonicalKeyPath(std::string_view path) {
  std::u16string canonical;
  for (const std::u16string& part : SplitPath(path)) {
    if (!canonical.empty()) canonical += u'\\';
    canonical += Fold(part);
  }
  const std::u16string classes = u"HKEY_CLASSES_ROOT";
  if (canonical.compare(0, classes.size(), classes) == 0 &&
      (canonical.size() == classes.size() || canonical[classes.size()] == u'\\')) {
    canonical.replace(0, classes.size(), u"HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES");
  }
  return canonical;
}

MemoryRegistry::MemoryRegistry() : machine_(std::make_shared<Node>()) {
  machine_->name = u"HKEY_LOCAL_MACHINE";
  classes_ = machine_->AddChild(u"Software")->AddChild(u"Classes");
}

MemoryRegistry::~MemoryRegistry() = default;

void MemoryRegistry::InjectFault(RegFault fault) {
  faults_.push_back(ActiveFault{std::move(fault), 0});
}

void MemoryRegistry::ClearFaults() { faults_.clear(); }

RegStatus MemoryRegistry::Intercept(RegOp op, const std::string& path,
                                    std::string_view value) {
  RegStatus status = kSuccess;
  const std::u16string canonical = faults_.empty() ? std::u16string() : CanonicalKeyPath(path);
  for (ActiveFault& active : faults_) {
    const RegFault& fault = active.fault;
    if (fault.op != RegOp::kAny && fault.op != op) continue;
    if (!fault.path.empty() && CanonicalKeyPath(fault.path) != canonical) continue;
    if (fault.value && (!IsValueOp(op) ||
                        Fold(AnsiToUtf16(*fault.value)) != Fold(AnsiToUtf16(value)))) {
      continue;
    }
    const int index = active.seen++;
    if (index < fault.after) continue;
    if (fault.times >= 0 && index >= fault.after + fault.times) continue;
    status = fault.error;
    break;
  }
  calls_.push_back(RegCall{op, path, std::string(value), status});
  return status;
}

RegStatus MemoryRegistry::NodeFor(const RegKey& key,
                                  std::shared_ptr<Node>* node) const {
  if (key.is_root()) {
    *node = key.root() == RegistryRoot::kClassesRoot ? classes_ : machine_;
    return kSuccess;
  }
  auto it = handles_.find(key.handle());
  if (it == handles_.end()) return kErrorInvalidHandle;
  if (it->second->deleted) return kErrorKeyDeleted;
  *node = it->second;
  return kSuccess;
}

KeyHandle MemoryRegistry::AddHandle(std::shared_ptr<Node> node) {
  const KeyHandle handle = next_handle_;
  next_handle_ += 4;
  handles_[handle] = std::move(node);
  return handle;
}

RegStatus MemoryRegistry::DoCreateKey(const RegKey& parent,
                                      std::string_view path, RegAccess,
                                      KeyHandle* handle) {
  const std::string full = JoinPath(parent.path(), path);
  if (RegStatus fault = Intercept(RegOp::kCreateKey, full, {})) return fault;
  if (!path.empty() && path.front() == '\\') return kErrorBadPathname;
  if (ansi_path_limit_ != 0 && path.size() > ansi_path_limit_) return kErrorMoreData;
  std::shared_ptr<Node> node;
  if (RegStatus status = NodeFor(parent, &node)) return status;
  const std::vector<std::u16string> parts = SplitPath(path);
  for (const std::u16string& part : parts) {
    if (part.size() > kMaxKeyNameLength) return kErrorInvalidParameter;
  }
  for (const std::u16string& part : parts) {
    std::shared_ptr<Node> child = node->Child(part);
    node = child ? child : node->AddChild(part);
  }
  *handle = AddHandle(node);
  return kSuccess;
}

RegStatus MemoryRegistry::DoOpenKey(const RegKey& parent, std::string_view path,
                                    RegAccess, KeyHandle* handle) {
  const std::string full = JoinPath(parent.path(), path);
  if (RegStatus fault = Intercept(RegOp::kOpenKey, full, {})) return fault;
  if (!path.empty() && path.front() == '\\') return kErrorBadPathname;
  if (ansi_path_limit_ != 0 && path.size() > ansi_path_limit_) return kErrorMoreData;
  std::shared_ptr<Node> node;
  if (RegStatus status = NodeFor(parent, &node)) return status;
  for (const std::u16string& part : SplitPath(path)) {
    if (part.size() > kMaxKeyNameLength) return kErrorInvalidParameter;
    node = node->Child(part);
    if (!node) return kErrorFileNotFound;
  }
  *handle = AddHandle(node);
  return kSuccess;
}

RegStatus MemoryRegistry::DoSetValue(const RegKey& key, std::string_view name,
                                     ValueType type, const void* data,
                                     std::size_t size) {
  if (RegStatus fault = Intercept(RegOp::kSetValue, key.path(), name)) return fault;
  std::shared_ptr<Node> node;
  if (RegStatus status = NodeFor(key, &node)) return status;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  // RegSetValueExA counts a terminating zero the caller left out.
  if (IsStringType(type) && size > 0 && bytes[size - 1] != 0 && bytes[size] == 0) {
    ++size;
  }
  std::vector<std::uint8_t> stored(bytes, bytes + size);
  const std::u16string wide_name = AnsiToUtf16(name);
  if (Node::Value* existing = node->FindValue(wide_name)) {
    existing->type = type;
    existing->data = std::move(stored);
  } else {
    node->values.push_back(Node::Value{wide_name, type, std::move(stored)});
  }
  return kSuccess;
}

RegStatus MemoryRegistry::DoQueryValue(const RegKey& key, std::string_view name,
                                       std::size_t capacity, RegValue* value) {
  if (RegStatus fault = Intercept(RegOp::kQueryValue, key.path(), name)) return fault;
  std::shared_ptr<Node> node;
  if (RegStatus status = NodeFor(key, &node)) return status;
  const Node::Value* found = node->FindValue(AnsiToUtf16(name));
  if (found == nullptr) return kErrorFileNotFound;
  if (found->data.size() > capacity) return kErrorMoreData;
  value->type = found->type;
  value->data = found->data;
  return kSuccess;
}

RegStatus MemoryRegistry::DoQueryInfo(const RegKey& key, KeyInfo* info) {
  if (RegStatus fault = Intercept(RegOp::kQueryInfo, key.path(), {})) return fault;
  std::shared_ptr<Node> node;
  if (RegStatus status = NodeFor(key, &node)) return status;
  info->subkeys = static_cast<std::uint32_t>(node->children.size());
  info->values = static_cast<std::uint32_t>(node->values.size());
  return kSuccess;
}

RegStatus MemoryRegistry::DoEnumKeyW(const RegKey& key, std::uint32_t index,
                                     std::size_t capacity,
                                     std::u16string* name) {
  if (RegStatus fault = Intercept(RegOp::kEnumKey, key.path(), {})) return fault;
  std::shared_ptr<Node> node;
  if (RegStatus status = NodeFor(key, &node)) return status;
  const Node* child = node->ChildAt(index);
  if (child == nullptr) return kErrorNoMoreItems;
  if (child->name.size() + 1 > capacity) return kErrorMoreData;
  *name = child->name;
  return kSuccess;
}

RegStatus MemoryRegistry::DoEnumKey(const RegKey& key, std::uint32_t index,
                                    std::size_t capacity, std::string* name) {
  std::u16string wide;
  // Code page 1252 is single-byte, so the ANSI name has as many characters.
  if (RegStatus status = DoEnumKeyW(key, index, capacity, &wide)) return status;
  *name = Utf16ToAnsi(wide);
  return kSuccess;
}

RegStatus MemoryRegistry::DoDeleteKey(const RegKey& parent,
                                      std::string_view path) {
  const std::string full = JoinPath(parent.path(), path);
  if (RegStatus fault = Intercept(RegOp::kDeleteKey, full, {})) return fault;
  if (!path.empty() && path.front() == '\\') return kErrorBadPathname;
  std::shared_ptr<Node> node;
  if (RegStatus status = NodeFor(parent, &node)) return status;
  for (const std::u16string& part : SplitPath(path)) {
    node = node->Child(part);
    if (!node) return kErrorFileNotFound;
  }
  if (!node->children.empty()) return kErrorAccessDenied;
  if (node->parent == nullptr || node == classes_) return kErrorAccessDenied;
  std::shared_ptr<Node> keep = node;
  node->parent->RemoveChild(*node);
  node->MarkDeleted();
  return kSuccess;
}

RegStatus MemoryRegistry::DoDeleteValue(const RegKey& key,
                                        std::string_view name) {
  if (RegStatus fault = Intercept(RegOp::kDeleteValue, key.path(), name)) return fault;
  std::shared_ptr<Node> node;
  if (RegStatus status = NodeFor(key, &node)) return status;
  const std::u16string folded = Fold(AnsiToUtf16(name));
  auto it = std::find_if(node->values.begin(), node->values.end(),
                         [&](const Node::Value& v) { return Fold(v.name) == folded; });
  if (it == node->values.end()) return kErrorFileNotFound;
  node->values.erase(it);
  return kSuccess;
}

void MemoryRegistry::DoCloseKey(KeyHandle handle) { handles_.erase(handle); }

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::FindPath(
    std::string_view full_path) const {
  const std::u16string canonical = CanonicalKeyPath(full_path);
  const std::u16string machine = u"HKEY_LOCAL_MACHINE";
  if (canonical.compare(0, machine.size(), machine) != 0) return nullptr;
  std::shared_ptr<Node> node = machine_;
  std::size_t start = machine.size() + 1;
  while (node && start <= canonical.size()) {
    std::size_t end = canonical.find(u'\\', start);
    if (end == std::u16string::npos) end = canonical.size();
    if (end > start) node = node->Child(canonical.substr(start, end - start));
    start = end + 1;
  }
  return node;
}

std::shared_ptr<MemoryRegistry::Node> MemoryRegistry::MakePath(
    std::string_view full_path) {
  std::vector<std::u16string> parts = SplitPath(full_path);
  std::shared_ptr<Node> node;
  std::size_t first = 1;
  if (!parts.empty() && Fold(parts[0]) == u"HKEY_CLASSES_ROOT") {
    node = classes_;
  } else if (!parts.empty() && Fold(parts[0]) == u"HKEY_LOCAL_MACHINE") {
    node = machine_;
  } else {
    return nullptr;
  }
  for (std::size_t i = first; i < parts.size(); ++i) {
    std::shared_ptr<Node> child = node->Child(parts[i]);
    node = child ? child : node->AddChild(parts[i]);
  }
  return node;
}

void MemoryRegistry::SeedKey(std::string_view path) { MakePath(path); }

void MemoryRegistry::SeedValue(std::string_view path, std::string_view name,
                               ValueType type, std::vector<std::uint8_t> data) {
  std::shared_ptr<Node> node = MakePath(path);
  if (!node) return;
  const std::u16string wide_name = AnsiToUtf16(name);
  if (Node::Value* existing = node->FindValue(wide_name)) {
    existing->type = type;
    existing->data = std::move(data);
  } else {
    node->values.push_back(Node::Value{wide_name, type, std::move(data)});
  }
}

void MemoryRegistry::SeedString(std::string_view path, std::string_view name,
                                std::string_view text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  SeedValue(path, name, kRegSz, std::move(data));
}

void MemoryRegistry::SeedDword(std::string_view path, std::string_view name,
                               std::uint32_t number) {
  SeedValue(path, name, kRegDword,
            {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
             static_cast<std::uint8_t>(number >> 16),
             static_cast<std::uint8_t>(number >> 24)});
}

void MemoryRegistry::SeedKeyW(std::string_view parent, std::u16string_view name) {
  std::shared_ptr<Node> node = MakePath(parent);
  if (node && !node->Child(name)) node->AddChild(std::u16string(name));
}

bool MemoryRegistry::KeyExists(std::string_view path) const {
  return FindPath(path) != nullptr;
}

std::vector<RegEntry> MemoryRegistry::Snapshot(std::string_view path) const {
  std::vector<RegEntry> entries;
  std::shared_ptr<Node> top = FindPath(path);
  if (!top) return entries;
  struct Walker {
    std::vector<RegEntry>& out;
    void Walk(const Node& node, const std::string& relative) {
      RegEntry key;
      key.key = relative;
      out.push_back(key);
      for (const Node::Value& value : node.values) {
        RegEntry entry;
        entry.key = relative;
        entry.is_value = true;
        entry.name = Utf16ToAnsi(value.name);
        entry.type = value.type;
        entry.data = value.data;
        out.push_back(std::move(entry));
      }
      for (const auto& [folded, child] : node.children) {
        const std::string name = Utf16ToAnsi(child->name);
        Walk(*child, relative.empty() ? name : relative + "\\" + name);
      }
    }
  };
  Walker{entries}.Walk(*top, "");
  return entries;
}

void MemoryRegistry::Erase(std::string_view path) {
  std::shared_ptr<Node> node = FindPath(path);
  if (!node || node->parent == nullptr || node == classes_) return;
  std::shared_ptr<Node> keep = node;
  node->parent->RemoveChild(*node);
  node->MarkDeleted();
}

void MemoryRegistry::EraseValue(std::string_view path, std::string_view name) {
  std::shared_ptr<Node> node = FindPath(path);
  if (!node) return;
  const std::u16string folded = Fold(AnsiToUtf16(name));
  auto it = std::find_if(node->values.begin(), node->values.end(),
                         [&](const Node::Value& v) { return Fold(v.name) == folded; });
  if (it != node->values.end()) node->values.erase(it);
}

}  // namespace plg
