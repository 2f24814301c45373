// Name-based UUIDs (version 5: SHA-1 of a namespace and a name), which give
// the fragment's components identities that follow their contents.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace plg::tool {

// The SHA-1 digest of `data`.
std::array<std::uint8_t, 20> Sha1(std::string_view data);

// The version 5 UUID of `name` in the namespace `name_space` (a UUID in
// registry form, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"), in registry form
// with upper-case digits. An ill-formed namespace counts as the nil UUID.
std::string NameBasedUuid(std::string_view name_space, std::string_view name);

}  // namespace plg::tool
