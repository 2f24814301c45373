// A plan's changes written out for people and installers: as a registry
// file, as a WiX v3 fragment, or as JSON.
#pragma once

#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/plgreg/plan.h"
#include "tools/plgreg/registry_diff.h"

namespace plg::tool {

// What a plan is about, for the formats that say so.
struct PlanHeader {
  std::string step;                   // "register" or "unregister"
  std::string module_path;            // single-byte text
  std::vector<std::string> messages;  // what the run would have shown
};

// A text that a format cannot carry faithfully: one line naming the key.
class RefusedText : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws RefusedText when a key or value name of `changes` holds a control
// character (below U+0020, line breaks and tabs included): in a plan such a
// name could open a section of its own.
void RefuseControlCharacterNames(const std::vector<RegistryChange>& changes);

// `text` with each control character written as \n, \r, \t or \xNN (DEL and
// the bytes that code page 1252 leaves undefined as \xNN too).
std::string Printable(const std::string& text);

// Whether `id` is a WiX identifier: a letter or underscore, then letters,
// digits, underscores and dots, at most 72 characters.
bool IsWixIdentifier(const std::string& id);

// The .reg file that makes the changes (REGEDIT5 is UTF-16LE, as reg export
// writes; REGEDIT4 single-byte).
std::string FormatPlanAsReg(const std::vector<RegistryChange>& changes, RegFileFormat format);

// The shared system's directories that the fragment reads at installation,
// in this order: the Dir values "bin", "help" and "lib".
inline constexpr const char* kFragmentDirectories[] = {"bin", "help", "lib"};

// What a package's fragment writes in place of the plan machine's texts.
struct WxsSubstitutions {
  // The module's File id: the module path becomes "[#file_id]".
  std::string file_id = "plgproduct.dll";
  // Marks that stand, in the changes' texts, where the registration used the
  // module path and each directory of kFragmentDirectories: the module path
  // becomes "[#file_id]", a directory its property ("[KELSYS_BIN]"), which a
  // RegistrySearch fills at installation. Empty marks stand for nothing.
  std::string module_mark;
  std::string directory_marks[std::size(kFragmentDirectories)];
};

// A WiX v3 fragment (UTF-8), as msitools' wixl compiles it into a package
// together with a product that installs the module with File id
// `substitutions.file_id`: a Property with a RegistrySearch for each
// directory, a launch condition that the shared system's bin directory was
// found as text, and two 64-bit components of RegistryKey and RegistryValue
// elements: the product's own entries, and the entries every product of the
// shared system shares, which stay (Permanent). Each component's KeyPath is
// a value of the product's own and its GUID a name-based UUID of its
// contents. Removals have no element; a comment counts them. Texts are
// escaped for XML and the installer's formatted fields ("[" as "[\[]", "{"
// as "[\{]"), the marks written as their references. Throws RefusedText for
// a text that XML cannot hold. `dir_key` is the shared system's Dir key
// beneath HKLM.
std::string FormatPlanAsWxs(const PlanHeader& header, const std::vector<RegistryChange>& changes,
                            const WxsSubstitutions& substitutions, const std::string& dir_key);

// JSON (UTF-8): the header and one object per change.
std::string FormatPlanAsJson(const PlanHeader& header, const std::vector<RegistryChange>& changes);

// verify's result as JSON (UTF-8), in this order: "schema" (2), "plgreg"
// (`version`), "module_path", "module_file" (null when not checked, else
// "present", and "problem" or "product_name" and "file_version"), "state"
// (StateName), "current", "current_version" (the other version that is
// current, or null), the "missing",
// "different" and "left_over" entries (each with "key", and "name" and
// "value" for a value; "now" for a different one), and the "messages" a
// registration would show.
std::string FormatVerifyAsJson(const VerifyResult& result, const std::string& module_path,
                               const std::string& version);

// "REG_SZ", "REG_DWORD", ... or the type's number.
std::string TypeName(ValueType type);

}  // namespace plg::tool
