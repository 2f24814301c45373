// The module's string table compiled into the program, from the same source
// as the DLL's STRINGTABLE, for Linux builds and tools. Tests can change or
// remove single strings.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace plg {

class CompiledStrings : public StringSource {
 public:
  CompiledStrings();

  std::optional<std::string> Load(unsigned id) const override;

  // Replaces the text of `id` (adding it if absent).
  void Set(unsigned id, std::string text);
  // Makes `id` absent, as if the module did not carry it.
  void Remove(unsigned id);

  const std::map<unsigned, std::string>& table() const { return table_; }

 private:
  std::map<unsigned, std::string> table_;
};

}  // namespace plg
