#include "tools/plgreg/plan_formats.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/registry_data.h"
#include "platform/registry_names.h"
#include "registry/registry_paths.h"
#include "tools/plgreg/text_encoding.h"

namespace plg::tool {

namespace {

std::string Hex(const std::vector<std::uint8_t>& data) {
  std::string hex;
  char buffer[4];
  for (std::uint8_t byte : data) {
    std::snprintf(buffer, sizeof buffer, "%02x", byte);
    hex += buffer;
  }
  return hex;
}

// The texts of a REG_MULTI_SZ, or nothing when it is not a list of
// zero-terminated texts closed by an empty one.
std::optional<std::vector<std::string>> MultiText(const std::vector<std::uint8_t>& data) {
  if (data.size() < 2 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0) {
    return std::nullopt;
  }
  std::vector<std::string> texts;
  std::string current;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] != 0) {
      current += static_cast<char>(data[i]);
      continue;
    }
    if (current.empty()) return std::nullopt;
    texts.push_back(current);
    current.clear();
  }
  return texts;
}

nlohmann::ordered_json ValueJson(ValueType type, const std::vector<std::uint8_t>& data) {
  nlohmann::ordered_json value;
  value["type"] = TypeName(type);
  std::string text;
  std::uint32_t number = 0;
  if ((type == kRegSz || type == kRegExpandSz) && DecodeText(data, &text)) {
    value["text"] = AnsiToUtf8(text);
  } else if (type == kRegDword && DecodeDword(data, &number)) {
    value["number"] = number;
  } else {
    value["hex"] = Hex(data);
  }
  return value;
}

const char* KindName(RegistryChange::Kind kind) {
  switch (kind) {
    case RegistryChange::Kind::kAddKey: return "add key";
    case RegistryChange::Kind::kRemoveKey: return "remove key";
    case RegistryChange::Kind::kSetValue: return "set value";
    case RegistryChange::Kind::kRemoveValue: return "remove value";
  }
  return "?";
}

// One character with markup and the installer's formatted-text brackets
// escaped. Line ends are written as references so that attribute
// normalization keeps them.
void AppendEscaped(char c, std::string* escaped) {
  switch (c) {
    case '&': *escaped += "&amp;"; break;
    case '<': *escaped += "&lt;"; break;
    case '>': *escaped += "&gt;"; break;
    case '"': *escaped += "&quot;"; break;
    case '\n': *escaped += "&#10;"; break;
    case '\r': *escaped += "&#13;"; break;
    case '\t': *escaped += "&#9;"; break;
    case '[': *escaped += "[\\[]"; break;
    case ']': *escaped += "[\\]]"; break;
    default: *escaped += c;
  }
}

// Single-byte texts and the formatted references that stand for them.
using Replacements = std::vector<std::pair<std::string, std::string>>;

// `text` escaped as UTF-8, each occurrence of a replaced text (the longest
// where several start at one place) written as its reference.
std::string Attribute(const std::string& text, const Replacements& replacements = {}) {
  std::string escaped;
  for (std::size_t at = 0; at < text.size();) {
    const std::pair<std::string, std::string>* found = nullptr;
    for (const auto& replacement : replacements) {
      if (text.compare(at, replacement.first.size(), replacement.first) == 0 &&
          (found == nullptr || replacement.first.size() > found->first.size())) {
        found = &replacement;
      }
    }
    if (found != nullptr) {
      escaped += found->second;
      at += found->first.size();
      continue;
    }
    for (char c : AnsiToUtf8(text.substr(at, 1))) AppendEscaped(c, &escaped);
    ++at;
  }
  return escaped;
}

// XML 1.0 cannot carry the other control characters at all.
bool HasControlCharacters(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 && c != '\n' && c != '\r' && c != '\t';
  });
}

