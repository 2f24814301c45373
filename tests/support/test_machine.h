// A fresh in-memory machine per test: registry, message recorder and the
// compiled-in string table, wired into one Platform.
#pragma once

#include <string>
#include <vector>

#include "machine/memory_registry.h"
#include "machine/recording_reporter.h"
#include "resources/compiled_strings.h"

namespace plg::testing {

// Where the seeded shared modelling system keeps its directories, as tests
// expect them; VerifyTest.TheBuiltInMachineHoldsTheTestsSharedSystem checks
// that the image holds them. The bin directory ends in a backslash, as the
// shared system's installer writes it: the same value is the release's
// Dir\Bin for version 38.0.
inline constexpr char kSeedBinDir[] = "C:\\Apps\\Tolvanics\\Kelsys V12\\bin\\";
inline constexpr char kSeedHelpDir[] = "C:\\Apps\\Tolvanics\\Kelsys V12\\help";
inline constexpr char kSeedLibDir[] = "C:\\Apps\\Tolvanics\\Kelsys V12\\lib";
inline constexpr char kSeedRootDir[] = "C:\\Apps\\Tolvanics\\Kelsys V12";
// The module path registrations use unless a test says otherwise.
inline constexpr char kSeedModulePath[] = "C:\\Program Files\\Pellagor\\plgproduct.dll";

// Full paths of the shared system's keys for version 38.0.
inline constexpr char kDirKey[] = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir";
inline constexpr char kOptionsKey[] =
    "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options";
inline constexpr char kProductVersionKey[] =
    "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\38.0";

struct TestMachine {
  MemoryRegistry registry;
  RecordingReporter reporter;
  CompiledStrings strings;
  RecordingEventLog events;
  Platform platform{registry, reporter, strings, events};

  // The machine image of the shared system as installed
  // (machine/images/shared_system.reg): HKEY_CLASSES_ROOT\CLSID and release
  // 38.0's Dir key with "bin", "help", "lib" and "root" (the directories
  // above) in both registry views. Key and value names compare without regard
  // to case, so each is also the release's Dir\Bin in its view.
  void SeedSharedSystem();

  const std::vector<std::string>& messages() const { return reporter.messages(); }
};

}  // namespace plg::testing
