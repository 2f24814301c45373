// Registry files (.reg) as `reg export` and regedit write them, read into and
// written out of the in-memory registry: REGEDIT5 (UTF-16LE with a byte
// order mark) and REGEDIT4 (single-byte, code page 1252).
//
// Names and data are held as the ANSI registry calls see them: string data
// is single-byte text, and a file's characters outside code page 1252 are
// refused rather than changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "machine/memory_registry.h"

namespace plg {

// The two file formats: the header line, the text encoding and how the
// bytes of hex(1), hex(2) and hex(7) data are taken (UTF-16LE or single-byte).
enum class RegFileFormat { kRegedit5, kRegedit4 };

// One value line: a value written, or with `remove` its removal ("name"=-).
struct RegFileValue {
  std::string name;  // "" is the default value (@)
  bool remove = false;
  ValueType type = kRegSz;
  std::vector<std::uint8_t> data;  // as RegQueryValueExA returns it

  bool operator==(const RegFileValue& other) const;
};

// One section: [KEY] with its value lines, or [-KEY] (the key and everything
// beneath it removed).
struct RegFileKey {
  std::string path;  // full path: "HKEY_LOCAL_MACHINE\..." or "HKEY_CLASSES_ROOT\..."
  bool remove = false;
  std::vector<RegFileValue> values;

  bool operator==(const RegFileKey& other) const;
};

struct RegFile {
  RegFileFormat format = RegFileFormat::kRegedit5;
  std::vector<RegFileKey> keys;
};

// Where and why a file could not be read. `line` is 0 when the file as a
// whole is at fault (unreadable, wrong encoding).
struct RegFileError {
  std::string file;
  std::size_t line = 0;
  std::string message;

  // "file:line: message", or "file: message" for line 0.
  std::string ToString() const;
};

// Parses the bytes of a .reg file named `file_name` (for messages). Returns
// false with `*error` set on the first fault; `*file` is then untouched.
[[nodiscard]] bool ParseRegFile(std::string_view bytes, std::string_view file_name, RegFile* file,
                                RegFileError* error);

// Applies the sections in order, as `reg import` does: keys are created with
// their parents, values set or removed, [-KEY] sections remove whole trees.
// The roots and HKEY_LOCAL_MACHINE\Software (which holds
// HKEY_CLASSES_ROOT) are never removed.
void ApplyRegFile(const RegFile& file, MemoryRegistry* registry);

// A fresh registry holding the image in `bytes`, or null with `*error` set;
// nothing is loaded from a file that has any fault.
std::unique_ptr<MemoryRegistry> LoadRegImage(std::string_view bytes, std::string_view file_name,
                                             RegFileError* error);

// As LoadRegImage, reading the file at `path` (the error names that path).
std::unique_ptr<MemoryRegistry> LoadRegImageFile(const std::string& path, RegFileError* error);

// The key `path` (a full path) and everything beneath it, as `reg export`
// lists it: depth first, subkeys and values ordered by name without regard
// to case. A root itself gets a section only when it holds values. Empty if
// the key is missing.
RegFile ExportRegistry(const MemoryRegistry& registry, std::string_view path,
                       RegFileFormat format = RegFileFormat::kRegedit5);

// The file's bytes in the text form of `reg export`: header, CRLF line ends,
// a blank line before each section and at the end, value lines as
// FormatRegFileValue writes them, wrapped. REGEDIT5 is UTF-16LE with a byte
// order mark.
std::string FormatRegFile(const RegFile& file);

// Whether hex data breaks over lines as reg export breaks it (at 77 columns,
// "\" and two spaces after the comma), or stays on one line.
enum class RegFileWrap { kWrapped, kOneLine };

// One value line of a file in `format`, without its line end: "name"=-,
// "name"="text", dword:, hex: or hex(N):. Strings that are not one
// zero-terminated text are written as hex(1) so that no byte is lost, a
// REG_DWORD of other than four bytes as hex(4); REGEDIT5 holds the bytes of
// string types as UTF-16LE.
std::u16string FormatRegFileValue(const RegFileValue& value, RegFileFormat format,
                                  RegFileWrap wrap = RegFileWrap::kWrapped);

}  // namespace plg
