// Running the module's own registration logic on a machine image and
// comparing the result with what was there.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "machine/memory_registry.h"
#include "registry/registration_mode.h"
#include "tools/plgreg/module_file.h"
#include "tools/plgreg/registry_diff.h"

namespace plg::tool {

struct PlanResult {
  std::vector<RegistryChange> changes;
  std::vector<std::string> messages;  // what the run showed, in order
  std::unique_ptr<MemoryRegistry> after;
};

// Runs registration or unregistration (DllRegisterServer's or
// DllUnregisterServer's logic, with the compiled-in string table) on
// machine.Clone(), which keeps the faults injected into `machine`: a test of
// a failing run injects them there. `machine` is unchanged; `after` holds no
// faults.
PlanResult PlanStep(const MemoryRegistry& machine, RegistrationMode mode,
                    const std::string& module_path);

// One entry where a machine differs from a registered one.
struct VerifyFinding {
  enum class Kind { kMissing, kDifferent, kLeftOver };
  Kind kind;
  RegistryChange change;  // what a registration would do about it
};

// What verify concludes about a machine, as its text and JSON name it.
enum class VerifyState {
  kRegistered,           // nothing missing, different or left over
  kPartlyRegistered,     // some of the product's own values are there
  kNotRegistered,        // none of the product's own values is there
  kSharedSystemMissing,  // no Dir key, or no "bin" in it, in the 64-bit view
  kModuleMissing,        // the module file is not there, or not the product's module
};

// "registered", "partly registered", "not registered", "shared system
// missing", "module missing".
const char* StateName(VerifyState state);

struct VerifyResult {
  VerifyState state = VerifyState::kNotRegistered;
  // kSharedSystemMissing: what is missing, in one line.
  std::string shared_system_missing;
  // The module file, when it was checked.
  std::optional<ModuleFile> module;
  // Whether this version holds the version marker (PLG Application\CurVer),
  // as the unregistration's version test reads it.
  bool current = true;
  // Not current: the registered version whose marker it is ("37.0"), or ""
  // when no registered version's is. Then only what this version owns while
  // that one is current counts.
  std::string current_version;
  std::vector<VerifyFinding> findings;  // empty when fully registered
  std::vector<std::string> messages;    // what that registration would show
};

// How verify compares two module paths.
using PathComparer = bool (*)(const std::string&, const std::string&);

// Compares `machine` with what a registration would leave there. The
// product's own values are those the registration writes, less the shared
// entries below. When another registered version holds the version marker,
// only the entries that this version's unregistration would remove all the
// same count. A text that holds the module path counts as the same when it
// differs only in the spelling of that path, as `same_path` compares paths.
// A `module` that is not present decides the state before the registry.
VerifyResult VerifyRegistration(const MemoryRegistry& machine, const std::string& module_path,
                                const std::optional<ModuleFile>& module = std::nullopt,
                                PathComparer same_path = SameModulePath);

// A text found nowhere in `haystack`: `stem`, a number, `tail`.
std::string UniqueMark(const std::string& stem, const std::string& tail,
                       const std::string& haystack);

// The entries that every product of the shared system shares: the library
// suffix, the library ProgID and the library class (whole keys beneath
// HKEY_CLASSES_ROOT), and the product's value in the Options key, by whose
// presence other products' unregistrations leave the library entries alone.
struct SharedEntries {
  std::vector<std::string> keys;  // full paths, each with its subtree
  std::string options_key;        // full path
  std::string options_value;      // this product's value in it

  // Whether `key` (a full path) lies in a shared key or is the Options key.
  bool HoldsKey(const std::string& key) const;
  // Whether the value `name` of `key` is a shared entry.
  bool HoldsValue(const std::string& key, const std::string& name) const;
};

// The shared entries as the compiled string table names them.
SharedEntries GetSharedEntries();

// One line per finding: `missing: [KEY]`, `missing: [KEY] "name"=...`,
// `different: [KEY] "name"=... (now ...)`, `left over: [KEY]`,
// `left over: [KEY] "name"=...`, in reg file notation.
std::vector<std::string> DescribeFindings(const std::vector<VerifyFinding>& findings);

// The keys whose whole subtrees hold everything that registration and
// unregistration read or write, found by running both on `machine`: the
// keys to read from a live registry.
std::vector<std::string> RegistrationFootprint(const MemoryRegistry& machine,
                                               const std::string& module_path);

}  // namespace plg::tool
