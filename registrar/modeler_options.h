// The product's own entries: the product key Software\Tolvanics\Pellagor and
// its value in the shared system's Options key.
#pragma once

#include "platform/platform.h"

namespace plg {

// Creates the product key and writes Options\"plg" = "Pellagor".
void RegisterModelerOptions(Platform& platform);

// Deletes the product version key with every host setting beneath it, the
// V12 Open verb, and this product's Options value. Reports nothing. Runs
// before the steps, so they count only other products in the Options key.
void UnregisterModelerOptions(Platform& platform);

}  // namespace plg
