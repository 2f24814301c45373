// plgreg verify: a machine compared with what a registration leaves there.
#include <gtest/gtest.h>

#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "machine/builtin_machine.h"
#include "tests/support/registry_text.h"
#include "tests/support/test_machine.h"
#include "tests/tools/plgreg_run.h"
#include "tools/plgreg/module_file.h"
#include "tools/plgreg/plan.h"

namespace plg::tool {
namespace {

using testing::Lines;
using testing::ModuleImage;
using testing::Plgreg;
using testing::WriteTempFile;

constexpr char kMarkerKey[] = "HKEY_CLASSES_ROOT\\PLG Application\\CurVer";
constexpr char kCustomizationKey[] =
    "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\Customization";

// What version 37.0, registered after this one, leaves: its product version
// key, its marker, and its module in the entries all versions share.
void RegisterOtherVersionAfter(MemoryRegistry* machine) {
  machine->SeedString("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\37.0\\Customization",
                      "DLL", "C:\\Pellagor 37\\plgproduct.dll");
  machine->SeedString(kMarkerKey, "", "PLG Application 3700");
  machine->SeedString("HKEY_CLASSES_ROOT\\PLG Application 3700", "", "PLG Application");
  machine->SeedString("HKEY_CLASSES_ROOT\\Pellagor Language\\DefaultIcon", "",
                      "C:\\Pellagor 37\\plgproduct.dll,1");
  machine->SeedString(
      "HKEY_CLASSES_ROOT\\CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\\DefaultIcon", "",
      "C:\\Pellagor 37\\plgproduct.dll,1");
}

// The module file, written for the running test: the product's, or one
// whose version record names `product_name`.
std::string ModuleFile(const char* product_name = "Pellagor") {
  return WriteTempFile(std::string(product_name) + ".dll", ModuleImage(product_name));
}

std::unique_ptr<MemoryRegistry> RegisteredMachine() {
  return PlanStep(*BuiltInMachine(), kRegister, kDefaultModulePath).after;
}

testing::CliRun Verify(const MemoryRegistry& machine, std::vector<std::string> more = {},
                       const char* command = "verify") {
  const std::string image = WriteTempFile(
      "verify_image.reg", FormatRegFile(ExportRegistry(machine, "HKEY_LOCAL_MACHINE")));
  std::vector<std::string> args = {command, "--machine", image};
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
  EXPECT_EQ((std::vector<std::string>{"schema", "plgreg", "module_path", "module_file", "state",
                                      "current", "current_version", "missing", "different",
                                      "left_over", "messages"}),
            fields);
  const testing::CliRun version = Plgreg({"--version"});
  EXPECT_EQ(0, version.code);
  ASSERT_EQ(0u, version.out.rfind("plgreg 38.0.", 0)) << version.out;
  nlohmann::json wanted = nlohmann::json::parse(R"({"schema": 2, "plgreg": "",
      "module_path": "C:\\Program Files\\Pellagor\\plgproduct.dll", "module_file": null,
      "state": "registered", "current": true, "current_version": null,
      "missing": [], "different": [], "left_over": [], "messages": []})");
  wanted["plgreg"] = version.out.substr(7, version.out.size() - 8);
  EXPECT_EQ(wanted, nlohmann::json::parse(json.out));

  // The module file checked, and another version current.
  std::unique_ptr<MemoryRegistry> other = RegisteredMachine();
  RegisterOtherVersionAfter(other.get());
  const testing::CliRun checked =
      Verify(*other, {"--format", "json", "--module-file", ModuleFile()});
  EXPECT_EQ(0, checked.code) << checked.out;
  nlohmann::json found = nlohmann::json::parse(checked.out);
  for (const char* field : {"plgreg", "missing", "different", "left_over", "messages"}) {
    wanted.erase(field);
    found.erase(field);
  }
  wanted["module_file"] = nlohmann::json::parse(
      R"({"present": true, "problem": null, "product_name": "Pellagor",
          "file_version": "38.0.0.380"})");
  wanted["current"] = false;
  wanted["current_version"] = "37.0";
  EXPECT_EQ(wanted, found);
  const std::string missing = ::testing::TempDir() + "verify_no_such_module.dll";
  found = nlohmann::json::parse(Verify(*other, {"--format", "json", "--module-file", missing}).out);
  EXPECT_EQ("module missing", found["state"]);
  EXPECT_EQ(nlohmann::json::parse(R"({"present": false,
      "problem": "no such file, or it cannot be opened", "product_name": null,
      "file_version": null})"),
            found["module_file"]);
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
  for (const char* field :
       {"schema", "plgreg", "module_path", "module_file", "current", "current_version"}) {
    found.erase(field);
  }
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

