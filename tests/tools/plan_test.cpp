// plgreg plan: what registration and unregistration change, run on machine
// images through the whole command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine/builtin_machine.h"
#include "machine/reg_file.h"
#include "tests/tools/plgreg_run.h"
#include "tools/plgreg/plan.h"

namespace plg::tool {
namespace {

using testing::Lines;
using testing::Plgreg;
using testing::Utf16Text;
using testing::WriteTempFile;

constexpr char kVerbCommand[] =
    "\"C:\\Apps\\Tolvanics\\Kelsys V12\\bin\\TolvaneModeler.exe\" /plg \"%1\"";

std::vector<std::uint8_t> Sz(const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

RegFile ParsePlan(const std::string& bytes) {
  RegFile file;
  RegFileError error;
  EXPECT_TRUE(ParseRegFile(bytes, "plan.reg", &file, &error)) << error.ToString();
  return file;
}

const RegFileKey* Section(const RegFile& file, const std::string& path) {
  for (const RegFileKey& key : file.keys) {
    if (key.path == path) return &key;
  }
  return nullptr;
}

std::string ImageFile(const std::string& name, const MemoryRegistry& machine) {
  return WriteTempFile(name, FormatRegFile(ExportRegistry(machine, "HKEY_LOCAL_MACHINE")));
}

std::unique_ptr<MemoryRegistry> RegisteredMachine() {
  return PlanStep(*BuiltInMachine(), kRegister, kDefaultModulePath).after;
}

struct Expected {
  const char* key;
  const char* name;  // nullptr: the key is added with no value of its own
  ValueType type;
  std::vector<std::uint8_t> data;
};

TEST(PlanTest, RegisterOnTheBuiltInMachineWritesTheProductsEntries) {
  const testing::CliRun run = Plgreg({"plan", "register", "--format", "reg4"});
  EXPECT_EQ(0, run.code);
  EXPECT_EQ("", run.err);
  const RegFile plan = ParsePlan(run.out);
  EXPECT_EQ(RegFileFormat::kRegedit4, plan.format);

  const std::string module = kDefaultModulePath;
  const std::vector<Expected> expected = {
      {"HKEY_CLASSES_ROOT\\.plgf", "", kRegSz, Sz("Pellagor Language")},
      {"HKEY_CLASSES_ROOT\\Pellagor Language\\DefaultIcon", "", kRegSz, Sz(module + ",1")},
      {"HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12", nullptr, kRegNone, {}},
      {"HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12\\command", "", kRegSz,
       Sz(kVerbCommand)},
      {"HKEY_CLASSES_ROOT\\PLG Application\\CurVer", "", kRegSz, Sz("PLG Application 3800")},
      {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options", "plg", kRegSz,
       Sz("Pellagor")},
      {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor", nullptr, kRegNone, {}},
      {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\Customization", "DLL", kRegSz,
       Sz(module)},
      {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\GUIDefaults",
       "CtrlStreamFixedOnly",
       kRegDword,
       {0, 0, 0, 0}},
      {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\GUIDefaults",
       "CustomModelingOn",
       kRegDword,
       {1, 0, 0, 0}},
  };
  for (const Expected& entry : expected) {
    SCOPED_TRACE(std::string(entry.key) + " " + (entry.name ? entry.name : "(key)"));
    const RegFileKey* section = Section(plan, entry.key);
    ASSERT_NE(nullptr, section);
    EXPECT_FALSE(section->remove);
    if (entry.name == nullptr) {
      EXPECT_TRUE(section->values.empty());
      continue;
    }
    RegFileValue value;
    value.name = entry.name;
    value.type = entry.type;
    value.data = entry.data;
    EXPECT_NE(section->values.end(),
              std::find(section->values.begin(), section->values.end(), value));
  }
  // A clean machine loses nothing, and what it had is not listed.
  for (const RegFileKey& section : plan.keys) {
    SCOPED_TRACE(section.path);
    EXPECT_FALSE(section.remove);
    for (const RegFileValue& value : section.values) EXPECT_FALSE(value.remove);
  }
  EXPECT_EQ(nullptr, Section(plan, "HKEY_CLASSES_ROOT\\CLSID"));
  EXPECT_EQ(nullptr, Section(plan, "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir"));
}

TEST(PlanTest, TheDefaultFormatIsTheSameFileInUtf16) {
  const testing::CliRun ansi = Plgreg({"plan", "register", "--format", "reg4"});
  const testing::CliRun unicode = Plgreg({"plan", "register"});
  EXPECT_EQ(0, unicode.code);
  ASSERT_EQ(0u, ansi.out.rfind("REGEDIT4\r\n", 0));
  EXPECT_EQ("Windows Registry Editor Version 5.00" + ansi.out.substr(8), Utf16Text(unicode.out));
}

TEST(PlanTest, TheModulePathGoesWhereTheModuleIsNamed) {
  const testing::CliRun run =
      Plgreg({"plan", "register", "--format", "reg4", "--module-path", "D:\\Tools\\plg.dll"});
  const RegFile plan = ParsePlan(run.out);
  const RegFileKey* icon = Section(plan, "HKEY_CLASSES_ROOT\\Pellagor Language\\DefaultIcon");
  ASSERT_NE(nullptr, icon);
  ASSERT_EQ(1u, icon->values.size());
  EXPECT_EQ(Sz("D:\\Tools\\plg.dll,1"), icon->values[0].data);
}

TEST(PlanTest, UnregisterOfASmallMachineListsExactlyItsRemovals) {
  MemoryRegistry machine;
  machine.SeedString("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options", "plg",
                     "Pellagor");
  machine.SeedString("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options", "abc",
                     "Another Product");
  machine.SeedString("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\Menus\\Help", "0",
                     "SEPARATOR");
  machine.SeedString("HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12\\command", "",
                     kVerbCommand);
  machine.SeedString("HKEY_CLASSES_ROOT\\Tolvane Model Library", "", "Tolvane Modeler Library");
  const std::string image = ImageFile("plan_small.reg", machine);

  const testing::CliRun run =
      Plgreg({"plan", "unregister", "--machine", image, "--format", "reg4"});
  EXPECT_EQ(0, run.code);
  EXPECT_EQ("", run.err);
  // No version marker: this version owns the document type. Another product
  // is left in Options: the library document type stays.
  EXPECT_EQ(
      "REGEDIT4\r\n"
      "\r\n"
      "[-HKEY_CLASSES_ROOT\\Pellagor Language]\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options]\r\n"
      "\"plg\"=-\r\n"
      "\r\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0]\r\n"
      "\r\n",
      run.out);
}

TEST(PlanTest, UnregisterAfterARegistrationRemovesEverythingItWrote) {
  const std::string image = ImageFile("plan_registered.reg", *RegisteredMachine());
  const testing::CliRun run =
      Plgreg({"plan", "unregister", "--machine", image, "--format", "reg4"});
  EXPECT_EQ(0, run.code);
  EXPECT_EQ("", run.err);
  EXPECT_EQ((std::vector<std::string>{
                "REGEDIT4",
                "",
                "[-HKEY_CLASSES_ROOT\\.hvxl]",
                "",
                "[-HKEY_CLASSES_ROOT\\.plgf]",
                "",
                "[-HKEY_CLASSES_ROOT\\CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}]",
                "",
                "[-HKEY_CLASSES_ROOT\\CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}]",
                "",
                "[-HKEY_CLASSES_ROOT\\CLSID\\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}]",
                "",
                "[-HKEY_CLASSES_ROOT\\Pellagor Language]",
                "",
                "[-HKEY_CLASSES_ROOT\\PLG Application]",
                "",
                "[-HKEY_CLASSES_ROOT\\PLG Application 3800]",
                "",
                "[-HKEY_CLASSES_ROOT\\Tolvane Model Library]",
                "",
                "[HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options]",
                "\"plg\"=-",
                "",
                "[-HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0]",
                "",
            }),
            Lines(run.out));
}

TEST(PlanTest, RegisteringARegisteredMachineChangesNothing) {
  const std::string image = ImageFile("plan_twice.reg", *RegisteredMachine());
  const testing::CliRun run = Plgreg({"plan", "register", "--machine", image, "--format", "reg4"});
  EXPECT_EQ(0, run.code);
  EXPECT_EQ("REGEDIT4\r\n\r\n", run.out);
}

// The plan file, imported into the machine, leaves what the run left: no
// change is missing or extra, in either format.
TEST(PlanTest, ImportingThePlanGivesTheRunsResult) {
  std::unique_ptr<MemoryRegistry> stale = RegisteredMachine();
  stale->SeedString("HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V9\\command", "",
                    "old");
  stale->SeedString("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\Customization", "DLL",
                    "D:\\old\\plgproduct.dll");
  stale->SeedString("HKEY_CLASSES_ROOT\\Pellagor Language", "Stale", "x");
  struct Case {
    const char* label;
    std::unique_ptr<MemoryRegistry> machine;
    RegistrationMode mode;
  };
  std::vector<Case> cases;
  cases.push_back({"register on the built-in machine", BuiltInMachine(), kRegister});
  cases.push_back({"unregister a registration", RegisteredMachine(), kUnregister});
  cases.push_back({"register over stale entries", stale->Clone(), kRegister});
  cases.push_back({"unregister stale entries", stale->Clone(), kUnregister});
  for (const Case& c : cases) {
    for (const char* format : {"reg", "reg4"}) {
      SCOPED_TRACE(std::string(c.label) + ", " + format);
      const std::string image = ImageFile("plan_apply.reg", *c.machine);
      const testing::CliRun run = Plgreg({"plan", c.mode == kRegister ? "register" : "unregister",
                                          "--machine", image, "--format", format});
      ASSERT_EQ(0, run.code) << run.err;
      std::unique_ptr<MemoryRegistry> applied = c.machine->Clone();
      ApplyRegFile(ParsePlan(run.out), applied.get());
      const PlanResult result = PlanStep(*c.machine, c.mode, kDefaultModulePath);
      EXPECT_EQ(Lines(FormatRegFile(
                    ExportRegistry(*result.after, "HKEY_LOCAL_MACHINE", RegFileFormat::kRegedit4))),
                Lines(FormatRegFile(
                    ExportRegistry(*applied, "HKEY_LOCAL_MACHINE", RegFileFormat::kRegedit4))));
    }
  }
}

// Names compare as the registry compares them: a key or value spelt in
// another case is the same entry, whose data changed.
TEST(PlanTest, NamesDifferingOnlyInCaseAreOneEntry) {
  struct Case {
    const char* before;
    const char* after;
    bool same;
  } cases[] = {
      {"Name", "NAME", true},
      {"\x9a", "\x8a", true},   // s and S with caron
      {"\xe9", "\xc9", true},   // e and E with acute
      {"\x9d", "\x8d", false},  // undefined in 1252, not letters
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.before) + " / " + c.after);
    const std::string key = "HKEY_LOCAL_MACHINE\\Software\\T\\";
    MemoryRegistry before;
    before.SeedString(key + c.before, c.before, "1");
    MemoryRegistry after;
    after.SeedString(key + c.after, c.after, "2");
    std::vector<RegistryChange::Kind> kinds;
    for (const RegistryChange& change : DiffRegistries(before, after)) {
      kinds.push_back(change.kind);
    }
    using Kind = RegistryChange::Kind;
    const std::vector<Kind> one_entry = {Kind::kSetValue};
    const std::vector<Kind> two_entries = {Kind::kAddKey, Kind::kSetValue, Kind::kRemoveKey};
    EXPECT_EQ(c.same ? one_entry : two_entries, kinds);
  }
}

TEST(PlanTest, MessagesOfTheRunGoToStandardErrorAndSetTheExitCode) {
  RegFault fault;
  fault.op = RegOp::kSetValue;
  fault.path = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\GUIDefaults";
  fault.value = "CustomModelingOn";
  const std::unique_ptr<MemoryRegistry> machine = BuiltInMachine();
  machine->InjectFault(fault);
  const testing::CliRun run = testing::PlgregOn(*machine, {"plan", "register", "--format", "reg4"});
  EXPECT_EQ(1, run.code);
  EXPECT_EQ("Unable to enter custom modeling key\n", run.err);
  const RegFile plan = ParsePlan(run.out);
  const RegFileKey* defaults =
      Section(plan, "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\GUIDefaults");
  ASSERT_NE(nullptr, defaults);
  ASSERT_EQ(1u, defaults->values.size());
  EXPECT_EQ("CtrlStreamFixedOnly", defaults->values[0].name);
}

// A key or value name with a control character is refused in every format
// and by verify, with one line naming it: in a plan such a name could open a
// section of its own. Names read from an image and names the registration
// derives from its texts alike.
TEST(PlanTest, NamesWithControlCharactersAreRefusedInEveryFormat) {
  const std::string dir_key = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir";
  struct Hostile {
    const char* label;
    std::unique_ptr<MemoryRegistry> machine;
    std::string says;
  };
  std::vector<Hostile> cases;
  // The verb takes its label from the Bin text, line break and all. (No
  // quote in it: a bin directory holding one counts as missing.)
  cases.push_back({"Bin text with a line break", BuiltInMachine(),
                   "a key name holds a control character: [HKEY_CLASSES_ROOT\\Pellagor "
                   "Language\\shell\\Open Pellagor V12\\n[HKEY_CLASSES_ROOT]"});
  cases.back().machine->SeedString(
      dir_key, "bin", "C:\\Kelsys V12\n[HKEY_CLASSES_ROOT\\command]\n@=forged\n\\bin\\");
  // Read from an image file, beneath a key that registration rewrites.
  const std::string image = WriteTempFile(
      "plan_hostile.reg", FormatRegFile(ExportRegistry(*RegisteredMachine(), "HKEY_LOCAL_MACHINE",
                                                       RegFileFormat::kRegedit4)) +
                              "[HKEY_LOCAL_MACHINE\\Software\\Classes\\Pellagor "
                              "Language\\shell\\a\x01"
                              "b]\r\n\r\n");
  std::string error;
  cases.push_back({"a key name from an image file", LoadMachineImage(image, &error),
                   "a key name holds a control character: [HKEY_CLASSES_ROOT\\Pellagor "
                   "Language\\shell\\a\\x01b]"});
  ASSERT_NE(nullptr, cases.back().machine) << error;
  cases.push_back({"a value name", RegisteredMachine(),
                   "a value name holds a control character: [HKEY_CLASSES_ROOT\\Pellagor "
                   "Language] \"x\\n[HKEY_CLASSES_ROOT\\command]\""});
  cases.back().machine->SeedString("HKEY_CLASSES_ROOT\\Pellagor Language",
                                   "x\n[HKEY_CLASSES_ROOT\\command]", "forged");

  const std::vector<std::vector<std::string>> commands = {{"plan", "register", "--format", "reg"},
                                                          {"plan", "register", "--format", "reg4"},
                                                          {"plan", "register", "--format", "wxs"},
                                                          {"plan", "register", "--format", "json"},
                                                          {"verify"},
                                                          {"verify", "--format", "json"}};
  for (const Hostile& hostile : cases) {
    for (const std::vector<std::string>& command : commands) {
      SCOPED_TRACE(std::string(hostile.label) + ": " + command[0] + " " + command.back());
      const testing::CliRun run = testing::PlgregOn(*hostile.machine, command);
      EXPECT_EQ(kExitUsage, run.code);
      EXPECT_EQ("", run.out);
      EXPECT_EQ("plgreg: " + hostile.says + "\n", run.err);
    }
  }
}

}  // namespace
}  // namespace plg::tool
