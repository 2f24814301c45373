// The three command lines that start the host: the document type's quoted
// Open command, the language class's local server and the automation
// class's local server.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "resources/product_strings.h"
#include "tests/classes/class_test_support.h"

namespace plg::testing {
namespace {

struct CommandCase {
  const char* name;
  std::optional<std::string> bin;              // the Dir key's "bin"; none: no Dir key
  std::optional<std::string> host_executable;  // string 425, when changed
  std::optional<std::string> product_key;      // string 408, when changed
  std::string open_command;
  std::string language_server;
  std::string automation_server;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class CommandLines : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandLines, FollowTheHostAndSwitchRules) {
  const CommandCase& c = GetParam();
  TestMachine m;
  if (c.bin) m.registry.SeedString(kDirKey, "bin", *c.bin);
  if (c.host_executable) m.strings.Set(kHostExecutable, *c.host_executable);
  if (c.product_key) m.strings.Set(kProductKey, *c.product_key);

  RegisterDocumentClass(m.platform, kRegister, kSeedModulePath);
  RegisterLanguageClass(m.platform, kRegister, kSeedModulePath);
  RegisterApplicationClass(m.platform, kRegister);

  const std::string classes = kClassesRoot;
  EXPECT_EQ((Lines{"[]", "@=\"" + c.open_command + "\""}),
            DescribeTree(m.registry, classes + "\\Pellagor Language\\shell\\Open\\command"));
  EXPECT_EQ((Lines{"[]", "@=\"" + c.language_server + "\""}),
            DescribeTree(m.registry, classes + "\\CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}"
                                               "\\LocalServer32"));
  EXPECT_EQ((Lines{"[]", "@=\"" + c.automation_server + "\""}),
            DescribeTree(m.registry, classes + "\\CLSID\\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}"
                                               "\\LocalServer32"));
  EXPECT_TRUE(m.messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    BinDirectoryHostAndSwitch, CommandLines,
    ::testing::Values(CommandCase{"BinWithoutTrailingBackslash",
                                  R"(C:\Hosts\bin)",
                                  {},
                                  {},
                                  R"("C:\Hosts\bin\TolvaneModeler.exe" /plg "%1")",
                                  R"("C:\Hosts\bin\TolvaneModeler.exe" /plg)",
                                  R"("C:\Hosts\bin\TolvaneModeler.exe" /plg /Automation)"},
                      CommandCase{"BinWithTrailingBackslash",
                                  R"(C:\Hosts\bin\)",
                                  {},
                                  {},
                                  R"("C:\Hosts\bin\\TolvaneModeler.exe" /plg "%1")",
                                  R"("C:\Hosts\bin\\TolvaneModeler.exe" /plg)",
                                  R"("C:\Hosts\bin\\TolvaneModeler.exe" /plg /Automation)"},
                      CommandCase{"NoBinDirectory",
                                  std::nullopt,
                                  {},
                                  {},
                                  R"("\TolvaneModeler.exe" /plg "%1")",
                                  R"("\TolvaneModeler.exe" /plg)",
                                  R"("\TolvaneModeler.exe" /plg /Automation)"},
                      // A quote would end the quoted path early: as no bin.
                      CommandCase{"BinWithQuote",
                                  R"(C:\Kelsys V12" x.exe "\bin\)",
                                  {},
                                  {},
                                  R"("\TolvaneModeler.exe" /plg "%1")",
                                  R"("\TolvaneModeler.exe" /plg)",
                                  R"("\TolvaneModeler.exe" /plg /Automation)"},
                      CommandCase{"HostInOtherCase",
                                  R"(C:\Hosts\bin)",
                                  "tolvanemodeler",
                                  {},
                                  R"("C:\Hosts\bin\tolvanemodeler.exe" /plg "%1")",
                                  R"("C:\Hosts\bin\tolvanemodeler.exe" /plg)",
                                  R"("C:\Hosts\bin\TolvaneModeler.exe" /plg /Automation)"},
                      CommandCase{"OtherHost",
                                  R"(C:\Hosts\bin)",
                                  "OtherModeler",
                                  {},
                                  R"("C:\Hosts\bin\OtherModeler.exe" "%1")",
                                  R"("C:\Hosts\bin\OtherModeler.exe")",
                                  R"("C:\Hosts\bin\TolvaneModeler.exe" /plg /Automation)"},
                      CommandCase{"HostNameWithSuffix",
                                  R"(C:\Hosts\bin)",
                                  "TolvaneModelerX",
                                  {},
                                  R"("C:\Hosts\bin\TolvaneModelerX.exe" "%1")",
                                  R"("C:\Hosts\bin\TolvaneModelerX.exe")",
                                  R"("C:\Hosts\bin\TolvaneModeler.exe" /plg /Automation)"},
                      CommandCase{"HostNameCutShort",
                                  R"(C:\Hosts\bin)",
                                  "Tolvane",
                                  {},
                                  R"("C:\Hosts\bin\Tolvane.exe" "%1")",
                                  R"("C:\Hosts\bin\Tolvane.exe")",
                                  R"("C:\Hosts\bin\TolvaneModeler.exe" /plg /Automation)"},
                      // Only the two local servers trim the switch.
                      CommandCase{"SwitchWithBlanks",
                                  R"(C:\Hosts\bin)",
                                  {},
                                  " plg\t",
                                  "\"C:\\Hosts\\bin\\TolvaneModeler.exe\" / plg\t \"%1\"",
                                  R"("C:\Hosts\bin\TolvaneModeler.exe" /plg)",
                                  R"("C:\Hosts\bin\TolvaneModeler.exe" /plg /Automation)"}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace plg::testing
