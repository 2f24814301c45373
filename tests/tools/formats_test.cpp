// plgreg plan's JSON and WiX output: both read back, with the entries of the
// run in them.
#include <expat.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "machine/builtin_machine.h"
#include "tests/tools/plgreg_run.h"
#include "tools/plgreg/plan.h"
#include "tools/plgreg/plan_formats.h"

namespace plg::tool {
namespace {

using testing::Plgreg;
using testing::WriteTempFile;

// Empty when `xml` is well-formed, else expat's complaint with its line.
std::string XmlProblem(const std::string& xml) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  std::string problem;
  if (XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) != XML_STATUS_OK) {
    problem = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
              std::to_string(XML_GetCurrentLineNumber(parser));
  }
  XML_ParserFree(parser);
  return problem;
}

std::string RegisteredImage() {
  const PlanResult registered = PlanStep(*BuiltInMachine(), kRegister, kDefaultModulePath);
  return WriteTempFile("formats_registered.reg",
                       FormatRegFile(ExportRegistry(*registered.after, "HKEY_LOCAL_MACHINE")));
}

TEST(FormatsTest, JsonOfARegistrationReadsBackWithEveryChange) {
  const testing::CliRun run = Plgreg({"plan", "register", "--format", "json"});
  ASSERT_EQ(0, run.code) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.out);
  EXPECT_EQ("register", json.at("step"));
  EXPECT_EQ(kDefaultModulePath, json.at("module_path"));
  EXPECT_TRUE(json.at("messages").empty());

  const nlohmann::json suffix = {{"change", "set value"},
                                 {"key", "HKEY_CLASSES_ROOT\\.plgf"},
                                 {"name", ""},
                                 {"value", {{"type", "REG_SZ"}, {"text", "Pellagor Language"}}}};
  const nlohmann::json modeling = {
      {"change", "set value"},
      {"key", "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0\\GUIDefaults"},
      {"name", "CustomModelingOn"},
      {"value", {{"type", "REG_DWORD"}, {"number", 1}}}};
  const nlohmann::json verb = {
      {"change", "add key"},
      {"key", "HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\Open Pellagor V12"}};
  const nlohmann::json& changes = json.at("changes");
  for (const nlohmann::json& wanted : {suffix, modeling, verb}) {
    SCOPED_TRACE(wanted.dump());
    EXPECT_NE(changes.end(), std::find(changes.begin(), changes.end(), wanted));
  }

  // As many changes as the .reg form has sections and value lines.
  const testing::CliRun reg = Plgreg({"plan", "register", "--format", "reg4"});
  RegFile file;
  RegFileError error;
  ASSERT_TRUE(ParseRegFile(reg.out, "plan.reg", &file, &error));
  std::size_t set_values = 0;
  for (const RegFileKey& key : file.keys) set_values += key.values.size();
  std::size_t json_set_values = 0;
  for (const nlohmann::json& change : changes) {
    json_set_values += change.at("change") == "set value";
  }
  EXPECT_EQ(set_values, json_set_values);
}

TEST(FormatsTest, JsonOfAnUnregistrationNamesWhatGoes) {
  const testing::CliRun run =
      Plgreg({"plan", "unregister", "--machine", RegisteredImage(), "--format", "json"});
  ASSERT_EQ(0, run.code) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.out);
  const nlohmann::json options = {
      {"change", "remove value"},
      {"key", "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options"},
      {"name", "plg"},
      {"previous", {{"type", "REG_SZ"}, {"text", "Pellagor"}}}};
  const nlohmann::json progid = {{"change", "remove key"},
                                 {"key", "HKEY_CLASSES_ROOT\\Pellagor Language"}};
  const nlohmann::json& changes = json.at("changes");
  EXPECT_NE(changes.end(), std::find(changes.begin(), changes.end(), options));
  EXPECT_NE(changes.end(), std::find(changes.begin(), changes.end(), progid));
}

