#include "foundation/runtime/worker_pool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "foundation/runtime/notify.h"
#include "platform/environment.h"
#include "testing/log_capture.h"

namespace {

class WorkerPoolTest : public ::testing::Test {
 protected:
  void TearDown() override { WorkerPool::SetNumberOfThreads(0); }
};

struct Counters {
  std::vector<std::atomic<int>> hits;
  explicit Counters(int n) : hits(static_cast<size_t>(n)) {}
};

void CountIndex(void* context, void* item) {
  static_cast<Counters*>(context)->hits[reinterpret_cast<std::uintptr_t>(item)]++;
}

TEST_F(WorkerPoolTest, EveryItemRunsExactlyOnceWhateverThePoolSize) {
  for (int threads : {1, 2, 3, 8}) {
    ASSERT_EQ(WorkerPool::SetNumberOfThreads(threads), threads);
    for (int count : {0, 1, 3, 1000}) {
      Counters counters(count);
      WorkerPool::ParallelFor(&counters, nullptr, 1, count, &CountIndex, false);
      for (int i = 0; i < count; ++i) {
        ASSERT_EQ(counters.hits[static_cast<size_t>(i)].load(), 1)
            << threads << " threads, item " << i << " of " << count;
      }
    }
  }
}

struct Record {
  int input;
  int output;
  char padding[20];
};

TEST_F(WorkerPoolTest, ItemsAreRecordsAtTheGivenStride) {
  WorkerPool::SetNumberOfThreads(3);
  std::vector<Record> records(257);
  for (size_t i = 0; i < records.size(); ++i) records[i].input = static_cast<int>(i);
  int offset = 1000;
  WorkerPool::ParallelFor(
      &offset, records.data(), sizeof(Record), static_cast<int>(records.size()),
      [](void* context, void* item) {
        auto* r = static_cast<Record*>(item);
        r->output = r->input + *static_cast<int*>(context);
      },
      false);
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].output, 1000 + int(i));
}

TEST_F(WorkerPoolTest, OneThreadRunsItemsInOrderOnTheCaller) {
  WorkerPool::SetNumberOfThreads(1);
  struct Seen {
    std::vector<int> order;
    std::vector<std::thread::id> threads;
  } seen;
  WorkerPool::ParallelFor(
      &seen, nullptr, 1, 5,
      [](void* context, void* item) {
        auto* s = static_cast<Seen*>(context);
        s->order.push_back(static_cast<int>(reinterpret_cast<std::intptr_t>(item)));
        s->threads.push_back(std::this_thread::get_id());
      },
      false);
  EXPECT_THAT(seen.order, ::testing::ElementsAre(0, 1, 2, 3, 4));
  EXPECT_THAT(seen.threads, ::testing::Each(std::this_thread::get_id()));
}

