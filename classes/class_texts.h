// Messages and the host's command line texts that several shell and class
// registration steps share, so that each exact text lives once.
#pragma once

#include <string>
#include <string_view>

namespace plg {

// Messages shown by more than one step.
inline constexpr char kShellEntryMessage[] = "Unable to create shell document registry entry";
inline constexpr char kInsertableKeyMessage[] = "Unable to create document insertable key";
inline constexpr char kDocumentSuffixMessage[] = "Unable to create ASCII document suffix entry";

// "Unable to create Value <text>": a value of a class key could not be written.
std::string ValueNotWrittenMessage(const std::string& text);

// The host executable's base name, which decides whether a command line gets
// the product switch.
inline constexpr char kHostExecutableName[] = "TolvaneModeler";

// "\"<directory><base_name>.exe\"": an executable's path in quotes, so that
// CreateProcess cannot stop at a blank in it and start another program.
// `directory` ends in its separator.
std::string QuotedExecutablePath(std::string_view directory, std::string_view base_name);

}  // namespace plg
