#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/plgreg/plgreg_cli.h"

int main(int argc, char** argv) {
#ifdef _WIN32
  // REGEDIT5 output is UTF-16: no line-end translation may touch it.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  return plg::tool::RunPlgreg(std::move(args), std::cout, std::cerr, plg::tool::LoadMachineImage);
}
