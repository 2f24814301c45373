// The module entry and the self-registration exports.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win32/export_turn.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_ui.h"
#include "registrar/install_options.h"
#include "registrar/registration_driver.h"

namespace {

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

// The package registers the event source, with this module as its message
// file.
constexpr wchar_t kEventSource[] = L"Pellagor";

// Export calls run one at a time; one made from inside a running call's
// message box, on its own thread, returns at once (export_turn.h).
plg::ExportLock g_export_lock;

// Runs one export's work with the Win32 registry, this module's strings and
// the message delivery the caller can take. Nothing escapes: out of memory
// returns E_OUTOFMEMORY, any other failure E_UNEXPECTED with an event, a
// re-entered call ERROR_BUSY with an event (registration_driver.h).
template <typename Body>
HRESULT RunExport(bool quiet, Body body) noexcept {
  plg::ExportTurn turn(g_export_lock);
  plg::Win32EventLog events(kEventSource);
  if (!turn.entered()) {
    plg::WriteReentryEvent(events);
    return static_cast<HRESULT>(plg::kResultBusy);
  }
  plg::Win32Registry registry;
  plg::MessageBoxReporter boxes;
  plg::DebugOutputReporter debug_output;
  plg::MessageReporter& reporter =
      plg::ChooseMessageDelivery(quiet, plg::IsInteractiveWindowStation(), plg::IsSessionZero(),
                                 plg::IsInputDesktop()) == plg::MessageDelivery::kMessageBox
          ? static_cast<plg::MessageReporter&>(boxes)
          : debug_output;
  // Strings come from this module's own table, not the caller's.
  plg::ModuleStrings strings(g_module_instance);
  plg::Platform platform{registry, reporter, strings, events};
  return static_cast<HRESULT>(plg::RunExportCall(platform, body));
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
