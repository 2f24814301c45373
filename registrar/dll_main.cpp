// The module entry and the two self-registration exports.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_ui.h"
#include "registrar/registration_driver.h"

namespace {

HINSTANCE g_module_instance = nullptr;
// Set by DllRegisterServer; left as it was by DllUnregisterServer.
std::string g_module_path;

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

template <typename Body>
HRESULT RunExport(Body body) {
  try {
    plg::Win32Registry registry;
    plg::MessageBoxReporter reporter;
    // Strings come from this module's own table, not the caller's.
    plg::ModuleStrings strings(g_module_instance);
    plg::Platform platform{registry, reporter, strings};
    return static_cast<HRESULT>(body(platform));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  g_module_instance = instance;
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return RunExport([](plg::Platform& platform) {
    g_module_path = ReadModulePath(g_module_instance);
    return plg::RegisterProduct(platform, g_module_path);
  });
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  return RunExport([](plg::Platform& platform) {
    return plg::UnregisterProduct(platform);
  });
}
