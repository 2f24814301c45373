#pragma once

namespace plg {

// Passed to every registration step: write the step's entries, or remove them.
enum RegistrationMode : int {
  kUnregister = 0,
  kRegister = 1,
};

}  // namespace plg
