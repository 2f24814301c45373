// The keys registration may write or delete, and a check of a call log
// against them. Everything else on the machine belongs to someone else.
#pragma once

#include <string>
#include <vector>

#include "machine/memory_registry.h"

namespace plg::testing {

// Every create, write or deletion in `calls` (attempted or not) that falls
// outside the keys registration owns, one line each; empty when contained.
std::vector<std::string> CallsOutsideProduct(const std::vector<RegCall>& calls);

}  // namespace plg::testing
