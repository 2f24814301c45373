// Registry helpers that every registration step shares: creating keys and
// writing strings with the step's message, deleting trees, reading the
// shared system's installation data and the class version marker. Only
// ReportRegistrationError and the *OrReport helpers show anything; the others
// return false, 0 or an empty string, and the callers decide what to report.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/registry.h"

namespace plg {

// Creates or opens `path` under `root` the way every step writes: reserved 0,
// an empty class, options 0, KEY_ALL_ACCESS, no security attributes. When
// that fails, shows `message` (unless it is null: some keys fail silently)
// and returns false.
[[nodiscard]] bool CreateKeyOrReport(Platform& platform, RegistryRoot root, std::string_view path,
                                     const char* message, RegKey* key);

// As CreateKeyOrReport, for HKEY_LOCAL_MACHINE\<software>\...\38.0\<subkey>,
// the product version key's subkey that a host settings step writes
// (GetProductVersionKeyPath).
[[nodiscard]] bool CreateProductVersionKeyOrReport(Platform& platform, std::string_view software,
                                                   std::string_view subkey, const char* message,
                                                   RegKey* key);

// Writes `text` whole as REG_SZ, its terminating zero counted; an empty
// `value_name` writes the key's default value. True when the write succeeds.
[[nodiscard]] bool SetRegistryString(Platform& platform, const RegKey& key,
                                     std::string_view value_name, const std::string& text);

// As SetRegistryString; when the write fails, shows `message` naming the key,
// the value and the error, and returns false.
bool SetRegistryStringOrReport(Platform& platform, const RegKey& key, std::string_view value_name,
                               const std::string& text, const std::string& message);

// Deletes `path` under `root` and every key beneath it, deepest first; keys
// that cannot be deleted are skipped. True when `path` itself was deleted.
// A path that is empty or has an empty component is refused (false, nothing
// touched): the registry would fold it onto the root or a parent.
[[nodiscard]] bool DeleteRegistryTree(Platform& platform, RegistryRoot root,
                                      const std::string& path);

// The registry's nesting limit; DeleteRegistryTree descends no deeper.
inline constexpr int kMaxRegistryDepth = 512;

enum class InstallDirectory { kBin, kHelp, kLib, kRoot };

// The shared system's directory of `kind` ("bin", "help", "lib" or "root" in
// its Dir key), as stored; empty when the key or value is missing, does not
// fit 4096 bytes, or cannot be read, and a bin directory holding a double
// quote is empty too. Data of any type is taken as text, up to
// its first zero byte.
std::string GetInstallDirectory(Platform& platform, InstallDirectory kind);

// The number of values in the Options key (the products registered with the
// shared system); 0 when the key cannot be opened or queried.
int CountOptionsValues(Platform& platform);

// Whether this product version may remove the class registrations that
// several versions share: true when PLG Application\CurVer is not found or
// its default value begins with "PLG Application 380"; false when it names
// another version, or exists but cannot be opened (access denied included)
// or read.
bool IsProductVersionCurrent(Platform& platform);

// Which key and error led to a message, for diagnostics only.
struct RegFailure {
  std::string path;
  RegStatus status = kSuccess;
};

// Writes `text` with the failure to the event log as an error event, then
// shows it in the modal "Registration Error" box and returns when the user
// has closed it.
void ReportRegistrationError(Platform& platform, const std::string& text,
                             const RegFailure& failure = {});

}  // namespace plg
