// The per-release Open verbs: which releases give a verb, its name and its
// command line, over both registry views.
#include "classes/version_open_verbs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "resources/product_strings.h"
#include "tests/classes/class_test_support.h"

namespace plg::testing {
namespace {

constexpr char kLanguageKey[] = "HKEY_CLASSES_ROOT\\Pellagor Language";

Lines Verbs(const TestMachine& m) { return DescribeTree(m.registry, kLanguageKey); }

struct Verb {
  std::string name;
  std::string command;
};

// The tree beneath Pellagor Language of `verbs`, in the order given.
Lines ShellTree(std::initializer_list<Verb> verbs) {
  Lines tree = {"[]", "[shell]"};
  for (const Verb& verb : verbs) {
    tree.push_back("[shell\\" + verb.name + "]");
    tree.push_back("[shell\\" + verb.name + "\\command]");
    tree.push_back("@=\"" + verb.command + "\"");
  }
  return tree;
}

Lines OneVerb(const std::string& verb, const std::string& command) {
  return ShellTree({{verb, command}});
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> Terminated(const std::string& text) {
  std::vector<std::uint8_t> data = Bytes(text);
  data.push_back(0);
  return data;
}

// Each character followed by a zero byte, as UTF-16 data of Latin text.
std::vector<std::uint8_t> Widened(const std::string& text) {
  std::vector<std::uint8_t> data;
  for (char c : text) {
    data.push_back(static_cast<std::uint8_t>(c));
    data.push_back(0);
  }
  data.push_back(0);
  data.push_back(0);
  return data;
}

void AddVerbs(TestMachine& m) {
  AddVersionOpenVerbs(m.platform, kShellKeyPath);
  EXPECT_EQ(0u, m.registry.open_handles());
}

struct BinCase {
  const char* name;
  ValueType type;
  std::vector<std::uint8_t> data;
  Lines expected;  // beneath Pellagor Language
};

void PrintTo(const BinCase& c, std::ostream* os) { *os << c.name; }

class BinText : public ::testing::TestWithParam<BinCase> {};

TEST_P(BinText, GivesTheVerbAndCommandOfItsRelease) {
  const BinCase& c = GetParam();
  TestMachine m;
  m.registry.SeedValue(std::string(kNativeReleases) + "\\38.0\\Dir", "Bin", c.type, c.data);
  m.registry.SeedKey(std::string(kNativeVersions) + "\\38.0");

  AddVerbs(m);

  EXPECT_EQ(c.expected, Verbs(m));
  EXPECT_TRUE(m.messages().empty());
}

const std::string kLongDir = "C:\\Kelsys V12\\" + std::string(1023 - 14, 'd');

INSTANTIATE_TEST_SUITE_P(
    LabelAndCommandRules, BinText,
    ::testing::Values(
        BinCase{"Release", kRegSz, Terminated(R"(C:\Apps\Tolvanics\Kelsys V12\bin\)"),
                OneVerb("Open Pellagor V12",
                        R"("C:\Apps\Tolvanics\Kelsys V12\bin\TolvaneModeler.exe" /plg "%1")")},
        BinCase{"WordInOtherCase", kRegSz, Terminated(R"(C:\Apps\Tolvanics\kelsys V12\bin\)"), {}},
        BinCase{"NoWord", kRegSz, Terminated(R"(C:\Apps\Tolvanics\V12\bin\)"), {}},
        BinCase{"NoSpaceAfterWord", kRegSz, Terminated(R"(C:\Apps\Kelsys\bin\)"),
                OneVerb("Open Pellagor ", R"("C:\Apps\Kelsys\bin\TolvaneModeler.exe" /plg "%1")")},
        BinCase{"NoTrailingBackslash", kRegSz, Terminated(R"(C:\Apps\Tolvanics\Kelsys V12\bin)"),
                OneVerb("Open Pellagor V12",
                        R"("C:\Apps\Tolvanics\Kelsys V12\binTolvaneModeler.exe" /plg "%1")")},
        BinCase{"NoBackslashAfterSpace", kRegSz, Terminated(R"(D:\Kelsys V13)"),
                OneVerb("Open Pellagor ", R"("D:\Kelsys V13TolvaneModeler.exe" /plg "%1")")},
        BinCase{"SpaceBeforeWordIgnored", kRegSz,
                Terminated(R"(C:\Program Files\Kelsys 12 beta\bin\)"),
                OneVerb("Open Pellagor 12 beta",
                        R"("C:\Program Files\Kelsys 12 beta\bin\TolvaneModeler.exe" /plg "%1")")},
        BinCase{"FirstWordCounts", kRegSz, Terminated(R"(D:\Kelsys\Kelsys V13\bin\)"),
                OneVerb("Open Pellagor V13",
                        R"("D:\Kelsys\Kelsys V13\bin\TolvaneModeler.exe" /plg "%1")")},
        BinCase{"Empty", kRegSz, Terminated(""), {}},
        BinCase{"Quote", kRegSz, Terminated(R"(C:\Kelsys V12" x.exe "\bin\)"), {}},
        BinCase{"BinaryUnterminated", kRegBinary, Bytes(R"(E:\Kelsys V9\bin\)"),
                OneVerb("Open Pellagor V9", R"("E:\Kelsys V9\bin\TolvaneModeler.exe" /plg "%1")")},
        BinCase{"ZeroBytesDropped", kRegSz, Widened(R"(E:\Kelsys V9\)"),
                OneVerb("Open Pellagor V9", R"("E:\Kelsys V9\TolvaneModeler.exe" /plg "%1")")},
        BinCase{"Exactly1024Bytes", kRegSz, Terminated(kLongDir),
                OneVerb("Open Pellagor V12", "\"" + kLongDir + R"(TolvaneModeler.exe" /plg "%1")")},
        BinCase{"Over1024Bytes", kRegSz, Terminated(kLongDir + "d"), {}}),
    [](const ::testing::TestParamInfo<BinCase>& info) { return std::string(info.param.name); });

TEST(VersionOpenVerbs, NothingWithoutBothKeysOfAView) {
  TestMachine m;
  AddVerbs(m);
  // Releases without the product, the product without releases, and the two
  // halves in different views.
  m.registry.SeedString(std::string(kNativeReleases) + "\\38.0\\Dir", "Bin",
                        R"(C:\Kelsys V12\bin\)");
  m.registry.SeedKey(std::string(kWowVersions) + "\\38.0");
  AddVerbs(m);
  m.registry.Erase(std::string(kNativeReleases) + "\\38.0");
  m.registry.SeedKey(std::string(kNativeReleases) + "\\37.0");
  m.registry.SeedKey(std::string(kNativeVersions) + "\\38.0");
  AddVerbs(m);

  EXPECT_EQ(Lines{}, Verbs(m));
  EXPECT_TRUE(m.messages().empty());
}

TEST(VersionOpenVerbs, MissingDirOrBinSkipsOnlyThatVersion) {
  TestMachine m;
  m.registry.SeedKey(std::string(kNativeReleases) + "\\36.0");
  m.registry.SeedKey(std::string(kNativeReleases) + "\\37.0\\Dir");
  SeedRelease(m, kNativeReleases, kNativeVersions, "38.0", R"(C:\Kelsys V12\bin\)");
  m.registry.SeedKey(std::string(kNativeVersions) + "\\36.0");
  m.registry.SeedKey(std::string(kNativeVersions) + "\\37.0");
  m.registry.SeedKey(std::string(kNativeVersions) + "\\39.0");

  AddVerbs(m);

  EXPECT_EQ(OneVerb("Open Pellagor V12", R"("C:\Kelsys V12\bin\TolvaneModeler.exe" /plg "%1")"),
            Verbs(m));
}

TEST(VersionOpenVerbs, CurVerIsNeverARelease) {
  TestMachine m;
  SeedRelease(m, kNativeReleases, kNativeVersions, "CurVer", R"(C:\Kelsys V10\bin\)");
  SeedRelease(m, kWowReleases, kWowVersions, "CurVer", R"(C:\Kelsys V10\bin\)");
  AddVerbs(m);
  EXPECT_EQ(Lines{}, Verbs(m));
}

TEST(VersionOpenVerbs, BothViewsGiveVerbsAndTheNativeOneWinsASharedName) {
  TestMachine m;
  SeedRelease(m, kWowReleases, kWowVersions, "38.0", R"(C:\x86\Kelsys V12\bin\)");
  SeedRelease(m, kWowReleases, kWowVersions, "37.0", R"(C:\x86\Kelsys V11\bin\)");
  SeedRelease(m, kNativeReleases, kNativeVersions, "38.0", R"(C:\x64\Kelsys V12\bin\)");

  AddVerbs(m);

  EXPECT_EQ(
      ShellTree({{"Open Pellagor V11", R"("C:\x86\Kelsys V11\bin\TolvaneModeler.exe" /plg "%1")"},
                 {"Open Pellagor V12", R"("C:\x64\Kelsys V12\bin\TolvaneModeler.exe" /plg "%1")"}}),
      Verbs(m));
}

TEST(VersionOpenVerbs, WithinAViewTheLaterVersionWinsASharedName) {
  TestMachine m;
  SeedRelease(m, kNativeReleases, kNativeVersions, "37.0", R"(C:\old\Kelsys V12\bin\)");
  SeedRelease(m, kNativeReleases, kNativeVersions, "38.0", R"(C:\new\Kelsys V12\bin\)");
  AddVerbs(m);
  EXPECT_EQ(OneVerb("Open Pellagor V12", R"("C:\new\Kelsys V12\bin\TolvaneModeler.exe" /plg "%1")"),
            Verbs(m));
}

TEST(VersionOpenVerbs, VersionNamesThatDoNotMapToOneByteTextAreSkipped) {
  TestMachine m;
  // U+3800 is the bytes 00 38: dropping zero bytes would turn "3\u3800.0"
  // into "38.0" and pick up that release's verb.
  SeedRelease(m, kNativeReleases, kNativeVersions, "38.0", R"(C:\Kelsys V12\bin\)");
  m.registry.Erase(std::string(kNativeVersions) + "\\38.0");
  m.registry.SeedKeyW(kNativeVersions, u"3\u3800.0");
  // U+0080 and U+009F are not the bytes 0x80 and 0x9F in code page 1252
  // (those are U+20AC and U+0178): cut to one byte, they would name these.
  m.registry.SeedKeyW(kNativeVersions, u"38.0\u0080");
  m.registry.SeedKeyW(kNativeVersions, u"38.0\u009f");
  m.registry.SeedString(std::string(kNativeReleases) + "\\38.0\x80\\Dir", "Bin",
                        R"(C:\Kelsys C1\bin\)");
  m.registry.SeedString(std::string(kNativeReleases) + "\\38.0\x9f\\Dir", "Bin",
                        R"(C:\Kelsys C2\bin\)");
  // A Latin-1 name keeps its one-byte form.
  m.registry.SeedKeyW(kNativeVersions, u"38.0\u00e9");
  m.registry.SeedString(std::string(kNativeReleases) + "\\38.0\xe9\\Dir", "Bin",
                        R"(C:\Kelsys L1\bin\)");
  // 99 characters fit the enumeration buffer with the zero, 100 do not.
  const std::string fits(99, 'v');
  const std::string too_long(100, 'w');
  SeedRelease(m, kNativeReleases, kNativeVersions, fits, R"(C:\Kelsys L99\bin\)");
  SeedRelease(m, kNativeReleases, kNativeVersions, too_long, R"(C:\Kelsys L100\bin\)");

  AddVerbs(m);

  EXPECT_EQ(
      ShellTree({{"Open Pellagor L1", R"("C:\Kelsys L1\bin\TolvaneModeler.exe" /plg "%1")"},
                 {"Open Pellagor L99", R"("C:\Kelsys L99\bin\TolvaneModeler.exe" /plg "%1")"}}),
      Verbs(m));
}

TEST(VersionOpenVerbs, VersionNamesAreReadBackInTheSystemCodePage) {
  TestMachine m;
  m.registry.SetAnsiCodePage(1251);
  SeedRelease(m, kNativeReleases, kNativeVersions, "38.0", R"(C:\Kelsys V12\bin\)");
  // "38.\u00e9" is the byte 0xE9, which code page 1251 reads as U+0439: the
  // ANSI calls would open "38.\u0439", another release's key.
  m.registry.SeedKeyW(kNativeVersions, u"38.\u00e9");
  m.registry.SeedKeyW(kNativeVersions, u"38.\u0439");
  RegKey dir;
  ASSERT_EQ(kSuccess, m.registry.CreateKey(RegKey::LocalMachine(),
                                           std::string(kNativeReleases) + "\\38.\xe9\\Dir",
                                           kKeyAllAccess, &dir));
  ASSERT_EQ(kSuccess, m.registry.SetString(dir, "Bin", R"(C:\Kelsys R1\bin\)"));
  dir.Close();
  ASSERT_EQ(u"38.\u0439", m.registry.WideNameOf("38.\xe9"));

  AddVerbs(m);

  EXPECT_EQ(
      ShellTree({{"Open Pellagor V12", R"("C:\Kelsys V12\bin\TolvaneModeler.exe" /plg "%1")"}}),
      Verbs(m));
}

TEST(VersionOpenVerbs, AFailedVersionNeverStopsTheNextOne) {
  TestMachine m;
  SeedRelease(m, kNativeReleases, kNativeVersions, "36.0", R"(C:\Kelsys V10\bin\)");
  SeedRelease(m, kNativeReleases, kNativeVersions, "37.0", R"(C:\Kelsys V11\bin\)");
  SeedRelease(m, kNativeReleases, kNativeVersions, "38.0", R"(C:\Kelsys V12\bin\)");
  SeedRelease(m, kNativeReleases, kNativeVersions, "39.0", R"(C:\Kelsys V13\bin\)");
  const std::string verb = std::string(kLanguageKey) + "\\shell\\Open Pellagor ";
  m.registry.InjectFault({RegOp::kEnumKey, kNativeVersions, std::nullopt, kErrorMoreData, 0, 1});
  m.registry.InjectFault({RegOp::kCreateKey, verb + "V11\\command"});
  m.registry.InjectFault({RegOp::kSetValue, verb + "V12\\command", ""});

  AddVerbs(m);

  EXPECT_EQ(
      (Lines{"[]", "[shell]", "[shell\\Open Pellagor V12]", "[shell\\Open Pellagor V12\\command]",
             "[shell\\Open Pellagor V13]", "[shell\\Open Pellagor V13\\command]",
             R"(@=""C:\Kelsys V13\bin\TolvaneModeler.exe" /plg "%1"")"}),
      Verbs(m));
  EXPECT_EQ(Lines{"Unable to create shell document registry entry"}, m.messages());
}

TEST(VersionOpenVerbs, AMissingProductNameFindsNoVersions) {
  TestMachine m;
  SeedRelease(m, kNativeReleases, kNativeVersions, "38.0", R"(C:\Kelsys V12\bin\)");
  // Without the name the product key would be "SOFTWARE\Tolvanics\" itself,
  // whose subkeys are products and the shared system, not versions.
  m.registry.SeedString(std::string(kNativeReleases) + "\\KELSYS\\Dir", "Bin",
                        R"(C:\Kelsys V0\bin\)");
  m.strings.Remove(kProductName);
  AddVerbs(m);
  EXPECT_EQ(Lines{}, Verbs(m));
}

TEST(RemoveVersionOpenVerbs, RemovesOnlyTheV12Verb) {
  TestMachine m;
  const std::string shell = std::string(kLanguageKey) + "\\shell";
  m.registry.SeedString(shell + "\\Open Pellagor V11\\command", "", "v11");
  m.registry.SeedString(shell + "\\Open Pellagor V12\\command", "", "v12");
  m.registry.SeedString(shell + "\\Open\\command", "", "open");
  // Where the verb would land if an empty ProgID folded onto the root.
  m.registry.SeedString("HKEY_CLASSES_ROOT\\shell\\Open Pellagor V12\\command", "", "root");

  RemoveVersionOpenVerbs(m.platform);
  EXPECT_EQ(ShellTree({{"Open", "open"}, {"Open Pellagor V11", "v11"}}), Verbs(m));

  const Lines before = ClassesTree(m);
  RemoveVersionOpenVerbs(m.platform);
  m.strings.Remove(kLanguageProgId);
  RemoveVersionOpenVerbs(m.platform);
  EXPECT_EQ(before, ClassesTree(m));
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ(0u, m.registry.open_handles());
}

}  // namespace
}  // namespace plg::testing
