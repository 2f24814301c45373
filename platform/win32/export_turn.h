// One export call at a time per module, without waiting for itself: a call
// made on the thread that is already inside an export (from the message loop
// of the first call's message box: a timer, a window's message, an incoming
// COM call) is refused at once instead of waiting for a lock its own thread
// holds. Calls from other threads wait their turn.
#pragma once

#include <windows.h>

#include <atomic>

namespace plg {

// A module's one lock and the thread that holds it.
struct ExportLock {
  SRWLOCK lock = SRWLOCK_INIT;
  // The holder's thread id; 0 (no thread has it) when free. Only the holder
  // writes its own id, so a thread that reads its own id holds the lock.
  std::atomic<DWORD> owner{0};
};

// Takes the turn of the calling thread, or refuses it (entered() false)
// when the thread already holds the lock.
class ExportTurn {
 public:
  explicit ExportTurn(ExportLock& lock) : lock_(lock) {
    const DWORD thread = GetCurrentThreadId();
    if (lock_.owner.load() == thread) return;
    AcquireSRWLockExclusive(&lock_.lock);
    lock_.owner.store(thread);
    entered_ = true;
  }
  ~ExportTurn() {
    if (!entered_) return;
    lock_.owner.store(0);
    ReleaseSRWLockExclusive(&lock_.lock);
  }
  ExportTurn(const ExportTurn&) = delete;
  ExportTurn& operator=(const ExportTurn&) = delete;

  bool entered() const { return entered_; }

 private:
  ExportLock& lock_;
  bool entered_ = false;
};

}  // namespace plg
