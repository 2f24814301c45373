// plgreg verify: a machine compared with what a registration leaves there.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "machine/builtin_machine.h"
#include "tests/support/registry_text.h"
#include "tests/support/test_machine.h"
#include "tests/tools/plgreg_run.h"
#include "tools/plgreg/plan.h"

namespace plg::tool {
namespace {

using testing::Lines;
using testing::Plgreg;
using testing::WriteTempFile;

std::unique_ptr<MemoryRegistry> RegisteredMachine() {
  return PlanStep(*BuiltInMachine(), kRegister, kDefaultModulePath).after;
}

testing::CliRun Verify(const MemoryRegistry& machine, std::vector<std::string> more = {}) {
  const std::string image = WriteTempFile(
      "verify_image.reg", FormatRegFile(ExportRegistry(machine, "HKEY_LOCAL_MACHINE")));
  std::vector<std::string> args = {"verify", "--machine", image};
  args.insert(args.end(), more.begin(), more.end());
  return Plgreg(args);
}

TEST(VerifyTest, ACleanMachineIsNotRegistered) {
  const testing::CliRun run = Plgreg({"verify"});
  EXPECT_EQ(1, run.code);
  EXPECT_EQ("", run.err);
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_FALSE(lines.empty());
  for (const char* wanted :
       {"missing: [HKEY_CLASSES_ROOT\\.plgf]",
        "missing: [HKEY_CLASSES_ROOT\\.plgf] @=\"Pellagor Language\"",
        "missing: [HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options] "
        "\"plg\"=\"Pellagor\""}) {
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), wanted)) << wanted;
  }
  EXPECT_EQ(0u, lines.back().rfind("not registered: ", 0)) << lines.back();
  EXPECT_NE(std::string::npos, lines.back().find(" missing, 0 different, 0 left over"));
}

TEST(VerifyTest, ARegisteredMachineIsRegistered) {
  const testing::CliRun run = Verify(*RegisteredMachine());
  EXPECT_EQ(0, run.code);
  EXPECT_EQ("registered: the machine holds everything a registration leaves there\n", run.out);
  EXPECT_EQ("", run.err);
  const testing::CliRun json = Verify(*RegisteredMachine(), {"--format", "json"});
  EXPECT_EQ(0, json.code);
  // The fields in a fixed order; "plgreg" is the version --version prints.
  const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(json.out);
  std::vector<std::string> fields;
  for (const auto& item : parsed.items()) fields.push_back(item.key());
  EXPECT_EQ((std::vector<std::string>{"schema", "plgreg", "module_path", "state", "missing",
                                      "different", "left_over", "messages"}),
            fields);
  const testing::CliRun version = Plgreg({"--version"});
  EXPECT_EQ(0, version.code);
  ASSERT_EQ(0u, version.out.rfind("plgreg 38.0.", 0)) << version.out;
  nlohmann::json wanted = nlohmann::json::parse(R"({"schema": 1, "plgreg": "",
      "module_path": "C:\\Program Files\\Pellagor\\plgproduct.dll", "state": "registered",
      "missing": [], "different": [], "left_over": [], "messages": []})");
  wanted["plgreg"] = version.out.substr(7, version.out.size() - 8);
  EXPECT_EQ(wanted, nlohmann::json::parse(json.out));
}

TEST(VerifyTest, NamesAnEntryRemovedByHand) {
  std::unique_ptr<MemoryRegistry> machine = RegisteredMachine();
  machine->Erase("HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12");
  const testing::CliRun run = Verify(*machine);
  EXPECT_EQ(1, run.code);
  EXPECT_EQ(
      (std::vector<std::string>{
          "missing: [HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12]",
          "missing: [HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12\\command]",
          "missing: [HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12\\command] "
          "@=\"\\\"C:\\\\Apps\\\\Tolvanics\\\\Kelsys V12\\\\bin\\\\TolvaneModeler.exe\\\" /plg "
          "\\\"%1\\\"\"",
          "partly registered: 3 missing, 0 different, 0 left over",
      }),
      Lines(run.out));
}

TEST(VerifyTest, NamesDifferentAndLeftOverEntries) {
  std::unique_ptr<MemoryRegistry> machine = RegisteredMachine();
  machine->SeedString("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\Customization",
                      "DLL", "D:\\old\\plgproduct.dll");
  machine->SeedString("HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V9\\command", "",
                      "old");
  const testing::CliRun json = Verify(*machine, {"--format", "json"});
  EXPECT_EQ(1, json.code);
  nlohmann::json found = nlohmann::json::parse(json.out);
  for (const char* field : {"schema", "plgreg", "module_path"}) found.erase(field);
  EXPECT_EQ(nlohmann::json::parse(R"({
      "state": "partly registered",
      "missing": [],
      "different": [{
        "key": "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\Customization",
        "name": "DLL",
        "value": {"type": "REG_SZ", "text": "C:\\Program Files\\Pellagor\\plgproduct.dll"},
        "now": {"type": "REG_SZ", "text": "D:\\old\\plgproduct.dll"}}],
      "left_over": [{"key": "HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V9"}],
      "messages": []})"),
            found);
  const testing::CliRun run = Verify(*machine);
  EXPECT_EQ(1, run.code);
  EXPECT_EQ(
      (std::vector<std::string>{
          "left over: [HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V9]",
          "different: [HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\Customization] "
          "\"DLL\"=\"C:\\\\Program Files\\\\Pellagor\\\\plgproduct.dll\" "
          "(now \"DLL\"=\"D:\\\\old\\\\plgproduct.dll\")",
          "partly registered: 0 missing, 1 different, 1 left over",
      }),
      Lines(run.out));
}

