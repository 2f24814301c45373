#include "classes/application_class.h"

#include <array>
#include <string>
#include <utility>

#include "classes/class_texts.h"
#include "registry/registry_helpers.h"
#include "registry/text_rules.h"
#include "resources/product_strings.h"

namespace plg {

namespace {

// Key path relative to HKEY_CLASSES_ROOT and its default value. An empty
// value leaves the key without one.
using ApplicationClassRow = std::pair<std::string, std::string>;
using ApplicationClassTable = std::array<ApplicationClassRow, 10>;

// The automation server is always the shared modeller, whatever the host
// string says, its path quoted, started with the trimmed product switch.
std::string BuildAutomationCommand(Platform& platform) {
  const std::string bin = GetInstallDirectory(platform, InstallDirectory::kBin);
  return QuotedExecutablePath(bin + "\\", kHostExecutableName) + " /" +
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

// Built at every run: nothing of it exists before the first export call.
ApplicationClassTable BuildApplicationClassTable(Platform& platform) {
  const std::string prog_id = LoadProductString(platform, kApplicationProgId);
  const std::string major = LoadProductString(platform, kMajorVersion);
  const std::string minor = LoadProductString(platform, kMinorVersion);
  // Without the ProgID or a version number the name would be another
  // product's or version's (" 3800", "PLG Application 00"); an empty name is
  // refused by the registry layer like any key that cannot be created.
  const std::string versioned_prog_id = prog_id.empty() || major.empty() || minor.empty()
                                            ? std::string()
                                            : prog_id + " " + major + minor + "0";
  const std::string class_id = LoadProductString(platform, kApplicationClassId);
  const std::string class_key = "CLSID\\" + class_id;

  return {{
      {prog_id, prog_id},
      {prog_id + "\\CLSID", class_id},
      {prog_id + "\\CurVer", versioned_prog_id},
      {versioned_prog_id, prog_id},
      {versioned_prog_id + "\\CLSID", class_id},
      {class_key, ""},
      {class_key + "\\InProcHandler32", "Ole32.dll"},
      {class_key + "\\LocalServer32", BuildAutomationCommand(platform)},
      {class_key + "\\ProgID", versioned_prog_id},
      {class_key + "\\VersionIndependentProgID", prog_id},
  }};
}

}  // namespace

void RegisterApplicationClass(Platform& platform, RegistrationMode mode) {
  const ApplicationClassTable table = BuildApplicationClassTable(platform);

  if (mode == kRegister) {
    const bool versioned_prog_id_refused = table[kVersionedProgIdRow].first.empty();
    for (std::size_t row = 0; row < table.size(); ++row) {
      const auto& [path, value] = table[row];
      // Without a versioned ProgID the marker would be an empty CurVer, which
      // counts as another version for good and keeps every later
      // unregistration from removing the shared entries; its rows are refused
      // like the rows named after it.
      if (versioned_prog_id_refused && (row == kVersionMarkerRow || row == kClassProgIdRow)) {
        ReportRegistrationError(platform, kApplicationKeyMessage,
                                {std::string(RootName(RegistryRoot::kClassesRoot)) + "\\" + path +
                                     ": no versioned ProgID",
                                 kSuccess});
        continue;
      }
      RegKey key;
      if (!CreateKeyOrReport(platform, RegistryRoot::kClassesRoot, path, kApplicationKeyMessage,
                             &key)) {
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
    static_cast<void>(
        DeleteRegistryTree(platform, RegistryRoot::kClassesRoot, table[kProgIdRow].first));
  }
  for (std::size_t row : {kVersionedProgIdRow, kClassKeyRow}) {
    static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot, table[row].first));
  }
}

}  // namespace plg
