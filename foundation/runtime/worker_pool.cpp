#include "foundation/runtime/worker_pool.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/runtime/notify.h"
#include "platform/environment.h"

namespace {

// Non-zero while this thread runs items of a pool job (workers for their whole life).
// A ParallelFor from such a thread must not wait for the job lock its own job holds.
thread_local int t_pool_depth = 0;

int ProcessorCount() {
  std::optional<std::string> value = platform::GetEnvironmentVariable("NUMBER_OF_PROCESSORS");
  if (!value) return platform::OnlineProcessorCount();
  std::string digits = value->substr(0, 16);
  long n = std::strtol(digits.c_str(), nullptr, 10);
  if (n > WorkerPool::kMaxThreads) return WorkerPool::kMaxThreads;
  if (n < 0) return 0;
  return static_cast<int>(n);
}

}  // namespace

void RunJobItem(void* /*context*/, void* item) {
  (*static_cast<js::Job**>(item))->Run();
}

WorkerPool::WorkerPool()
    : go_{{0, kMaxThreads}, {0, kMaxThreads}}, done_(0, kMaxThreads), job_lock_(1, kMaxThreads) {}

WorkerPool::~WorkerPool() {
  std::lock_guard<std::mutex> guard(resize_mutex_);
  Stop();
}

WorkerPool& WorkerPool::Instance() {
  static WorkerPool pool;
  return pool;
}

void WorkerPool::ParallelFor(void* context, void* first_item, std::intptr_t stride, int count,
                             ItemFunction function, bool inline_if_busy) {
  Instance().Run(context, first_item, stride, count, function, inline_if_busy);
}

int WorkerPool::GetNumberOfThreads() {
  return Instance().thread_count_.load();
}

int WorkerPool::SetNumberOfThreads(int n) {
  WorkerPool& pool = Instance();
  if (t_pool_depth > 0) {
    // Stopping would wait for the very job this item belongs to.
    Notify(2, "WorkerPool::SetNumberOfThreads: called from a pool item, ignored");
    return pool.thread_count_.load();
  }
  std::lock_guard<std::mutex> guard(pool.resize_mutex_);
  if (n == 0) {
    pool.Stop();
    return 1;
  }
  if (n < 0) {
    const int processors = ProcessorCount();
    if (processors < -static_cast<long>(n)) {
      n = processors > 0 ? processors : 1;
    } else {
      n = n == INT32_MIN ? kMaxThreads : -n;
    }
  }
  if (n > kMaxThreads) {
    Notify(2, "WorkerPool::SetNumberOfThreads: %d threads requested, limited to %d", n,
           kMaxThreads);
    n = kMaxThreads;
  }
  pool.Stop();
  pool.Start(n);
  return pool.thread_count_.load();
}

void WorkerPool::Run(void* context, void* first_item, std::intptr_t stride, int count,
                     ItemFunction function, bool inline_if_busy) {
  if (count <= 0) return;
  bool serial = thread_count_.load() < 2 || t_pool_depth > 0 || (inline_if_busy && busy_.load());
  if (!serial) {
    job_lock_.Wait();
    const int n = thread_count_.load();
    if (n < 2) {
      job_lock_.Release();
      serial = true;
    } else {
      std::exception_ptr error = RunOnPool(context, first_item, stride, count, function, n);
      job_lock_.Release();
      if (error) std::rethrow_exception(error);
      return;
    }
  }
  const auto base = reinterpret_cast<std::uintptr_t>(first_item);
  for (int i = 0; i < count; ++i) {
    function(context, reinterpret_cast<void*>(base + static_cast<std::uintptr_t>(i) *
                                                         static_cast<std::uintptr_t>(stride)));
  }
}

std::exception_ptr WorkerPool::RunOnPool(void* context, void* first_item, std::intptr_t stride,
                                         int count, ItemFunction function, int participants) {
  job_.context = context;
  job_.first_item = reinterpret_cast<std::uintptr_t>(first_item);
  job_.stride = stride;
  job_.count = count;
  job_.function = function;
  job_.participants = participants;
  busy_.store(true);
  failed_.store(false);
  error_ = nullptr;
  claim_.store(0);
  // The job is published before the go signal; each worker waits on the two go
  // semaphores alternately, so it takes exactly one signal per job.
  platform::Semaphore& go = go_[go_index_];
  go_index_ ^= 1;
  go.Release(participants - 1);

  ++t_pool_depth;
  const std::int64_t failed_claim = ClaimLoop();
  --t_pool_depth;
  // Every participant ends with one failed claim: count .. count + participants - 1.
  // The one that gets the highest is the last and signals done (or is the caller).
  if (failed_claim < static_cast<std::int64_t>(count) + participants - 1) done_.Wait();

  busy_.store(false);
  std::exception_ptr error = std::move(error_);
  error_ = nullptr;
  return error;
}

std::int64_t WorkerPool::ClaimLoop() {
  const int count = job_.count;
  for (;;) {
    const std::int64_t i = claim_.fetch_add(1, std::memory_order_acq_rel);
    if (i >= count) return i;
    if (failed_.load(std::memory_order_relaxed)) continue;  // skip the rest after a throw
    try {
      job_.function(
          job_.context,
          reinterpret_cast<void*>(job_.first_item + static_cast<std::uintptr_t>(i) *
                                                        static_cast<std::uintptr_t>(job_.stride)));
    } catch (...) {
      std::lock_guard<js::SpinLock> guard(error_lock_);
      if (!error_) error_ = std::current_exception();
      failed_.store(true, std::memory_order_relaxed);
    }
  }
}

void WorkerPool::WorkerMain(void* raw) {
  auto* pool = static_cast<WorkerPool*>(raw);
  t_pool_depth = 1;
  int go_index = 0;
  for (;;) {
    pool->go_[go_index].Wait();
    go_index ^= 1;
    const int count = pool->job_.count;
    const int participants = pool->job_.participants;
    const std::int64_t failed_claim = pool->ClaimLoop();
    if (failed_claim == static_cast<std::int64_t>(count) + participants - 1) pool->done_.Release();
    if (count == 0) return;
  }
}

// Caller holds resize_mutex_.
void WorkerPool::Stop() {
  const int n = thread_count_.load();
  if (n >= 2) {
    job_lock_.Wait();
    // A job of no items: every worker wakes, fails its first claim and ends.
    RunOnPool(nullptr, nullptr, 0, 0, nullptr, n);
    for (auto& thread : threads_) thread->Join();
    threads_.clear();
    go_index_ = 0;
    thread_count_.store(0);
    job_lock_.Release();
  }
  thread_count_.store(0);
}

// Caller holds resize_mutex_; the pool is stopped.
void WorkerPool::Start(int n) {
  int started = 0;
  for (int i = 0; i < n - 1; ++i) {
    auto thread = std::make_unique<platform::Thread>();
    if (!thread->Start(&WorkerPool::WorkerMain, this)) break;
    threads_.push_back(std::move(thread));
    ++started;
  }
  thread_count_.store(started + 1);
  if (started < n - 1) {
    Notify(2, "WorkerPool::SetNumberOfThreads: only %d of %d threads could be started", started + 1,
           n);
  }
}
