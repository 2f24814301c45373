// The installer's custom actions, plgsetup.dll, carried in the package's
// Binary table and never installed. They run the module's registration in
// the installer's own process, deferred and not impersonated:
//
//   RegisterModule       Records the owned keys' state, then registers.
//   UnregisterModule     Records the owned keys' state, then unregisters;
//                        needs no module file.
//   RestoreRegistration  (rollback of both) puts the record back, deletes it.
//   CommitRegistration   (commit of both) deletes the record.
//   MarkUpgrade          (immediate, before RemoveExistingProducts) leaves
//                        the marker of each older build this one replaces.
//   ForgetUpgrade        (deferred, and the rollback of the removal) takes
//                        this build's markers away.
//
// The two read their CustomActionData, "[RollbackDisabled];" and, for the
// registration, the installed module's path after the semicolon: with
// rollback disabled (by policy, or by the DisableRollback action) neither
// rollback nor commit actions run, so no record is taken that nothing would
// delete. Each finds its record by the ProductCode property, which deferred
// actions can read. Every message of the registration goes to the installer's log as
// it happens (INSTALLMESSAGE_INFO), and to the Application event log as the
// module writes it; a failed action shows a row of the package's Error table
// and returns ERROR_INSTALL_FAILURE.
#include <windows.h>
// After windows.h, which these need.
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include <string>
#include <utility>
#include <vector>

#include "packaging/custom_action/rollback_record.h"
#include "platform/win32/win32_enumerating_registry.h"
#include "platform/win32/win32_ui.h"
#include "registrar/registration_driver.h"

namespace {

HINSTANCE g_instance = nullptr;

// The package's Error table rows (packaging/Pellagor.wxs).
constexpr int kRegistrationFailed = 25001;  // [2] the first failure, [3] how many followed
constexpr int kUnregistrationFailed = 25002;
constexpr int kRecordFailed = 25003;  // [2] the failure

// Who may write the rollback records: SYSTEM and Administrators, full
// control, inherited by every record; nobody else, not even to read.
constexpr wchar_t kRecordsRights[] = L"D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";

std::wstring Widened(const std::string& text) {
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), size);
  return wide;
}

// Wide text in the ANSI code page, as the module's GetModuleFileNameA gives
// its path.
std::string Narrowed(const std::wstring& text) {
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), length, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

// "error N: " and the system's text of error N, in the ANSI code page, without
// its line break.
std::string ErrorText(plg::RegStatus error) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) --length;
  return "error " + std::to_string(error) + ": " + std::string(text, length);
}

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  DWORD size = 0;
  wchar_t empty[1] = L"";
  if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) return std::wstring();
  std::vector<wchar_t> buffer(size + 1);
  size = static_cast<DWORD>(buffer.size());
  if (MsiGetPropertyW(install, name, buffer.data(), &size) != ERROR_SUCCESS) return std::wstring();
  return std::wstring(buffer.data(), size);
}

// The installer's log and the event log of one action. The registration's
// messages reach both: ReportRegistrationError writes each event (with the
// key and the error) just before it shows the message, so the line that
// Show sends carries them too.
class InstallerLog : public plg::MessageReporter, public plg::EventLog {
 public:
  explicit InstallerLog(MSIHANDLE install) : install_(install), events_(L"Pellagor") {}

  // One line of the verbose log, as it is.
  void Line(const std::string& text) {
    const std::wstring line = L"Pellagor: " + Widened(text);
    // The text goes in a field of its own: a template would read the
    // braces of a class key as a formatting group.
    const MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, L"[1]");
    MsiRecordSetStringW(record, 1, line.c_str());
    MsiProcessMessage(install_, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
  }

