#include "foundation/numeric/fixed_vector.h"

#include <gtest/gtest.h>

namespace {

TEST(FixedVector, StartsAtZeroAndIndexesNamedMembers) {
  vm::Vector3 v;
  EXPECT_EQ(v, (vm::Vector3{0, 0, 0}));
  v[0] = 1;
  v[1] = 2;
  v[2] = 3;
  EXPECT_EQ(v, (vm::Vector3{1, 2, 3}));
  vm::Vector2 w;
  w[1] = 4;
  EXPECT_EQ(w.y, 4);
  vm::FixedVector<5> f;
  EXPECT_EQ(f[4], 0.0);
}

TEST(FixedVector, ArithmeticDotAndCross) {
  const vm::Vector3 a{1, 2, 3}, b{-2, 0.5, 4};
  EXPECT_EQ(a + b, (vm::Vector3{-1, 2.5, 7}));
  EXPECT_EQ(a - b, (vm::Vector3{3, 1.5, -1}));
  EXPECT_EQ(a * 2, (vm::Vector3{2, 4, 6}));
  EXPECT_EQ(a.Dot(b), 11);
  const vm::Vector3 c = a.Cross(b);
  EXPECT_EQ(c.Dot(a), 0);
  EXPECT_EQ(c.Dot(b), 0);
  EXPECT_EQ((vm::Vector3{1, 0, 0}).Cross({0, 1, 0}), (vm::Vector3{0, 0, 1}));
  EXPECT_EQ((vm::Vector2{3, 4}).Length(), 5);
}

TEST(FixedVector, NormalizeGivesUnitLengthOrZero) {
  vm::Vector3 v{3, 0, 4};
  EXPECT_TRUE(v.Normalize());
  EXPECT_EQ(v, (vm::Vector3{0.6, 0, 0.8}));
  vm::Vector3 z{0, 0, 0};
  EXPECT_FALSE(z.Normalize());
  EXPECT_EQ(z, (vm::Vector3{0, 0, 0}));
  vm::Vector3 n{NAN, 1, 1};
  EXPECT_FALSE(n.Normalize());
  EXPECT_EQ(n, (vm::Vector3{0, 0, 0}));
  vm::Vector2 w{0, -2};
  EXPECT_TRUE(w.Normalize());
  EXPECT_EQ(w, (vm::Vector2{0, -1}));
}

}  // namespace