// The RegistryValue element for a written value, or a comment when WiX
// cannot author it.
std::string WxsValue(const RegistryChange& change, const std::string& indent,
                     const Replacements& replacements) {
  const std::string name =
      change.name.empty() ? std::string() : " Name=\"" + Attribute(change.name) + "\"";
  const std::string label = change.name.empty() ? "the default value"
                            : HasControlCharacters(change.name)
                                ? "a value with control characters in its name"
                                : "value \"" + change.name + "\"";
  auto cannot = [&]() {
    std::string text =
        label + " (" + TypeName(change.type) + ") cannot be written as a RegistryValue";
    // A comment may not hold "--".
    for (std::size_t at; (at = text.find("--")) != std::string::npos;) text.replace(at, 2, "- ");
    return indent + "<!-- " + AnsiToUtf8(text) + " -->\n";
  };
  if (HasControlCharacters(change.name)) return cannot();
  std::string plain;
  std::uint32_t number = 0;
  if ((change.type == kRegSz || change.type == kRegExpandSz) && DecodeText(change.data, &plain)) {
    if (HasControlCharacters(plain)) return cannot();
    return indent + "<RegistryValue" + name + " Type=\"" +
           (change.type == kRegSz ? "string" : "expandable") + "\" Value=\"" +
           Attribute(plain, replacements) + "\" />\n";
  }
  if (change.type == kRegDword && DecodeDword(change.data, &number)) {
    // The installer takes integers as signed 32-bit numbers.
    return indent + "<RegistryValue" + name + " Type=\"integer\" Value=\"" +
           std::to_string(static_cast<std::int32_t>(number)) + "\" />\n";
  }
  if (change.type == kRegBinary) {
    return indent + "<RegistryValue" + name + " Type=\"binary\" Value=\"" + Hex(change.data) +
           "\" />\n";
  }
  if (change.type == kRegMultiSz) {
    const auto texts = MultiText(change.data);
    if (!texts) return cannot();
    for (const std::string& text : *texts) {
      if (HasControlCharacters(text)) return cannot();
    }
    std::string element = indent + "<RegistryValue" + name + " Type=\"multiString\">\n";
    for (const std::string& text : *texts) {
      element +=
          indent + "  <MultiStringValue Value=\"" + Attribute(text, replacements) + "\" />\n";
    }
    return element + indent + "</RegistryValue>\n";
  }
  return cannot();
}

// "HKEY_CLASSES_ROOT\x" -> ("HKCR", "x").
std::pair<std::string, std::string> SplitRoot(const std::string& path) {
  const std::size_t slash = path.find('\\');
  const std::string root = path.substr(0, slash);
  const std::string rest = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  return {root == "HKEY_CLASSES_ROOT" ? "HKCR" : "HKLM", rest};
}

// Key names compare as the registry compares them.
bool StartsWithFolded(std::string_view text, std::string_view prefix) {
  return !prefix.empty() && text.size() >= prefix.size() &&
         EqualsFolded(text.substr(0, prefix.size()), prefix);
}

// The fragment's component: its identity stays with this product version.
constexpr char kComponentGuid[] = "{5B0E9C47-2A61-4D38-B7F2-C4E8196A03D5}";

// The Dir values the fragment searches for, in this order.
constexpr const char* kDirectoryValues[] = {"bin", "help", "lib"};

// "KELSYS_BIN", "KELSYS_HELP", "KELSYS_LIB": the property the fragment
// defines for the shared system's directory `value_name` of its Dir key.
std::string DirectoryProperty(const char* value_name) {
  std::string property = std::string(kSharedSystemNameUpper) + "_";
  for (const char* c = value_name; *c != 0; ++c) {
    property += static_cast<char>(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c);
  }
  return property;
}

}  // namespace

std::string TypeName(ValueType type) {
  switch (type) {
    case kRegNone: return "REG_NONE";
    case kRegSz: return "REG_SZ";
    case kRegExpandSz: return "REG_EXPAND_SZ";
    case kRegBinary: return "REG_BINARY";
    case kRegDword: return "REG_DWORD";
    case kRegMultiSz: return "REG_MULTI_SZ";
    default: return std::to_string(type);
  }
}

std::string FormatPlanAsReg(const std::vector<RegistryChange>& changes, RegFileFormat format) {
  return FormatRegFile(ChangesAsRegFile(changes, format));
}

