#include "machine/builtin_machine.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "machine/reg_file.h"

namespace plg {

// images/shared_system.reg as text, generated at build time.
std::string_view SharedSystemImageText();

namespace {

// The image read once. It is part of the build, so a fault in it is the
// build's and ends the program.
const RegFile& SharedSystemImage() {
  static const RegFile image = [] {
    RegFile file;
    RegFileError error;
    if (!ParseRegFile(SharedSystemImageText(), "images/shared_system.reg", &file, &error)) {
      std::fprintf(stderr, "built-in machine image: %s\n", error.ToString().c_str());
      std::abort();
    }
    return file;
  }();
  return image;
}

}  // namespace

void SeedSharedSystemImage(MemoryRegistry* registry) {
  ApplyRegFile(SharedSystemImage(), registry);
}

std::unique_ptr<MemoryRegistry> BuiltInMachine() {
  auto registry = std::make_unique<MemoryRegistry>();
  SeedSharedSystemImage(registry.get());
  return registry;
}

}  // namespace plg
