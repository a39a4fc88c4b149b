#include "foundation/numeric/array.h"

#include <cstdint>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "testing/thrown.h"

namespace {

using kxtest::Thrown;

TEST(ArrayTest, RowsArePaddedToSixteenBytes) {
  struct Case {
    uint32_t width, expected;
  } cases[] = {{5, 8}, {8, 8}, {1, 4}, {0, 0}, {13, 16}};
  for (const Case& c : cases) {
    Array<unsigned int, 1> a(c.width, 2);
    EXPECT_EQ(a.Stride(), c.expected) << c.width;
    Array<float, 1> f(c.width, 2);
    EXPECT_EQ(f.Stride(), c.expected) << c.width;
  }
  Array<bool, 1> b(17, 3);
  EXPECT_EQ(b.Stride(), 32u);
  Array<bool, 1> b16(16, 3);
  EXPECT_EQ(b16.Stride(), 16u);
}

TEST(ArrayTest, PlanesShareOneAlignedBlock) {
  Array<float, 3> a(10, 4);
  EXPECT_EQ(a.Stride(), 12u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a.Data()) % 32, 0u);
  EXPECT_EQ(a.Plane(1).data - a.Plane(0).data, 48);
  EXPECT_EQ(a.Plane(2).data - a.Plane(0).data, 96);
  for (unsigned k = 0; k < 3; ++k) {
    EXPECT_EQ(a.Plane(k).width, 10u);
    EXPECT_EQ(a.Plane(k).height, 4u);
    EXPECT_EQ(a.Plane(k).stride, 12u);
  }
  // Element (9, 3) of plane 2 sits at 96 + 3·12 + 9.
  a.SetElement(1.5f, 9, 3, 2);
  EXPECT_EQ(a.Data()[96 + 3 * 12 + 9], 1.5f);
  EXPECT_EQ(a.GetElement(9, 3, 2), 1.5f);
}

TEST(ArrayTest, RangeChecksThrowFormattedTexts) {
  Array<unsigned int, 1> a(5, 4);
  a.SetElement(7u, 4, 3, 0);
  EXPECT_EQ(a.GetElement(4, 3, 0), 7u);
  EXPECT_EQ(Thrown([&] { a.GetElement(5, 0, 0); }),
            "Array::GetElement: 5, 0, 0 outside range [5, 4, 1]");
  EXPECT_EQ(Thrown([&] { a.GetElement(0, 0, 1); }),
            "Array::GetElement: 0, 0, 1 outside range [5, 4, 1]");
  EXPECT_EQ(Thrown([&] { a.SetElement(1u, 0, 4, 0); }),
            "Array::SetElement: 0, 4, 0 outside range [5, 4, 1]");
  EXPECT_EQ(Thrown([&] { a.Plane(0).GetElement(3, 4); }),
            "ArrayMap::GetElement: 3, 4 outside range [5, 4]");
  ArrayMap<unsigned char> empty;
  EXPECT_EQ(Thrown([&] { empty.GetElement(0, 0); }),
            "ArrayMap::GetElement: 0, 0 outside range [0, 0]");
  Array<float, 1> none;
  EXPECT_EQ(Thrown([&] { none.GetElement(0, 0, 0); }),
            "Array::GetElement: 0, 0, 0 outside range [0, 0, 1]");
}

TEST(ArrayTest, MessagesDoNotMixAcrossThreads) {
  Array<float, 1> a(2, 2);
  auto worker = [&](uint32_t x) {
    for (int i = 0; i < 2000; ++i) {
      std::string text = Thrown([&] { a.GetElement(x, 0, 0); });
      std::string want =
          "Array::GetElement: " + std::to_string(x) + ", 0, 0 outside range [2, 2, 1]";
      if (text != want) ADD_FAILURE() << text;
    }
  };
  std::thread t1(worker, 100), t2(worker, 200000);
  t1.join();
  t2.join();
}

TEST(ArrayTest, ResizeKeepsDataOnlyAtEqualSize) {
  Array<unsigned int, 2> a(3, 3);
  a.SetElement(42u, 2, 2, 1);
  unsigned int* before = a.Data();
  a.Resize(3, 3);
  EXPECT_EQ(a.Data(), before);
  EXPECT_EQ(a.GetElement(2, 2, 1), 42u);
  a.Resize(6, 1);
  EXPECT_EQ(a.Width(), 6u);
  EXPECT_EQ(a.Height(), 1u);
  EXPECT_EQ(a.Stride(), 8u);
  EXPECT_EQ(a.Plane(1).data - a.Plane(0).data, 8);
}

TEST(ArrayTest, FailedResizeLeavesArrayEmpty) {
  Array<float, 3> a(4, 4);
  EXPECT_EQ(Thrown([&] { a.Resize(0x10000, 0x8000); }), "memory allocation failed");
  EXPECT_EQ(a.Data(), nullptr);
  for (unsigned k = 0; k < 3; ++k) {
    EXPECT_EQ(a.Plane(k).data, nullptr);
    EXPECT_EQ(a.Plane(k).width, 0u);
  }
  EXPECT_EQ(Thrown([&] { a.GetElement(0, 0, 0); }),
            "Array::GetElement: 0, 0, 0 outside range [0, 0, 3]");
  EXPECT_EQ(Thrown([&] { a.Resize(0xffffffffu, 0); }), "memory allocation failed");
}

TEST(ArrayTest, CopyFromCopiesPlanesAndOverlaps) {
  Array<float, 2> a(5, 3), b;
  for (uint32_t k = 0; k < 2; ++k)
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 5; ++x) a.SetElement(100.0f * k + 10.0f * y + x, x, y, k);
  b.CopyFrom(a);
  EXPECT_EQ(b.Width(), 5u);
  EXPECT_EQ(b.GetElement(4, 2, 1), 124.0f);
  EXPECT_EQ(b.GetElement(0, 1, 0), 10.0f);

  // Views: only the overlapping region; the rest of the target stays.
  float small[2 * 3] = {-1, -1, -1, -1, -1, -1};
  ArrayMap<float> target(small, 3, 2, 2);  // 2 × 2 view with stride 3
  target.CopyFrom(a.Plane(1));
  EXPECT_EQ(small[0], 100.0f);
  EXPECT_EQ(small[1], 101.0f);
  EXPECT_EQ(small[2], -1.0f);
  EXPECT_EQ(small[3], 110.0f);
  EXPECT_EQ(small[4], 111.0f);
  ArrayMap<float> zero;
  target.CopyFrom(zero);  // nothing
  EXPECT_EQ(small[0], 100.0f);
  float packed[4] = {1, 2, 3, 4}, dest[4] = {0, 0, 0, 0};
  ArrayMap<float>(dest, 2, 2, 2).CopyFrom(ArrayMap<float>(packed, 2, 2, 2));
  EXPECT_EQ(dest[3], 4.0f);
}

TEST(ArrayTest, MoveKeepsTheViews) {
  Array<unsigned int, 1> a(4, 2);
  a.SetElement(9u, 3, 1, 0);
  Array<unsigned int, 1> b(std::move(a));
  EXPECT_EQ(b.GetElement(3, 1, 0), 9u);
  EXPECT_EQ(a.Width(), 0u);
}

}  // namespace
