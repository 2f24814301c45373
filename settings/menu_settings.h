// The host's menus when it runs as the product: the menu edit rows and the
// Help menu, under the product version key. Each acts only when registering.
#pragma once

#include "platform/platform.h"
#include "registry/registration_mode.h"

namespace plg {

// Writes rows[i] as value "%04d" of Menus\Customization, in order.
void RegisterMenuEdits(Platform& platform, RegistrationMode mode, const char* const* rows,
                       int count);
// Writes the nine Help menu lines "0" to "8" of Menus\Help.
void RegisterHelpMenu(Platform& platform, RegistrationMode mode);

}  // namespace plg
