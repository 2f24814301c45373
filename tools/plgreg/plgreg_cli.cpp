#include "tools/plgreg/plgreg_cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <memory>

#include "classes/version_open_verbs.h"
#include "machine/builtin_machine.h"
#include "machine/recording_reporter.h"
#include "machine/reg_file.h"
#include "registry/registry_helpers.h"
#include "registry/registry_paths.h"
#include "resources/compiled_strings.h"
#include "resources/product_strings.h"
#include "tools/plgreg/plan.h"
#include "tools/plgreg/plan_formats.h"
#include "tools/plgreg/text_encoding.h"
#ifdef _WIN32
#include "tools/plgreg/live_machine.h"
#endif

namespace plg::tool {

namespace {

// The module path is read into a buffer of this many characters.
constexpr std::size_t kMaxModulePath = 260;

struct Options {
  std::string step;
  std::string machine;
  std::string module_path = kDefaultModulePath;
  std::string format = "reg";
  std::string verify_format = "text";
  std::string file_id = WxsSubstitutions().file_id;
};

// Registry text for the console: a Windows console program's streams take
// the ANSI code page, a Linux terminal UTF-8.
std::string ForConsole(const std::string& text) {
#ifdef _WIN32
  return text;
#else
  return AnsiToUtf8(text);
#endif
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The module path as single-byte text, refused when the module could not
// have such a name.
std::string ModulePath(const std::string& argument) {
#ifdef _WIN32
  std::string path = argument;
#else
  const std::optional<std::string> converted = Utf8ToAnsi(argument);
  if (!converted) {
    throw UsageError("--module-path: only characters of code page 1252 can be used");
  }
  std::string path = *converted;
#endif
  if (path.empty()) throw UsageError("--module-path: must not be empty");
  if (path.size() >= kMaxModulePath) {
    throw UsageError("--module-path: longer than " + std::to_string(kMaxModulePath - 1) +
                     " characters");
  }
  return path;
}

std::unique_ptr<MemoryRegistry> LoadMachine(const MachineLoader& load_machine,
                                            const std::string& image) {
  std::string error;
  std::unique_ptr<MemoryRegistry> machine = load_machine(image, &error);
  if (!machine) throw UsageError(error);
  return machine;
}

void AddMachineOptions(CLI::App* command, Options* options) {
  command
      ->add_option("--machine", options->machine,
                   "Machine image: a .reg file as reg export or regedit writes it "
                   "(REGEDIT5 UTF-16LE or REGEDIT4). Default: the built-in image of a "
                   "clean machine with the shared modelling system installed")
      ->type_name("IMAGE.reg");
  command
      ->add_option("--module-path", options->module_path,
                   "Full path of the module file, as DllRegisterServer would find it")
      ->type_name("PATH")
      ->capture_default_str();
}

// What the fragment of `machine` writes as references: the module path, the
// directories read as the module reads them, and the release verbs left as
// they are.
WxsSubstitutions SubstitutionsFor(const MemoryRegistry& machine, const std::string& file_id) {
  const std::unique_ptr<MemoryRegistry> copy = machine.Clone();
  RecordingReporter reporter;
  CompiledStrings strings;
  RecordingEventLog events;
  Platform platform{*copy, reporter, strings, events};
  WxsSubstitutions substitutions;
  substitutions.file_id = file_id;
  substitutions.bin = GetInstallDirectory(platform, InstallDirectory::kBin);
  substitutions.help = GetInstallDirectory(platform, InstallDirectory::kHelp);
  substitutions.lib = GetInstallDirectory(platform, InstallDirectory::kLib);
  substitutions.snapshot_prefix = "HKEY_CLASSES_ROOT\\" + VersionVerbKeyPath(platform, "");
  return substitutions;
}

int RunPlan(const Options& options, const MachineLoader& load_machine, std::ostream& out,
            std::ostream& err) {
  const std::string module_path = ModulePath(options.module_path);
  const std::unique_ptr<MemoryRegistry> machine = LoadMachine(load_machine, options.machine);
  const RegistrationMode mode = options.step == "register" ? kRegister : kUnregister;
  const PlanResult plan = PlanStep(*machine, mode, module_path);

  const PlanHeader header{options.step, module_path, plan.messages};
  if (options.format == "reg") {
    out << FormatPlanAsReg(plan.changes, RegFileFormat::kRegedit5);
  } else if (options.format == "reg4") {
    out << FormatPlanAsReg(plan.changes, RegFileFormat::kRegedit4);
  } else if (options.format == "wxs") {
    if (options.file_id.empty() || options.file_id.find_first_of("[]") != std::string::npos) {
      throw UsageError("--file-id: must be a File id, not empty and without brackets");
    }
    out << FormatPlanAsWxs(header, plan.changes, SubstitutionsFor(*machine, options.file_id),
                           GetDirKeyPath());
  } else {
    out << FormatPlanAsJson(header, plan.changes);
  }
  for (const std::string& message : plan.messages) err << ForConsole(message) << "\n";
  return plan.messages.empty() ? kExitOk : kExitFindings;
}

int RunVerify(const Options& options, const MachineLoader& load_machine, std::ostream& out,
              std::ostream& err) {
  const std::string module_path = ModulePath(options.module_path);
  std::unique_ptr<MemoryRegistry> machine;
#ifdef _WIN32
  if (options.machine.empty()) {
    const std::unique_ptr<MemoryRegistry> model = BuiltInMachine();
    machine = ReadLiveMachine(RegistrationFootprint(*model, module_path));
  }
#endif
  if (!machine) machine = LoadMachine(load_machine, options.machine);

  const VerifyResult result = VerifyRegistration(*machine, module_path);
  if (options.verify_format == "json") {
    out << FormatVerifyAsJson(result);
    for (const std::string& message : result.messages) err << ForConsole(message) << "\n";
    return result.findings.empty() ? kExitOk : kExitFindings;
  }
  for (const std::string& line : DescribeFindings(result.findings)) {
    out << ForConsole(line) << "\n";
  }
  std::size_t counts[3] = {};
  for (const VerifyFinding& finding : result.findings) {
    ++counts[static_cast<int>(finding.kind)];
  }
  if (result.findings.empty()) {
    out << "registered: the machine holds everything a registration leaves there\n";
  } else {
    out << "not registered: " << counts[0] << " missing, " << counts[1] << " different, "
        << counts[2] << " left over\n";
  }
  for (const std::string& message : result.messages) err << ForConsole(message) << "\n";
  return result.findings.empty() ? kExitOk : kExitFindings;
}

int RunMachine(const Options& options, std::ostream& out) {
  const std::unique_ptr<MemoryRegistry> machine = BuiltInMachine();
  out << FormatRegFile(ExportRegistry(
      *machine, "HKEY_LOCAL_MACHINE",
      options.format == "reg4" ? RegFileFormat::kRegedit4 : RegFileFormat::kRegedit5));
  return kExitOk;
}

}  // namespace

std::unique_ptr<MemoryRegistry> LoadMachineImage(const std::string& image, std::string* error) {
  if (image.empty()) return BuiltInMachine();
  RegFileError file_error;
  std::unique_ptr<MemoryRegistry> machine = LoadRegImageFile(image, &file_error);
  if (!machine) *error = file_error.ToString();
  return machine;
}

int RunPlgreg(std::vector<std::string> args, std::ostream& out, std::ostream& err,
              const MachineLoader& load_machine) {
  Options options;
  CLI::App app{
      "Shows what the plgproduct module's registration writes to and removes from a "
      "machine, by running the module's own registration logic on an in-memory image "
      "of it.",
      "plgreg"};
  app.require_subcommand(1, 1);
  app.footer(
      "Exit codes: 0 success; 1 plan: the run showed messages (written to standard "
      "error), verify: not fully registered; 2 usage error or unreadable machine image; "
      "3 internal error.");

  CLI::App* plan =
      app.add_subcommand("plan",
                         "Print what registration or unregistration changes on the machine image: "
                         "added and changed keys and values, and removals");
  plan->add_option("step", options.step, "register or unregister")
      ->required()
      ->check(CLI::IsMember({"register", "unregister"}));
  AddMachineOptions(plan, &options);
  plan->add_option("--format", options.format,
                   "reg: a registry file as reg export writes it (REGEDIT5, UTF-16LE); "
                   "reg4: the same as REGEDIT4 (single-byte); wxs: a WiX v3 fragment of "
                   "the additions for a package, with the module path as [#FILE-ID] and the "
                   "shared system's directories as properties read at installation; json")
      ->check(CLI::IsMember({"reg", "reg4", "wxs", "json"}))
      ->capture_default_str();
  plan->add_option("--file-id", options.file_id, "wxs: the File id of the module in the package")
      ->type_name("ID")
      ->capture_default_str();

  CLI::App* verify = app.add_subcommand(
      "verify",
      "Compare the machine image with what a registration would leave there and list "
      "what is missing, different or left over. Exit code 0 only when fully registered. "
      "On Windows without --machine, the live registry's keys that registration reads "
      "and writes are compared, in both views.");
  AddMachineOptions(verify, &options);
  verify
      ->add_option("--format", options.verify_format,
                   "text: one line per finding and a last line with the state; json: the "
                   "state and the missing, different and left-over entries")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();

  CLI::App* machine =
      app.add_subcommand("machine",
                         "Print the built-in machine image as a registry file, to seed a test "
                         "machine or to start an image of one's own");
  machine->add_option("--format", options.format, "reg (REGEDIT5, UTF-16LE) or reg4")
      ->check(CLI::IsMember({"reg", "reg4"}))
      ->capture_default_str();

  // CLI11 would take an unknown word for a missing subcommand.
  const std::vector<CLI::App*> commands = app.get_subcommands([](CLI::App*) { return true; });
  if (!args.empty() && !args.front().empty() && args.front().front() != '-' &&
      std::none_of(commands.begin(), commands.end(),
                   [&](CLI::App* command) { return command->check_name(args.front()); })) {
    err << "plgreg: unknown subcommand \"" << args.front()
        << "\"; expected plan, verify or machine\n";
    return kExitUsage;
  }
  try {
    std::reverse(args.begin(), args.end());
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return kExitOk;
  } catch (const CLI::CallForAllHelp&) {
    out << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    err << "plgreg: " << OneLine(error.what()) << "\n";
    return kExitUsage;
  }

  try {
    if (plan->parsed()) return RunPlan(options, load_machine, out, err);
    if (verify->parsed()) return RunVerify(options, load_machine, out, err);
    return RunMachine(options, out);
  } catch (const UsageError& error) {
    err << "plgreg: " << OneLine(error.what()) << "\n";
    return kExitUsage;
  } catch (const std::exception& error) {
    err << "plgreg: internal error: " << OneLine(error.what()) << "\n";
    return kExitInternal;
  }
}

}  // namespace plg::tool
