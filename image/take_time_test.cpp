#include "image/take_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

TEST(TakeTimeTest, MeansLeaveOutTheFirstCall) {
  testing::internal::CaptureStdout();
  TakeTimeStart();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  TakeTime("first");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  TakeTime("second");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  TakeTime("third");
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(out.find("first"), std::string::npos) << out;
  const size_t second = out.find("TakeTime: second: ");
  const size_t third = out.find("TakeTime: third: ");
  ASSERT_NE(second, std::string::npos) << out;
  ASSERT_NE(third, std::string::npos) << out;
  float ms2, mean2, ms3, mean3;
  ASSERT_EQ(std::sscanf(out.c_str() + second, "TakeTime: second: %f ms, mean %f ms", &ms2, &mean2),
            2);
  ASSERT_EQ(std::sscanf(out.c_str() + third, "TakeTime: third: %f ms, mean %f ms", &ms3, &mean3),
            2);
  EXPECT_GE(ms2, 40.0f);
  EXPECT_GT(ms3, ms2);
  EXPECT_NEAR(mean2, ms2, 0.011f);
  EXPECT_NEAR(mean3, (ms2 + ms3) / 2, 0.011f);
  EXPECT_NE(out.find("cpu cycles, mean "), std::string::npos);
  EXPECT_NE(out.find(" Hz, mean fps "), std::string::npos);
}

}  // namespace
