#include "platform/registry.h"

#include <utility>

#include "platform/registry_data.h"

namespace plg {

const char* RootName(RegistryRoot root) {
  return root == RegistryRoot::kClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_LOCAL_MACHINE";
}

RegKey::RegKey(Registry* registry, KeyHandle handle, RegistryRoot root, std::string path)
    : registry_(registry), handle_(handle), root_(root), path_(std::move(path)) {}

RegKey::~RegKey() { Close(); }

RegKey::RegKey(RegKey&& other) noexcept
    : registry_(std::exchange(other.registry_, nullptr)),
      handle_(std::exchange(other.handle_, 0)),
      is_root_(std::exchange(other.is_root_, false)),
      root_(other.root_),
      path_(std::move(other.path_)) {}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    Close();
    registry_ = std::exchange(other.registry_, nullptr);
    handle_ = std::exchange(other.handle_, 0);
    is_root_ = std::exchange(other.is_root_, false);
    root_ = other.root_;
    path_ = std::move(other.path_);
  }
  return *this;
}

RegKey RegKey::Root(RegistryRoot root) {
  RegKey key;
  key.is_root_ = true;
  key.root_ = root;
  key.path_ = RootName(root);
  return key;
}

RegKey RegKey::LocalMachine() { return Root(RegistryRoot::kLocalMachine); }
RegKey RegKey::ClassesRoot() { return Root(RegistryRoot::kClassesRoot); }

void RegKey::Close() {
  if (registry_ != nullptr) {
    registry_->CloseKey(handle_);
  }
  registry_ = nullptr;
  handle_ = 0;
  is_root_ = false;
  path_.clear();
}

namespace {

bool HasEmptyComponent(std::string_view path) {
  if (path.empty() || path.front() == '\\' || path.back() == '\\') return true;
  return path.find("\\\\") != std::string_view::npos;
}

// Makes `call` into a result of its own and hands that to `out` only when
// the call succeeds: a failed read leaves the caller's variable as it was.
template <typename Result, typename Call>
RegStatus ReadInto(const RegKey& key, Result* out, Call call) {
  if (!key.valid()) return kErrorInvalidHandle;
  Result read{};
  const RegStatus status = call(&read);
  if (status == kSuccess) *out = std::move(read);
  return status;
}

}  // namespace

bool IsSafeKeyPath(std::string_view path) { return !HasEmptyComponent(path); }

bool IsSafeOpenPath(std::string_view path) {
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return IsSafeKeyPath(path);
}

RegKey Registry::MakeKey(const RegKey& parent, std::string_view path) {
  std::string full = parent.path();
  full += '\\';
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  full.append(path);
  // Not yet a key of this registry: CallForKey makes it one once it is open.
  return RegKey(nullptr, 0, parent.root(), std::move(full));
}

RegStatus Registry::CreateKey(const RegKey& parent, std::string_view path, RegAccess access,
                              RegKey* key) {
  return CallForKey(&Registry::DoCreateKey, IsSafeKeyPath(path), parent, path, access, key);
}

RegStatus Registry::OpenKey(const RegKey& parent, std::string_view path, RegAccess access,
                            RegKey* key) {
  return CallForKey(&Registry::DoOpenKey, IsSafeOpenPath(path), parent, path, access, key);
}

RegStatus Registry::CallForKey(KeyCall call, bool safe_path, const RegKey& parent,
                               std::string_view path, RegAccess access, RegKey* key) {
  if (!parent.valid()) return kErrorInvalidHandle;
  if (!safe_path) return kErrorBadPathname;
  // Everything that allocates comes before the key is opened.
  auto* record = new OpenKeyRecord{open_keys_, 0};
  RegKey made = MakeKey(parent, path);
  const RegStatus status = (this->*call)(parent, path, access, &record->handle);
  if (status != kSuccess) {
    delete record;
    return status;
  }
  open_keys_ = record;
  made.registry_ = this;
  made.handle_ = record->handle;
  *key = std::move(made);
  return status;
}

Registry::~Registry() {
  while (open_keys_ != nullptr) delete std::exchange(open_keys_, open_keys_->next);
}

void Registry::CloseKey(KeyHandle handle) {
  for (OpenKeyRecord** link = &open_keys_; *link != nullptr; link = &(*link)->next) {
    if ((*link)->handle == handle) {
      OpenKeyRecord* record = *link;
      *link = record->next;
      delete record;
      break;
    }
  }
  DoCloseKey(handle);
}

void Registry::CloseOpenKeys() {
  while (open_keys_ != nullptr) {
    OpenKeyRecord* record = open_keys_;
    open_keys_ = record->next;
    DoCloseKey(record->handle);
    delete record;
  }
}

RegStatus Registry::SetValue(const RegKey& key, std::string_view name, ValueType type,
                             const void* data, std::size_t size) {
  if (!key.valid()) return kErrorInvalidHandle;
  return DoSetValue(key, name, type, data, size);
}

RegStatus Registry::SetString(const RegKey& key, std::string_view name, const std::string& text) {
  return SetValue(key, name, kRegSz, text.c_str(), TextDataSize(text));
}

RegStatus Registry::SetDword(const RegKey& key, std::string_view name, std::uint32_t number) {
  const auto bytes = EncodeDword(number);
  return SetValue(key, name, kRegDword, bytes.data(), bytes.size());
}

RegStatus Registry::QueryValue(const RegKey& key, std::string_view name, std::size_t capacity,
                               RegValue* value) {
  return ReadInto(key, value,
                  [&](RegValue* read) { return DoQueryValue(key, name, capacity, read); });
}

RegStatus Registry::QueryInfo(const RegKey& key, KeyInfo* info) {
  return ReadInto(key, info, [&](KeyInfo* read) { return DoQueryInfo(key, read); });
}

RegStatus Registry::EnumKey(const RegKey& key, std::uint32_t index, std::size_t capacity,
                            std::string* name) {
  return ReadInto(key, name,
                  [&](std::string* read) { return DoEnumKey(key, index, capacity, read); });
}

RegStatus Registry::EnumKeyW(const RegKey& key, std::uint32_t index, std::size_t capacity,
                             std::u16string* name) {
  return ReadInto(key, name,
                  [&](std::u16string* read) { return DoEnumKeyW(key, index, capacity, read); });
}

RegStatus Registry::DeleteKey(const RegKey& parent, std::string_view path) {
  if (!parent.valid()) return kErrorInvalidHandle;
  if (!IsSafeKeyPath(path)) return kErrorBadPathname;
  return DoDeleteKey(parent, path);
}

RegStatus Registry::DeleteValue(const RegKey& key, std::string_view name) {
  if (!key.valid()) return kErrorInvalidHandle;
  return DoDeleteValue(key, name);
}

}  // namespace plg
