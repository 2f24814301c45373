// Whether the entries that every product of the shared modelling system
// shares (the library suffix, ProgID and class) may be removed.
#pragma once

#include "platform/platform.h"

namespace plg {

// True when no product is left in the shared system's Options key: the key
// is missing or holds no value. False when it holds values or cannot be
// opened or queried, so that a failed read never removes other products'
// entries.
bool NoProductRegistered(Platform& platform);

}  // namespace plg
