// The plgreg command line: help, usage errors, machine images from files.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "tests/tools/plgreg_run.h"

namespace plg::tool {
namespace {

using testing::Plgreg;
using testing::Utf16Text;
using testing::WriteTempFile;

TEST(CliTest, EverySubcommandHasHelp) {
  struct Help {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  };
  const std::vector<Help> cases = {
      {{"--help"}, {"plan", "verify", "detect", "machine", "Exit codes", "3 internal error"}},
      {{"plan", "--help"},
       {"register or unregister", "--machine", "--module-path", "--format", "--file-id"}},
      {{"verify", "--help"},
       {"--machine", "--module-path", "--module-file", "left over", "json", "beside"}},
      {{"detect", "--help"}, {"--machine", "--module-path", "--module-file", "Intune"}},
      {{"machine", "--help"}, {"--format"}},
  };
  for (const Help& help : cases) {
    SCOPED_TRACE(help.args.front() + (help.args.size() > 1 ? " " + help.args[1] : ""));
    const testing::CliRun run = Plgreg(help.args);
    EXPECT_EQ(0, run.code);
    EXPECT_EQ("", run.err);
    for (const std::string& mention : help.mentions) {
      EXPECT_NE(std::string::npos, run.out.find(mention)) << mention << "\n" << run.out;
    }
  }
  // A subcommand's help is its own.
  EXPECT_EQ(std::string::npos, Plgreg({"verify", "--help"}).out.find("--file-id"));
}

// Usage errors exit 2; a failure the arguments do not explain, such as memory
// running out while the image is read, is an internal error and exits 3.
TEST(CliTest, ErrorsAreOneLineAndExitWithTheirCode) {
  const std::string bad_image =
      WriteTempFile("cli_bad.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=dword:xyz\r\n");
  const std::string missing = ::testing::TempDir() + "cli_no_such_image.reg";
  const MachineLoader out_of_memory = [](const std::string&,
                                         std::string*) -> std::unique_ptr<MemoryRegistry> {
    throw std::bad_alloc();
  };
  struct Usage {
    std::vector<std::string> args;
    std::string says;
    int code = kExitUsage;
    MachineLoader load_machine = LoadMachineImage;
  };
  const std::vector<Usage> cases = {
      {{}, "subcommand"},
      {{"install"}, "install"},
      {{"plan"}, "step"},
      {{"plan", "install"}, "install"},
      {{"plan", "register", "--format", "xml"}, "xml"},
      {{"plan", "register", "--bogus"}, "--bogus"},
      {{"plan", "register", "--machine"}, "--machine"},
      {{"verify", "register"}, "register"},
      {{"verify", "--format", "reg"}, "reg"},
      {{"plan", "register", "--format", "wxs", "--file-id", "a]b"}, "--file-id"},
      {{"plan", "register", "--format", "wxs", "--file-id", "x\"/><Evil a=\""},
       "--file-id: must be a WiX identifier"},
      {{"plan", "register", "--format", "wxs", "--file-id", "1st"}, "WiX identifier"},
      {{"machine", "--format", "wxs"}, "wxs"},
      {{"plan", "register", "--machine", missing}, missing + ": cannot open"},
      {{"verify", "--machine", bad_image}, bad_image + ":3: dword:"},
      {{"plan", "register", "--module-path", std::string(260, 'x')}, "longer than 259"},
      {{"plan", "register", "--module-path", ""}, "must not be empty"},
      {{"plan", "register", "--module-path", "C:\\\xE4\xB8\xAD.dll"}, "code page 1252"},
      {{"plan", "register"},
       "plgreg: internal error: std::bad_alloc",
       kExitInternal,
       out_of_memory},
  };
  for (const Usage& usage : cases) {
    std::string label;
    for (const std::string& arg : usage.args) label += arg + " ";
    SCOPED_TRACE(label);
    const testing::CliRun run = Plgreg(usage.args, usage.load_machine);
    EXPECT_EQ(usage.code, run.code);
    EXPECT_EQ("", run.out);
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(0u, run.err.rfind("plgreg: ", 0)) << run.err;
    EXPECT_EQ(run.err.size() - 1, run.err.find('\n')) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(usage.says)) << run.err;
  }
}

TEST(CliTest, TheBuiltInMachinePrintsAsAnImageThatReadsBack) {
  const testing::CliRun run = Plgreg({"machine"});
  EXPECT_EQ(0, run.code);
  const std::string dir =
      "\"bin\"=\"C:\\\\Apps\\\\Tolvanics\\\\Kelsys V12\\\\bin\\\\\"\r\n"
      "\"help\"=\"C:\\\\Apps\\\\Tolvanics\\\\Kelsys V12\\\\help\"\r\n"
      "\"lib\"=\"C:\\\\Apps\\\\Tolvanics\\\\Kelsys V12\\\\lib\"\r\n"
      "\"root\"=\"C:\\\\Apps\\\\Tolvanics\\\\Kelsys V12\"\r\n";
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n"
      "\r\n[HKEY_LOCAL_MACHINE\\Software\\Classes]\r\n"
      "\r\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID]\r\n"
      "\r\n[HKEY_LOCAL_MACHINE\\Software\\Tolvanics]\r\n"
      "\r\n[HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys]\r\n"
      "\r\n[HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0]\r\n"
      "\r\n[HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir]\r\n" +
          dir +
          "\r\n[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node]\r\n"
          "\r\n[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tolvanics]\r\n"
          "\r\n[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tolvanics\\Kelsys]\r\n"
          "\r\n[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tolvanics\\Kelsys\\38.0]\r\n"
          "\r\n[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tolvanics\\Kelsys\\38.0\\Dir]\r\n" +
          dir + "\r\n",
      Utf16Text(run.out));

  // Given back as --machine, it plans what the built-in image plans.
  const std::string image = WriteTempFile("cli_machine.reg", run.out);
  const testing::CliRun from_file =
      Plgreg({"plan", "register", "--machine", image, "--format", "reg4"});
  EXPECT_EQ(0, from_file.code) << from_file.err;
  EXPECT_EQ(Plgreg({"plan", "register", "--format", "reg4"}).out, from_file.out);
  EXPECT_EQ("REGEDIT4", Plgreg({"machine", "--format", "reg4"}).out.substr(0, 8));
}

}  // namespace
}  // namespace plg::tool