  // The Error table row `error` with `text` and `followed` as [2] and [3]:
  // a dialog under a full interface, a log line under /qn.
  void Error(int error, const std::string& text, std::size_t followed) {
    const MSIHANDLE record = MsiCreateRecord(3);
    MsiRecordSetInteger(record, 1, error);
    MsiRecordSetStringW(record, 2, Widened(text).c_str());
    MsiRecordSetInteger(record, 3, static_cast<int>(followed));
    MsiProcessMessage(install_, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK), record);
    MsiCloseHandle(record);
  }

  // The same, for a call that memory running out or an unexpected error
  // ended: nothing is allocated.
  void Stopped(int error, const wchar_t* reason) {
    const MSIHANDLE record = MsiCreateRecord(3);
    MsiRecordSetInteger(record, 1, error);
    MsiRecordSetStringW(record, 2, reason);
    MsiRecordSetInteger(record, 3, 0);
    MsiProcessMessage(install_, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK), record);
    MsiCloseHandle(record);
  }

  void WriteError(const std::string& text, const std::string& key, plg::RegStatus error) override {
    events_.WriteError(text, key, error);
    key_ = key;
    error_ = error;
  }

  // The first message with its key and error, or an empty text.
  const std::string& first() const { return first_; }

 protected:
  void DoShow(const std::string& text, const std::string&) override {
    std::string line = text;
    if (!key_.empty()) line += "; key " + key_;
    if (error_ != plg::kSuccess) line += "; " + ErrorText(error_);
    error_ = plg::kSuccess;
    Line(line);
    key_.clear();
    if (first_.empty()) first_ = line;
  }

 private:
  MSIHANDLE install_;
  plg::Win32EventLog events_;
  std::string key_;
  plg::RegStatus error_ = plg::kSuccess;
  std::string first_;
};

// One action's machine: the Win32 registry (with value enumeration, for the
// record), the log, the string table carried in this DLL (the module's own,
// from resources/product_strings.def).
struct Action {
  explicit Action(MSIHANDLE install) : log(install), strings(g_instance) {}

  plg::Win32EnumeratingRegistry registry;
  InstallerLog log;
  plg::ModuleStrings strings;
  plg::Platform platform{registry, log, strings, log};
};

// Creates `path` (the key of the records, or of the upgrade markers), or
// gives the one there the records' rights; logs where it is and the rights
// it has.
plg::RegStatus PrepareProtectedKey(InstallerLog& log, const char* path, const char* what) {
  PSECURITY_DESCRIPTOR rights = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kRecordsRights, SDDL_REVISION_1,
                                                            &rights, nullptr)) {
    return static_cast<plg::RegStatus>(GetLastError());
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, rights, FALSE};
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                   &attributes, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    // A key made before, by whoever could, gets the same rights.
    status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               rights);
  }
  LocalFree(rights);
  wchar_t* shown = nullptr;
  if (status == ERROR_SUCCESS) {
    std::vector<BYTE> buffer(4096);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer.data(), &size) != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(
            buffer.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &shown, nullptr)) {
      shown = nullptr;
    }
  }
  if (key != nullptr) RegCloseKey(key);
  if (status != ERROR_SUCCESS) return status;
  log.Line(std::string(what) + " in HKEY_LOCAL_MACHINE\\" + path + ", rights " +
           (shown != nullptr ? Narrowed(shown) : std::string("(unreadable)")));
  if (shown != nullptr) LocalFree(shown);
  return ERROR_SUCCESS;
}

// The record of this action's product, or an empty text (logged) when the
// product code cannot name one.
std::string RecordOf(MSIHANDLE install, InstallerLog& log) {
  const std::string code = Narrowed(Property(install, L"ProductCode"));
  const std::string record = plg::RollbackRecordPath(code);
  if (record.empty()) log.Line("no rollback record for the product code \"" + code + "\"");
  return record;
}

enum class Operation { kRegister, kUnregister };

