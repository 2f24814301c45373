// An in-memory registry with the semantics of Wine's and Windows' registry
// as registration sees them through the ANSI calls, for Linux tests and
// tools. Faults can be injected per operation and key path, and every call is
// logged, so tests can drive each error path and check what was touched.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_names.h"
#include "platform/registry_value_enumerator.h"

namespace plg {

// The operations of Registry, for fault injection and the call log, and value
// enumeration after them.
enum class RegOp {
  kCreateKey,
  kOpenKey,
  kSetValue,
  kQueryValue,
  kQueryInfo,
  kEnumKey,
  kDeleteKey,
  kDeleteValue,
  kAny,
  // RegistryValueEnumerator's; registration never makes it. After kAny, so
  // that the fuzzer's choice among kCreateKey..kAny keeps its meaning.
  kEnumValue,
};

const char* RegOpName(RegOp op);

// A fault: matching calls fail with `error` instead of acting.
struct RegFault {
  RegOp op = RegOp::kAny;
  // Full key path the call addresses ("HKEY_CLASSES_ROOT\Pellagor Language"),
  // compared as the registry compares (case-insensitive, HKEY_CLASSES_ROOT
  // being HKEY_LOCAL_MACHINE\Software\Classes). Empty matches every key.
  std::string path;
  // For value operations: the value name ("" is the default value). Unset
  // matches every value. Value enumeration names no value: a fault with a
  // name never matches it.
  std::optional<std::string> value;
  RegStatus error = kErrorAccessDenied;
  // Let this many matching calls succeed before failing.
  int after = 0;
  // How many matching calls fail; -1 for all of them.
  int times = -1;
};

// One call as the log records it.
struct RegCall {
  RegOp op;
  std::string path;   // full key path addressed, as written by the caller
  std::string value;  // value name for value operations
  RegStatus status;
};

// One entry of a subtree, as Snapshot lists it.
struct RegEntry {
  std::string key;  // path relative to the snapshot's top ("" for the top)
  bool is_value = false;
  std::string name;  // value name when is_value ("" is the default value)
  ValueType type = kRegNone;
  std::vector<std::uint8_t> data;

  bool operator==(const RegEntry& other) const;
};

// Value enumeration (RegistryValueEnumerator) gives a key's values in the
// order they were created, as Windows does (Wine sorts them by name).
class MemoryRegistry : public Registry, public RegistryValueEnumerator {
 public:
  // Starts with HKEY_LOCAL_MACHINE\Software\Classes (HKEY_CLASSES_ROOT).
  MemoryRegistry();
  ~MemoryRegistry() override;

  // --- Fault injection and observation ---
  void InjectFault(RegFault fault);
  void ClearFaults();
  const std::vector<RegCall>& calls() const { return calls_; }
  void ClearCalls();
  // Wine refuses ANSI subkey paths longer than 260 characters; Windows does
  // not. 0 lifts the limit.
  void SetAnsiPathLimit(std::size_t limit) { ansi_path_limit_ = limit; }
  // The system's ANSI code page, which turns the ANSI calls' names into the
  // stored UTF-16 ones: 1252 (the default, English locales) or 1251
  // (Cyrillic). The key names of the calls follow it (value names, seeds and
  // snapshots stay 1252), and only the case folding of 1252's letters is
  // modelled.
  void SetAnsiCodePage(unsigned code_page) { code_page_ = code_page; }
  std::u16string WideNameOf(std::string_view name) const override;

  // Handles opened and not yet closed (roots excluded).
  std::size_t open_handles() const { return handles_.size(); }

  // A deep copy, for running registration on a machine without changing it:
  // every key and value with its name as spelt (UTF-16 names included), the
  // injected faults with the matching calls each has counted so far, and the
  // ANSI path limit. The copy starts with an empty call log and no open
  // handles: those belong to this registry's keys.
  std::unique_ptr<MemoryRegistry> Clone() const;

