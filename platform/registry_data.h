// The bytes of REG_DWORD and REG_SZ data, written and read: one codec for
// the module's writes, the in-memory registry, the .reg files and the tools.
// Header only and free of exceptions, for the module's size-built code.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace plg {

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: the types whose data the ANSI
// calls treat as text (a terminating zero left out is counted, REGEDIT5
// files hold it as UTF-16).
constexpr bool IsStringType(ValueType type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// REG_DWORD: four bytes, little-endian.
constexpr std::array<std::uint8_t, 4> EncodeDword(std::uint32_t number) {
  return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
          static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}

// The number held in `data`; false when it is not four bytes long.
inline bool DecodeDword(const std::vector<std::uint8_t>& data, std::uint32_t* number) {
  if (data.size() != 4) return false;
  *number = data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  return true;
}

// REG_SZ: the text's bytes and one terminating zero.
inline std::vector<std::uint8_t> EncodeText(std::string_view text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

// The same bytes read in place: a std::string keeps a zero after its last
// character, so the data is its c_str() and this many bytes.
inline std::size_t TextDataSize(const std::string& text) { return text.size() + 1; }

// The text held in `data`; false when it is not one text: empty, no
// terminating zero, or a zero before it.
inline bool DecodeText(const std::vector<std::uint8_t>& data, std::string* text) {
  if (data.empty() || data.back() != 0) return false;
  if (std::find(data.begin(), data.end() - 1, 0) != data.end() - 1) return false;
  text->assign(data.begin(), data.end() - 1);
  return true;
}

}  // namespace plg
