// Single-byte registry text (code page 1252) to and from UTF-8, for JSON, XML
// and a Linux command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plg::tool {

// UTF-8 for single-byte text.
std::string AnsiToUtf8(std::string_view text);

// Single-byte text for UTF-8, or nothing when `text` is not UTF-8 or has
// characters outside code page 1252.
std::optional<std::string> Utf8ToAnsi(std::string_view text);

}  // namespace plg::tool
