// Registration and unregistration on a machine built from the fuzzer's
// bytes: whatever the shared system's installation, other products or a
// damaged registry left there, the module must not crash, must not overrun a
// buffer, must close every key, and must not write outside its own keys.
#include <algorithm>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "machine/memory_registry.h"
#include "machine/recording_reporter.h"
#include "registrar/registration_driver.h"
#include "resources/compiled_strings.h"
#include "tests/support/containment.h"

namespace {

using namespace plg;

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return offset_ >= size_; }
  std::uint8_t Byte() { return empty() ? 0 : data_[offset_++]; }

  std::vector<std::uint8_t> Block() {
    std::size_t length = Byte();
    if (length >= 0xF0) length = (length - 0xF0 + 1) * 600;  // now and then, long data
    const std::size_t taken = std::min(length, size_ - std::min(offset_, size_));
    std::vector<std::uint8_t> block(length, 'x');
    std::copy(data_ + offset_, data_ + offset_ + taken, block.begin());
    offset_ += taken;
    return block;
  }

  // A key name: any bytes but the separator, never empty.
  std::string Name() {
    const std::vector<std::uint8_t> block = Block();
    std::string name(block.begin(), block.end());
    std::replace(name.begin(), name.end(), '\\', '_');
    if (name.empty()) name = "n";
    return name;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

// The module's strings less those the bytes removed. The table itself is
// built once: building it anew took a good part of every run.
class FuzzStrings : public StringSource {
 public:
  std::optional<std::string> Load(unsigned id) const override {
    if (id < removed_.size() && removed_[id]) return std::nullopt;
    static const CompiledStrings table;
    return table.Load(id);
  }
  void Remove(unsigned id) {
    if (id < removed_.size()) removed_[id] = true;
  }

 private:
  std::bitset<1024> removed_;
};

constexpr const char* kViews[] = {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Tolvanics",
                                  "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tolvanics"};
constexpr const char* kDirValues[] = {"bin", "help", "lib", "root"};
// Texts the rules single out, so that the fuzzer reaches them early.
constexpr const char* kTexts[] = {"38.0",
                                  "CurVer",
                                  "curver",
                                  "C:\\Kelsys V12\\bin\\",
                                  "Kelsys",
                                  "Kelsys ",
                                  "PLG Application 380",
                                  "none",
                                  "D:\\Kelsys V11\\bin\\",
                                  "C:\\Kelsys\\bin\\",
                                  "PLG Application 3800",
                                  "Kelsys V12"};
// Version and release names: a few that other entries can meet, so that a
// product version finds its release in the same view.
constexpr const char* kVersionNames[] = {"38.0", "37.0", "V12", "CurVer", "curver", "12.0"};
constexpr ValueType kTypes[] = {kRegSz, kRegExpandSz, kRegBinary, kRegDword, kRegMultiSz, kRegNone};
constexpr unsigned kStringIds[] = {401, 402, 405, 406, 408, 409, 418, 419, 420, 422, 425,
                                   426, 427, 428, 429, 432, 433, 435, 437, 438, 439, 440};
constexpr const char* kOwnedClassKeys[] = {"Pellagor Language\\shell",
                                           "CLSID\\{5E0B27C1-3A94-11D1-8C52-0060B3D2E7A4}",
                                           "CLSID\\{7C4D19A2-E60F-4b3c-9D27-B8A1F40C6E53}",
                                           "Tolvane Model Library",
                                           ".hvxl",
                                           "PLG Application"};

std::string VersionName(Bytes& in) {
  const std::uint8_t pick = in.Byte();
  return pick < 0xC0 ? kVersionNames[pick % std::size(kVersionNames)] : in.Name();
}

std::vector<std::uint8_t> TextOrBlock(Bytes& in) {
  const std::uint8_t pick = in.Byte();
  if (pick < 0x40) {
    const std::string text = kTexts[pick % std::size(kTexts)];
    std::vector<std::uint8_t> data(text.begin(), text.end());
    if (pick & 1) data.push_back(0);
    return data;
  }
  return in.Block();
}

// The machine the bytes describe: one entry or event per step of the
// decoding, in order. A registration may run half-way through, on the
// machine and under the faults seen so far.
void BuildMachine(Bytes& in, MemoryRegistry& registry, FuzzStrings& strings, Platform& platform) {
  const std::string dir_key = "HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Dir";
  bool registered = false;
  while (!in.empty()) {
    switch (in.Byte() % 12) {
      case 0:
        registry.SeedValue(dir_key, kDirValues[in.Byte() % 4],
                           kTypes[in.Byte() % std::size(kTypes)], TextOrBlock(in));
        break;
      case 1: {  // a product version in one view
        const std::string view = kViews[in.Byte() % 2];
        registry.SeedKey(view + "\\Pellagor\\" + VersionName(in));
        break;
      }
      case 2: {  // a release of the shared system in one view
        const std::string view = kViews[in.Byte() % 2];
        const std::string release = view + "\\KELSYS\\" + VersionName(in) + "\\Dir";
        registry.SeedValue(release, "Bin", kTypes[in.Byte() % std::size(kTypes)], TextOrBlock(in));
        break;
      }
      case 3:
        registry.SeedValue("HKEY_CLASSES_ROOT\\PLG Application\\CurVer", "",
                           kTypes[in.Byte() % std::size(kTypes)], TextOrBlock(in));
        break;
      case 4:
        registry.SeedValue("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Kelsys\\38.0\\Options",
                           in.Name(), kRegSz, in.Block());
        break;
      case 5: {  // a version name the ANSI calls cannot spell
        std::u16string name;
        const std::size_t length = 1 + in.Byte() % 120;
        for (std::size_t i = 0; i < length; ++i) {
          name += static_cast<char16_t>(in.Byte() << 8 | in.Byte());
        }
        for (char16_t& c : name) {
          if (c == u'\\' || c == 0) c = u'_';
        }
        registry.SeedKeyW(std::string(kViews[in.Byte() % 2]) + "\\Pellagor", name);
        break;
      }
      case 6:  // someone else's entries beneath keys the module deletes
        registry.SeedKey(std::string("HKEY_CLASSES_ROOT\\") +
                         kOwnedClassKeys[in.Byte() % std::size(kOwnedClassKeys)] + "\\" +
                         in.Name());
        break;
      case 7: {
        RegFault fault;
        fault.op = static_cast<RegOp>(in.Byte() % (static_cast<int>(RegOp::kAny) + 1));
        fault.error = in.Byte() & 1 ? kErrorAccessDenied : kErrorChildMustBeVolatile;
        fault.after = in.Byte();
        fault.times = 1 + in.Byte() % 3;
        registry.InjectFault(fault);
        break;
      }
      case 8:  // a string table with a string missing
        strings.Remove(kStringIds[in.Byte() % std::size(kStringIds)]);
        break;
      case 9: {  // a version registered with its release, in one view
        const std::string view = kViews[in.Byte() % 2];
        const std::string version = VersionName(in);
        registry.SeedKey(view + "\\Pellagor\\" + version);
        registry.SeedValue(view + "\\KELSYS\\" + version + "\\Dir", "Bin",
                           kTypes[in.Byte() % std::size(kTypes)], TextOrBlock(in));
        break;
      }
      case 10:  // leftovers beneath the product's own settings
        registry.SeedValue("HKEY_LOCAL_MACHINE\\Software\\Tolvanics\\Pellagor\\" + VersionName(in) +
                               "\\" + in.Name(),
                           in.Name(), kRegSz, TextOrBlock(in));
        break;
      case 11: {  // registered before (once), with whatever failed then
        const char* path = in.Byte() & 1 ? "C:\\Program Files\\Pellagor\\plgproduct.dll"
                                         : "D:\\Old\\plgproduct.dll";
        if (!registered) static_cast<void>(RegisterProduct(platform, path));
        registered = true;
        break;
      }
    }
  }
}

void Check(const MemoryRegistry& registry, const char* phase) {
  const std::vector<std::string> outside = testing::CallsOutsideProduct(registry.calls());
  if (!outside.empty()) {
    std::fprintf(stderr, "%s wrote outside the product: %s\n", phase, outside.front().c_str());
    std::abort();
  }
  if (registry.open_handles() != 0) {
    std::fprintf(stderr, "%s left %zu keys open\n", phase, registry.open_handles());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryRegistry registry;
  RecordingReporter reporter;
  FuzzStrings strings;
  RecordingEventLog events;
  Platform platform{registry, reporter, strings, events};
  Bytes in(data, size);
  BuildMachine(in, registry, strings, platform);
  Check(registry, "an earlier registration");
  reporter.Clear();
  registry.ClearCalls();

  const long registered = RegisterProduct(platform, "C:\\Program Files\\Pellagor\\plgproduct.dll");
  Check(registry, "registration");
  if ((registered == kResultOk) != reporter.messages().empty()) std::abort();
  registry.ClearCalls();
  static_cast<void>(UnregisterProduct(platform));
  Check(registry, "unregistration");
  return 0;
}
