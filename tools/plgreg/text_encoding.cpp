#include "tools/plgreg/text_encoding.h"

#include "platform/registry_names.h"

namespace plg::tool {

std::string AnsiToUtf8(std::string_view text) {
  std::string utf8;
  for (char16_t c : AnsiToUtf16(text)) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | c >> 6);
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xE0 | c >> 12);
      utf8 += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

std::optional<std::string> Utf8ToAnsi(std::string_view text) {
  std::u16string wide;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 0;
    // Code page 1252 has nothing beyond the Basic Multilingual Plane.
    if (length == 0 || i + length > text.size()) return std::nullopt;
    char32_t c = length == 1 ? lead : length == 2 ? (lead & 0x1F) : (lead & 0x0F);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next >> 6) != 0x2) return std::nullopt;
      c = c << 6 | (next & 0x3F);
    }
    if ((length == 2 && c < 0x80) || (length == 3 && c < 0x800)) return std::nullopt;
    wide += static_cast<char16_t>(c);
    i += length;
  }
  std::string narrow;
  if (!Utf16ToAnsiExactly(wide, &narrow)) return std::nullopt;
  return narrow;
}

}  // namespace plg::tool
