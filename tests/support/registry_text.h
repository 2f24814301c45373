// Registry subtrees as lines of text, for whole-tree comparisons against
// expectations written out by hand:
//
//   [Menus\Help]                      a key, relative to the top ("[]" is the top)
//   "0"="WINHELP,..."                 REG_SZ: the text, one terminating zero
//   @="Pellagor Language"             the default value
//   "CustomModelingOn"=dword:00000001 REG_DWORD
//   "x"=hex(1):61,62                  anything else: type and bytes
//
// Keys come in enumeration order, each followed by its values in creation
// order. Texts are shown raw, without escapes.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "machine/memory_registry.h"

namespace plg::testing {

// A tree as DescribeTree lists it, or any list of texts a test compares.
using Lines = std::vector<std::string>;

std::vector<std::string> DescribeTree(const MemoryRegistry& registry, std::string_view path);

// One value in the notation above ("REG_SZ text" -> "text").
std::string DescribeValue(ValueType type, const std::vector<std::uint8_t>& data);

// The parts one after another, for expectations put together from pieces.
inline Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace plg::testing
