#include "platform/call_memory.h"

#include <cstdint>
#include <cstdlib>

namespace plg {

namespace {

// Ahead of every block: its links in the running call's list, and whether it
// is in that list. A multiple of 16 bytes, so that the block keeps malloc's
// alignment.
struct alignas(16) BlockHeader {
  BlockHeader* previous;
  BlockHeader* next;
  bool in_call;
};

struct Call {
  BlockHeader blocks;  // the list's head: every block of the call
  // __builtin_setjmp's buffer: the frame, the resume address and the stack.
  void* resume[5];
  Registry* registry;
  std::size_t allocations;
};

// One call at a time (the module has no thread-local storage): the export
// entry points run their calls one after another.
Call* g_call = nullptr;
int g_outside_depth = 0;
std::size_t g_fail_at = 0;
std::size_t g_last_allocations = 0;
std::size_t g_live_blocks = 0;

bool InCall() { return g_call != nullptr && g_outside_depth == 0; }

void Unlink(BlockHeader* header) {
  header->previous->next = header->next;
  header->next->previous = header->previous;
  header->in_call = false;
}

// Frees every block still in the call's list, or hands them over as
// ordinary blocks.
void ReleaseBlocks(Call& call, bool free_them) {
  while (call.blocks.next != &call.blocks) {
    BlockHeader* header = call.blocks.next;
    Unlink(header);
    if (free_them) {
      --g_live_blocks;
      std::free(header);
    }
  }
}

// Kept out of line, so that what RunCall holds across the jump back is its
// own frame's.
[[gnu::noinline]] bool RunResumable(Call& call, void (*body)(void*), void* context) {
  if (__builtin_setjmp(call.resume) != 0) return false;
  body(context);
  return true;
}

}  // namespace

void* AllocateBlock(std::size_t size) {
  const bool in_call = InCall();
  if (in_call && ++g_call->allocations == g_fail_at) EndCallOutOfMemory();
  void* memory =
      size <= SIZE_MAX - sizeof(BlockHeader) ? std::malloc(sizeof(BlockHeader) + size) : nullptr;
  if (memory == nullptr) {
    EndCallOutOfMemory();
    return nullptr;
  }
  ++g_live_blocks;
  auto* header = static_cast<BlockHeader*>(memory);
  header->in_call = in_call;
  if (in_call) {
    BlockHeader& head = g_call->blocks;
    header->previous = &head;
    header->next = head.next;
    head.next->previous = header;
    head.next = header;
  }
  return header + 1;
}

void FreeBlock(void* block) noexcept {
  if (block == nullptr) return;
  BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
  if (header->in_call) Unlink(header);
  --g_live_blocks;
  std::free(header);
}

void EndCallOutOfMemory() {
  if (g_call == nullptr) return;
  g_outside_depth = 0;
  __builtin_longjmp(g_call->resume, 1);
}

bool RunCall(Registry& registry, void (*body)(void*), void* context) {
  Call call{};
  call.blocks.previous = call.blocks.next = &call.blocks;
  call.registry = &registry;
  g_call = &call;
  const bool completed = RunResumable(call, body, context);
  g_last_allocations = call.allocations;
  // Out of memory: the keys first, whose records are blocks of the call.
  if (!completed) {
    OutsideCall outside;
    call.registry->CloseOpenKeys();
  }
  g_call = nullptr;
  ReleaseBlocks(call, !completed);
  return completed;
}

OutsideCall::OutsideCall() { ++g_outside_depth; }
OutsideCall::~OutsideCall() { --g_outside_depth; }

void FailCallAllocation(std::size_t n) { g_fail_at = n; }
std::size_t LastCallAllocations() { return g_last_allocations; }
std::size_t LiveBlocks() { return g_live_blocks; }

}  // namespace plg
