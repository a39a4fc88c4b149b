#include "platform/atomic.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace platform {
namespace {

TEST(AtomicTest, ResultsFollowTheIncrementDecrementExchangeContract) {
  std::int32_t word = 5;
  EXPECT_EQ(AtomicIncrement(&word), 6);
  EXPECT_EQ(AtomicDecrement(&word), 5);
  EXPECT_EQ(AtomicExchange(&word, -1), 5);
  EXPECT_EQ(AtomicLoadRelaxed(&word), -1);
}

TEST(AtomicTest, ConcurrentIncrementsAndDecrementsAreNotLost) {
  std::int32_t word = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&word, t] {
      for (int i = 0; i < 100000; ++i) {
        if (t % 2 == 0) {
          AtomicIncrement(&word);
        } else {
          AtomicIncrement(&word);
          AtomicDecrement(&word);
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(word, 200000);
}

}  // namespace
}  // namespace platform
