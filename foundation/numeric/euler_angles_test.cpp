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
  for (int order : {-1, 32}) {
    double m[16], angles[3] = {1, 2, 3};
    Compose(0.1, 0.2, 0.3, m);
    EXPECT_FALSE(RotationToEulerAngles(m, order, angles));
    EXPECT_EQ(angles[0], 0.0);
    EXPECT_EQ(angles[2], 0.0);
  }
}

// Row-major 3x3 rotation by angle a about coordinate axis `axis` (0 X, 1 Y, 2 Z).
void AxisRotation(int axis, double a, double* r) {
  const double c = std::cos(a), s = std::sin(a);
  const int p = (axis + 1) % 3, q = (axis + 2) % 3;
  for (int i = 0; i < 9; ++i) r[i] = 0.0;
  r[axis * 3 + axis] = 1.0;
  r[p * 3 + p] = c;
  r[p * 3 + q] = -s;
  r[q * 3 + p] = s;
  r[q * 3 + q] = c;
}

void Multiply3(const double* a, const double* b, double* out) {
  double t[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      t[i * 3 + j] = a[i * 3] * b[j] + a[i * 3 + 1] * b[3 + j] + a[i * 3 + 2] * b[6 + j];
  for (int i = 0; i < 9; ++i) out[i] = t[i];
}

// Axes of a code: first i, second j, third k (or i again with repetition), odd parity
// swapping j and k. Static axes: M = R_third(a2) R_j(a1) R_i(a0); rotating axes apply
// the same rotations the other way round: M = R_third(a0) R_j(a1) R_i(a2).
void ComposeByOrder(int order, const double* a, double* m3) {
  const bool rotating = order & 1, repetition = order & 2, odd = order & 4;
  const int i = (order >> 3) & 3;
  const int j = odd ? (i + 2) % 3 : (i + 1) % 3;
  const int k = odd ? (i + 1) % 3 : (i + 2) % 3;
  const int third = repetition ? i : k;
  double r0[9], r1[9], r2[9];
  AxisRotation(third, rotating ? a[0] : a[2], r0);
  AxisRotation(j, a[1], r1);
  AxisRotation(i, rotating ? a[2] : a[0], r2);
  Multiply3(r0, r1, m3);
  Multiply3(m3, r2, m3);
}

TEST(EulerAngles, EveryOrderCodeRecoversItsComposition) {
  const double a[3] = {0.3, 0.6, -0.4};
  for (int order = 0; order < 24; ++order) {
    SCOPED_TRACE(order);
    double m3[9];
    ComposeByOrder(order, a, m3);
    double m[16] = {0};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) m[r * 4 + c] = m3[r * 3 + c];
    m[15] = 1.0;
    double angles[3];
    ASSERT_TRUE(RotationToEulerAngles(m, order, angles));
    // Repeated axes have two angle triples per rotation: compare the rotations.
    double back[9];
    ComposeByOrder(order, angles, back);
    for (int n = 0; n < 9; ++n) EXPECT_NEAR(back[n], m3[n], 1e-12) << n;
    if ((order & 2) == 0) {
      for (int n = 0; n < 3; ++n) EXPECT_NEAR(angles[n], a[n], 1e-12) << n;
    }
  }
}

}  // namespace
