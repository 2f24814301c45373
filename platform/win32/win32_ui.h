// The message box and the string table of a Windows module.
#pragma once

#include <windows.h>

#include "platform/platform.h"

namespace plg {

// MessageBoxExA with no owner, caption "Registration Error", style
// MB_ICONERROR | MB_SETFOREGROUND and the system default language. The
// detail goes to OutputDebugStringA, for debuggers and log viewers.
class MessageBoxReporter : public MessageReporter {
 protected:
  void DoShow(const std::string& text, const std::string& detail) override;
};

// The string table of `module`, read as stored (UTF-16) and converted to the
// ANSI code page, whatever its length.
class ModuleStrings : public StringSource {
 public:
  explicit ModuleStrings(HINSTANCE module) : module_(module) {}
  std::optional<std::string> Load(unsigned id) const override;

 private:
  HINSTANCE module_;
};

}  // namespace plg
