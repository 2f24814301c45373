// The module file that a registration names: is it there, and is it the
// product's module? Read from the file's own version record, the same way on
// every build, and module paths compared as Windows compares them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plg::tool {

// What a PE file's version record (the VS_VERSION_INFO resource) says.
struct VersionRecord {
  std::string product_name;  // "ProductName" of the first string table; "" when none
  std::string file_version;  // the fixed part's file version, "38.0.0.380"
};

// The version record of the PE image `bytes` (a DLL or EXE, 32- or 64-bit),
// or nothing when the bytes are no PE image, carry no version record, or
// any offset, size or name in them leads outside the bytes. Never reads
// outside `bytes`.
std::optional<VersionRecord> ReadVersionRecord(std::string_view bytes);

// What verify found at the module path.
struct ModuleFile {
  bool present = false;  // the file is the product's module
  std::string problem;   // when not present: why, in one line
  VersionRecord record;  // when present
};

// The whole file at `path` (single-byte text, as module paths are), or
// nothing with `error` set to why not, in a few words.
std::optional<std::string> ReadModuleFile(const std::string& path, std::string* error);

// Checks that `bytes` (nothing: the file could not be read, `read_error`
// says why) are a module whose version record names `product_name`.
ModuleFile CheckModuleFile(const std::optional<std::string>& bytes, const std::string& read_error,
                           const std::string& product_name);

// Whether two module paths name the same file as Windows compares them:
// without regard to letter case, after resolving short (8.3) names on both
// sides where the file exists (Windows builds; elsewhere case only).
bool SameModulePath(const std::string& a, const std::string& b);

}  // namespace plg::tool
