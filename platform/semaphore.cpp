#include "platform/semaphore.h"

#include <chrono>

namespace platform {

Semaphore::Semaphore(int initial, int maximum)
    : count_(initial), maximum_(maximum < 1 ? 1 : maximum) {
  if (count_ < 0) count_ = 0;
  if (count_ > maximum_) count_ = maximum_;
}

bool Semaphore::Release(int count) {
  if (count < 1) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count > maximum_ - count_) return false;
    count_ += count;
  }
  if (count == 1) {
    cv_.notify_one();
  } else {
    cv_.notify_all();
  }
  return true;
}

void Semaphore::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return count_ > 0; });
  --count_;
}

bool Semaphore::TryWait() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (count_ == 0) return false;
  --count_;
  return true;
}

bool Semaphore::TimedWait(int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                    [this] { return count_ > 0; })) {
    return false;
  }
  --count_;
  return true;
}

}  // namespace platform
