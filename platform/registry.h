// The registry seam: the only way registration code reaches the Windows
// registry. Two implementations stand behind it: Win32Registry (the ANSI
// advapi32 calls, Windows builds only) and MemoryRegistry (an in-memory model
// of the same semantics, with fault injection, for Linux tests and tools).
//
// Nothing here includes <windows.h>: status codes, access masks and value
// types carry the Win32 numbers as plain integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plg {

// Win32 error codes (LSTATUS) as the registry calls return them.
using RegStatus = long;
inline constexpr RegStatus kSuccess = 0;
inline constexpr RegStatus kErrorFileNotFound = 2;
inline constexpr RegStatus kErrorAccessDenied = 5;
inline constexpr RegStatus kErrorInvalidHandle = 6;
inline constexpr RegStatus kErrorOutOfMemory = 14;
inline constexpr RegStatus kErrorInvalidParameter = 87;
inline constexpr RegStatus kErrorBadPathname = 161;
inline constexpr RegStatus kErrorMoreData = 234;
inline constexpr RegStatus kErrorNoMoreItems = 259;
inline constexpr RegStatus kErrorKeyDeleted = 1018;
inline constexpr RegStatus kErrorChildMustBeVolatile = 1021;

// Access masks (REGSAM).
using RegAccess = std::uint32_t;
inline constexpr RegAccess kKeyRead = 0x20019;
inline constexpr RegAccess kKeyAllAccess = 0xF003F;
// Opening with this mask is what RegOpenKeyA does; Win32Registry calls
// RegOpenKeyA for it.
inline constexpr RegAccess kMaximumAllowed = 0x02000000;

// Value types (REG_*).
using ValueType = std::uint32_t;
inline constexpr ValueType kRegNone = 0;
inline constexpr ValueType kRegSz = 1;
inline constexpr ValueType kRegExpandSz = 2;
inline constexpr ValueType kRegBinary = 3;
inline constexpr ValueType kRegDword = 4;
inline constexpr ValueType kRegMultiSz = 7;

// The predefined roots that registration uses.
enum class RegistryRoot : std::uint8_t { kLocalMachine, kClassesRoot };

// "HKEY_LOCAL_MACHINE" or "HKEY_CLASSES_ROOT".
const char* RootName(RegistryRoot root);

class Registry;

// Opaque per-implementation handle value.
using KeyHandle = std::uintptr_t;

// An open registry key, or one of the predefined roots. Move-only; closes its
// handle on destruction or Close(); roots are never closed. It also carries
// the full path it was opened by ("HKEY_CLASSES_ROOT\Pellagor Language\CLSID"),
// which messages and events name and the in-memory registry's faults match.
//
// A key never outlives the Registry it came from: it closes through that
// registry, and a registry destroyed with keys still open is a bug, which
// Registry's destructor stops in debug builds (tests/machine checks it).
class RegKey {
 public:
  RegKey() = default;
  ~RegKey();
  RegKey(RegKey&& other) noexcept;
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  static RegKey LocalMachine();
  static RegKey ClassesRoot();
  static RegKey Root(RegistryRoot root);

  bool valid() const { return is_root_ || registry_ != nullptr; }
  bool is_root() const { return is_root_; }
  RegistryRoot root() const { return root_; }
  KeyHandle handle() const { return handle_; }
  // The full path; a root's is its name ("HKEY_LOCAL_MACHINE"), which a
  // root key does not copy.
  std::string_view path() const { return is_root_ ? std::string_view(RootName(root_)) : path_; }

  // Closes the key now (no-op for roots and empty keys).
  void Close() noexcept;

 private:
  friend class Registry;
  RegKey(RegistryRoot root, std::string path) : root_(root), path_(std::move(path)) {}

  Registry* registry_ = nullptr;  // null for roots and empty keys
  KeyHandle handle_ = 0;
  RegistryRoot root_ = RegistryRoot::kLocalMachine;
  bool is_root_ = false;
  std::string path_;  // empty for roots
};

// One value as read back.
struct RegValue {
  ValueType type = kRegNone;
  std::vector<std::uint8_t> data;
};

// What RegQueryInfoKeyA reports that registration uses.
struct KeyInfo {
  std::uint32_t subkeys = 0;
  std::uint32_t values = 0;
};

// The registry operations that registration needs, with Win32 semantics.
//
// Every call returns a Win32 status; out-parameters are left untouched when a
// call fails. Key paths are relative to `parent`, single backslashes between
// key names. The public calls refuse paths that could address a root by
// accident before an implementation sees them (IsSafeKeyPath).
class Registry {
 public:
  Registry() = default;
  // Every key opened through the registry must be closed by then (RegKey).
  virtual ~Registry();
  // Open keys belong to the registry they were opened through.
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Keys opened through this registry and not closed yet (roots excluded).
  std::size_t open_keys() const { return open_keys_; }

  // The UTF-16 name that the ANSI calls address with the single-byte name
  // `name`: the system's ANSI code page (GetACP) turns each byte into a
  // character.
  virtual std::u16string WideNameOf(std::string_view name) const = 0;

