// Runs plgreg in-process and decodes its output, for the tool's tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "machine/reg_file.h"
#include "tools/plgreg/plgreg_cli.h"

namespace plg::tool::testing {

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
};

inline CliRun Plgreg(const std::vector<std::string>& args,
                     const MachineLoader& load_machine = LoadMachineImage) {
  std::ostringstream out;
  std::ostringstream err;
  CliRun run;
  run.code = RunPlgreg(args, out, err, load_machine);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// plgreg with a copy of `machine`, faults and all, for whatever image the
// arguments name.
inline CliRun PlgregOn(const MemoryRegistry& machine, const std::vector<std::string>& args) {
  return Plgreg(args, [&](const std::string&, std::string*) { return machine.Clone(); });
}

// The text of a REGEDIT5 file (ASCII content only), or "not UTF-16" when
// the bytes lack the byte order mark.
inline std::string Utf16Text(const std::string& bytes) {
  if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE' || bytes.size() % 2 != 0) {
    return "not UTF-16";
  }
  std::string text;
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    if (bytes[i + 1] != 0) return "not ASCII";
    text += bytes[i];
  }
  return text;
}

// Writes `bytes` to a file in the temporary directory, named after the
// running test and `name` (CTest runs the tests in parallel processes, which
// share the directory); returns its path.
inline std::string WriteTempFile(const std::string& name, const std::string& bytes) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string path =
      ::testing::TempDir() + test->test_suite_name() + "." + test->name() + "." + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// The lines of `text`, split at CRLF or LF.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// A 64-bit PE image whose only resource is a version record: file version
// 38.0.0.380 and, unless `product_name` is null, that ProductName. Built
// here from the format's layout, not by the reader under test.
inline std::string ModuleImage(const char* product_name) {
  const auto le = [](std::uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i, value >>= 8) out += static_cast<char>(value & 0xFF);
    return out;
  };
  const auto pad4 = [](std::string text) {
    while (text.size() % 4 != 0) text += '\0';
    return text;
  };
  const auto utf16z = [&](const std::string& ascii) {
    std::string out;
    for (char c : ascii + '\0') out += le(static_cast<unsigned char>(c), 2);
    return out;
  };
  // wLength, wValueLength, wType, the key, the value, the children.
  const auto block = [&](const std::string& key, const std::string& value, int value_length,
                         int type, const std::string& children) {
    std::string out =
        pad4(pad4(le(0, 2) + le(value_length, 2) + le(type, 2) + utf16z(key)) + value) + children;
    return out.replace(0, 2, le(out.size(), 2));
  };
  const std::string fixed = le(0xFEEF04BD, 4) + le(0x10000, 4) + le(38u << 16, 4) + le(380, 4) +
                            le(38u << 16, 4) + le(0, 4) + std::string(28, '\0');
  std::string strings;
  if (product_name != nullptr) {
    strings = pad4(block("ProductName", utf16z(product_name),
                         static_cast<int>(std::string(product_name).size() + 1), 1, ""));
  }
  const std::string record =
      block("VS_VERSION_INFO", fixed, 52, 0,
            pad4(block("StringFileInfo", "", 0, 1, pad4(block("040904b0", "", 0, 1, strings)))));
  // The resource tree: type 16, name 1, language 0x409, then the data entry.
  const auto directory = [&](std::uint32_t id, std::uint32_t target) {
    return le(0, 12) + le(0, 2) + le(1, 2) + le(id, 4) + le(target, 4);
  };
  const std::uint32_t rva = 0x1000;
  const std::string rsrc = directory(16, 0x80000018) + directory(1, 0x80000030) +
                           directory(0x409, 0x48) + le(rva + 0x58, 4) + le(record.size(), 4) +
                           le(0, 8) + record;
  std::string optional = le(0x20B, 2) + std::string(106, '\0') + le(16, 4);
  for (int i = 0; i < 16; ++i) optional += i == 2 ? le(rva, 4) + le(rsrc.size(), 4) : le(0, 8);
  std::string image = "MZ" + std::string(0x3A, '\0') + le(0x40, 4) + "PE" + le(0, 2) +
                      le(0x8664, 2) + le(1, 2) + le(0, 12) + le(optional.size(), 2) +
                      le(0x2022, 2) + optional + ".rsrc" + std::string(3, '\0') +
                      le(rsrc.size(), 4) + le(rva, 4) + le(rsrc.size(), 4) + le(0x200, 4) +
                      std::string(16, '\0');
  image.resize(0x200, '\0');
  return image + rsrc;
}

}  // namespace plg::tool::testing