// The state in the text's last line and in the JSON, and the exit code. The
// shared system's Dir key, or its "bin", missing in the 64-bit view decides
// whatever else is there; then any of the product's own values (not the
// entries all products share) makes a machine partly registered.
TEST(VerifyTest, TheStateSaysWhatTheMachineHolds) {
  const std::string dir_key = plg::testing::kDirKey;
  const auto registered_on = [](std::unique_ptr<MemoryRegistry> machine) {
    return PlanStep(*machine, kRegister, kDefaultModulePath).after;
  };
  struct Case {
    const char* label;
    std::unique_ptr<MemoryRegistry> machine;
    const char* state;
  };
  std::vector<Case> cases;
  cases.push_back({"clean", BuiltInMachine(), "not registered"});
  cases.push_back({"registered", RegisteredMachine(), "registered"});
  cases.push_back({"one value gone", RegisteredMachine(), "partly registered"});
  cases.back().machine->EraseValue(
      "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\Customization", "DLL");
  cases.push_back({"only the shared entries left", RegisteredMachine(), "not registered"});
  for (const char* key :
       {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor", "HKEY_CLASSES_ROOT\\Pellagor Language",
        "HKEY_CLASSES_ROOT\\.plgf", "HKEY_CLASSES_ROOT\\PLG Application",
        "HKEY_CLASSES_ROOT\\PLG Application 3800",
        "HKEY_CLASSES_ROOT\\CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}",
        "HKEY_CLASSES_ROOT\\CLSID\\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}"}) {
    cases.back().machine->Erase(key);
  }
  cases.push_back(
      {"registered, then the Dir key gone", RegisteredMachine(), "shared system missing"});
  cases.back().machine->Erase(dir_key);
  cases.push_back({"registered, then bin gone", RegisteredMachine(), "shared system missing"});
  cases.back().machine->EraseValue(dir_key, "bin");
  // Registered where there was nothing to find: "\TolvaneModeler.exe".
  auto bare = std::make_unique<MemoryRegistry>();
  bare->SeedKey("HKEY_CLASSES_ROOT\\CLSID");
  cases.push_back({"registered without the shared system", registered_on(std::move(bare)),
                   "shared system missing"});
  auto only_32_bit = BuiltInMachine();
  only_32_bit->Erase(dir_key);
  cases.push_back({"registered with the 32-bit view only", registered_on(std::move(only_32_bit)),
                   "shared system missing"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const testing::CliRun text = Verify(*c.machine);
    const testing::CliRun json = Verify(*c.machine, {"--format", "json"});
    const int code = std::string(c.state) == "registered" ? 0 : 1;
    EXPECT_EQ(code, text.code);
    EXPECT_EQ(code, json.code);
    ASSERT_FALSE(Lines(text.out).empty());
    EXPECT_EQ(0u, Lines(text.out).back().rfind(std::string(c.state) + ": ", 0)) << text.out;
    EXPECT_EQ(c.state, nlohmann::json::parse(json.out).at("state"));
  }
  EXPECT_EQ("shared system missing: " + dir_key +
                " has no \"bin\" value; 0 missing, 3 "
                "different, 1 left over",
            Lines(Verify(*cases[5].machine).out).back());
}

TEST(VerifyTest, TheFootprintCoversWhatRegistrationTouches) {
  EXPECT_EQ((std::vector<std::string>{
                "HKEY_CLASSES_ROOT\\.hvxl",
                "HKEY_CLASSES_ROOT\\.plgf",
                "HKEY_CLASSES_ROOT\\CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}",
                "HKEY_CLASSES_ROOT\\CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}",
                "HKEY_CLASSES_ROOT\\CLSID\\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}",
                "HKEY_CLASSES_ROOT\\PLG Application",
                "HKEY_CLASSES_ROOT\\PLG Application 3800",
                "HKEY_CLASSES_ROOT\\Pellagor Language",
                "HKEY_CLASSES_ROOT\\Tolvane Model Library",
                "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Tolvanics\\KELSYS",
                "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Tolvanics\\Pellagor",
                "HKEY_LOCAL_MACHINE\\Software\\Tolvanics",
            }),
            RegistrationFootprint(*BuiltInMachine(), kDefaultModulePath));
}

// The one image of the shared system, as plgreg's built-in machine and as the
// unit tests seed it, holds the directories the tests expect, in both
// registry views, and the CLSID key.
TEST(VerifyTest, TheBuiltInMachineHoldsTheTestsSharedSystem) {
  using plg::testing::kDirKey, plg::testing::kSeedBinDir, plg::testing::kSeedHelpDir,
      plg::testing::kSeedLibDir, plg::testing::kSeedRootDir, plg::testing::DescribeTree;
  const auto row = [](const char* name, const char* text) {
    return '"' + std::string(name) + "\"=\"" + text + '"';
  };
  const std::vector<std::string> dir = {"[]", row("bin", kSeedBinDir), row("help", kSeedHelpDir),
                                        row("lib", kSeedLibDir), row("root", kSeedRootDir)};
  plg::testing::TestMachine seeded;
  seeded.SeedSharedSystem();
  const std::unique_ptr<MemoryRegistry> built_in = BuiltInMachine();
  for (const MemoryRegistry* machine : {&seeded.registry, built_in.get()}) {
    EXPECT_EQ(dir, DescribeTree(*machine, kDirKey));
    EXPECT_EQ(dir, DescribeTree(*machine,
                                "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tolvanics"
                                "\\Kelsys\\38.0\\Dir"));
    EXPECT_TRUE(machine->KeyExists("HKEY_CLASSES_ROOT\\CLSID"));
  }
}

}  // namespace
}  // namespace plg::tool
