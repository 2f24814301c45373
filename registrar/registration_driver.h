// The thirteen registration steps in their one fixed order, and the logic of
// the two exports.
#pragma once

#include <new>
#include <string>

#include "platform/platform.h"
#include "registry/registration_mode.h"

namespace plg {

// HRESULTs the exports return.
inline constexpr long kResultOk = 0;
inline constexpr long kResultSelfRegClassError = static_cast<long>(0x80040201);
inline constexpr long kResultOutOfMemory = static_cast<long>(0x8007000E);  // E_OUTOFMEMORY
inline constexpr long kResultUnexpected = static_cast<long>(0x8000FFFF);   // E_UNEXPECTED
// HRESULT_FROM_WIN32(ERROR_BUSY): an export called again on the thread that
// is already inside one (from a message loop the first call runs).
inline constexpr long kResultBusy = static_cast<long>(0x800700AA);

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

// The events of a failure that ends an export: the exception being handled
// (its what() text when it has one), or a call that re-entered an export.
// Never throw: an event that cannot be written is dropped.
void WriteUnexpectedFailureEvent(EventLog& events) noexcept;
void WriteReentryEvent(EventLog& events) noexcept;

// The export boundary: `work(platform)`'s result, or kResultOutOfMemory when
// memory ran out, or kResultUnexpected and an event for any other exception.
// Nothing escapes: the stack's RegKeys have closed every key by then and its
// strings freed their memory.
template <typename Work>
long RunExportCall(Platform& platform, Work work) noexcept {
  try {
    return work(platform);
  } catch (const std::bad_alloc&) {
    return kResultOutOfMemory;
  } catch (...) {
    WriteUnexpectedFailureEvent(platform.events);
    return kResultUnexpected;
  }
}

}  // namespace plg
