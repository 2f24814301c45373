#include "machine/memory_registry.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <utility>

#include "platform/registry_data.h"

namespace plg {

namespace {

struct FoldedLess {
  using is_transparent = void;
  template <typename A, typename B>
  bool operator()(const A& a, const B& b) const {
    return CompareFolded(a, b) < 0;
  }
};

// `parent`, then each key name of `path`, into `full` (whose memory is kept).
void JoinPath(std::string_view parent, std::string_view path, std::string* full) {
  full->assign(parent);
  EachKeyName(path, [&](std::string_view part) {
    full->append(1, '\\').append(part);
    return true;
  });
}

// Bytes 0x80 to 0xFF of code page 1251 (0x98, which it leaves undefined,
// maps to the control character of the same number, as Windows maps it).
constexpr char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

constexpr std::size_t kLoggedPathRoom = 128;

bool IsValueOp(RegOp op) {
  return op == RegOp::kSetValue || op == RegOp::kQueryValue || op == RegOp::kDeleteValue;
}

}  // namespace

struct MemoryRegistry::Node : std::enable_shared_from_this<Node> {
  struct Value {
    std::u16string name;
    ValueType type;
    std::vector<std::uint8_t> data;
  };

  std::u16string name;
  Node* parent = nullptr;
  bool deleted = false;
  // Keyed by the child's own `name`, compared folded; a handle keeps its
  // node alive after deletion.
  std::map<std::u16string_view, std::shared_ptr<Node>, FoldedLess> children;
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

  // `child` may go with its entry: nothing of it is used after the erase.
  void RemoveChild(const Node& child) {
    enumeration_valid = false;
    children.erase(children.find(child.name));
  }

  template <typename Name>
  std::vector<Value>::iterator ValueNamed(const Name& value_name) {
    return std::find_if(values.begin(), values.end(), [&](const Value& value) {
      return CompareFolded(std::u16string_view(value.name), value_name) == 0;
    });
  }

  template <typename Name>
  Value* FindValue(const Name& value_name) {
    auto it = ValueNamed(value_name);
    return it == values.end() ? nullptr : &*it;
  }

  void AddValue(Value value) {
    // Most keys hold one to three values: room for them at once, instead of
    // a new block at the first, second and third.
    if (values.empty()) values.reserve(4);
    values.push_back(std::move(value));
  }

  template <typename Name>
  Node* Child(const Name& child_name) const {
    auto it = children.find(child_name);
    return it == children.end() ? nullptr : it->second.get();
  }

  Node* AddChild(std::u16string child_name) {
    auto node = std::make_shared<Node>();
    node->name = std::move(child_name);
    node->parent = this;
    Node* added = node.get();
    children.emplace(added->name, std::move(node));
    enumeration_valid = false;
    return added;
  }

