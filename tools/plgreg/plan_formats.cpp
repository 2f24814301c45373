#include "tools/plgreg/plan_formats.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/registry_data.h"
#include "platform/registry_names.h"
#include "registry/registry_paths.h"
#include "tools/plgreg/name_uuid.h"
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
    case '{': *escaped += "[\\{]"; break;
    case '}': *escaped += "[\\}]"; break;
    default: *escaped += c;
  }
}

// Marks and the formatted references written in their place.
using Replacements = std::vector<std::pair<std::string, std::string>>;

// `text` escaped as UTF-8, each mark written as its reference.
std::string Attribute(const std::string& text, const Replacements& replacements = {}) {
  std::string escaped;
  for (std::size_t at = 0; at < text.size();) {
    const auto found =
        std::find_if(replacements.begin(), replacements.end(), [&](const auto& replacement) {
          return text.compare(at, replacement.first.size(), replacement.first) == 0;
        });
    if (found != replacements.end()) {
      escaped += found->second;
      at += found->first.size();
      continue;
    }
    for (char c : AnsiToUtf8(text.substr(at, 1))) AppendEscaped(c, &escaped);
    ++at;
  }
  return escaped;
}

bool IsControlCharacter(char c) { return static_cast<unsigned char>(c) < 0x20; }

// XML 1.0 cannot carry the control characters but these three at all.
void RefuseForXml(const RegistryChange& change, const std::string& text) {
  const auto bad = std::find_if(text.begin(), text.end(), [](char c) {
    return IsControlCharacter(c) && c != '\n' && c != '\r' && c != '\t';
  });
  if (bad == text.end()) return;
  throw RefusedText("[" + change.key + "] " +
                    (change.name.empty() ? std::string("@") : "\"" + change.name + "\"") +
                    ": its text holds " + Printable(std::string(1, *bad)) +
                    ", which XML cannot hold; no fragment written");
}

// The RegistryValue element for a written value, or a comment when WiX
// cannot author it.
std::string WxsValue(const RegistryChange& change, const std::string& indent,
                     const Replacements& replacements, bool key_path) {
  const std::string name =
      (change.name.empty() ? std::string() : " Name=\"" + Attribute(change.name) + "\"");
  const std::string tail = key_path ? " KeyPath=\"yes\" />\n" : " />\n";
  const std::string label =
      change.name.empty() ? "the default value" : "value \"" + change.name + "\"";
  auto cannot = [&]() {
    std::string text =
        label + " (" + TypeName(change.type) + ") cannot be written as a RegistryValue";
    // A comment may not hold "--".
    for (std::size_t at; (at = text.find("--")) != std::string::npos;) text.replace(at, 2, "- ");
    return indent + "<!-- " + AnsiToUtf8(text) + " -->\n";
  };
  std::string plain;
  std::uint32_t number = 0;
  if ((change.type == kRegSz || change.type == kRegExpandSz) && DecodeText(change.data, &plain)) {
    RefuseForXml(change, plain);
    return indent + "<RegistryValue" + name + " Type=\"" +
           (change.type == kRegSz ? "string" : "expandable") + "\" Value=\"" +
           Attribute(plain, replacements) + "\"" + tail;
  }
  if (change.type == kRegDword && DecodeDword(change.data, &number)) {
    // The installer takes integers as signed 32-bit numbers.
    return indent + "<RegistryValue" + name + " Type=\"integer\" Value=\"" +
           std::to_string(static_cast<std::int32_t>(number)) + "\"" + tail;
  }
  if (change.type == kRegBinary) {
    return indent + "<RegistryValue" + name + " Type=\"binary\" Value=\"" + Hex(change.data) +
           "\"" + tail;
  }
  if (change.type == kRegMultiSz) {
    const auto texts = MultiText(change.data);
    if (!texts) return cannot();
    for (const std::string& text : *texts) RefuseForXml(change, text);
    std::string element = indent + "<RegistryValue" + name + " Type=\"multiString\"" +
                          (key_path ? " KeyPath=\"yes\"" : "") + ">\n";
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

// The namespace of the fragment's component GUIDs, which are name-based
// UUIDs of the components' contents.
constexpr char kComponentNamespace[] = "{5B0E9C47-2A61-4D38-B7F2-C4E8196A03D5}";

// "KELSYS_BIN", "KELSYS_HELP", "KELSYS_LIB": the property the fragment
// defines for the shared system's directory `value_name` of its Dir key.
std::string DirectoryProperty(const char* value_name) {
  std::string property = std::string(kSharedSystemNameUpper) + "_";
  for (const char* c = value_name; *c != 0; ++c) {
    property += static_cast<char>(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c);
  }
  return property;
}

// One key of the fragment: whether the plan adds it, and the values the
// plan writes in it.
struct WxsKey {
  std::string path;
  bool added = false;
  std::vector<const RegistryChange*> values;
};

// One component: its keys, and the value that is its KeyPath (nullptr when
// it writes none).
struct WxsComponent {
  const char* id;
  bool permanent;
  std::vector<WxsKey> keys;
  const RegistryChange* key_path = nullptr;
};

std::string ComponentXml(const WxsComponent& component, const Replacements& replacements) {
  std::string body;
  for (const WxsKey& key : component.keys) {
    std::string values;
    for (const RegistryChange* value : key.values) {
      values += WxsValue(*value, "        ", replacements, value == component.key_path);
    }
    const auto [root, relative] = SplitRoot(key.path);
    body += "      <RegistryKey Root=\"" + root + "\" Key=\"" + Attribute(relative) + "\"";
    body += values.empty() ? " ForceCreateOnInstall=\"yes\" />\n"
                           : ">\n" + values + "      </RegistryKey>\n";
  }
  return std::string("    <Component Id=\"") + component.id + "\" Guid=\"" +
         NameBasedUuid(kComponentNamespace, component.id + ("\n" + body)) + "\" Win64=\"yes\"" +
         (component.permanent ? " Permanent=\"yes\"" : "") + ">\n" + body + "    </Component>\n";
}

}  // namespace

std::string Printable(const std::string& text) {
  std::string printable;
  for (char c : text) {
    switch (c) {
      case '\n': printable += "\\n"; break;
      case '\r': printable += "\\r"; break;
      case '\t': printable += "\\t"; break;
      default:
        // DEL, and the bytes code page 1252 leaves undefined, which become
        // C1 controls (U+0081 ...) in UTF-8, are no more printable.
        if (IsControlCharacter(c) ||
            std::string_view("\x7f\x81\x8d\x8f\x90\x9d").find(c) != std::string_view::npos) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\x%02x",
                        static_cast<unsigned>(static_cast<unsigned char>(c)));
          printable += buffer;
        } else {
          printable += c;
        }
    }
  }
  return printable;
}

