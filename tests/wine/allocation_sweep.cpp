// The allocation sweep of the module's code as the DLL runs it: the Win32
// registry, the module's strings and event log, and the export boundary,
// built as the module is. For every n, allocation n of a registration (and
// of the unregistration after it) and every one after it fail: each run
// must return E_OUTOFMEMORY with no key left open and no block left
// allocated, and the run past the last allocation must return what a run
// without failures does. Prints one line per mode; exit code 0 when all of
// that holds.
#include <windows.h>

#include <cstddef>
#include <cstdio>

#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_ui.h"
#include "registrar/registration_driver.h"
#include "tests/support/failing_allocations.h"

namespace {

constexpr char kModulePath[] = "C:\\Program Files\\Pellagor\\plgproduct.dll";

struct Run {
  long result;
  std::size_t allocations;
  std::size_t open_keys;
};

Run RunOnce(bool unregister, std::size_t fail_from) {
  plg::Win32Registry registry;
  plg::DebugOutputReporter reporter;
  plg::ModuleStrings strings(GetModuleHandleW(nullptr));
  plg::Win32EventLog events(L"Pellagor");
  plg::Platform platform{registry, reporter, strings, events};
  plg::testing::FailingAllocations failing(fail_from);
  const long result = plg::RunExportCall(platform, [&](plg::Platform& p) {
    return unregister ? plg::UnregisterProduct(p) : plg::RegisterProduct(p, kModulePath);
  });
  return Run{result, failing.counted(), registry.open_keys()};
}

bool Sweep(bool unregister) {
  const char* what = unregister ? "unregistration" : "registration";
  for (std::size_t n = 1;; ++n) {
    if (unregister && RunOnce(false, 0).result == plg::kResultOutOfMemory) return false;
    const std::size_t live_before = plg::testing::LiveAllocations();
    const Run run = RunOnce(unregister, n);
    if (run.open_keys != 0) {
      std::printf("%s: %zu key(s) left open when allocations failed from %zu on\n", what,
                  run.open_keys, n);
      return false;
    }
    if (plg::testing::LiveAllocations() != live_before) {
      std::printf("%s: %zu block(s) left when allocations failed from %zu on\n", what,
                  plg::testing::LiveAllocations() - live_before, n);
      return false;
    }
    if (run.result == plg::kResultOutOfMemory) continue;
    std::printf("%s allocation sweep: %zu allocations, %zu runs: %zu E_OUTOFMEMORY, 1 0x%08lx\n",
                what, run.allocations, n, n - 1, static_cast<unsigned long>(run.result));
    return run.allocations == n - 1 && run.allocations > 0;
  }
}

}  // namespace

int main() {
  const bool registered = Sweep(false);
  const bool unregistered = Sweep(true);
  return registered && unregistered ? 0 : 1;
}
