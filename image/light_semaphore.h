// LightSemaphore: a counter in front of a kernel-backed semaphore. Acquire decrements the
// counter and sleeps only when it went below 0; Release increments it and wakes one sleeper
// only when one is waiting. Started at 1 it is a mutex whose uncontended path never
// sleeps or signals; started at 0 it is a counting signal. Safe from any thread; not
// re-entrant when used as a mutex.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/semaphore.h"

class LightSemaphore {
 public:
  explicit LightSemaphore(int32_t initial) : count_(initial) {}
  LightSemaphore(const LightSemaphore&) = delete;
  LightSemaphore& operator=(const LightSemaphore&) = delete;

  void Acquire() {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) - 1 < 0) semaphore_.Wait();
  }
  void Release() {
    if (count_.fetch_add(1, std::memory_order_acq_rel) < 0) semaphore_.Release(1);
  }
  // Snapshot of the counter (negative: that many threads wait).
  int32_t count() const { return count_.load(std::memory_order_relaxed); }

  // Scoped use as a mutex.
  class Guard {
   public:
    explicit Guard(LightSemaphore& s) : s_(s) { s_.Acquire(); }
    ~Guard() { s_.Release(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    LightSemaphore& s_;
  };

 private:
  std::atomic<int32_t> count_;
  platform::Semaphore semaphore_{0, 0x40000000};
};
