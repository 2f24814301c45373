// Host settings under the product version key
// (HKLM\Software\Tolvanics\Pellagor\38.0): the customization library, the
// PFS view class and the two GUI defaults. Each acts only when registering;
// unregistration removes the product version key as a whole.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "registry/registration_mode.h"

namespace plg {

// Customization\"DLL" = the module's full path.
void RegisterCustomizationDll(Platform& platform, RegistrationMode mode,
                              const std::string& module_path);
// PFSView\"DLL" = the language document class identifier (string 428).
void RegisterPfsView(Platform& platform, RegistrationMode mode);
// GUIDefaults\"CtrlStreamFixedOnly" and "CustomModelingOn", REG_DWORD 0 or 1
// from the boolean texts of strings 433 and 432.
void RegisterGuiDefaults(Platform& platform, RegistrationMode mode);

// 1 for "TRUE" in any letter case or exactly "1"; 0 for every other text.
int BooleanTextValue(std::string_view text);

}  // namespace plg
