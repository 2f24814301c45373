#include "tools/plgreg/plan.h"

#include <algorithm>

#include "machine/recording_reporter.h"
#include "platform/registry_data.h"
#include "registrar/registration_driver.h"
#include "registry/registry_helpers.h"
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
    case VerifyState::kModuleMissing: return "module missing";
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

namespace {

// IsProductVersionCurrent on a copy of `machine`, for the version that
// `strings` name.
bool IsCurrentOn(const MemoryRegistry& machine, const StringSource& strings) {
  const std::unique_ptr<MemoryRegistry> copy = machine.Clone();
  RecordingReporter reporter;
  RecordingEventLog events;
  Platform platform{*copy, reporter, strings, events};
  return IsProductVersionCurrent(platform);
}

// Another registered version whose version marker the machine holds
// ("37.0"), or "": each version key beside this one's, asked the
// unregistration's own version test with that version's numbers.
std::string OtherCurrentVersion(const MemoryRegistry& machine, const StringSource& strings) {
  const std::string product_key =
      "HKEY_LOCAL_MACHINE\\" +
      GetProductViewKeyPath(RegistryView::kNative, strings.Load(kProductName).value_or(""));
  for (const RegEntry& entry : machine.Snapshot(product_key)) {
    const std::size_t dot = entry.key.find('.');
    if (entry.is_value || entry.key.empty() || entry.key.find('\\') != std::string::npos ||
        dot == std::string::npos || entry.key == GetVersionString()) {
      continue;
    }
    CompiledStrings other;
    other.Set(kMajorVersion, entry.key.substr(0, dot));
    other.Set(kMinorVersion, entry.key.substr(dot + 1));
    if (IsCurrentOn(machine, other)) return entry.key;
  }
  return {};
}

// The entries that this version's unregistration removes from `registered`
// while the version marker is the machine's: what this version owns while
// another one is current.
struct OwnedEntries {
  std::vector<std::string> keys;                            // whole subtrees
  std::vector<std::pair<std::string, std::string>> values;  // (key, name)

  bool Holds(const std::string& key, const std::string& name, bool is_value) const {
    return std::any_of(keys.begin(), keys.end(),
                       [&](const std::string& top) { return IsKeyOrBeneath(key, top); }) ||
           (is_value && std::any_of(values.begin(), values.end(), [&](const auto& value) {
              return EqualsFolded(value.first, key) && EqualsFolded(value.second, name);
            }));
  }
};

OwnedEntries EntriesOwnedWhileNotCurrent(const MemoryRegistry& machine,
                                         const MemoryRegistry& registered,
                                         const std::string& module_path,
                                         const StringSource& strings) {
  const std::string marker_key =
      "HKEY_CLASSES_ROOT\\" + strings.Load(kApplicationProgId).value_or("") + "\\CurVer";
  std::unique_ptr<MemoryRegistry> marked = registered.Clone();
  for (const RegEntry& entry : machine.Snapshot(marker_key)) {
    if (entry.key.empty() && entry.is_value) {
      marked->SeedValue(marker_key, entry.name, entry.type, entry.data);
    }
  }
  const Run removal = RunStep(*marked, kUnregister, module_path);
  OwnedEntries owned;
  for (const RegistryChange& change : DiffRegistries(*marked, *removal.registry)) {
    if (change.kind == RegistryChange::Kind::kRemoveKey) owned.keys.push_back(change.key);
    if (change.kind == RegistryChange::Kind::kRemoveValue) {
      owned.values.emplace_back(change.key, change.name);
    }
  }
  return owned;
}

// Whether `found` is `marked` with each `mark` replaced by a path that
// `same_path` takes for `module_path`.
bool SameButForModulePath(const std::string& found, const std::string& marked,
                          const std::string& mark, const std::string& module_path,
                          PathComparer same_path) {
  std::vector<std::string> pieces;
  for (std::size_t at = 0;;) {
    const std::size_t next = marked.find(mark, at);
    pieces.push_back(marked.substr(at, next == std::string::npos ? std::string::npos : next - at));
    if (next == std::string::npos) break;
    at = next + mark.size();
  }
  if (pieces.size() < 2 || found.compare(0, pieces.front().size(), pieces.front()) != 0) {
    return false;
  }
  std::size_t at = pieces.front().size();
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    // The last piece ends the text; the others follow the path at once.
    const std::size_t end = i + 1 == pieces.size()
                                ? found.size() - std::min(found.size(), pieces[i].size())
                                : found.find(pieces[i], at);
    if (end == std::string::npos || end < at ||
        found.compare(end, pieces[i].size(), pieces[i]) != 0 ||
        !same_path(found.substr(at, end - at), module_path)) {
      return false;
    }
    at = end + pieces[i].size();
  }
  return at == found.size();
}

}  // namespace

