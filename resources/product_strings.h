// The product's string resources by ID, and the one way steps load them.
#pragma once

#include <string>

#include "platform/platform.h"

namespace plg {

// String IDs, named for their role; the numbers are the resource IDs.
enum StringId : unsigned {
#define PRODUCT_STRING(symbol, id, text) symbol = id,
#include "resources/product_strings.def"
#undef PRODUCT_STRING
};

// The text of string resource `id`, or an empty string when the module has
// no such string. Steps load each string at the moment they need it.
std::string LoadProductString(const Platform& platform, unsigned id);

}  // namespace plg
