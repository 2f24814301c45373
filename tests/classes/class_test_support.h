// Shared set-up and hand-written expectations for the shell and class
// registration tests. Trees are HKEY_CLASSES_ROOT as DescribeTree lists it,
// in pieces that a test puts together.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "classes/application_class.h"
#include "classes/document_class.h"
#include "classes/file_suffixes.h"
#include "classes/language_class.h"
#include "classes/version_open_verbs.h"
#include "tests/support/registry_text.h"
#include "tests/support/test_machine.h"

namespace plg::testing {

inline constexpr char kClassesRoot[] = "HKEY_CLASSES_ROOT";
inline constexpr char kShellKeyPath[] = "Pellagor Language\\shell\\";

// Release keys of the shared system and the product, per view.
inline constexpr char kNativeReleases[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tolvanics\\KELSYS";
inline constexpr char kNativeVersions[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tolvanics\\Pellagor";
inline constexpr char kWowReleases[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Tolvanics\\KELSYS";
inline constexpr char kWowVersions[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Tolvanics\\Pellagor";

inline constexpr char kWowBinDir[] = "C:\\Program Files (x86)\\Tolvanics\\Kelsys V11\\bin\\";

// `lines` without the keys whose headers are given, each with its values
// (not its subkeys).
inline Lines WithoutKeys(Lines lines, const Lines& headers) {
  for (const std::string& header : headers) {
    auto it = std::find(lines.begin(), lines.end(), header);
    if (it == lines.end()) {
      ADD_FAILURE() << "expected key missing: " << header;
      continue;
    }
    auto end = it + 1;
    while (end != lines.end() && end->front() != '[') ++end;
    lines.erase(it, end);
  }
  return lines;
}

// `lines` without the value `value` of the key `header`.
inline Lines WithoutValue(Lines lines, const std::string& header, const std::string& value) {
  auto it = std::find(lines.begin(), lines.end(), header);
  if (it != lines.end()) {
    for (++it; it != lines.end() && it->front() != '['; ++it) {
      if (*it == value) {
        lines.erase(it);
        return lines;
      }
    }
  }
  ADD_FAILURE() << "expected value missing: " << header << " " << value;
  return lines;
}

inline Lines ClassesTree(const TestMachine& m) { return DescribeTree(m.registry, kClassesRoot); }

// Release `version` of the shared system with its Dir\Bin, and the product
// registered for it, in the view whose keys are given.
inline void SeedRelease(TestMachine& m, const std::string& releases, const std::string& versions,
                        const std::string& version, const std::string& bin) {
  m.registry.SeedString(releases + "\\" + version + "\\Dir", "Bin", bin);
  m.registry.SeedKey(versions + "\\" + version);
}

// The machine the class steps meet in a registration: the shared system's
// Dir key (release 38.0 in the native view, labelled V12), release 37.0 in
// the 32-bit view (V11), a CurVer entry on both sides of the native view,
// and the product version key the host settings steps have created.
inline void SeedMachine(TestMachine& m) {
  m.SeedSharedSystem();
  m.registry.SeedKey(kProductVersionKey);
  SeedRelease(m, kWowReleases, kWowVersions, "37.0", kWowBinDir);
  SeedRelease(m, kNativeReleases, kNativeVersions, "CurVer",
              "C:\\Apps\\Tolvanics\\Kelsys V10\\bin\\");
}

// Steps 4, 6, 7, 10 and 13 in the driver's order.
inline void RunClassSteps(TestMachine& m, RegistrationMode mode) {
  const std::string module_path = mode == kRegister ? kSeedModulePath : "";
  RegisterFileSuffixes(m.platform, mode);
  RegisterDocumentClass(m.platform, mode, module_path);
  RegisterLibraryClass(m.platform, mode);
  RegisterLanguageClass(m.platform, mode, module_path);
  RegisterApplicationClass(m.platform, mode);
}

// What unregistration does to HKEY_CLASSES_ROOT: the V12 verb goes before
// the driver runs, then the steps in order.
inline void UnregisterClasses(TestMachine& m) {
  RemoveVersionOpenVerbs(m.platform);
  RunClassSteps(m, kUnregister);
}

// --- HKEY_CLASSES_ROOT after a registration on the seeded machine ---

inline const Lines kDocumentSuffixTree = {"[.plgf]", R"(@="Pellagor Language")"};
inline const Lines kLibrarySuffixTree = {"[.hvxl]", R"(@="Tolvane Model Library")"};

inline const Lines kLibraryClassTree = {
    R"([CLSID\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}])",
    R"([CLSID\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}\DefaultIcon])",
    R"(@="C:\Program Files\Pellagor\plgproduct.dll,0")",
};

inline const Lines kLanguageClassTree = {
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}])",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\AuxUserType])",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\AuxUserType\2])",
    R"(@="plgf View")",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\AuxUserType\3])",
    R"(@="Pellagor")",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\DefaultIcon])",
    R"(@="C:\Program Files\Pellagor\plgproduct.dll,1")",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\InprocHandler32])",
    R"(@="ole32")",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\LocalServer32])",
    R"(@=""C:\Apps\Tolvanics\Kelsys V12\bin\\TolvaneModeler.exe" /plg")",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\MiscStatus])",
    R"(@="32")",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\ProgID])",
    R"(@="Pellagor Language")",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\Verb])",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\Verb\0])",
    R"(@="&Edit,0,2")",
    R"([CLSID\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}\Verb\1])",
    R"(@="&Open,0,2")",
};

