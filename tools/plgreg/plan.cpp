#include "tools/plgreg/plan.h"

#include <algorithm>

#include "machine/recording_reporter.h"
#include "registrar/registration_driver.h"
#include "registry/registry_paths.h"
#include "resources/compiled_strings.h"
#include "resources/product_strings.h"

namespace plg::tool {

namespace {

struct Run {
  std::unique_ptr<MemoryRegistry> registry;
  std::vector<std::string> messages;
  std::vector<RegCall> calls;
};

Run RunStep(const MemoryRegistry& machine, RegistrationMode mode, const std::string& module_path) {
  Run run;
  run.registry = machine.Clone();
  RecordingReporter reporter;
  CompiledStrings strings;
  RecordingEventLog events;
  Platform platform{*run.registry, reporter, strings, events};
  if (mode == kRegister) {
    (void)RegisterProduct(platform, module_path);
  } else {
    (void)UnregisterProduct(platform);
  }
  run.messages = reporter.messages();
  run.calls = run.registry->calls();
  run.registry->ClearCalls();
  run.registry->ClearFaults();
  return run;
}

// Value lines as a single-byte .reg file writes them; wrapped hex data reads
// better on one line here.
std::string ValueLine(const std::string& name, ValueType type,
                      const std::vector<std::uint8_t>& data) {
  RegFileValue value;
  value.name = name;
  value.type = type;
  value.data = data;
  return Utf16ToAnsi(FormatRegFileValue(value, RegFileFormat::kRegedit4, RegFileWrap::kOneLine));
}

}  // namespace

PlanResult PlanStep(const MemoryRegistry& machine, RegistrationMode mode,
                    const std::string& module_path) {
  Run run = RunStep(machine, mode, module_path);
  PlanResult result;
  result.changes = DiffRegistries(machine, *run.registry);
  result.messages = std::move(run.messages);
  result.after = std::move(run.registry);
  return result;
}

namespace {

bool HasValue(const MemoryRegistry& machine, const std::string& key, const std::string& name) {
  for (const RegEntry& entry : machine.Snapshot(key)) {
    if (entry.key.empty() && entry.is_value && EqualsFolded(entry.name, name)) return true;
  }
  return false;
}

// What of the shared system is missing in the 64-bit view, or "".
std::string SharedSystemMissing(const MemoryRegistry& machine) {
  const std::string dir_key = "HKEY_LOCAL_MACHINE\\" + GetDirKeyPath();
  if (!machine.KeyExists(dir_key)) return "no key " + dir_key;
  if (!HasValue(machine, dir_key, "bin")) return dir_key + " has no \"bin\" value";
  return {};
}

}  // namespace

const char* StateName(VerifyState state) {
  switch (state) {
    case VerifyState::kRegistered: return "registered";
    case VerifyState::kPartlyRegistered: return "partly registered";
    case VerifyState::kNotRegistered: return "not registered";
    case VerifyState::kSharedSystemMissing: return "shared system missing";
  }
  return "?";
}

bool SharedEntries::HoldsKey(const std::string& key) const {
  return EqualsFolded(key, options_key) ||
         std::any_of(keys.begin(), keys.end(),
                     [&](const std::string& top) { return IsKeyOrBeneath(key, top); });
}

bool SharedEntries::HoldsValue(const std::string& key, const std::string& name) const {
  if (EqualsFolded(key, options_key)) return EqualsFolded(name, options_value);
  return HoldsKey(key);
}

SharedEntries GetSharedEntries() {
  CompiledStrings strings;
  const auto text = [&](unsigned id) { return strings.Load(id).value_or(""); };
  SharedEntries shared;
  shared.keys = {"HKEY_CLASSES_ROOT\\." + text(kLibraryExtension),
                 "HKEY_CLASSES_ROOT\\" + text(kLibraryProgId),
                 "HKEY_CLASSES_ROOT\\CLSID\\" + text(kLibraryClassId)};
  shared.options_key = "HKEY_LOCAL_MACHINE\\" + GetOptionsKeyPath();
  shared.options_value = text(kProductKey);
  return shared;
}

VerifyResult VerifyRegistration(const MemoryRegistry& machine, const std::string& module_path) {
  Run run = RunStep(machine, kRegister, module_path);
  VerifyResult result;
  result.messages = std::move(run.messages);
  // The product's own values that the machine holds, whatever their data.
  const SharedEntries shared = GetSharedEntries();
  std::size_t own_present = 0;
  for (const RegCall& call : run.calls) {
    if (call.op == RegOp::kSetValue && call.status == kSuccess &&
        !shared.HoldsValue(call.path, call.value) && HasValue(machine, call.path, call.value)) {
      ++own_present;
    }
  }
  for (RegistryChange& change : DiffRegistries(machine, *run.registry)) {
    VerifyFinding finding;
    switch (change.kind) {
      case RegistryChange::Kind::kAddKey: finding.kind = VerifyFinding::Kind::kMissing; break;
      case RegistryChange::Kind::kSetValue:
        finding.kind =
            change.had_value ? VerifyFinding::Kind::kDifferent : VerifyFinding::Kind::kMissing;
        break;
      case RegistryChange::Kind::kRemoveKey:
      case RegistryChange::Kind::kRemoveValue: finding.kind = VerifyFinding::Kind::kLeftOver; break;
    }
    finding.change = std::move(change);
    result.findings.push_back(std::move(finding));
  }
  result.shared_system_missing = SharedSystemMissing(machine);
  result.state = !result.shared_system_missing.empty() ? VerifyState::kSharedSystemMissing
                 : result.findings.empty()             ? VerifyState::kRegistered
                 : own_present == 0                    ? VerifyState::kNotRegistered
                                                       : VerifyState::kPartlyRegistered;
  return result;
}

std::vector<std::string> DescribeFindings(const std::vector<VerifyFinding>& findings) {
  std::vector<std::string> lines;
  for (const VerifyFinding& finding : findings) {
    const RegistryChange& change = finding.change;
    const std::string key = "[" + change.key + "]";
    const bool whole_key = change.kind == RegistryChange::Kind::kAddKey ||
                           change.kind == RegistryChange::Kind::kRemoveKey;
    const std::string wanted = ValueLine(change.name, change.type, change.data);
    const std::string found = ValueLine(change.name, change.old_type, change.old_data);
    switch (finding.kind) {
      case VerifyFinding::Kind::kMissing:
        lines.push_back("missing: " + key + (whole_key ? "" : " " + wanted));
        break;
      case VerifyFinding::Kind::kDifferent:
        lines.push_back("different: " + key + " " + wanted + " (now " + found + ")");
        break;
      case VerifyFinding::Kind::kLeftOver:
        lines.push_back("left over: " + key + (whole_key ? "" : " " + found));
        break;
    }
  }
  return lines;
}

std::vector<std::string> RegistrationFootprint(const MemoryRegistry& machine,
                                               const std::string& module_path) {
  // Containers that registration passes through but does not own; reading
  // them whole would copy most of a live registry.
  static const char* const kContainers[] = {
      "HKEY_LOCAL_MACHINE",
      "HKEY_LOCAL_MACHINE\\SOFTWARE",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES",
      "HKEY_CLASSES_ROOT",
      "HKEY_CLASSES_ROOT\\CLSID",
  };
  std::vector<std::u16string> containers;
  for (const char* container : kContainers) containers.push_back(CanonicalKeyPath(container));
  std::vector<std::string> paths;
  const Run registered = RunStep(machine, kRegister, module_path);
  const Run unregistered = RunStep(*registered.registry, kUnregister, module_path);
  for (const Run* run : {&registered, &unregistered}) {
    for (const RegCall& call : run->calls) {
      if (std::find(containers.begin(), containers.end(), CanonicalKeyPath(call.path)) !=
          containers.end()) {
        continue;
      }
      paths.push_back(call.path);
    }
  }
  // Shorter paths first, so that every ancestor is seen before its subkeys.
  std::stable_sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
    return std::count(a.begin(), a.end(), '\\') < std::count(b.begin(), b.end(), '\\');
  });
  std::vector<std::string> tops;
  for (const std::string& path : paths) {
    const bool covered = std::any_of(tops.begin(), tops.end(), [&](const std::string& top) {
      return IsKeyOrBeneath(path, top);
    });
    if (!covered) tops.push_back(path);
  }
  std::sort(tops.begin(), tops.end());
  return tops;
}

}  // namespace plg::tool
