#include "tools/plgreg/module_file.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>

#include "platform/registry_names.h"

namespace plg::tool {

namespace {

// RT_VERSION among a PE image's resource types.
constexpr std::uint32_t kVersionResourceType = 16;
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
// A module is a few hundred kilobytes; a larger file is not read whole.
constexpr std::streamoff kMaxModuleFileSize = 64 * 1024 * 1024;

// Little-endian fields of `bytes`; every read is checked against its size.
class Bytes {
 public:
  explicit Bytes(std::string_view bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size(); }
  bool Has(std::uint64_t at, std::uint64_t count) const {
    return at <= bytes_.size() && count <= bytes_.size() - at;
  }
  std::uint16_t U16(std::uint64_t at) const {
    return static_cast<std::uint16_t>(Byte(at) | Byte(at + 1) << 8);
  }
  std::uint32_t U32(std::uint64_t at) const {
    return static_cast<std::uint32_t>(U16(at)) | static_cast<std::uint32_t>(U16(at + 2)) << 16;
  }
  std::string_view Part(std::uint64_t at, std::uint64_t count) const {
    return bytes_.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(count));
  }

 private:
  unsigned Byte(std::uint64_t at) const {
    return static_cast<unsigned char>(bytes_[static_cast<std::size_t>(at)]);
  }
  std::string_view bytes_;
};

std::uint64_t Align4(std::uint64_t at) { return (at + 3) & ~std::uint64_t{3}; }

struct Section {
  std::uint32_t address, virtual_size, raw_size, raw_offset;
};

// One block of a version record: a length, a value and child blocks, each
// aligned to four bytes from the record's start.
struct Block {
  std::u16string key;
  std::uint16_t type = 0;  // 1: the value is text
  std::uint64_t value_at = 0, value_size = 0, children_at = 0, end = 0;
};

std::optional<Block> ReadBlock(const Bytes& record, std::uint64_t at, std::uint64_t limit) {
  if (!record.Has(at, 6) || at + 6 > limit) return std::nullopt;
  Block block;
  const std::uint16_t length = record.U16(at);
  const std::uint16_t value_length = record.U16(at + 2);
  block.type = record.U16(at + 4);
  block.end = at + length;
  if (length < 6 || block.end > limit) return std::nullopt;
  std::uint64_t pos = at + 6;
  for (;; pos += 2) {
    if (pos + 2 > block.end) return std::nullopt;
    const char16_t c = record.U16(pos);
    if (c == 0) break;
    block.key += c;
  }
  block.value_at = Align4(pos + 2);
  // A text value's length counts characters, a binary one's bytes.
  block.value_size = block.type == 1 ? std::uint64_t{value_length} * 2 : value_length;
  if (block.value_at > block.end) block.value_at = block.end;
  if (block.value_at + block.value_size > block.end) {
    if (block.type != 1) return std::nullopt;
    block.value_size = block.end - block.value_at;
  }
  block.children_at = std::min(Align4(block.value_at + block.value_size), block.end);
  return block;
}

// Calls `visit` with each child block of `parent` until it returns true;
// returns whether one did.
template <typename Visit>
bool EachChild(const Bytes& record, const Block& parent, Visit visit) {
  for (std::uint64_t at = parent.children_at; at < parent.end;) {
    const std::optional<Block> child = ReadBlock(record, at, parent.end);
    if (!child) return false;
    if (visit(*child)) return true;
    at = Align4(child->end);
  }
  return false;
}

std::string TextValue(const Bytes& record, const Block& block) {
  std::u16string text;
  for (std::uint64_t at = block.value_at; at + 2 <= block.value_at + block.value_size; at += 2) {
    const char16_t c = record.U16(at);
    if (c == 0) break;
    text += c;
  }
  return Utf16ToAnsi(text);
}

std::optional<VersionRecord> ParseVersionInfo(std::string_view bytes) {
  const Bytes record(bytes);
  const std::optional<Block> root = ReadBlock(record, 0, record.size());
  if (!root || root->key != u"VS_VERSION_INFO" || root->value_size < 52 ||
      record.U32(root->value_at) != kFixedFileInfoSignature) {
    return std::nullopt;
  }
  VersionRecord result;
  const std::uint32_t high = record.U32(root->value_at + 8);
  const std::uint32_t low = record.U32(root->value_at + 12);
  char version[48];
  std::snprintf(version, sizeof version, "%u.%u.%u.%u", static_cast<unsigned>(high >> 16),
                static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 16),
                static_cast<unsigned>(low & 0xFFFF));
  result.file_version = version;
  EachChild(record, *root, [&](const Block& info) {
    if (info.key != u"StringFileInfo") return false;
    return EachChild(record, info, [&](const Block& table) {
      return EachChild(record, table, [&](const Block& string) {
        if (string.key != u"ProductName") return false;
        result.product_name = TextValue(record, string);
        return true;
      });
    });
  });
  return result;
}

}  // namespace

