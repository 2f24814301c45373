#include "classes/version_open_verbs.h"

#include <optional>

#include "classes/class_texts.h"
#include "registry/registry_helpers.h"
#include "registry/registry_paths.h"
#include "resources/product_strings.h"

namespace plg {

namespace {

// The enumeration buffer, terminating zero included; a longer version name
// is skipped.
constexpr std::size_t kVersionNameCapacity = 100;
// The Bin buffer, terminating zero included; longer data is skipped.
constexpr std::size_t kBinCapacity = 1024;

// The label RemoveVersionOpenVerbs removes: fixed, not derived from a release.
constexpr char kRemovedReleaseLabel[] = "V12";

// One registry view's keys: where the shared system keeps its releases and
// where the product keeps its registered versions.
struct ViewKeys {
  std::string shared_system_key;
  std::string product_key;
};

// The single-byte form of a version name: each character's byte. The ANSI
// calls read that byte back in the system's code page (GetACP), so a name
// that does not come back the same from it (a character beyond U+00FF, or
// one the code page holds elsewhere: U+0080 to U+009F in 1252, "38.\u00E9",
// which is "38.\u0439" in 1251) would name another release's key; such a
// name gives no version at all.
std::optional<std::string> VersionNameOf(const Registry& registry, const std::u16string& wide) {
  std::u16string kept;
  std::string name;
  for (char16_t c : wide) {
    if (c == 0) continue;
    if (c > 0xFF) return std::nullopt;
    kept += c;
    name += static_cast<char>(c);
  }
  if (registry.WideNameOf(name) != kept) return std::nullopt;
  return name;
}

// The value's bytes with every zero dropped, so that UTF-16 or binary data
// still reads as a path.
std::string BinTextOf(const RegValue& value) {
  std::string text;
  for (std::uint8_t byte : value.data) {
    if (byte != 0) text += static_cast<char>(byte);
  }
  return text;
}

// The text between the first space after the shared system's name and the
// first backslash after that space ("...\Kelsys V12\bin\" -> "V12"): the
// release's folder is named after the system and its label. Empty when
// either is missing.
std::string ReleaseLabelOf(const std::string& bin_text) {
  const std::size_t word = bin_text.find(kSharedSystemName);
  if (word == std::string::npos) return {};
  const std::size_t space = bin_text.find(' ', word);
  if (space == std::string::npos) return {};
  const std::size_t backslash = bin_text.find('\\', space);
  if (backslash == std::string::npos) return {};
  return bin_text.substr(space + 1, backslash - space - 1);
}

// The Bin text of `version` beneath the open shared system key, or nothing
// when the release, its Dir key or a usable Bin value is missing.
std::optional<std::string> ReadReleaseBin(Platform& platform, const RegKey& shared_system,
                                          const std::string& version) {
  Registry& registry = platform.registry;
  RegKey release;
  if (registry.OpenKey(shared_system, version, kMaximumAllowed, &release) != kSuccess) {
    return std::nullopt;
  }
  // The product key's CurVer names the current version; it is no release.
  if (version == "CurVer") return std::nullopt;
  RegKey dir;
  if (registry.OpenKey(release, "Dir", kMaximumAllowed, &dir) != kSuccess) {
    return std::nullopt;
  }
  RegValue bin;
  if (registry.QueryValue(dir, "Bin", kBinCapacity, &bin) != kSuccess) {
    return std::nullopt;
  }
  std::string text = BinTextOf(bin);
  if (text.find(kSharedSystemName) == std::string::npos) return std::nullopt;
  // A quote would end the quoted executable path early and the verb's name
  // would carry it: such a release gives no verb.
  if (text.find('"') != std::string::npos) return std::nullopt;
  return text;
}

void WriteVerb(Platform& platform, const std::string& shell_key_path,
               const std::string& display_name, const std::string& product_key,
               const std::string& bin_text) {
  const std::string verb = VersionVerbName(display_name, ReleaseLabelOf(bin_text));
  const std::string command_line =
      QuotedExecutablePath(bin_text, kHostExecutableName) + " /" + product_key + " \"%1\"";
  RegKey command;
  if (!CreateKeyOrReport(platform, RegistryRoot::kClassesRoot, shell_key_path + verb + "\\command",
                         nullptr, &command)) {
    return;
  }
  SetRegistryStringOrReport(platform, command, "", command_line, kShellEntryMessage);
}

std::uint32_t SubkeyCount(Platform& platform, const RegKey& key) {
  KeyInfo info;
  if (!key.valid() || platform.registry.QueryInfo(key, &info) != kSuccess) return 0;
  return info.subkeys;
}

void AddViewVerbs(Platform& platform, const ViewKeys& view, const std::string& shell_key_path,
                  const std::string& display_name, const std::string& product_key) {
  Registry& registry = platform.registry;
  RegKey shared_system;
  RegKey product;
  static_cast<void>(registry.OpenKey(RegKey::LocalMachine(), view.shared_system_key,
                                     kMaximumAllowed, &shared_system));
  static_cast<void>(
      registry.OpenKey(RegKey::LocalMachine(), view.product_key, kMaximumAllowed, &product));
  const std::uint32_t releases = SubkeyCount(platform, shared_system);
  const std::uint32_t versions = SubkeyCount(platform, product);
  if (releases == 0 || versions == 0) return;
  for (std::uint32_t index = 0; index < versions; ++index) {
    std::u16string wide;
    if (registry.EnumKeyW(product, index, kVersionNameCapacity, &wide) != kSuccess) {
      continue;
    }
    const std::optional<std::string> version = VersionNameOf(registry, wide);
    if (!version) continue;
    const std::optional<std::string> bin_text = ReadReleaseBin(platform, shared_system, *version);
    if (!bin_text) continue;
    WriteVerb(platform, shell_key_path, display_name, product_key, *bin_text);
  }
}

}  // namespace

void AddVersionOpenVerbs(Platform& platform, std::string shell_key_path) {
  const std::string product_key = LoadProductString(platform, kProductKey);
  const std::string product_name = LoadProductString(platform, kProductName);
  const std::string display_name = LoadProductString(platform, kDisplayName);
  // The 32-bit view first, so that a release registered in both views ends
  // up with the native view's command line.
  for (const RegistryView view : {RegistryView::k32Bit, RegistryView::kNative}) {
    AddViewVerbs(platform, {GetReleasesKeyPath(view), GetProductViewKeyPath(view, product_name)},
                 shell_key_path, display_name, product_key);
  }
}

std::string VersionVerbName(const std::string& display_name, const std::string& label) {
  return "Open " + display_name + " " + label;
}

std::string VersionVerbKeyPath(const Platform& platform, const std::string& label) {
  return LoadProductString(platform, kLanguageProgId) + "\\shell\\" +
         VersionVerbName(LoadProductString(platform, kDisplayName), label);
}

void RemoveVersionOpenVerbs(Platform& platform) {
  static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot,
                                       VersionVerbKeyPath(platform, kRemovedReleaseLabel)));
}

}  // namespace plg
