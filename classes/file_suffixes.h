// The file suffixes .plgf and .hvxl and the library document type
// ("Tolvane Model Library"), which every product of the shared system shares.
#pragma once

#include "platform/platform.h"
#include "registry/registration_mode.h"

namespace plg {

void RegisterFileSuffixes(Platform& platform, RegistrationMode mode);
void RegisterLibraryClass(Platform& platform, RegistrationMode mode);

}  // namespace plg
