// How registration's cost grows on the in-memory registry: with the number
// of product versions and releases that the document class step turns into
// Open verbs, and with the size of a ProgID tree that a tree deletion
// removes. Also one whole register and unregister cycle, for scale.
#include <benchmark/benchmark.h>

#include "bench/bench_machine.h"
#include "classes/document_class.h"
#include "registrar/registration_driver.h"
#include "registry/registry_helpers.h"

namespace plg::bench {
namespace {

void BM_DocumentClassWithVersions(benchmark::State& state) {
  BenchMachine machine;
  SeedVersions(*machine.registry, static_cast<int>(state.range(0)));
  // The first registration writes the verbs; every later one deletes them
  // with the ProgID tree and writes them again, as a re-registration does.
  RegisterDocumentClass(machine.platform, kRegister, kDefaultModulePath);
  for (auto _ : state) {
    RegisterDocumentClass(machine.platform, kRegister, kDefaultModulePath);
    state.PauseTiming();
    machine.registry->ClearCalls();
    state.ResumeTiming();
  }
  state.counters["versions"] = static_cast<double>(state.range(0));
  if (!machine.reporter.messages().empty()) state.SkipWithError("messages were shown");
}
BENCHMARK(BM_DocumentClassWithVersions)
    ->RangeMultiplier(10)
    ->Range(1, 1000)
    ->Unit(benchmark::kMicrosecond);

void BM_DeleteProgIdTree(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  BenchMachine machine;
  for (auto _ : state) {
    state.PauseTiming();
    SeedProgIdTree(*machine.registry, keys);
    machine.registry->ClearCalls();
    state.ResumeTiming();
    const bool deleted =
        DeleteRegistryTree(machine.platform, RegistryRoot::kClassesRoot, "Pellagor Language");
    benchmark::DoNotOptimize(deleted);
    if (!deleted) state.SkipWithError("the tree was not deleted");
  }
  state.counters["keys"] = keys;
}
BENCHMARK(BM_DeleteProgIdTree)
    ->RangeMultiplier(10)
    ->Range(10, 100000)
    ->Unit(benchmark::kMicrosecond);

void BM_RegistrationCycle(benchmark::State& state) {
  BenchMachine machine;
  for (auto _ : state) {
    const long registered = RegisterProduct(machine.platform, kDefaultModulePath);
    const long unregistered = UnregisterProduct(machine.platform);
    if (registered != kResultOk || unregistered != kResultOk) {
      state.SkipWithError("a cycle did not return S_OK");
    }
    state.PauseTiming();
    machine.registry->ClearCalls();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_RegistrationCycle)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace plg::bench

BENCHMARK_MAIN();
