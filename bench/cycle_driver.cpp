// Timings of the module inside one Windows process (run under Wine):
//
//   cycle_driver cycle MODULE PLAN N
//       N register + unregister cycles of MODULE, interleaved with N cycles
//       of the floor: the changes listed in PLAN made with the fewest raw
//       registry calls. Checks once that both leave the same entries.
//   cycle_driver load MODULE RESOURCES_ONLY N
//       N LoadLibrary + FreeLibrary of each module, interleaved, with the
//       system DLLs that MODULE imports already loaded (as in its host).
//   cycle_driver export MODULE
//       What regsvr32 /s and then regsvr32 /u /s do with MODULE, timed from
//       inside the process: LoadLibrary, the export call, FreeLibrary, once
//       each way, with the system DLLs that MODULE imports already loaded.
//   cycle_driver versions MODULE COUNT N
//       DllRegisterServer N times on a machine with COUNT product versions
//       and releases in each registry view.
//   cycle_driver tree MODULE KEYS N
//       N times: a ProgID tree of KEYS keys is seeded, then DllRegisterServer
//       (which deletes it first) is timed, then DllUnregisterServer; and the
//       same tree seeded again and removed by one RegDeleteTreeA, timed.
//
// Prints "name=microseconds" lines (medians); exit code 1 when a check or a
// call fails. PLAN lines, fields separated by \x1f:
//   K root path            a key to create (leaf or holding values)
//   S name data            REG_SZ value of the last K key (data hex-encoded)
//   D name number          REG_DWORD value of the last K key (hex)
//   T root path            a tree to delete
//   V root path name       a value to delete
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Export = HRESULT(STDAPICALLTYPE*)();

struct Value {
  std::string name;
  DWORD type;
  std::vector<BYTE> data;
};

struct KeyWrite {
  HKEY root;
  std::string path;
  std::vector<Value> values;
};

struct Removal {
  HKEY root;
  std::string path;
  bool is_value;
  std::string name;
};

