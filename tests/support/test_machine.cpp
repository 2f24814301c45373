#include "tests/support/test_machine.h"

namespace plg::testing {

void TestMachine::SeedSharedSystem() {
  registry.SeedString(kDirKey, "bin", kSeedBinDir);
  registry.SeedString(kDirKey, "help", kSeedHelpDir);
  registry.SeedString(kDirKey, "lib", kSeedLibDir);
  registry.SeedString(kDirKey, "root", kSeedRootDir);
}

}  // namespace plg::testing