// A job of two items that stay inside until released, so the pool is busy meanwhile.
struct Blocker {
  std::atomic<int> inside{0};
  std::atomic<bool> release{false};
  static void Item(void* context, void*) {
    auto* b = static_cast<Blocker*>(context);
    b->inside++;
    while (!b->release.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
};

TEST_F(WorkerPoolTest, BusyPoolRunsInlineOnRequestOtherwiseTheCallerWaits) {
  WorkerPool::SetNumberOfThreads(2);
  Blocker blocker;
  std::thread owner(
      [&] { WorkerPool::ParallelFor(&blocker, nullptr, 1, 2, &Blocker::Item, false); });
  while (blocker.inside.load() < 2) std::this_thread::yield();

  const std::thread::id owner_of_test = std::this_thread::get_id();
  std::vector<std::thread::id> ran_on;
  WorkerPool::ParallelFor(
      &ran_on, nullptr, 1, 3,
      [](void* context, void*) {
        static_cast<std::vector<std::thread::id>*>(context)->push_back(std::this_thread::get_id());
      },
      true);
  EXPECT_THAT(ran_on, ::testing::ElementsAre(std::this_thread::get_id(), std::this_thread::get_id(),
                                             std::this_thread::get_id()));
  std::vector<int> callable_order;  // the callable form runs inline by default
  WorkerPool::ParallelFor(3, [&](int i) {
    EXPECT_EQ(std::this_thread::get_id(), owner_of_test);
    callable_order.push_back(i);
  });
  EXPECT_THAT(callable_order, ::testing::ElementsAre(0, 1, 2));

  std::atomic<bool> waiter_done{false};
  Counters counters(4);
  std::thread waiter([&] {
    WorkerPool::ParallelFor(&counters, nullptr, 1, 4, &CountIndex, false);
    waiter_done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(waiter_done.load()) << "a caller without the inline flag waits for the pool";
  blocker.release = true;
  owner.join();
  waiter.join();
  for (auto& h : counters.hits) EXPECT_EQ(h.load(), 1);
}

TEST_F(WorkerPoolTest, NestedCallsFromPoolItemsRunInline) {
  WorkerPool::SetNumberOfThreads(4);
  constexpr int kOuter = 16, kInner = 50;
  Counters counters(kOuter * kInner);
  struct Outer {
    Counters* counters;
    int base;
  };
  std::vector<Outer> outer(kOuter);
  for (int i = 0; i < kOuter; ++i) outer[size_t(i)] = {&counters, i * kInner};
  WorkerPool::ParallelFor(
      nullptr, outer.data(), sizeof(Outer), kOuter,
      [](void*, void* item) {
        auto* o = static_cast<Outer*>(item);
        // Inline flag clear on purpose: this would wait forever for its own job's lock.
        WorkerPool::ParallelFor(
            o, nullptr, 1, kInner,
            [](void* context, void* index) {
              auto* self = static_cast<Outer*>(context);
              self->counters->hits[size_t(self->base) + reinterpret_cast<std::uintptr_t>(index)]++;
            },
            false);
      },
      false);
  for (auto& h : counters.hits) ASSERT_EQ(h.load(), 1);

  // Resizing from inside a job would wait for that job: refused, the pool stays as it is.
  std::atomic<int> seen{0};
  WorkerPool::ParallelFor(
      &seen, nullptr, 1, 4,
      [](void* context, void*) {
        static_cast<std::atomic<int>*>(context)->fetch_add(WorkerPool::SetNumberOfThreads(1));
      },
      false);
  EXPECT_EQ(seen.load(), 16);
  EXPECT_EQ(WorkerPool::GetNumberOfThreads(), 4);
}

TEST_F(WorkerPoolTest, ExceptionsComeBackToTheCallerAfterStartedItemsEnded) {
  for (int threads : {1, 4}) {
    WorkerPool::SetNumberOfThreads(threads);
    struct State {
      std::atomic<int> in_flight{0};
      std::atomic<int> started{0};
    } state;
    auto item = [](void* context, void* index) {
      auto* s = static_cast<State*>(context);
      s->started++;
      s->in_flight++;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      s->in_flight--;
      if (reinterpret_cast<std::uintptr_t>(index) == 5) throw std::runtime_error("item 5 failed");
    };
    try {
      WorkerPool::ParallelFor(&state, nullptr, 1, 200, item, false);
      ADD_FAILURE() << "no exception with " << threads << " threads";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "item 5 failed");
      EXPECT_EQ(state.in_flight.load(), 0) << "returned while items still ran";
      EXPECT_LT(state.started.load(), 200) << "items after the failure are skipped";
    }
    // The texts the tracking code throws keep their type; the pool stays usable.
    EXPECT_THROW(WorkerPool::ParallelFor(
                     nullptr, nullptr, 1, 8, [](void*, void*) { throw "bad index"; }, false),
                 const char*);
    Counters counters(100);
    WorkerPool::ParallelFor(&counters, nullptr, 1, 100, &CountIndex, false);
    for (auto& h : counters.hits) ASSERT_EQ(h.load(), 1);
  }
}

// The callable form goes through the same pool: each index once, nested calls inline,
// the first exception back on the caller once started items have returned.
TEST_F(WorkerPoolTest, CallableOverIndexFollowsTheSameRules) {
  for (int threads : {1, 2, 4}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    WorkerPool::SetNumberOfThreads(threads);
    for (int count : {0, 1, 1000}) {
      Counters counters(count);
      WorkerPool::ParallelFor(count, [&counters](int i) { counters.hits[size_t(i)]++; });
      for (auto& h : counters.hits) ASSERT_EQ(h.load(), 1) << count << " items";
    }

    constexpr int kOuter = 12, kInner = 40;
    Counters nested(kOuter * kInner);
    WorkerPool::ParallelFor(
        kOuter,
        [&nested](int outer) {
          WorkerPool::ParallelFor(
              kInner, [&](int inner) { nested.hits[size_t(outer * kInner + inner)]++; }, false);
        },
        false);
    for (auto& h : nested.hits) ASSERT_EQ(h.load(), 1);

    std::atomic<int> in_flight{0}, started{0};
    auto failing = [&](int i) {
      started++;
      in_flight++;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      in_flight--;
      if (i == 3) throw "bad index";
    };
    try {
      WorkerPool::ParallelFor(200, failing, false);
      ADD_FAILURE() << "no exception";
    } catch (const char* text) {
      EXPECT_STREQ(text, "bad index");
      EXPECT_EQ(in_flight.load(), 0) << "returned while items still ran";
      EXPECT_LT(started.load(), 200) << "items after the failure are skipped";
    }
  }
}

struct AddJob : js::Job {
  int* target;
  int amount;
  AddJob(int* t, int a) : target(t), amount(a) {}
  void Run() override { *target += amount; }
};

TEST_F(WorkerPoolTest, JobArraysRunThroughRunJobItem) {
  WorkerPool::SetNumberOfThreads(3);
  std::vector<int> totals(64, 0);
  std::vector<AddJob> jobs;
  for (size_t i = 0; i < totals.size(); ++i) jobs.emplace_back(&totals[i], int(i));
  std::vector<js::Job*> pointers;
  for (auto& j : jobs) pointers.push_back(&j);
  WorkerPool::ParallelFor(nullptr, pointers.data(), sizeof(js::Job*), int(pointers.size()),
                          &RunJobItem, false);
  for (size_t i = 0; i < totals.size(); ++i) EXPECT_EQ(totals[i], int(i));
}

TEST_F(WorkerPoolTest, ThreadCountFollowsRequestAndProcessorVariable) {
  struct Case {
    const char* processors;  // null: variable not set
    int request;
    int expected;  // -1: the number of online processors, capped at 8
  } cases[] = {
      {"4", -8, 4},  {"4", -2, 2}, {"0", -8, 1}, {"junk", -8, 1},
      {"-3", -8, 1}, {"4", 3, 3},  {"1", 6, 6},  {nullptr, -8, -1},
  };
  for (const Case& c : cases) {
    if (c.processors) {
      setenv("NUMBER_OF_PROCESSORS", c.processors, 1);
    } else {
      unsetenv("NUMBER_OF_PROCESSORS");
    }
    int expected = c.expected;
    if (expected < 0) expected = std::min(8, platform::OnlineProcessorCount());
    EXPECT_EQ(WorkerPool::SetNumberOfThreads(c.request), expected)
        << (c.processors ? c.processors : "unset") << " / " << c.request;
    EXPECT_EQ(WorkerPool::GetNumberOfThreads(), expected);
  }
  unsetenv("NUMBER_OF_PROCESSORS");
  EXPECT_EQ(WorkerPool::SetNumberOfThreads(0), 1);
  EXPECT_EQ(WorkerPool::GetNumberOfThreads(), 0);
  Counters counters(10);  // a stopped pool still runs jobs, on the caller
  WorkerPool::ParallelFor(&counters, nullptr, 1, 10, &CountIndex, false);
  for (auto& h : counters.hits) EXPECT_EQ(h.load(), 1);
}

TEST_F(WorkerPoolTest, RequestsAboveTheSemaphoreLimitAreClampedAndLogged) {
  std::vector<std::string> lines;
  int n;
  {
    kxtest::LogCapture log;
    n = WorkerPool::SetNumberOfThreads(5000);
    lines = log.lines;
  }
  if (!NotifyContext::Instance().LevelFixed()) {  // NFY_LEVEL may silence the log
    EXPECT_THAT(lines, ::testing::Contains("Warning: 5000 threads requested, limited to 1024"));
  }
  // Fewer when the system refuses threads: then the count says so, and jobs still end.
  EXPECT_LE(n, 1024);
  EXPECT_EQ(WorkerPool::GetNumberOfThreads(), n);
  Counters counters(5000);
  WorkerPool::ParallelFor(&counters, nullptr, 1, 5000, &CountIndex, false);
  for (auto& h : counters.hits) ASSERT_EQ(h.load(), 1);
}

TEST_F(WorkerPoolTest, ManyTinyJobsBackToBack) {
  WorkerPool::SetNumberOfThreads(4);
  std::atomic<long> total{0};
  for (int job = 0; job < 20000; ++job) {
    WorkerPool::ParallelFor(
        &total, nullptr, 1, 2,
        [](void* context, void*) { static_cast<std::atomic<long>*>(context)->fetch_add(1); },
        false);
  }
  EXPECT_EQ(total.load(), 40000);
}

}  // namespace
