// The module entry and the self-registration exports.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_ui.h"
#include "registrar/install_options.h"
#include "registrar/registration_driver.h"

namespace {

// The module holds no object that needs constructing: it is linked without
// the C runtime's start-up (registrar/CMakeLists.txt), so DllMain is the
// whole of what a load runs.
HINSTANCE g_module_instance = nullptr;

// The module's full file name, however long the path.
std::string ReadModulePath(HINSTANCE module) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    if (buffer.size() >= 32768) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// Export calls run one at a time: a call's memory is the module's one
// running call's (platform/call_memory.h).
SRWLOCK g_export_lock = SRWLOCK_INIT;

// Runs one export's work with the Win32 registry, this module's strings and
// the message delivery the caller can take, as one call: memory running out
// returns E_OUTOFMEMORY with every key closed (module_runtime.cpp).
template <typename Body>
HRESULT RunExport(bool quiet, Body body) {
  AcquireSRWLockExclusive(&g_export_lock);
  plg::Win32Registry registry;
  plg::MessageBoxReporter boxes;
  plg::DebugOutputReporter debug_output;
  plg::MessageReporter& reporter =
      plg::ChooseMessageDelivery(quiet, plg::IsInteractiveWindowStation(), plg::IsSessionZero()) ==
              plg::MessageDelivery::kMessageBox
          ? static_cast<plg::MessageReporter&>(boxes)
          : debug_output;
  // Strings come from this module's own table, not the caller's.
  plg::ModuleStrings strings(g_module_instance);
  // The package registers the source, with this module as its message file.
  plg::Win32EventLog events(L"Pellagor");
  plg::Platform platform{registry, reporter, strings, events};
  const long result = plg::RunExportCall(platform, body);
  ReleaseSRWLockExclusive(&g_export_lock);
  return static_cast<HRESULT>(result);
}

HRESULT Register(bool quiet) {
  return RunExport(quiet, [](plg::Platform& platform) {
    return plg::RegisterProduct(platform, ReadModulePath(g_module_instance));
  });
}

HRESULT Unregister(bool quiet) {
  return RunExport(quiet, [](plg::Platform& platform) { return plg::UnregisterProduct(platform); });
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  g_module_instance = instance;
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return Register(false); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return Unregister(false); }

// regsvr32 /i:"quiet" (with /u to unregister, with /n to skip the plain
// export): the same work, every message to the debug output only. An unknown
// option touches nothing.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, PCWSTR command_line) {
  const std::optional<plg::InstallOptions> options = plg::ParseInstallCommandLine(command_line);
  if (!options) return E_INVALIDARG;
  return install ? Register(options->quiet) : Unregister(options->quiet);
}
