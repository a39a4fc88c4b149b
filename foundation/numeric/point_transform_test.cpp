#include "foundation/numeric/point_transform.h"

#include <gtest/gtest.h>

namespace {

TEST(PointTransformTest, TransformPointInPlace) {
  const Matrix3x4 M = {{0, -1, 0, 10, 1, 0, 0, 20, 0, 0, 2, 30}};
  vm::Vector3 p{1, 2, 3};
  vm::Vector3 out;
  EXPECT_EQ(TransformPoint(out, M, p), (vm::Vector3{8, 21, 36}));
  // The same vector as input and output: every row must read the original point.
  EXPECT_EQ(TransformPoint(p, M, p), (vm::Vector3{8, 21, 36}));
}

TEST(PointTransformTest, TransformPoint2DDoesNotDivide) {
  const Matrix3x3 H = {{1, 2, 3, 4, 5, 6, 7, 8, 9}};
  vm::Vector3 out;
  EXPECT_EQ(TransformPoint2D(out, H, {1, -1}), (vm::Vector3{2, 5, 8}));
}

TEST(PointTransformTest, CopyIntoA4x4KeepsItsLastRow) {
  const Matrix3x4 src = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}};
  Matrix4x4 dst = {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 13, 14, 15, 16}};
  CopyMatrix3x4(dst, src);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(dst.m[i], src.m[i]);
  EXPECT_EQ(dst.m[12], 13);
  EXPECT_EQ(dst.m[15], 16);
  Matrix3x4 copy;
  CopyMatrix3x4(copy, src);
  EXPECT_EQ(copy.m[11], 12);
}

}  // namespace
