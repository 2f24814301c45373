#include "tests/support/test_machine.h"

#include "machine/builtin_machine.h"

namespace plg::testing {

void TestMachine::SeedSharedSystem() { SeedSharedSystemImage(&registry); }

}  // namespace plg::testing
