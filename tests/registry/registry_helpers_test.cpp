#include "registry/registry_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/registry_paths.h"
#include "resources/product_strings.h"
#include "tests/support/registry_text.h"
#include "tests/support/test_machine.h"

namespace plg {
namespace {

using testing::DescribeTree;
using testing::TestMachine;

constexpr char kClasses[] = "HKEY_CLASSES_ROOT";
constexpr char kCurVerKey[] = "HKEY_CLASSES_ROOT\\PLG Application\\CurVer";

std::vector<std::string> DeletedKeys(const MemoryRegistry& registry) {
  std::vector<std::string> deleted;
  for (const RegCall& call : registry.calls()) {
    if (call.op == RegOp::kDeleteKey && call.status == kSuccess) deleted.push_back(call.path);
  }
  return deleted;
}

// Each path as its step passes it, letter case and trailing backslash included.
TEST(ProductPaths, KeepTheSpellingTheStepsPass) {
  TestMachine m;
  EXPECT_EQ("38.0", GetVersionString());
  EXPECT_EQ("Software\\Tolvanics", GetCompanyKeyPath());
  EXPECT_EQ("Software\\Tolvanics\\Kelsys\\38.0\\Options", GetOptionsKeyPath());
  EXPECT_EQ("Kelsys\\38.0\\Options", GetOptionsSubkeyPath());
  EXPECT_EQ("Software\\Tolvanics\\Kelsys\\38.0\\Dir", GetDirKeyPath());
  EXPECT_EQ("Software\\Tolvanics\\Pellagor\\38.0", GetProductVersionKeyPath(m.platform));
  EXPECT_EQ("SOFTWARE\\Tolvanics\\Pellagor\\38.0\\Script Library",
            GetProductVersionKeyPath(m.platform, kSoftwareKeyUpper, "Script Library"));
  EXPECT_EQ("SOFTWARE\\Wow6432Node\\Tolvanics\\KELSYS\\", GetReleasesKeyPath(RegistryView::k32Bit));
  EXPECT_EQ("SOFTWARE\\Tolvanics\\KELSYS\\", GetReleasesKeyPath(RegistryView::kNative));
  EXPECT_EQ("SOFTWARE\\Wow6432Node\\Tolvanics\\P\\",
            GetProductViewKeyPath(RegistryView::k32Bit, "P"));
  EXPECT_EQ("SOFTWARE\\Tolvanics\\P\\", GetProductViewKeyPath(RegistryView::kNative, "P"));
}

TEST(SetRegistryString, WritesRegSzWithItsZeroAndNeverCutsTheText) {
  TestMachine m;
  RegKey key;
  ASSERT_TRUE(CreateKeyOrReport(m.platform, RegistryRoot::kLocalMachine, "Software\\T",
                                "unexpected", &key));
  const std::string long_text(5000, 'x');
  EXPECT_TRUE(SetRegistryString(m.platform, key, "long", long_text));
  EXPECT_TRUE(SetRegistryString(m.platform, key, "", "default"));
  EXPECT_TRUE(SetRegistryString(m.platform, key, "empty", ""));
  key.Close();
  const std::vector<RegEntry> entries = m.registry.Snapshot("HKEY_LOCAL_MACHINE\\Software\\T");
  ASSERT_EQ(4u, entries.size());
  EXPECT_EQ(kRegSz, entries[1].type);
  EXPECT_EQ(5001u, entries[1].data.size());
  EXPECT_EQ(0, entries[1].data.back());
  EXPECT_EQ((std::vector<std::string>{"[]", "\"long\"=\"" + long_text + "\"", "@=\"default\"",
                                      "\"empty\"=\"\""}),
            DescribeTree(m.registry, "HKEY_LOCAL_MACHINE\\Software\\T"));
}

TEST(CreateKeyOrReport, ReportsAFailedKeyWithItsPathAndErrorUnlessSilent) {
  TestMachine m;
  m.registry.InjectFault(
      {RegOp::kCreateKey, "HKEY_CLASSES_ROOT\\Denied", std::nullopt, kErrorChildMustBeVolatile});
  RegKey key;
  EXPECT_FALSE(CreateKeyOrReport(m.platform, RegistryRoot::kClassesRoot, "Denied",
                                 "Unable to create it", &key));
  EXPECT_FALSE(CreateKeyOrReport(m.platform, RegistryRoot::kClassesRoot, "Denied", nullptr, &key));
  EXPECT_FALSE(key.valid());
  EXPECT_EQ(std::vector<std::string>{"Unable to create it"}, m.reporter.messages());
  EXPECT_EQ(std::vector<std::string>{"HKEY_CLASSES_ROOT\\Denied: error 1021"},
            m.reporter.details());
}

TEST(SetRegistryString, ReportsAFailedWrite) {
  TestMachine m;
  m.registry.InjectFault({RegOp::kSetValue, "HKEY_LOCAL_MACHINE\\Software\\T", "v"});
  RegKey key;
  ASSERT_TRUE(CreateKeyOrReport(m.platform, RegistryRoot::kLocalMachine, "Software\\T",
                                "unexpected", &key));
  EXPECT_FALSE(SetRegistryString(m.platform, key, "v", "x"));
  EXPECT_TRUE(SetRegistryString(m.platform, key, "w", "x"));
}

TEST(SetRegistryStringOrReport, NamesTheKeyTheValueAndTheError) {
  TestMachine m;
  m.registry.InjectFault(
      {RegOp::kSetValue, "HKEY_CLASSES_ROOT\\K", std::string(""), kErrorKeyDeleted});
  RegKey key;
  ASSERT_TRUE(CreateKeyOrReport(m.platform, RegistryRoot::kClassesRoot, "K", nullptr, &key));
  EXPECT_FALSE(SetRegistryStringOrReport(m.platform, key, "", "x", "Unable to create Value x"));
  EXPECT_TRUE(SetRegistryStringOrReport(m.platform, key, "named", "y", "unexpected"));
  EXPECT_EQ(std::vector<std::string>{"Unable to create Value x"}, m.reporter.messages());
  EXPECT_EQ(std::vector<std::string>{"HKEY_CLASSES_ROOT\\K value \"\": error 1018"},
            m.reporter.details());
  key.Close();
  EXPECT_EQ((std::vector<std::string>{"[]", "\"named\"=\"y\""}),
            DescribeTree(m.registry, "HKEY_CLASSES_ROOT\\K"));
}

TEST(DeleteRegistryTree, RemovesAThreeLevelTreeDeepestFirst) {
  TestMachine m;
  const std::string top = std::string(kClasses) + "\\Tree";
  m.registry.SeedString(top + "\\a\\a1", "", "x");
  m.registry.SeedKey(top + "\\a\\a2");
  m.registry.SeedKey(top + "\\b");
  m.registry.SeedKey(std::string(kClasses) + "\\TreeSibling");

  EXPECT_TRUE(DeleteRegistryTree(m.platform, RegistryRoot::kClassesRoot, "Tree"));
  EXPECT_FALSE(m.registry.KeyExists(top));
  EXPECT_TRUE(m.registry.KeyExists(std::string(kClasses) + "\\TreeSibling"));
  EXPECT_EQ(
      (std::vector<std::string>{top + "\\a\\a1", top + "\\a\\a2", top + "\\a", top + "\\b", top}),
      DeletedKeys(m.registry));
  EXPECT_EQ(0u, m.registry.open_handles());
}

TEST(DeleteRegistryTree, GoesOnPastAKeyItCannotDeleteAndReportsTheTopRemaining) {
  TestMachine m;
  const std::string top = std::string(kClasses) + "\\Tree";
  m.registry.SeedKey(top + "\\a\\stuck");
  m.registry.SeedKey(top + "\\a\\free");
  m.registry.SeedKey(top + "\\b\\free");
  m.registry.InjectFault({RegOp::kDeleteKey, top + "\\a\\stuck"});

  EXPECT_FALSE(DeleteRegistryTree(m.platform, RegistryRoot::kClassesRoot, "Tree"));
  EXPECT_EQ((std::vector<std::string>{"[]", "[a]", "[a\\stuck]"}), DescribeTree(m.registry, top));
  EXPECT_EQ(0u, m.registry.open_handles());
}

TEST(DeleteRegistryTree, AMissingPathChangesNothing) {
  TestMachine m;
  const std::vector<RegEntry> before = m.registry.Snapshot("HKEY_LOCAL_MACHINE");
  EXPECT_FALSE(DeleteRegistryTree(m.platform, RegistryRoot::kClassesRoot, "Missing"));
  EXPECT_EQ(before, m.registry.Snapshot("HKEY_LOCAL_MACHINE"));
}

// A missing string resource turns "CLSID\" + id into "CLSID\" and a ProgID
// into "": the registry would take both for HKCR\CLSID or HKCR itself.
TEST(DeleteRegistryTree, RefusesPathsThatWouldAddressARootOrParent) {
  TestMachine m;
  m.registry.SeedKey(std::string(kClasses) + "\\CLSID\\{Other}");
  m.registry.SeedKey(std::string(kClasses) + "\\.other");
  for (const char* path : {"", "CLSID\\", "\\CLSID", "CLSID\\\\{Other}", "\\"}) {
    SCOPED_TRACE(std::string("path '") + path + "'");
    m.registry.ClearCalls();
    EXPECT_FALSE(DeleteRegistryTree(m.platform, RegistryRoot::kClassesRoot, path));
    EXPECT_TRUE(m.registry.calls().empty());
  }
  EXPECT_TRUE(m.registry.KeyExists(std::string(kClasses) + "\\CLSID\\{Other}"));
  EXPECT_TRUE(m.registry.KeyExists(std::string(kClasses) + "\\.other"));
}

TEST(DeleteRegistryTree, StopsDescendingAtTheRegistryDepthLimit) {
  TestMachine m;
  std::string chain = std::string(kClasses) + "\\Deep";
  const int levels = kMaxRegistryDepth + 40;
  for (int i = 0; i < levels; ++i) chain += "\\k";
  m.registry.SeedKey(chain);
  // Windows takes paths of any length, so only the depth limit stops the descent.
  m.registry.SetAnsiPathLimit(0);

  EXPECT_FALSE(DeleteRegistryTree(m.platform, RegistryRoot::kClassesRoot, "Deep"));
  int opens = 0;
  for (const RegCall& call : m.registry.calls()) opens += call.op == RegOp::kOpenKey;
  EXPECT_EQ(kMaxRegistryDepth, opens);
  // Nothing below the limit was opened, so the chain stays whole.
  EXPECT_TRUE(m.registry.KeyExists(chain));
  EXPECT_EQ(0u, m.registry.open_handles());
}

class InstallDirectoryTest : public ::testing::Test {
 protected:
  TestMachine m;
};

TEST_F(InstallDirectoryTest, EachKindReadsItsOwnValue) {
  m.SeedSharedSystem();
  EXPECT_EQ(testing::kSeedBinDir, GetInstallDirectory(m.platform, InstallDirectory::kBin));
  EXPECT_EQ(testing::kSeedHelpDir, GetInstallDirectory(m.platform, InstallDirectory::kHelp));
  EXPECT_EQ(testing::kSeedLibDir, GetInstallDirectory(m.platform, InstallDirectory::kLib));
  EXPECT_EQ(testing::kSeedRootDir, GetInstallDirectory(m.platform, InstallDirectory::kRoot));
  EXPECT_EQ(0u, m.registry.open_handles());
}

TEST_F(InstallDirectoryTest, MissingKeyOrValueGivesEmptyText) {
  EXPECT_EQ("", GetInstallDirectory(m.platform, InstallDirectory::kHelp));
  m.registry.SeedString(testing::kDirKey, "bin", "C:\\bin");
  EXPECT_EQ("", GetInstallDirectory(m.platform, InstallDirectory::kHelp));
}

TEST_F(InstallDirectoryTest, TakesDataAsTextUpToItsFirstZeroWhateverItsType) {
  struct Case {
    const char* what;
    ValueType type;
    std::vector<std::uint8_t> data;
    std::string expected;
  } cases[] = {
      {"unterminated", kRegSz, {'D', ':', '\\', 'x'}, "D:\\x"},
      {"embedded zero", kRegSz, {'D', ':', 0, 'x', 0}, "D:"},
      {"expandable", kRegExpandSz, {'%', 'X', '%', 0}, "%X%"},
      {"binary", kRegBinary, {'b', 'i', 'n'}, "bin"},
      {"dword", kRegDword, {'A', 'B', 0, 0}, "AB"},
      {"empty", kRegSz, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m.registry.SeedValue(testing::kDirKey, "lib", c.type, c.data);
    EXPECT_EQ(c.expected, GetInstallDirectory(m.platform, InstallDirectory::kLib));
  }
}

TEST_F(InstallDirectoryTest, AQuoteMakesTheBinDirectoryEmptyButNotTheOthers) {
  // The bin directory enters quoted command lines; the others name no
  // executable.
  const std::string quoted = R"(C:\Kelsys V12" x.exe "\bin\)";
  for (const char* name : {"bin", "help", "lib", "root"}) {
    m.registry.SeedString(testing::kDirKey, name, quoted);
  }
  EXPECT_EQ("", GetInstallDirectory(m.platform, InstallDirectory::kBin));
  EXPECT_EQ(quoted, GetInstallDirectory(m.platform, InstallDirectory::kHelp));
  EXPECT_EQ(quoted, GetInstallDirectory(m.platform, InstallDirectory::kLib));
  EXPECT_EQ(quoted, GetInstallDirectory(m.platform, InstallDirectory::kRoot));
}

TEST_F(InstallDirectoryTest, AValueBeyond4096BytesIsUnreadable) {
  m.registry.SeedValue(testing::kDirKey, "bin", kRegSz, std::vector<std::uint8_t>(4096, 'a'));
  EXPECT_EQ(std::string(4096, 'a'), GetInstallDirectory(m.platform, InstallDirectory::kBin));
  m.registry.SeedValue(testing::kDirKey, "bin", kRegSz, std::vector<std::uint8_t>(4097, 'a'));
  EXPECT_EQ("", GetInstallDirectory(m.platform, InstallDirectory::kBin));
}

TEST(CountOptionsValues, CountsTheValuesOfTheOptionsKey) {
  TestMachine m;
  EXPECT_EQ(0, CountOptionsValues(m.platform));
  m.registry.SeedKey(testing::kOptionsKey);
  EXPECT_EQ(0, CountOptionsValues(m.platform));
  m.registry.SeedString(testing::kOptionsKey, "abc", "Other Product");
  m.registry.SeedString(testing::kOptionsKey, "xyz", "Third Product");
  m.registry.SeedKey(std::string(testing::kOptionsKey) + "\\NotAValue");
  EXPECT_EQ(2, CountOptionsValues(m.platform));
  m.registry.InjectFault({RegOp::kQueryInfo, testing::kOptionsKey});
  EXPECT_EQ(0, CountOptionsValues(m.platform));
  EXPECT_EQ(0u, m.registry.open_handles());
}

TEST(IsProductVersionCurrent, ComparesTheMarkerPrefixCaseSensitively) {
  struct Case {
    const char* marker;
    bool current;
  } cases[] = {
      {"PLG Application 380", true},   {"PLG Application 3800", true},
      {"PLG Application 380.1", true}, {"PLG Application 370", false},
      {"PLG Application 3700", false}, {"plg application 380", false},
      {"PLG Application 38", false},   {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("marker '") + c.marker + "'");
    TestMachine m;
    m.registry.SeedString(kCurVerKey, "", c.marker);
    EXPECT_EQ(c.current, IsProductVersionCurrent(m.platform));
    EXPECT_EQ(0u, m.registry.open_handles());
  }
}

TEST(IsProductVersionCurrent, NoMarkerKeyCountsAsCurrent) {
  TestMachine m;
  EXPECT_TRUE(IsProductVersionCurrent(m.platform));
  m.registry.SeedKey("HKEY_CLASSES_ROOT\\PLG Application");
  EXPECT_TRUE(IsProductVersionCurrent(m.platform));
}

TEST(IsProductVersionCurrent, AMarkerThatCannotBeReadCountsAsNotCurrent) {
  {
    TestMachine m;
    m.registry.SeedKey(kCurVerKey);  // no default value
    EXPECT_FALSE(IsProductVersionCurrent(m.platform));
  }
  // Only a marker key that is not found counts as current; any other failure
  // to open it, or to read it, does not.
  for (const RegOp op : {RegOp::kOpenKey, RegOp::kQueryValue}) {
    for (const RegStatus error : {kErrorAccessDenied, kErrorInvalidParameter, kErrorFileNotFound}) {
      SCOPED_TRACE(std::string(RegOpName(op)) + " error " + std::to_string(error));
      TestMachine m;
      m.registry.SeedString(kCurVerKey, "", "PLG Application 3800");
      m.registry.InjectFault({op, kCurVerKey, std::nullopt, error});
      EXPECT_EQ(op == RegOp::kOpenKey && error == kErrorFileNotFound,
                IsProductVersionCurrent(m.platform));
      EXPECT_EQ(0u, m.registry.open_handles());
    }
  }
  {
    TestMachine m;
    std::vector<std::uint8_t> huge(5000, 'P');
    m.registry.SeedValue(kCurVerKey, "", kRegSz, huge);
    EXPECT_FALSE(IsProductVersionCurrent(m.platform));
  }
}

TEST(IsProductVersionCurrent, BuildsTheMarkerFromTheStringTable) {
  TestMachine m;
  m.strings.Set(kMajorVersion, "37");
  m.registry.SeedString(kCurVerKey, "", "PLG Application 3700");
  EXPECT_TRUE(IsProductVersionCurrent(m.platform));
  m.registry.SeedString(kCurVerKey, "", "PLG Application 3800");
  EXPECT_FALSE(IsProductVersionCurrent(m.platform));
}

TEST(ReportRegistrationError, ShowsTheTextAndKeepsTheFailureForDiagnosticsAndTheEventLog) {
  TestMachine m;
  ReportRegistrationError(m.platform, "Unable to open HKEY_LOCAL_MACHINE",
                          {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics", kErrorAccessDenied});
  ReportRegistrationError(m.platform, "Second");
  ReportRegistrationError(m.platform, "Third", {"HKEY_CLASSES_ROOT\\.plgf value \"\""});
  EXPECT_EQ((std::vector<std::string>{"Unable to open HKEY_LOCAL_MACHINE", "Second", "Third"}),
            m.reporter.messages());
  EXPECT_EQ((std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Software\\Tolvanics: error 5", "",
                                      "HKEY_CLASSES_ROOT\\.plgf value \"\""}),
            m.reporter.details());
  EXPECT_EQ(3u, m.reporter.shown());
  EXPECT_EQ(
      (std::vector<RecordedEvent>{{"Unable to open HKEY_LOCAL_MACHINE",
                                   "HKEY_LOCAL_MACHINE\\Software\\Tolvanics", kErrorAccessDenied},
                                  {"Second", "", kSuccess},
                                  {"Third", "HKEY_CLASSES_ROOT\\.plgf value \"\"", kSuccess}}),
      m.events.events());
}

}  // namespace
}  // namespace plg
