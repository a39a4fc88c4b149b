// The process-wide worker pool for data-parallel work. WorkerPool::ParallelFor hands
// an array of items to the pool's worker threads and to the calling thread, which
// claim items one at a time from a shared counter; the call returns when every item
// is done. No thread is created per job: workers sleep between jobs.
//
// The pool is empty (every call runs serially on the caller) until
// WorkerPool::SetNumberOfThreads sizes it; it is stopped at process exit.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "foundation/runtime/spin_lock.h"
#include "platform/semaphore.h"
#include "platform/thread.h"

namespace js {

// A unit of work with its own state; run arrays of Job pointers with RunJobItem.
class Job {
 public:
  virtual ~Job() = default;
  virtual void Run() = 0;
};

}  // namespace js

// Item function for arrays of js::Job pointers: item points at one array element (a
// js::Job*); calls its Run. The context is not used. Pass stride = sizeof(js::Job*).
void RunJobItem(void* context, void* item);

class WorkerPool {
 public:
  // fn(context, item) with item = first_item + i * stride (bytes) for item number i.
  // With first_item = nullptr and stride = 1, item is the number i itself
  // (reinterpret_cast<std::intptr_t>(item)).
  using ItemFunction = void (*)(void* context, void* item);

  // Above this the count is clamped (the semaphores count to 1024).
  static constexpr int kMaxThreads = 1024;

  // Runs function(context, first_item + i * stride) once for every i in 0..count-1, in
  // no fixed order, on the pool's threads and the caller's; returns when all returned.
  // count <= 0 runs nothing.
  //
  // Runs every item in ascending order on the caller when the pool has fewer than 2
  // threads, when the caller is itself running a pool item (nested calls never wait
  // for the pool), or when inline_if_busy is set and another job is running on the
  // pool. Otherwise jobs from different threads run one after another: a caller with
  // inline_if_busy clear waits until the running job has ended.
  //
  // An item that throws: items not yet started are skipped, and the first exception is
  // rethrown on the caller once every started item has returned.
  static void ParallelFor(void* context, void* first_item, std::intptr_t stride, int count,
                          ItemFunction function, bool inline_if_busy);

  // Calls body(i) once for every i in 0..count-1 under the same rules as above (the
  // caller works too; inline in ascending order when nested, on a pool of fewer than 2
  // threads, or when busy and inline_if_busy is set; the first exception is rethrown
  // after every started item returned). body is called from several threads at once
  // and is not copied: it must outlive the call, which it does as an argument.
  template <class Body>
  static void ParallelFor(int count, Body&& body, bool inline_if_busy = true) {
    using Callable = std::remove_reference_t<Body>;
    ParallelFor(
        const_cast<void*>(static_cast<const void*>(std::addressof(body))), nullptr, 1, count,
        [](void* context, void* item) {
          (*static_cast<Callable*>(context))(
              static_cast<int>(reinterpret_cast<std::intptr_t>(item)));
        },
        inline_if_busy);
  }

  // Sizes the pool and returns its thread count (the caller included):
  //   n = 0: stops the workers and returns 1 (GetNumberOfThreads is then 0);
  //   n < 0: up to -n threads but not more than the processors: NUMBER_OF_PROCESSORS
  //          (decimal; when not set, the number of online processors); a count of 0
  //          or less gives 1;
  //   n > 0: n threads (clamped to kMaxThreads, with a level-2 log line).
  // The pool is stopped and restarted with n - 1 workers on 4 MB stacks. A worker that
  // cannot be created is not counted (level-2 log line). Waits for a running job to
  // end. Called from a pool item it would wait for its own job: it then changes
  // nothing, logs at level 2 and returns the current count.
  static int SetNumberOfThreads(int n);

  // Current thread count: 0 before sizing and after stopping, else the caller plus the
  // running workers.
  static int GetNumberOfThreads();

  ~WorkerPool();

 private:
  WorkerPool();
  static WorkerPool& Instance();
  static void WorkerMain(void* pool);

  void Run(void* context, void* first_item, std::intptr_t stride, int count, ItemFunction function,
           bool inline_if_busy);
  // Runs one job on the pool; job lock held by the caller. Returns the first exception.
  std::exception_ptr RunOnPool(void* context, void* first_item, std::intptr_t stride, int count,
                               ItemFunction function, int participants);
  std::int64_t ClaimLoop();
  void Stop();
  void Start(int n);

  struct CurrentJob {
    void* context = nullptr;
    std::uintptr_t first_item = 0;
    std::intptr_t stride = 0;
    int count = 0;
    ItemFunction function = nullptr;
    int participants = 0;  // caller + workers taking part
  };

  platform::Semaphore go_[2];
  platform::Semaphore done_;
  platform::Semaphore job_lock_;
  std::vector<std::unique_ptr<platform::Thread>> threads_;
  CurrentJob job_;
  std::atomic<bool> busy_{false};
  std::atomic<std::int64_t> claim_{0};
  int go_index_ = 0;
  std::atomic<int> thread_count_{0};
  std::mutex resize_mutex_;

  js::SpinLock error_lock_;
  std::exception_ptr error_;
  std::atomic<bool> failed_{false};
};
