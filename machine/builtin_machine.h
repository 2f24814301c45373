// The machine image plgreg uses when none is given: a clean Windows machine
// (HKEY_CLASSES_ROOT\CLSID) on which the shared modelling system's
// installation has run, and nothing of this product. Its one source is
// machine/images/shared_system.reg, compiled in.
#pragma once

#include <memory>

#include "machine/memory_registry.h"

namespace plg {

// The module path plans and checks use unless told otherwise.
inline constexpr char kDefaultModulePath[] = "C:\\Program Files\\Pellagor\\plgproduct.dll";

// Adds the image's keys and values to `registry`, as `reg import` would.
void SeedSharedSystemImage(MemoryRegistry* registry);

// A fresh registry holding the built-in image.
std::unique_ptr<MemoryRegistry> BuiltInMachine();

}  // namespace plg
