// What DllInstall's command line asks for, and where a run's messages go.
#pragma once

#include <optional>

namespace plg {

struct InstallOptions {
  // Register or unregister without showing anything: every message goes to
  // the debug output, and the result tells whether there were any.
  bool quiet = false;
};

// Reads DllInstall's command line: options separated by commas or blanks,
// compared without regard to case; "quiet" is the only one. A null or empty
// line gives the defaults. Nothing when an option is unknown.
std::optional<InstallOptions> ParseInstallCommandLine(const wchar_t* command_line);

enum class MessageDelivery {
  kMessageBox,   // the modal "Registration Error" box, and the debug output
  kDebugOutput,  // the debug output only
};

// A box only where someone can close it: never in quiet mode, never on a
// window station that is not interactive (a service's), never in session 0,
// whatever its window station reports (services, and programs started there,
// share it with nobody who could see a box), and never from a thread whose
// desktop is not its station's input desktop (a deployment agent's desktop
// of its own, or a locked workstation's): nobody sees that desktop.
MessageDelivery ChooseMessageDelivery(bool quiet, bool interactive_station, bool session_zero,
                                      bool input_desktop);

}  // namespace plg
