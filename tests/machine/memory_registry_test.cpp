// What the in-memory registry offers beyond the registry contract: fault
// injection, the call log, handle accounting and direct access for tests.
#include "machine/memory_registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace plg {
namespace {

class MemoryRegistryTest : public ::testing::Test {
 protected:
  RegStatus Create(const std::string& path) {
    RegKey key;
    return registry.CreateKey(RegKey::ClassesRoot(), path, kKeyAllAccess, &key);
  }

  MemoryRegistry registry;
};

TEST_F(MemoryRegistryTest, AFaultMatchesItsKeyAsTheRegistryComparesPaths) {
  registry.InjectFault({RegOp::kCreateKey, "hkey_local_machine\\SOFTWARE\\classes\\Target"});
  EXPECT_EQ(kErrorAccessDenied, Create("TARGET"));
  EXPECT_EQ(kSuccess, Create("Other"));
  EXPECT_FALSE(registry.KeyExists("HKEY_CLASSES_ROOT\\Target"));
  EXPECT_TRUE(registry.KeyExists("HKEY_CLASSES_ROOT\\Other"));
}

TEST_F(MemoryRegistryTest, AFaultCanSpareTheFirstCallsAndLimitItsCount) {
  registry.InjectFault({RegOp::kCreateKey, "", std::nullopt, kErrorChildMustBeVolatile,
                        /*after=*/1, /*times=*/2});
  EXPECT_EQ(kSuccess, Create("one"));
  EXPECT_EQ(kErrorChildMustBeVolatile, Create("two"));
  EXPECT_EQ(kErrorChildMustBeVolatile, Create("three"));
  EXPECT_EQ(kSuccess, Create("four"));
}

TEST_F(MemoryRegistryTest, AValueFaultMatchesOnlyItsValueName) {
  RegKey key;
  ASSERT_EQ(kSuccess, registry.CreateKey(RegKey::ClassesRoot(), "K", kKeyAllAccess, &key));
  registry.InjectFault({RegOp::kSetValue, "HKEY_CLASSES_ROOT\\K", std::string("")});
  EXPECT_EQ(kErrorAccessDenied, registry.SetString(key, "", "default"));
  EXPECT_EQ(kSuccess, registry.SetString(key, "named", "x"));
  registry.ClearFaults();
  EXPECT_EQ(kSuccess, registry.SetString(key, "", "default"));
}

TEST_F(MemoryRegistryTest, TheLogRecordsEveryCallWithItsPathAndResult) {
  registry.InjectFault({RegOp::kDeleteKey, "HKEY_CLASSES_ROOT\\A"});
  {
    RegKey key;
    ASSERT_EQ(kSuccess, registry.CreateKey(RegKey::ClassesRoot(), "A\\B", kKeyAllAccess, &key));
  }
  EXPECT_EQ(kErrorAccessDenied, registry.DeleteKey(RegKey::ClassesRoot(), "A"));
  ASSERT_EQ(2u, registry.calls().size());
  EXPECT_EQ(RegOp::kCreateKey, registry.calls()[0].op);
  EXPECT_EQ("HKEY_CLASSES_ROOT\\A\\B", registry.calls()[0].path);
  EXPECT_EQ(kSuccess, registry.calls()[0].status);
  EXPECT_EQ(RegOp::kDeleteKey, registry.calls()[1].op);
  EXPECT_EQ(kErrorAccessDenied, registry.calls()[1].status);

  // Cleared entries are reused: nothing of theirs shows in later calls.
  registry.InjectFault({RegOp::kSetValue, "", std::string("named")});
  EXPECT_EQ(kErrorAccessDenied, registry.SetString(RegKey::LocalMachine(), "named", "x"));
  registry.ClearCalls();
  registry.ClearFaults();
  RegKey key;
  ASSERT_EQ(kSuccess, registry.OpenKey(RegKey::ClassesRoot(), "A\\", kKeyRead, &key));
  KeyInfo info;
  ASSERT_EQ(kSuccess, registry.QueryInfo(key, &info));
  ASSERT_EQ(kSuccess, registry.SetString(RegKey::LocalMachine(), "v", "x"));
  ASSERT_EQ(3u, registry.calls().size());
  EXPECT_EQ(RegOp::kOpenKey, registry.calls()[0].op);
  EXPECT_EQ("HKEY_CLASSES_ROOT\\A", registry.calls()[0].path);
  EXPECT_EQ("", registry.calls()[0].value);
  EXPECT_EQ(kSuccess, registry.calls()[0].status);
  EXPECT_EQ(RegOp::kQueryInfo, registry.calls()[1].op);
  EXPECT_EQ("HKEY_CLASSES_ROOT\\A", registry.calls()[1].path);
  EXPECT_EQ("", registry.calls()[1].value);
  EXPECT_EQ(kSuccess, registry.calls()[1].status);
  EXPECT_EQ("HKEY_LOCAL_MACHINE", registry.calls()[2].path);
  EXPECT_EQ("v", registry.calls()[2].value);
}

TEST_F(MemoryRegistryTest, CountsOpenHandlesAndNeverCountsRoots) {
  EXPECT_EQ(0u, registry.open_handles());
  RegKey a;
  RegKey b;
  ASSERT_EQ(kSuccess, registry.CreateKey(RegKey::LocalMachine(), "Software\\X", kKeyAllAccess, &a));
  ASSERT_EQ(kSuccess, registry.OpenKey(RegKey::LocalMachine(), "Software\\X", kKeyRead, &b));
  EXPECT_EQ(2u, registry.open_handles());
  RegKey moved = std::move(a);
  EXPECT_EQ(2u, registry.open_handles());
  moved.Close();
  EXPECT_EQ(1u, registry.open_handles());
  b = RegKey();
  EXPECT_EQ(0u, registry.open_handles());
  EXPECT_EQ(0u, registry.open_keys());
}

#ifndef NDEBUG
// A key must not outlive its registry: it would close through a dead one.
TEST(MemoryRegistryDeathTest, ARegistryDestroyedWithAKeyOpenStops) {
  EXPECT_DEATH(
      {
        auto registry = std::make_unique<MemoryRegistry>();
        auto* key = new RegKey;
        static_cast<void>(registry->CreateKey(RegKey::LocalMachine(), "X", kKeyAllAccess, key));
        registry.reset();
      },
      "outlived its Registry");
}
#endif

TEST_F(MemoryRegistryTest, SnapshotListsKeysDepthFirstAndValuesInCreationOrder) {
  registry.SeedString("HKEY_CLASSES_ROOT\\Top", "zeta", "1");
  registry.SeedString("HKEY_CLASSES_ROOT\\Top", "", "2");
  registry.SeedDword("HKEY_CLASSES_ROOT\\Top\\b", "n", 3);
  registry.SeedKey("HKEY_CLASSES_ROOT\\Top\\A\\deep");
  const std::vector<RegEntry> entries =
      registry.Snapshot("HKEY_LOCAL_MACHINE\\Software\\Classes\\top");
  std::vector<std::string> shape;
  for (const RegEntry& e : entries) shape.push_back(e.is_value ? e.key + "|" + e.name : e.key);
  EXPECT_EQ((std::vector<std::string>{"", "|zeta", "|", "A", "A\\deep", "b", "b|n"}), shape);
  // Value enumeration gives the same order.
  RegKey top;
  ASSERT_EQ(kSuccess, registry.OpenKey(RegKey::ClassesRoot(), "Top", kKeyRead, &top));
  std::vector<std::string> names;
  std::string name;
  RegValue value;
  for (std::uint32_t i = 0; registry.EnumValue(top, i, &name, &value) == kSuccess; ++i) {
    names.push_back(name);
  }
  EXPECT_EQ((std::vector<std::string>{"zeta", ""}), names);
  EXPECT_TRUE(registry.Snapshot("HKEY_CLASSES_ROOT\\Missing").empty());
}

TEST_F(MemoryRegistryTest, EraseRemovesASubtreeAndStaleHandlesSeeItDeleted) {
  RegKey inner;
  ASSERT_EQ(kSuccess, registry.CreateKey(RegKey::ClassesRoot(), "E\\inner", kKeyAllAccess, &inner));
  registry.Erase("HKEY_CLASSES_ROOT\\E");
  EXPECT_FALSE(registry.KeyExists("HKEY_CLASSES_ROOT\\E"));
  EXPECT_EQ(kErrorKeyDeleted, registry.SetString(inner, "v", "x"));
}

TEST_F(MemoryRegistryTest, NamesTheAnsiCallsCannotSpellComeBackAsQuestionMarks) {
  registry.SeedKeyW("HKEY_CLASSES_ROOT\\W", u"Name\u0416");
  RegKey key;
  ASSERT_EQ(kSuccess, registry.OpenKey(RegKey::ClassesRoot(), "W", kKeyRead, &key));
  std::string name;
  ASSERT_EQ(kSuccess, registry.EnumKey(key, 0, 100, &name));
  EXPECT_EQ("Name?", name);
  std::u16string wide;
  ASSERT_EQ(kSuccess, registry.EnumKeyW(key, 0, 100, &wide));
  EXPECT_EQ(u"Name\u0416", wide);
  // In code page 1251 the same name has a byte, and the ANSI calls reach it.
  registry.SetAnsiCodePage(1251);
  ASSERT_EQ(kSuccess, registry.EnumKey(key, 0, 100, &name));
  EXPECT_EQ("Name\xc6", name);
  RegKey child;
  EXPECT_EQ(kSuccess, registry.OpenKey(key, name, kKeyRead, &child));
}

TEST_F(MemoryRegistryTest, ACloneKeepsNamesAndFaultsAndIsIndependent) {
  registry.SeedKeyW("HKEY_CLASSES_ROOT\\W", u"Name\u0416");
  registry.SeedString("HKEY_CLASSES_ROOT\\W", "v", "x");
  RegKey open;
  ASSERT_EQ(kSuccess, registry.OpenKey(RegKey::ClassesRoot(), "W", kKeyRead, &open));
  registry.InjectFault({RegOp::kCreateKey, "HKEY_CLASSES_ROOT\\Target"});
  const std::unique_ptr<MemoryRegistry> clone = registry.Clone();
  registry.Erase("HKEY_CLASSES_ROOT\\W");
  registry.ClearFaults();

  // Neither the log nor the handles come along.
  EXPECT_EQ(0u, clone->calls().size());
  EXPECT_EQ(0u, clone->open_handles());
  RegKey key;
  ASSERT_EQ(kSuccess, clone->OpenKey(RegKey::ClassesRoot(), "W", kKeyRead, &key));
  std::u16string wide;
  ASSERT_EQ(kSuccess, clone->EnumKeyW(key, 0, 100, &wide));
  EXPECT_EQ(u"Name\u0416", wide);
  RegKey target;
  EXPECT_EQ(kErrorAccessDenied,
            clone->CreateKey(RegKey::ClassesRoot(), "Target", kKeyAllAccess, &target));
  // And the other way round.
  clone->SeedKey("HKEY_CLASSES_ROOT\\OnlyInTheClone");
  EXPECT_FALSE(registry.KeyExists("HKEY_CLASSES_ROOT\\OnlyInTheClone"));
  EXPECT_EQ(kSuccess, Create("Target"));
  EXPECT_EQ((std::vector<RegEntry>{{"", false, "", kRegNone, {}},
                                   {"", true, "v", kRegSz, {'x', 0}},
                                   {"Name?", false, "", kRegNone, {}}}),
            clone->Snapshot("HKEY_CLASSES_ROOT\\W"));
}

// Wine's limit, one above Windows' 255.
TEST_F(MemoryRegistryTest, KeyNamesAreRefusedBeyondWinesLimit) {
  EXPECT_EQ(kSuccess, Create(std::string(kMaxKeyNameLength, 'k')));
  EXPECT_EQ(kErrorInvalidParameter, Create("x\\" + std::string(kMaxKeyNameLength + 1, 'k')));
  EXPECT_FALSE(registry.KeyExists("HKEY_CLASSES_ROOT\\x"));
  RegKey key;
  EXPECT_EQ(kErrorInvalidParameter,
            registry.OpenKey(RegKey::ClassesRoot(), std::string(kMaxKeyNameLength + 1, 'k'),
                             kKeyRead, &key));
}

}  // namespace
}  // namespace plg
