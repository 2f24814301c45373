#include "tests/support/containment.h"

#include <iterator>

namespace plg::testing {

namespace {

enum class Scope {
  kSubtree,    // the key and everything beneath it
  kOpenOnly,   // may be created or opened as a parent, nothing more
  kOneValue,   // may be created; only the named value is written or deleted
};

struct OwnedKey {
  const char* path;
  Scope scope;
  const char* value = nullptr;
};

constexpr OwnedKey kOwnedKeys[] = {
#define OWNED_KEY(path, scope, value) {path, Scope::scope, value},
#include "tests/support/owned_keys.def"
#undef OWNED_KEY
};

bool IsWrite(RegOp op) {
  return op == RegOp::kCreateKey || op == RegOp::kSetValue ||
         op == RegOp::kDeleteKey || op == RegOp::kDeleteValue;
}

// The owned keys' canonical paths, computed once: the fuzzer checks every
// call of every run against all of them.
const std::vector<std::u16string>& CanonicalOwnedPaths() {
  static const std::vector<std::u16string> paths = [] {
    std::vector<std::u16string> canonical;
    for (const OwnedKey& owned : kOwnedKeys) canonical.push_back(CanonicalKeyPath(owned.path));
    return canonical;
  }();
  return paths;
}

// A plain loop: memcmp would report every comparison to the fuzzer.
bool StartsWith(const std::u16string& text, const std::u16string& prefix) {
  const char16_t* a = text.data();
  const char16_t* b = prefix.data();
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

bool Allowed(const RegCall& call) {
  thread_local std::u16string path;
  CanonicalKeyPath(call.path, &path);
  for (std::size_t i = 0; i < std::size(kOwnedKeys); ++i) {
    const OwnedKey& owned = kOwnedKeys[i];
    const std::u16string& top = CanonicalOwnedPaths()[i];
    const bool starts = path.size() >= top.size() && StartsWith(path, top);
    const bool same = starts && path.size() == top.size();
    const bool beneath = starts && path.size() > top.size() && path[top.size()] == u'\\';
    switch (owned.scope) {
      case Scope::kSubtree:
        if (same || beneath) return true;
        break;
      case Scope::kOpenOnly:
        if (same && call.op == RegOp::kCreateKey) return true;
        break;
      case Scope::kOneValue:
        if (same && call.op == RegOp::kCreateKey) return true;
        if (same && (call.op == RegOp::kSetValue || call.op == RegOp::kDeleteValue) &&
            CanonicalKeyPath(call.value) == CanonicalKeyPath(owned.value)) {
          return true;
        }
        break;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> CallsOutsideProduct(const std::vector<RegCall>& calls) {
  std::vector<std::string> outside;
  for (const RegCall& call : calls) {
    if (!IsWrite(call.op) || Allowed(call)) continue;
    std::string line = std::string(RegOpName(call.op)) + " " + call.path;
    if (call.op == RegOp::kSetValue || call.op == RegOp::kDeleteValue) {
      line += " value \"" + call.value + "\"";
    }
    outside.push_back(line);
  }
  return outside;
}

}  // namespace plg::testing