  // RegCreateKeyExA(parent, path, 0, "", 0, access, NULL, &key, NULL):
  // creates missing keys along the path, or opens the existing key.
  // kErrorBadPathname for an unsafe path.
  [[nodiscard]] RegStatus CreateKey(const RegKey& parent, std::string_view path, RegAccess access,
                                    RegKey* key);

  // Opens an existing key (RegOpenKeyExA; RegOpenKeyA for kMaximumAllowed).
  // The path may end in one backslash. kErrorBadPathname for an unsafe path.
  [[nodiscard]] RegStatus OpenKey(const RegKey& parent, std::string_view path, RegAccess access,
                                  RegKey* key);

  // RegSetValueExA. An empty name writes the key's default value. For string
  // types, as in Win32, a size that stops just before a terminating zero is
  // extended over it, so `data` must be readable one byte past `size` when
  // data[size - 1] is not zero.
  [[nodiscard]] RegStatus SetValue(const RegKey& key, std::string_view name, ValueType type,
                                   const void* data, std::size_t size);

  // REG_SZ of `text` with its terminating zero counted.
  [[nodiscard]] RegStatus SetString(const RegKey& key, std::string_view name,
                                    const std::string& text);
  // REG_DWORD, four bytes little-endian.
  [[nodiscard]] RegStatus SetDword(const RegKey& key, std::string_view name, std::uint32_t number);

  // RegQueryValueExA into a buffer of `capacity` bytes. kErrorMoreData when
  // the data does not fit; kErrorFileNotFound for a missing value (also a
  // default value never set).
  [[nodiscard]] RegStatus QueryValue(const RegKey& key, std::string_view name, std::size_t capacity,
                                     RegValue* value);

  // RegQueryInfoKeyA: the numbers of subkeys and values (the default value
  // counts once it is set).
  [[nodiscard]] RegStatus QueryInfo(const RegKey& key, KeyInfo* info);

  // RegEnumKeyExA: the name of subkey `index`, in a buffer of `capacity`
  // characters (terminating zero included). kErrorMoreData when the name does
  // not fit, kErrorNoMoreItems past the end.
  [[nodiscard]] RegStatus EnumKey(const RegKey& key, std::uint32_t index, std::size_t capacity,
                                  std::string* name);
  // RegEnumKeyExW: as EnumKey, in UTF-16 units.
  [[nodiscard]] RegStatus EnumKeyW(const RegKey& key, std::uint32_t index, std::size_t capacity,
                                   std::u16string* name);

  // RegDeleteKeyA: deletes a key that has no subkeys. kErrorAccessDenied when
  // it has some, kErrorFileNotFound when it is missing, kErrorBadPathname for
  // an unsafe path (the empty path included: it would delete `parent`).
  [[nodiscard]] RegStatus DeleteKey(const RegKey& parent, std::string_view path);

  // RegDeleteValueA. kErrorFileNotFound when the value is missing.
  [[nodiscard]] RegStatus DeleteValue(const RegKey& key, std::string_view name);

 protected:
  virtual RegStatus DoCreateKey(const RegKey& parent, std::string_view path, RegAccess access,
                                KeyHandle* handle) = 0;
  virtual RegStatus DoOpenKey(const RegKey& parent, std::string_view path, RegAccess access,
                              KeyHandle* handle) = 0;
  virtual RegStatus DoSetValue(const RegKey& key, std::string_view name, ValueType type,
                               const void* data, std::size_t size) = 0;
  virtual RegStatus DoQueryValue(const RegKey& key, std::string_view name, std::size_t capacity,
                                 RegValue* value) = 0;
  virtual RegStatus DoQueryInfo(const RegKey& key, KeyInfo* info) = 0;
  virtual RegStatus DoEnumKey(const RegKey& key, std::uint32_t index, std::size_t capacity,
                              std::string* name) = 0;
  virtual RegStatus DoEnumKeyW(const RegKey& key, std::uint32_t index, std::size_t capacity,
                               std::u16string* name) = 0;
  virtual RegStatus DoDeleteKey(const RegKey& parent, std::string_view path) = 0;
  virtual RegStatus DoDeleteValue(const RegKey& key, std::string_view name) = 0;
  // Called from destructors: must not throw.
  virtual void DoCloseKey(KeyHandle handle) noexcept = 0;

 private:
  friend class RegKey;
  void CloseKey(KeyHandle handle) noexcept;

  std::size_t open_keys_ = 0;

  using KeyCall = RegStatus (Registry::*)(const RegKey&, std::string_view, RegAccess, KeyHandle*);
  // Checks `parent` and the path, makes `call` and wraps its handle in `key`.
  RegStatus CallForKey(KeyCall call, bool safe_path, const RegKey& parent, std::string_view path,
                       RegAccess access, RegKey* key);
};

// True for a path that names a key strictly beneath its parent: not empty, no
// leading or trailing backslash, no empty component ("a\\b"). Windows folds
// such paths onto the parent or the root ("CLSID\" is HKCR\CLSID itself), so
// a missing string resource would turn a step's key into a root.
bool IsSafeKeyPath(std::string_view path);

// As IsSafeKeyPath, but allows one trailing backslash: read-only opens of
// container keys are written that way.
bool IsSafeOpenPath(std::string_view path);

}  // namespace plg