std::string FormatPlanAsWxs(const PlanHeader& header, const std::vector<RegistryChange>& changes,
                            const WxsSubstitutions& substitutions, const std::string& dir_key) {
  Replacements replacements = {{header.module_path, "[#" + substitutions.file_id + "]"}};
  const std::string* directories[] = {&substitutions.bin, &substitutions.help, &substitutions.lib};
  for (std::size_t i = 0; i < std::size(directories); ++i) {
    if (!directories[i]->empty()) {
      replacements.emplace_back(*directories[i],
                                "[" + DirectoryProperty(kDirectoryValues[i]) + "]");
    }
  }

  std::string body;
  std::size_t removals = 0;
  for (std::size_t i = 0; i < changes.size();) {
    const RegistryChange& first = changes[i];
    if (first.kind == RegistryChange::Kind::kRemoveKey ||
        first.kind == RegistryChange::Kind::kRemoveValue) {
      ++removals;
      ++i;
      continue;
    }
    const Replacements& used =
        StartsWithFolded(first.key, substitutions.snapshot_prefix) ? Replacements{} : replacements;
    // One key: its addition and the values written in it.
    const bool added = first.kind == RegistryChange::Kind::kAddKey;
    std::string values;
    for (i += added ? 1 : 0; i < changes.size() && changes[i].key == first.key &&
                             changes[i].kind != RegistryChange::Kind::kAddKey &&
                             changes[i].kind != RegistryChange::Kind::kRemoveKey;
         ++i) {
      if (changes[i].kind == RegistryChange::Kind::kRemoveValue) {
        ++removals;
      } else {
        values += WxsValue(changes[i], "        ", used);
      }
    }
    if (values.empty() && !added) continue;
    const auto [root, key] = SplitRoot(first.key);
    body += "      <RegistryKey Root=\"" + root + "\" Key=\"" + Attribute(key) + "\"";
    if (values.empty()) {
      body += " ForceCreateOnInstall=\"yes\" />\n";
    } else {
      body += ">\n" + values + "      </RegistryKey>\n";
    }
  }

  const bool registers = header.step == "register";
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  xml += "<!-- plgreg plan " + header.step + ": the registry entries the module " +
         (registers ? "writes" : "leaves") + ", for a package that installs the module as File " +
         AnsiToUtf8(substitutions.file_id) + " (WiX v3).\n";
  xml += "     The shared system's directories come from its Dir key at installation (" +
         DirectoryProperty("bin") + ", " + DirectoryProperty("help") + ", " +
         DirectoryProperty("lib") + ").\n";
  xml +=
      "     The Open verbs of the releases are a snapshot of the releases installed on the\n"
      "     machine this plan was made for: they keep its paths, and the package adds no\n"
      "     verb for a release installed later. -->\n";
  xml += "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n";
  xml += "  <Fragment>\n";
  for (const char* name : kDirectoryValues) {
    xml += "    <Property Id=\"" + DirectoryProperty(name) + "\">\n";
    xml += std::string("      <RegistrySearch Id=\"") + kSharedSystemName + "_" + name +
           "\" Root=\"HKLM\" Key=\"" + Attribute(dir_key) + "\" Name=\"" + name +
           "\" Type=\"raw\" Win64=\"yes\" />\n";
    xml += "    </Property>\n";
  }
  xml += "    <ComponentGroup Id=\"PlgproductRegistry\" Directory=\"INSTALLFOLDER\">\n";
  if (!body.empty()) {
    xml += std::string("    <Component Id=\"PlgproductRegistry\" Guid=\"") + kComponentGuid +
           "\" Win64=\"yes\">\n";
    xml += body;
    xml += "    </Component>\n";
  }
  if (removals != 0) {
    xml += "    <!-- " + std::to_string(removals) +
           " removals are not part of this fragment; the reg format lists them -->\n";
  }
  xml += "    </ComponentGroup>\n";
  xml += "  </Fragment>\n";
  xml += "</Wix>\n";
  return xml;
}

std::string FormatPlanAsJson(const PlanHeader& header, const std::vector<RegistryChange>& changes) {
  nlohmann::ordered_json json;
  json["step"] = header.step;
  json["module_path"] = AnsiToUtf8(header.module_path);
  json["messages"] = nlohmann::ordered_json::array();
  for (const std::string& message : header.messages) {
    json["messages"].push_back(AnsiToUtf8(message));
  }
  json["changes"] = nlohmann::ordered_json::array();
  for (const RegistryChange& change : changes) {
    nlohmann::ordered_json item;
    item["change"] = KindName(change.kind);
    item["key"] = AnsiToUtf8(change.key);
    if (change.kind == RegistryChange::Kind::kSetValue ||
        change.kind == RegistryChange::Kind::kRemoveValue) {
      item["name"] = AnsiToUtf8(change.name);
    }
    if (change.kind == RegistryChange::Kind::kSetValue) {
      item["value"] = ValueJson(change.type, change.data);
    }
    if (change.had_value) item["previous"] = ValueJson(change.old_type, change.old_data);
    json["changes"].push_back(std::move(item));
  }
  return json.dump(2) + "\n";
}

std::string FormatVerifyAsJson(const VerifyResult& result) {
  nlohmann::ordered_json json;
  json["state"] = result.findings.empty() ? "registered" : "not registered";
  const char* const lists[] = {"missing", "different", "left_over"};
  for (const char* list : lists) json[list] = nlohmann::ordered_json::array();
  for (const VerifyFinding& finding : result.findings) {
    const RegistryChange& change = finding.change;
    nlohmann::ordered_json item;
    item["key"] = AnsiToUtf8(change.key);
    const bool value = change.kind == RegistryChange::Kind::kSetValue ||
                       change.kind == RegistryChange::Kind::kRemoveValue;
    if (value) item["name"] = AnsiToUtf8(change.name);
    if (change.kind == RegistryChange::Kind::kSetValue) {
      item["value"] = ValueJson(change.type, change.data);
    } else if (change.kind == RegistryChange::Kind::kRemoveValue) {
      item["value"] = ValueJson(change.old_type, change.old_data);
    }
    if (finding.kind == VerifyFinding::Kind::kDifferent) {
      item["now"] = ValueJson(change.old_type, change.old_data);
    }
    json[lists[static_cast<int>(finding.kind)]].push_back(std::move(item));
  }
  json["messages"] = nlohmann::ordered_json::array();
  for (const std::string& message : result.messages) {
    json["messages"].push_back(AnsiToUtf8(message));
  }
  return json.dump(2) + "\n";
}

}  // namespace plg::tool
