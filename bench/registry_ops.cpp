// Registry operations of one register and unregister cycle, counted on the
// in-memory registry, against the entries (keys and values) that the cycle
// writes and removes, and against the fewest calls that could make the same
// changes. Prints one line per phase:
//   register calls=N CreateKey=N ... entries=N keys=N values=N floor=N
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "bench/bench_machine.h"
#include "registrar/registration_driver.h"

namespace plg::bench {
namespace {

using EntryId = std::tuple<std::string, bool, std::string>;  // key, is value, name
using Image = std::map<EntryId, RegEntry>;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

Image TakeImage(const MemoryRegistry& registry) {
  Image image;
  for (const RegEntry& entry : registry.Snapshot("HKEY_LOCAL_MACHINE")) {
    image[{Lower(entry.key), entry.is_value, Lower(entry.name)}] = entry;
  }
  return image;
}

std::string ParentOf(const std::string& key) {
  const std::size_t cut = key.rfind('\\');
  return cut == std::string::npos ? std::string() : key.substr(0, cut);
}

struct Phase {
  std::map<RegOp, int> calls;
  int total = 0;
  int keys = 0;
  int values = 0;
  int floor = 0;
};

void CountCalls(const MemoryRegistry& registry, Phase* phase) {
  for (const RegCall& call : registry.calls()) {
    ++phase->calls[call.op];
    ++phase->total;
  }
}

// Written: new keys and new or changed values. The floor creates each key
// that gets a value or has no new subkey (its parents come with it) and sets
// each value; closing is not counted, as the call log has no closes.
void CountWritten(const Image& before, const Image& after, Phase* phase) {
  std::set<std::string> new_keys, keys_with_values, parents_of_new;
  for (const auto& [id, entry] : after) {
    auto old = before.find(id);
    const bool is_value = std::get<1>(id);
    if (!is_value && old == before.end()) {
      ++phase->keys;
      new_keys.insert(std::get<0>(id));
      parents_of_new.insert(ParentOf(std::get<0>(id)));
    }
    if (is_value && (old == before.end() || !(old->second == entry))) {
      ++phase->values;
      ++phase->floor;
      keys_with_values.insert(std::get<0>(id));
    }
  }
  std::set<std::string> created = keys_with_values;
  for (const std::string& key : new_keys) {
    if (!parents_of_new.count(key)) created.insert(key);
  }
  phase->floor += static_cast<int>(created.size());
}

// Removed: keys and values that are gone. The floor deletes each topmost
// removed key with one tree deletion and each other value with one call.
void CountRemoved(const Image& before, const Image& after, Phase* phase) {
  std::set<std::string> removed_keys;
  for (const auto& [id, entry] : before) {
    if (after.count(id)) continue;
    if (std::get<1>(id)) {
      ++phase->values;
    } else {
      ++phase->keys;
      removed_keys.insert(std::get<0>(id));
    }
  }
  for (const std::string& key : removed_keys) {
    if (!removed_keys.count(ParentOf(key))) ++phase->floor;
  }
  for (const auto& [id, entry] : before) {
    if (std::get<1>(id) && !after.count(id) && !removed_keys.count(std::get<0>(id))) {
      ++phase->floor;
    }
  }
}

void Print(const char* name, const Phase& phase) {
  std::printf("%s calls=%d", name, phase.total);
  for (RegOp op : {RegOp::kCreateKey, RegOp::kOpenKey, RegOp::kSetValue, RegOp::kQueryValue,
                   RegOp::kQueryInfo, RegOp::kEnumKey, RegOp::kDeleteKey, RegOp::kDeleteValue}) {
    auto it = phase.calls.find(op);
    std::printf(" %s=%d", RegOpName(op), it == phase.calls.end() ? 0 : it->second);
  }
  std::printf(" entries=%d keys=%d values=%d floor=%d\n", phase.keys + phase.values, phase.keys,
              phase.values, phase.floor);
}

int Run() {
  BenchMachine machine;
  MemoryRegistry& registry = *machine.registry;
  // One cycle first, so that the counted one starts from the state every
  // later cycle starts from (the emptied product key stays).
  if (RegisterProduct(machine.platform, kDefaultModulePath) != kResultOk ||
      UnregisterProduct(machine.platform) != kResultOk) {
    std::fprintf(stderr, "registry_ops: a cycle showed messages\n");
    return 1;
  }

  Phase reg, unreg;
  const Image clean = TakeImage(registry);
  registry.ClearCalls();
  const long registered = RegisterProduct(machine.platform, kDefaultModulePath);
  CountCalls(registry, &reg);
  const Image registered_image = TakeImage(registry);
  CountWritten(clean, registered_image, &reg);

  registry.ClearCalls();
  const long unregistered = UnregisterProduct(machine.platform);
  CountCalls(registry, &unreg);
  CountRemoved(registered_image, TakeImage(registry), &unreg);

  if (registered != kResultOk || unregistered != kResultOk) {
    std::fprintf(stderr, "registry_ops: the counted cycle showed messages\n");
    return 1;
  }
  Print("register", reg);
  Print("unregister", unreg);
  return 0;
}

}  // namespace
}  // namespace plg::bench

int main() { return plg::bench::Run(); }
