#include "foundation/numeric/euler_angles.h"

#include <cmath>

#include <gtest/gtest.h>

namespace {

// Row-major 4x4 holding Ry(a) Rx(b) Rz(c).
void Compose(double a, double b, double c, double* m) {
  const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
  const double cc = std::cos(c), sc = std::sin(c);
  const double r[9] = {
      ca * cc + sa * sb * sc,  -ca * sc + sa * sb * cc, sa * cb, cb * sc, cb * cc, -sb,
      -sa * cc + ca * sb * sc, sa * sc + ca * sb * cc,  ca * cb};
  for (int i = 0; i < 16; ++i) m[i] = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i * 4 + j] = r[i * 3 + j];
  m[15] = 1.0;
}

TEST(EulerAngles, YXZRotatingRecoversComposedAngles) {
  const double d = M_PI / 180.0;
  const double cases[][3] = {
      {0, 0, 0},
      {30 * d, 0, 0},
      {0, -20 * d, 0},
      {0, 0, 45 * d},
      {-120 * d, 35 * d, 170 * d},
      {179 * d, -89 * d, -5 * d},
  };
  for (const auto& c : cases) {
    double m[16], angles[3];
    Compose(c[0], c[1], c[2], m);
    ASSERT_TRUE(RotationToEulerAngles(m, 17, angles));
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(angles[i], c[i], 1e-12) << i;
  }
}

TEST(EulerAngles, VerticalAxisTakesTheSingularBranch) {
  for (double sign : {1.0, -1.0}) {
    double m[16], angles[3];
    // Tilt of -+90 degrees and a turn of 0.4: all of the turn lands in the roll.
    Compose(0.0, -sign * M_PI / 2, 0.4, m);
    m[2] = m[10] = 0.0;  // exact zeros, as a camera looking along Y gives
    ASSERT_TRUE(RotationToEulerAngles(m, 17, angles));
    EXPECT_EQ(angles[0], 0.0);
    EXPECT_NEAR(angles[1], -sign * M_PI / 2, 1e-15);
    EXPECT_NEAR(angles[2], std::atan2(-m[1], m[0]), 1e-15);
  }
}

TEST(EulerAngles, UnknownOrderGivesZeros) {
  double m[16], angles[3] = {1, 2, 3};
  Compose(0.1, 0.2, 0.3, m);
  EXPECT_FALSE(RotationToEulerAngles(m, 5, angles));
  EXPECT_EQ(angles[0], 0.0);
  EXPECT_EQ(angles[2], 0.0);
}

}  // namespace
