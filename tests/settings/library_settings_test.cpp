// Suffix pairing, default libraries and script library.
#include "settings/library_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/product_strings.h"
#include "tests/settings/settings_test_support.h"

namespace plg {
namespace {

using testing::DescribeTree;
using testing::kDirKey;
using testing::kVersionKey;
using testing::Lines;
using testing::TestMachine;

const std::string kLibrariesKey = kVersionKey + "\\Default Libraries";
const std::string kScriptKey = kVersionKey + "\\Script Library";
const std::string kSuffixKey = kVersionKey + "\\Suffix";

void RegisterAll(TestMachine& m, RegistrationMode mode) {
  testing::RunSteps(m, mode,
                    {RegisterSuffixSettings, RegisterDefaultLibraries, RegisterScriptSettings});
}

TEST(LibrarySettings, CleanMachineGetsTheSuffixTheLibraryAndTheScript) {
  TestMachine m;
  m.SeedSharedSystem();
  RegisterAll(m, kRegister);
  EXPECT_TRUE(m.messages().empty());
  EXPECT_EQ((Lines{
                "[]",
                "[Default Libraries]",
                "\"Modeler.hvxl\"=\"C:\\Apps\\Tolvanics\\Kelsys V12\\lib\\Modeler.hvxl\"",
                "[Script Library]",
                "\"Default\"=\"modeler.hvxl\"",
                "[Suffix]",
                "\"ASCII\"=\"plgf,Pellagor Language\"",
            }),
            DescribeTree(m.registry, kVersionKey));
}

TEST(LibrarySettings, UnregistrationTouchesNothing) {
  testing::ExpectUnregistrationTouchesNothing(RegisterAll);
}

TEST(SplitLibraryList, DropsEmptyEntriesAndKeepsBlanks) {
  struct Case {
    const char* list;
    Lines entries;
  } cases[] = {
      {"", {}},
      {",,,", {}},
      {"x", {"x"}},
      {"a.hvxl,,b.hvxl,", {"a.hvxl", "b.hvxl"}},
      {",a.hvxl", {"a.hvxl"}},
      {"a.hvxl, b.hvxl", {"a.hvxl", " b.hvxl"}},
      {" a , b ", {" a ", " b "}},
      {" ", {" "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("list '") + c.list + "'");
    EXPECT_EQ(c.entries, SplitLibraryList(c.list));
  }
}

TEST(LibrarySettings, TheLibraryListDecidesTheValues) {
  const std::string lib = "D:\\Sys\\Lib\\";
  struct Case {
    const char* list;
    Lines tree;  // of the product version key; empty: no key at all
  } cases[] = {
      {"none", {}},
      {"NONE", {}},
      {"NoNe", {}},
      {"  none", {}},
      {"\tnone", {}},
      {"", {}},
      {"   ", {}},
      {"none ", {"[]", "[Default Libraries]", "\"none \"=\"" + lib + "none \""}},
      {"nonesuch", {"[]", "[Default Libraries]", "\"nonesuch\"=\"" + lib + "nonesuch\""}},
      {"a.hvxl,,b.hvxl,",
       {"[]", "[Default Libraries]", "\"a.hvxl\"=\"" + lib + "a.hvxl\"",
        "\"b.hvxl\"=\"" + lib + "b.hvxl\""}},
      {"a.hvxl, b.hvxl",
       {"[]", "[Default Libraries]", "\"a.hvxl\"=\"" + lib + "a.hvxl\"",
        "\" b.hvxl\"=\"" + lib + " b.hvxl\""}},
      {"  Modeler.hvxl ",
       {"[]", "[Default Libraries]", "\"Modeler.hvxl \"=\"" + lib + "Modeler.hvxl \""}},
      {"x.hvxl,y.hvxl,x.hvxl",
       {"[]", "[Default Libraries]", "\"x.hvxl\"=\"" + lib + "x.hvxl\"",
        "\"y.hvxl\"=\"" + lib + "y.hvxl\""}},
      {",", {"[]", "[Default Libraries]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("list '") + c.list + "'");
    TestMachine m;
    m.registry.SeedString(kDirKey, "lib", "D:\\Sys\\Lib");
    m.strings.Set(kDefaultLibraries, c.list);
    RegisterDefaultLibraries(m.platform, kRegister);
    EXPECT_TRUE(m.messages().empty());
    EXPECT_EQ(c.tree, DescribeTree(m.registry, kVersionKey));
    EXPECT_EQ(0u, m.registry.open_handles());
  }
}

TEST(LibrarySettings, ALibraryNamedTwiceIsWrittenTwice) {
  TestMachine m;
  m.strings.Set(kDefaultLibraries, "x.hvxl,y.hvxl,x.hvxl");
  RegisterDefaultLibraries(m.platform, kRegister);
  Lines writes;
  for (const RegCall& call : m.registry.calls()) {
    if (call.op == RegOp::kSetValue) writes.push_back(call.value);
  }
  EXPECT_EQ((Lines{"x.hvxl", "y.hvxl", "x.hvxl"}), writes);
}

TEST(LibrarySettings, TheLibraryDirectoryIsUsedAsStored) {
  struct Case {
    const char* what;
    const char* lib_dir;  // null: no Dir key
    std::string data;
  } cases[] = {
      {"no Dir key", nullptr, "\\Modeler.hvxl"},
      {"trailing backslash", "D:\\Sys\\Lib\\", "D:\\Sys\\Lib\\\\Modeler.hvxl"},
      {"empty", "", "\\Modeler.hvxl"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestMachine m;
    if (c.lib_dir != nullptr) m.registry.SeedString(kDirKey, "lib", c.lib_dir);
    RegisterDefaultLibraries(m.platform, kRegister);
    EXPECT_TRUE(m.messages().empty());
    EXPECT_EQ((Lines{"[]", "\"Modeler.hvxl\"=\"" + c.data + "\""}),
              DescribeTree(m.registry, kLibrariesKey));
  }
}

TEST(LibrarySettings, TheScriptNameLosesOnlyLeadingWhiteSpace) {
  struct Case {
    const char* text;
    std::string value;
  } cases[] = {
      {"", "\"Default\"=\"\""},
      {"   ", "\"Default\"=\"\""},
      {" \tmy.hvxl ", "\"Default\"=\"my.hvxl \""},
      {"my lib.hvxl", "\"Default\"=\"my lib.hvxl\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("text '") + c.text + "'");
    TestMachine m;
    m.registry.SeedString(kScriptKey, "", "the key's own default");
    m.strings.Set(kScriptLibrary, c.text);
    RegisterScriptSettings(m.platform, kRegister);
    EXPECT_TRUE(m.messages().empty());
    EXPECT_EQ((Lines{"[]", "@=\"the key's own default\"", c.value}),
              DescribeTree(m.registry, kScriptKey));
  }
}

TEST(LibrarySettings, EachFailureIsReportedOrLeftSilentAsDecided) {
  const std::string library_line =
      "\"Modeler.hvxl\"=\"C:\\Apps\\Tolvanics\\Kelsys V12\\lib\\Modeler.hvxl\"";
  struct Case {
    const char* what;
    RegFault fault;
    Lines messages;
    Lines tree;
  } cases[] = {
      {"suffix key",
       {RegOp::kCreateKey, kSuffixKey},
       {},
       {"[]", "[Default Libraries]", library_line, "[Script Library]",
        "\"Default\"=\"modeler.hvxl\""}},
      {"suffix value",
       {RegOp::kSetValue, kSuffixKey, std::string("ASCII")},
       {"Unable to create ASCII document suffix entry in HKLM"},
       {"[]", "[Default Libraries]", library_line, "[Script Library]",
        "\"Default\"=\"modeler.hvxl\"", "[Suffix]"}},
      {"library key",
       {RegOp::kCreateKey, kLibrariesKey},
       {"Unable to create default library key"},
       {"[]", "[Script Library]", "\"Default\"=\"modeler.hvxl\"", "[Suffix]",
        "\"ASCII\"=\"plgf,Pellagor Language\""}},
      {"library value",
       {RegOp::kSetValue, kLibrariesKey, std::string("Modeler.hvxl")},
       {"Unable to create default library entry"},
       {"[]", "[Default Libraries]", "[Script Library]", "\"Default\"=\"modeler.hvxl\"", "[Suffix]",
        "\"ASCII\"=\"plgf,Pellagor Language\""}},
      {"script key",
       {RegOp::kCreateKey, kScriptKey},
       {},
       {"[]", "[Default Libraries]", library_line, "[Suffix]",
        "\"ASCII\"=\"plgf,Pellagor Language\""}},
      {"script value",
       {RegOp::kSetValue, kScriptKey, std::string("Default")},
       {"Unable to create script library entry"},
       {"[]", "[Default Libraries]", library_line, "[Script Library]", "[Suffix]",
        "\"ASCII\"=\"plgf,Pellagor Language\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestMachine m;
    m.SeedSharedSystem();
    m.registry.InjectFault(c.fault);
    RegisterAll(m, kRegister);
    EXPECT_EQ(c.messages, m.messages());
    EXPECT_EQ(c.tree, DescribeTree(m.registry, kVersionKey));
  }
}

TEST(LibrarySettings, EveryLibraryThatCannotBeWrittenIsReportedOnce) {
  TestMachine m;
  m.SeedSharedSystem();
  m.strings.Set(kDefaultLibraries, "a.hvxl,b.hvxl,c.hvxl,d.hvxl");
  m.registry.InjectFault({RegOp::kSetValue, kLibrariesKey, std::string("b.hvxl")});
  m.registry.InjectFault({RegOp::kSetValue, kLibrariesKey, std::string("d.hvxl")});
  RegisterDefaultLibraries(m.platform, kRegister);
  EXPECT_EQ(
      (Lines{"Unable to create default library entry", "Unable to create default library entry"}),
      m.messages());
  // The detail names the key as the step spells it.
  const std::string spelt =
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tolvanics\\Pellagor\\38.0\\Default Libraries";
  EXPECT_EQ((Lines{spelt + " value \"b.hvxl\": error 5", spelt + " value \"d.hvxl\": error 5"}),
            m.reporter.details());
  EXPECT_EQ((Lines{"[]", "\"a.hvxl\"=\"C:\\Apps\\Tolvanics\\Kelsys V12\\lib\\a.hvxl\"",
                   "\"c.hvxl\"=\"C:\\Apps\\Tolvanics\\Kelsys V12\\lib\\c.hvxl\""}),
            DescribeTree(m.registry, kLibrariesKey));
  EXPECT_EQ(0u, m.registry.open_handles());
}

}  // namespace
}  // namespace plg
