// The allocation sweeps' operator new: a program that links
// failing_allocations.cpp (target plg_failing_allocations) replaces the
// global operator new with one that counts the allocations of a sweep run
// and, from the n-th on, fails every one of them with std::bad_alloc, so that
// whatever the C++ runtime does after the first failure meets failing
// allocations too. Link it only into the sweep programs.
#pragma once

#include <cstddef>

namespace plg::testing {

// One run of a sweep: while it exists, allocations are counted, and from the
// `fail_from`-th on (1 the first; 0 none) every one fails.
class FailingAllocations {
 public:
  explicit FailingAllocations(std::size_t fail_from);
  ~FailingAllocations();
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;

  // Allocations asked for during the run, those that failed included.
  std::size_t counted() const;
};

// While one exists, allocations are neither counted nor failed: for the
// machine that the test puts around the module (the in-memory registry, the
// recorders), whose memory is not the module's.
class MachineWork {
 public:
  MachineWork();
  ~MachineWork();
  MachineWork(const MachineWork&) = delete;
  MachineWork& operator=(const MachineWork&) = delete;
};

// Blocks that operator new handed out and operator delete has not freed.
std::size_t LiveAllocations();

}  // namespace plg::testing
