// plgreg plan's JSON and WiX output: both read back, with the entries of the
// run in them.
#include <expat.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "machine/builtin_machine.h"
#include "tests/tools/plgreg_run.h"
#include "tools/plgreg/name_uuid.h"
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
// system's directories as properties searched in the 64-bit view, only where
// the registration used them (not in texts that merely hold the same
// characters), the release verbs as the plan machine has them; the shared
// entries in a permanent component of their own; each component with a
// KeyPath of the product's own and a GUID of its contents.
TEST(FormatsTest, WxsOfARegistrationIsWellFormedWithTheEntries) {
  struct Case {
    std::vector<std::string> more_args;
    std::vector<std::string> fragments;
    const char* dir_value = nullptr;  // replaced in the machine's Dir key
    std::string dir_text;
    ValueType dir_type = kRegSz;
    std::string warning;
  };
  const std::string untouched[] = {
      "<RegistryValue Type=\"string\" Value=\"PLG Application 3800\" />",
      "Key=\"CLSID\\[\\{]7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53[\\}]\\DefaultIcon\">"};
  const std::vector<Case> cases = {
      {{},
       {"<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">",
        "    <Property Id=\"KELSYS_BIN\">\n"
        "      <RegistrySearch Id=\"Kelsys_bin\" Root=\"HKLM\" "
        "Key=\"Software\\Tolvanics\\Kelsys\\38.0\\Dir\" Name=\"bin\" Type=\"raw\" "
        "Win64=\"yes\" />\n",
        "Name=\"help\" Type=\"raw\" Win64=\"yes\" />",
        "Name=\"lib\" Type=\"raw\" Win64=\"yes\" />",
        "    <Component Id=\"PlgproductRegistry\" Guid=\"{",
        "\" Win64=\"yes\">\n",
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
        "<RegistryValue Name=\"DLL\" Type=\"string\" Value=\"[#plgproduct.dll]\" "
        "KeyPath=\"yes\" />",
        "        <RegistryValue Name=\"CustomModelingOn\" Type=\"integer\" Value=\"1\" />\n",
        "    </Component>\n"
        "    <Component Id=\"PlgproductSharedRegistry\" Guid=\"{",
        "\" Win64=\"yes\" Permanent=\"yes\">\n"
        "      <RegistryKey Root=\"HKCR\" Key=\".hvxl\">\n",
        "      <RegistryKey Root=\"HKCR\" "
        "Key=\"CLSID\\[\\{]5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4[\\}]\" "
        "ForceCreateOnInstall=\"yes\" />\n",
        "      <RegistryKey Root=\"HKCR\" Key=\"Tolvane Model Library\">\n",
        "      <RegistryKey Root=\"HKLM\" Key=\"Software\\Tolvanics\\Kelsys\\38.0\\Options\">\n"
        "        <RegistryValue Name=\"plg\" Type=\"string\" Value=\"Pellagor\" KeyPath=\"yes\" "
        "/>\n"
        "      </RegistryKey>\n"
        "    </Component>\n",
        "<Condition Message=\"The Kelsys modelling system 38.0 was not found",
        "snapshot of the releases",
        "It is Permanent:\n"
        "     an installer cannot know whether another product still needs them."}},
      {{"--file-id", "Module", "--module-path", "D:\\P\\m.dll"},
       {"<RegistryValue Type=\"string\" Value=\"[#Module],1\" />",
        "<RegistryValue Name=\"DLL\" Type=\"string\" Value=\"[#Module]\" KeyPath=\"yes\" />"}},
      {{},
       {"<RegistryValue Name=\"Modeler.hvxl\" Type=\"string\" "
        "Value=\"[KELSYS_LIB]\\Modeler.hvxl\" />"},
       "lib",
       "0"},
      {{},
       {"<RegistryValue Type=\"string\" Value=\"&quot;[KELSYS_BIN]\\TolvaneModeler.exe&quot; "
        "/plg /Automation\" />"},
       "bin",
       "38"},
      {{},
       {"Value=\"[KELSYS_LIB]\\Modeler.hvxl\" />"},
       "lib",
       "%ProgramFiles%\\Kelsys\\lib",
       kRegExpandSz,
       "plgreg: warning: [HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir] \"lib\" is "
       "REG_EXPAND_SZ: the module writes its data as text, a RegistrySearch does not give it "
       "so; the fragment's condition stops an installation where the search gives a typed "
       "value\n"},
  };
  std::vector<std::string> guids;
  for (const Case& wxs : cases) {
    SCOPED_TRACE(wxs.dir_text);
    std::vector<std::string> args = {"plan", "register", "--format", "wxs"};
    args.insert(args.end(), wxs.more_args.begin(), wxs.more_args.end());
    const std::unique_ptr<MemoryRegistry> machine = BuiltInMachine();
    if (wxs.dir_value != nullptr) {
      std::vector<std::uint8_t> data(wxs.dir_text.begin(), wxs.dir_text.end());
      data.push_back(0);
      machine->SeedValue("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir",
                         wxs.dir_value, wxs.dir_type, data);
    }
    const testing::CliRun run = testing::PlgregOn(*machine, args);
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ(wxs.warning, run.err);
    EXPECT_EQ("", XmlProblem(run.out));
    for (const std::string& fragment : wxs.fragments) {
      EXPECT_NE(std::string::npos, run.out.find(fragment)) << fragment;
    }
    for (const std::string& fragment : untouched) {
      EXPECT_NE(std::string::npos, run.out.find(fragment)) << fragment;
    }
    const std::size_t guid = run.out.find("<Component Id=\"PlgproductRegistry\" Guid=\"");
    ASSERT_NE(std::string::npos, guid);
    guids.push_back(run.out.substr(guid + 42, 38));
    EXPECT_EQ(std::string::npos, run.out.find("removals"));
    // Nothing of the plan machine's paths outside the release verbs.
    std::size_t paths = 0;
    for (std::size_t at = 0; (at = run.out.find("C:\\Apps\\", at)) != std::string::npos; ++at) {
      ++paths;
    }
    // With "38" for bin, the release has no label and gets no verb.
    EXPECT_EQ(wxs.dir_text == "38" ? 0u : 1u, paths);
    EXPECT_EQ(std::string::npos, run.out.find("plgproduct.dll,"));
  }
  // Other entries (another File id, no verb), another GUID; the same
  // entries from another machine (lib "0" or REG_EXPAND_SZ), the same GUID.
  EXPECT_NE(guids[0], guids[1]);
  EXPECT_NE(guids[0], guids[3]);
  EXPECT_EQ(guids[2], guids[4]);
  EXPECT_EQ(Plgreg({"plan", "register", "--format", "wxs"}).out,
            Plgreg({"plan", "register", "--format", "wxs"}).out);
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

// The fragment's GUIDs with "GUID" in their place.
std::string WithoutGuids(std::string xml) {
  for (std::size_t at = 0; (at = xml.find("Guid=\"{", at)) != std::string::npos;) {
    xml.replace(at + 6, 38, "GUID");
    at += 6;
  }
  return xml;
}

TEST(FormatsTest, WxsEscapesMarkupBracketsAndBracesAndNamesWhatItCannotWrite) {
  RegistryChange added;
  added.kind = RegistryChange::Kind::kAddKey;
  added.key = "HKEY_LOCAL_MACHINE\\Software\\T [x] {y}";
  RegistryChange removed = Set("HKEY_CLASSES_ROOT\\Old", "gone", kRegNone, {});
  removed.kind = RegistryChange::Kind::kRemoveValue;
  std::vector<RegistryChange> changes = {
      added,
      Set(added.key, "", kRegSz, {'<', '[', 'a', ']', '{', '}', '&', '"', '\n', 0xE9, 0}),
      Set(added.key, "list", kRegMultiSz, {'a', 0, 'b', 0, 0}),
      Set(added.key, "bytes", kRegBinary, {0x01, 0xAB}),
      Set(added.key, "minus", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}),
      Set(added.key, "odd--name", kRegNone, {}),
      removed,
  };
  // The marks, and only they, become references: "MODULE" and "BIN"
  // standing alone are text.
  WxsSubstitutions substitutions;
  substitutions.file_id = "m";
  substitutions.module_mark = "<mod>";
  substitutions.directory_marks[0] = "<bin>";
  substitutions.directory_marks[1] = "<help>";
  const std::string paths = "<mod> <help>\\h <bin>x MODULE BIN";
  std::vector<std::uint8_t> data(paths.begin(), paths.end());
  data.push_back(0);
  changes.insert(changes.end() - 1, Set(added.key, "paths", kRegSz, data));
  const std::string xml =
      FormatPlanAsWxs({"register", "C:\\m.dll", {}}, changes, substitutions, "Software\\K\\Dir");
  EXPECT_EQ("", XmlProblem(xml));
  const std::size_t start = xml.find("  <Fragment>\n");
  ASSERT_NE(std::string::npos, start);
  EXPECT_EQ(
      "  <Fragment>\n"
      "    <Condition Message=\"The Kelsys modelling system 38.0 was not found: "
      "HKLM\\Software\\K\\Dir must hold bin, and bin, help and lib as text (REG_SZ).\">"
      "KELSYS_BIN AND NOT (KELSYS_BIN &lt;&lt; \"#\") AND NOT (KELSYS_HELP &lt;&lt; \"#\") "
      "AND NOT (KELSYS_LIB &lt;&lt; \"#\")</Condition>\n"
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
      "    <Component Id=\"PlgproductRegistry\" Guid=\"GUID\" Win64=\"yes\">\n"
      "      <RegistryKey Root=\"HKLM\" Key=\"Software\\T [\\[]x[\\]] [\\{]y[\\}]\">\n"
      "        <RegistryValue Type=\"string\" "
      "Value=\"&lt;[\\[]a[\\]][\\{][\\}]&amp;&quot;&#10;\xC3\xA9\" />\n"
      "        <RegistryValue Name=\"list\" Type=\"multiString\">\n"
      "          <MultiStringValue Value=\"a\" />\n"
      "          <MultiStringValue Value=\"b\" />\n"
      "        </RegistryValue>\n"
      "        <RegistryValue Name=\"bytes\" Type=\"binary\" Value=\"01ab\" />\n"
      "        <RegistryValue Name=\"minus\" Type=\"integer\" Value=\"-1\" />\n"
      "        <!-- value \"odd- name\" (REG_NONE) cannot be written as a RegistryValue -->\n"
      "        <RegistryValue Name=\"paths\" Type=\"string\" "
      "Value=\"[#m] [KELSYS_HELP]\\h [KELSYS_BIN]x MODULE BIN\" />\n"
      "      </RegistryKey>\n"
      "    </Component>\n"
      "    <!-- 1 removals are not part of this fragment; the reg format lists them -->\n"
      "    </ComponentGroup>\n"
      "  </Fragment>\n"
      "</Wix>\n",
      WithoutGuids(xml.substr(start)));

  // A text XML cannot hold is refused, naming its key and value.
  changes.push_back(Set(added.key, "bell", kRegSz, {'a', 0x07, 0}));
  try {
    (void)FormatPlanAsWxs({"register", "C:\\m.dll", {}}, changes, substitutions, "K");
    ADD_FAILURE() << "no refusal";
  } catch (const RefusedText& refused) {
    EXPECT_EQ(
        "[HKEY_LOCAL_MACHINE\\Software\\T [x] {y}] \"bell\": its text holds \\x07, which "
        "XML cannot hold; no fragment written",
        std::string(refused.what()));
  }
}

// Component GUIDs are version 5 UUIDs of the components' contents: the same
// entries give the same GUID, other entries another.
TEST(FormatsTest, NameBasedUuidsFollowTheirNames) {
  const auto hex = [](const std::string& data) {
    std::string text;
    char buffer[3];
    for (std::uint8_t byte : Sha1(data)) {
      std::snprintf(buffer, sizeof buffer, "%02X", byte);
      text += buffer;
    }
    return text;
  };
  EXPECT_EQ("A9993E364706816ABA3E25717850C26C9CD0D89D", hex("abc"));
  EXPECT_EQ("291E9A6C66994949B57BA5E650361E98FC36B1BA", hex(std::string(1000, 'a')));
  // RFC 4122's DNS namespace; the value Python's uuid.uuid5 gives.
  EXPECT_EQ("{886313E1-3B8A-5372-9B90-0C9AEE199E5D}",
            NameBasedUuid("{6ba7b810-9dad-11d1-80b4-00c04fd430c8}", "python.org"));
}

}  // namespace
}  // namespace plg::tool