// Records, then registers or unregisters: ERROR_SUCCESS, or
// ERROR_INSTALL_FAILURE once the Error row is shown.
UINT Run(MSIHANDLE install, Operation operation) {
  Action action(install);
  InstallerLog& log = action.log;
  const int failed =
      operation == Operation::kRegister ? kRegistrationFailed : kUnregistrationFailed;
  UINT outcome = ERROR_INSTALL_FAILURE;
  const long result = plg::RunExportCall(action.platform, [&](plg::Platform& platform) -> long {
    const std::string data = Narrowed(Property(install, L"CustomActionData"));
    const std::size_t semicolon = data.find(';');
    const std::string module_path =
        semicolon == std::string::npos ? std::string() : data.substr(semicolon + 1);
    if (semicolon == std::string::npos ||
        (operation == Operation::kRegister && module_path.empty())) {
      log.Error(failed, "the action's data \"" + data + "\" is not the package's", 0);
      return plg::kResultOk;
    }
    const bool recorded = semicolon == 0;
    const std::string record = recorded ? RecordOf(install, log) : std::string();
    if (!recorded) {
      log.Line("rollback disabled: no rollback record");
    } else if (record.empty()) {
      log.Error(kRecordFailed, "the product code is not a GUID", 0);
      return plg::kResultOk;
    }
    if (recorded) {
      plg::RegStatus status =
          PrepareProtectedKey(log, plg::kRollbackRecordsKey, "rollback records");
      if (status == plg::kSuccess)
        status = plg::TakeRollbackRecord(platform, action.registry, record);
      if (status != plg::kSuccess) {
        log.Error(kRecordFailed, "HKEY_LOCAL_MACHINE\\" + record + ": " + ErrorText(status), 0);
        return plg::kResultOk;
      }
      log.Line("rollback record HKEY_LOCAL_MACHINE\\" + record + " taken");
    }
    long done = plg::kResultOk;
    if (operation == Operation::kRegister) {
      log.Line("registering " + module_path);
      done = plg::RegisterProduct(platform, module_path);
    } else {
      log.Line("unregistering");
      done = plg::UnregisterProduct(platform);
    }
    if (done == plg::kResultOk) {
      outcome = ERROR_SUCCESS;
    } else {
      const std::size_t shown = platform.reporter.shown();
      log.Error(failed, log.first().empty() ? "no message" : log.first(),
                shown > 0 ? shown - 1 : 0);
    }
    return done;
  });
  if (result == plg::kResultOutOfMemory || result == plg::kResultUnexpected) {
    // The rollback action puts back whatever was written before.
    log.Stopped(failed, result == plg::kResultOutOfMemory
                            ? L"out of memory"
                            : L"an unexpected error (see the event log)");
    outcome = ERROR_INSTALL_FAILURE;
  }
  return outcome;
}

// The upgrade markers: a key per older build's product code beneath
// HKEY_LOCAL_MACHINE\Software\Pellagor Upgrade, its "UpgradingProductCode"
// naming the build that replaces it. The older build's removal finds its own marker (the package's
// UPGRADEDBY search) and then leaves the registration to the new build:
// Wine's msiexec runs that removal in a process of its own, where
// UPGRADINGPRODUCTCODE is empty. Whoever could write a marker could make a
// removal skip the unregistration, so the key has the records' rights.
constexpr char kUpgradeMarkersKey[] = "Software\\Pellagor Upgrade";
constexpr wchar_t kUpgradingValue[] = L"UpgradingProductCode";

std::wstring MarkerPath(const std::wstring& older) {
  return Widened(kUpgradeMarkersKey) + L"\\" + older;
}

// Deletes the markers that name `product_code`, then the markers' key once
// empty.
void ForgetMarkers(const std::wstring& product_code, InstallerLog& log) {
  HKEY markers = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUpgradeMarkersKey, 0, KEY_READ, &markers) !=
      ERROR_SUCCESS) {
    return;
  }
  std::vector<std::wstring> names;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(std::size(name));
    if (RegEnumKeyExW(markers, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  RegCloseKey(markers);
  for (const std::wstring& older : names) {
    const std::wstring path = MarkerPath(older);
    wchar_t upgrading[64] = L"";
    DWORD size = sizeof upgrading - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), kUpgradingValue, RRF_RT_REG_SZ, nullptr,
                     upgrading, &size) == ERROR_SUCCESS &&
        _wcsicmp(upgrading, product_code.c_str()) == 0 &&
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS) {
      log.Line("upgrade marker HKEY_LOCAL_MACHINE\\" + Narrowed(path) + " deleted");
    }
  }
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUpgradeMarkersKey);
}

