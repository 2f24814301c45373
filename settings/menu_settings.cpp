#include "settings/menu_settings.h"

#include <iterator>
#include <string>

#include "registry/registry_helpers.h"
#include "registry/registry_paths.h"
#include "resources/product_strings.h"

namespace plg {

namespace {

// Help menu lines "2" to "8"; "0" and "1" name the help files.
constexpr const char* kFixedHelpLines[] = {
    "CONTEXTHELPMODE,&What's This?\tShift+F1,Enter context help mode",
    "SEPARATOR",
    ("QVSTRAINING,&Product Support on the Web,Support,Display product support information on the "
     "Web"),
    "QVSTRAINING,&Training,Training,Display training information",
    "QVSTRAINING,&Documentation,Documentation,Display online documentation",
    "SEPARATOR",
    "ABOUT,&About Pellagor",
};

// The directory is used as stored, so one ending in a backslash gives two.
std::string HelpFile(Platform& platform, const std::string& file_name) {
  return GetInstallDirectory(platform, InstallDirectory::kHelp) + "\\" + file_name;
}

}  // namespace

void RegisterMenuEdits(Platform& platform, RegistrationMode mode, const char* const* rows,
                       int count) {
  if (mode == kUnregister) return;
  RegKey key;
  if (!CreateProductVersionKeyOrReport(platform, kSoftwareKey, "Menus\\Customization",
                                       "Unable to create menu customization key", &key)) {
    return;
  }
  for (int i = 0; i < count; ++i) {
    // "0000", "0001", ...: four digits at least.
    std::string name = std::to_string(i);
    if (name.size() < 4) name.insert(0, 4 - name.size(), '0');
    // A row the host does not get only leaves its menu item as it was; the
    // other rows still apply, and the user is not bothered.
    static_cast<void>(SetRegistryString(platform, key, name, rows[i]));
  }
}

void RegisterHelpMenu(Platform& platform, RegistrationMode mode) {
  if (mode == kUnregister) return;
  RegKey key;
  if (!CreateProductVersionKeyOrReport(platform, kSoftwareKey, "Menus\\Help",
                                       "Unable to create Menu Help key", &key)) {
    return;
  }
  const std::string product_help = LoadProductString(platform, kProductHelpFile);
  const std::string host_help = LoadProductString(platform, kHostHelpFile);

  // A line the host does not get is only missing from its Help menu; the
  // other lines still apply, and the user is not bothered.
  static_cast<void>(SetRegistryString(
      platform, key, "0",
      "WINHELP,Pe&llagor Contents," + HelpFile(platform, product_help) + ",Display help topics"));
  static_cast<void>(SetRegistryString(platform, key, "1",
                                      "WINHELP,&Brixcel Contents," + HelpFile(platform, host_help) +
                                          ",Display Brixcel help topics"));
  for (std::size_t i = 0; i < std::size(kFixedHelpLines); ++i) {
    static_cast<void>(SetRegistryString(platform, key, std::to_string(i + 2), kFixedHelpLines[i]));
  }
}

}  // namespace plg
