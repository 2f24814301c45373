// The language document type under HKEY_CLASSES_ROOT: the ProgID of string
// 422 with its class identifier, icon, application name, Insertable marker,
// Open and Edit commands and the per-release Open verbs.
#pragma once

#include <string>

#include "platform/platform.h"
#include "registry/registration_mode.h"

namespace plg {

void RegisterDocumentClass(Platform& platform, RegistrationMode mode,
                           const std::string& module_path);

}  // namespace plg
