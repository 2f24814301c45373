#include "tests/support/failing_allocations.h"

#include <cstdlib>
#include <new>

namespace plg::testing {
namespace {

// One thread: the sweeps run on one.
bool g_counting = false;
int g_machine_depth = 0;
std::size_t g_fail_from = 0;
std::size_t g_counted = 0;
std::size_t g_live = 0;

void* Allocate(std::size_t size) {
  if (g_counting && g_machine_depth == 0) {
    ++g_counted;
    if (g_fail_from != 0 && g_counted >= g_fail_from) throw std::bad_alloc();
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  ++g_live;
  return block;
}

void Free(void* block) noexcept {
  if (block == nullptr) return;
  --g_live;
  std::free(block);
}

}  // namespace

FailingAllocations::FailingAllocations(std::size_t fail_from) {
  g_fail_from = fail_from;
  g_counted = 0;
  g_counting = true;
}

FailingAllocations::~FailingAllocations() { g_counting = false; }

std::size_t FailingAllocations::counted() const { return g_counted; }

MachineWork::MachineWork() { ++g_machine_depth; }
MachineWork::~MachineWork() { --g_machine_depth; }

std::size_t LiveAllocations() { return g_live; }

}  // namespace plg::testing

void* operator new(std::size_t size) { return plg::testing::Allocate(size); }
void* operator new[](std::size_t size) { return plg::testing::Allocate(size); }
void operator delete(void* block) noexcept { plg::testing::Free(block); }
void operator delete[](void* block) noexcept { plg::testing::Free(block); }
void operator delete(void* block, std::size_t) noexcept { plg::testing::Free(block); }
void operator delete[](void* block, std::size_t) noexcept { plg::testing::Free(block); }
