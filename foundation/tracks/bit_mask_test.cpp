#include "foundation/tracks/bit_mask.h"

#include <gtest/gtest.h>

namespace {

TEST(BitMaskTest, CycleBitsCountsThroughTheFieldAndKeepsOtherBits) {
  BitMask m(0x101);
  const uint32_t expected[] = {0x111, 0x121, 0x131, 0x101, 0x111};
  for (uint32_t e : expected) {
    m.CycleBits(0x30);
    EXPECT_EQ(m.GetFlags(), e);
  }
  m.CycleBits(0x1);  // a single bit toggles
  EXPECT_EQ(m.GetFlags(), 0x110u);
  m.CycleBits(0x1);
  EXPECT_EQ(m.GetFlags(), 0x111u);
}

TEST(BitMaskTest, SetClearTest) {
  BitMask m;
  m.SetFlags(0x42);
  EXPECT_TRUE(m.TestFlags(0x40));
  EXPECT_FALSE(m.TestFlags(0x1));
  m.ClearFlags(0x2);
  EXPECT_EQ(m.GetFlags(), 0x40u);
}

}  // namespace
