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

// Where a canonical path lies among the owned keys, row by row.
struct Place {
  std::bitset<std::size(kOwnedKeys)> beneath;  // the key itself or beneath it
  std::bitset<std::size(kOwnedKeys)> same;     // the key itself
};

// The place of `path`. The last one is kept: a key's values are written
// right after it is created, so most calls name the key the one before named.
const Place& PlaceOf(const std::string& path) {
  thread_local std::string last_path;
  thread_local Place place;
  thread_local bool known = false;
  if (known && SameText(path, last_path)) return place;
  known = false;
  thread_local std::u16string canonical;
  CanonicalKeyPath(path, &canonical);
  for (std::size_t i = 0; i < std::size(kOwnedKeys); ++i) {
    const std::u16string& top = CanonicalOwnedPaths()[i];
    place.beneath[i] = IsCanonicalKeyOrBeneath(canonical, top);
    place.same[i] = place.beneath[i] && canonical.size() == top.size();
  }
  last_path = path;
  known = true;
  return place;
}

bool Allowed(const RegCall& call) {
  const Place& place = PlaceOf(call.path);
  for (std::size_t i = 0; i < std::size(kOwnedKeys); ++i) {
    const OwnedKey& owned = kOwnedKeys[i];
    switch (owned.scope) {
      case OwnedScope::kSubtree:
        if (place.beneath[i]) return true;
        break;
      case OwnedScope::kOpenOnly:
        if (place.same[i] && call.op == RegOp::kCreateKey) return true;
        break;
      case OwnedScope::kOneValue:
        if (place.same[i] && call.op == RegOp::kCreateKey) return true;
        if (place.same[i] && (call.op == RegOp::kSetValue || call.op == RegOp::kDeleteValue) &&
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
