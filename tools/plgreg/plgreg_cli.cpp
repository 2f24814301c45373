#include "tools/plgreg/plgreg_cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <map>
#include <memory>

#include "machine/builtin_machine.h"
#include "machine/recording_reporter.h"
#include "machine/reg_file.h"
#include "platform/registry_data.h"
#include "registry/registry_helpers.h"
#include "registry/registry_paths.h"
#include "resources/compiled_strings.h"
#include "resources/product_strings.h"
#include "tools/plgreg/module_file.h"
#include "tools/plgreg/plan.h"
#include "tools/plgreg/plan_formats.h"
#include "tools/plgreg/text_encoding.h"
#ifdef _WIN32
#include "tools/plgreg/live_machine.h"
#endif

#ifndef PLGREG_VERSION
#error "PLGREG_VERSION (38.0.<build>) comes from tools/plgreg/CMakeLists.txt"
#endif

namespace plg::tool {

namespace {

constexpr char kVersion[] = PLGREG_VERSION;

// The module path is read into a buffer of this many characters.
constexpr std::size_t kMaxModulePath = 260;

struct Options {
  std::string step;
  std::string machine;
  std::string module_path = kDefaultModulePath;
  bool module_path_given = false;
  std::string format = "reg";
  std::string verify_format = "text";
  std::string module_file;
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

void AddMachineOptions(CLI::App* command, Options* options, const std::string& module_default) {
  command
      ->add_option("--machine", options->machine,
                   "Machine image: a .reg file as reg export or regedit writes it "
                   "(REGEDIT5 UTF-16LE or REGEDIT4). Default: the built-in image of a "
                   "clean machine with the shared modelling system installed")
      ->type_name("IMAGE.reg");
  command
      ->add_option("--module-path", options->module_path,
                   "Full path of the module file, as DllRegisterServer would find it. "
                   "Default: " +
                       module_default)
      ->type_name("PATH");
}

// `text` with each mark of `marks` written back as the text it stands for.
std::string Unmark(const std::string& text,
                   const std::vector<std::pair<std::string, std::string>>& marks) {
  std::string result;
  for (std::size_t at = 0; at < text.size();) {
    const auto found = std::find_if(marks.begin(), marks.end(), [&](const auto& mark) {
      return text.compare(at, mark.first.size(), mark.first) == 0;
    });
    if (found == marks.end()) {
      result += text[at++];
    } else {
      result += found->second;
      at += found->first.size();
    }
  }
  return result;
}

// The plan's changes for the fragment: a text value holds a mark wherever
// the registration used the module path or one of the shared system's
// directories there. They are found by planning once more on a copy of
// `machine` that holds unique marks in their place; a text is marked only
// when its marks, written back, give the plan's text exactly, so that no
// other text that merely contains the same characters is touched. Adds a
// warning for each directory that a RegistrySearch cannot read as the
// module does.
std::vector<RegistryChange> MarkSubstitutions(const MemoryRegistry& machine, RegistrationMode mode,
                                              const std::string& module_path,
                                              std::vector<RegistryChange> changes,
                                              WxsSubstitutions* substitutions,
                                              std::vector<std::string>* warnings) {
  // Every text of the machine and the plan, so that no mark is one of them.
  std::string haystack = module_path + '\n';
  const auto add = [&haystack](const auto& item) {
    haystack += item.key + '\n' + item.name + '\n';
    haystack.append(item.data.begin(), item.data.end());
    haystack += '\n';
  };
  for (const RegEntry& entry : machine.Snapshot("HKEY_LOCAL_MACHINE")) add(entry);
  for (const RegistryChange& change : changes) add(change);

  // The directories as the module reads them, from a copy of its own: a
  // fault injected into `machine` counts the calls made.
  const std::unique_ptr<MemoryRegistry> reader = machine.Clone();
  RecordingReporter reporter;
  CompiledStrings strings;
  RecordingEventLog events;
  Platform platform{*reader, reporter, strings, events};
  const std::string dir_key = "HKEY_LOCAL_MACHINE\\" + GetDirKeyPath();
  const std::vector<RegEntry> dir_entries = machine.Snapshot(dir_key);
  const InstallDirectory kinds[] = {InstallDirectory::kBin, InstallDirectory::kHelp,
                                    InstallDirectory::kLib};
  static_assert(std::size(kinds) == std::size(kFragmentDirectories));
  std::unique_ptr<MemoryRegistry> marked = machine.Clone();
  std::vector<std::pair<std::string, std::string>> marks;
  for (std::size_t i = 0; i < std::size(kinds); ++i) {
    const std::string text = GetInstallDirectory(platform, kinds[i]);
    if (text.empty()) continue;
    const char* name = kFragmentDirectories[i];
    for (const RegEntry& entry : dir_entries) {
      if (entry.key.empty() && entry.is_value && EqualsFolded(entry.name, name) &&
          entry.type != kRegSz) {
        warnings->push_back("warning: [" + dir_key + "] \"" + name + "\" is " +
                            TypeName(entry.type) +
                            ": the module writes its data as text, a RegistrySearch does "
                            "not give it so; the fragment's condition stops an installation "
                            "where the search gives a typed value");
      }
    }
    const std::string mark = UniqueMark(std::string("plgreg-") + name + "-", "", haystack);
    marked->SeedString(dir_key, name, mark);
    substitutions->directory_marks[i] = mark;
    marks.emplace_back(mark, text);
  }
  substitutions->module_mark = UniqueMark("C:\\plgreg-module-", ".dll", haystack);
  marks.emplace_back(substitutions->module_mark, module_path);

  const PlanResult plan = PlanStep(*marked, mode, substitutions->module_mark);
  using EntryName = std::pair<std::u16string, std::u16string>;
  std::map<EntryName, const RegistryChange*> marked_values;
  for (const RegistryChange& change : plan.changes) {
    if (change.kind == RegistryChange::Kind::kSetValue) {
      marked_values[{CanonicalKeyPath(change.key), LowerCaseName(change.name)}] = &change;
    }
  }
  for (RegistryChange& change : changes) {
    if (change.kind != RegistryChange::Kind::kSetValue || !IsStringType(change.type)) continue;
    const auto found =
        marked_values.find({CanonicalKeyPath(change.key), LowerCaseName(change.name)});
    if (found == marked_values.end() || found->second->type != change.type) continue;
    const std::string text(found->second->data.begin(), found->second->data.end());
    if (Unmark(text, marks) == std::string(change.data.begin(), change.data.end())) {
      change.data = found->second->data;
    }
  }
  return changes;
}

int RunPlan(const Options& options, const MachineLoader& load_machine, std::ostream& out,
            std::ostream& err) {
  const std::string module_path = ModulePath(options.module_path);
  const std::unique_ptr<MemoryRegistry> machine = LoadMachine(load_machine, options.machine);
  const RegistrationMode mode = options.step == "register" ? kRegister : kUnregister;
  const PlanResult plan = PlanStep(*machine, mode, module_path);

  RefuseControlCharacterNames(plan.changes);
  const PlanHeader header{options.step, module_path, plan.messages};
  if (options.format == "reg") {
    out << FormatPlanAsReg(plan.changes, RegFileFormat::kRegedit5);
  } else if (options.format == "reg4") {
    out << FormatPlanAsReg(plan.changes, RegFileFormat::kRegedit4);
  } else if (options.format == "wxs") {
    if (!IsWixIdentifier(options.file_id)) {
      throw UsageError(
          "--file-id: must be a WiX identifier (a letter or _, then letters, "
          "digits, _ and ., at most 72)");
    }
    WxsSubstitutions substitutions;
    substitutions.file_id = options.file_id;
    std::vector<std::string> warnings;
    const std::vector<RegistryChange> marked =
        MarkSubstitutions(*machine, mode, module_path, plan.changes, &substitutions, &warnings);
    out << FormatPlanAsWxs(header, marked, substitutions, GetDirKeyPath());
    for (const std::string& warning : warnings) err << "plgreg: " << ForConsole(warning) << "\n";
  } else {
    out << FormatPlanAsJson(header, plan.changes);
  }
  for (const std::string& message : plan.messages) err << ForConsole(message) << "\n";
  return plan.messages.empty() ? kExitOk : kExitFindings;
}

struct Verified {
  std::string module_path;
  VerifyResult result;
};

// The machine compared with a registration, and the module file checked:
// the one --module-file names, else on the live registry the file at the
// module path. An image's module is not on this machine: without
// --module-file it is not checked.
Verified VerifyMachine(const Options& options, const MachineLoader& load_machine) {
  std::string module_argument = options.module_path;
  std::unique_ptr<MemoryRegistry> machine;
#ifdef _WIN32
  // Installed, plgreg.exe sits beside the module it checks, wherever that
  // is, and a module gone from there is missing there. Only a plgreg
  // elsewhere (a build's) with no module beside it checks the default
  // folder's, when that one is there.
  const std::optional<std::string> beside = ModuleBesideProgram();
  if (!options.module_path_given && beside &&
      (FileExists(*beside) || !FileExists(module_argument))) {
    module_argument = *beside;
  }
  if (options.machine.empty()) {
    const std::unique_ptr<MemoryRegistry> model = BuiltInMachine();
    machine = ReadLiveMachine(RegistrationFootprint(*model, ModulePath(module_argument)));
  }
#endif
  Verified verified;
  verified.module_path = ModulePath(module_argument);
  std::optional<ModuleFile> module;
  const std::string module_file = !options.module_file.empty() ? options.module_file
                                  : machine                    ? verified.module_path
                                                               : std::string();
  if (!module_file.empty()) {
    std::string error;
    const std::optional<std::string> bytes = ReadModuleFile(module_file, &error);
    module = CheckModuleFile(bytes, error, CompiledStrings().Load(kProductName).value_or(""));
  }
  if (!machine) machine = LoadMachine(load_machine, options.machine);
  verified.result = VerifyRegistration(*machine, verified.module_path, module);
  std::vector<RegistryChange> named;
  for (const VerifyFinding& finding : verified.result.findings) named.push_back(finding.change);
  RefuseControlCharacterNames(named);
  return verified;
}

int RunVerify(const Options& options, const MachineLoader& load_machine, std::ostream& out,
              std::ostream& err) {
  const Verified verified = VerifyMachine(options, load_machine);
  const VerifyResult& result = verified.result;
  const int code = result.state == VerifyState::kRegistered ? kExitOk : kExitFindings;
  // Registry data reaches the terminal only with its control characters
  // escaped, so that no text can pass for a line of plgreg's own.
  const auto line = [](const std::string& text) { return ForConsole(Printable(text)) + "\n"; };
  if (options.verify_format == "json") {
    out << FormatVerifyAsJson(result, verified.module_path, kVersion);
    for (const std::string& message : result.messages) err << line(message);
    return code;
  }
  for (const std::string& finding : DescribeFindings(result.findings)) out << line(finding);
  std::size_t counts[3] = {};
  for (const VerifyFinding& finding : result.findings) {
    ++counts[static_cast<int>(finding.kind)];
  }
  std::string last = std::string(StateName(result.state)) + ": ";
  if (result.state == VerifyState::kRegistered) {
    last += result.current ? "the machine holds everything a registration leaves there"
                           : "the machine holds everything this version keeps while " +
                                 result.current_version + " is the current version";
  } else {
    if (result.state == VerifyState::kModuleMissing) {
      last += verified.module_path + ": " + result.module->problem + "; ";
    } else if (result.state == VerifyState::kSharedSystemMissing) {
      last += result.shared_system_missing + "; ";
    }
    last += std::to_string(counts[0]) + " missing, " + std::to_string(counts[1]) + " different, " +
            std::to_string(counts[2]) + " left over";
  }
  out << line(last);
  for (const std::string& message : result.messages) err << line(message);
  return code;
}

// The detection rule of software distribution tools: one line on standard
// output and exit 0 when the product is installed, nothing and exit 0 when
// it is not; any other exit code says the rule could not tell.
int RunDetect(const Options& options, const MachineLoader& load_machine, std::ostream& out) {
#ifdef _WIN32
  const bool live = options.machine.empty();
#else
  const bool live = false;
#endif
  if (!live && options.module_file.empty()) {
    throw UsageError("detect: an image's module file must be given with --module-file");
  }
  const VerifyResult result = VerifyMachine(options, load_machine).result;
  if (result.state != VerifyState::kRegistered) return kExitOk;
  std::string line = std::string(StateName(result.state)) + ": " +
                     CompiledStrings().Load(kProductName).value_or("") + " " + GetVersionString();
  if (!result.current) line += ", not current (" + result.current_version + " is)";
  line += ", module file version " + result.module->record.file_version;
  out << ForConsole(Printable(line)) << "\n";
  return kExitOk;
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
  RegFileError file_error;
  std::unique_ptr<MemoryRegistry> machine =
      image.empty() ? BuiltInMachine() : LoadRegImageFile(image, &file_error);
  if (!machine) {
    *error = file_error.ToString();
    return machine;
  }
  // An image of a Windows machine: Windows limits each key name, not a path.
  machine->SetAnsiPathLimit(0);
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
  app.set_version_flag("--version", std::string("plgreg ") + kVersion,
                       "Print plgreg's version (the package's, 38.0.<build>) and exit");
  app.footer(
      "Exit codes: 0 success (detect: installed or not, as its output says); 1 plan: the "
      "run showed messages (written to standard error), verify: not fully registered; 2 "
      "usage error or unreadable machine image; 3 internal error.");

  CLI::App* plan =
      app.add_subcommand("plan",
                         "Print what registration or unregistration changes on the machine image: "
                         "added and changed keys and values, and removals");
  plan->add_option("step", options.step, "register or unregister")
      ->required()
      ->check(CLI::IsMember({"register", "unregister"}));
  AddMachineOptions(plan, &options, kDefaultModulePath);
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
  AddMachineOptions(verify, &options,
                    std::string("on Windows the plgproduct.dll beside plgreg.exe when there is "
                                "one, else ") +
                        kDefaultModulePath);
  const auto add_module_file = [&options](CLI::App* command) {
    command
        ->add_option("--module-file", options.module_file,
                     "The module file to check, a file on this machine (a copy of an image's "
                     "module). Default: on Windows without --machine, the file at the module "
                     "path; for an image, none (verify does not check it)")
        ->type_name("FILE");
  };
  add_module_file(verify);
  verify
      ->add_option("--format", options.verify_format,
                   "text: one line per finding and a last line with the state; json: the "
                   "state and the missing, different and left-over entries")
      ->check(CLI::IsMember({"text", "json"}))
      ->capture_default_str();

  CLI::App* detect = app.add_subcommand(
      "detect",
      "The detection rule for software distribution (Intune, Configuration Manager): as "
      "verify, but one line on standard output and exit 0 when the product is registered "
      "and its module file is there, nothing and exit 0 in any other state; a message on "
      "standard error and a non-zero exit code when it cannot tell.");
  AddMachineOptions(detect, &options,
                    std::string("on Windows the plgproduct.dll beside plgreg.exe when there is "
                                "one, else ") +
                        kDefaultModulePath);
  add_module_file(detect);

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
        << "\"; expected plan, verify, detect or machine\n";
    return kExitUsage;
  }
  try {
    std::reverse(args.begin(), args.end());
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return kExitOk;
  } catch (const CLI::CallForVersion& version) {
    out << version.what() << "\n";
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
    if (verify->parsed()) {
      options.module_path_given = verify->get_option("--module-path")->count() > 0;
      return RunVerify(options, load_machine, out, err);
    }
    if (detect->parsed()) {
      options.module_path_given = detect->get_option("--module-path")->count() > 0;
      return RunDetect(options, load_machine, out);
    }
    return RunMachine(options, out);
  } catch (const UsageError& error) {
    err << "plgreg: " << OneLine(error.what()) << "\n";
    return kExitUsage;
#ifdef _WIN32
  } catch (const UnreadableMachine& error) {
    err << "plgreg: " << OneLine(error.what()) << "\n";
    return kExitUsage;
#endif
  } catch (const RefusedText& error) {
    err << "plgreg: " << OneLine(error.what()) << "\n";
    return kExitUsage;
  } catch (const std::exception& error) {
    err << "plgreg: internal error: " << OneLine(error.what()) << "\n";
    return kExitInternal;
  }
}

}  // namespace plg::tool
