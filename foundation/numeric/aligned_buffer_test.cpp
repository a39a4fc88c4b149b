#include "foundation/numeric/aligned_buffer.h"

#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

namespace {

TEST(AlignedBufferTest, BlocksAreAlignedAndWritable) {
  for (uint32_t n : {1u, 2u, 3u, 7u, 31u, 32u, 33u, 1000u}) {
    AlignedBuffer<double> d;
    d.Allocate(n);
    ASSERT_NE(d.data, nullptr);
    EXPECT_EQ(d.capacity, n);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(d.data) % 32, 0u) << n;
    std::memset(d.data, 0xab, n * sizeof(double));
    AlignedBuffer<float> f;
    f.Allocate(n);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(f.data) % 32, 0u) << n;
    std::memset(f.data, 0xcd, n * sizeof(float));
  }
}

TEST(AlignedBufferTest, ZeroAndFreeLeaveEmpty) {
  AlignedBuffer<double> d;
  d.Allocate(10);
  d.Allocate(0);
  EXPECT_EQ(d.data, nullptr);
  EXPECT_EQ(d.capacity, 0u);
  d.Allocate(5);
  d.Free();
  EXPECT_EQ(d.data, nullptr);
  EXPECT_EQ(d.capacity, 0u);
}

template <typename T>
void ExpectLimitThrows(uint64_t n) {
  AlignedBuffer<T> b;
  b.Allocate(4);
  try {
    b.Allocate(n);
    FAIL() << "no throw for " << n;
  } catch (const char* text) {
    EXPECT_STREQ(text, "memory allocation failed");
  }
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.capacity, 0u);
}

TEST(AlignedBufferTest, ElementLimitsThrow) {
  EXPECT_EQ(AlignedBuffer<double>::kLimit, 0x1fffffe0u);
  EXPECT_EQ(AlignedBuffer<float>::kLimit, 0x3fffffc0u);
  EXPECT_EQ(AlignedBuffer<unsigned int>::kLimit, 0x3fffffc0u);
  ExpectLimitThrows<double>(536870880u);
  ExpectLimitThrows<double>(1ull << 40);
  ExpectLimitThrows<float>(0x3fffffc0u);
}

TEST(AlignedBufferTest, ForeignMemoryIsNeverReleased) {
  double local[4] = {1, 2, 3, 4};
  {
    AlignedBuffer<double> b;
    b.SetForeign(local);
    EXPECT_EQ(b.data, local);
    EXPECT_EQ(b.capacity, 0u);
  }  // destruction must not free the stack array (ASan would report it)
  EXPECT_EQ(local[3], 4.0);
}

}  // namespace
