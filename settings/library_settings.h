// The files the host uses by default as the product: the suffix pairing, the
// default libraries and the script library, under the product version key.
// Each acts only when registering.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "registry/registration_mode.h"

namespace plg {

// Suffix\"ASCII" = "plgf,Pellagor Language".
void RegisterSuffixSettings(Platform& platform, RegistrationMode mode);
// Default Libraries\<name> = <lib directory>\<name>, per name of string 429.
void RegisterDefaultLibraries(Platform& platform, RegistrationMode mode);
// Script Library\"Default" = string 438 without leading white space.
void RegisterScriptSettings(Platform& platform, RegistrationMode mode);

// The entries of a comma-separated list, in order; empty entries dropped,
// blanks kept.
std::vector<std::string> SplitLibraryList(std::string_view list);

}  // namespace plg
