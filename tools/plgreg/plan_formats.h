// A plan's changes written out for people and installers: as a registry
// file, as a WiX v4 fragment, or as JSON.
#pragma once

#include <string>
#include <vector>

#include "tools/plgreg/registry_diff.h"

namespace plg::tool {

// What a plan is about, for the formats that say so.
struct PlanHeader {
  std::string step;         // "register" or "unregister"
  std::string module_path;  // single-byte text
  std::vector<std::string> messages;  // what the run would have shown
};

// The .reg file that makes the changes (REGEDIT5 is UTF-16LE, as reg export
// writes; REGEDIT4 single-byte).
std::string FormatPlanAsReg(const std::vector<RegistryChange>& changes,
                            RegFileFormat format);

// A WiX v4 fragment (UTF-8) with one RegistryKey per added key or key with
// written values, and its RegistryValue elements. Removals have no element;
// a comment counts them. Texts are escaped for the installer's formatted
// fields ("[" as "[\[]").
std::string FormatPlanAsWxs(const PlanHeader& header,
                            const std::vector<RegistryChange>& changes);

// JSON (UTF-8): the header and one object per change.
std::string FormatPlanAsJson(const PlanHeader& header,
                             const std::vector<RegistryChange>& changes);

// "REG_SZ", "REG_DWORD", ... or the type's number.
std::string TypeName(ValueType type);

}  // namespace plg::tool
