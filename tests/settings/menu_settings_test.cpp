// Menu edit rows and the Help menu.
#include "settings/menu_settings.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "settings/menu_customization_table.h"
#include "tests/settings/settings_test_support.h"

namespace plg {
namespace {

using testing::Concat;
using testing::DescribeTree;
using testing::kDirKey;
using testing::kVersionKey;
using testing::Lines;
using testing::TestMachine;

const std::string kEditKey = kVersionKey + "\\Menus\\Customization";
const std::string kHelpKey = kVersionKey + "\\Menus\\Help";

const Lines kEditLines = {
    "\"0000\"=\"ADD,&Tools/Initialize Control Scheme,BEFORE,Generate Procedure Co&de...,"
    "InitializeControls, Re-initializes all control elements\"",
    "\"0001\"=\"REMOVE,&File/&New\tCtrl+N\"",
    "\"0002\"=\"REMOVE,&File/Open &Library...\"",
    "\"0003\"=\"REMOVE,&File/&Create Library...\"",
    "\"0004\"=\"REMOVE,&File/&Import Types...\"",
    "\"0005\"=\"DISABLE,&File/Expo&rt...\"",
    "\"0006\"=\"REMOVE,&File/Import &Flowsheet...\"",
    "\"0007\"=\"REMOVE,&Edit\"",
    "\"0008\"=\"REMOVE,&View/Model &Libraries\tAlt+F10\"",
    "\"0009\"=\"REMOVE,&Tools/Custom Mode&ling\"",
    "\"0010\"=\"REMOVE,&Tools/Confi&gure Properties...\tAlt+F6\"",
    "\"0011\"=\"REMOVE,&Tools/Generate Procedure Co&de...\"",
    "\"0012\"=\"REMOVE,&Tools/New/New S&cript...\"",
    "\"0013\"=\"REMOVE,&Tools/New/New Tas&k...\"",
    "\"0014\"=\"DISABLE,&Tools/Initialize Control Scheme\"",
    "\"0015\"=\"REMOVE,&Tools/Export Model or Structure to DLL...\"",
    "\"0016\"=\"REMOVE,&Tools/Export Model or Structure to MSI...\"",
    "\"0017\"=\"REMOVE,&Tools/Create Model Initialization Script...\"",
    "\"0018\"=\"REMOVE,&Tools/Manage HVX Models...\"",
    "\"0019\"=\"ADD,F&lowsheet/Global Data Variables...,AFTER,Proper&ties...\tAlt+Enter,"
    "InitializeControls, Re-initializes all control elements\"",
    "\"0020\"=\"REMOVE,F&lowsheet/Reconnect S&ources\"",
    "\"0021\"=\"REMOVE,F&lowsheet/Reconnect &Destinations\"",
    "\"0022\"=\"REMOVE,F&lowsheet/&Exchange Icons\tCtrl+K\"",
    "\"0023\"=\"REMOVE,F&lowsheet/&Align Blocks\tCtrl+B\"",
    "\"0024\"=\"REMOVE,F&lowsheet/&Reroute Streams\tCtrl+J\"",
    "\"0025\"=\"REMOVE,F&lowsheet/&Hide Label\tCtrl+H\"",
    "\"0026\"=\"REMOVE,F&lowsheet/&Unplace Blocks\tCtrl+U\"",
    "\"0027\"=\"REMOVE,F&lowsheet/Create Model from Flowsheet\"",
    "\"0028\"=\"REMOVE,F&lowsheet/&Lock\"",
    "\"0029\"=\"ADD,F&lowsheet/Global Data Variables...,AFTER,Proper&ties...\tAlt+Enter,"
    "InitializeControls, Re-initializes all control elements\"",
    "\"0030\"=\"ADD,F&lowsheet/Global Data Variables...,AFTER,Proper&ties...\tAlt+Enter,"
    "InitializeControls, Re-initializes all control elements\"",
    "\"0031\"=\"ADD,F&lowsheet/&Generate DXF...,AFTER,Fin&d Object...\"",
    "\"0032\"=\"REMOVE,&Run/Re&set All\"",
};

// The Help menu with `product_file` and `host_file` as the help files of
// lines "0" and "1".
Lines HelpLines(const std::string& product_file, const std::string& host_file) {
  return {
      "[]",
      "\"0\"=\"WINHELP,Pe&llagor Contents," + product_file + ",Display help topics\"",
      "\"1\"=\"WINHELP,&Brixcel Contents," + host_file + ",Display Brixcel help topics\"",
      "\"2\"=\"CONTEXTHELPMODE,&What's This?\tShift+F1,Enter context help mode\"",
      "\"3\"=\"SEPARATOR\"",
      "\"4\"=\"QVSTRAINING,&Product Support on the Web,Support,"
      "Display product support information on the Web\"",
      "\"5\"=\"QVSTRAINING,&Training,Training,Display training information\"",
      "\"6\"=\"QVSTRAINING,&Documentation,Documentation,Display online documentation\"",
      "\"7\"=\"SEPARATOR\"",
      "\"8\"=\"ABOUT,&About Pellagor\"",
  };
}

void RegisterMenuTable(Platform& platform, RegistrationMode mode) {
  RegisterMenuEdits(platform, mode, kMenuCustomizationTable,
                    static_cast<int>(std::size(kMenuCustomizationTable)));
}

void RegisterBoth(TestMachine& m, RegistrationMode mode) {
  testing::RunSteps(m, mode, {RegisterHelpMenu, RegisterMenuTable});
}

TEST(MenuSettings, CleanMachineGetsTheThirtyThreeRowsAndTheNineHelpLines) {
  TestMachine m;
  m.SeedSharedSystem();
  RegisterBoth(m, kRegister);
  EXPECT_TRUE(m.messages().empty());
  Lines help = HelpLines("C:\\Apps\\Tolvanics\\Kelsys V12\\help\\plg",
                         "C:\\Apps\\Tolvanics\\Kelsys V12\\help\\hvx");
  help[0] = "[Menus\\Help]";
  EXPECT_EQ(Concat({{"[]", "[Menus]", "[Menus\\Customization]"}, kEditLines, help}),
            DescribeTree(m.registry, kVersionKey));
}

TEST(MenuSettings, UnregistrationTouchesNothing) {
  testing::ExpectUnregistrationTouchesNothing(RegisterBoth);
}

TEST(MenuSettings, RowCountsAndValuesFromElsewhere) {
  const char* const rows[] = {"REMOVE,&Edit", "REMOVE,&Run"};
  struct Case {
    const char* what;
    int count;
    Lines tree;
  } cases[] = {
      {"no rows", 0, {"[]", "\"0040\"=\"kept\""}},
      {"negative count", -1, {"[]", "\"0040\"=\"kept\""}},
      {"two rows",
       2,
       {"[]", "\"0040\"=\"kept\"", "\"0000\"=\"REMOVE,&Edit\"", "\"0001\"=\"REMOVE,&Run\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestMachine m;
    m.registry.SeedString(kEditKey, "0040", "kept");
    RegisterMenuEdits(m.platform, kRegister, rows, c.count);
    EXPECT_EQ(c.tree, DescribeTree(m.registry, kEditKey));
    EXPECT_TRUE(m.messages().empty());
    EXPECT_EQ(0u, m.registry.open_handles());
  }
  TestMachine m;
  RegisterMenuEdits(m.platform, kRegister, nullptr, 0);
  EXPECT_EQ(Lines{"[]"}, DescribeTree(m.registry, kEditKey));
}

TEST(MenuSettings, TheHelpDirectoryIsUsedAsStored) {
  struct Case {
    const char* what;
    const char* help_dir;  // null: no "help" value
    bool dir_key;
    std::string product_file;
    std::string host_file;
  } cases[] = {
      {"no Dir key", nullptr, false, "\\plg", "\\hvx"},
      {"no help value", nullptr, true, "\\plg", "\\hvx"},
      {"trailing backslash", "D:\\Sys\\Help\\", true, "D:\\Sys\\Help\\\\plg",
       "D:\\Sys\\Help\\\\hvx"},
      {"plain", "D:\\Sys\\Help", true, "D:\\Sys\\Help\\plg", "D:\\Sys\\Help\\hvx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestMachine m;
    if (c.dir_key) m.registry.SeedString(kDirKey, "lib", "D:\\Sys\\Lib");
    if (c.help_dir != nullptr) m.registry.SeedString(kDirKey, "help", c.help_dir);
    RegisterHelpMenu(m.platform, kRegister);
    EXPECT_TRUE(m.messages().empty());
    EXPECT_EQ(HelpLines(c.product_file, c.host_file), DescribeTree(m.registry, kHelpKey));
    EXPECT_EQ(0u, m.registry.open_handles());
  }
}

// Line "1" reads the directory again rather than reusing what line "0" got.
TEST(MenuSettings, EachHelpFileLineReadsTheDirectoryAfresh) {
  TestMachine m;
  m.SeedSharedSystem();
  m.registry.InjectFault(
      {RegOp::kQueryValue, kDirKey, std::string("help"), kErrorAccessDenied, /*after=*/1});
  RegisterHelpMenu(m.platform, kRegister);
  EXPECT_EQ(HelpLines("C:\\Apps\\Tolvanics\\Kelsys V12\\help\\plg", "\\hvx"),
            DescribeTree(m.registry, kHelpKey));
}

TEST(MenuSettings, AKeyThatCannotBeCreatedIsReportedAndTheOtherStepWrites) {
  TestMachine edit_fails;
  edit_fails.SeedSharedSystem();
  edit_fails.registry.InjectFault({RegOp::kCreateKey, kEditKey});
  RegisterBoth(edit_fails, kRegister);
  EXPECT_EQ(Lines{"Unable to create menu customization key"}, edit_fails.messages());
  EXPECT_EQ(Lines{kEditKey + ": error 5"}, edit_fails.reporter.details());
  Lines help = HelpLines("C:\\Apps\\Tolvanics\\Kelsys V12\\help\\plg",
                         "C:\\Apps\\Tolvanics\\Kelsys V12\\help\\hvx");
  help[0] = "[Menus\\Help]";
  EXPECT_EQ(Concat({{"[]", "[Menus]"}, help}), DescribeTree(edit_fails.registry, kVersionKey));

  TestMachine help_fails;
  help_fails.registry.InjectFault({RegOp::kCreateKey, kHelpKey});
  RegisterBoth(help_fails, kRegister);
  EXPECT_EQ(Lines{"Unable to create Menu Help key"}, help_fails.messages());
  EXPECT_EQ(Lines{kHelpKey + ": error 5"}, help_fails.reporter.details());
  EXPECT_EQ(Concat({{"[]", "[Menus]", "[Menus\\Customization]"}, kEditLines}),
            DescribeTree(help_fails.registry, kVersionKey));
}

TEST(MenuSettings, AValueThatCannotBeWrittenIsSkippedSilently) {
  TestMachine m;
  m.registry.InjectFault({RegOp::kSetValue, kEditKey, std::string("0005")});
  m.registry.InjectFault({RegOp::kSetValue, kHelpKey, std::string("0")});
  m.registry.InjectFault({RegOp::kSetValue, kHelpKey, std::string("3")});
  RegisterBoth(m, kRegister);
  EXPECT_TRUE(m.messages().empty());

  Lines edits = kEditLines;
  edits.erase(edits.begin() + 5);
  EXPECT_EQ(Concat({{"[]"}, edits}), DescribeTree(m.registry, kEditKey));
  Lines help = HelpLines("\\plg", "\\hvx");
  help.erase(help.begin() + 4);  // "3"
  help.erase(help.begin() + 1);  // "0"
  EXPECT_EQ(help, DescribeTree(m.registry, kHelpKey));
}

}  // namespace
}  // namespace plg
