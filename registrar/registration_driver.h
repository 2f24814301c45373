// The thirteen registration steps in their one fixed order, and the logic of
// the two exports.
#pragma once

#include <string>

#include "platform/call_memory.h"
#include "platform/platform.h"
#include "registry/registration_mode.h"

namespace plg {

// HRESULTs the exports return.
inline constexpr long kResultOk = 0;
inline constexpr long kResultSelfRegClassError = static_cast<long>(0x80040201);
inline constexpr long kResultOutOfMemory = static_cast<long>(0x8007000E);  // E_OUTOFMEMORY

// Runs every step with `mode`, in the same order for both modes. No step's
// failure stops the run.
void RunRegistrationSteps(Platform& platform, RegistrationMode mode,
                          const std::string& module_path);

// DllRegisterServer: the product's own entries, then every step. S_OK when no
// message was shown; SELFREG_E_CLASS when any was (every step still ran).
long RegisterProduct(Platform& platform, const std::string& module_path);

// DllUnregisterServer: removes the product's own entries, then runs every
// step in unregistration mode. Removals report nothing: always S_OK unless a
// message was shown.
long UnregisterProduct(Platform& platform);

// An export's work, `work(platform)`, as one call of platform/call_memory.h:
// its result, or kResultOutOfMemory when memory ran out, every key the call
// opened then closed and every block it allocated freed.
template <typename Work>
long RunExportCall(Platform& platform, Work work) {
  long result = kResultOutOfMemory;
  auto body = [&] { result = work(platform); };
  return RunCall(platform.registry, body) ? result : kResultOutOfMemory;
}

}  // namespace plg
