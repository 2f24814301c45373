#include "machine/reg_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <utility>

#include "platform/registry_data.h"

namespace plg {

namespace {

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";

// Hex data lines break once they reach this many columns, as reg export
// breaks them.
constexpr std::size_t kHexWrapColumn = 77;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; }

std::u16string_view TrimLeft(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::u16string_view TrimRight(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::u16string_view Trim(std::u16string_view text) { return TrimRight(TrimLeft(text)); }

char16_t AsciiUpper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiUpper(text[i]) != AsciiUpper(prefix[i])) return false;
  }
  return true;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Parses 1 to `max_digits` hex digits, the whole of `text`.
bool ParseHexNumber(std::u16string_view text, std::size_t max_digits, std::uint32_t* number) {
  if (text.empty() || text.size() > max_digits) return false;
  std::uint32_t result = 0;
  for (char16_t c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    result = result << 4 | static_cast<std::uint32_t>(digit);
  }
  *number = result;
  return true;
}

std::string Printable(std::u16string_view text) { return Utf16ToAnsi(text); }

// Removing one of these would take HKEY_CLASSES_ROOT or a whole root with it.
bool IsProtectedKey(std::string_view path) {
  const std::u16string canonical = CanonicalKeyPath(path);
  return canonical == u"HKEY_LOCAL_MACHINE" || canonical == u"HKEY_LOCAL_MACHINE\\SOFTWARE" ||
         canonical == u"HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES";
}

class Parser {
 public:
  Parser(std::string_view file_name, RegFileError* error) : file_name_(file_name), error_(error) {}

  bool Run(std::string_view bytes, RegFile* file) {
    std::u16string text;
    if (!Decode(bytes, &text)) return false;
    SplitLines(text);
    if (!ReadHeader(lines_.empty() ? std::u16string_view() : TrimRight(lines_[0]))) {
      return false;
    }
    for (std::size_t index = 1; index < lines_.size(); ++index) {
      if (!ReadLine(&index)) return false;
    }
    result_.keys.shrink_to_fit();
    *file = std::move(result_);
    return true;
  }

 private:
  bool Fail(std::size_t line, std::string message) {
    error_->file = file_name_;
    error_->line = line;
    error_->message = std::move(message);
    return false;
  }

