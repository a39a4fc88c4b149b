#include "scene/render/tex_span.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "scene/render/draw_item.h"
#include "scene/render/draw_item_arena.h"
#include "scene/render/raster_for_test.h"

namespace {

using kxtest::RasterArenas;
using kxtest::TestImage;

constexpr double kFix = 262144.0;  // 2^18: texels to fixed point

// 16 × 16 texels, each naming its column (blue) and row (green).
struct IndexTexture {
  std::vector<std::uint32_t> texels;
  NHSTexture texture;
  IndexTexture() : texels(256) {
    for (std::uint32_t r = 0; r < 16; ++r) {
      for (std::uint32_t c = 0; c < 16; ++c) texels[r * 16 + c] = 0xff000000u | r << 8 | c;
    }
    texture = {texels.data(), 4, 4};
  }
};

// A span across an 40 × 8 image nearing to the right (s = 1 + 0.02 X), u from below 0 to
// past the texture's width, with an opaque occluder over columns 15 .. 19.
struct SpanScene {
  double tu[3] = {1.0 * kFix, 0.1 * kFix, -2.0 * kFix};
  double tv[3] = {0.05 * kFix, 0.6 * kFix, 0.3 * kFix};
  static double S(double x) { return 1.0 + 0.02 * x; }

  TestImage Render(const NHSTexture& texture, ItemColor c, std::uint32_t background) const {
    DrawItemArena arena;
    arena.Add<NHSDrawItem_SpanSeg>(0, 8, 15.0, 5.0, 20.0, 5.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0x1);
    arena.Add<NHSDrawItem_TexSpanSeg>(0, 8, -3.0, S(-3.0), 40.0, S(40.0), 0.0, 0.0, 0.0, 0.0, 0.02,
                                      c, tu, tv, texture);
    TestImage image(40, 8, background);
    RasterArenas(&arena, 1, 1, image);
    return image;
  }
  // The exact texel column or row of sample (x, y).
  int Exact(const double* t, int x, int y) const {
    return static_cast<int>((TexCoordAt(t[0] * x + t[1] * y + t[2], S(x)) >> 18) & 15);
  }
};

TEST(TexSpan, TexelsFollowThePerspectiveClampBelowZeroAndWrap) {
  const IndexTexture tex;
  const SpanScene scene;
  const TestImage image = scene.Render(tex.texture, 0xffffffff, 0);
  int samples = 0, exact = 0, clamped = 0, wrapped = 0;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 40; ++x) {
      const std::uint32_t p = image.At(x, y);
      if (x >= 15 && x < 20) {
        EXPECT_EQ(p, 0x1u);
        continue;
      }
      const int col = static_cast<int>(p & 0xff), row = static_cast<int>(p >> 8 & 0xff);
      const int ec = scene.Exact(scene.tu, x, y), er = scene.Exact(scene.tv, x, y);
      // Linear between exact segment ends: at most one texel off, wrapping included.
      EXPECT_LE(std::min((col - ec) & 15, (ec - col) & 15), 1) << x << "," << y;
      EXPECT_LE(std::min((row - er) & 15, (er - row) & 15), 1) << x << "," << y;
      EXPECT_EQ(p >> 24, 0xffu);  // copied texels keep their alpha
      ++samples;
      exact += col == ec && row == er;
      const double u = (scene.tu[0] * x + scene.tu[1] * y + scene.tu[2]) / SpanScene::S(x);
      clamped += u < 0;
      wrapped += u >= 16 * kFix;
      if (u < 0) {
        EXPECT_EQ(col, 0);
      }
    }
  }
  EXPECT_GT(exact, samples * 9 / 10);
  EXPECT_GT(clamped, 0);
  EXPECT_GT(wrapped, 0);
}

TEST(TexSpan, TintedAndTranslucentSpansUseTheSameSamples) {
  const IndexTexture tex;
  const SpanScene scene;
  const TestImage copy = scene.Render(tex.texture, 0xffffffff, 0);
  const TestImage tinted = scene.Render(tex.texture, 0x804020, 0);
  for (std::size_t i = 0; i < copy.pixels.size(); ++i) {
    const std::uint32_t t = copy.pixels[i];
    if (t == 0x1u) continue;
    const std::uint32_t expected = ((t >> 16 & 0xff) * 0x80 >> 8) << 16 |
                                   ((t >> 8 & 0xff) * 0x40 >> 8) << 8 | ((t & 0xff) * 0x20) >> 8;
    EXPECT_EQ(tinted.pixels[i], expected) << i;
  }

  // A translucent textured layer over white blends like a flat layer of the texel colour
  // (the texel scales the layer's lanes: (t × (lane >> 1)) >> 7).
  std::vector<std::uint32_t> red(256, 0x00ff0000);
  const NHSTexture red_texture{red.data(), 4, 4};
  const ItemColor white8 = 1032ull << 48 | 255ull << 32 | 255ull << 16 | 255ull;
  const TestImage layered = scene.Render(red_texture, white8, 0xffffffff);
  EXPECT_EQ(layered.At(0, 0), 0x00fd7f7fu);  // flat red of weight 8 gives 0xfe7f7f
  EXPECT_EQ(layered.At(39, 7), 0x00fd7f7fu);
}

TEST(TexSpan, SegmentsCoverTheRunWithExactEnds) {
  struct Case {
    int n;
    double s, dsdx;
  };
  const Case cases[] = {
      {1, 1.0, 0.0},       {2, 1.0, 0.1},     {300, 1.0, 0.0},     {300, 0.05, 0.01},
      {300, 4.0, -0.0133}, {3071, 1e-6, 1.0}, {32767, 1e-9, 1e-3}, {32767, 40.0, -1e-3},
  };
  static TexSegment segs[kMaxTexSegments];
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.n << " " << c.s << " " << c.dsdx);
    const double u0 = 3.0 * kFix * c.s, du = 0.37 * kFix;
    const int n_segs = ComputeTexSegments(segs, c.n, u0, 0.0, c.s, du, 0.0, c.dsdx);
    ASSERT_GE(n_segs, 1);
    ASSERT_LE(n_segs, kMaxTexSegments);
    int total = 0;
    for (int i = 0; i < n_segs; ++i) {
      ASSERT_GE(segs[i].count, 1);
      total += segs[i].count;
    }
    EXPECT_EQ(total, c.n);
    EXPECT_EQ(segs[0].u, TexCoordAt(u0, c.s));
    if (c.dsdx == 0.0 && c.n > 256) {
      EXPECT_EQ(segs[0].count, 256);
    }
    // The last sample lands on its exact coordinate within the steps' truncation.
    const TexSegment& last = segs[n_segs - 1];
    const std::int64_t end =
        last.u + (last.count - 1) / 2 * last.du2 + ((last.count - 1) % 2 ? last.du2 >> 1 : 0);
    const int o = c.n - 1;
    EXPECT_NEAR(static_cast<double>(end),
                static_cast<double>(TexCoordAt(u0 + o * du, c.s + o * c.dsdx)), last.count);
  }
}

}  // namespace
