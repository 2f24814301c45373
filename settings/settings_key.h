// Key paths beneath the product version key, shared by the host settings
// steps.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace plg {

// "<software>\Tolvanics\<product name>\38.0\<subkey>", the product name being
// string 409 taken literally. `software` is "Software" or "SOFTWARE".
std::string ProductVersionSubkeyPath(const Platform& platform,
                                     std::string_view software,
                                     std::string_view subkey);

}  // namespace plg
