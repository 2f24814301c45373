// The keys the module owns (registrar/owned_keys.def) as one table, for the
// installer's rollback record and the tests' containment check.
#pragma once

namespace plg {

enum class OwnedScope {
  kSubtree,   // the key and everything beneath it
  kOpenOnly,  // may be created or opened as a parent, nothing more
  kOneValue,  // may be created; only the named value is written or deleted
};

struct OwnedKey {
  const char* path;
  OwnedScope scope;
  const char* value;  // kOneValue's value; nullptr for the others
};

inline constexpr OwnedKey kOwnedKeys[] = {
#define OWNED_KEY(path, scope, value) {path, OwnedScope::scope, value},
#include "registrar/owned_keys.def"
#undef OWNED_KEY
};

}  // namespace plg
