#include "tests/support/registry_text.h"

#include <cstdio>

#include "platform/registry_data.h"

namespace plg::testing {

std::string DescribeValue(ValueType type, const std::vector<std::uint8_t>& data) {
  std::string plain;
  if (type == kRegSz && DecodeText(data, &plain)) return "\"" + plain + "\"";
  char buffer[32];
  std::uint32_t number = 0;
  if (type == kRegDword && DecodeDword(data, &number)) {
    std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(number));
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

std::vector<std::string> DescribeTree(const MemoryRegistry& registry, std::string_view path) {
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
