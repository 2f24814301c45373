// The product's own entries and the two exports' logic, over every step.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "registrar/modeler_options.h"
#include "registrar/registration_driver.h"
#include "tests/support/registry_text.h"
#include "tests/support/test_machine.h"

namespace plg {
namespace {

using testing::DescribeTree;
using testing::kOptionsKey;
using testing::kProductVersionKey;
using testing::kSeedModulePath;
using testing::TestMachine;

constexpr char kCompanyKey[] = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics";
constexpr char kProductKey[] = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor";

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { m.SeedSharedSystem(); }

  TestMachine m;
};

TEST_F(RegistrationTest, ModelerOptionsWriteTheProductKeyAndItsOptionsValue) {
  m.registry.SeedString(kOptionsKey, "abc", "Other Product");
  RegisterModelerOptions(m.platform);
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ((std::vector<std::string>{"[]"}), DescribeTree(m.registry, kProductKey));
  EXPECT_EQ((std::vector<std::string>{"[]", "\"abc\"=\"Other Product\"", "\"plg\"=\"Pellagor\""}),
            DescribeTree(m.registry, kOptionsKey));
  EXPECT_EQ(0u, m.registry.open_handles());
}

TEST_F(RegistrationTest, ModelerOptionsReportEachFailureAndGoOnAsFarAsTheyCan) {
  const std::string options_key = kOptionsKey;
  const std::vector<std::string> no_key;
  struct Case {
    const char* what;
    RegFault fault;
    std::vector<std::string> messages;
    bool product_key;
    std::vector<std::string> options;
  } cases[] = {
      {"company key",
       {RegOp::kCreateKey, kCompanyKey},
       {"Unable to open HKEY_LOCAL_MACHINE"},
       false,
       no_key},
      {"product key",
       {RegOp::kCreateKey, kProductKey},
       {"Unable to create Application Name key"},
       false,
       {"[]", "\"plg\"=\"Pellagor\""}},
      {"options key",
       {RegOp::kCreateKey, options_key},
       {"Unable to open modeler options key"},
       true,
       no_key},
      {"options value",
       {RegOp::kSetValue, options_key, std::string("plg")},
       {"Unable to enter value in modeler options key"},
       true,
       {"[]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestMachine t;
    t.registry.InjectFault(c.fault);
    RegisterModelerOptions(t.platform);
    EXPECT_EQ(c.messages, t.messages());
    EXPECT_EQ(c.product_key, t.registry.KeyExists(kProductKey));
    EXPECT_EQ(c.options, DescribeTree(t.registry, kOptionsKey));
    EXPECT_EQ(0u, t.registry.open_handles());
  }
}

TEST_F(RegistrationTest, AFailedCompanyKeyIsReportedOnceAndEveryStepStillRuns) {
  m.registry.InjectFault({RegOp::kCreateKey, kCompanyKey});
  EXPECT_EQ(kResultSelfRegClassError, RegisterProduct(m.platform, kSeedModulePath));
  EXPECT_EQ((std::vector<std::string>{"Unable to open HKEY_LOCAL_MACHINE"}), m.messages());
  // The first step and the last one both wrote their entries.
  EXPECT_TRUE(m.registry.KeyExists(std::string(kProductVersionKey) + "\\Customization"));
  EXPECT_TRUE(m.registry.KeyExists("HKEY_CLASSES_ROOT\\PLG Application\\CurVer"));
}

TEST_F(RegistrationTest, ACleanRegistrationShowsNothingAndSucceeds) {
  EXPECT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ(0u, m.registry.open_handles());
}

TEST_F(RegistrationTest, AnyMessageMakesRegistrationReportFailure) {
  m.registry.InjectFault({RegOp::kCreateKey, "HKEY_CLASSES_ROOT\\Pellagor Language\\CLSID"});
  EXPECT_EQ(kResultSelfRegClassError, RegisterProduct(m.platform, kSeedModulePath));
  EXPECT_EQ((std::vector<std::string>{"Error creating document key"}), m.messages());
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesWhatRegisteringOnceLeaves) {
  ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
  const std::vector<RegEntry> once = m.registry.Snapshot("HKEY_LOCAL_MACHINE");
  ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
  EXPECT_EQ(once, m.registry.Snapshot("HKEY_LOCAL_MACHINE"));
}

TEST_F(RegistrationTest, UnregisteringWhatWasNeverRegisteredChangesNothing) {
  m.registry.SeedString(kOptionsKey, "abc", "Other Product");
  const std::vector<RegEntry> before = m.registry.Snapshot("HKEY_LOCAL_MACHINE");
  EXPECT_EQ(kResultOk, UnregisterProduct(m.platform));
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ(before, m.registry.Snapshot("HKEY_LOCAL_MACHINE"));
}

TEST_F(RegistrationTest, UnregistrationKeepsTheEmptyProductKeyAndOtherProducts) {
  m.registry.SeedString(kOptionsKey, "abc", "Other Product");
  ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
  ASSERT_TRUE(m.registry.KeyExists(kProductVersionKey));
  EXPECT_EQ(kResultOk, UnregisterProduct(m.platform));
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ((std::vector<std::string>{"[]"}), DescribeTree(m.registry, kProductKey));
  EXPECT_EQ((std::vector<std::string>{"[]", "\"abc\"=\"Other Product\""}),
            DescribeTree(m.registry, kOptionsKey));
  EXPECT_EQ(0u, m.registry.open_handles());
}

TEST_F(RegistrationTest, ARoundTripOnAMachineWithNoOtherProductRestoresClassesRoot) {
  m.registry.SeedString("HKEY_CLASSES_ROOT\\.txt", "", "txtfile");
  m.registry.SeedKey("HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}");
  const std::vector<RegEntry> classes_before = m.registry.Snapshot("HKEY_CLASSES_ROOT");
  ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
  ASSERT_NE(classes_before, m.registry.Snapshot("HKEY_CLASSES_ROOT"));
  ASSERT_EQ(kResultOk, UnregisterProduct(m.platform));
  EXPECT_EQ(classes_before, m.registry.Snapshot("HKEY_CLASSES_ROOT"));
}

// The host settings steps create this version's key before the document type
// looks for registered versions, so this version's release gets its verb.
TEST_F(RegistrationTest, TheDocumentTypeFindsThisVersionsRelease) {
  ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
  EXPECT_EQ(
      (std::vector<std::string>{
          "[]", "@=\"\"C:\\Apps\\Tolvanics\\Kelsys V12\\bin\\TolvaneModeler.exe\" /plg \"%1\"\""}),
      DescribeTree(m.registry,
                   "HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12\\command"));
}

// The automation class removes the version marker last, so the steps before
// it still see this version as current and remove the shared entries.
TEST_F(RegistrationTest, UnregistrationRemovesTheMarkerOnlyAfterTheSharedEntries) {
  ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
  m.registry.ClearCalls();
  ASSERT_EQ(kResultOk, UnregisterProduct(m.platform));
  std::vector<std::string> deleted;
  for (const RegCall& call : m.registry.calls()) {
    if (call.op == RegOp::kDeleteKey && call.status == kSuccess) deleted.push_back(call.path);
  }
  ASSERT_FALSE(deleted.empty());
  EXPECT_EQ("HKEY_CLASSES_ROOT\\CLSID\\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}", deleted.back());
  EXPECT_FALSE(m.registry.KeyExists("HKEY_CLASSES_ROOT\\Pellagor Language"));
  EXPECT_FALSE(m.registry.KeyExists("HKEY_CLASSES_ROOT\\.plgf"));
  EXPECT_FALSE(m.registry.KeyExists("HKEY_CLASSES_ROOT\\PLG Application"));
}

TEST_F(RegistrationTest, UnregistrationAlwaysRemovesTheV12VerbEvenForAnotherVersion) {
  ASSERT_EQ(kResultOk, RegisterProduct(m.platform, kSeedModulePath));
  m.registry.SeedString("HKEY_CLASSES_ROOT\\PLG Application\\CurVer", "", "PLG Application 3700");
  ASSERT_EQ(kResultOk, UnregisterProduct(m.platform));
  EXPECT_TRUE(m.registry.KeyExists("HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open\\command"));
  EXPECT_FALSE(
      m.registry.KeyExists("HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12"));
}

// The export boundary: what each failure that ends a call returns, and the
// event it leaves; the keys the work held are closed on the way out.
TEST_F(RegistrationTest, TheExportBoundaryTurnsEveryExceptionIntoAResult) {
  struct Case {
    const char* name;
    void (*fail)();
    long result;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"out of memory", [] { throw std::bad_alloc(); }, kResultOutOfMemory, {}},
      {"a logic error",
       [] { throw std::out_of_range("basic_string::substr"); },
       kResultUnexpected,
       {"Registration stopped by an unexpected error: basic_string::substr"}},
      {"no std::exception",
       [] { throw 38; },
       kResultUnexpected,
       {"Registration stopped by an unexpected error"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine t;
    const long result = RunExportCall(t.platform, [&](Platform& platform) -> long {
      RegKey key;
      EXPECT_EQ(kSuccess, platform.registry.CreateKey(RegKey::LocalMachine(), "Software\\Tolvanics",
                                                      kKeyAllAccess, &key));
      c.fail();
      return kResultOk;
    });
    EXPECT_EQ(c.result, result);
    std::vector<std::string> events;
    for (const RecordedEvent& event : t.events.events()) events.push_back(event.text);
    EXPECT_EQ(c.events, events);
    EXPECT_EQ(0u, t.registry.open_keys());
    EXPECT_TRUE(t.messages().empty());
  }
}

}  // namespace
}  // namespace plg
