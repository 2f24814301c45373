// DllInstall's command line, and where a run's messages go.
#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <string>

#include "registrar/install_options.h"

namespace plg {
namespace {

TEST(InstallCommandLine, KnowsOnlyQuietInAnyCaseAndSeparation) {
  struct Case {
    const wchar_t* line;
    std::optional<bool> quiet;  // none: refused
  };
  const Case cases[] = {
      {nullptr, false},
      {L"", false},
      {L" ,\t,, ", false},
      {L"quiet", true},
      {L"QUIET", true},
      {L"Quiet", true},
      {L" quiet ", true},
      {L"quiet,quiet", true},
      {L",quiet,", true},
      {L"quiet\tquiet", true},
      {L"quiet,verbose", std::nullopt},
      {L"verbose quiet", std::nullopt},
      {L"quietly", std::nullopt},
      {L"qui et", std::nullopt},
      {L"quiet;", std::nullopt},
      {L"/quiet", std::nullopt},
      {L"\"quiet\"", std::nullopt},
      // Only ASCII letters fold: a dotted capital I is not an "i".
      {L"qu\u0130et", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line == nullptr ? std::string("null")
                                   : std::string(c.line, c.line + std::wcslen(c.line)));
    const std::optional<InstallOptions> options = ParseInstallCommandLine(c.line);
    ASSERT_EQ(c.quiet.has_value(), options.has_value());
    if (options) {
      EXPECT_EQ(*c.quiet, options->quiet);
    }
  }
}

TEST(MessageDelivery, ABoxOnlyForAnInteractiveCallerOnTheInputDesktopOutsideSessionZeroNotQuiet) {
  for (const bool quiet : {false, true}) {
    for (const bool interactive : {false, true}) {
      for (const bool session_zero : {false, true}) {
        for (const bool input_desktop : {false, true}) {
          SCOPED_TRACE(::testing::Message()
                       << "quiet " << quiet << ", interactive " << interactive << ", session 0 "
                       << session_zero << ", input desktop " << input_desktop);
          EXPECT_EQ(!quiet && interactive && !session_zero && input_desktop
                        ? MessageDelivery::kMessageBox
                        : MessageDelivery::kDebugOutput,
                    ChooseMessageDelivery(quiet, interactive, session_zero, input_desktop));
        }
      }
    }
  }
}

}  // namespace
}  // namespace plg
