// What registration code reaches of the machine: the registry, the message
// box, the event log and the module's string table. The DLL hands its steps the Win32 forms;
// tests and tools hand them the in-memory forms in machine/.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/registry.h"

namespace plg {

// Delivers error messages (a box the user closes, the debug output, an
// installer's log) and counts them.
class MessageReporter {
 public:
  virtual ~MessageReporter() = default;

  // Delivers `text`; a box returns when it is closed. `detail` says, for
  // diagnostics only, which key and error led to it.
  void Show(const std::string& text, const std::string& detail = {});

  // Messages shown since construction or the last ResetCount.
  std::size_t shown() const { return shown_; }
  void ResetCount() { shown_ = 0; }

 protected:
  virtual void DoShow(const std::string& text, const std::string& detail) = 0;

 private:
  std::size_t shown_ = 0;
};

// The Application event log, where administrators and fleet tools look for
// what went wrong on a machine nobody watched.
class EventLog {
 public:
  virtual ~EventLog() = default;

  // Writes one error event from the module's event source: the message
  // `text`, the key it concerns (empty when none) and the Win32 error
  // (kSuccess when none).
  virtual void WriteError(const std::string& text, const std::string& key, RegStatus error) = 0;
};

// The module's string table.
class StringSource {
 public:
  virtual ~StringSource() = default;
  // The text of string `id` as single-byte text, or nothing when the module
  // has no such string.
  virtual std::optional<std::string> Load(unsigned id) const = 0;
};

struct Platform {
  Registry& registry;
  MessageReporter& reporter;
  const StringSource& strings;
  EventLog& events;
};

}  // namespace plg
