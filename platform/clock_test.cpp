#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace platform {
namespace {

TEST(ClockTest, AdvancesMonotonicallyAtItsStatedFrequency) {
  const std::int64_t start = ClockTicks();
  const double start_seconds = ClockSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double elapsed = static_cast<double>(ClockTicks() - start) / ClockFrequency();
  EXPECT_GE(elapsed, 0.019);
  EXPECT_LT(elapsed, 5.0);
  EXPECT_GE(ClockSeconds() - start_seconds, 0.019);
}

}  // namespace
}  // namespace platform
