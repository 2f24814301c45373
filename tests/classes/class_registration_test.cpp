// The shell and class steps together, in the driver's order: a registration
// on a clean machine, registering again, and the removal rules.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "registry/registry_helpers.h"
#include "resources/product_strings.h"
#include "tests/classes/class_test_support.h"

namespace plg::testing {
namespace {

constexpr char kMarkerKey[] = "HKEY_CLASSES_ROOT\\PLG Application\\CurVer";

// HKEY_CLASSES_ROOT after the class steps on the seeded machine.
const Lines kRegisteredTree = Concat({{"[]"},
                                      kLibrarySuffixTree,
                                      kDocumentSuffixTree,
                                      {"[CLSID]"},
                                      kLibraryClassTree,
                                      kLanguageClassTree,
                                      kApplicationClassTree,
                                      kLanguageProgIdTree,
                                      kVerbV11Tree,
                                      kVerbV12Tree,
                                      kApplicationProgIdTree,
                                      kMarkerTree,
                                      kVersionedProgIdTree,
                                      kLibraryProgIdTree});

TEST(ClassRegistration, CleanMachineGetsExactlyTheClassEntries) {
  TestMachine m;
  SeedMachine(m);

  RunClassSteps(m, kRegister);

  EXPECT_EQ(kRegisteredTree, ClassesTree(m));
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ(0u, m.registry.open_handles());
  EXPECT_TRUE(IsProductVersionCurrent(m.platform));
}

TEST(ClassRegistration, RegisteringAgainEqualsRegisteringOnce) {
  TestMachine m;
  SeedMachine(m);
  RunClassSteps(m, kRegister);
  RunClassSteps(m, kRegister);
  EXPECT_EQ(kRegisteredTree, ClassesTree(m));

  // A verb added by hand and the verb of a release uninstalled since do not
  // survive a new registration: the ProgID is rebuilt whole.
  m.registry.SeedString("HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Print\\command", "",
                        "print.exe %1");
  m.registry.Erase("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node");
  RunClassSteps(m, kRegister);

  EXPECT_EQ(
      WithoutKeys(kRegisteredTree, {R"([Pellagor Language\shell\Open Pellagor V11])",
                                    R"([Pellagor Language\shell\Open Pellagor V11\command])"}),
      ClassesTree(m));
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ(0u, m.registry.open_handles());
}

TEST(ClassRegistration, SharedLibrarySuffixKeepsWhatOthersWroteBeneathIt) {
  TestMachine m;
  m.registry.SeedString("HKEY_CLASSES_ROOT\\.hvxl", "", "Old Library");
  m.registry.SeedString("HKEY_CLASSES_ROOT\\.hvxl\\ShellNew", "NullFile", "");

  RegisterFileSuffixes(m.platform, kRegister);

  EXPECT_EQ(Concat({{"[]"},
                    kLibrarySuffixTree,
                    {R"([.hvxl\ShellNew])", R"("NullFile"="")"},
                    kDocumentSuffixTree}),
            ClassesTree(m));
}

enum class Marker { kThisVersion, kOtherVersion, kMissing, kUnreadable };
// The Options key as the steps find it, this product's own value removed.
enum class Options { kEmpty, kOtherProduct, kMissing, kUnopenable, kUnqueryable };

struct UnregistrationCase {
  const char* name;
  Marker marker;
  Options options;
  Lines expected;
};

// Entries of others that no step of this product may touch, and what another
// installer wrote beneath the shared library class.
const Lines kForeignSuffix = {"[.txt]", R"(@="txtfile")"};
const Lines kForeignClass = {R"([CLSID\{0F1E2D3C-0000-0000-C000-000000000046}])",
                             R"(@="Other Class")"};
const Lines kForeignLibraryHandler = {
    R"([CLSID\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}\InprocServer32])",
    R"(@="C:\Other\libhandler.dll")"};

const Lines kEverythingRemoved = Concat({{"[]"}, kForeignSuffix, {"[CLSID]"}, kForeignClass});
const Lines kSharedLibraryKept = Concat({{"[]"},
                                         kLibrarySuffixTree,
                                         kForeignSuffix,
                                         {"[CLSID]"},
                                         kForeignClass,
                                         kLibraryClassTree,
                                         kForeignLibraryHandler,
                                         kLibraryProgIdTree});
// Another version owns the shared entries: only this version's own
// automation entries and its V12 verb go.
Lines SharedEntriesKept(const Lines& marker) {
  return Concat({{"[]"},
                 kLibrarySuffixTree,
                 kDocumentSuffixTree,
                 kForeignSuffix,
                 {"[CLSID]"},
                 kForeignClass,
                 kLibraryClassTree,
                 kForeignLibraryHandler,
                 kLanguageClassTree,
                 kLanguageProgIdTree,
                 kVerbV11Tree,
                 kApplicationProgIdTree,
                 marker,
                 kLibraryProgIdTree});
}

void PrintTo(const UnregistrationCase& c, std::ostream* os) { *os << c.name; }

class Unregistration : public ::testing::TestWithParam<UnregistrationCase> {};

TEST_P(Unregistration, RemovesWhatTheVersionTestAndTheOtherProductsAllow) {
  const UnregistrationCase& c = GetParam();
  TestMachine m;
  SeedMachine(m);
  m.registry.SeedString("HKEY_CLASSES_ROOT\\.txt", "", "txtfile");
  m.registry.SeedString("HKEY_CLASSES_ROOT\\CLSID\\{0F1E2D3C-0000-0000-C000-000000000046}", "",
                        "Other Class");
  RunClassSteps(m, kRegister);
  m.registry.SeedString(
      "HKEY_CLASSES_ROOT\\CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}\\InprocServer32", "",
      "C:\\Other\\libhandler.dll");
  switch (c.options) {
    case Options::kEmpty: m.registry.SeedKey(kOptionsKey); break;
    case Options::kOtherProduct: m.registry.SeedString(kOptionsKey, "hvx", "Tolvane Host"); break;
    case Options::kMissing: m.registry.Erase(kOptionsKey); break;
    case Options::kUnopenable:
      m.registry.SeedString(kOptionsKey, "hvx", "Tolvane Host");
      m.registry.InjectFault({RegOp::kOpenKey, kOptionsKey});
      break;
    case Options::kUnqueryable:
      m.registry.SeedString(kOptionsKey, "hvx", "Tolvane Host");
      m.registry.InjectFault({RegOp::kQueryInfo, kOptionsKey});
      break;
  }
  switch (c.marker) {
    case Marker::kThisVersion: break;
    case Marker::kOtherVersion:
      m.registry.SeedString(kMarkerKey, "", "PLG Application 3700");
      break;
    case Marker::kMissing: m.registry.Erase(kMarkerKey); break;
    case Marker::kUnreadable: m.registry.InjectFault({RegOp::kQueryValue, kMarkerKey, ""}); break;
  }

  UnregisterClasses(m);

  EXPECT_EQ(c.expected, ClassesTree(m));
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ(0u, m.registry.open_handles());
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, Unregistration,
    ::testing::Values(
        UnregistrationCase{"CurrentNoOtherProduct", Marker::kThisVersion, Options::kEmpty,
                           kEverythingRemoved},
        UnregistrationCase{"CurrentOtherProductLeft", Marker::kThisVersion, Options::kOtherProduct,
                           kSharedLibraryKept},
        UnregistrationCase{
            "OtherVersionNoOtherProduct", Marker::kOtherVersion, Options::kEmpty,
            SharedEntriesKept({R"([PLG Application\CurVer])", R"(@="PLG Application 3700")"})},
        UnregistrationCase{
            "OtherVersionOtherProductLeft", Marker::kOtherVersion, Options::kOtherProduct,
            SharedEntriesKept({R"([PLG Application\CurVer])", R"(@="PLG Application 3700")"})},
        UnregistrationCase{"NoMarkerNoOtherProduct", Marker::kMissing, Options::kEmpty,
                           kEverythingRemoved},
        UnregistrationCase{"NoMarkerOtherProductLeft", Marker::kMissing, Options::kOtherProduct,
                           kSharedLibraryKept},
        UnregistrationCase{"UnreadableMarker", Marker::kUnreadable, Options::kEmpty,
                           SharedEntriesKept(kMarkerTree)},
        UnregistrationCase{"NoOptionsKey", Marker::kThisVersion, Options::kMissing,
                           kEverythingRemoved},
        // Other products may be listed in a key that cannot be read.
        UnregistrationCase{"OptionsKeyCannotBeOpened", Marker::kThisVersion, Options::kUnopenable,
                           kSharedLibraryKept},
        UnregistrationCase{"OptionsKeyCannotBeQueried", Marker::kThisVersion, Options::kUnqueryable,
                           kSharedLibraryKept}),
    [](const ::testing::TestParamInfo<UnregistrationCase>& info) {
      return std::string(info.param.name);
    });

TEST(ClassRegistration, UnregisteringWhatWasNeverRegisteredChangesNothing) {
  TestMachine m;
  SeedMachine(m);
  m.registry.SeedString("HKEY_CLASSES_ROOT\\.txt", "", "txtfile");
  const std::vector<RegEntry> before = m.registry.Snapshot("HKEY_LOCAL_MACHINE");

  UnregisterClasses(m);

  EXPECT_EQ(before, m.registry.Snapshot("HKEY_LOCAL_MACHINE"));
  EXPECT_TRUE(m.messages().empty());
}

// A missing ProgID or class identifier must neither write at nor delete
// HKEY_CLASSES_ROOT or HKEY_CLASSES_ROOT\CLSID: each step reports its own
// message for the keys it could not create.
struct MissingStringCase {
  const char* name;
  unsigned id;
  Lines messages;
};

// Calls that changed HKEY_CLASSES_ROOT or HKEY_CLASSES_ROOT\CLSID themselves.
std::vector<std::string> CallsOnRoots(const MemoryRegistry& registry) {
  std::vector<std::string> hits;
  for (const RegCall& call : registry.calls()) {
    if (call.op != RegOp::kCreateKey && call.op != RegOp::kSetValue &&
        call.op != RegOp::kDeleteKey && call.op != RegOp::kDeleteValue) {
      continue;
    }
    std::string path = call.path;
    for (char& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (path == "HKEY_CLASSES_ROOT" || path == "HKEY_CLASSES_ROOT\\CLSID") {
      hits.push_back(std::string(RegOpName(call.op)) + " " + call.path);
    }
  }
  return hits;
}

void PrintTo(const MissingStringCase& c, std::ostream* os) { *os << c.name; }

class MissingString : public ::testing::TestWithParam<MissingStringCase> {};

TEST_P(MissingString, NeverTouchesTheRoots) {
  const MissingStringCase& c = GetParam();
  TestMachine m;
  SeedMachine(m);
  m.registry.SeedString("HKEY_CLASSES_ROOT", "", "root value");
  m.registry.SeedString("HKEY_CLASSES_ROOT\\CLSID", "", "clsid value");
  m.registry.SeedString("HKEY_CLASSES_ROOT\\CLSID\\{0F1E2D3C-0000-0000-C000-000000000046}", "",
                        "Other Class");
  const Lines foreign = {"[]",
                         R"(@="root value")",
                         "[CLSID]",
                         R"(@="clsid value")",
                         R"([CLSID\{0F1E2D3C-0000-0000-C000-000000000046}])",
                         R"(@="Other Class")"};
  m.strings.Remove(c.id);

  RegisterDocumentClass(m.platform, kRegister, kSeedModulePath);
  RegisterLibraryClass(m.platform, kRegister);
  RegisterLanguageClass(m.platform, kRegister, kSeedModulePath);
  RegisterApplicationClass(m.platform, kRegister);
  EXPECT_EQ(c.messages, m.messages());

  m.reporter.Clear();
  UnregisterClasses(m);
  EXPECT_EQ(foreign, ClassesTree(m));
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ(std::vector<std::string>{}, CallsOnRoots(m.registry));
  EXPECT_EQ(0u, m.registry.open_handles());
}

INSTANTIATE_TEST_SUITE_P(
    ProgIdsAndClassIds, MissingString,
    ::testing::Values(
        MissingStringCase{"LanguageProgId", kLanguageProgId, {"Error creating document key"}},
        MissingStringCase{
            "LibraryProgId", kLibraryProgId, {"Unable to create document insertable key"}},
        MissingStringCase{"LanguageClassId", kLanguageClassId,
                          Lines(9, "Unable to create ASCII document suffix entry")},
        MissingStringCase{"LibraryClassId", kLibraryClassId, {}},
        // The versioned ProgID needs the ProgID too: its two rows and the two
        // whose value it is fail as well.
        MissingStringCase{"ApplicationProgId", kApplicationProgId,
                          Lines(6, "Unable to create Application key entry")},
        MissingStringCase{"ApplicationClassId", kApplicationClassId,
                          Lines(5, "Unable to create Application key entry")}),
    [](const ::testing::TestParamInfo<MissingStringCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace plg::testing
