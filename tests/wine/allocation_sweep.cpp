// The allocation sweep of the module's code as the DLL runs it: the Win32
// registry, the module's operator new (registrar/module_runtime.cpp, linked
// in) and the export call's recovery, built as the module is. Every
// allocation of a registration, and of the unregistration after it, fails
// in turn: each run must return E_OUTOFMEMORY with no key left open, and the
// run past the last allocation must return what a run without failures
// does. Prints one line per mode; exit code 0 when all of that holds.
#include <windows.h>

#include <cstddef>
#include <cstdio>

#include "platform/call_memory.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_ui.h"
#include "registrar/registration_driver.h"

namespace {

constexpr char kModulePath[] = "C:\\Program Files\\Pellagor\\plgproduct.dll";

// The Win32 registry, counting the keys it holds open.
class CountingRegistry : public plg::Win32Registry {
 public:
  int open() const { return open_; }

 protected:
  plg::RegStatus DoCreateKey(const plg::RegKey& parent, std::string_view path,
                             plg::RegAccess access, plg::KeyHandle* handle) override {
    return Counted(Win32Registry::DoCreateKey(parent, path, access, handle));
  }
  plg::RegStatus DoOpenKey(const plg::RegKey& parent, std::string_view path, plg::RegAccess access,
                           plg::KeyHandle* handle) override {
    return Counted(Win32Registry::DoOpenKey(parent, path, access, handle));
  }
  void DoCloseKey(plg::KeyHandle handle) override {
    --open_;
    Win32Registry::DoCloseKey(handle);
  }

 private:
  plg::RegStatus Counted(plg::RegStatus status) {
    if (status == plg::kSuccess) ++open_;
    return status;
  }

  int open_ = 0;
};

long Run(bool unregister, std::size_t failing, int* open) {
  CountingRegistry registry;
  plg::DebugOutputReporter reporter;
  plg::ModuleStrings strings(GetModuleHandleW(nullptr));
  plg::Win32EventLog events(L"Pellagor");
  plg::Platform platform{registry, reporter, strings, events};
  plg::FailCallAllocation(failing);
  const long result = plg::RunExportCall(platform, [&](plg::Platform& p) {
    return unregister ? plg::UnregisterProduct(p) : plg::RegisterProduct(p, kModulePath);
  });
  plg::FailCallAllocation(0);
  *open = registry.open();
  return result;
}

bool Sweep(bool unregister) {
  const char* what = unregister ? "unregistration" : "registration";
  int open = 0;
  for (std::size_t n = 1;; ++n) {
    if (unregister && Run(false, 0, &open) == plg::kResultOutOfMemory) return false;
    const long result = Run(unregister, n, &open);
    if (open != 0) {
      std::printf("%s: %d key(s) left open when allocation %zu failed\n", what, open, n);
      return false;
    }
    if (result == plg::kResultOutOfMemory) continue;
    const std::size_t allocations = plg::LastCallAllocations();
    std::printf("%s allocation sweep: %zu allocations, %zu runs: %zu E_OUTOFMEMORY, 1 0x%08lx\n",
                what, allocations, n, n - 1, static_cast<unsigned long>(result));
    return allocations == n - 1 && allocations > 0;
  }
}

}  // namespace

int main() {
  const bool registered = Sweep(false);
  const bool unregistered = Sweep(true);
  return registered && unregistered ? 0 : 1;
}
