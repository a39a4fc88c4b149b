// Counting semaphore with a maximum count, the synchronisation object of the
// worker pool and the image cache. Safe to use from any thread.
//
// A waiter spins briefly before it sleeps, so signals that follow each other closely
// (back-to-back worker-pool jobs) are taken without a trip through the scheduler.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace platform {

class Semaphore {
 public:
  // initial must lie in 0..maximum, maximum must be at least 1 (out-of-range values
  // are clamped).
  Semaphore(int initial, int maximum);
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // Adds count (>= 1) to the semaphore. When that would exceed the maximum nothing is
  // added and the result is false.
  bool Release(int count = 1);

  // Waits without time limit until the count is positive, then takes one.
  void Wait();

  // Takes one when the count is positive; otherwise returns false at once.
  bool TryWait();

  // Waits up to timeout_ms milliseconds; true when one was taken.
  bool TimedWait(int timeout_ms);

 private:
  bool SpinTake();

  std::atomic<int> count_;
  int maximum_;
  std::mutex mutex_;
  std::condition_variable cv_;
  int sleepers_ = 0;  // guarded by mutex_
};

}  // namespace platform
