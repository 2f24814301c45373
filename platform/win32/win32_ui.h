// The message box and the string table of a Windows module.
#pragma once

#include <windows.h>

#include "platform/platform.h"

namespace plg {

// Writes each message with its detail (the key and the Win32 error) to
// OutputDebugStringA, for debuggers and log viewers, and shows nothing: for
// callers that nobody watches.
class DebugOutputReporter : public MessageReporter {
 protected:
  void DoShow(const std::string& text, const std::string& detail) override;
};

// As DebugOutputReporter, then MessageBoxExA with no owner, caption
// "Registration Error", style MB_ICONERROR | MB_SETFOREGROUND and the system
// default language; returns when the box is closed.
class MessageBoxReporter : public DebugOutputReporter {
 protected:
  void DoShow(const std::string& text, const std::string& detail) override;
};

// The event messages of resources/plgproduct_events.mc.
inline constexpr DWORD kEventMessage = 1000;                 // %1: the message
inline constexpr DWORD kEventMessageWithKey = 1001;          // and %2: the key
inline constexpr DWORD kEventMessageWithKeyAndError = 1002;  // and %3, %4: the error, its text

// Writes each error event to the Application log from the source `source`
// (RegisterEventSourceW, ReportEventW, DeregisterEventSource): the message,
// the key and the Win32 error with its system text as inserts. Does nothing
// until an event is written, and nothing when the log cannot be reached.
class Win32EventLog : public EventLog {
 public:
  explicit Win32EventLog(const wchar_t* source) : source_(source) {}
  void WriteError(const std::string& text, const std::string& key, RegStatus error) override;

 private:
  const wchar_t* source_;
};

// Whether the calling process's window station is interactive (WSF_VISIBLE):
// false for a service's or session 0's, where a box is never seen and never
// closed, and when the station cannot be asked.
bool IsInteractiveWindowStation();

// Whether the calling process runs in session 0 (ProcessIdToSessionId), where
// services run; also true when the session cannot be asked.
bool IsSessionZero();

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
