#include "platform/platform.h"

namespace plg {

void MessageReporter::Show(const std::string& text, const std::string& detail) {
  ++shown_;
  DoShow(text, detail);
}

}  // namespace plg
