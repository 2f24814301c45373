// Register then unregister on a machine that others use too: everything
// returns to what it was, but for the leftovers the removal rules promise.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "registrar/registration_driver.h"
#include "tests/support/containment.h"
#include "tests/support/registry_text.h"
#include "tests/support/test_machine.h"

namespace plg {
namespace {

using testing::DescribeTree;
using testing::TestMachine;
using Lines = std::vector<std::string>;

// Other products, another version of this product, another release of the
// shared system and keys nobody here owns.
void SeedBusyMachine(TestMachine& m) {
  m.SeedSharedSystem();
  m.registry.SeedString(testing::kOptionsKey, "kst", "Kestrel");
  m.registry.SeedString(testing::kOptionsKey, "abc", "Abacus");
  m.registry.SeedKey("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\37.0\\Customization");
  m.registry.SeedString("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\37.0\\Customization",
                        "DLL", "C:\\Old\\plgproduct.dll");
  m.registry.SeedString("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\37.0\\Dir", "Bin",
                        "C:\\Apps\\Tolvanics\\Kelsys V11\\bin\\");
  m.registry.SeedString("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kestrel\\38.0\\Customization",
                        "DLL", "C:\\Kestrel\\kst.dll");
  m.registry.SeedString("HKEY_CLASSES_ROOT\\.txt", "", "txtfile");
  m.registry.SeedString("HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-C000-000000000046}", "",
                        "Someone else's class");
  m.registry.SeedString("HKEY_CLASSES_ROOT\\Kestrel Document\\CLSID", "",
                        "{11111111-2222-3333-4444-555555555555}");
  m.registry.SeedString("HKEY_LOCAL_MACHINE\\Software\\Unrelated", "v", "x");
}

TEST(RoundTrip, ABusyMachineGetsBackAllButThePromisedLeftovers) {
  TestMachine m;
  SeedBusyMachine(m);
  const std::vector<RegEntry> before = m.registry.Snapshot("HKEY_LOCAL_MACHINE");

  ASSERT_EQ(kResultOk, RegisterProduct(m.platform, testing::kSeedModulePath));
  ASSERT_EQ(kResultOk, UnregisterProduct(m.platform));
  EXPECT_TRUE(m.messages().empty());

  // Other products still use the library suffix, the library document type
  // and its class; the library class keeps the icon this module gave it.
  EXPECT_EQ((Lines{"[]", "@=\"Tolvane Model Library\""}),
            DescribeTree(m.registry, "HKEY_CLASSES_ROOT\\.hvxl"));
  EXPECT_EQ((Lines{"[]", "@=\"Tolvane Modeler Library\"", "[CLSID]",
                   "@=\"{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}\""}),
            DescribeTree(m.registry, "HKEY_CLASSES_ROOT\\Tolvane Model Library"));
  EXPECT_EQ(
      (Lines{"[]", "[DefaultIcon]", "@=\"C:\\Program Files\\Pellagor\\plgproduct.dll,0\""}),
      DescribeTree(m.registry, "HKEY_CLASSES_ROOT\\CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}"));
  m.registry.Erase("HKEY_CLASSES_ROOT\\.hvxl");
  m.registry.Erase("HKEY_CLASSES_ROOT\\Tolvane Model Library");
  m.registry.Erase("HKEY_CLASSES_ROOT\\CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}");

  // Everything else is as it was, the other version's settings included.
  EXPECT_EQ(before, m.registry.Snapshot("HKEY_LOCAL_MACHINE"));
}

TEST(RoundTrip, TheLastProductLeavesOnlyTheEmptyProductKey) {
  TestMachine m;
  m.SeedSharedSystem();
  m.registry.SeedKey("HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-C000-000000000046}");
  const std::vector<RegEntry> before = m.registry.Snapshot("HKEY_LOCAL_MACHINE");

  ASSERT_EQ(kResultOk, RegisterProduct(m.platform, testing::kSeedModulePath));
  ASSERT_EQ(kResultOk, UnregisterProduct(m.platform));

  EXPECT_EQ(Lines{"[]"},
            DescribeTree(m.registry, "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor"));
  EXPECT_EQ(Lines{"[]"}, DescribeTree(m.registry, testing::kOptionsKey));
  m.registry.Erase("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor");
  m.registry.Erase("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options");
  EXPECT_EQ(before, m.registry.Snapshot("HKEY_LOCAL_MACHINE"));
}

}  // namespace
}  // namespace plg
