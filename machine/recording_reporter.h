// A message reporter and an event log that keep every message and event in
// order, for tests and tools.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace plg {

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

// One event as written.
struct RecordedEvent {
  std::string text;
  std::string key;
  RegStatus error = kSuccess;

  bool operator==(const RecordedEvent& other) const {
    return text == other.text && key == other.key && error == other.error;
  }
};

class RecordingEventLog : public EventLog {
 public:
  void WriteError(const std::string& text, const std::string& key, RegStatus error) override {
    events_.push_back({text, key, error});
  }
  const std::vector<RecordedEvent>& events() const { return events_; }

 private:
  std::vector<RecordedEvent> events_;
};

}  // namespace plg
