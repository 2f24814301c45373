#include "platform/registry.h"

#include <cassert>
#include <utility>

#include "platform/registry_data.h"

namespace plg {

const char* RootName(RegistryRoot root) {
  return root == RegistryRoot::kClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_LOCAL_MACHINE";
}

RegKey::~RegKey() { Close(); }

RegKey::RegKey(RegKey&& other) noexcept
    : registry_(std::exchange(other.registry_, nullptr)),
      handle_(std::exchange(other.handle_, 0)),
      root_(other.root_),
      is_root_(std::exchange(other.is_root_, false)),
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
  return key;
}

RegKey RegKey::LocalMachine() { return Root(RegistryRoot::kLocalMachine); }
RegKey RegKey::ClassesRoot() { return Root(RegistryRoot::kClassesRoot); }

void RegKey::Close() noexcept {
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
  // The path is built before the key is opened: running out of memory then
  // leaves nothing open.
  std::string_view name = path;
  if (!name.empty() && name.back() == '\\') name.remove_suffix(1);
  std::string full;
  full.reserve(parent.path().size() + 1 + name.size());
  full.append(parent.path()).append(1, '\\').append(name);
  RegKey made(parent.root(), std::move(full));
  KeyHandle handle = 0;
  const RegStatus status = (this->*call)(parent, path, access, &handle);
  if (status != kSuccess) return status;
  ++open_keys_;
  made.registry_ = this;
  made.handle_ = handle;
  *key = std::move(made);
  return status;
}

Registry::~Registry() {
  // A key that outlived its registry would close through a dead object.
  assert(open_keys_ == 0 && "a RegKey outlived its Registry");
}

void Registry::CloseKey(KeyHandle handle) noexcept {
  --open_keys_;
  DoCloseKey(handle);
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
