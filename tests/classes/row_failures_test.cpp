// One failed registry operation at a time: the message it shows, and that the
// step still writes everything after it (only the document type's class
// identifier row cuts its step short).
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "tests/classes/class_test_support.h"

namespace plg::testing {
namespace {

constexpr char kLanguage[] = "HKEY_CLASSES_ROOT\\Pellagor Language";
constexpr char kLibraryProgId[] = "HKEY_CLASSES_ROOT\\Tolvane Model Library";
constexpr char kLanguageClass[] =
    "HKEY_CLASSES_ROOT\\CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}";
constexpr char kLibraryClass[] = "HKEY_CLASSES_ROOT\\CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}";
constexpr char kApplicationClass[] =
    "HKEY_CLASSES_ROOT\\CLSID\\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}";

std::string Sub(const char* key, const char* subkey) { return std::string(key) + "\\" + subkey; }

RegFault KeyFault(const std::string& path) { return {RegOp::kCreateKey, path}; }
RegFault ValueFault(const std::string& path, const char* name = "") {
  return {RegOp::kSetValue, path, std::string(name)};
}

struct FaultCase {
  const char* name;
  std::function<void(TestMachine&)> run;
  RegFault fault;
  Lines messages;
  Lines expected;  // HKEY_CLASSES_ROOT
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class RowFailure : public ::testing::TestWithParam<FaultCase> {};

TEST_P(RowFailure, IsReportedAndTheLaterRowsAreWritten) {
  const FaultCase& c = GetParam();
  TestMachine m;
  SeedMachine(m);
  m.registry.InjectFault(c.fault);

  c.run(m);

  EXPECT_EQ(c.messages, m.messages());
  EXPECT_EQ(c.expected, ClassesTree(m));
  EXPECT_EQ(0u, m.registry.open_handles());
}

std::string TestName(const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; }

// --- Document type ---

void RunDocumentClass(TestMachine& m) {
  RegisterDocumentClass(m.platform, kRegister, kSeedModulePath);
}

const Lines kDocumentTree =
    Concat({{"[]", "[CLSID]"}, kLanguageProgIdTree, kVerbV11Tree, kVerbV12Tree});

INSTANTIATE_TEST_SUITE_P(
    DocumentClass, RowFailure,
    ::testing::Values(
        FaultCase{"ClassIdKeyIsTheGate",
                  RunDocumentClass,
                  KeyFault(Sub(kLanguage, "CLSID")),
                  {"Error creating document key"},
                  {"[]", "[CLSID]", "[Pellagor Language]", R"(@="Pellagor Language")"}},
        FaultCase{"ClassIdValue",
                  RunDocumentClass,
                  ValueFault(Sub(kLanguage, "CLSID")),
                  {"Unable to create document class id"},
                  WithoutValue(kDocumentTree, R"([Pellagor Language\CLSID])",
                               R"(@="{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}")")},
        FaultCase{"IconKey",
                  RunDocumentClass,
                  KeyFault(Sub(kLanguage, "DefaultIcon")),
                  {"Unable to create document Default Icon"},
                  WithoutKeys(kDocumentTree, {R"([Pellagor Language\DefaultIcon])"})},
        FaultCase{"IconValue",
                  RunDocumentClass,
                  ValueFault(Sub(kLanguage, "DefaultIcon")),
                  {"Unable to create document Default Icon"},
                  WithoutValue(kDocumentTree, R"([Pellagor Language\DefaultIcon])",
                               R"(@="C:\Program Files\Pellagor\plgproduct.dll,1")")},
        FaultCase{"ApplicationKey",
                  RunDocumentClass,
                  KeyFault(Sub(kLanguage, "Application")),
                  {"Unable to create document Application"},
                  WithoutKeys(kDocumentTree, {R"([Pellagor Language\Application])"})},
        FaultCase{"ApplicationValue",
                  RunDocumentClass,
                  ValueFault(Sub(kLanguage, "Application"), "ApplicationName"),
                  {"Unable to create document Application"},
                  WithoutValue(kDocumentTree, R"([Pellagor Language\Application])",
                               R"("ApplicationName"="Pellagor V12")")},
        FaultCase{"InsertableKey",
                  RunDocumentClass,
                  KeyFault(Sub(kLanguage, "Insertable")),
                  {"Unable to create document insertable key"},
                  WithoutKeys(kDocumentTree, {R"([Pellagor Language\Insertable])"})},
        FaultCase{"OpenCommandKey",
                  RunDocumentClass,
                  KeyFault(Sub(kLanguage, "shell\\Open\\command")),
                  {"Error creating shell key"},
                  WithoutKeys(kDocumentTree, {R"([Pellagor Language\shell\Open])",
                                              R"([Pellagor Language\shell\Open\command])"})},
        FaultCase{"OpenCommandValue",
                  RunDocumentClass,
                  ValueFault(Sub(kLanguage, "shell\\Open\\command")),
                  {"Unable to create shell document registry entry"},
                  WithoutValue(
                      kDocumentTree, R"([Pellagor Language\shell\Open\command])",
                      R"(@=""C:\Apps\Tolvanics\Kelsys V12\bin\\TolvaneModeler.exe" /plg "%1"")")},
        FaultCase{"EditCommandKey",
                  RunDocumentClass,
                  KeyFault(Sub(kLanguage, "shell\\Edit\\command")),
                  {"Error creating shell key"},
                  WithoutKeys(kDocumentTree, {R"([Pellagor Language\shell\Edit])",
                                              R"([Pellagor Language\shell\Edit\command])"})},
        FaultCase{"ProgIdKeyIsSilent",
                  RunDocumentClass,
                  KeyFault(kLanguage),
                  {},
                  WithoutValue(kDocumentTree, "[Pellagor Language]", R"(@="Pellagor Language")")},
        FaultCase{"ProgIdValue",
                  RunDocumentClass,
                  ValueFault(kLanguage),
                  {"Unable to assign value to document class name"},
                  WithoutValue(kDocumentTree, "[Pellagor Language]", R"(@="Pellagor Language")")}),
    TestName);

TEST(DocumentClassGate, NamesTheKeyAndErrorAndSkipsTheVersionVerbs) {
  TestMachine m;
  SeedMachine(m);
  m.registry.InjectFault(
      {RegOp::kCreateKey, Sub(kLanguage, "CLSID"), std::nullopt, kErrorAccessDenied});
  RunDocumentClass(m);
  EXPECT_EQ(Lines{"HKEY_CLASSES_ROOT\\Pellagor Language\\CLSID: error 5"}, m.reporter.details());
  for (const RegCall& call : m.registry.calls()) {
    EXPECT_NE(RegOp::kEnumKey, call.op) << call.path;
  }
}

// --- File suffixes and library document type ---

void RunSuffixesAndLibrary(TestMachine& m) {
  RegisterFileSuffixes(m.platform, kRegister);
  RegisterLibraryClass(m.platform, kRegister);
}

const Lines kSuffixTree =
    Concat({{"[]"}, kLibrarySuffixTree, kDocumentSuffixTree, {"[CLSID]"}, kLibraryProgIdTree});

INSTANTIATE_TEST_SUITE_P(
    SuffixesAndLibraryClass, RowFailure,
    ::testing::Values(FaultCase{"DocumentSuffixKey",
                                RunSuffixesAndLibrary,
                                KeyFault("HKEY_CLASSES_ROOT\\.plgf"),
                                {"Unable to create ASCII document suffix entry"},
                                WithoutKeys(kSuffixTree, {"[.plgf]"})},
                      FaultCase{"DocumentSuffixValue",
                                RunSuffixesAndLibrary,
                                ValueFault("HKEY_CLASSES_ROOT\\.plgf"),
                                {"Unable to create ASCII document suffix entry"},
                                WithoutValue(kSuffixTree, "[.plgf]", R"(@="Pellagor Language")")},
                      FaultCase{"LibrarySuffixKey",
                                RunSuffixesAndLibrary,
                                KeyFault("HKEY_CLASSES_ROOT\\.hvxl"),
                                {"Unable to create Library document suffix entry"},
                                WithoutKeys(kSuffixTree, {"[.hvxl]"})},
                      FaultCase{
                          "LibrarySuffixValue",
                          RunSuffixesAndLibrary,
                          ValueFault("HKEY_CLASSES_ROOT\\.hvxl"),
                          {"Unable to create Library document suffix entry"},
                          WithoutValue(kSuffixTree, "[.hvxl]", R"(@="Tolvane Model Library")")},
                      FaultCase{"LibraryClassIdKey",
                                RunSuffixesAndLibrary,
                                KeyFault(Sub(kLibraryProgId, "CLSID")),
                                {"Unable to create document insertable key"},
                                WithoutKeys(kSuffixTree, {R"([Tolvane Model Library\CLSID])"})},
                      FaultCase{"LibraryClassIdValue",
                                RunSuffixesAndLibrary,
                                ValueFault(Sub(kLibraryProgId, "CLSID")),
                                {"Unable to create library document class id"},
                                WithoutValue(kSuffixTree, R"([Tolvane Model Library\CLSID])",
                                             R"(@="{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}")")},
                      FaultCase{"LibraryProgIdKeyIsSilent",
                                RunSuffixesAndLibrary,
                                KeyFault(kLibraryProgId),
                                {},
                                WithoutValue(kSuffixTree, "[Tolvane Model Library]",
                                             R"(@="Tolvane Modeler Library")")},
                      FaultCase{"LibraryProgIdValue",
                                RunSuffixesAndLibrary,
                                ValueFault(kLibraryProgId),
                                {"Unable to assign value to library class name"},
                                WithoutValue(kSuffixTree, "[Tolvane Model Library]",
                                             R"(@="Tolvane Modeler Library")")}),
    TestName);

// --- Language document class ---

void RunLanguageClass(TestMachine& m) {
  RegisterLanguageClass(m.platform, kRegister, kSeedModulePath);
}

const Lines kLanguageTree = Concat({{"[]", "[CLSID]"}, kLibraryClassTree, kLanguageClassTree});

INSTANTIATE_TEST_SUITE_P(
    LanguageClass, RowFailure,
    ::testing::Values(
        FaultCase{"FirstRowKey",
                  RunLanguageClass,
                  KeyFault(Sub(kLanguageClass, "AuxUserType\\2")),
                  {"Unable to create ASCII document suffix entry"},
                  WithoutKeys(kLanguageTree,
                              {R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\AuxUserType\2])"})},
        FaultCase{"LocalServerKey",
                  RunLanguageClass,
                  KeyFault(Sub(kLanguageClass, "LocalServer32")),
                  {"Unable to create ASCII document suffix entry"},
                  WithoutKeys(kLanguageTree,
                              {R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\LocalServer32])"})},
        FaultCase{"LastRowKey",
                  RunLanguageClass,
                  KeyFault(Sub(kLanguageClass, "Verb\\1")),
                  {"Unable to create ASCII document suffix entry"},
                  WithoutKeys(kLanguageTree,
                              {R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\Verb\1])"})},
        FaultCase{"ProductNameValue",
                  RunLanguageClass,
                  ValueFault(Sub(kLanguageClass, "AuxUserType\\3")),
                  {"Unable to create Value Pellagor"},
                  WithoutValue(kLanguageTree,
                               R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\AuxUserType\3])",
                               R"(@="Pellagor")")},
        FaultCase{
            "LocalServerValue",
            RunLanguageClass,
            ValueFault(Sub(kLanguageClass, "LocalServer32")),
            {R"(Unable to create Value "C:\Apps\Tolvanics\Kelsys V12\bin\\TolvaneModeler.exe" /plg)"},
            WithoutValue(kLanguageTree,
                         R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\LocalServer32])",
                         R"(@=""C:\Apps\Tolvanics\Kelsys V12\bin\\TolvaneModeler.exe" /plg")")},
        FaultCase{"LibraryIconKeyIsSilent",
                  RunLanguageClass,
                  KeyFault(Sub(kLibraryClass, "DefaultIcon")),
                  {},
                  WithoutKeys(kLanguageTree,
                              {R"([CLSID\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}])",
                               R"([CLSID\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}\DefaultIcon])"})},
        FaultCase{"LibraryIconValue",
                  RunLanguageClass,
                  ValueFault(Sub(kLibraryClass, "DefaultIcon")),
                  {R"(Unable to create Value C:\Program Files\Pellagor\plgproduct.dll,0)"},
                  WithoutValue(kLanguageTree,
                               R"([CLSID\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}\DefaultIcon])",
                               R"(@="C:\Program Files\Pellagor\plgproduct.dll,0")")}),
    TestName);

// --- Application automation class ---

void RunApplicationClass(TestMachine& m) { RegisterApplicationClass(m.platform, kRegister); }

const Lines kApplicationTree = Concat({{"[]", "[CLSID]"},
                                       kApplicationClassTree,
                                       kApplicationProgIdTree,
                                       kMarkerTree,
                                       kVersionedProgIdTree});

INSTANTIATE_TEST_SUITE_P(
    ApplicationClass, RowFailure,
    ::testing::Values(
        // Row 2 still creates the ProgID key, without its default value.
        FaultCase{"ProgIdKey",
                  RunApplicationClass,
                  KeyFault("HKEY_CLASSES_ROOT\\PLG Application"),
                  {"Unable to create Application key entry"},
                  WithoutValue(kApplicationTree, "[PLG Application]", R"(@="PLG Application")")},
        FaultCase{"MarkerValue",
                  RunApplicationClass,
                  ValueFault("HKEY_CLASSES_ROOT\\PLG Application\\CurVer"),
                  {"Unable to create Value PLG Application 3800"},
                  WithoutValue(kApplicationTree, R"([PLG Application\CurVer])",
                               R"(@="PLG Application 3800")")},
        FaultCase{"ClassKey",
                  RunApplicationClass,
                  KeyFault(kApplicationClass),
                  {"Unable to create Application key entry"},
                  kApplicationTree},
        FaultCase{"ClassKeyHasNoValueToFail",
                  RunApplicationClass,
                  ValueFault(kApplicationClass),
                  {},
                  kApplicationTree},
        FaultCase{"LocalServerKey",
                  RunApplicationClass,
                  KeyFault(Sub(kApplicationClass, "LocalServer32")),
                  {"Unable to create Application key entry"},
                  WithoutKeys(kApplicationTree,
                              {R"([CLSID\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}\LocalServer32])"})},
        FaultCase{"LastRowValue",
                  RunApplicationClass,
                  ValueFault(Sub(kApplicationClass, "VersionIndependentProgID")),
                  {"Unable to create Value PLG Application"},
                  WithoutValue(
                      kApplicationTree,
                      R"([CLSID\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}\VersionIndependentProgID])",
                      R"(@="PLG Application")")}),
    TestName);

}  // namespace
}  // namespace plg::testing
