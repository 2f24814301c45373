#include "classes/document_class.h"

#include "classes/class_texts.h"
#include "classes/version_open_verbs.h"
#include "registry/registry_helpers.h"
#include "registry/text_rules.h"
#include "resources/product_strings.h"

namespace plg {

namespace {

// One shell command: the verb's command subkey, relative to the shell key,
// and its command line. A null command line is the Open command, which
// depends on where the host is installed and is built at each registration.
struct DocumentCommand {
  const char* subkey;
  const char* command_line;
};

constexpr DocumentCommand kDocumentCommandTable[] = {
    {"Open\\command", nullptr},
    {"Edit\\command", "notepad.exe %1"},
};

// "<bin>\<host>.exe" in quotes, the product switch when the host is the
// shared modeller, then the quoted document placeholder.
std::string BuildOpenCommandLine(Platform& platform) {
  const std::string bin = GetInstallDirectory(platform, InstallDirectory::kBin);
  const std::string executable = LoadProductString(platform, kHostExecutable);
  std::string line = QuotedExecutablePath(bin + "\\", executable);
  if (EqualsIgnoringCase(executable, kHostExecutableName)) {
    line += " /" + LoadProductString(platform, kProductKey);
  }
  line += " \"%1\"";
  return line;
}

// Creates `path` and writes `text` as its value `value_name`; a key failure
// and a value failure each show their own message.
void WriteRow(Platform& platform, const std::string& path, const char* value_name,
              const std::string& text, const char* key_message, const char* value_message) {
  RegKey key;
  if (!CreateKeyOrReport(platform, RegistryRoot::kClassesRoot, path, key_message, &key)) {
    return;
  }
  SetRegistryStringOrReport(platform, key, value_name, text, value_message);
}

// Everything beneath the ProgID that only makes sense once its class
// identifier is in place: icon, application, Insertable marker, version verbs
// and shell commands.
void WriteDocumentEntries(Platform& platform, const std::string& prog_id,
                          const std::string& module_path, const std::string& open_command) {
  WriteRow(platform, prog_id + "\\DefaultIcon", "", module_path + ",1",
           "Unable to create document Default Icon", "Unable to create document Default Icon");
  WriteRow(platform, prog_id + "\\Application", "ApplicationName",
           LoadProductString(platform, kDisplayName) + " V12",
           "Unable to create document Application", "Unable to create document Application");
  {
    RegKey insertable;
    static_cast<void>(CreateKeyOrReport(platform, RegistryRoot::kClassesRoot,
                                        prog_id + "\\Insertable", kInsertableKeyMessage,
                                        &insertable));
  }

  const std::string shell_key_path = prog_id + "\\shell\\";
  AddVersionOpenVerbs(platform, shell_key_path);

  for (const DocumentCommand& row : kDocumentCommandTable) {
    const std::string command = row.command_line != nullptr ? row.command_line : open_command;
    WriteRow(platform, shell_key_path + row.subkey, "", command, "Error creating shell key",
             kShellEntryMessage);
  }
}

void Register(Platform& platform, const std::string& module_path) {
  const std::string prog_id = LoadProductString(platform, kLanguageProgId);
  const std::string class_id = LoadProductString(platform, kLanguageClassId);
  const std::string open_command = BuildOpenCommandLine(platform);

  // Verbs of releases uninstalled since the last registration must not
  // survive it.
  static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot, prog_id));

  {
    RegKey class_key;
    if (CreateKeyOrReport(platform, RegistryRoot::kClassesRoot, prog_id + "\\CLSID",
                          "Error creating document key", &class_key)) {
      SetRegistryStringOrReport(platform, class_key, "", class_id,
                                "Unable to create document class id");
      // The class identifier's key stays open until the shell commands are
      // written.
      WriteDocumentEntries(platform, prog_id, module_path, open_command);
    }
  }

  RegKey prog_id_key;
  if (!CreateKeyOrReport(platform, RegistryRoot::kClassesRoot, prog_id, nullptr, &prog_id_key)) {
    return;
  }
  SetRegistryStringOrReport(platform, prog_id_key, "",
                            LoadProductString(platform, kLanguageFriendlyName),
                            "Unable to assign value to document class name");
}

}  // namespace

void RegisterDocumentClass(Platform& platform, RegistrationMode mode,
                           const std::string& module_path) {
  if (mode == kRegister) {
    Register(platform, module_path);
    return;
  }
  const std::string prog_id = LoadProductString(platform, kLanguageProgId);
  if (IsProductVersionCurrent(platform)) {
    static_cast<void>(DeleteRegistryTree(platform, RegistryRoot::kClassesRoot, prog_id));
  }
}

}  // namespace plg
