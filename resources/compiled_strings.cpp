#include "resources/compiled_strings.h"

#include <utility>

namespace plg {

namespace {

struct CompiledString {
  unsigned id;
  const char* text;
};

constexpr CompiledString kCompiledStrings[] = {
#define PRODUCT_STRING(symbol, id, text) {id, text},
#include "resources/product_strings.def"
#undef PRODUCT_STRING
};

}  // namespace

CompiledStrings::CompiledStrings() {
  for (const CompiledString& row : kCompiledStrings) table_[row.id] = row.text;
}

std::optional<std::string> CompiledStrings::Load(unsigned id) const {
  auto it = table_.find(id);
  if (it == table_.end()) return std::nullopt;
  return it->second;
}

void CompiledStrings::Set(unsigned id, std::string text) { table_[id] = std::move(text); }

void CompiledStrings::Remove(unsigned id) { table_.erase(id); }

}  // namespace plg
