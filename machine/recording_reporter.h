// A message reporter that keeps every message in order, for tests and tools.
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

}  // namespace plg
