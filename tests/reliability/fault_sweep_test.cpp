// Every registry operation of a full registration and unregistration, made
// to fail one at a time. For each run: the message the steps' rules give for
// that failure (or none), every entry that does not depend on the failed
// operation still written, nothing written outside the product's keys, every
// key closed, and an export result that matches whether a message was shown.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "machine/builtin_machine.h"
#include "registrar/registration_driver.h"
#include "tests/support/containment.h"
#include "tests/support/failing_allocations.h"
#include "tests/support/test_machine.h"

namespace plg {
namespace {

using testing::CallsOutsideProduct;
using testing::kSeedModulePath;
using testing::TestMachine;

constexpr char kVersionKey[] = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\";
constexpr char kClassKey[] = "HKEY_CLASSES_ROOT\\CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}";
constexpr char kAppClassKey[] = "HKEY_CLASSES_ROOT\\CLSID\\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}";
constexpr char kLibraryIconKey[] =
    "HKEY_CLASSES_ROOT\\CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}\\DefaultIcon";

std::string Canonical(const std::string& path) {
  const std::u16string wide = CanonicalKeyPath(path);
  return std::string(wide.begin(), wide.end());
}

// What a failed key creation or value write shows, as the steps' rules say.
struct WriteRule {
  std::string key;                // full key path
  const char* create;             // message when the key cannot be created; nullptr: none
  const char* write;              // message when a value cannot be written; nullptr: none
  bool value_in_message = false;  // the write message ends in the value's text
  const char* value = nullptr;    // the rule's value name; nullptr: every value
};

std::vector<WriteRule> RegistrationRules() {
  const std::string hklm = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics";
  const std::string v = kVersionKey;
  const std::string progid = "HKEY_CLASSES_ROOT\\Pellagor Language";
  const std::string cls = kClassKey;
  const std::string app = kAppClassKey;
  const std::string appid = "HKEY_CLASSES_ROOT\\PLG Application";
  const std::string appver = "HKEY_CLASSES_ROOT\\PLG Application 3800";
  const char* suffix_hklm = "Unable to create ASCII document suffix entry in HKLM";
  const char* class_row = "Unable to create ASCII document suffix entry";
  const char* app_row = "Unable to create Application key entry";
  const char* value = "Unable to create Value ";
  return {
      {hklm, "Unable to open HKEY_LOCAL_MACHINE", nullptr},
      {hklm + "\\Pellagor", "Unable to create Application Name key", nullptr},
      {hklm + "\\Kelsys\\38.0\\Options", "Unable to open modeler options key",
       "Unable to enter value in modeler options key"},
      {v + "Customization", "Unable to open customization  key",
       "Unable to enter value customization DLL key"},
      {v + "PFSView", "Unable to open PFS CLSID key", "Unable to enter PFS default CLSID key"},
      {v + "Menus\\Customization", "Unable to create menu customization key", nullptr},
      {v + "Menus\\Help", "Unable to create Menu Help key", nullptr},
      {v + "Suffix", nullptr, suffix_hklm},
      {v + "Default Libraries", "Unable to create default library key",
       "Unable to create default library entry"},
      {v + "Script Library", nullptr, "Unable to create script library entry"},
      {progid + "\\CLSID", "Error creating document key", "Unable to create document class id"},
      {progid + "\\DefaultIcon", "Unable to create document Default Icon",
       "Unable to create document Default Icon"},
      {progid + "\\Application", "Unable to create document Application",
       "Unable to create document Application"},
      {progid + "\\Insertable", "Unable to create document insertable key", nullptr},
      {progid + "\\shell\\Open\\command", "Error creating shell key",
       "Unable to create shell document registry entry"},
      {progid + "\\shell\\Edit\\command", "Error creating shell key",
       "Unable to create shell document registry entry"},
      {progid + "\\shell\\Open Pellagor V12\\command", nullptr,
       "Unable to create shell document registry entry"},
      {progid, nullptr, "Unable to assign value to document class name"},
      {"HKEY_CLASSES_ROOT\\.plgf", "Unable to create ASCII document suffix entry",
       "Unable to create ASCII document suffix entry"},
      {"HKEY_CLASSES_ROOT\\.hvxl", "Unable to create Library document suffix entry",
       "Unable to create Library document suffix entry"},
      {"HKEY_CLASSES_ROOT\\Tolvane Model Library\\CLSID",
       "Unable to create document insertable key", "Unable to create library document class id"},
      {"HKEY_CLASSES_ROOT\\Tolvane Model Library", nullptr,
       "Unable to assign value to library class name"},
      {cls + "\\AuxUserType\\2", class_row, value, true},
      {cls + "\\AuxUserType\\3", class_row, value, true},
      {cls + "\\DefaultIcon", class_row, value, true},
      {cls + "\\InprocHandler32", class_row, value, true},
      {cls + "\\LocalServer32", class_row, value, true},
      {cls + "\\MiscStatus", class_row, value, true},
      {cls + "\\ProgID", class_row, value, true},
      {cls + "\\Verb\\0", class_row, value, true},
      {cls + "\\Verb\\1", class_row, value, true},
      {kLibraryIconKey, nullptr, value, true},
      {appid, app_row, value, true},
      {appid + "\\CLSID", app_row, value, true},
      {appid + "\\CurVer", app_row, value, true},
      {appver, app_row, value, true},
      {appver + "\\CLSID", app_row, value, true},
      {app, app_row, value, true},
      {app + "\\InProcHandler32", app_row, value, true},
      {app + "\\LocalServer32", app_row, value, true},
      {app + "\\ProgID", app_row, value, true},
      {app + "\\VersionIndependentProgID", app_row, value, true},
      {v + "GUIDefaults", "Unable to open GUI defaults key",
       "Unable to enter default control stream connection key", false, "CtrlStreamFixedOnly"},
      {v + "GUIDefaults", "Unable to open GUI defaults key", "Unable to enter custom modeling key",
       false, "CustomModelingOn"},
  };
}

const WriteRule* RuleFor(const std::vector<WriteRule>& rules, const RegCall& call) {
  for (const WriteRule& rule : rules) {
    if (Canonical(rule.key) != Canonical(call.path)) continue;
    if (rule.value != nullptr && call.op == RegOp::kSetValue &&
        Canonical(rule.value) != Canonical(call.value)) {
      continue;
    }
    return &rule;
  }
  return nullptr;
}

std::string TextOf(const std::vector<std::uint8_t>& data) {
  std::string text(data.begin(), data.end());
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// The registry as a map from "key" and "key|value" to the value's data.
std::map<std::string, std::vector<std::uint8_t>> Flatten(const MemoryRegistry& registry) {
  std::map<std::string, std::vector<std::uint8_t>> flat;
  for (const RegEntry& e : registry.Snapshot("HKEY_LOCAL_MACHINE")) {
    const std::string key = Canonical("HKEY_LOCAL_MACHINE\\" + e.key);
    flat[e.is_value ? key + "|" + Canonical(e.name.empty() ? "@" : e.name) : key] = e.data;
  }
  return flat;
}

// On the test machine a full registration makes 148 registry operations and
// the unregistration after it 192 (the figures of docs/testing.md, which each sweep
// prints). A sweep must cover at least that many: a log that stays empty or
// stops short would otherwise pass with nothing swept.
constexpr std::size_t kMinRegistrationOperations = 148;
constexpr std::size_t kMinUnregistrationOperations = 192;

// Runs `read` as the machine's own work, whose allocations the sweep leaves
// alone.
template <typename Read>
auto Outside(Read read) {
  testing::MachineWork machine;
  return read();
}

// The machine around the module for the allocation sweep: its own work
// allocates as the machine's (the in-memory registry keeps what it
// allocates), and what it hands back is copied into the module's objects
// as the module's, where the Win32 registry allocates its buffers.
class CallRegistry : public MemoryRegistry {
 protected:
  RegStatus DoCreateKey(const RegKey& parent, std::string_view path, RegAccess access,
                        KeyHandle* handle) override {
    return Outside([&] { return MemoryRegistry::DoCreateKey(parent, path, access, handle); });
  }
  RegStatus DoOpenKey(const RegKey& parent, std::string_view path, RegAccess access,
                      KeyHandle* handle) override {
    return Outside([&] { return MemoryRegistry::DoOpenKey(parent, path, access, handle); });
  }
  RegStatus DoSetValue(const RegKey& key, std::string_view name, ValueType type, const void* data,
                       std::size_t size) override {
    return Outside([&] { return MemoryRegistry::DoSetValue(key, name, type, data, size); });
  }
  RegStatus DoQueryValue(const RegKey& key, std::string_view name, std::size_t capacity,
                         RegValue* value) override {
    return HandBack(value, &value_,
                    [&] { return MemoryRegistry::DoQueryValue(key, name, capacity, &value_); });
  }
  RegStatus DoQueryInfo(const RegKey& key, KeyInfo* info) override {
    return Outside([&] { return MemoryRegistry::DoQueryInfo(key, info); });
  }
  RegStatus DoEnumKey(const RegKey& key, std::uint32_t index, std::size_t capacity,
                      std::string* name) override {
    return HandBack(name, &name_,
                    [&] { return MemoryRegistry::DoEnumKey(key, index, capacity, &name_); });
  }
  RegStatus DoEnumKeyW(const RegKey& key, std::uint32_t index, std::size_t capacity,
                       std::u16string* name) override {
    return HandBack(name, &wide_name_,
                    [&] { return MemoryRegistry::DoEnumKeyW(key, index, capacity, &wide_name_); });
  }
  RegStatus DoDeleteKey(const RegKey& parent, std::string_view path) override {
    return Outside([&] { return MemoryRegistry::DoDeleteKey(parent, path); });
  }
  RegStatus DoDeleteValue(const RegKey& key, std::string_view name) override {
    return Outside([&] { return MemoryRegistry::DoDeleteValue(key, name); });
  }
  void DoCloseKey(KeyHandle handle) noexcept override {
    Outside([&] { MemoryRegistry::DoCloseKey(handle); });
  }

 private:
  template <typename Result, typename Read>
  RegStatus HandBack(Result* out, Result* kept, Read read) {
    const RegStatus status = Outside(read);
    if (status == kSuccess) *out = *kept;
    return status;
  }

  RegValue value_;
  std::string name_;
  std::u16string wide_name_;
};

class CallStrings : public CompiledStrings {
 public:
  std::optional<std::string> Load(unsigned id) const override {
    loaded_ = Outside([&] { return CompiledStrings::Load(id); });
    return loaded_;
  }

 private:
  mutable std::optional<std::string> loaded_;
};

class CallReporter : public RecordingReporter {
 protected:
  void DoShow(const std::string& text, const std::string& detail) override {
    Outside([&] { RecordingReporter::DoShow(text, detail); });
  }
};

class CallEventLog : public RecordingEventLog {
 public:
  void WriteError(const std::string& text, const std::string& key, RegStatus error) override {
    Outside([&] { RecordingEventLog::WriteError(text, key, error); });
  }
};

struct CallMachine {
  CallRegistry registry;
  CallReporter reporter;
  CallStrings strings;
  CallEventLog events;
  Platform platform{registry, reporter, strings, events};
};

long Register(Platform& platform) { return RegisterProduct(platform, kSeedModulePath); }

// On the test machine a registration allocates 278 times and the
// unregistration after it 188 (the figures of docs/testing.md, which the
// sweep prints): a sweep that sees fewer swept less than it should.
constexpr std::size_t kMinRegistrationAllocations = 278;
constexpr std::size_t kMinUnregistrationAllocations = 188;

class FaultSweep : public ::testing::Test {
 protected:
  static void Seed(MemoryRegistry& registry) {
    SeedSharedSystemImage(&registry);
    registry.SeedString(testing::kOptionsKey, "abc", "Other Product");
  }
  static void Seed(TestMachine& m) { Seed(m.registry); }

  // Each message went to the event log too, with the key and error that its
  // diagnostics name, and nothing else did.
  static void ExpectEventPerMessage(const TestMachine& m) {
    std::vector<std::string> texts;
    std::vector<std::string> details;
    for (const RecordedEvent& event : m.events.events()) {
      texts.push_back(event.text);
      details.push_back(event.key + (event.error == kSuccess
                                         ? std::string()
                                         : ": error " + std::to_string(event.error)));
    }
    EXPECT_EQ(m.messages(), texts);
    EXPECT_EQ(m.reporter.details(), details);
  }
};

TEST_F(FaultSweep, EveryRegistrationOperationFailingInTurn) {
  TestMachine clean;
  Seed(clean);
  ASSERT_EQ(kResultOk, RegisterProduct(clean.platform, kSeedModulePath));
  const std::vector<RegCall> calls = clean.registry.calls();
  ASSERT_GE(calls.size(), kMinRegistrationOperations);
  const auto expected_all = Flatten(clean.registry);
  const std::vector<WriteRule> rules = RegistrationRules();

  std::size_t messages_checked = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const RegCall& target = calls[i];
    SCOPED_TRACE("operation " + std::to_string(i) + ": " + RegOpName(target.op) + " " +
                 target.path + (target.value.empty() ? "" : " value " + target.value));
    TestMachine m;
    Seed(m);
    m.registry.InjectFault(
        {RegOp::kAny, "", std::nullopt, kErrorAccessDenied, static_cast<int>(i), 1});
    const long result = RegisterProduct(m.platform, kSeedModulePath);

    // The message.
    std::vector<std::string> expected;
    const WriteRule* rule = RuleFor(rules, target);
    if (target.op == RegOp::kCreateKey && rule != nullptr && rule->create) {
      expected.push_back(rule->create);
    } else if (target.op == RegOp::kSetValue) {
      ASSERT_NE(nullptr, rule) << "no rule for a written key";
      if (rule->write) {
        std::string text = rule->write;
        if (rule->value_in_message) {
          const std::string name = Canonical(target.value.empty() ? "@" : target.value);
          text += TextOf(expected_all.at(Canonical(target.path) + "|" + name));
        }
        expected.push_back(text);
      }
    }
    EXPECT_EQ(expected, m.messages());
    ExpectEventPerMessage(m);
    messages_checked += expected.size();
    EXPECT_EQ(expected.empty() ? kResultOk : kResultSelfRegClassError, result);
    EXPECT_EQ(std::vector<std::string>{}, CallsOutsideProduct(m.registry.calls()));
    EXPECT_EQ(0u, m.registry.open_handles());

    // What remains: only entries that depend on the failed operation differ.
    std::vector<std::string> dependent_roots;
    if (target.op == RegOp::kCreateKey) {
      dependent_roots.push_back(target.path);
      if (IsKeyOrBeneath(target.path, "HKEY_CLASSES_ROOT\\Pellagor Language\\CLSID")) {
        // The gate: nothing of the document type but its name is written.
        for (const char* sub : {"DefaultIcon", "Application", "Insertable", "shell"}) {
          dependent_roots.push_back(std::string("HKEY_CLASSES_ROOT\\Pellagor Language\\") + sub);
        }
      }
      if (Canonical(target.path) == Canonical("HKEY_LOCAL_MACHINE\\Software\\Tolvanics")) {
        dependent_roots.push_back(testing::kOptionsKey);
      }
    }
    const bool is_read = target.op == RegOp::kOpenKey || target.op == RegOp::kQueryInfo ||
                         target.op == RegOp::kEnumKey || target.op == RegOp::kQueryValue;
    if (is_read) {
      // Reads of the release keys decide the version verbs; reads of the
      // directories change only the texts built from them.
      dependent_roots.push_back("HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12");
    }
    const auto final_entries = Flatten(m.registry);
    for (const auto& [entry, data] : expected_all) {
      const std::string key = entry.substr(0, entry.find('|'));
      bool depends = false;
      for (const std::string& root : dependent_roots) {
        depends = depends || IsKeyOrBeneath(key, root);
      }
      if (target.op == RegOp::kSetValue && key == Canonical(target.path) &&
          entry.substr(key.size()) == "|" + Canonical(target.value.empty() ? "@" : target.value)) {
        depends = true;
      }
      // A failed creation also leaves out the parents it would have made.
      const bool is_key = entry.find('|') == std::string::npos;
      if (target.op == RegOp::kCreateKey && is_key && IsKeyOrBeneath(target.path, key)) {
        depends = true;
      }
      if (depends) continue;
      auto it = final_entries.find(entry);
      if (it == final_entries.end()) {
        ADD_FAILURE() << "missing " << entry;
      } else if (it->second != data) {
        EXPECT_TRUE(is_read) << "changed " << entry;
      }
    }
    for (const auto& [entry, data] : final_entries) {
      EXPECT_TRUE(expected_all.count(entry)) << "extra " << entry;
    }
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("registration fault sweep: %zu operations swept, %zu runs, %zu messages checked\n",
              calls.size(), calls.size(), messages_checked);
}

TEST_F(FaultSweep, EveryUnregistrationOperationFailingInTurn) {
  TestMachine clean;
  Seed(clean);
  ASSERT_EQ(kResultOk, RegisterProduct(clean.platform, kSeedModulePath));
  clean.registry.ClearCalls();
  ASSERT_EQ(kResultOk, UnregisterProduct(clean.platform));
  const std::vector<RegCall> calls = clean.registry.calls();
  ASSERT_GE(calls.size(), kMinUnregistrationOperations);
  const auto after_clean = Flatten(clean.registry);

  for (std::size_t i = 0; i < calls.size(); ++i) {
    const RegCall& target = calls[i];
    SCOPED_TRACE("operation " + std::to_string(i) + ": " + RegOpName(target.op) + " " +
                 target.path);
    TestMachine m;
    Seed(m);
    ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
    m.registry.ClearCalls();
    m.registry.InjectFault(
        {RegOp::kAny, "", std::nullopt, kErrorAccessDenied, static_cast<int>(i), 1});
    // Removals and reads report nothing.
    EXPECT_EQ(kResultOk, UnregisterProduct(m.platform));
    EXPECT_TRUE(m.messages().empty());
    EXPECT_TRUE(m.events.events().empty());
    EXPECT_EQ(std::vector<std::string>{}, CallsOutsideProduct(m.registry.calls()));
    EXPECT_EQ(0u, m.registry.open_handles());
    // A failure never removes more than a clean unregistration does, and
    // what it leaves behind is the product's own.
    const auto remaining = Flatten(m.registry);
    for (const auto& [entry, data] : after_clean) {
      auto it = remaining.find(entry);
      ASSERT_NE(remaining.end(), it) << "removed " << entry;
      EXPECT_EQ(data, it->second) << entry;
    }
    for (const auto& [entry, data] : remaining) {
      if (after_clean.count(entry)) continue;
      const std::string key = entry.substr(0, entry.find('|'));
      RegCall as_write{RegOp::kCreateKey, key, "", kSuccess};
      if (entry.find('|') != std::string::npos) {
        as_write = RegCall{RegOp::kSetValue, key, entry.substr(key.size() + 1), kSuccess};
      }
      EXPECT_EQ(std::vector<std::string>{}, CallsOutsideProduct({as_write})) << "left " << entry;
    }
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("unregistration fault sweep: %zu operations swept, %zu runs\n", calls.size(),
              calls.size());
}

// Every allocation of a registration, and of the unregistration after it,
// and every one after it, failing from the n-th on, for every n, through the
// export boundary: each run returns E_OUTOFMEMORY with every key closed,
// nothing written outside the product's keys and every block freed; the run
// past the last allocation succeeds.
TEST_F(FaultSweep, EveryAllocationFailingFromTheNthOn) {
  {
    // Once before counting blocks: what the string table, the machine image
    // and the containment check set up on first use stays.
    CallMachine m;
    Seed(m.registry);
    ASSERT_EQ(kResultOk, RunExportCall(m.platform, Register));
    ASSERT_EQ(std::vector<std::string>{}, CallsOutsideProduct(m.registry.calls()));
  }
  for (const bool unregister : {false, true}) {
    SCOPED_TRACE(unregister ? "unregistration" : "registration");
    std::size_t runs = 0;
    std::size_t allocations = 0;
    long result = kResultOutOfMemory;
    while (result == kResultOutOfMemory && !::testing::Test::HasFailure()) {
      const std::size_t live_before = testing::LiveAllocations();
      {
        CallMachine m;
        Seed(m.registry);
        if (unregister) {
          ASSERT_EQ(kResultOk, RunExportCall(m.platform, Register));
        }
        m.registry.ClearCalls();
        {
          testing::FailingAllocations failing(++runs);
          result = RunExportCall(m.platform, unregister ? UnregisterProduct : Register);
          allocations = failing.counted();
        }
        EXPECT_TRUE(result == kResultOutOfMemory || result == kResultOk) << "allocation " << runs;
        EXPECT_EQ(0u, m.registry.open_handles()) << "allocation " << runs;
        EXPECT_EQ(0u, m.registry.open_keys()) << "allocation " << runs;
        EXPECT_EQ(std::vector<std::string>{}, CallsOutsideProduct(m.registry.calls()))
            << "allocation " << runs;
        EXPECT_TRUE(m.events.events().empty()) << "allocation " << runs;
      }
      EXPECT_EQ(live_before, testing::LiveAllocations())
          << "blocks left when allocations failed from " << runs << " on";
    }
    // Only the run that failed none of the call's allocations succeeds.
    EXPECT_EQ(kResultOk, result);
    EXPECT_EQ(runs - 1, allocations);
    EXPECT_GE(allocations,
              unregister ? kMinUnregistrationAllocations : kMinRegistrationAllocations);
    std::printf("%s allocation sweep: %zu allocations, %zu runs: %zu E_OUTOFMEMORY, 1 S_OK\n",
                unregister ? "unregistration" : "registration", allocations, runs, runs - 1);
  }
}

}  // namespace
}  // namespace plg