std::optional<VersionRecord> ReadVersionRecord(std::string_view image) {
  const Bytes pe(image);
  if (!pe.Has(0, 0x40) || pe.U16(0) != 0x5A4D) return std::nullopt;  // "MZ"
  const std::uint64_t header = pe.U32(0x3C);
  if (!pe.Has(header, 24) || pe.U32(header) != 0x00004550) return std::nullopt;  // "PE\0\0"
  const std::uint16_t section_count = pe.U16(header + 6);
  const std::uint16_t optional_size = pe.U16(header + 20);
  const std::uint64_t optional = header + 24;
  if (!pe.Has(optional, optional_size) || optional_size < 2) return std::nullopt;
  // PE32 or PE32+: where the count of data directories and the directories are.
  const std::uint16_t magic = pe.U16(optional);
  const std::uint64_t count_at = optional + (magic == 0x20B ? 108 : 92);
  const std::uint64_t directories = count_at + 4;
  if ((magic != 0x10B && magic != 0x20B) || directories + 3 * 8 > optional + optional_size ||
      pe.U32(count_at) < 3) {
    return std::nullopt;
  }
  const std::uint32_t resources_rva = pe.U32(directories + 2 * 8);
  const std::uint32_t resources_size = pe.U32(directories + 2 * 8 + 4);
  const std::uint64_t sections = optional + optional_size;
  if (resources_rva == 0 || !pe.Has(sections, std::uint64_t{section_count} * 40)) {
    return std::nullopt;
  }
  // The file's bytes at an address of the loaded image, `count` of them.
  const auto at_address = [&](std::uint32_t address,
                              std::uint64_t count) -> std::optional<std::string_view> {
    for (std::uint16_t i = 0; i < section_count; ++i) {
      const std::uint64_t s = sections + std::uint64_t{i} * 40;
      const Section section{pe.U32(s + 12), pe.U32(s + 8), pe.U32(s + 16), pe.U32(s + 20)};
      if (address < section.address) continue;
      const std::uint64_t into = address - section.address;
      if (into >= std::max(section.virtual_size, section.raw_size)) continue;
      if (into + count > section.raw_size || !pe.Has(section.raw_offset + into, count)) {
        return std::nullopt;
      }
      return pe.Part(section.raw_offset + into, count);
    }
    return std::nullopt;
  };
  const std::optional<std::string_view> tree_bytes = at_address(resources_rva, resources_size);
  if (!tree_bytes) return std::nullopt;
  const Bytes tree(*tree_bytes);
  // The resource tree: type, then name, then language. The version record is
  // the first name's first language of type RT_VERSION.
  std::uint64_t node = 0;
  for (int level = 0; level < 3; ++level) {
    if (!tree.Has(node, 16)) return std::nullopt;
    const std::uint64_t count = std::uint64_t{tree.U16(node + 12)} + tree.U16(node + 14);
    if (count == 0 || !tree.Has(node + 16, count * 8)) return std::nullopt;
    std::uint64_t entry = node + 16;
    if (level == 0) {
      std::uint64_t i = 0;
      while (i < count && tree.U32(entry + i * 8) != kVersionResourceType) ++i;
      if (i == count) return std::nullopt;
      entry += i * 8;
    }
    const std::uint32_t target = tree.U32(entry + 4);
    const bool is_directory = (target & 0x80000000u) != 0;
    if (is_directory != (level < 2)) return std::nullopt;
    node = target & 0x7FFFFFFFu;
  }
  if (!tree.Has(node, 8)) return std::nullopt;
  const std::optional<std::string_view> data = at_address(tree.U32(node), tree.U32(node + 4));
  if (!data) return std::nullopt;
  return ParseVersionInfo(*data);
}

std::optional<std::string> ReadModuleFile(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) {
    *error = "no such file, or it cannot be opened";
    return std::nullopt;
  }
  const std::streamoff size = file.tellg();
  if (size < 0 || size > kMaxModuleFileSize) {
    *error = "the file is larger than any module";
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(size), '\0');
  file.seekg(0);
  if (!file.read(bytes.data(), size)) {
    *error = "the file cannot be read";
    return std::nullopt;
  }
  return bytes;
}

ModuleFile CheckModuleFile(const std::optional<std::string>& bytes, const std::string& read_error,
                           const std::string& product_name) {
  ModuleFile module;
  if (!bytes) {
    module.problem = read_error;
    return module;
  }
  const std::optional<VersionRecord> record = ReadVersionRecord(*bytes);
  if (!record) {
    module.problem = "the file has no readable version record";
  } else if (record->product_name != product_name) {
    module.problem = "the file's version record names the product \"" + record->product_name +
                     "\", not \"" + product_name + "\"";
  } else {
    module.present = true;
    module.record = *record;
  }
  return module;
}

#ifndef _WIN32
bool SameModulePath(const std::string& a, const std::string& b) { return EqualsFolded(a, b); }
#endif

}  // namespace plg::tool
