#include "classes/language_class.h"

#include <array>
#include <iterator>
#include <optional>

#include "classes/class_texts.h"
#include "classes/registered_products.h"
#include "registry/registry_helpers.h"
#include "registry/text_rules.h"
#include "resources/product_strings.h"

namespace plg {

namespace {

// One entry beneath the language class key: a fixed subkey and its default
// value, which exists only while a registration writes that row.
struct LanguageClassRow {
  const char* subkey;
  std::optional<std::string> value;
};

constexpr const char* kLanguageClassSubkeys[] = {
    "AuxUserType\\2", "AuxUserType\\3", "DefaultIcon", "InprocHandler32", "LocalServer32",
    "MiscStatus",     "ProgID",         "Verb\\0",     "Verb\\1",
};

using LanguageClassTable = std::array<LanguageClassRow, std::size(kLanguageClassSubkeys)>;

std::string ClassKeyPath(const std::string& class_id) { return "CLSID\\" + class_id; }

// "<bin>\<host>.exe" in quotes, so that COM cannot start another program at a
// blank in the path, then the trimmed product switch when the host is the
// shared modeller.
std::string BuildHostCommand(Platform& platform) {
  const std::string bin = GetInstallDirectory(platform, InstallDirectory::kBin);
  const std::string executable = LoadProductString(platform, kHostExecutable);
  std::string command = QuotedExecutablePath(bin + "\\", executable);
  if (EqualsIgnoringCase(executable, kHostExecutableName)) {
    command += " /" + TrimWhiteSpace(LoadProductString(platform, kProductKey));
  }
  return command;
}

// Built at every registration: nothing of it exists before the first export
// call.
LanguageClassTable BuildLanguageClassTable(Platform& platform, const std::string& module_path) {
  const std::string values[] = {
      LoadProductString(platform, kDocumentExtension) + " View",
      LoadProductString(platform, kProductName),
      module_path + ",1",
      "ole32",
      BuildHostCommand(platform),
      "32",
      LoadProductString(platform, kLanguageProgId),
      "&Edit,0,2",
      "&Open,0,2",
  };
  static_assert(std::size(values) == std::size(kLanguageClassSubkeys));
  LanguageClassTable table;
  for (std::size_t i = 0; i < std::size(values); ++i) {
    table[i] = {kLanguageClassSubkeys[i], values[i]};
  }
  return table;
}

void WriteLanguageClassRow(Platform& platform, const std::string& class_key,
                           LanguageClassRow& row) {
  RegKey key;
  if (CreateKeyOrReport(platform, RegistryRoot::kClassesRoot, class_key + "\\" + row.subkey,
                        kDocumentSuffixMessage, &key)) {
    SetRegistryStringOrReport(platform, key, "", *row.value, ValueNotWrittenMessage(*row.value));
  }
  // The row's value lives only while its row is written, failed or not.
  row.value.reset();
}

void WriteLibraryIcon(Platform& platform, const std::string& module_path) {
  RegKey key;
  if (!CreateKeyOrReport(
          platform, RegistryRoot::kClassesRoot,
          ClassKeyPath(LoadProductString(platform, kLibraryClassId)) + "\\DefaultIcon", nullptr,
          &key)) {
    return;
  }
  const std::string icon = module_path + ",0";
  SetRegistryStringOrReport(platform, key, "", icon, ValueNotWrittenMessage(icon));
}

}  // namespace

void RegisterLanguageClass(Platform& platform, RegistrationMode mode,
                           const std::string& module_path) {
  const std::string class_key = ClassKeyPath(LoadProductString(platform, kLanguageClassId));

  if (mode == kRegister) {
    LanguageClassTable table = BuildLanguageClassTable(platform, module_path);
    for (LanguageClassRow& row : table) {
      WriteLanguageClassRow(platform, class_key, row);
    }
    WriteLibraryIcon(platform, module_path);
    return;
  }

  if (IsProductVersionCurrent(platform)) {
    static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot, class_key));
  }
  // The library class key belongs to every product of the shared system, as
  // the library ProgID that names it does: it goes with the last of them, or
  // their library documents would lose their class.
  const std::string library_class_key = ClassKeyPath(LoadProductString(platform, kLibraryClassId));
  if (IsProductVersionCurrent(platform) && NoProductRegistered(platform)) {
    static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot, library_class_key));
  }
}

}  // namespace plg
