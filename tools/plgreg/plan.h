// Running the module's own registration logic on a machine image and
// comparing the result with what was there.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "machine/memory_registry.h"
#include "registry/registration_mode.h"
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

struct VerifyResult {
  std::vector<VerifyFinding> findings;  // empty when fully registered
  std::vector<std::string> messages;    // what that registration would show
};

// Compares `machine` with what a registration would leave there.
VerifyResult VerifyRegistration(const MemoryRegistry& machine, const std::string& module_path);

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