struct Plan {
  std::vector<KeyWrite> writes;
  std::vector<Removal> removals;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "cycle_driver: %s\n", what.c_str());
  std::exit(1);
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find('\x1f', start);
    fields.push_back(line.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

HKEY RootOf(const std::string& name) {
  if (name == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
  if (name == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
  Fail("unknown root " + name);
}

std::vector<BYTE> FromHex(const std::string& hex) {
  std::vector<BYTE> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

Plan ReadPlan(const char* file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) Fail(std::string("cannot read ") + file);
  Plan plan;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const std::vector<std::string> f = Fields(line);
    const std::string& kind = f[0];
    if (kind == "K" && f.size() == 3) {
      plan.writes.push_back({RootOf(f[1]), f[2], {}});
    } else if ((kind == "S" || kind == "D") && f.size() == 3 && !plan.writes.empty()) {
      Value value{f[1], REG_SZ, {}};
      if (kind == "S") {
        value.data = FromHex(f[2]);
        value.data.push_back(0);
      } else {
        const DWORD number = std::stoul(f[2], nullptr, 16);
        value.type = REG_DWORD;
        value.data.assign(reinterpret_cast<const BYTE*>(&number),
                          reinterpret_cast<const BYTE*>(&number) + sizeof number);
      }
      plan.writes.back().values.push_back(std::move(value));
    } else if (kind == "T" && f.size() == 3) {
      plan.removals.push_back({RootOf(f[1]), f[2], false, {}});
    } else if (kind == "V" && f.size() == 4) {
      plan.removals.push_back({RootOf(f[1]), f[2], true, f[3]});
    } else {
      Fail("bad plan line: " + line);
    }
  }
  if (plan.writes.empty() || plan.removals.empty()) Fail("empty plan");
  return plan;
}

// The floor: every key once, every value once, every removal in one call.
void FloorRegister(const Plan& plan) {
  for (const KeyWrite& write : plan.writes) {
    HKEY key;
    if (RegCreateKeyExA(write.root, write.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
      Fail("floor: cannot create " + write.path);
    }
    for (const Value& value : write.values) {
      if (RegSetValueExA(key, value.name.c_str(), 0, value.type, value.data.data(),
                         static_cast<DWORD>(value.data.size())) != ERROR_SUCCESS) {
        Fail("floor: cannot set " + write.path + " " + value.name);
      }
    }
    RegCloseKey(key);
  }
}

void FloorUnregister(const Plan& plan) {
  for (const Removal& removal : plan.removals) {
    const LSTATUS status = removal.is_value ? RegDeleteKeyValueA(removal.root, removal.path.c_str(),
                                                                 removal.name.c_str())
                                            : RegDeleteTreeA(removal.root, removal.path.c_str());
    if (status != ERROR_SUCCESS) Fail("floor: cannot remove " + removal.path);
  }
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Every planned key and value is there with its data.
void CheckRegistered(const Plan& plan, const char* who) {
  for (const KeyWrite& write : plan.writes) {
    if (!KeyExists(write.root, write.path)) {
      Fail(std::string(who) + " did not create " + write.path);
    }
    for (const Value& value : write.values) {
      std::vector<BYTE> data(value.data.size() + 16);
      DWORD size = static_cast<DWORD>(data.size());
      DWORD type = 0;
      if (RegGetValueA(write.root, write.path.c_str(), value.name.c_str(),
                       RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size) != ERROR_SUCCESS ||
          type != value.type || size != value.data.size() ||
          !std::equal(value.data.begin(), value.data.end(), data.begin())) {
        Fail(std::string(who) + " left a different " + write.path + " \"" + value.name + "\"");
      }
    }
  }
}

// Every planned removal is done.
void CheckUnregistered(const Plan& plan, const char* who) {
  for (const Removal& removal : plan.removals) {
    bool present = KeyExists(removal.root, removal.path);
    if (present && removal.is_value) {
      present = RegGetValueA(removal.root, removal.path.c_str(), removal.name.c_str(), RRF_RT_ANY,
                             nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
    if (present) Fail(std::string(who) + " left " + removal.path + " " + removal.name);
  }
}

double Now() {
  static const double ticks_per_us = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1e6;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / ticks_per_us;
}

template <typename Body>
double Time(Body body) {
  const double start = Now();
  body();
  return Now() - start;
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

struct Module {
  HMODULE handle;
  Export register_server;
  Export unregister_server;
};

Module Load(const char* path) {
  HMODULE handle = LoadLibraryA(path);
  if (handle == nullptr) Fail(std::string("cannot load ") + path);
  auto find = [&](const char* name) {
    auto entry = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
    if (entry == nullptr) Fail(std::string("no export ") + name);
    return entry;
  };
  return {handle, find("DllRegisterServer"), find("DllUnregisterServer")};
}

void Call(Export entry, const char* name) {
  const HRESULT result = entry();
  if (result != S_OK) {
    Fail(std::string(name) + " returned " + std::to_string(static_cast<unsigned long>(result)));
  }
}

int Count(const char* text) {
  const int count = std::atoi(text);
  if (count <= 0) Fail(std::string("not a positive count: ") + text);
  return count;
}

int RunCycle(const char* module_path, const char* plan_file, int cycles) {
  const Plan plan = ReadPlan(plan_file);
  const Module module = Load(module_path);
  Call(module.register_server, "DllRegisterServer");
  CheckRegistered(plan, "DllRegisterServer");
  Call(module.unregister_server, "DllUnregisterServer");
  CheckUnregistered(plan, "DllUnregisterServer");
  FloorRegister(plan);
  CheckRegistered(plan, "the floor");
  FloorUnregister(plan);
  CheckUnregistered(plan, "the floor");

  std::vector<double> module_us, floor_us;
  for (int i = 0; i < cycles; ++i) {
    module_us.push_back(Time([&] {
      Call(module.register_server, "DllRegisterServer");
      Call(module.unregister_server, "DllUnregisterServer");
    }));
    floor_us.push_back(Time([&] {
      FloorRegister(plan);
      FloorUnregister(plan);
    }));
  }
  std::size_t values = 0;
  for (const KeyWrite& write : plan.writes) values += write.values.size();
  std::printf("cycles=%d\nfloor_calls=%zu\nmodule_us=%.1f\nfloor_us=%.1f\n", cycles,
              2 * plan.writes.size() + values + plan.removals.size(), Median(module_us),
              Median(floor_us));
  FreeLibrary(module.handle);
  return 0;
}

// The host application is a GUI program: the system DLLs the module
// imports are loaded there before the module, as they are in regsvr32.
void LoadSystemDlls() {
  for (const char* system_dll : {"user32.dll", "advapi32.dll"}) {
    if (LoadLibraryA(system_dll) == nullptr) Fail(std::string("cannot load ") + system_dll);
  }
}

int RunLoad(const char* module_path, const char* resources_path, int loads) {
  std::vector<double> module_us, resources_us;
  auto load_and_free = [](const char* path) {
    return Time([&] {
      HMODULE handle = LoadLibraryA(path);
      if (handle == nullptr) Fail(std::string("cannot load ") + path);
      FreeLibrary(handle);
    });
  };
  // Kept loaded, so that each load times the module itself, not USER32
  // coming and going.
  LoadSystemDlls();
  // The first loads bring the files into the cache.
  load_and_free(module_path);
  load_and_free(resources_path);
  for (int i = 0; i < loads; ++i) {
    module_us.push_back(load_and_free(module_path));
    resources_us.push_back(load_and_free(resources_path));
  }
  std::printf("loads=%d\nmodule_us=%.1f\nresources_us=%.1f\n", loads, Median(module_us),
              Median(resources_us));
  return 0;
}

int RunExport(const char* module_path) {
  LoadSystemDlls();
  const struct {
    const char* phase;
    const char* name;
  } exports[] = {{"register", "DllRegisterServer"}, {"unregister", "DllUnregisterServer"}};
  for (const auto& [phase, name] : exports) {
    HMODULE handle = nullptr;
    const double load_us = Time([&] { handle = LoadLibraryA(module_path); });
    if (handle == nullptr) Fail(std::string("cannot load ") + module_path);
    auto entry = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
    if (entry == nullptr) Fail(std::string("no export ") + name);
    const double call_us = Time([&] { Call(entry, name); });
    FreeLibrary(handle);
    std::printf("%s_load_us=%.1f\n%s_call_us=%.1f\n", phase, load_us, phase, call_us);
  }
  return 0;
}

void CreateWithString(const std::string& path, const char* name, const std::string& text,
                      HKEY root = HKEY_LOCAL_MACHINE) {
  HKEY key;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    Fail("cannot seed " + path);
  }
  if (name != nullptr &&
      RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS) {
    Fail("cannot seed a value of " + path);
  }
  RegCloseKey(key);
}

// The same shape as the host benchmarks' machine (bench/bench_machine.h):
// version 0 is 38.0 on release V12, which the prefix holds in both views from
// the shared system's image, the others 39.<i> on releases R<i>.
int RunVersions(const char* module_path, int count, int calls) {
  const char* views[] = {"SOFTWARE\\Wow6432Node\\Tolvanics\\", "SOFTWARE\\Tolvanics\\"};
  for (const char* view : views) {
    CreateWithString(std::string(view) + "Pellagor\\38.0", nullptr, {});
    for (int i = 1; i < count; ++i) {
      char bin[64];
      std::snprintf(bin, sizeof bin, "C:\\Apps\\Tolvanics\\Kelsys R%04d\\bin\\", i);
      const std::string version = "39." + std::to_string(i);
      CreateWithString(std::string(view) + "Pellagor\\" + version, nullptr, {});
      CreateWithString(std::string(view) + "Kelsys\\" + version + "\\Dir", "Bin", bin);
    }
  }
  const Module module = Load(module_path);
  Call(module.register_server, "DllRegisterServer");
  // Every version's verb is there: the seeding reached the module.
  char last[96];
  std::snprintf(last, sizeof last, "Pellagor Language\\shell\\Open Pellagor R%04d\\command",
                count - 1);
  if (count > 1 && !KeyExists(HKEY_CLASSES_ROOT, last)) Fail(std::string("no verb ") + last);
  std::vector<double> samples;
  for (int i = 0; i < calls; ++i) {
    samples.push_back(Time([&] { Call(module.register_server, "DllRegisterServer"); }));
  }
  Call(module.unregister_server, "DllUnregisterServer");
  std::printf("versions=%d\ncalls=%d\nregister_us=%.1f\n", count, calls, Median(samples));
  FreeLibrary(module.handle);
  return 0;
}

void SeedTree(int keys) {
  CreateWithString("Pellagor Language\\shell", nullptr, {}, HKEY_CLASSES_ROOT);
  for (int i = 0; i < (keys - 2) / 2; ++i) {
    char verb[64];
    std::snprintf(verb, sizeof verb, "Pellagor Language\\shell\\Open Pellagor R%06d\\command", i);
    CreateWithString(verb, "", "C:\\old\\TolvaneModeler.exe /plg \"%1\"", HKEY_CLASSES_ROOT);
  }
}

// Against the floor of the deletion alone: one RegDeleteTreeA of the same
// tree, which shows what the registry itself costs as the tree grows.
int RunTree(const char* module_path, int keys, int rounds) {
  const Module module = Load(module_path);
  std::vector<double> samples, floor_samples;
  for (int round = 0; round < rounds; ++round) {
    SeedTree(keys);
    samples.push_back(Time([&] { Call(module.register_server, "DllRegisterServer"); }));
    if (KeyExists(HKEY_CLASSES_ROOT, "Pellagor Language\\shell\\Open Pellagor R000000")) {
      Fail("the seeded tree survived registration");
    }
    Call(module.unregister_server, "DllUnregisterServer");
    SeedTree(keys);
    floor_samples.push_back(Time([&] {
      if (RegDeleteTreeA(HKEY_CLASSES_ROOT, "Pellagor Language") != ERROR_SUCCESS) {
        Fail("RegDeleteTreeA of the seeded tree failed");
      }
    }));
  }
  std::printf("keys=%d\nrounds=%d\nregister_us=%.1f\nfloor_us=%.1f\n", keys, rounds,
              Median(samples), Median(floor_samples));
  FreeLibrary(module.handle);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "cycle" && argc == 5) return RunCycle(argv[2], argv[3], Count(argv[4]));
  if (mode == "load" && argc == 5) return RunLoad(argv[2], argv[3], Count(argv[4]));
  if (mode == "export" && argc == 3) return RunExport(argv[2]);
  if (mode == "versions" && argc == 5) {
    return RunVersions(argv[2], Count(argv[3]), Count(argv[4]));
  }
  if (mode == "tree" && argc == 5) return RunTree(argv[2], Count(argv[3]), Count(argv[4]));
  std::fprintf(stderr,
               "usage: cycle_driver cycle MODULE PLAN N | load MODULE RESOURCES_ONLY N |\n"
               "       export MODULE | versions MODULE COUNT N | tree MODULE KEYS N\n");
  return 2;
}
