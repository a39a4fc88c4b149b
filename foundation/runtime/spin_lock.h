// Busy-waiting locks for critical sections of a few instructions (log ring, id
// registry, message rings, hit lists, shared counters). They never sleep, are not
// re-entrant, and must be released by the thread that took them. A section guarded
// by one must not block, sleep, log, or take another spin lock in a different order.
#pragma once

#include <atomic>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace js {

// Tells the processor that this is a spin-wait loop (saves power and helps the
// sibling hyper-thread); no effect on the semantics.
inline void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// One 32-bit word, 1 = free, 0 = taken. Embed it as a member or inherit from it.
// Also usable with std::lock_guard / std::scoped_lock through lock() and unlock().
class SpinLock {
 public:
  SpinLock() = default;
  // Copying an object that holds a lock gives the copy its own free lock; assignment
  // leaves the target's lock as it is.
  SpinLock(const SpinLock&) {}
  SpinLock& operator=(const SpinLock&) { return *this; }

  // Spins until the word was exchanged from non-zero to 0 by this thread.
  void Lock() {
    for (;;) {
      if (word_.load(std::memory_order_relaxed) != 0 &&
          word_.exchange(0, std::memory_order_acquire) != 0) {
        return;
      }
      SpinPause();
    }
  }

  // Frees the lock (exchange with 1).
  void Unlock() { word_.exchange(1, std::memory_order_release); }

  void lock() { Lock(); }
  void unlock() { Unlock(); }

 private:
  std::atomic<std::int32_t> word_{1};
};

}  // namespace js

// Reader/writer spin lock: any number of readers or one writer. A reader that finds
// a writer inside waits holding the gate, so readers and writers that come later
// queue behind it and that reader enters first when the writer leaves. A writer
// waits until no reader is inside (writers can starve while readers keep coming).
// Usable with std::shared_lock (read side) and std::unique_lock / std::lock_guard
// (write side).
class ReadWriteSpinLock {
 public:
  ReadWriteSpinLock() = default;
  // As for js::SpinLock: a copy starts free, assignment keeps the target's state.
  ReadWriteSpinLock(const ReadWriteSpinLock&) {}
  ReadWriteSpinLock& operator=(const ReadWriteSpinLock&) { return *this; }

  void LockRead() {
    gate_.Lock();
    while (count_.load(std::memory_order_acquire) < 0) js::SpinPause();
    count_.fetch_add(1, std::memory_order_acquire);
    gate_.Unlock();
  }

  void UnlockRead() { count_.fetch_sub(1, std::memory_order_release); }

  void LockWrite() {
    for (;;) {
      gate_.Lock();
      if (count_.load(std::memory_order_acquire) == 0) break;
      gate_.Unlock();
      js::SpinPause();
    }
    count_.exchange(-1, std::memory_order_acquire);
    gate_.Unlock();
  }

  void UnlockWrite() { count_.exchange(0, std::memory_order_release); }

  void lock_shared() { LockRead(); }
  void unlock_shared() { UnlockRead(); }
  void lock() { LockWrite(); }
  void unlock() { UnlockWrite(); }

 private:
  js::SpinLock gate_;
  // 0 = free, n > 0 = n readers inside, -1 = a writer inside.
  std::atomic<std::int32_t> count_{0};
};
