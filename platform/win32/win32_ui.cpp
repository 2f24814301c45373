#include "platform/win32/win32_ui.h"

#include <string>

namespace plg {

namespace {

constexpr char kErrorCaption[] = "Registration Error";

}  // namespace

void DebugOutputReporter::DoShow(const std::string& text, const std::string& detail) {
  std::string debug = "plgproduct: ";
  debug += text;
  if (!detail.empty()) debug += " (" + detail + ")";
  debug += "\n";
  OutputDebugStringA(debug.c_str());
}

void MessageBoxReporter::DoShow(const std::string& text, const std::string& detail) {
  DebugOutputReporter::DoShow(text, detail);
  MessageBoxExA(nullptr, text.c_str(), kErrorCaption, MB_ICONERROR | MB_SETFOREGROUND,
                GetSystemDefaultLangID());
}

bool IsInteractiveWindowStation() {
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return false;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool IsSessionZero() {
  DWORD session = 0;
  return !ProcessIdToSessionId(GetCurrentProcessId(), &session) || session == 0;
}

std::optional<std::string> ModuleStrings::Load(unsigned id) const {
  // With a zero buffer size LoadStringW hands back a pointer into the
  // resource itself, so no length limit applies.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(module_, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return std::nullopt;
  const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

}  // namespace plg