// Control characters in registry data reach the text only escaped, as in
// names; the JSON escapes them as JSON does.
TEST(VerifyTest, ValueDataCannotForgeTheTextOutput) {
  std::unique_ptr<MemoryRegistry> machine = RegisteredMachine();
  const std::string forged =
      "D:\\x\x1b[1A\x1b[2K\rregistered: the machine holds everything a registration leaves "
      "there\n\x7f";
  machine->SeedString(kCustomizationKey, "DLL", forged);
  const testing::CliRun run = Verify(*machine);
  EXPECT_EQ(1, run.code);
  EXPECT_EQ(
      (std::vector<std::string>{
          "different: [HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\Customization] "
          "\"DLL\"=\"C:\\\\Program Files\\\\Pellagor\\\\plgproduct.dll\" (now "
          "\"DLL\"=\"D:\\\\x\\x1b[1A\\x1b[2K\\rregistered: the machine holds everything a "
          "registration leaves there\\n\\x7f\")",
          "partly registered: 0 missing, 1 different, 0 left over",
      }),
      Lines(run.out));
  const nlohmann::json json = nlohmann::json::parse(Verify(*machine, {"--format", "json"}).out);
  EXPECT_EQ(forged, json["different"][0]["now"]["text"]);
}

// The module file's version record, read from the PE image's resources;
// anything cut short or of another product is no module of this product.
TEST(VerifyTest, TheModuleFileIsKnownByItsVersionRecord) {
  const std::string image = ModuleImage("Pellagor");
  const std::optional<VersionRecord> record = ReadVersionRecord(image);
  ASSERT_TRUE(record);
  EXPECT_EQ("Pellagor", record->product_name);
  EXPECT_EQ("38.0.0.380", record->file_version);
  for (std::size_t size = 0; size < image.size(); ++size) {
    EXPECT_FALSE(ReadVersionRecord(image.substr(0, size)).has_value()) << size;
  }
  struct Case {
    std::string bytes;
    std::optional<std::string> problem;
  };
  const std::vector<Case> cases = {
      {image, std::nullopt},
      {"not a module", "the file has no readable version record"},
      {ModuleImage(nullptr), "the file's version record names the product \"\", not \"Pellagor\""},
      {ModuleImage("Pellagor Viewer"),
       "the file's version record names the product \"Pellagor Viewer\", not \"Pellagor\""},
  };
  for (const Case& c : cases) {
    const plg::tool::ModuleFile module = CheckModuleFile(c.bytes, "", "Pellagor");
    EXPECT_EQ(!c.problem, module.present);
    EXPECT_EQ(c.problem.value_or(""), module.problem);
  }
  EXPECT_EQ("gone", CheckModuleFile(std::nullopt, "gone", "Pellagor").problem);
}

// The state in the text's last line and in the JSON, and the exit code. A
// module file that is not the product's decides first; then the shared
// system's Dir key, or its "bin", missing in the 64-bit view decides
// whatever else is there; then any of the product's own values (not the
// entries all products share) makes a machine partly registered. With
// another registered version current, only what this version's
// unregistration removes all the same counts. Module paths compare as
// Windows compares them; key paths are as long as Windows allows.
TEST(VerifyTest, TheStateSaysWhatTheMachineHolds) {
  const std::string dir_key = plg::testing::kDirKey;
  const auto registered_on = [](std::unique_ptr<MemoryRegistry> machine) {
    return PlanStep(*machine, kRegister, kDefaultModulePath).after;
  };
  struct Case {
    const char* label;
    std::unique_ptr<MemoryRegistry> machine;
    const char* state;
    std::vector<std::string> more = {};
    bool current = true;
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

  const std::string module = ModuleFile();
  cases.push_back({"registered, the module there",
                   RegisteredMachine(),
                   "registered",
                   {"--module-file", module}});
  cases.push_back({"registered, the module gone",
                   RegisteredMachine(),
                   "module missing",
                   {"--module-file", ::testing::TempDir() + "verify_no_such_module.dll"}});
  cases.push_back({"the module of another product, the shared system gone",
                   RegisteredMachine(),
                   "module missing",
                   {"--module-file", ModuleFile("Pellagor Viewer")}});
  cases.back().machine->Erase(dir_key);
  cases.push_back({"registered, verified as another spelling of the path",
                   RegisteredMachine(),
                   "registered",
                   {"--module-path", "c:\\PROGRAM FILES\\pellagor\\PlgProduct.DLL"}});
  cases.push_back({"registered as another path",
                   RegisteredMachine(),
                   "partly registered",
                   {"--module-path", "C:\\Program Files\\Pellagor\\plgproduct2.dll"}});

  cases.push_back(
      {"37.0 registered after this version", RegisteredMachine(), "registered", {}, false});
  RegisterOtherVersionAfter(cases.back().machine.get());
  cases.push_back({"37.0 registered after, this version's class gone",
                   RegisteredMachine(),
                   "partly registered",
                   {},
                   false});
  RegisterOtherVersionAfter(cases.back().machine.get());
  cases.back().machine->Erase("HKEY_CLASSES_ROOT\\PLG Application 3800");
  cases.push_back({"37.0 registered after, the verb V12 gone",
                   RegisteredMachine(),
                   "partly registered",
                   {},
                   false});
  RegisterOtherVersionAfter(cases.back().machine.get());
  cases.back().machine->Erase("HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12");
  cases.push_back({"37.0 registered after, this version's key gone",
                   RegisteredMachine(),
                   "partly registered",
                   {},
                   false});
  RegisterOtherVersionAfter(cases.back().machine.get());
  cases.back().machine->Erase("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\Menus");
  cases.push_back({"only 37.0 registered", BuiltInMachine(), "not registered", {}, false});
  RegisterOtherVersionAfter(cases.back().machine.get());
  cases.push_back({"the marker names 37.0, which is not registered",
                   RegisteredMachine(),
                   "partly registered",
                   {},
                   false});
  cases.back().machine->SeedString(kMarkerKey, "", "PLG Application 3700");

  // A release label that makes the verb's key path longer than 260
  // characters, each name within 255.
  const std::string label(220, 'L');
  auto long_label = BuiltInMachine();
  long_label->SetAnsiPathLimit(0);
  long_label->SeedString(dir_key, "bin", "Kelsys " + label + "\\");
  cases.push_back(
      {"registered with a long release label", registered_on(long_label->Clone()), "registered"});
  const std::string long_verb =
      "HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor " + label;
  ASSERT_TRUE(cases.back().machine->KeyExists(long_verb + "\\command"));
  cases.push_back({"registered with a long release label, its verb gone",
                   registered_on(long_label->Clone()), "partly registered"});
  cases.back().machine->Erase(long_verb);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> json_args = c.more;
    json_args.insert(json_args.end(), {"--format", "json"});
    const testing::CliRun text = Verify(*c.machine, c.more);
    const testing::CliRun json = Verify(*c.machine, json_args);
    const int code = std::string(c.state) == "registered" ? 0 : 1;
    EXPECT_EQ(code, text.code);
    EXPECT_EQ(code, json.code);
    ASSERT_FALSE(Lines(text.out).empty());
    EXPECT_EQ(0u, Lines(text.out).back().rfind(std::string(c.state) + ": ", 0)) << text.out;
    const nlohmann::json parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(c.state, parsed.at("state"));
    EXPECT_EQ(c.current, parsed.at("current"));
  }
  EXPECT_EQ("shared system missing: " + dir_key +
                " has no \"bin\" value; 0 missing, 3 "
                "different, 1 left over",
            Lines(Verify(*cases[5].machine).out).back());
}