// A marker for each older build that this one replaces (WIX_UPGRADE_DETECTED),
// naming this build: ERROR_SUCCESS when every one is written.
UINT MarkUpgrades(MSIHANDLE install) {
  InstallerLog log(install);
  const std::wstring product_code = Property(install, L"ProductCode");
  if (!plg::IsProductCode(Narrowed(product_code))) return ERROR_INSTALL_FAILURE;
  const std::string detected = Narrowed(Property(install, L"WIX_UPGRADE_DETECTED"));
  std::vector<std::string> older_builds;
  for (std::size_t start = 0; start < detected.size();) {
    std::size_t end = detected.find(';', start);
    if (end == std::string::npos) end = detected.size();
    std::string older = detected.substr(start, end - start);
    if (plg::IsProductCode(older)) older_builds.push_back(std::move(older));
    start = end + 1;
  }
  if (older_builds.empty()) return ERROR_SUCCESS;
  const plg::RegStatus prepared = PrepareProtectedKey(log, kUpgradeMarkersKey, "upgrade markers");
  UINT outcome = ERROR_SUCCESS;
  for (const std::string& older : older_builds) {
    const std::wstring path = MarkerPath(Widened(older));
    plg::RegStatus status = prepared;
    if (status == plg::kSuccess) {
      const DWORD bytes = static_cast<DWORD>((product_code.size() + 1) * sizeof(wchar_t));
      status = static_cast<plg::RegStatus>(RegSetKeyValueW(
          HKEY_LOCAL_MACHINE, path.c_str(), kUpgradingValue, REG_SZ, product_code.c_str(), bytes));
    }
    if (status != plg::kSuccess) {
      log.Line("no upgrade marker HKEY_LOCAL_MACHINE\\" + Narrowed(path) + ": " +
               ErrorText(status));
      outcome = ERROR_INSTALL_FAILURE;
    } else {
      log.Line("upgrade marker HKEY_LOCAL_MACHINE\\" + Narrowed(path) + " left for " +
               Narrowed(product_code));
    }
  }
  return outcome;
}

// An entry point's body, with nothing thrown escaping into the installer:
// `on_failure` when anything is (memory running out before a call's own
// boundary, or after it).
template <typename Body>
UINT Guarded(UINT on_failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return on_failure;
  }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_instance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" UINT __stdcall RegisterModule(MSIHANDLE install) {
  return Guarded(ERROR_INSTALL_FAILURE, [&] { return Run(install, Operation::kRegister); });
}

extern "C" UINT __stdcall UnregisterModule(MSIHANDLE install) {
  return Guarded(ERROR_INSTALL_FAILURE, [&] { return Run(install, Operation::kUnregister); });
}

// Rollback: whatever happened since the record was taken, the owned keys
// become as they were. Runs to its end whatever fails, and always succeeds,
// as a rollback action must.
extern "C" UINT __stdcall RestoreRegistration(MSIHANDLE install) {
  return Guarded(ERROR_SUCCESS, [&] {
    Action action(install);
    static_cast<void>(plg::RunExportCall(action.platform, [&](plg::Platform& platform) -> long {
      const std::string record = RecordOf(install, action.log);
      if (record.empty()) return plg::kResultOk;
      const plg::RegStatus status = plg::RestoreRollbackRecord(platform, action.registry, record);
      action.log.Line(
          "rollback record HKEY_LOCAL_MACHINE\\" + record +
          (status == plg::kSuccess ? " put back" : " put back but for " + ErrorText(status)));
      plg::DeleteRollbackRecord(platform, record);
      return plg::kResultOk;
    }));
    return static_cast<UINT>(ERROR_SUCCESS);
  });
}

// Commit: the transaction is done, its record no longer needed.
extern "C" UINT __stdcall CommitRegistration(MSIHANDLE install) {
  return Guarded(ERROR_SUCCESS, [&] {
    Action action(install);
    static_cast<void>(plg::RunExportCall(action.platform, [&](plg::Platform& platform) -> long {
      const std::string record = RecordOf(install, action.log);
      if (!record.empty()) {
        plg::DeleteRollbackRecord(platform, record);
        action.log.Line("rollback record HKEY_LOCAL_MACHINE\\" + record + " deleted");
      }
      return plg::kResultOk;
    }));
    return static_cast<UINT>(ERROR_SUCCESS);
  });
}

// Immediate, right before RemoveExistingProducts: a marker for each older
// build that this one replaces (WIX_UPGRADE_DETECTED), naming this build.
// Windows Installer removes the older build with UPGRADINGPRODUCTCODE set
// and needs no marker; an account that cannot write the key (an immediate
// action runs as the user) fails this action, which the package ignores.
extern "C" UINT __stdcall MarkUpgrade(MSIHANDLE install) {
  return Guarded(ERROR_INSTALL_FAILURE, [&] { return MarkUpgrades(install); });
}

// Deferred after RemoveExistingProducts, and its rollback: the older
// build's removal has ended, one way or the other.
extern "C" UINT __stdcall ForgetUpgrade(MSIHANDLE install) {
  return Guarded(ERROR_SUCCESS, [&] {
    InstallerLog log(install);
    ForgetMarkers(Property(install, L"ProductCode"), log);
    return static_cast<UINT>(ERROR_SUCCESS);
  });
}
