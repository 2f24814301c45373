// plgreg plan's JSON and WiX output: both read back, with the entries of the
// run in them.
#include <expat.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/tools/plgreg_run.h"
#include "tools/plgreg/builtin_machine.h"
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
  const PlanResult registered = PlanStep(*BuiltInMachine(), Step::kRegister, kDefaultModulePath);
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

TEST(FormatsTest, WxsOfARegistrationIsWellFormedWithTheEntries) {
  const testing::CliRun run = Plgreg({"plan", "register", "--format", "wxs"});
  ASSERT_EQ(0, run.code) << run.err;
  EXPECT_EQ("", XmlProblem(run.out));
  const std::vector<std::string> fragments = {
      "<Wix xmlns=\"http://wixtoolset.org/schemas/v4/wxs\">",
      "      <RegistryKey Root=\"HKCR\" Key=\"Pellagor Language\\shell\\Open Pellagor V12\" "
      "ForceCreateOnInstall=\"yes\" />\n",
      "      <RegistryKey Root=\"HKCR\" Key=\"Pellagor Language\\shell\\Open Pellagor "
      "V12\\command\">\n"
      "        <RegistryValue Type=\"string\" Value=\"&quot;C:\\Apps\\Tolvanics\\Kelsys "
      "V12\\bin\\TolvaneModeler.exe&quot; /plg &quot;%1&quot;\" />\n"
      "      </RegistryKey>\n",
      "        <RegistryValue Name=\"CustomModelingOn\" Type=\"integer\" Value=\"1\" />\n",
      "        <RegistryValue Name=\"plg\" Type=\"string\" Value=\"Pellagor\" />\n",
  };
  for (const std::string& fragment : fragments) {
    EXPECT_NE(std::string::npos, run.out.find(fragment)) << fragment;
  }
  EXPECT_EQ(std::string::npos, run.out.find("removals"));
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
  const std::vector<RegistryChange> changes = {
      added,
      Set(added.key, "", kRegSz, {'<', '[', 'a', ']', '&', '"', '\n', 0xE9, 0}),
      Set(added.key, "list", kRegMultiSz, {'a', 0, 'b', 0, 0}),
      Set(added.key, "bytes", kRegBinary, {0x01, 0xAB}),
      Set(added.key, "minus", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}),
      Set(added.key, "odd--name", kRegNone, {}),
      removed,
  };
  const std::string xml = FormatPlanAsWxs({"register", "C:\\m.dll", {}}, changes);
  EXPECT_EQ("", XmlProblem(xml));
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<!-- plgreg plan register: the registry entries the module writes -->\n"
      "<Wix xmlns=\"http://wixtoolset.org/schemas/v4/wxs\">\n"
      "  <Fragment>\n"
      "    <ComponentGroup Id=\"PlgproductRegistry\" Directory=\"INSTALLFOLDER\">\n"
      "    <Component Id=\"PlgproductRegistry\">\n"
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
