#include "platform/environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace platform {
namespace {

TEST(EnvironmentTest, ReadsSetEmptyAndMissingVariables) {
  setenv("KALVEX_ENV_PROBE", "12", 1);
  EXPECT_EQ(GetEnvironmentVariable("KALVEX_ENV_PROBE"), "12");
  setenv("KALVEX_ENV_PROBE", "", 1);
  EXPECT_EQ(GetEnvironmentVariable("KALVEX_ENV_PROBE"), "");
  unsetenv("KALVEX_ENV_PROBE");
  EXPECT_FALSE(GetEnvironmentVariable("KALVEX_ENV_PROBE").has_value());
}

TEST(EnvironmentTest, ProcessorCountIsPositive) {
  EXPECT_GE(OnlineProcessorCount(), 1);
}

}  // namespace
}  // namespace platform
