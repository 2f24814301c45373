#include "classes/file_suffixes.h"

#include "classes/class_texts.h"
#include "classes/registered_products.h"
#include "registry/registry_helpers.h"
#include "resources/product_strings.h"

namespace plg {

namespace {

// Creates `path` and writes `text` as its default value. A null
// `key_message` means a key that cannot be created is skipped silently.
void WriteDefaultValue(Platform& platform, const std::string& path, const std::string& text,
                       const char* key_message, const char* value_message) {
  RegKey key;
  if (!CreateKeyOrReport(platform, RegistryRoot::kClassesRoot, path, key_message, &key)) {
    return;
  }
  SetRegistryStringOrReport(platform, key, "", text, value_message);
}

// "." and the extension; empty when the extension is missing, so that the
// registry layer refuses the key instead of writing HKEY_CLASSES_ROOT\".".
std::string SuffixOf(const std::string& extension) {
  return extension.empty() ? std::string() : "." + extension;
}

}  // namespace

void RegisterFileSuffixes(Platform& platform, RegistrationMode mode) {
  const std::string document_suffix = SuffixOf(LoadProductString(platform, kDocumentExtension));
  const std::string library_suffix = SuffixOf(LoadProductString(platform, kLibraryExtension));

  if (mode == kRegister) {
    WriteDefaultValue(platform, document_suffix, LoadProductString(platform, kLanguageProgId),
                      kDocumentSuffixMessage, kDocumentSuffixMessage);
    WriteDefaultValue(platform, library_suffix, LoadProductString(platform, kLibraryProgId),
                      "Unable to create Library document suffix entry",
                      "Unable to create Library document suffix entry");
    return;
  }

  if (!IsProductVersionCurrent(platform)) return;
  static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot, document_suffix));
  // Every product of the shared system opens its model libraries through
  // this suffix; it goes with the last of them.
  if (NoProductRegistered(platform)) {
    static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot, library_suffix));
  }
}

void RegisterLibraryClass(Platform& platform, RegistrationMode mode) {
  const std::string prog_id = LoadProductString(platform, kLibraryProgId);

  if (mode == kRegister) {
    WriteDefaultValue(platform, prog_id + "\\CLSID", LoadProductString(platform, kLibraryClassId),
                      kInsertableKeyMessage, "Unable to create library document class id");
    WriteDefaultValue(platform, prog_id, LoadProductString(platform, kLibraryFriendlyName), nullptr,
                      "Unable to assign value to library class name");
    return;
  }

  // Shared by every product of the shared system, like the library suffix.
  if (!NoProductRegistered(platform)) return;
  if (IsProductVersionCurrent(platform)) {
    static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot, prog_id));
  }
}

}  // namespace plg
