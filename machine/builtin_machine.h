// The machine image plgreg uses when none is given: a clean Windows machine
// (HKEY_CLASSES_ROOT\CLSID) on which the shared modelling system's
// installation has run, and nothing of this product.
#pragma once

#include <memory>

#include "machine/memory_registry.h"

namespace plg {

// The module path plans and checks use unless told otherwise.
inline constexpr char kDefaultModulePath[] = "C:\\Program Files\\Pellagor\\plgproduct.dll";

// A fresh registry holding the built-in image.
std::unique_ptr<MemoryRegistry> BuiltInMachine();

}  // namespace plg
