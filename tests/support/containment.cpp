#include "tests/support/containment.h"

#include <bitset>
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

// Compared from the end (paths share their first keys) and without memcmp,
// which would report every comparison to the fuzzer.
bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = a.size(); i > 0; --i) {
    if (a[i - 1] != b[i - 1]) return false;
  }
  return true;
}

bool Allowed(const RegCall& call) {
  // A key's values are written right after it is created: most calls name
  // the key the one before named, whose place among the owned keys is still
  // known.
  thread_local std::string last_path;
  thread_local std::bitset<std::size(kOwnedKeys)> beneath;  // same or beneath
  thread_local std::bitset<std::size(kOwnedKeys)> same;
  thread_local bool cached = false;
  if (!cached || !SameText(call.path, last_path)) {
    cached = false;
    thread_local std::u16string path;
    CanonicalKeyPath(call.path, &path);
    for (std::size_t i = 0; i < std::size(kOwnedKeys); ++i) {
      const std::u16string& top = CanonicalOwnedPaths()[i];
      // Compared without memcmp, which would report every comparison to the
      // fuzzer.
      beneath[i] = IsCanonicalKeyOrBeneath(path, top);
      same[i] = beneath[i] && path.size() == top.size();
    }
    last_path = call.path;
    cached = true;
  }
  for (std::size_t i = 0; i < std::size(kOwnedKeys); ++i) {
    const OwnedKey& owned = kOwnedKeys[i];
    switch (owned.scope) {
      case OwnedScope::kSubtree:
        if (beneath[i]) return true;
        break;
      case OwnedScope::kOpenOnly:
        if (same[i] && call.op == RegOp::kCreateKey) return true;
        break;
      case OwnedScope::kOneValue:
        if (same[i] && call.op == RegOp::kCreateKey) return true;
        if (same[i] && (call.op == RegOp::kSetValue || call.op == RegOp::kDeleteValue) &&
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
