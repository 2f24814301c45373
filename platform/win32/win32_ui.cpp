#include "platform/win32/win32_ui.h"

#include <iterator>
#include <string>
#include <vector>

namespace plg {

namespace {

constexpr char kErrorCaption[] = "Registration Error";

// Wide texts are zero-terminated vectors, not std::wstring: the library's
// out-of-line wstring members would add 20 KB to the module for these few
// lines.
using WideText = std::vector<wchar_t>;

// ANSI text as the wide inserts of an event.
WideText Widened(const std::string& text) {
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  WideText wide(static_cast<std::size_t>(size) + 1, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), size);
  return wide;
}

WideText DecimalOf(unsigned long number) {
  WideText digits(1, L'\0');
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
    number /= 10;
  } while (number != 0);
  return digits;
}

// The system's text of a Win32 error, without its line break; empty when
// the system has none.
WideText ErrorTextOf(RegStatus error) {
  wchar_t buffer[512];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(error), 0, buffer,
                                static_cast<DWORD>(std::size(buffer)), nullptr);
  while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                        buffer[length - 1] == L' ')) {
    --length;
  }
  WideText text(buffer, buffer + length);
  text.push_back(L'\0');
  return text;
}

}  // namespace

void Win32EventLog::WriteError(const std::string& text, const std::string& key, RegStatus error) {
  // Every insert is built before the log is opened.
  const WideText inserts[] = {Widened(text), Widened(key),
                              DecimalOf(static_cast<unsigned long>(error)), ErrorTextOf(error)};
  const wchar_t* strings[] = {inserts[0].data(), inserts[1].data(), inserts[2].data(),
                              inserts[3].data()};
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

namespace {

// A desktop's name ("Default"), allocating nothing: the exports ask before
// their work begins. False when it cannot be asked.
struct DesktopName {
  wchar_t text[256] = {};
  bool Read(HDESK desktop) {
    DWORD needed = 0;
    return desktop != nullptr && GetUserObjectInformationW(desktop, UOI_NAME, text,
                                                           sizeof text - sizeof text[0], &needed);
  }
  bool operator==(const DesktopName& other) const {
    for (std::size_t i = 0; i < std::size(text); ++i) {
      if (text[i] != other.text[i]) return false;
      if (text[i] == L'\0') return true;
    }
    return true;
  }
};

}  // namespace

bool IsInputDesktop() {
  DesktopName own;
  DesktopName shown;
  if (!own.Read(GetThreadDesktop(GetCurrentThreadId()))) return false;
  HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
  const bool read = shown.Read(input);
  if (input != nullptr) CloseDesktop(input);
  return read && own == shown;
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
