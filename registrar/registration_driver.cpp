#include "registrar/registration_driver.h"

#include <exception>
#include <iterator>

#include "classes/application_class.h"
#include "classes/document_class.h"
#include "classes/file_suffixes.h"
#include "classes/language_class.h"
#include "registrar/modeler_options.h"
#include "settings/customization_settings.h"
#include "settings/library_settings.h"
#include "settings/menu_customization_table.h"
#include "settings/menu_settings.h"

namespace plg {

void RunRegistrationSteps(Platform& platform, RegistrationMode mode,
                          const std::string& module_path) {
  // The host settings come first so that the product version key exists when
  // RegisterDocumentClass looks for this version's release; the automation
  // class comes last so that on unregistration every earlier step still sees
  // the version marker it removes.
  RegisterCustomizationDll(platform, mode, module_path);
  RegisterHelpMenu(platform, mode);
  RegisterMenuEdits(platform, mode, kMenuCustomizationTable,
                    static_cast<int>(std::size(kMenuCustomizationTable)));
  RegisterFileSuffixes(platform, mode);
  RegisterSuffixSettings(platform, mode);
  RegisterDocumentClass(platform, mode, module_path);
  RegisterLibraryClass(platform, mode);
  RegisterDefaultLibraries(platform, mode);
  RegisterScriptSettings(platform, mode);
  RegisterLanguageClass(platform, mode, module_path);
  RegisterPfsView(platform, mode);
  RegisterGuiDefaults(platform, mode);
  RegisterApplicationClass(platform, mode);
}

namespace {

constexpr char kUnexpectedFailureMessage[] = "Registration stopped by an unexpected error";
constexpr char kReentryMessage[] =
    "Registration was called again while its earlier call on the same thread was still running; "
    "the new call changed nothing";

long ResultOf(const Platform& platform, std::size_t shown_before) {
  return platform.reporter.shown() == shown_before ? kResultOk : kResultSelfRegClassError;
}

}  // namespace

void WriteUnexpectedFailureEvent(EventLog& events) noexcept {
  try {
    std::string text = kUnexpectedFailureMessage;
    try {
      if (const std::exception_ptr failure = std::current_exception()) {
        std::rethrow_exception(failure);
      }
    } catch (const std::exception& failure) {
      text += ": ";
      text += failure.what();
    } catch (...) {
    }
    events.WriteError(text, std::string(), kSuccess);
  } catch (...) {
  }
}

void WriteReentryEvent(EventLog& events) noexcept {
  try {
    events.WriteError(kReentryMessage, std::string(), kSuccess);
  } catch (...) {
  }
}

long RegisterProduct(Platform& platform, const std::string& module_path) {
  const std::size_t shown_before = platform.reporter.shown();
  RegisterModelerOptions(platform);
  RunRegistrationSteps(platform, kRegister, module_path);
  return ResultOf(platform, shown_before);
}

long UnregisterProduct(Platform& platform) {
  const std::size_t shown_before = platform.reporter.shown();
  UnregisterModelerOptions(platform);
  // Unregistration never reads the module path.
  RunRegistrationSteps(platform, kUnregister, std::string());
  return ResultOf(platform, shown_before);
}

}  // namespace plg
