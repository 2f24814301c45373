// The memory of one export call, and the way back out of it when memory runs
// out. The module is built without exceptions: an allocation that fails
// inside a call returns to the call's start, which closes every key the call
// opened, releases every block the call allocated and reports the failure,
// so that the caller's process goes on. The module's operator new allocates
// here (registrar/module_runtime.cpp); so does the allocation sweep's test
// program, which runs the same calls on the in-memory registry.
#pragma once

#include <cstddef>

#include "platform/registry.h"

namespace plg {

// A block of `size` bytes. Inside a call it belongs to the call; when it
// cannot be had there, this does not return but ends the call. Outside a
// call it returns nullptr when memory has run out.
void* AllocateBlock(std::size_t size);
// Frees a block of AllocateBlock's (null does nothing).
void FreeBlock(void* block) noexcept;

// Ends the running call as if memory had run out; outside a call, returns.
void EndCallOutOfMemory();

// Runs `body(context)` as one call on `registry`. True when it ran to its
// end; false when memory ran out, after every key opened through `registry`
// during the call is closed and every block of the call freed. Blocks that
// outlive a completed call become ordinary ones. Calls do not nest and run
// one at a time.
bool RunCall(Registry& registry, void (*body)(void*), void* context);

template <typename Body>
bool RunCall(Registry& registry, Body& body) {
  return RunCall(
      registry, [](void* context) { (*static_cast<Body*>(context))(); }, &body);
}

// While one exists, allocations are not the running call's: for code that
// stands in for the machine around the module in tests (the in-memory
// registry keeps what it allocates beyond the call).
class OutsideCall {
 public:
  OutsideCall();
  ~OutsideCall();
  OutsideCall(const OutsideCall&) = delete;
  OutsideCall& operator=(const OutsideCall&) = delete;
};

// For the allocation sweep: the `n`-th allocation of each following call
// fails (1 the first, 0 none); and how many allocations the last call made.
void FailCallAllocation(std::size_t n);
std::size_t LastCallAllocations();
// Blocks allocated and not yet freed, in calls or not.
std::size_t LiveBlocks();

}  // namespace plg
