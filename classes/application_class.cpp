#include "classes/application_class.h"

#include <iterator>
#include <string>
#include <utility>

#include "classes/class_texts.h"
#include "registry/registry_helpers.h"
#include "resources/product_strings.h"

namespace plg {

namespace {

// Key path relative to HKEY_CLASSES_ROOT and its default value. An empty
// value leaves the key without one.
using ApplicationClassRow = std::pair<std::string, std::string>;

// Filled at every run and kept until the next one or the unload.
ApplicationClassRow ApplicationClassTable[10];

// The automation server is always the shared modeller, whatever the host
// string says, its path quoted, started with the trimmed product switch.
std::string BuildAutomationCommand(Platform& platform) {
  const std::string bin = GetInstallDirectory(platform, InstallDirectory::kBin);
  return "\"" + bin + "\\" + kHostExecutableName + ".exe\" /" +
         TrimWhiteSpace(LoadProductString(platform, kProductKey)) + " /Automation";
}

// Rows whose keys unregistration removes as wholes.
constexpr std::size_t kProgIdRow = 0;
constexpr std::size_t kVersionedProgIdRow = 3;
constexpr std::size_t kClassKeyRow = 5;
// Rows whose value is the versioned ProgID: the version marker and the
// class's ProgID.
constexpr std::size_t kVersionMarkerRow = 2;
constexpr std::size_t kClassProgIdRow = 8;

constexpr char kApplicationKeyMessage[] = "Unable to create Application key entry";

void FillApplicationClassTable(Platform& platform) {
  const std::string prog_id = LoadProductString(platform, kApplicationProgId);
  const std::string major = LoadProductString(platform, kMajorVersion);
  const std::string minor = LoadProductString(platform, kMinorVersion);
  // Without the ProgID or a version number the name would be another
  // product's or version's (" 3800", "PLG Application 00"); an empty name is
  // refused by the registry layer like any key that cannot be created.
  const std::string versioned_prog_id =
      prog_id.empty() || major.empty() || minor.empty()
          ? std::string()
          : prog_id + " " + major + minor + "0";
  const std::string class_id = LoadProductString(platform, kApplicationClassId);
  const std::string class_key = "CLSID\\" + class_id;

  ApplicationClassTable[0] = {prog_id, prog_id};
  ApplicationClassTable[1] = {prog_id + "\\CLSID", class_id};
  ApplicationClassTable[2] = {prog_id + "\\CurVer", versioned_prog_id};
  ApplicationClassTable[3] = {versioned_prog_id, prog_id};
  ApplicationClassTable[4] = {versioned_prog_id + "\\CLSID", class_id};
  ApplicationClassTable[5] = {class_key, ""};
  ApplicationClassTable[6] = {class_key + "\\InProcHandler32", "Ole32.dll"};
  ApplicationClassTable[7] = {class_key + "\\LocalServer32",
                              BuildAutomationCommand(platform)};
  ApplicationClassTable[8] = {class_key + "\\ProgID", versioned_prog_id};
  ApplicationClassTable[9] = {class_key + "\\VersionIndependentProgID", prog_id};
}

}  // namespace

void RegisterApplicationClass(Platform& platform, RegistrationMode mode) {
  FillApplicationClassTable(platform);

  if (mode == kRegister) {
    const bool versioned_prog_id_refused =
        ApplicationClassTable[kVersionedProgIdRow].first.empty();
    for (std::size_t row = 0; row < std::size(ApplicationClassTable); ++row) {
      const auto& [path, value] = ApplicationClassTable[row];
      // Without a versioned ProgID the marker would be an empty CurVer, which
      // counts as another version for good and keeps every later
      // unregistration from removing the shared entries; its rows are refused
      // like the rows named after it.
      if (versioned_prog_id_refused &&
          (row == kVersionMarkerRow || row == kClassProgIdRow)) {
        ReportRegistrationError(platform, kApplicationKeyMessage,
                                {std::string(RootName(RegistryRoot::kClassesRoot)) + "\\" +
                                     path + ": no versioned ProgID",
                                 kSuccess});
        continue;
      }
      RegKey key;
      if (!CreateKeyOrReport(platform, RegistryRoot::kClassesRoot, path,
                             kApplicationKeyMessage, &key)) {
        continue;
      }
      if (!value.empty()) {
        SetRegistryStringOrReport(platform, key, "", value, ValueNotWrittenMessage(value));
      }
    }
    return;
  }

  // Only the version-independent ProgID waits for the version test: it
  // carries the marker that tells which version owns the shared entries.
  if (IsProductVersionCurrent(platform)) {
    static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot,
                                         ApplicationClassTable[kProgIdRow].first));
  }
  for (std::size_t row : {kVersionedProgIdRow, kClassKeyRow}) {
    static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot,
                                         ApplicationClassTable[row].first));
  }
}

}  // namespace plg