inline const Lines kApplicationClassTree = {
    R"([CLSID\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}])",
    R"([CLSID\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}\InProcHandler32])",
    R"(@="Ole32.dll")",
    R"([CLSID\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}\LocalServer32])",
    R"(@=""C:\Apps\Tolvanics\Kelsys V12\bin\\TolvaneModeler.exe" /plg /Automation")",
    R"([CLSID\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}\ProgID])",
    R"(@="PLG Application 3800")",
    R"([CLSID\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}\VersionIndependentProgID])",
    R"(@="PLG Application")",
};

// The language ProgID up to its plain Open command; the version verbs follow.
inline const Lines kLanguageProgIdTree = {
    "[Pellagor Language]",
    R"(@="Pellagor Language")",
    R"([Pellagor Language\Application])",
    R"("ApplicationName"="Pellagor V12")",
    R"([Pellagor Language\CLSID])",
    R"(@="{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}")",
    R"([Pellagor Language\DefaultIcon])",
    R"(@="C:\Program Files\Pellagor\plgproduct.dll,1")",
    R"([Pellagor Language\Insertable])",
    R"([Pellagor Language\shell])",
    R"([Pellagor Language\shell\Edit])",
    R"([Pellagor Language\shell\Edit\command])",
    R"(@="notepad.exe %1")",
    R"([Pellagor Language\shell\Open])",
    R"([Pellagor Language\shell\Open\command])",
    R"(@=""C:\Apps\Tolvanics\Kelsys V12\bin\\TolvaneModeler.exe" /plg "%1"")",
};
inline const Lines kVerbV11Tree = {
    R"([Pellagor Language\shell\Open Pellagor V11])",
    R"([Pellagor Language\shell\Open Pellagor V11\command])",
    R"(@=""C:\Program Files (x86)\Tolvanics\Kelsys V11\bin\TolvaneModeler.exe" /plg "%1"")",
};
inline const Lines kVerbV12Tree = {
    R"([Pellagor Language\shell\Open Pellagor V12])",
    R"([Pellagor Language\shell\Open Pellagor V12\command])",
    R"(@=""C:\Apps\Tolvanics\Kelsys V12\bin\TolvaneModeler.exe" /plg "%1"")",
};

// The version-independent ProgID, without its CurVer entry.
inline const Lines kApplicationProgIdTree = {
    "[PLG Application]",
    R"(@="PLG Application")",
    R"([PLG Application\CLSID])",
    R"(@="{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}")",
};
inline const Lines kMarkerTree = {R"([PLG Application\CurVer])", R"(@="PLG Application 3800")"};
inline const Lines kVersionedProgIdTree = {
    "[PLG Application 3800]",
    R"(@="PLG Application")",
    R"([PLG Application 3800\CLSID])",
    R"(@="{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}")",
};

inline const Lines kLibraryProgIdTree = {
    "[Tolvane Model Library]",
    R"(@="Tolvane Modeler Library")",
    R"([Tolvane Model Library\CLSID])",
    R"(@="{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}")",
};

}  // namespace plg::testing