  // --- Direct access for tests and tools; no faults, not logged ---
  // `path` is a full path starting with HKEY_LOCAL_MACHINE or
  // HKEY_CLASSES_ROOT.
  void SeedKey(std::string_view path);
  void SeedValue(std::string_view path, std::string_view name, ValueType type,
                 std::vector<std::uint8_t> data);
  // REG_SZ with the terminating zero.
  void SeedString(std::string_view path, std::string_view name, std::string_view text);
  void SeedDword(std::string_view path, std::string_view name, std::uint32_t number);
  // A subkey whose name is given in UTF-16 (names the ANSI calls cannot
  // spell). The parent is created if missing.
  void SeedKeyW(std::string_view parent, std::u16string_view name);
  bool KeyExists(std::string_view path) const;
  // Every key and value beneath and including `path`, depth first, subkeys in
  // enumeration order, values in creation order. Empty if the key is missing.
  std::vector<RegEntry> Snapshot(std::string_view path) const;
  // Removes `path` and everything beneath it (no-op if missing).
  void Erase(std::string_view path);
  // Removes the value `name` of `path` ("" is the default value); no-op if
  // either is missing.
  void EraseValue(std::string_view path, std::string_view name);

  struct Node;

 protected:
  RegStatus DoCreateKey(const RegKey& parent, std::string_view path, RegAccess access,
                        KeyHandle* handle) override;
  RegStatus DoOpenKey(const RegKey& parent, std::string_view path, RegAccess access,
                      KeyHandle* handle) override;
  RegStatus DoSetValue(const RegKey& key, std::string_view name, ValueType type, const void* data,
                       std::size_t size) override;
  RegStatus DoQueryValue(const RegKey& key, std::string_view name, std::size_t capacity,
                         RegValue* value) override;
  RegStatus DoQueryInfo(const RegKey& key, KeyInfo* info) override;
  RegStatus DoEnumKey(const RegKey& key, std::uint32_t index, std::size_t capacity,
                      std::string* name) override;
  RegStatus DoEnumKeyW(const RegKey& key, std::uint32_t index, std::size_t capacity,
                       std::u16string* name) override;
  RegStatus DoDeleteKey(const RegKey& parent, std::string_view path) override;
  RegStatus DoDeleteValue(const RegKey& key, std::string_view name) override;
  void DoCloseKey(KeyHandle handle) noexcept override;
  RegStatus DoEnumValue(const RegKey& key, std::uint32_t index, std::string* name,
                        RegValue* value) override;

 private:
  struct ActiveFault {
    RegFault fault;
    std::u16string canonical_path;  // of fault.path, made once
    int seen = 0;
  };

  // Logs the call on the key `parent`\`path` (either may be empty) and
  // answers the first matching fault's error, or success.
  RegStatus Intercept(RegOp op, std::string_view parent, std::string_view path,
                      std::string_view value);
  RegStatus NodeFor(const RegKey& key, Node** node) const;
  std::vector<std::pair<KeyHandle, std::shared_ptr<Node>>>::const_iterator FindHandle(
      KeyHandle handle) const;
  // What creating or opening `path` beneath `parent` checks first: an
  // injected fault, the path's form and length, the parent's handle. Gives
  // the parent's node.
  RegStatus EnterSubkeyCall(RegOp op, const RegKey& parent, std::string_view path, Node** node);
  RegStatus ChildToEnumerate(const RegKey& key, std::uint32_t index, std::size_t capacity,
                             const Node** child);
  KeyHandle AddHandle(Node* node);
  // Unlinks `node` from its parent and marks it and its subtree deleted.
  void Remove(Node* node);
  // The root a full path starts with, or nullptr.
  Node* RootOf(std::string_view name) const;
  Node* FindPath(std::string_view full_path) const;
  Node* MakePath(std::string_view full_path);

  // A child of `node` named by the ANSI name `part`, or nullptr.
  Node* AnsiChild(const Node& node, std::string_view part) const;
  // The ANSI form of a stored name in the code page ('?' where it has none).
  std::string AnsiNameOf(std::u16string_view name) const;

  unsigned code_page_ = 1252;
  std::shared_ptr<Node> machine_;
  Node* classes_ = nullptr;  // owned beneath machine_
  std::vector<std::pair<KeyHandle, std::shared_ptr<Node>>> handles_;
  KeyHandle next_handle_ = 0x1000;
  std::vector<ActiveFault> faults_;
  std::vector<RegCall> calls_;
  // Entries cleared from the log, kept for their strings' memory.
  std::vector<RegCall> spare_calls_;
  std::size_t ansi_path_limit_ = 260;
};

}  // namespace plg
