// The plgreg command line: parses the arguments, runs the subcommand and
// writes its output, so that tests can run the whole program in-process.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "machine/memory_registry.h"

namespace plg::tool {

// Exit codes of the program.
inline constexpr int kExitOk = 0;
// plan: the run showed messages; verify: the machine is not fully registered.
inline constexpr int kExitFindings = 1;
// A usage error, or a machine image that cannot be read.
inline constexpr int kExitUsage = 2;
// An internal error: a failure that neither the arguments nor the machine
// image explain, such as memory running out ("plgreg: internal error: ...").
inline constexpr int kExitInternal = 3;

// Where plgreg gets the machine image that --machine names. Given the
// option's value ("" when it is not given), returns the machine, or nullptr
// with `error` set to one line naming the image when it cannot be read (a
// usage error). main() passes LoadMachineImage; the tests hand in machines
// they prepared, faults injected, through the same seam. (verify on Windows
// without --machine reads the live registry instead.)
using MachineLoader =
    std::function<std::unique_ptr<MemoryRegistry>(const std::string& image, std::string* error)>;

// The program's loader: the .reg file `image`, or the built-in machine for "".
std::unique_ptr<MemoryRegistry> LoadMachineImage(const std::string& image, std::string* error);

// Runs plgreg with `args` (without the program name) on the machines that
// `load_machine` gives. Output goes to `out` (binary: .reg output may be
// UTF-16), messages and errors to `err`, one a line. Returns the exit code.
int RunPlgreg(std::vector<std::string> args, std::ostream& out, std::ostream& err,
              const MachineLoader& load_machine);

}  // namespace plg::tool
