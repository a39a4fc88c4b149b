// Test helper: sizes the worker pool for one test.
#pragma once

#include "foundation/runtime/worker_pool.h"

namespace kxtest {

// Sets the pool's thread count while it lives and restores the previous count after.
class PoolThreads {
 public:
  explicit PoolThreads(int n) : previous_(WorkerPool::GetNumberOfThreads()) {
    WorkerPool::SetNumberOfThreads(n);
  }
  ~PoolThreads() { WorkerPool::SetNumberOfThreads(previous_); }
  PoolThreads(const PoolThreads&) = delete;
  PoolThreads& operator=(const PoolThreads&) = delete;

 private:
  int previous_;
};

}  // namespace kxtest
