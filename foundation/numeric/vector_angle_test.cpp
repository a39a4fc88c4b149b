#include "foundation/numeric/vector_angle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/runtime/notify.h"
#include "testing/log_capture.h"

namespace {

constexpr double kPi = 3.141592653589793;

TEST(VectorAngle, AnglesBetweenVectors) {
  struct Case {
    std::vector<double> a, b;
    double want;
  };
  const Case cases[] = {
      {{1, 0}, {0, 2}, kPi / 2},
      {{1, 1, 0}, {1, 0, 0}, kPi / 4},
      {{1, 2, 3, 4, 5}, {-1, -2, -3, -4, -5}, kPi},
      // Parallel and antiparallel vectors whose cosine rounds past ±1.
      {{-0.2, 0.7, 0.0}, {-0.2 * 0.1, 0.7 * 0.1, 0.0}, 0.0},
      {{0.6, -0.2, -0.7}, {0.6 * -3, -0.2 * -3, -0.7 * -3}, kPi},
      {{-0.9, 0.7, -0.1}, {-0.9 * 7, 0.7 * 7, -0.1 * 7}, 0.0},
      {{2}, {-5}, kPi},
  };
  for (const Case& c : cases) {
    const double got = VectorAngle(c.a.data(), c.b.data(), static_cast<int>(c.a.size()));
    EXPECT_FALSE(std::isnan(got));
    EXPECT_NEAR(got, c.want, 2e-8) << c.a[0];
  }
}

TEST(VectorAngle, ZeroVectorWarnsAndGivesZero) {
  kxtest::LogCapture log;
  const double a[3] = {0, 0, 0}, b[3] = {1, 2, 3};
  const double got = VectorAngle(a, b, 3);
  EXPECT_EQ(got, 0.0);
  EXPECT_THAT(log.lines,
              ::testing::ElementsAre("Warning: VectorAngle: vector(s) with zero length"));
}

}  // namespace