  bool Decode(std::string_view bytes, std::u16string* text) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
      bytes.remove_prefix(2);
      if (bytes.size() % 2 != 0) {
        return Fail(0, "UTF-16 file with an odd number of bytes");
      }
      text->reserve(bytes.size() / 2);
      for (std::size_t i = 0; i < bytes.size(); i += 2) {
        text->push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              static_cast<unsigned char>(bytes[i + 1]) << 8));
      }
      return true;
    }
    if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
      return Fail(0,
                  "UTF-16 big-endian files are not supported; "
                  "save as UTF-16LE (REGEDIT5) or ANSI (REGEDIT4)");
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
      return Fail(0,
                  "UTF-8 files are not supported; "
                  "save as UTF-16LE (REGEDIT5) or ANSI (REGEDIT4)");
    }
    *text = AnsiToUtf16(bytes);
    return true;
  }

  void SplitLines(std::u16string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find(u'\n', start);
      if (end == std::u16string_view::npos) end = text.size();
      lines_.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  }

  bool ReadHeader(std::u16string_view line) {
    if (line == kHeader5) {
      result_.format = RegFileFormat::kRegedit5;
    } else if (line == kHeader4) {
      result_.format = RegFileFormat::kRegedit4;
    } else {
      return Fail(1, "not a registry file: the first line must be \"" + Printable(kHeader5) +
                         "\" or \"" + Printable(kHeader4) + "\"");
    }
    return true;
  }

  bool ReadLine(std::size_t* index) {
    const std::size_t number = *index + 1;
    const std::u16string_view line = Trim(lines_[*index]);
    if (line.empty() || line.front() == u';') return true;
    if (line.front() == u'[') return ReadKey(number, line);
    if (line.front() == u'@' || line.front() == u'"') return ReadValue(index, line);
    return Fail(number,
                "unexpected text; expected [KEY], a value line, a comment or "
                "a blank line");
  }

  bool ReadKey(std::size_t number, std::u16string_view line) {
    if (line.back() != u']') return Fail(number, "key line without a closing ']'");
    std::u16string_view inner = line.substr(1, line.size() - 2);
    RegFileKey key;
    if (!inner.empty() && inner.front() == u'-') {
      key.remove = true;
      inner.remove_prefix(1);
    }
    if (!ReadKeyPath(number, inner, &key.path)) return false;
    if (key.remove && IsProtectedKey(key.path)) {
      return Fail(number, "a root key cannot be removed: " + key.path);
    }
    result_.keys.push_back(std::move(key));
    return true;
  }

  bool ReadKeyPath(std::size_t number, std::u16string_view inner, std::string* path) {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    while (true) {
      const std::size_t end = inner.find(u'\\', start);
      parts.push_back(inner.substr(
          start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start));
      if (end == std::u16string_view::npos) break;
      start = end + 1;
    }
    if (!EqualsNoCase(parts[0], u"HKEY_LOCAL_MACHINE") &&
        !EqualsNoCase(parts[0], u"HKEY_CLASSES_ROOT")) {
      return Fail(number, "unsupported root key \"" + Printable(parts[0]) +
                              "\": a machine image holds HKEY_LOCAL_MACHINE and "
                              "HKEY_CLASSES_ROOT");
    }
    std::string full;
    for (std::u16string_view part : parts) {
      if (part.empty()) return Fail(number, "empty key name in \"" + Printable(inner) + "\"");
      if (part.size() > kMaxKeyNameLength) {
        return Fail(number, "key name longer than 256 characters");
      }
      std::string narrow;
      if (!Utf16ToAnsiExactly(part, &narrow)) {
        return Fail(number,
                    "key name \"" + Printable(part) + "\" has characters outside code page 1252");
      }
      if (!full.empty()) full += '\\';
      full += narrow;
    }
    *path = std::move(full);
    return true;
  }

  // Reads a quoted text starting at text[0] == '"'; `*rest` is what follows
  // the closing quote.
  bool ReadQuoted(std::size_t number, std::u16string_view text, std::u16string* out,
                  std::u16string_view* rest) {
    std::u16string result;
    for (std::size_t i = 1; i < text.size(); ++i) {
      const char16_t c = text[i];
      if (c == u'"') {
        *out = std::move(result);
        *rest = text.substr(i + 1);
        return true;
      }
      if (c != u'\\') {
        result += c;
        continue;
      }
      if (++i == text.size()) break;
      switch (text[i]) {
        case u'\\': result += u'\\'; break;
        case u'"': result += u'"'; break;
        case u'n': result += u'\n'; break;
        case u'r': result += u'\r'; break;
        default:
          return Fail(number,
                      std::string("unknown escape sequence \\") + Printable(text.substr(i, 1)));
      }
    }
    return Fail(number, "text without a closing quote");
  }

  bool ReadValue(std::size_t* index, std::u16string_view line) {
    const std::size_t number = *index + 1;
    if (result_.keys.empty()) return Fail(number, "value line before the first [KEY]");
    RegFileKey& key = result_.keys.back();
    if (key.remove) return Fail(number, "value line in a [-KEY] section");

    RegFileValue value;
    std::u16string_view rest;
    if (line.front() == u'@') {
      rest = line.substr(1);
    } else {
      std::u16string name;
      if (!ReadQuoted(number, line, &name, &rest)) return false;
      if (name.empty()) return Fail(number, "empty value name; the default value is @");
      if (name.size() > kMaxValueNameLength) return Fail(number, "value name too long");
      if (!Utf16ToAnsiExactly(name, &value.name)) {
        return Fail(number, "value name has characters outside code page 1252");
      }
    }
    rest = TrimLeft(rest);
    if (rest.empty() || rest.front() != u'=')
      return Fail(number, "expected '=' after the value name");
    rest = TrimLeft(rest.substr(1));

    if (rest == u"-") {
      value.remove = true;
    } else if (!rest.empty() && rest.front() == u'"') {
      std::u16string text;
      std::u16string_view after;
      if (!ReadQuoted(number, rest, &text, &after)) return false;
      if (!TrimLeft(after).empty()) return Fail(number, "text after the closing quote");
      std::string narrow;
      if (!Utf16ToAnsiExactly(text, &narrow)) {
        return Fail(number, "text has characters outside code page 1252");
      }
      value.type = kRegSz;
      value.data = EncodeText(narrow);
    } else if (StartsWithNoCase(rest, u"dword:")) {
      std::uint32_t number_value = 0;
      if (!ParseHexNumber(TrimRight(rest.substr(6)), 8, &number_value)) {
        return Fail(number, "dword: needs 1 to 8 hex digits");
      }
      value.type = kRegDword;
      const auto bytes = EncodeDword(number_value);
      value.data.assign(bytes.begin(), bytes.end());
    } else if (StartsWithNoCase(rest, u"hex")) {
      if (!ReadHexValue(index, rest.substr(3), &value)) return false;
    } else {
      return Fail(number, "unknown value data; expected \"text\", dword:, hex:, hex(N): or -");
    }
    key.values.push_back(std::move(value));
    return true;
  }

  // `rest` follows "hex": ":" or "(N):", then the bytes, possibly continued
  // over the next lines.
  bool ReadHexValue(std::size_t* index, std::u16string_view rest, RegFileValue* value) {
    const std::size_t first = *index + 1;
    value->type = kRegBinary;
    if (!rest.empty() && rest.front() == u'(') {
      const std::size_t close = rest.find(u')');
      std::uint32_t type = 0;
      if (close == std::u16string_view::npos ||
          !ParseHexNumber(rest.substr(1, close - 1), 8, &type)) {
        return Fail(first, "hex(N): needs a type of 1 to 8 hex digits");
      }
      value->type = type;
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != u':') return Fail(first, "expected ':' after hex");
    rest.remove_prefix(1);

    // Each piece is one line's share of the list, with its line number.
    std::vector<std::pair<std::u16string_view, std::size_t>> pieces;
    std::u16string_view piece = TrimRight(rest);
    while (!piece.empty() && piece.back() == u'\\') {
      pieces.emplace_back(piece.substr(0, piece.size() - 1), *index + 1);
      if (++*index == lines_.size()) {
        return Fail(*index, "the file ends inside a continued value");
      }
      piece = Trim(lines_[*index]);
    }
    pieces.emplace_back(piece, *index + 1);

    // The pieces joined as one list; `starts` maps offsets back to lines.
    std::u16string joined;
    std::vector<std::pair<std::size_t, std::size_t>> starts;
    for (const auto& [text, number] : pieces) {
      starts.emplace_back(joined.size(), number);
      joined += text;
    }
    auto line_at = [&](std::size_t offset) {
      std::size_t number = starts.front().second;
      for (const auto& [start, line] : starts) {
        if (start <= offset) number = line;
      }
      return number;
    };

    std::vector<std::uint8_t> bytes;
    if (!Trim(joined).empty()) {
      const std::u16string_view list = joined;
      std::size_t start = 0;
      while (true) {
        std::size_t comma = list.find(u',', start);
        const std::u16string_view item = Trim(list.substr(
            start, comma == std::u16string_view::npos ? std::u16string_view::npos : comma - start));
        const bool last = comma == std::u16string_view::npos;
        // One trailing comma is tolerated; an empty item elsewhere is not.
        if (item.empty() && last && !bytes.empty()) break;
        std::uint32_t byte = 0;
        if (!ParseHexNumber(item, 2, &byte)) {
          return Fail(line_at(start), "bad byte \"" + Printable(item) + "\" in hex data");
        }
        bytes.push_back(static_cast<std::uint8_t>(byte));
        if (last) break;
        start = comma + 1;
      }
    }

    if (IsStringType(value->type) && result_.format == RegFileFormat::kRegedit5) {
      if (bytes.size() % 2 != 0) {
        return Fail(first, "string data in a Unicode file needs an even number of bytes");
      }
      std::u16string wide;
      for (std::size_t i = 0; i < bytes.size(); i += 2) {
        wide.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
      }
      std::string narrow;
      if (!Utf16ToAnsiExactly(wide, &narrow)) {
        return Fail(first, "string data has characters outside code page 1252");
      }
      bytes.assign(narrow.begin(), narrow.end());
    }
    value->data = std::move(bytes);
    return true;
  }

  std::string file_name_;
  RegFileError* error_;
  std::vector<std::u16string_view> lines_;
  RegFile result_;
};

