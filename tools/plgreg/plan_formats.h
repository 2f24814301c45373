// A plan's changes written out for people and installers: as a registry
// file, as a WiX v3 fragment, or as JSON.
#pragma once

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

// The .reg file that makes the changes (REGEDIT5 is UTF-16LE, as reg export
// writes; REGEDIT4 single-byte).
std::string FormatPlanAsReg(const std::vector<RegistryChange>& changes, RegFileFormat format);

// What a package's fragment writes in place of the plan machine's texts.
struct WxsSubstitutions {
  // The module's File id: the module path becomes "[#file_id]".
  std::string file_id = "plgproduct.dll";
  // The shared system's directories (bin, help, lib) as the plan machine
  // stores them; each becomes its property, which a RegistrySearch fills at
  // installation. Empty texts are not substituted.
  std::string bin, help, lib;
  // Keys whose path starts with this text keep the plan machine's texts:
  // the release Open verbs, under "Pellagor Language\shell\Open Pellagor ".
  std::string snapshot_prefix;
};

// A WiX v3 fragment (UTF-8), as msitools' wixl compiles it into a package
// together with a product that installs the module with File id
// `substitutions.file_id`: a Property with a RegistrySearch for each
// directory, and a 64-bit component with one RegistryKey per added key or
// key with written values, and its RegistryValue elements. Removals have no
// element; a comment counts them. Texts are escaped for the installer's
// formatted fields ("[" as "[\[]"), then the module path and the
// directories are replaced by their formatted references. `dir_key` is the
// shared system's Dir key beneath HKLM.
std::string FormatPlanAsWxs(const PlanHeader& header, const std::vector<RegistryChange>& changes,
                            const WxsSubstitutions& substitutions, const std::string& dir_key);

// JSON (UTF-8): the header and one object per change.
std::string FormatPlanAsJson(const PlanHeader& header, const std::vector<RegistryChange>& changes);

// verify's result as JSON (UTF-8): "state" ("registered" or "not
// registered"), the "missing", "different" and "left_over" entries (each
// with "key", and "name" and "value" for a value; "now" for a different
// one), and the "messages" a registration would show.
std::string FormatVerifyAsJson(const VerifyResult& result);

// "REG_SZ", "REG_DWORD", ... or the type's number.
std::string TypeName(ValueType type);

}  // namespace plg::tool
