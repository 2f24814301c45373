// What the tests of the host settings steps share: the key the steps write
// beneath, and running several steps the way the driver does.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>

#include "platform/platform.h"
#include "registry/registration_mode.h"
#include "tests/support/registry_text.h"
#include "tests/support/test_machine.h"

namespace plg::testing {

inline const std::string kVersionKey = kProductVersionKey;

using SettingsStep = std::function<void(Platform&, RegistrationMode)>;

// Runs `steps` on `m` in order; none may leave a key open.
inline void RunSteps(TestMachine& m, RegistrationMode mode,
                     std::initializer_list<SettingsStep> steps) {
  std::size_t number = 0;
  for (const SettingsStep& step : steps) {
    step(m.platform, mode);
    EXPECT_EQ(0u, m.registry.open_handles()) << "after step " << ++number;
  }
}

// Unregistration by `run_steps` on a machine with the shared system: no
// registry call, no message, no product version key.
inline void ExpectUnregistrationTouchesNothing(void (*run_steps)(TestMachine&, RegistrationMode)) {
  TestMachine m;
  m.SeedSharedSystem();
  m.registry.ClearCalls();
  run_steps(m, kUnregister);
  EXPECT_TRUE(m.registry.calls().empty());
  EXPECT_TRUE(m.messages().empty());
  EXPECT_FALSE(m.registry.KeyExists(kVersionKey));
}

}  // namespace plg::testing
