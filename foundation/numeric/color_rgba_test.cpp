#include "foundation/numeric/color_rgba.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(ColorRGBA, PacksWithClampAndRounding) {
  struct Case {
    ColorRGBA c;
    uint32_t want;
  };
  const Case cases[] = {
      {{1.0, 0.5, 0.0, 1.0}, 0xFFFF8000u},  // 127.5 + 0.5 = 128
      {{-0.2, 1.7, 0.0, 1.0}, 0xFF00FF00u},
      {{0.2, 0.4, 0.6, 1.0}, 0xFF336699u},
      {{1.0 / 255 * 0.499, 0.0, 0.0, 0.0}, 0x00000000u},
      {{NAN, 0.0, 1.0, 0.0}, 0x000000FFu},
  };
  for (const Case& c : cases) EXPECT_EQ(c.c.ToARGB32(), c.want);
}

TEST(ColorRGBA, UnpacksBytesOver255) {
  const ColorRGBA c(0xFF336699u);
  EXPECT_EQ(c.r, 0x33 / 255.0);
  EXPECT_EQ(c.g, 0x66 / 255.0);
  EXPECT_EQ(c.b, 0x99 / 255.0);
  EXPECT_EQ(c.a, 1.0);
  EXPECT_NEAR(c.r, 0.2, 1e-15);
  EXPECT_NEAR(c.b, 0.6, 1e-15);
  const ColorRGBA d(0x80FF8000u);
  EXPECT_EQ(d.a, 128 / 255.0);
  EXPECT_EQ(d.ToARGB32(), 0x80FF8000u);

  const ColorRGBA e(0x12345678u, 0.25);
  EXPECT_EQ(e.a, 0.25);
  EXPECT_EQ(e.r, 0x34 / 255.0);
  EXPECT_EQ(e.ToARGB32(), 0x40345678u);

  // Every byte survives the round trip.
  for (uint32_t v = 0; v < 256; ++v) {
    const uint32_t w = (v << 24) | ((255 - v) << 16) | (v << 8) | (v ^ 0x5a);
    EXPECT_EQ(ColorRGBA(w).ToARGB32(), w);
  }
}

}  // namespace
