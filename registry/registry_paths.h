// The keys beneath HKEY_LOCAL_MACHINE where the product and the shared
// modelling system live, each built here from the names below. The registry
// folds letter case, but every path keeps the spelling its step has always
// passed ("Software" or "SOFTWARE", "Kelsys" or "KELSYS"), so that the calls
// stay exactly as they were.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace plg {

// The product version, fixed in the code.
inline constexpr int kProductMajorVersion = 38;
inline constexpr int kProductMinorVersion = 0;

// The company key beneath the software key, which holds the product's key
// and the shared system's.
inline constexpr char kCompanyName[] = "Tolvanics";
// The shared modelling system's name: its key beneath the company key, and
// the folder name its installer gives each release ("...\Kelsys V12\bin\").
inline constexpr char kSharedSystemName[] = "Kelsys";
// The shared system's key as the release views spell it.
inline constexpr char kSharedSystemNameUpper[] = "KELSYS";

// The software key beneath HKEY_LOCAL_MACHINE, as most steps spell it and as
// two library settings and the release views spell it.
inline constexpr char kSoftwareKey[] = "Software";
inline constexpr char kSoftwareKeyUpper[] = "SOFTWARE";

// "38.0".
std::string GetVersionString();

// "Software\Tolvanics": the company key.
std::string GetCompanyKeyPath();
// "Kelsys\38.0\Options", relative to the company key.
std::string GetOptionsSubkeyPath();
// "Software\Tolvanics\Kelsys\38.0\Options": one value per product registered
// with the shared modelling system.
std::string GetOptionsKeyPath();
// "Software\Tolvanics\Kelsys\38.0\Dir": the shared system's directories.
std::string GetDirKeyPath();

// "<software>\Tolvanics\<product name>\38.0", then "\<subkey>" unless
// `subkey` is empty; the product name is string 409 taken literally.
// `software` is kSoftwareKey or kSoftwareKeyUpper.
std::string GetProductVersionKeyPath(const Platform& platform,
                                     std::string_view software = kSoftwareKey,
                                     std::string_view subkey = {});

// The two registry views in which the shared system keeps its releases and
// the product its versions: the 32-bit programs' view beneath Wow6432Node,
// and the native one.
enum class RegistryView { k32Bit, kNative };

// "SOFTWARE\Wow6432Node\Tolvanics\KELSYS\" or "SOFTWARE\Tolvanics\KELSYS\":
// the shared system's releases in `view`, the trailing backslash included.
std::string GetReleasesKeyPath(RegistryView view);
// "SOFTWARE\Wow6432Node\Tolvanics\<product_name>\" or
// "SOFTWARE\Tolvanics\<product_name>\": the product's versions in `view`.
std::string GetProductViewKeyPath(RegistryView view, std::string_view product_name);

}  // namespace plg
