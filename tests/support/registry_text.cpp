#include "tests/support/registry_text.h"

#include <cstdio>

namespace plg::testing {

std::string DescribeValue(ValueType type, const std::vector<std::uint8_t>& data) {
  if (type == kRegSz && !data.empty() && data.back() == 0) {
    const std::string text(data.begin(), data.end() - 1);
    if (text.find('\0') == std::string::npos) return "\"" + text + "\"";
  }
  char buffer[32];
  if (type == kRegDword && data.size() == 4) {
    const unsigned number = data[0] | data[1] << 8 | data[2] << 16 |
                            static_cast<unsigned>(data[3]) << 24;
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    return buffer;
  }
  std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(type));
  std::string text = buffer;
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : ",%02x", data[i]);
    text += buffer;
  }
  return text;
}

std::vector<std::string> DescribeTree(const MemoryRegistry& registry,
                                      std::string_view path) {
  std::vector<std::string> lines;
  for (const RegEntry& entry : registry.Snapshot(path)) {
    if (!entry.is_value) {
      lines.push_back("[" + entry.key + "]");
      continue;
    }
    const std::string name = entry.name.empty() ? "@" : "\"" + entry.name + "\"";
    lines.push_back(name + "=" + DescribeValue(entry.type, entry.data));
  }
  return lines;
}

}  // namespace plg::testing
