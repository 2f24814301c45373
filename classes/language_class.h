// The COM class of the language document (CLSID\ + string 428), and the
// library document class's icon (CLSID\ + string 427 + \DefaultIcon).
#pragma once

#include <string>

#include "platform/platform.h"
#include "registry/registration_mode.h"

namespace plg {

void RegisterLanguageClass(Platform& platform, RegistrationMode mode,
                           const std::string& module_path);

}  // namespace plg
