#include "image/raw_frame_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(RawFrameBuffer, PackedFormatsDecode) {
  struct Case {
    int code;
    uint8_t bytes[4];
    uint32_t expected;
  };
  const Case cases[] = {
      {15, {10, 20, 30, 255}, 0x001E140A},  // B, G, R copied, fourth byte dropped
      {16, {10, 20, 30, 255}, 0x000A141E},
      {13, {10, 20, 30}, 0x001E140A},
      {14, {10, 20, 30}, 0x000A141E},
      {0, {200}, 0x00C8C8C8},
      // 16-bit: 0x7C1F = red 31 (bits 10-14), green 0, blue 31.
      {9, {0x1F, 0x7C}, 0x00F800F8},
      {10, {0x01, 0x00}, 0x00080000},  // red in the low bits
      {11, {0xE0, 0x07}, 0x0000FC00},  // 6-bit green << 2
      {12, {0x00, 0xF8}, 0x000000F8},  // blue in the high bits
  };
  for (const Case& c : cases) {
    RawFrameBuffer buffer;
    buffer.SetFormat(1, 1, c.code, 2);
    std::memcpy(buffer.Row(0, 0), c.bytes, 4);
    uint32_t pixel = 0xDEADBEEF;
    ASSERT_EQ(DecodeRawLine(buffer, &pixel, 0, 1), 0) << c.code;
    EXPECT_EQ(pixel, c.expected) << "code " << c.code;
  }
}

TEST(RawFrameBuffer, YCbCrConversion) {
  EXPECT_EQ(YCbCrToBGRA(128, 128, 128), 0x00808080u);
  const uint32_t sat = YCbCrToBGRA(255, 255, 255);
  EXPECT_EQ(sat & 0xFF, 0xFFu);                // blue clamped
  EXPECT_EQ((sat >> 16) & 0xFF, 0xFFu);        // red clamped
  EXPECT_EQ(YCbCrToBGRA(0, 128, 128), 0u);     // black stays black
  EXPECT_EQ(YCbCrToBGRA(0, 0, 0) & 0xFF, 0u);  // negative blue clamps to 0
}

// 4:2:0 without flags: even lines use chroma row L/2, odd lines the rounded-up mean of the
// rows around them.
TEST(RawFrameBuffer, Planar420VerticalChroma) {
  RawFrameBuffer buffer;
  ASSERT_TRUE(buffer.SetFormat(2, 4, 1, 2));
  for (int y = 0; y < 4; ++y) std::memset(buffer.Row(0, y), 128, 2);
  const uint8_t cb_rows[2] = {100, 201};
  for (int r = 0; r < 2; ++r) {
    buffer.Row(1, r)[0] = cb_rows[r];
    buffer.Row(2, r)[0] = 128;
  }
  auto blue_of_cb = [](int cb) { return YCbCrToBGRA(128, cb, 128) & 0xFF; };
  uint32_t px[2];
  const int expected_cb[4] = {100, 151, 201, 201};  // line 1: (100 + 201 + 1) / 2
  for (int line = 0; line < 4; ++line) {
    ASSERT_EQ(DecodeRawLine(buffer, px, line, 2), 0);
    EXPECT_EQ(px[0] & 0xFF, blue_of_cb(expected_cb[line])) << "line " << line;
    EXPECT_EQ(px[1], px[0]);  // one chroma sample covers both pixels
  }
}

TEST(RawFrameBuffer, Planar422HorizontalChroma) {
  RawFrameBuffer buffer;
  ASSERT_TRUE(buffer.SetFormat(4, 1, 3, 0));
  std::memset(buffer.Row(0, 0), 128, 4);
  buffer.Row(1, 0)[0] = 100;
  buffer.Row(1, 0)[1] = 201;
  buffer.Row(2, 0)[0] = buffer.Row(2, 0)[1] = 128;
  uint32_t px[4];
  ASSERT_EQ(DecodeRawLine(buffer, px, 0, 4), 0);
  // out = in0, avg(in0, in1), in1, in1
  const int cb[4] = {100, 151, 201, 201};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(px[i], YCbCrToBGRA(128, cb[i], 128)) << i;
}

TEST(RawFrameBuffer, FormatLifecycleAndRanges) {
  RawFrameBuffer buffer;
  EXPECT_TRUE(buffer.SetFormat(5, 3, 15, 2));
  EXPECT_EQ(buffer.plane(0).stride, 32);  // 20 bytes rounded up to 16
  const uint8_t* data = buffer.plane(0).data;
  EXPECT_FALSE(buffer.SetFormat(5, 3, 15, 2));  // same format: block kept
  EXPECT_EQ(buffer.plane(0).data, data);
  uint32_t px[5];
  EXPECT_EQ(DecodeRawLine(buffer, px, 3, 5), -2);
  EXPECT_EQ(DecodeRawLine(buffer, px, -1, 5), -2);
  EXPECT_EQ(DecodeRawLine(buffer, nullptr, 0, 5), 0);

  // Height alignment of kind 3 (8 rows) and three 4:2:0 planes.
  EXPECT_TRUE(buffer.SetFormat(5, 3, 1, 3));
  EXPECT_EQ(buffer.plane(1).width, 3);
  EXPECT_EQ(buffer.plane(1).height, 2);
  EXPECT_EQ(buffer.size(), 16u * 8 + 2 * 16u * 8);

  EXPECT_TRUE(buffer.SetFormat(4, 0, 15, 2));
  for (int line = 0; line < 3; ++line) EXPECT_EQ(DecodeRawLine(buffer, px, line, 4), -2);

  EXPECT_TRUE(buffer.SetFormat(1, 1, 17, 2));
  EXPECT_EQ(DecodeRawLine(buffer, px, 0, 1), -1);

  // A block that cannot be had throws and leaves an empty buffer; asking again retries.
  EXPECT_THROW(buffer.SetFormat(0x7fffffff, 0x7fffffff, 15, 2), const char*);
  EXPECT_EQ(buffer.height(), 0);
  EXPECT_EQ(DecodeRawLine(buffer, px, 0, 1), -2);
  EXPECT_THROW(buffer.SetFormat(0x7fffffff, 0x7fffffff, 15, 2), const char*);
}

}  // namespace
