// The automation application class: "PLG Application", its versioned ProgID,
// the version marker PLG Application\CurVer and the class key. Runs last in
// both modes, so every earlier step still sees the marker.
#pragma once

#include "platform/platform.h"
#include "registry/registration_mode.h"

namespace plg {

void RegisterApplicationClass(Platform& platform, RegistrationMode mode);

}  // namespace plg
