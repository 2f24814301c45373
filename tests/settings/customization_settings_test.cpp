// Customization library, PFS view and GUI defaults.
#include "settings/customization_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/product_strings.h"
#include "tests/settings/settings_test_support.h"

namespace plg {
namespace {

using testing::DescribeTree;
using testing::kSeedModulePath;
using testing::kVersionKey;
using testing::Lines;
using testing::TestMachine;

void RegisterAll(TestMachine& m, RegistrationMode mode, const std::string& module_path) {
  testing::RunSteps(m, mode,
                    {[&](Platform& platform, RegistrationMode step_mode) {
                       RegisterCustomizationDll(platform, step_mode, module_path);
                     },
                     RegisterPfsView, RegisterGuiDefaults});
}

TEST(CustomizationSettings, CleanMachineGetsExactlyTheThreeKeys) {
  TestMachine m;
  RegisterAll(m, kRegister, kSeedModulePath);
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ((Lines{
                "[]",
                "[Customization]",
                "\"DLL\"=\"C:\\Program Files\\Pellagor\\plgproduct.dll\"",
                "[GUIDefaults]",
                "\"CtrlStreamFixedOnly\"=dword:00000000",
                "\"CustomModelingOn\"=dword:00000001",
                "[PFSView]",
                "\"DLL\"=\"{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\"",
            }),
            DescribeTree(m.registry, kVersionKey));
}

TEST(CustomizationSettings, ARegistrationFromElsewhereOverwritesOnlyItsOwnValues) {
  TestMachine m;
  m.registry.SeedString(kVersionKey + "\\Customization", "Other", "kept");
  m.registry.SeedDword(kVersionKey + "\\GUIDefaults", "CustomModelingOn", 7);
  RegisterAll(m, kRegister, kSeedModulePath);
  RegisterCustomizationDll(m.platform, kRegister, "D:\\Second Place\\plgproduct.dll");
  EXPECT_EQ((Lines{"[]", "\"Other\"=\"kept\"", "\"DLL\"=\"D:\\Second Place\\plgproduct.dll\""}),
            DescribeTree(m.registry, kVersionKey + "\\Customization"));
  EXPECT_EQ((Lines{"[]", "\"CustomModelingOn\"=dword:00000001",
                   "\"CtrlStreamFixedOnly\"=dword:00000000"}),
            DescribeTree(m.registry, kVersionKey + "\\GUIDefaults"));
}

TEST(CustomizationSettings, UnregistrationTouchesNothing) {
  TestMachine m;
  m.registry.SeedString(kVersionKey + "\\Customization", "DLL", "C:\\old.dll");
  RegisterAll(m, kUnregister, "");
  EXPECT_TRUE(m.registry.calls().empty());
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ((Lines{"[]", "[Customization]", "\"DLL\"=\"C:\\old.dll\""}),
            DescribeTree(m.registry, kVersionKey));
}

TEST(CustomizationSettings, EachFailureIsReportedAndTheRestStillWritten) {
  const std::string customization = kVersionKey + "\\Customization";
  const std::string pfs = kVersionKey + "\\PFSView";
  const std::string gui = kVersionKey + "\\GUIDefaults";
  const std::string dll_line = "\"DLL\"=\"C:\\Program Files\\Pellagor\\plgproduct.dll\"";
  const std::string pfs_line = "\"DLL\"=\"{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\"";
  struct Case {
    const char* what;
    RegFault fault;
    std::string message;
    std::string detail;
    Lines tree;
  } cases[] = {
      {"customization key",
       {RegOp::kCreateKey, customization},
       "Unable to open customization  key",
       customization + ": error 5",
       {"[]", "[GUIDefaults]", "\"CtrlStreamFixedOnly\"=dword:00000000",
        "\"CustomModelingOn\"=dword:00000001", "[PFSView]", pfs_line}},
      {"customization value",
       {RegOp::kSetValue, customization, std::string("DLL")},
       "Unable to enter value customization DLL key",
       customization + " value \"DLL\": error 5",
       {"[]", "[Customization]", "[GUIDefaults]", "\"CtrlStreamFixedOnly\"=dword:00000000",
        "\"CustomModelingOn\"=dword:00000001", "[PFSView]", pfs_line}},
      {"PFS key",
       {RegOp::kCreateKey, pfs, std::nullopt, kErrorOutOfMemory},
       "Unable to open PFS CLSID key",
       pfs + ": error 14",
       {"[]", "[Customization]", dll_line, "[GUIDefaults]",
        "\"CtrlStreamFixedOnly\"=dword:00000000", "\"CustomModelingOn\"=dword:00000001"}},
      {"PFS value",
       {RegOp::kSetValue, pfs, std::string("DLL")},
       "Unable to enter PFS default CLSID key",
       pfs + " value \"DLL\": error 5",
       {"[]", "[Customization]", dll_line, "[GUIDefaults]",
        "\"CtrlStreamFixedOnly\"=dword:00000000", "\"CustomModelingOn\"=dword:00000001",
        "[PFSView]"}},
      {"GUI defaults key",
       {RegOp::kCreateKey, gui},
       "Unable to open GUI defaults key",
       gui + ": error 5",
       {"[]", "[Customization]", dll_line, "[PFSView]", pfs_line}},
      {"control stream switch",
       {RegOp::kSetValue, gui, std::string("CtrlStreamFixedOnly")},
       "Unable to enter default control stream connection key",
       gui + " value \"CtrlStreamFixedOnly\": error 5",
       {"[]", "[Customization]", dll_line, "[GUIDefaults]", "\"CustomModelingOn\"=dword:00000001",
        "[PFSView]", pfs_line}},
      {"custom modeling switch",
       {RegOp::kSetValue, gui, std::string("CustomModelingOn")},
       "Unable to enter custom modeling key",
       gui + " value \"CustomModelingOn\": error 5",
       {"[]", "[Customization]", dll_line, "[GUIDefaults]",
        "\"CtrlStreamFixedOnly\"=dword:00000000", "[PFSView]", pfs_line}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestMachine m;
    m.registry.InjectFault(c.fault);
    RegisterAll(m, kRegister, kSeedModulePath);
    EXPECT_EQ(Lines{c.message}, m.messages());
    EXPECT_EQ(Lines{c.detail}, m.reporter.details());
    EXPECT_EQ(c.tree, DescribeTree(m.registry, kVersionKey));
  }
}

TEST(BooleanTextValue, OnlyTrueInAnyCaseAndTheSingleOneCount) {
  struct Case {
    const char* text;
    int expected;
  } cases[] = {
      {"TRUE", 1},  {"true", 1}, {"True", 1},  {"tRuE", 1}, {"1", 1},
      {"FALSE", 0}, {"0", 0},    {"11", 0},    {"yes", 0},  {" TRUE", 0},
      {"TRUE ", 0}, {"TRU", 0},  {"TRUEX", 0}, {" 1", 0},   {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("text '") + c.text + "'");
    EXPECT_EQ(c.expected, BooleanTextValue(c.text));
  }
}

// Each switch reads its own string, and the second starts again from 0.
TEST(CustomizationSettings, SwitchesFollowTheirStrings) {
  TestMachine m;
  m.strings.Set(kCtrlStreamFixedOnly, "tRuE");
  m.strings.Set(kCustomModelingOn, "yes");
  RegisterGuiDefaults(m.platform, kRegister);
  EXPECT_EQ((Lines{"[]", "\"CtrlStreamFixedOnly\"=dword:00000001",
                   "\"CustomModelingOn\"=dword:00000000"}),
            DescribeTree(m.registry, kVersionKey + "\\GUIDefaults"));
}

TEST(CustomizationSettings, AMissingClassIdentifierWritesEmptyText) {
  TestMachine m;
  m.strings.Remove(kLanguageClassId);
  RegisterPfsView(m.platform, kRegister);
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ((Lines{"[]", "\"DLL\"=\"\""}), DescribeTree(m.registry, kVersionKey + "\\PFSView"));
}

}  // namespace
}  // namespace plg
