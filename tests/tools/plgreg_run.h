// Runs plgreg in-process and decodes its output, for the tool's tests.
#pragma once

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

}  // namespace plg::tool::testing
