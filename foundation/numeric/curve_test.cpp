#include "foundation/numeric/curve.h"

#include <gtest/gtest.h>

#include <vector>

#include "foundation/numeric/fixed_vector.h"

namespace {

using Curve = o_Curve<vm::Vector3>;

std::vector<int> Frames(const Curve& c) {
  std::vector<int> frames;
  int f = 0;
  for (int i = 0; c.GetKey(i, &f, nullptr); ++i) frames.push_back(f);
  return frames;
}

TEST(CurveTest, EmptyCurveHasNoValue) {
  Curve c;
  vm::Vector3 out{7, 8, 9};
  EXPECT_EQ(c.GetValue(&out, 3), Curve::kNoKeys);
  EXPECT_EQ(out, (vm::Vector3{7, 8, 9}));
  EXPECT_EQ(c.FindKeyIndex(3), -1);
  EXPECT_FALSE(c.GetKey(0, nullptr, nullptr));
  EXPECT_FALSE(c.RemoveKey(0));
}

TEST(CurveTest, ValuesAtKeysBetweenAndBeyond) {
  Curve c;
  c.SetKey(10, {1, 2, 3});
  c.SetKey(-4, {0, 0, 0});
  c.SetKey(20, {3, 2, 1});
  struct Case {
    int frame;
    int kind;
    vm::Vector3 value;
  };
  const Case cases[] = {
      {-100, Curve::kOutsideKeys, {0, 0, 0}},   {-4, Curve::kExactKey, {0, 0, 0}},
      {3, Curve::kInterpolated, {0.5, 1, 1.5}}, {10, Curve::kExactKey, {1, 2, 3}},
      {15, Curve::kInterpolated, {2, 2, 2}},    {20, Curve::kExactKey, {3, 2, 1}},
      {21, Curve::kOutsideKeys, {3, 2, 1}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.frame);
    vm::Vector3 out;
    EXPECT_EQ(c.GetValue(&out, k.frame), k.kind);
    EXPECT_DOUBLE_EQ(out.x, k.value.x);
    EXPECT_DOUBLE_EQ(out.y, k.value.y);
    EXPECT_DOUBLE_EQ(out.z, k.value.z);
    EXPECT_EQ(c.GetValue(nullptr, k.frame), k.kind);
  }
}

TEST(CurveTest, KeysStaySortedReplacedAndRemoved) {
  Curve c;
  for (int f : {5, 1, 9, 3, 7}) c.SetKey(f, {double(f), 0, 0});
  EXPECT_EQ(Frames(c), (std::vector<int>{1, 3, 5, 7, 9}));

  c.SetKey(5, {-1, -1, -1});  // replaces, no second key at 5
  EXPECT_EQ(c.GetNumKeys(), 5);
  int frame = 0;
  vm::Vector3 value;
  ASSERT_TRUE(c.GetKey(2, &frame, &value));
  EXPECT_EQ(frame, 5);
  EXPECT_EQ(value, (vm::Vector3{-1, -1, -1}));
  EXPECT_FALSE(c.GetKey(5, &frame, &value));
  EXPECT_FALSE(c.GetKey(-1, &frame, &value));

  EXPECT_EQ(c.FindKeyIndex(7), 3);
  EXPECT_EQ(c.FindKeyIndex(6), -1);
  EXPECT_EQ(c.FindKey(0, c.GetNumKeys(), 6), 3);
  EXPECT_EQ(c.FindKey(0, c.GetNumKeys(), 100), 5);
  EXPECT_EQ(c.FindKey(4, 99, 0), 4);  // searches only the given range

  EXPECT_TRUE(c.RemoveKey(c.FindKeyIndex(3)));
  EXPECT_EQ(Frames(c), (std::vector<int>{1, 5, 7, 9}));
  c.ClearKeys();
  EXPECT_FALSE(c.HasKeys());
}

}  // namespace
