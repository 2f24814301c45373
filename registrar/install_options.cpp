#include "registrar/install_options.h"

#include <cstddef>
#include <iterator>

namespace plg {

namespace {

bool IsSeparator(wchar_t c) { return c == L',' || c == L' ' || c == L'\t'; }

// ASCII letters only: no locale may turn another option into "quiet".
wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

}  // namespace

std::optional<InstallOptions> ParseInstallCommandLine(const wchar_t* command_line) {
  // Read in place: nothing is allocated before the export's call begins.
  static constexpr wchar_t kQuiet[] = L"quiet";
  constexpr std::size_t kQuietLength = std::size(kQuiet) - 1;
  InstallOptions options;
  if (command_line == nullptr) return options;
  for (const wchar_t* p = command_line; *p != L'\0';) {
    if (IsSeparator(*p)) {
      ++p;
      continue;
    }
    std::size_t length = 0;
    bool quiet = true;
    for (; p[length] != L'\0' && !IsSeparator(p[length]); ++length) {
      quiet = quiet && length < kQuietLength && FoldAscii(p[length]) == kQuiet[length];
    }
    if (!quiet || length != kQuietLength) return std::nullopt;
    options.quiet = true;
    p += length;
  }
  return options;
}

MessageDelivery ChooseMessageDelivery(bool quiet, bool interactive_station, bool session_zero,
                                      bool input_desktop) {
  return quiet || !interactive_station || session_zero || !input_desktop
             ? MessageDelivery::kDebugOutput
             : MessageDelivery::kMessageBox;
}

}  // namespace plg