  void MarkDeleted() {
    deleted = true;
    for (auto& [child_name, child] : children) child->MarkDeleted();
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
    case RegOp::kEnumValue: return "EnumValue";
  }
  return "?";
}

bool RegEntry::operator==(const RegEntry& other) const {
  return key == other.key && is_value == other.is_value && name == other.name &&
         type == other.type && data == other.data;
}

MemoryRegistry::MemoryRegistry() : machine_(std::make_shared<Node>()) {
  // A registration makes about 150 calls and an unregistration about 200.
  calls_.reserve(256);
  machine_->name = u"HKEY_LOCAL_MACHINE";
  classes_ = machine_->AddChild(u"Software")->AddChild(u"Classes");
}

MemoryRegistry::~MemoryRegistry() = default;

std::unique_ptr<MemoryRegistry> MemoryRegistry::Clone() const {
  struct Copier {
    const Node* classes;
    Node* classes_copy = nullptr;
    void Copy(const Node& from, Node* to) {
      if (&from == classes) classes_copy = to;
      to->values = from.values;
      for (const auto& [child_name, child] : from.children) Copy(*child, to->AddChild(child->name));
    }
  } copier{classes_};
  auto clone = std::make_unique<MemoryRegistry>();
  clone->machine_ = std::make_shared<Node>();
  clone->machine_->name = machine_->name;
  copier.Copy(*machine_, clone->machine_.get());
  clone->classes_ = copier.classes_copy;
  clone->faults_ = faults_;
  clone->code_page_ = code_page_;
  clone->ansi_path_limit_ = ansi_path_limit_;
  return clone;
}

void MemoryRegistry::InjectFault(RegFault fault) {
  std::u16string canonical = fault.path.empty() ? std::u16string() : CanonicalKeyPath(fault.path);
  faults_.push_back(ActiveFault{std::move(fault), std::move(canonical), 0});
}

void MemoryRegistry::ClearFaults() { faults_.clear(); }

void MemoryRegistry::ClearCalls() {
  // The entries go to the spares with their strings' memory: the next calls
  // write their paths into it instead of allocating each anew. Without room
  // for them, they just go.
  try {
    spare_calls_.reserve(spare_calls_.size() + calls_.size());
    for (RegCall& call : calls_) spare_calls_.push_back(std::move(call));
  } catch (const std::bad_alloc&) {
  }
  calls_.clear();
}

RegStatus MemoryRegistry::Intercept(RegOp op, std::string_view parent, std::string_view path,
                                    std::string_view value) {
  // Filled apart and logged last: when memory runs out on the way, the log
  // holds no half-written entry.
  RegCall call{};
  if (!spare_calls_.empty()) {
    call = std::move(spare_calls_.back());
    spare_calls_.pop_back();
  } else {
    // Room for the paths registration writes, so that the entry can be
    // reused for any of them.
    call.path.reserve(kLoggedPathRoom);
  }
  call.op = op;
  JoinPath(parent, path, &call.path);
  call.value.assign(value);
  call.status = kSuccess;
  // The call's canonical path, made once and only when a fault names a key.
  std::optional<std::u16string> canonical;
  for (ActiveFault& active : faults_) {
    const RegFault& fault = active.fault;
    if (fault.op != RegOp::kAny && fault.op != op) continue;
    if (!fault.path.empty()) {
      if (!canonical) canonical = CanonicalKeyPath(call.path);
      if (active.canonical_path != *canonical) continue;
    }
    if (fault.value && (!IsValueOp(op) || !EqualsFolded(*fault.value, value))) {
      continue;
    }
    const int index = active.seen++;
    if (index < fault.after) continue;
    if (fault.times >= 0 && index >= fault.after + fault.times) continue;
    call.status = fault.error;
    break;
  }
  const RegStatus status = call.status;
  calls_.push_back(std::move(call));
  return status;
}

RegStatus MemoryRegistry::NodeFor(const RegKey& key, Node** node) const {
  if (key.is_root()) {
    *node = key.root() == RegistryRoot::kClassesRoot ? classes_ : machine_.get();
    return kSuccess;
  }
  auto it = FindHandle(key.handle());
  if (it == handles_.end()) return kErrorInvalidHandle;
  if (it->second->deleted) return kErrorKeyDeleted;
  *node = it->second.get();
  return kSuccess;
}

KeyHandle MemoryRegistry::AddHandle(Node* node) {
  const KeyHandle handle = next_handle_;
  next_handle_ += 4;
  handles_.emplace_back(handle, node->shared_from_this());
  return handle;
}

// Few keys are open at a time, the last opened most often used: a search
// from the back beats a tree and allocates nothing.
std::vector<std::pair<KeyHandle, std::shared_ptr<MemoryRegistry::Node>>>::const_iterator
MemoryRegistry::FindHandle(KeyHandle handle) const {
  auto it = std::find_if(handles_.rbegin(), handles_.rend(),
                         [&](const auto& entry) { return entry.first == handle; });
  return it == handles_.rend() ? handles_.end() : std::prev(it.base());
}

// Refusals every call that takes a subkey path makes before it looks.
RegStatus MemoryRegistry::EnterSubkeyCall(RegOp op, const RegKey& parent, std::string_view path,
                                          Node** node) {
  if (RegStatus fault = Intercept(op, parent.path(), path, {})) return fault;
  if (!path.empty() && path.front() == '\\') return kErrorBadPathname;
  if (ansi_path_limit_ != 0 && path.size() > ansi_path_limit_) return kErrorMoreData;
  return NodeFor(parent, node);
}

RegStatus MemoryRegistry::DoCreateKey(const RegKey& parent, std::string_view path, RegAccess,
                                      KeyHandle* handle) {
  Node* node = nullptr;
  if (RegStatus status = EnterSubkeyCall(RegOp::kCreateKey, parent, path, &node)) return status;
  const bool names_fit =
      EachKeyName(path, [](std::string_view part) { return part.size() <= kMaxKeyNameLength; });
  if (!names_fit) return kErrorInvalidParameter;
  EachKeyName(path, [&](std::string_view part) {
    Node* child = AnsiChild(*node, part);
    node = child != nullptr ? child : node->AddChild(WideNameOf(part));
    return true;
  });
  *handle = AddHandle(node);
  return kSuccess;
}

RegStatus MemoryRegistry::DoOpenKey(const RegKey& parent, std::string_view path, RegAccess,
                                    KeyHandle* handle) {
  Node* node = nullptr;
  if (RegStatus status = EnterSubkeyCall(RegOp::kOpenKey, parent, path, &node)) return status;
  RegStatus status = kSuccess;
  EachKeyName(path, [&](std::string_view part) {
    if (part.size() > kMaxKeyNameLength) {
      status = kErrorInvalidParameter;
    } else if ((node = AnsiChild(*node, part)) == nullptr) {
      status = kErrorFileNotFound;
    }
    return status == kSuccess;
  });
  if (status != kSuccess) return status;
  *handle = AddHandle(node);
  return kSuccess;
}

RegStatus MemoryRegistry::DoSetValue(const RegKey& key, std::string_view name, ValueType type,
                                     const void* data, std::size_t size) {
  if (RegStatus fault = Intercept(RegOp::kSetValue, key.path(), {}, name)) return fault;
  Node* node = nullptr;
  if (RegStatus status = NodeFor(key, &node)) return status;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  // RegSetValueExA counts a terminating zero the caller left out.
  if (IsStringType(type) && size > 0 && bytes[size - 1] != 0 && bytes[size] == 0) {
    ++size;
  }
  if (Node::Value* existing = node->FindValue(AnsiName{name})) {
    existing->type = type;
    existing->data.assign(bytes, bytes + size);
  } else {
    node->AddValue(
        Node::Value{AnsiToUtf16(name), type, std::vector<std::uint8_t>(bytes, bytes + size)});
  }
  return kSuccess;
}

RegStatus MemoryRegistry::DoQueryValue(const RegKey& key, std::string_view name,
                                       std::size_t capacity, RegValue* value) {
  if (RegStatus fault = Intercept(RegOp::kQueryValue, key.path(), {}, name)) return fault;
  Node* node = nullptr;
  if (RegStatus status = NodeFor(key, &node)) return status;
  const Node::Value* found = node->FindValue(AnsiName{name});
  if (found == nullptr) return kErrorFileNotFound;
  if (found->data.size() > capacity) return kErrorMoreData;
  value->type = found->type;
  value->data = found->data;
  return kSuccess;
}

RegStatus MemoryRegistry::DoQueryInfo(const RegKey& key, KeyInfo* info) {
  if (RegStatus fault = Intercept(RegOp::kQueryInfo, key.path(), {}, {})) return fault;
  Node* node = nullptr;
  if (RegStatus status = NodeFor(key, &node)) return status;
  info->subkeys = static_cast<std::uint32_t>(node->children.size());
  info->values = static_cast<std::uint32_t>(node->values.size());
  return kSuccess;
}

// What both enumeration calls share: the log, the checks, the child.
RegStatus MemoryRegistry::ChildToEnumerate(const RegKey& key, std::uint32_t index,
                                           std::size_t capacity, const Node** child) {
  if (RegStatus fault = Intercept(RegOp::kEnumKey, key.path(), {}, {})) return fault;
  Node* node = nullptr;
  if (RegStatus status = NodeFor(key, &node)) return status;
  const Node* found = node->ChildAt(index);
  if (found == nullptr) return kErrorNoMoreItems;
  // Code page 1252 is single-byte, so the ANSI name has as many characters.
  if (found->name.size() + 1 > capacity) return kErrorMoreData;
  *child = found;
  return kSuccess;
}

RegStatus MemoryRegistry::DoEnumKeyW(const RegKey& key, std::uint32_t index, std::size_t capacity,
                                     std::u16string* name) {
  const Node* child = nullptr;
  if (RegStatus status = ChildToEnumerate(key, index, capacity, &child)) return status;
  *name = child->name;
  return kSuccess;
}

RegStatus MemoryRegistry::DoEnumKey(const RegKey& key, std::uint32_t index, std::size_t capacity,
                                    std::string* name) {
  const Node* child = nullptr;
  if (RegStatus status = ChildToEnumerate(key, index, capacity, &child)) return status;
  // Into the caller's string: an enumeration reuses one buffer.
  name->clear();
  if (code_page_ == 1252) {
    for (char16_t c : child->name) name->push_back(AnsiOf(c));
  } else {
    *name = AnsiNameOf(child->name);
  }
  return kSuccess;
}

RegStatus MemoryRegistry::DoDeleteKey(const RegKey& parent, std::string_view path) {
  if (RegStatus fault = Intercept(RegOp::kDeleteKey, parent.path(), path, {})) {
    return fault;
  }
  if (!path.empty() && path.front() == '\\') return kErrorBadPathname;
  Node* node = nullptr;
  if (RegStatus status = NodeFor(parent, &node)) return status;
  const bool found = EachKeyName(path, [&](std::string_view part) {
    node = AnsiChild(*node, part);
    return node != nullptr;
  });
  if (!found) return kErrorFileNotFound;
  if (!node->children.empty()) return kErrorAccessDenied;
  if (node->parent == nullptr || node == classes_) return kErrorAccessDenied;
  Remove(node);
  return kSuccess;
}

RegStatus MemoryRegistry::DoDeleteValue(const RegKey& key, std::string_view name) {
  if (RegStatus fault = Intercept(RegOp::kDeleteValue, key.path(), {}, name)) return fault;
  Node* node = nullptr;
  if (RegStatus status = NodeFor(key, &node)) return status;
  auto it = node->ValueNamed(AnsiName{name});
  if (it == node->values.end()) return kErrorFileNotFound;
  node->values.erase(it);
  return kSuccess;
}

RegStatus MemoryRegistry::DoEnumValue(const RegKey& key, std::uint32_t index, std::string* name,
                                      RegValue* value) {
  if (RegStatus fault = Intercept(RegOp::kEnumValue, key.path(), {}, {})) return fault;
  Node* node = nullptr;
  if (RegStatus status = NodeFor(key, &node)) return status;
  if (index >= node->values.size()) return kErrorNoMoreItems;
  const Node::Value& found = node->values[index];
  *name = Utf16ToAnsi(found.name);
  value->type = found.type;
  value->data = found.data;
  return kSuccess;
}

std::u16string MemoryRegistry::WideNameOf(std::string_view name) const {
  if (code_page_ == 1252) return AnsiToUtf16(name);
  std::u16string wide;
  for (char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    wide += byte < 0x80 ? static_cast<char16_t>(byte) : kCp1251High[byte - 0x80];
  }
  return wide;
}

std::string MemoryRegistry::AnsiNameOf(std::u16string_view name) const {
  std::string narrow;
  for (char16_t c : name) {
    const char16_t* hit = std::find(std::begin(kCp1251High), std::end(kCp1251High), c);
    narrow += c < 0x80                       ? static_cast<char>(c)
              : hit != std::end(kCp1251High) ? static_cast<char>(0x80 + (hit - kCp1251High))
                                             : '?';
  }
  return narrow;
}

MemoryRegistry::Node* MemoryRegistry::AnsiChild(const Node& node, std::string_view part) const {
  if (code_page_ == 1252) return node.Child(AnsiName{part});
  const std::u16string wide = WideNameOf(part);
  return node.Child(std::u16string_view(wide));
}

void MemoryRegistry::DoCloseKey(KeyHandle handle) noexcept {
  auto it = FindHandle(handle);
  if (it != handles_.end()) handles_.erase(it);
}

void MemoryRegistry::Remove(Node* node) {
  // Open handles keep the node; without one it goes with its parent's
  // entry, so it is marked first and unlinked last.
  node->MarkDeleted();
  node->parent->RemoveChild(*node);
}

MemoryRegistry::Node* MemoryRegistry::RootOf(std::string_view name) const {
  if (EqualsFolded(name, "HKEY_CLASSES_ROOT")) return classes_;
  if (EqualsFolded(name, "HKEY_LOCAL_MACHINE")) return machine_.get();
  return nullptr;
}

MemoryRegistry::Node* MemoryRegistry::FindPath(std::string_view full_path) const {
  Node* node = nullptr;
  EachKeyName(full_path, [&](std::string_view part) {
    node = node == nullptr ? RootOf(part) : node->Child(AnsiName{part});
    return node != nullptr;
  });
  return node;
}

MemoryRegistry::Node* MemoryRegistry::MakePath(std::string_view full_path) {
  Node* node = nullptr;
  EachKeyName(full_path, [&](std::string_view part) {
    if (node == nullptr) {
      node = RootOf(part);
    } else {
      Node* child = node->Child(AnsiName{part});
      node = child != nullptr ? child : node->AddChild(AnsiToUtf16(part));
    }
    return node != nullptr;
  });
  return node;
}

void MemoryRegistry::SeedKey(std::string_view path) { MakePath(path); }

void MemoryRegistry::SeedValue(std::string_view path, std::string_view name, ValueType type,
                               std::vector<std::uint8_t> data) {
  Node* node = MakePath(path);
  if (node == nullptr) return;
  if (Node::Value* existing = node->FindValue(AnsiName{name})) {
    existing->type = type;
    existing->data = std::move(data);
  } else {
    node->AddValue(Node::Value{AnsiToUtf16(name), type, std::move(data)});
  }
}

void MemoryRegistry::SeedString(std::string_view path, std::string_view name,
                                std::string_view text) {
  SeedValue(path, name, kRegSz, EncodeText(text));
}

void MemoryRegistry::SeedDword(std::string_view path, std::string_view name, std::uint32_t number) {
  const auto bytes = EncodeDword(number);
  SeedValue(path, name, kRegDword, {bytes.begin(), bytes.end()});
}

void MemoryRegistry::SeedKeyW(std::string_view parent, std::u16string_view name) {
  Node* node = MakePath(parent);
  if (node != nullptr && node->Child(name) == nullptr) node->AddChild(std::u16string(name));
}

bool MemoryRegistry::KeyExists(std::string_view path) const { return FindPath(path) != nullptr; }

std::vector<RegEntry> MemoryRegistry::Snapshot(std::string_view path) const {
  std::vector<RegEntry> entries;
  const Node* top = FindPath(path);
  if (top == nullptr) return entries;
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
      for (const auto& [child_name, child] : node.children) {
        const std::string name = Utf16ToAnsi(child_name);
        Walk(*child, relative.empty() ? name : relative + "\\" + name);
      }
    }
  };
  Walker{entries}.Walk(*top, "");
  return entries;
}

void MemoryRegistry::Erase(std::string_view path) {
  Node* node = FindPath(path);
  if (node == nullptr || node->parent == nullptr || node == classes_) return;
  Remove(node);
}

void MemoryRegistry::EraseValue(std::string_view path, std::string_view name) {
  Node* node = FindPath(path);
  if (node == nullptr) return;
  auto it = node->ValueNamed(AnsiName{name});
  if (it != node->values.end()) node->values.erase(it);
}

}  // namespace plg