// detect, as Intune and Configuration Manager read a detection script: one
// line and exit 0 for installed, nothing and exit 0 for not installed, and
// any other exit code when it cannot tell.
TEST(VerifyTest, DetectAnswersAsDetectionRulesRead) {
  const std::string module = ModuleFile();
  std::unique_ptr<MemoryRegistry> other = RegisteredMachine();
  RegisterOtherVersionAfter(other.get());
  std::unique_ptr<MemoryRegistry> partly = RegisteredMachine();
  partly->EraseValue(kCustomizationKey, "DLL");
  const std::unique_ptr<MemoryRegistry> registered = RegisteredMachine();
  const std::unique_ptr<MemoryRegistry> clean = BuiltInMachine();
  struct Case {
    const char* label;
    const MemoryRegistry& machine;
    std::vector<std::string> more;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"registered",
       *registered,
       {"--module-file", module},
       "registered: Pellagor 38.0, module file version 38.0.0.380\n"},
      {"registered, not current",
       *other,
       {"--module-file", module},
       "registered: Pellagor 38.0, not current (37.0 is), module file version 38.0.0.380\n"},
      {"module missing", *registered, {"--module-file", module + ".gone"}, ""},
      {"partly registered", *partly, {"--module-file", module}, ""},
      {"not registered", *clean, {"--module-file", module}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const testing::CliRun run = Verify(c.machine, c.more, "detect");
    EXPECT_EQ(0, run.code);
    EXPECT_EQ(c.out, run.out);
    EXPECT_EQ("", run.err);
  }
  // Cannot tell: an image's module not given, an image that cannot be read,
  // an internal error.
  const testing::CliRun no_module = Verify(*registered, {}, "detect");
  EXPECT_EQ(kExitUsage, no_module.code);
  EXPECT_EQ("", no_module.out);
  EXPECT_EQ("plgreg: detect: an image's module file must be given with --module-file\n",
            no_module.err);
  const testing::CliRun unreadable = Plgreg(
      {"detect", "--machine", WriteTempFile("bad.reg", "REGEDIT9\r\n"), "--module-file", module});
  EXPECT_EQ(kExitUsage, unreadable.code);
  EXPECT_EQ("", unreadable.out);
  EXPECT_NE(std::string::npos, unreadable.err.find("not a registry file")) << unreadable.err;
  const testing::CliRun internal =
      Plgreg({"detect", "--machine", "x.reg", "--module-file", module},
             [](const std::string&, std::string*) -> std::unique_ptr<MemoryRegistry> {
               throw std::bad_alloc();
             });
  EXPECT_EQ(kExitInternal, internal.code);
  EXPECT_EQ("", internal.out);
  EXPECT_EQ("plgreg: internal error: std::bad_alloc\n", internal.err);
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