// The fragment for a package: the module path as its File id, the shared
// system's directories as properties searched in the 64-bit view, the
// release verbs as the plan machine has them.
TEST(FormatsTest, WxsOfARegistrationIsWellFormedWithTheEntries) {
  struct Case {
    std::vector<std::string> more_args;
    std::vector<std::string> fragments;
  };
  const std::vector<Case> cases = {
      {{},
       {"<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">",
        "    <Property Id=\"KELSYS_BIN\">\n"
        "      <RegistrySearch Id=\"Kelsys_bin\" Root=\"HKLM\" "
        "Key=\"Software\\Tolvanics\\Kelsys\\38.0\\Dir\" Name=\"bin\" Type=\"raw\" "
        "Win64=\"yes\" />\n",
        "Name=\"help\" Type=\"raw\" Win64=\"yes\" />", "Name=\"lib\" Type=\"raw\" Win64=\"yes\" />",
        "    <Component Id=\"PlgproductRegistry\" Guid=\"{", "\" Win64=\"yes\">\n",
        "      <RegistryKey Root=\"HKCR\" Key=\"Pellagor Language\\shell\\Open Pellagor V12\" "
        "ForceCreateOnInstall=\"yes\" />\n",
        "      <RegistryKey Root=\"HKCR\" Key=\"Pellagor Language\\shell\\Open Pellagor "
        "V12\\command\">\n"
        "        <RegistryValue Type=\"string\" Value=\"&quot;C:\\Apps\\Tolvanics\\Kelsys "
        "V12\\bin\\TolvaneModeler.exe&quot; /plg &quot;%1&quot;\" />\n"
        "      </RegistryKey>\n",
        "<RegistryValue Type=\"string\" Value=\"&quot;[KELSYS_BIN]\\TolvaneModeler.exe&quot; "
        "/plg /Automation\" />",
        "<RegistryValue Name=\"0\" Type=\"string\" Value=\"WINHELP,Pe&amp;llagor "
        "Contents,[KELSYS_HELP]\\plg,Display help topics\" />",
        "<RegistryValue Name=\"Modeler.hvxl\" Type=\"string\" "
        "Value=\"[KELSYS_LIB]\\Modeler.hvxl\" />",
        "<RegistryValue Name=\"DLL\" Type=\"string\" Value=\"[#plgproduct.dll]\" />",
        "        <RegistryValue Name=\"CustomModelingOn\" Type=\"integer\" Value=\"1\" />\n",
        "        <RegistryValue Name=\"plg\" Type=\"string\" Value=\"Pellagor\" />\n",
        "snapshot of the releases"}},
      {{"--file-id", "Module", "--module-path", "D:\\P\\m.dll"},
       {"<RegistryValue Type=\"string\" Value=\"[#Module],1\" />",
        "<RegistryValue Name=\"DLL\" Type=\"string\" Value=\"[#Module]\" />"}},
  };
  for (const Case& wxs : cases) {
    std::vector<std::string> args = {"plan", "register", "--format", "wxs"};
    args.insert(args.end(), wxs.more_args.begin(), wxs.more_args.end());
    const testing::CliRun run = Plgreg(args);
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ("", XmlProblem(run.out));
    for (const std::string& fragment : wxs.fragments) {
      EXPECT_NE(std::string::npos, run.out.find(fragment)) << fragment;
    }
    EXPECT_EQ(std::string::npos, run.out.find("removals"));
    // Nothing of the plan machine's paths outside the release verbs.
    std::size_t paths = 0;
    for (std::size_t at = 0; (at = run.out.find("C:\\Apps\\", at)) != std::string::npos; ++at) {
      ++paths;
    }
    EXPECT_EQ(1u, paths);
    EXPECT_EQ(std::string::npos, run.out.find("plgproduct.dll,"));
  }
}

TEST(FormatsTest, WxsOfAnUnregistrationHasNoEntriesAndSaysSo) {
  const testing::CliRun run =
      Plgreg({"plan", "unregister", "--machine", RegisteredImage(), "--format", "wxs"});
  ASSERT_EQ(0, run.code) << run.err;
  EXPECT_EQ("", XmlProblem(run.out));
  EXPECT_EQ(std::string::npos, run.out.find("<Component "));
  EXPECT_NE(std::string::npos, run.out.find("11 removals are not part of this fragment"));
}

RegistryChange Set(const std::string& key, const std::string& name, ValueType type,
                   std::vector<std::uint8_t> data) {
  RegistryChange change;
  change.kind = RegistryChange::Kind::kSetValue;
  change.key = key;
  change.name = name;
  change.type = type;
  change.data = std::move(data);
  return change;
}

