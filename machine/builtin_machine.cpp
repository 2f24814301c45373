#include "machine/builtin_machine.h"

namespace plg {

namespace {

// Keys every Windows machine has, which registration writes beneath.
constexpr const char* kSystemKeys[] = {
    "HKEY_CLASSES_ROOT\\CLSID",
};

struct ImageString {
  const char* key;
  const char* name;
  const char* text;
};

// What the shared system's installer writes for release 38.0 (Kelsys V12):
// its directories, in both registry views, the bin directory with its
// trailing backslash. In the native view the same values are the release's
// Dir\Bin, since names compare without regard to case.
constexpr ImageString kSharedSystemInstallation[] = {
    {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir", "bin",
     "C:\\Apps\\Tolvanics\\Kelsys V12\\bin\\"},
    {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir", "help",
     "C:\\Apps\\Tolvanics\\Kelsys V12\\help"},
    {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir", "lib",
     "C:\\Apps\\Tolvanics\\Kelsys V12\\lib"},
    {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir", "root",
     "C:\\Apps\\Tolvanics\\Kelsys V12"},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tolvanics\\Kelsys\\38.0\\Dir", "bin",
     "C:\\Apps\\Tolvanics\\Kelsys V12\\bin\\"},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tolvanics\\Kelsys\\38.0\\Dir", "help",
     "C:\\Apps\\Tolvanics\\Kelsys V12\\help"},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tolvanics\\Kelsys\\38.0\\Dir", "lib",
     "C:\\Apps\\Tolvanics\\Kelsys V12\\lib"},
    {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Tolvanics\\Kelsys\\38.0\\Dir", "root",
     "C:\\Apps\\Tolvanics\\Kelsys V12"},
};

}  // namespace

std::unique_ptr<MemoryRegistry> BuiltInMachine() {
  auto registry = std::make_unique<MemoryRegistry>();
  for (const char* key : kSystemKeys) registry->SeedKey(key);
  for (const ImageString& row : kSharedSystemInstallation) {
    registry->SeedString(row.key, row.name, row.text);
  }
  return registry;
}

}  // namespace plg
