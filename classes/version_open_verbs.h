// One Open verb per release of the shared modelling system that a registered
// product version uses, beneath the language document type's shell key.
#pragma once

#include <string>

#include "platform/platform.h"

namespace plg {

// Writes "<shell_key_path>Open Pellagor <label>\command" for each version
// found in the 32-bit view, then the native view. `shell_key_path` ends in a
// backslash ("Pellagor Language\shell\").
void AddVersionOpenVerbs(Platform& platform, std::string shell_key_path);

// "Open <display name> <label>": the verb of the release labelled `label`.
std::string VersionVerbName(const std::string& display_name, const std::string& label);
// "<language ProgID>\shell\Open <display name> <label>", relative to
// HKEY_CLASSES_ROOT; with an empty label, what every release's verb key
// starts with.
std::string VersionVerbKeyPath(const Platform& platform, const std::string& label);

// Removes the verb of the release labelled V12, with its command.
void RemoveVersionOpenVerbs(Platform& platform);

}  // namespace plg