void RefuseControlCharacterNames(const std::vector<RegistryChange>& changes) {
  const auto has_control = [](const std::string& text) {
    return std::any_of(text.begin(), text.end(), IsControlCharacter);
  };
  for (const RegistryChange& change : changes) {
    if (has_control(change.key)) {
      throw RefusedText("a key name holds a control character: [" + Printable(change.key) + "]");
    }
    if (has_control(change.name)) {
      throw RefusedText("a value name holds a control character: [" + change.key + "] \"" +
                        Printable(change.name) + "\"");
    }
  }
}

bool IsWixIdentifier(const std::string& id) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  return !id.empty() && id.size() <= 72 && (letter(id[0]) || id[0] == '_') &&
         std::all_of(id.begin(), id.end(), [&](char c) {
           return letter(c) || (c >= '0' && c <= '9') || c == '_' || c == '.';
         });
}

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
  RefuseControlCharacterNames(changes);
  Replacements replacements;
  if (!substitutions.module_mark.empty()) {
    replacements.emplace_back(substitutions.module_mark, "[#" + substitutions.file_id + "]");
  }
  for (std::size_t i = 0; i < std::size(kFragmentDirectories); ++i) {
    if (!substitutions.directory_marks[i].empty()) {
      replacements.emplace_back(substitutions.directory_marks[i],
                                "[" + DirectoryProperty(kFragmentDirectories[i]) + "]");
    }
  }

  // The product's own entries, and those every product of the shared system
  // shares. Each component's KeyPath is a value of the product alone: a host
  // setting beneath the company key, and the product's Options value.
  const SharedEntries shared = GetSharedEntries();
  const std::string company_key = "HKEY_LOCAL_MACHINE\\" + GetCompanyKeyPath();
  WxsComponent own{"PlgproductRegistry", false, {}, nullptr};
  WxsComponent common{"PlgproductSharedRegistry", true, {}, nullptr};
  std::size_t removals = 0;
  for (const RegistryChange& change : changes) {
    if (change.kind == RegistryChange::Kind::kRemoveKey ||
        change.kind == RegistryChange::Kind::kRemoveValue) {
      ++removals;
      continue;
    }
    WxsComponent& component = shared.HoldsKey(change.key) ? common : own;
    if (component.keys.empty() || component.keys.back().path != change.key ||
        change.kind == RegistryChange::Kind::kAddKey) {
      component.keys.push_back(WxsKey{change.key, false, {}});
    }
    if (change.kind == RegistryChange::Kind::kAddKey) {
      component.keys.back().added = true;
      continue;
    }
    component.keys.back().values.push_back(&change);
    const bool product_alone = &component == &common
                                   ? shared.HoldsValue(change.key, change.name) &&
                                         EqualsFolded(change.key, shared.options_key)
                                   : IsKeyOrBeneath(change.key, company_key);
    if (component.key_path == nullptr && product_alone) component.key_path = &change;
  }

  const bool registers = header.step == "register";
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  xml += "<!-- plgreg plan " + header.step + ": the registry entries the module " +
         (registers ? "writes" : "leaves") + ", for a package that installs the module as File " +
         AnsiToUtf8(substitutions.file_id) + " (WiX v3).\n";
  xml += "     The shared system's directories come from its Dir key at installation (" +
         DirectoryProperty("bin") + ", " + DirectoryProperty("help") + ", " +
         DirectoryProperty("lib") +
         "); the installation stops\n"
         "     when the bin directory is not found, or a search gives a typed value (\"#...\").\n";
  xml +=
      "     The Open verbs of the releases are a snapshot of the releases installed on the\n"
      "     machine this plan was made for: they keep its paths, and the package adds no\n"
      "     verb for a release installed later.\n"
      "     PlgproductSharedRegistry holds what every product of the shared system shares: the\n"
      "     library suffix, the library ProgID and class, and this product's value in the\n"
      "     Options key, by which other products' unregistrations keep those. It is Permanent:\n"
      "     an installer cannot know whether another product still needs them. -->\n";
  xml += "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n";
  xml += "  <Fragment>\n";
  xml += std::string("    <Condition Message=\"The ") + kSharedSystemName + " modelling system " +
         GetVersionString() + " was not found: HKLM\\" + Attribute(dir_key) +
         " must hold bin, and bin, help and lib as text (REG_SZ).\">" + DirectoryProperty("bin");
  for (const char* name : kFragmentDirectories) {
    xml += " AND NOT (" + DirectoryProperty(name) + " &lt;&lt; \"#\")";
  }
  xml += "</Condition>\n";
  for (const char* name : kFragmentDirectories) {
    xml += "    <Property Id=\"" + DirectoryProperty(name) + "\">\n";
    xml += std::string("      <RegistrySearch Id=\"") + kSharedSystemName + "_" + name +
           "\" Root=\"HKLM\" Key=\"" + Attribute(dir_key) + "\" Name=\"" + name +
           "\" Type=\"raw\" Win64=\"yes\" />\n";
    xml += "    </Property>\n";
  }
  xml += "    <ComponentGroup Id=\"PlgproductRegistry\" Directory=\"INSTALLFOLDER\">\n";
  for (const WxsComponent* component : {&own, &common}) {
    if (!component->keys.empty()) xml += ComponentXml(*component, replacements);
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

std::string FormatVerifyAsJson(const VerifyResult& result, const std::string& module_path,
                               const std::string& version) {
  nlohmann::ordered_json json;
  json["schema"] = 2;
  json["plgreg"] = version;
  json["module_path"] = AnsiToUtf8(module_path);
  if (result.module) {
    const ModuleFile& module = *result.module;
    nlohmann::ordered_json file;
    file["present"] = module.present;
    file["problem"] = module.present ? nullptr : nlohmann::ordered_json(AnsiToUtf8(module.problem));
    file["product_name"] =
        module.present ? nlohmann::ordered_json(AnsiToUtf8(module.record.product_name)) : nullptr;
    file["file_version"] =
        module.present ? nlohmann::ordered_json(module.record.file_version) : nullptr;
    json["module_file"] = std::move(file);
  } else {
    json["module_file"] = nullptr;
  }
  json["state"] = StateName(result.state);
  json["current"] = result.current;
  json["current_version"] = result.current_version.empty()
                                ? nlohmann::ordered_json(nullptr)
                                : nlohmann::ordered_json(AnsiToUtf8(result.current_version));
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
