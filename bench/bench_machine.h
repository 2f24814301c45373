// Machines for the host benchmarks: the built-in image of a clean machine
// with the shared modelling system, grown by many product versions and
// releases, or by a large leftover ProgID tree. The Wine driver
// (bench/cycle_driver.cpp) seeds the same shapes into the real registry.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "machine/builtin_machine.h"
#include "machine/memory_registry.h"
#include "machine/recording_reporter.h"
#include "registry/registry_paths.h"
#include "resources/compiled_strings.h"

namespace plg::bench {

struct BenchMachine {
  std::unique_ptr<MemoryRegistry> registry = BuiltInMachine();
  RecordingReporter reporter;
  CompiledStrings strings;
  RecordingEventLog events;
  Platform platform{*registry, reporter, strings, events};
};

// Version `index` of a machine with many: 0 is this product's own 38.0, the
// rest are other versions, each on a release of its own.
inline std::string VersionName(int index) {
  return index == 0 ? std::string("38.0") : "39." + std::to_string(index);
}

inline std::string ReleaseBin(int index) {
  char text[64];
  std::snprintf(text, sizeof text, "C:\\Apps\\Tolvanics\\Kelsys R%04d\\bin\\", index);
  return text;
}

// `count` product versions in each registry view, each with its release's
// Dir\Bin beneath the shared system key of that view. Release 38.0 is the
// built-in image's, in both views.
inline void SeedVersions(MemoryRegistry& registry, int count) {
  const std::string machine = "HKEY_LOCAL_MACHINE\\";
  for (RegistryView view : {RegistryView::k32Bit, RegistryView::kNative}) {
    for (int i = 0; i < count; ++i) {
      const std::string version = VersionName(i);
      registry.SeedKey(machine + GetProductViewKeyPath(view, "Pellagor") + version);
      if (i > 0) {
        registry.SeedString(machine + GetReleasesKeyPath(view) + version + "\\Dir", "Bin",
                            ReleaseBin(i));
      }
    }
  }
}

// The language document ProgID left as a tree of `keys` keys (itself and
// its shell key included): verbs of releases uninstalled since, each verb key
// with its command key.
inline void SeedProgIdTree(MemoryRegistry& registry, int keys) {
  const std::string shell = "HKEY_CLASSES_ROOT\\Pellagor Language\\shell";
  registry.SeedKey(shell);
  for (int i = 0; i < (keys - 2) / 2; ++i) {
    char verb[48];
    std::snprintf(verb, sizeof verb, "\\Open Pellagor R%06d\\command", i);
    registry.SeedString(shell + verb, "", "C:\\old\\TolvaneModeler.exe /plg \"%1\"");
  }
}

}  // namespace plg::bench