std::u16string Escape(std::u16string_view text) {
  std::u16string escaped;
  for (char16_t c : text) {
    switch (c) {
      case u'\\': escaped += u"\\\\"; break;
      case u'"': escaped += u"\\\""; break;
      case u'\n': escaped += u"\\n"; break;
      case u'\r': escaped += u"\\r"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::u16string Ascii(const char* text) {
  std::u16string wide;
  for (; *text != '\0'; ++text) wide += static_cast<char16_t>(*text);
  return wide;
}

}  // namespace

std::u16string FormatRegFileValue(const RegFileValue& value, RegFileFormat format,
                                  RegFileWrap wrap) {
  std::u16string line =
      value.name.empty() ? u"@=" : u"\"" + Escape(AnsiToUtf16(value.name)) + u"\"=";
  if (value.remove) return line + u"-";
  // Only one zero-terminated text with no other zero is what "text" can say.
  std::string text;
  if (value.type == kRegSz && DecodeText(value.data, &text)) {
    return line + u"\"" + Escape(AnsiToUtf16(text)) + u"\"";
  }
  char buffer[32];
  std::uint32_t number = 0;
  if (value.type == kRegDword && DecodeDword(value.data, &number)) {
    std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(number));
    return line + Ascii(buffer);
  }
  if (value.type == kRegBinary) {
    std::snprintf(buffer, sizeof buffer, "hex:");
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
  }
  line += Ascii(buffer);

  std::vector<std::uint8_t> bytes = value.data;
  if (IsStringType(value.type) && format == RegFileFormat::kRegedit5) {
    bytes.clear();
    const std::string chars(value.data.begin(), value.data.end());
    for (char16_t c : AnsiToUtf16(chars)) {
      bytes.push_back(static_cast<std::uint8_t>(c));
      bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
  std::size_t column = line.size();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%02x", bytes[i]);
    line += Ascii(buffer);
    if (i + 1 == bytes.size()) break;
    line += u',';
    column += 3;
    if (wrap == RegFileWrap::kWrapped && column >= kHexWrapColumn) {
      line += u"\\\r\n  ";
      column = 2;
    }
  }
  return line;
}

namespace {

struct ExportNode {
  std::string name;
  std::vector<const RegEntry*> values;
  std::vector<ExportNode*> children;
};

void ExportWalk(const ExportNode& node, const std::string& path, bool skip_section, RegFile* file) {
  if (!skip_section) {
    RegFileKey key;
    key.path = path;
    for (const RegEntry* entry : node.values) {
      RegFileValue value;
      value.name = entry->name;
      value.type = entry->type;
      value.data = entry->data;
      key.values.push_back(std::move(value));
    }
    file->keys.push_back(std::move(key));
  }
  for (const ExportNode* child : node.children) {
    ExportWalk(*child, path + "\\" + child->name, false, file);
  }
}

}  // namespace

bool RegFileValue::operator==(const RegFileValue& other) const {
  return name == other.name && remove == other.remove && type == other.type && data == other.data;
}

bool RegFileKey::operator==(const RegFileKey& other) const {
  return path == other.path && remove == other.remove && values == other.values;
}

std::string RegFileError::ToString() const {
  if (line == 0) return file + ": " + message;
  return file + ":" + std::to_string(line) + ": " + message;
}

bool ParseRegFile(std::string_view bytes, std::string_view file_name, RegFile* file,
                  RegFileError* error) {
  return Parser(file_name, error).Run(bytes, file);
}

void ApplyRegFile(const RegFile& file, MemoryRegistry* registry) {
  for (const RegFileKey& key : file.keys) {
    if (key.remove) {
      if (!IsProtectedKey(key.path)) registry->Erase(key.path);
      continue;
    }
    registry->SeedKey(key.path);
    for (const RegFileValue& value : key.values) {
      if (value.remove) {
        registry->EraseValue(key.path, value.name);
      } else {
        registry->SeedValue(key.path, value.name, value.type, value.data);
      }
    }
  }
}

std::unique_ptr<MemoryRegistry> LoadRegImage(std::string_view bytes, std::string_view file_name,
                                             RegFileError* error) {
  RegFile file;
  if (!ParseRegFile(bytes, file_name, &file, error)) return nullptr;
  auto registry = std::make_unique<MemoryRegistry>();
  ApplyRegFile(file, registry.get());
  return registry;
}

std::unique_ptr<MemoryRegistry> LoadRegImageFile(const std::string& path, RegFileError* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error->file = path;
    error->line = 0;
    error->message = std::string("cannot open: ") + std::strerror(errno);
    return nullptr;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) {
    error->file = path;
    error->line = 0;
    error->message = "cannot read the file";
    return nullptr;
  }
  return LoadRegImage(bytes.str(), path, error);
}

RegFile ExportRegistry(const MemoryRegistry& registry, std::string_view path,
                       RegFileFormat format) {
  RegFile file;
  file.format = format;
  const std::vector<RegEntry> entries = registry.Snapshot(path);
  if (entries.empty()) return file;

  // Snapshot lists each key before its values and subkeys.
  std::vector<std::unique_ptr<ExportNode>> nodes;
  std::map<std::string, ExportNode*> by_path;
  for (const RegEntry& entry : entries) {
    if (entry.is_value) {
      by_path.at(entry.key)->values.push_back(&entry);
      continue;
    }
    nodes.push_back(std::make_unique<ExportNode>());
    ExportNode* node = nodes.back().get();
    by_path[entry.key] = node;
    if (entry.key.empty()) continue;
    const std::size_t slash = entry.key.rfind('\\');
    node->name = slash == std::string::npos ? entry.key : entry.key.substr(slash + 1);
    by_path.at(slash == std::string::npos ? "" : entry.key.substr(0, slash))
        ->children.push_back(node);
  }
  for (const auto& node : nodes) {
    std::stable_sort(node->children.begin(), node->children.end(),
                     [](const ExportNode* a, const ExportNode* b) {
                       return LowerCaseName(a->name) < LowerCaseName(b->name);
                     });
    std::stable_sort(node->values.begin(), node->values.end(),
                     [](const RegEntry* a, const RegEntry* b) {
                       return LowerCaseName(a->name) < LowerCaseName(b->name);
                     });
  }
  const ExportNode& top = *by_path.at("");
  const bool is_root = path.find('\\') == std::string_view::npos;
  ExportWalk(top, std::string(path), is_root && top.values.empty(), &file);
  return file;
}

std::string FormatRegFile(const RegFile& file) {
  std::u16string text(file.format == RegFileFormat::kRegedit5 ? kHeader5 : kHeader4);
  text += u"\r\n";
  for (const RegFileKey& key : file.keys) {
    text += key.remove ? u"\r\n[-" : u"\r\n[";
    text += AnsiToUtf16(key.path);
    text += u"]\r\n";
    for (const RegFileValue& value : key.values) {
      text += FormatRegFileValue(value, file.format);
      text += u"\r\n";
    }
  }
  text += u"\r\n";

  if (file.format == RegFileFormat::kRegedit4) return Utf16ToAnsi(text);
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + text.size() * 2);
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

}  // namespace plg
