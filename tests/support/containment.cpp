#include "tests/support/containment.h"

#include <iterator>

#include "registrar/owned_keys.h"

namespace plg::testing {

namespace {

bool IsWrite(RegOp op) {
  return op == RegOp::kCreateKey || op == RegOp::kSetValue || op == RegOp::kDeleteKey ||
         op == RegOp::kDeleteValue;
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

bool Allowed(const RegCall& call) {
  thread_local std::u16string path;
  CanonicalKeyPath(call.path, &path);
  for (std::size_t i = 0; i < std::size(kOwnedKeys); ++i) {
    const OwnedKey& owned = kOwnedKeys[i];
    const std::u16string& top = CanonicalOwnedPaths()[i];
    // Compared without memcmp, which would report every comparison to the
    // fuzzer.
    const bool same_or_beneath = IsCanonicalKeyOrBeneath(path, top);
    const bool same = same_or_beneath && path.size() == top.size();
    switch (owned.scope) {
      case OwnedScope::kSubtree:
        if (same_or_beneath) return true;
        break;
      case OwnedScope::kOpenOnly:
        if (same && call.op == RegOp::kCreateKey) return true;
        break;
      case OwnedScope::kOneValue:
        if (same && call.op == RegOp::kCreateKey) return true;
        if (same && (call.op == RegOp::kSetValue || call.op == RegOp::kDeleteValue) &&
            EqualsFolded(call.value, owned.value)) {
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
