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
    {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics", Scope::kOpenOnly},
    {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor", Scope::kSubtree},
    {"HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options", Scope::kOneValue, "plg"},
    {"HKEY_CLASSES_ROOT\\Pellagor Language", Scope::kSubtree},
    {"HKEY_CLASSES_ROOT\\.plgf", Scope::kSubtree},
    {"HKEY_CLASSES_ROOT\\.hvxl", Scope::kSubtree},
    {"HKEY_CLASSES_ROOT\\Tolvane Model Library", Scope::kSubtree},
    {"HKEY_CLASSES_ROOT\\CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}", Scope::kSubtree},
    {"HKEY_CLASSES_ROOT\\CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}", Scope::kSubtree},
    {"HKEY_CLASSES_ROOT\\PLG Application", Scope::kSubtree},
    {"HKEY_CLASSES_ROOT\\PLG Application 3800", Scope::kSubtree},
    {"HKEY_CLASSES_ROOT\\CLSID\\{9A37E4C0-61B2-0380-A5D8-4C0F27B19E35}", Scope::kSubtree},
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
