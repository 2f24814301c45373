// What registration code reaches of the machine: the registry, the message
// box and the module's string table. The DLL hands its steps the Win32 forms;
// tests and tools hand them the in-memory registry, a message recorder and
// the compiled-in string table.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace plg {

// Shows error messages to the user and counts them.
class MessageReporter {
 public:
  virtual ~MessageReporter() = default;

  // Shows `text` in a modal error box and returns when it is closed.
  // `detail` says, for diagnostics only, which key and error led to it.
  void Show(const std::string& text, const std::string& detail = {});

  // Messages shown since construction or the last ResetCount.
  std::size_t shown() const { return shown_; }
  void ResetCount() { shown_ = 0; }

 protected:
  virtual void DoShow(const std::string& text, const std::string& detail) = 0;

 private:
  std::size_t shown_ = 0;
};

// Keeps every message in order, for tests and tools.
class RecordingReporter : public MessageReporter {
 public:
  const std::vector<std::string>& messages() const { return messages_; }
  const std::vector<std::string>& details() const { return details_; }
  void Clear() {
    messages_.clear();
    details_.clear();
    ResetCount();
  }

 protected:
  void DoShow(const std::string& text, const std::string& detail) override {
    messages_.push_back(text);
    details_.push_back(detail);
  }

 private:
  std::vector<std::string> messages_;
  std::vector<std::string> details_;
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
};

}  // namespace plg
