// The few pieces of the C++ runtime the module uses, in place of the
// library's own: they would pull in exception handling (unwinder, terminate
// handler, name demangler, thread support and TLS), which the module, built
// without exceptions, has no use for.
//
// Memory comes from the running export call (platform/call_memory.h): when it
// runs out there, or a container is asked for a size no allocation can have,
// the call ends with E_OUTOFMEMORY, its keys closed and its memory freed.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "platform/call_memory.h"

namespace {

// Out of memory in a call: the call ends. Outside one (nothing of the
// module's allocates there), the process cannot go on, as the heap does
// with HEAP_GENERATE_EXCEPTIONS.
[[noreturn]] void CannotContinue() {
  plg::EndCallOutOfMemory();
  RaiseException(static_cast<DWORD>(STATUS_NO_MEMORY), EXCEPTION_NONCONTINUABLE, 0, nullptr);
  std::abort();
}

void* Allocate(std::size_t size) {
  void* memory = plg::AllocateBlock(size == 0 ? 1 : size);
  if (memory == nullptr) CannotContinue();
  return memory;
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* memory) noexcept { plg::FreeBlock(memory); }
void operator delete[](void* memory) noexcept { plg::FreeBlock(memory); }
void operator delete(void* memory, std::size_t) noexcept { plg::FreeBlock(memory); }
void operator delete[](void* memory, std::size_t) noexcept { plg::FreeBlock(memory); }

// Called by the containers' inline code.
namespace std {
void __throw_bad_alloc() { CannotContinue(); }
void __throw_bad_array_new_length() { CannotContinue(); }
void __throw_length_error(const char*) { CannotContinue(); }
void __throw_logic_error(const char*) { CannotContinue(); }
void __throw_out_of_range(const char*) { CannotContinue(); }
void __throw_out_of_range_fmt(const char*, ...) { CannotContinue(); }
}  // namespace std
