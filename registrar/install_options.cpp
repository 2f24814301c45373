#include "registrar/install_options.h"

#include <string>

namespace plg {

namespace {

bool IsSeparator(wchar_t c) { return c == L',' || c == L' ' || c == L'\t'; }

// ASCII letters only: no locale may turn another option into "quiet".
wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

}  // namespace

std::optional<InstallOptions> ParseInstallCommandLine(const wchar_t* command_line) {
  InstallOptions options;
  if (command_line == nullptr) return options;
  std::wstring option;
  for (const wchar_t* p = command_line;; ++p) {
    if (*p != L'\0' && !IsSeparator(*p)) {
      option += FoldAscii(*p);
      continue;
    }
    if (option == L"quiet") {
      options.quiet = true;
    } else if (!option.empty()) {
      return std::nullopt;
    }
    option.clear();
    if (*p == L'\0') return options;
  }
}

MessageDelivery ChooseMessageDelivery(bool quiet, bool interactive_station, bool session_zero) {
  return quiet || !interactive_station || session_zero ? MessageDelivery::kDebugOutput
                                                       : MessageDelivery::kMessageBox;
}

}  // namespace plg
