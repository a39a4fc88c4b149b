#include "image/lock_array.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "image/light_semaphore.h"

namespace {

TEST(LockArray, WaitReturnsAtOnceForUnknownKeys) {
  LockArray locks;
  locks.Wait(7);
  LockArray::Node* node = locks.Lock(7);
  EXPECT_EQ(locks.ActiveCount(), 1);
  locks.Wait(8);  // another key
  locks.Unlock(7, node);
  EXPECT_EQ(locks.ActiveCount(), 0);
  locks.Wait(7);
  locks.Unlock(7);  // unknown now: only logs
  // A recycled node keeps its semaphore: no new node is made.
  locks.Unlock(9, locks.Lock(9));
  EXPECT_EQ(locks.NodeCount(), 1);
}

TEST(LockArray, UnlockWakesEveryWaiter) {
  LockArray locks;
  LockArray::Node* node = locks.Lock(3);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      locks.Wait(3);
      ++woken;
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(woken.load(), 0);
  locks.Unlock(3, node);
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 4);
  EXPECT_EQ(locks.ActiveCount(), 0);
  locks.Unlock(5, locks.Lock(5));
  EXPECT_EQ(locks.NodeCount(), 1);  // the node came back to the free list
}

// Waiters that come while an unlock is under way never block forever, and a key locked
// twice is unlocked node by node.
TEST(LockArray, RacingWaitersAndRelocks) {
  LockArray locks;
  for (int round = 0; round < 200; ++round) {
    LockArray::Node* first = locks.Lock(1);
    LockArray::Node* second = locks.Lock(1);
    std::atomic<bool> released{false};
    std::thread waiter([&] {
      while (!released) locks.Wait(1);
    });
    locks.Unlock(1, first);
    released = true;
    locks.Unlock(1, second);
    waiter.join();
  }
  EXPECT_EQ(locks.ActiveCount(), 0);
}

TEST(LightSemaphore, MutexAndSignal) {
  LightSemaphore mutex(1);
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        LightSemaphore::Guard guard(mutex);
        ++counter;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
  EXPECT_EQ(mutex.count(), 1);

  LightSemaphore signal(0);
  std::atomic<int> taken{0};
  std::thread taker([&] {
    for (int i = 0; i < 3; ++i) {
      signal.Acquire();
      ++taken;
    }
  });
  for (int i = 0; i < 3; ++i) signal.Release();
  taker.join();
  EXPECT_EQ(taken.load(), 3);
  EXPECT_EQ(signal.count(), 0);
}

}  // namespace
