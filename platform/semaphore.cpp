#include "platform/semaphore.h"

#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace platform {
namespace {

// About 10-50 microseconds of spinning, depending on the processor's pause latency.
constexpr int kSpinRounds = 400;

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

int Clamp(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

Semaphore::Semaphore(int initial, int maximum)
    : count_(Clamp(initial, 0, maximum < 1 ? 1 : maximum)), maximum_(maximum < 1 ? 1 : maximum) {}

bool Semaphore::Release(int count) {
  if (count < 1) return false;
  int current = count_.load(std::memory_order_relaxed);
  do {
    if (count > maximum_ - current) return false;
  } while (!count_.compare_exchange_weak(current, current + count, std::memory_order_release,
                                         std::memory_order_relaxed));
  // A sleeper checks the count under the mutex before it sleeps, so taking the mutex
  // here orders this release either before its check or after it sleeps.
  int sleepers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sleepers = sleepers_;
  }
  if (sleepers > 0) {
    if (count == 1) {
      cv_.notify_one();
    } else {
      cv_.notify_all();
    }
  }
  return true;
}

bool Semaphore::TryWait() {
  int current = count_.load(std::memory_order_relaxed);
  while (current > 0) {
    if (count_.compare_exchange_weak(current, current - 1, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
      return true;
    }
  }
  return false;
}

bool Semaphore::SpinTake() {
  for (int i = 0; i < kSpinRounds; ++i) {
    if (TryWait()) return true;
    Pause();
  }
  return false;
}

void Semaphore::Wait() {
  if (SpinTake()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  ++sleepers_;
  cv_.wait(lock, [this] { return TryWait(); });
  --sleepers_;
}

bool Semaphore::TimedWait(int timeout_ms) {
  if (TryWait()) return true;
  std::unique_lock<std::mutex> lock(mutex_);
  ++sleepers_;
  const bool taken = cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                                  [this] { return TryWait(); });
  --sleepers_;
  return taken;
}

}  // namespace platform
