// The product name in the host settings' key paths.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "resources/product_strings.h"
#include "settings/customization_settings.h"
#include "settings/library_settings.h"
#include "settings/menu_customization_table.h"
#include "settings/menu_settings.h"
#include "tests/support/registry_text.h"
#include "tests/support/test_machine.h"

namespace plg {
namespace {

using testing::TestMachine;
using Lines = std::vector<std::string>;

// A name with format directives must reach the registry unchanged.
TEST(SettingsKeys, TheProductNameIsTakenLiterally) {
  TestMachine m;
  m.strings.Set(kProductName, "100%s %d Pel%%lagor");
  RegisterCustomizationDll(m.platform, kRegister, "C:\\p.dll");
  RegisterHelpMenu(m.platform, kRegister);
  RegisterMenuEdits(m.platform, kRegister, kMenuCustomizationTable,
                    static_cast<int>(std::size(kMenuCustomizationTable)));
  RegisterSuffixSettings(m.platform, kRegister);
  RegisterDefaultLibraries(m.platform, kRegister);
  RegisterScriptSettings(m.platform, kRegister);
  RegisterPfsView(m.platform, kRegister);
  RegisterGuiDefaults(m.platform, kRegister);
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ(0u, m.registry.open_handles());

  Lines keys;
  for (const std::string& line : testing::DescribeTree(
           m.registry, "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\100%s %d Pel%%lagor\\38.0")) {
    if (line.front() == '[') keys.push_back(line);
  }
  EXPECT_EQ((Lines{"[]", "[Customization]", "[Default Libraries]", "[GUIDefaults]", "[Menus]",
                   "[Menus\\Customization]", "[Menus\\Help]", "[PFSView]", "[Script Library]",
                   "[Suffix]"}),
            keys);
  Lines products;
  for (const std::string& line :
       testing::DescribeTree(m.registry, "HKEY_LOCAL_MACHINE\\Software\\Tolvanics")) {
    if (line.front() == '[' && line.find('\\') == std::string::npos) products.push_back(line);
  }
  EXPECT_EQ((Lines{"[]", "[100%s %d Pel%%lagor]"}), products);
}

}  // namespace
}  // namespace plg
