// The plgreg command line: parses the arguments, runs the subcommand and
// writes its output, so that tests can run the whole program in-process.
#pragma once

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

// Runs plgreg with `args` (without the program name). Output goes to `out`
// (binary: .reg output may be UTF-16), messages and errors to `err`, one a
// line. Returns the exit code. `faults` are injected into the registration
// runs of plan, for tests of runs that show messages.
int RunPlgreg(std::vector<std::string> args, std::ostream& out, std::ostream& err,
              const std::vector<RegFault>& faults = {});

}  // namespace plg::tool
