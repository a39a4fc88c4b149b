#include "platform/semaphore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {
namespace {

TEST(SemaphoreTest, CountsUpToItsMaximum) {
  Semaphore s(1, 3);
  EXPECT_TRUE(s.Release(2));
  EXPECT_FALSE(s.Release()) << "count 3 is the maximum";
  EXPECT_FALSE(s.Release(0));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(s.TryWait());
  EXPECT_FALSE(s.TryWait());
  EXPECT_FALSE(s.TimedWait(1));
  EXPECT_TRUE(s.Release(3)) << "a refused release added nothing";
}

TEST(SemaphoreTest, WaitBlocksUntilReleasedByAnotherThread) {
  Semaphore go(0, 1024);
  Semaphore done(0, 1024);
  std::atomic<int> woken{0};
  std::thread waiter([&] {
    for (int i = 0; i < 4; ++i) {
      go.Wait();
      woken++;
    }
    done.Release();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // long past the spin phase
  EXPECT_EQ(woken.load(), 0);
  ASSERT_TRUE(go.Release(4));
  done.Wait();
  EXPECT_EQ(woken.load(), 4);
  waiter.join();
}

TEST(SemaphoreTest, TimedWaitIsWokenByARelease) {
  Semaphore s(0, 1);
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.Release();
  });
  EXPECT_TRUE(s.TimedWait(10000));
  releaser.join();
}

}  // namespace
}  // namespace platform
