// The live registry's keys that registration reads and writes, copied into
// an in-memory image, and the module beside the program. Windows builds only.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "machine/memory_registry.h"

namespace plg::tool {

// A key of the live registry that exists but cannot be read: whatever the
// comparison said would be a guess. One line naming the key and the error.
class UnreadableMachine : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Copies each key of `paths` (full paths under HKEY_LOCAL_MACHINE or
// HKEY_CLASSES_ROOT), with everything beneath it, from the registry this
// process sees; keys that are missing are left out, a key that cannot be
// opened for another reason throws UnreadableMachine. 32-bit view keys are
// read through their SOFTWARE\Wow6432Node paths. The image, like Windows,
// limits key names and not paths.
std::unique_ptr<MemoryRegistry> ReadLiveMachine(const std::vector<std::string>& paths);

// The full path of the plgproduct.dll in this program's folder, whether or
// not the file is there; nothing when the program's own path is unknown.
std::optional<std::string> ModuleBesideProgram();

// Whether a file (not a folder) is at `path`.
bool FileExists(const std::string& path);

}  // namespace plg::tool
