// Registration and unregistration of a module whose string table lacks one
// string: names built from it must never turn into a root, HKEY_CLASSES_ROOT
// \CLSID or someone else's key, and each step reports the keys it could not
// create.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registrar/registration_driver.h"
#include "resources/product_strings.h"
#include "tests/support/containment.h"
#include "tests/support/test_machine.h"

namespace plg {
namespace {

using testing::TestMachine;
using Lines = std::vector<std::string>;

struct MissingCase {
  unsigned id;
  Lines messages;  // what registration shows, in order
  // Register then unregister, as the only product, gives the machine back
  // but for the empty product key and the Options key.
  bool round_trip = false;
};

const std::vector<MissingCase>& Cases() {
  static const std::vector<MissingCase> cases = {
      {kDisplayName, {}},
      {kDocumentExtension, {"Unable to create ASCII document suffix entry"}},
      // The version marker and the class's ProgID would name no version.
      {kMajorVersion, Lines(4, "Unable to create Application key entry"), true},
      {kMinorVersion, Lines(4, "Unable to create Application key entry"), true},
      {kProductKey, {"Unable to enter value in modeler options key"}},
      {kProductName,
       {"Unable to create Application Name key", "Unable to open customization  key",
        "Unable to create Menu Help key", "Unable to create menu customization key",
        "Unable to create default library key", "Unable to open PFS CLSID key",
        "Unable to open GUI defaults key"}},
      {kLibraryExtension, {"Unable to create Library document suffix entry"}},
      {kHostHelpFile, {}},
      {kProductHelpFile, {}},
      {kLanguageProgId, {"Error creating document key"}},
      {kHostExecutable, {}},
      {kLibraryProgId, {"Unable to create document insertable key"}},
      {kLibraryClassId, {}},
      {kLanguageClassId, Lines(9, "Unable to create ASCII document suffix entry")},
      {kDefaultLibraries, {}},
      {kCustomModelingOn, {}},
      {kCtrlStreamFixedOnly, {}},
      {kLanguageFriendlyName, {}},
      {kLibraryFriendlyName, {}},
      {kScriptLibrary, {}},
      {kApplicationProgId, Lines(6, "Unable to create Application key entry"), true},
      {kApplicationClassId, Lines(5, "Unable to create Application key entry")},
  };
  return cases;
}

TEST(MissingResources, EachStringMissingInTurnStaysWithinTheProductsKeys) {
  for (const MissingCase& c : Cases()) {
    SCOPED_TRACE("string " + std::to_string(c.id) + " missing");
    TestMachine m;
    m.SeedSharedSystem();
    if (!c.round_trip) m.registry.SeedString(testing::kOptionsKey, "abc", "Other Product");
    m.registry.SeedString("HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-C000-000000000046}", "",
                          "Someone else's class");
    m.strings.Remove(c.id);
    const std::vector<RegEntry> before = m.registry.Snapshot("HKEY_LOCAL_MACHINE");

    const long registered = RegisterProduct(m.platform, testing::kSeedModulePath);
    EXPECT_EQ(c.messages, m.messages());
    EXPECT_EQ(c.messages.empty() ? kResultOk : kResultSelfRegClassError, registered);
    EXPECT_EQ(Lines{}, testing::CallsOutsideProduct(m.registry.calls()));

    m.reporter.Clear();
    m.registry.ClearCalls();
    EXPECT_EQ(kResultOk, UnregisterProduct(m.platform));
    EXPECT_TRUE(m.messages().empty());
    EXPECT_EQ(Lines{}, testing::CallsOutsideProduct(m.registry.calls()));
    EXPECT_TRUE(
        m.registry.KeyExists("HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-C000-000000000046}"));
    EXPECT_TRUE(m.registry.KeyExists(testing::kDirKey));
    EXPECT_EQ(0u, m.registry.open_handles());
    if (c.round_trip) {
      m.registry.Erase("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor");
      m.registry.Erase(testing::kOptionsKey);
      EXPECT_EQ(before, m.registry.Snapshot("HKEY_LOCAL_MACHINE"));
    }
  }
}

TEST(Containment, FlagsWritesAndDeletionsOutsideTheProductsKeys) {
  const std::vector<RegCall> calls = {
      {RegOp::kCreateKey, "HKEY_CLASSES_ROOT\\Pellagor Language\\shell\\x", "", kSuccess},
      {RegOp::kOpenKey, "HKEY_CLASSES_ROOT\\Anything", "", kSuccess},
      {RegOp::kSetValue, "HKEY_LOCAL_MACHINE\\SOFTWARE\\TOLVANICS\\KELSYS\\38.0\\OPTIONS", "PLG",
       kSuccess},
      {RegOp::kSetValue, "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options", "",
       kSuccess},
      // The same key again: each call's own operation and value decide.
      {RegOp::kSetValue, "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options", "plg",
       kSuccess},
      {RegOp::kDeleteKey, "HKEY_CLASSES_ROOT\\CLSID", "", kErrorAccessDenied},
      {RegOp::kCreateKey, "HKEY_LOCAL_MACHINE\\Software\\Tolvanics", "", kSuccess},
      {RegOp::kSetValue, "HKEY_LOCAL_MACHINE\\Software\\Tolvanics", "x", kSuccess},
      {RegOp::kDeleteKey, "HKEY_LOCAL_MACHINE\\Software\\Classes\\.hvxl\\ShellNew", "", kSuccess},
  };
  EXPECT_EQ(
      (Lines{"SetValue HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options value \"\"",
             "DeleteKey HKEY_CLASSES_ROOT\\CLSID",
             "SetValue HKEY_LOCAL_MACHINE\\Software\\Tolvanics value \"x\""}),
      testing::CallsOutsideProduct(calls));
}

}  // namespace
}  // namespace plg