TEST(FormatsTest, WxsEscapesMarkupAndBracketsAndNamesWhatItCannotWrite) {
  RegistryChange added;
  added.kind = RegistryChange::Kind::kAddKey;
  added.key = "HKEY_LOCAL_MACHINE\\Software\\T [x]";
  RegistryChange removed = Set("HKEY_CLASSES_ROOT\\Old", "gone", kRegNone, {});
  removed.kind = RegistryChange::Kind::kRemoveValue;
  std::vector<RegistryChange> changes = {
      added,
      Set(added.key, "", kRegSz, {'<', '[', 'a', ']', '&', '"', '\n', 0xE9, 0}),
      Set(added.key, "list", kRegMultiSz, {'a', 0, 'b', 0, 0}),
      Set(added.key, "bytes", kRegBinary, {0x01, 0xAB}),
      Set(added.key, "minus", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}),
      Set(added.key, "odd--name", kRegNone, {}),
      removed,
  };
  WxsSubstitutions substitutions;
  substitutions.file_id = "m";
  substitutions.bin = "C:\\[b]\\";
  substitutions.help = "C:\\[b]\\h";
  changes.insert(changes.end() - 1,
                 Set(added.key, "paths", kRegSz,
                     {'C', ':',  '\\', 'm', '.', 'd', 'l',  'l', ' ', 'C', ':',  '\\', '[', 'b',
                      ']', '\\', 'h',  ' ', 'C', ':', '\\', '[', 'b', ']', '\\', 'x',  0}));
  const std::string xml =
      FormatPlanAsWxs({"register", "C:\\m.dll", {}}, changes, substitutions, "Software\\K\\Dir");
  EXPECT_EQ("", XmlProblem(xml));
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<!-- plgreg plan register: the registry entries the module writes, for a package that "
      "installs the module as File m (WiX v3).\n"
      "     The shared system's directories come from its Dir key at installation "
      "(KELSYS_BIN, KELSYS_HELP, KELSYS_LIB).\n"
      "     The Open verbs of the releases are a snapshot of the releases installed on the\n"
      "     machine this plan was made for: they keep its paths, and the package adds no\n"
      "     verb for a release installed later. -->\n"
      "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
      "  <Fragment>\n"
      "    <Property Id=\"KELSYS_BIN\">\n"
      "      <RegistrySearch Id=\"Kelsys_bin\" Root=\"HKLM\" Key=\"Software\\K\\Dir\" "
      "Name=\"bin\" Type=\"raw\" Win64=\"yes\" />\n"
      "    </Property>\n"
      "    <Property Id=\"KELSYS_HELP\">\n"
      "      <RegistrySearch Id=\"Kelsys_help\" Root=\"HKLM\" Key=\"Software\\K\\Dir\" "
      "Name=\"help\" Type=\"raw\" Win64=\"yes\" />\n"
      "    </Property>\n"
      "    <Property Id=\"KELSYS_LIB\">\n"
      "      <RegistrySearch Id=\"Kelsys_lib\" Root=\"HKLM\" Key=\"Software\\K\\Dir\" "
      "Name=\"lib\" Type=\"raw\" Win64=\"yes\" />\n"
      "    </Property>\n"
      "    <ComponentGroup Id=\"PlgproductRegistry\" Directory=\"INSTALLFOLDER\">\n"
      "    <Component Id=\"PlgproductRegistry\" Guid=\"{5B0E9C47-2A61-4D38-B7F2-C4E8196A03D5}\" "
      "Win64=\"yes\">\n"
      "      <RegistryKey Root=\"HKLM\" Key=\"Software\\T [\\[]x[\\]]\">\n"
      "        <RegistryValue Type=\"string\" "
      "Value=\"&lt;[\\[]a[\\]]&amp;&quot;&#10;\xC3\xA9\" />\n"
      "        <RegistryValue Name=\"list\" Type=\"multiString\">\n"
      "          <MultiStringValue Value=\"a\" />\n"
      "          <MultiStringValue Value=\"b\" />\n"
      "        </RegistryValue>\n"
      "        <RegistryValue Name=\"bytes\" Type=\"binary\" Value=\"01ab\" />\n"
      "        <RegistryValue Name=\"minus\" Type=\"integer\" Value=\"-1\" />\n"
      "        <!-- value \"odd- name\" (REG_NONE) cannot be written as a RegistryValue -->\n"
      "        <RegistryValue Name=\"paths\" Type=\"string\" "
      "Value=\"[#m] [KELSYS_HELP] [KELSYS_BIN]x\" />\n"
      "      </RegistryKey>\n"
      "    </Component>\n"
      "    <!-- 1 removals are not part of this fragment; the reg format lists them -->\n"
      "    </ComponentGroup>\n"
      "  </Fragment>\n"
      "</Wix>\n",
      xml);
}

}  // namespace
}  // namespace plg::tool