std::string UniqueMark(const std::string& stem, const std::string& tail,
                       const std::string& haystack) {
  for (unsigned number = 0;; ++number) {
    const std::string mark = stem + std::to_string(number) + tail;
    if (haystack.find(mark) == std::string::npos) return mark;
  }
}

VerifyResult VerifyRegistration(const MemoryRegistry& machine, const std::string& module_path,
                                const std::optional<ModuleFile>& module, PathComparer same_path) {
  Run run = RunStep(machine, kRegister, module_path);
  VerifyResult result;
  result.messages = std::move(run.messages);
  result.module = module;
  const CompiledStrings strings;
  result.current = IsCurrentOn(machine, strings);
  std::optional<OwnedEntries> owned;
  if (!result.current) {
    result.current_version = OtherCurrentVersion(machine, strings);
    if (!result.current_version.empty()) {
      owned = EntriesOwnedWhileNotCurrent(machine, *run.registry, module_path, strings);
    }
  }
  const auto counts = [&](const std::string& key, const std::string& name, bool is_value) {
    return !owned || owned->Holds(key, name, is_value);
  };

  // Where registration writes the module path: the same registration with a
  // mark in its place.
  std::string haystack = module_path + '\n';
  for (const RegEntry& entry : machine.Snapshot("HKEY_LOCAL_MACHINE")) {
    haystack.append(entry.data.begin(), entry.data.end());
    haystack += '\n';
  }
  const std::string mark = UniqueMark("C:\\plgreg-module-", ".dll", haystack);
  const Run marked = RunStep(machine, kRegister, mark);

  // The product's own values that the machine holds, whatever their data.
  const SharedEntries shared = GetSharedEntries();
  std::size_t own_present = 0;
  for (const RegCall& call : run.calls) {
    if (call.op == RegOp::kSetValue && call.status == kSuccess &&
        !shared.HoldsValue(call.path, call.value) && HasValue(machine, call.path, call.value) &&
        counts(call.path, call.value, true)) {
      ++own_present;
    }
  }
  const std::vector<RegistryChange> marked_changes = DiffRegistries(machine, *marked.registry);
  for (RegistryChange& change : DiffRegistries(machine, *run.registry)) {
    const bool is_value = change.kind == RegistryChange::Kind::kSetValue ||
                          change.kind == RegistryChange::Kind::kRemoveValue;
    if (!counts(change.key, change.name, is_value)) continue;
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
    if (finding.kind == VerifyFinding::Kind::kDifferent && change.old_type == change.type &&
        IsStringType(change.type)) {
      const auto with_mark = std::find_if(
          marked_changes.begin(), marked_changes.end(), [&](const RegistryChange& other) {
            return other.kind == RegistryChange::Kind::kSetValue &&
                   EqualsFolded(other.key, change.key) && EqualsFolded(other.name, change.name);
          });
      if (with_mark != marked_changes.end() &&
          SameButForModulePath(std::string(change.old_data.begin(), change.old_data.end()),
                               std::string(with_mark->data.begin(), with_mark->data.end()), mark,
                               module_path, same_path)) {
        continue;
      }
    }
    finding.change = std::move(change);
    result.findings.push_back(std::move(finding));
  }
  result.shared_system_missing = SharedSystemMissing(machine);
  result.state = module && !module->present              ? VerifyState::kModuleMissing
                 : !result.shared_system_missing.empty() ? VerifyState::kSharedSystemMissing
                 : result.findings.empty()               ? VerifyState::kRegistered
                 : own_present == 0                      ? VerifyState::kNotRegistered
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
