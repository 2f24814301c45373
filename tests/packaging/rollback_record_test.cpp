// The installer's rollback record: whatever registration or unregistration
// did after it was taken, putting it back leaves the machine as it was.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "packaging/custom_action/rollback_record.h"
#include "registrar/registration_driver.h"
#include "tests/support/registry_text.h"
#include "tests/support/test_machine.h"

namespace plg {
namespace {

using testing::DescribeTree;
using testing::kOptionsKey;
using testing::kSeedModulePath;
using testing::TestMachine;

constexpr char kCode[] = "{3FF4EE36-AF6E-5CC6-8780-2237A5E17F49}";
constexpr char kMachine[] = "HKEY_LOCAL_MACHINE";

// Another version registered, and values others added under the product's
// keys, a string without its terminating zero among them.
void SeedOtherVersion(MemoryRegistry& registry) {
  registry.SeedString("HKEY_CLASSES_ROOT\\PLG Application\\CurVer", "", "PLG Application 3700");
  registry.SeedString("HKEY_CLASSES_ROOT\\PLG Application 3700", "", "PLG Application");
  registry.SeedString("HKEY_CLASSES_ROOT\\.plgf", "Content Type", "text/plain");
  registry.SeedString("HKEY_CLASSES_ROOT\\.plgf\\OpenWithProgids", "Other.Editor", "");
  registry.SeedValue("HKEY_CLASSES_ROOT\\.plgf", "PerceivedType", kRegSz, {0x74, 0x65, 0x78, 0x74});
  registry.SeedString(kOptionsKey, "kst", "Kelsys Studio");
}

struct Case {
  const char* name;
  std::function<void(TestMachine&)> machine;
  std::function<void(Platform&)> action;
};

TEST(RollbackRecordTest, PuttingTheRecordBackRestoresTheMachineExactly) {
  const Case cases[] = {
      {"first registration", [](TestMachine&) {},
       [](Platform& p) { static_cast<void>(RegisterProduct(p, kSeedModulePath)); }},
      {"registration over another version", [](TestMachine& m) { SeedOtherVersion(m.registry); },
       [](Platform& p) { static_cast<void>(RegisterProduct(p, kSeedModulePath)); }},
      {"unregistration of a registered machine",
       [](TestMachine& m) {
         SeedOtherVersion(m.registry);
         ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
       },
       [](Platform& p) { static_cast<void>(UnregisterProduct(p)); }},
      {"anything at all under the owned keys",
       [](TestMachine& m) { ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath)); },
       [](Platform& p) {
         static_cast<void>(UnregisterProduct(p));
         static_cast<void>(RegisterProduct(p, "D:\\Elsewhere\\plgproduct.dll"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine m;
    m.SeedSharedSystem();
    c.machine(m);
    const std::vector<std::string> before = DescribeTree(m.registry, kMachine);
    const std::string record = RollbackRecordPath(kCode);
    ASSERT_EQ(kSuccess, TakeRollbackRecord(m.platform, m.registry, record));
    c.action(m.platform);
    ASSERT_NE(before, DescribeTree(m.registry, kMachine));
    EXPECT_EQ(kSuccess, RestoreRollbackRecord(m.platform, m.registry, record));
    DeleteRollbackRecord(m.platform, record);
    EXPECT_EQ(before, DescribeTree(m.registry, kMachine));
    EXPECT_EQ(0u, m.registry.open_handles());
  }
}

TEST(RollbackRecordTest, OnlyACompleteRecordIsPutBackAndNoneIsLeft) {
  TestMachine m;
  m.SeedSharedSystem();
  const std::string record = RollbackRecordPath(kCode);
  // The record cannot be finished: it is deleted again, and restores nothing.
  m.registry.InjectFault({RegOp::kSetValue, "HKEY_LOCAL_MACHINE\\" + record, "Complete"});
  EXPECT_EQ(kErrorAccessDenied, TakeRollbackRecord(m.platform, m.registry, record));
  EXPECT_FALSE(m.registry.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Pellagor Rollback"));
  m.registry.ClearFaults();
  ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
  const std::vector<std::string> registered = DescribeTree(m.registry, kMachine);
  EXPECT_EQ(kSuccess, RestoreRollbackRecord(m.platform, m.registry, record));
  EXPECT_EQ(registered, DescribeTree(m.registry, kMachine));
  // Another product's record keeps the records' key.
  const std::string other = RollbackRecordPath("{00000000-1111-2222-3333-444444444444}");
  ASSERT_EQ(kSuccess, TakeRollbackRecord(m.platform, m.registry, other));
  ASSERT_EQ(kSuccess, TakeRollbackRecord(m.platform, m.registry, record));
  DeleteRollbackRecord(m.platform, record);
  EXPECT_TRUE(m.registry.KeyExists("HKEY_LOCAL_MACHINE\\" + other));
  DeleteRollbackRecord(m.platform, other);
  EXPECT_FALSE(m.registry.KeyExists("HKEY_LOCAL_MACHINE\\Software\\Pellagor Rollback"));
}

TEST(RollbackRecordTest, ARecordIsNamedOnlyByAProductCode) {
  EXPECT_EQ(std::string("Software\\Pellagor Rollback\\") + kCode, RollbackRecordPath(kCode));
  for (const char* code :
       {"", "{3FF4EE36-AF6E-5CC6-8780-2237A5E17F4}", "..\\..\\Classes",
        "{3FF4EE36-AF6E-5CC6-8780\\2237A5E17F49}", "{3FF4EE36-AF6E-5CC6-8780-2237A5E17F4G}"}) {
    EXPECT_EQ("", RollbackRecordPath(code)) << code;
  }
}

}  // namespace
}  // namespace plg
