#include "platform/win32/win32_ui.h"

#include <iterator>
#include <string>

namespace plg {

namespace {

constexpr char kErrorCaption[] = "Registration Error";

// ANSI text as the wide inserts of an event.
std::wstring Widened(const std::string& text) {
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), size);
  return wide;
}

std::wstring DecimalOf(unsigned long number) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
    number /= 10;
  } while (number != 0);
  return digits;
}

// The system's text of a Win32 error, without its line break; empty when
// the system has none.
std::wstring ErrorTextOf(RegStatus error) {
  wchar_t buffer[512];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(error), 0, buffer,
                                static_cast<DWORD>(std::size(buffer)), nullptr);
  while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                        buffer[length - 1] == L' ')) {
    --length;
  }
  return std::wstring(buffer, length);
}

}  // namespace

void Win32EventLog::WriteError(const std::string& text, const std::string& key, RegStatus error) {
  // Every insert is built before the log is opened.
  const std::wstring inserts[] = {Widened(text), Widened(key),
                                  DecimalOf(static_cast<unsigned long>(error)), ErrorTextOf(error)};
  const wchar_t* strings[] = {inserts[0].c_str(), inserts[1].c_str(), inserts[2].c_str(),
                              inserts[3].c_str()};
  WORD count = 1;
  DWORD id = kEventMessage;
  if (!key.empty()) {
    count = error == kSuccess ? 2 : 4;
    id = error == kSuccess ? kEventMessageWithKey : kEventMessageWithKeyAndError;
  }
  HANDLE log = RegisterEventSourceW(nullptr, source_);
  if (log == nullptr) return;
  ReportEventW(log, EVENTLOG_ERROR_TYPE, 0, id, nullptr, count, 0, strings, nullptr);
  DeregisterEventSource(log);
}

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
