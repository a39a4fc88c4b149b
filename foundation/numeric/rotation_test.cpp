#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "foundation/numeric/fixed_matrix.h"

namespace {

constexpr double kPi = 3.141592653589793;

void ExpectProperRotation(const Matrix3x3& R) {
  Matrix3x3 p;
  p.MultiplyABt(R, R);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(p[i][j], i == j ? 1.0 : 0.0, 1e-14);
  const double det = R[0][0] * (R[1][1] * R[2][2] - R[1][2] * R[2][1]) -
                     R[0][1] * (R[1][0] * R[2][2] - R[1][2] * R[2][0]) +
                     R[0][2] * (R[1][0] * R[2][1] - R[1][1] * R[2][0]);
  EXPECT_NEAR(det, 1.0, 1e-14);
}

void ExpectVec(const vm::Vector3& got, const vm::Vector3& want, double tol) {
  EXPECT_NEAR(got.x, want.x, tol);
  EXPECT_NEAR(got.y, want.y, tol);
  EXPECT_NEAR(got.z, want.z, tol);
}

TEST(Rotation, AxisAngleMapsAxesAsExpected) {
  Matrix3x3 R;
  R.SetRotation({0, 0, 2}, kPi / 2);  // axis length does not matter
  ExpectVec(MultiplyMat3Vec3(R, {1, 0, 0}), {0, 1, 0}, 1e-15);
  ExpectProperRotation(R);

  Matrix3x3 X;
  X.SetRotationXYZ(0, 0, kPi / 2);
  Matrix3x3 Z;
  Z.SetRotation({0, 0, 1}, kPi / 2);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(X.m[i], Z.m[i], 1e-16);
  X.SetRotationXYZ(kPi / 2, 0, 0);
  ExpectVec(MultiplyMat3Vec3(X, {0, 1, 0}), {0, 0, 1}, 1e-15);
}

TEST(Rotation, XYZIsProductOfSingleAxisRotations) {
  const double ax = 0.3, ay = -1.1, az = 2.4;
  Matrix3x3 Rx, Ry, Rz, P, R;
  Rx.SetRotation({1, 0, 0}, ax);
  Ry.SetRotation({0, 1, 0}, ay);
  Rz.SetRotation({0, 0, 1}, az);
  P.Multiply(Rz, Ry);
  P.Multiply(P, Rx);
  R.SetRotationXYZ(ax, ay, az);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(R.m[i], P.m[i], 1e-15);
  ExpectProperRotation(R);

  Matrix4x4 M;
  for (int i = 0; i < 16; ++i) M.m[i] = 100 + i;
  M.SetRotationXYZ(ax, ay, az);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_EQ(M[i][j], R[i][j]);
    EXPECT_EQ(M[i][3], 100 + 4 * i + 3);
  }
  for (int j = 0; j < 4; ++j) EXPECT_EQ(M[3][j], 112 + j);
}

TEST(Rotation, DegenerateAxisLeavesTargetUnchanged) {
  Matrix3x3 R;
  for (int i = 0; i < 9; ++i) R.m[i] = i;
  R.SetRotation({1e-13, 0, 0}, 1.0);  // squared length 1e-26
  for (int i = 0; i < 9; ++i) EXPECT_EQ(R.m[i], i);
  Matrix4x4 M;
  for (int i = 0; i < 16; ++i) M.m[i] = i;
  M.SetRotation({0, 0, 0}, 1.0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(M.m[i], i);
  M.SetRotation({0, 0, 1}, 0.0);
  EXPECT_EQ(M[0][0], 1.0);
  EXPECT_EQ(M[0][3], 3.0);
  EXPECT_EQ(M[3][0], 12.0);
}

TEST(Rotation, AxisAngleOfSpecialMatrices) {
  struct Case {
    double m[9];
    vm::Vector3 axis;
    double angle;
  };
  const double h = std::sqrt(0.5);
  const Case cases[] = {
      {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {1, 0, 0}, 0.0},
      {{1, 0, 0, 0, -1, 0, 0, 0, -1}, {1, 0, 0}, kPi},
      {{-1, 0, 0, 0, 1, 0, 0, 0, -1}, {0, 1, 0}, kPi},
      {{-1, 0, 0, 0, -1, 0, 0, 0, 1}, {0, 0, 1}, kPi},
      // Half turn about (1, 1, 0)/√2: X = Y > Z, so the y branch decides.
      {{0, 1, 0, 1, 0, 0, 0, 0, -1}, {h, h, 0}, kPi},
      {{std::cos(0.3), -std::sin(0.3), 0, std::sin(0.3), std::cos(0.3), 0, 0, 0, 1},
       {0, 0, 1},
       0.3},
  };
  for (const Case& c : cases) {
    Matrix3x3 R;
    for (int i = 0; i < 9; ++i) R.m[i] = c.m[i];
    vm::Vector3 axis;
    const double angle = R.GetAxisAngle(axis);
    EXPECT_NEAR(angle, c.angle, 1e-15);
    ExpectVec(axis, c.axis, 1e-15);
    if (c.angle == kPi) {
      EXPECT_EQ(angle, 3.141592653589793);
    }
    Matrix4x4 M;
    M.SetZero();
    M.SetRotationPart(R);
    vm::Vector3 axis4;
    EXPECT_EQ(M.GetAxisAngle(axis4), angle);
    EXPECT_EQ(axis4, axis);
  }
}

TEST(Rotation, AxisAngleRoundTripsRandomRotations) {
  std::mt19937 rng(5);
  std::normal_distribution<double> n(0.0, 1.0);
  const double angles[] = {1e-6, 0.1, 1.0, 2.0, 3.0, kPi - 1e-6, kPi};
  for (double angle : angles) {
    for (int round = 0; round < 10; ++round) {
      vm::Vector3 axis{n(rng), n(rng), n(rng)};
      axis.Normalize();
      Matrix3x3 R;
      R.SetRotation(axis, angle);
      ExpectProperRotation(R);
      vm::Vector3 got;
      const double a = R.GetAxisAngle(got);
      EXPECT_NEAR(a, angle, 1e-7);
      // At a half turn the axis sign is free.
      const double s = (angle == kPi && got.Dot(axis) < 0) ? -1.0 : 1.0;
      ExpectVec(got * s, axis, angle < 1e-3 ? 1e-9 : 1e-7);
    }
  }
}

TEST(Rotation, AxisAngleReorthonormalisesADriftedRotation) {
  Matrix3x3 R;
  R.SetRotation({0, 1, 0}, 0.7);
  R.Scale(R, 1.001);  // uniform drift keeps the axis and angle
  vm::Vector3 axis;
  EXPECT_NEAR(R.GetAxisAngle(axis), 0.7, 1e-14);
  ExpectVec(axis, {0, 1, 0}, 1e-15);
}

}  // namespace
