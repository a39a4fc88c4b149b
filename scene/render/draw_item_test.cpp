#include "scene/render/draw_item.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "scene/render/draw_item_arena.h"
#include "scene/render/raster_for_test.h"

namespace {

using kxtest::RasterArenas;
using kxtest::TestImage;

constexpr std::uint32_t kWhite = 0xffffffff;

// A flat span over columns [x0, x1) and rows [y0, y1) at constant depth.
void AddRect(DrawItemArena& arena, double x0, double x1, int y0, int y1, double s, ItemColor c) {
  arena.Add<NHSDrawItem_SpanSeg>(y0, y1, x0, s, x1, s, 0.0, 0.0, 0.0, 0.0, 0.0, c);
}

// One translucent layer of an opaque-looking colour with weight w (1 .. 15).
ItemColor Layer(std::uint32_t rgb, std::uint32_t w) {
  const std::uint64_t b = ((rgb & 0xff) * w) >> 3, g = (((rgb >> 8) & 0xff) * w) >> 3,
                      r = (((rgb >> 16) & 0xff) * w) >> 3;
  return (1024ull + w) << 48 | r << 32 | g << 16 | b;
}

TEST(DrawItemMarker, ShapesCoverTheirRows) {
  struct Case {
    std::uint32_t shape;
    int w;
    std::vector<int> widths;  // samples per row at |dy| = 0, 1, ..., w
  };
  const Case cases[] = {
      {kMarkerSquare, 2, {5, 5, 5}},
      {kMarkerDiamond, 3, {7, 5, 3, 1}},
      {kMarkerOctagon, 10, {21, 21, 21, 21, 21, 19, 17, 15, 13, 11, 9}},
      {kMarkerCross, 8, {17, 17, 17, 5, 5, 5, 5, 5, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shape);
    DrawItemArena arena;
    arena.Add<NHSDrawItem_Marker>(16 - c.w, 16 + c.w + 1, 16, 16, c.w, c.shape, 0.5f, 0x123456);
    TestImage image(33, 33, kWhite);
    RasterArenas(&arena, 1, 1, image);
    for (int y = 0; y < image.height; ++y) {
      const int dy = std::abs(y - 16);
      const int expected = dy <= c.w ? c.widths[dy] : 0;
      EXPECT_EQ(image.CountInRow(y, 0x123456), expected) << "row " << y;
      // Every shape is symmetric about the centre column.
      for (int x = 0; x < 16; ++x) EXPECT_EQ(image.At(x, y), image.At(32 - x, y));
    }
  }
}

TEST(DrawItemMarker, CutAtTheLeftEdgeAndUnknownShapeDrawsNothing) {
  DrawItemArena arena;
  arena.Add<NHSDrawItem_Marker>(0, 8, -3, 4, 7, kMarkerSquare, 0.5f, 0x10);
  arena.Add<NHSDrawItem_Marker>(0, 8, 10, 4, 2, 7u, 0.9f, 0x20);
  TestImage image(16, 12, kWhite);
  RasterArenas(&arena, 1, 1, image);
  EXPECT_EQ(image.CountInRow(4, 0x10), 5);  // columns 0 .. 4
  EXPECT_EQ(image.CountInRow(4, 0x20), 0);
}

TEST(DrawItemOrder, NearerWinsTiesKeepTheFirstAndTranslucentNeverHides) {
  DrawItemArena arena;
  AddRect(arena, 0, 4, 0, 2, 0.5, 0xff0000);   // first at 0.5
  AddRect(arena, 0, 4, 0, 2, 0.5, 0x00ff00);   // tie: loses
  AddRect(arena, 2, 4, 0, 2, 0.75, 0x0000ff);  // nearer, drawn later: wins on columns 2, 3
  AddRect(arena, 4, 8, 0, 2, 0.75, Layer(0xff0000, 8));  // translucent in front of ...
  AddRect(arena, 4, 8, 0, 2, 0.5, 0x000000);             // ... an opaque black drawn later
  AddRect(arena, 8, 12, 0, 2, 0.9, Layer(0xff0000, 8));  // translucent behind ...
  AddRect(arena, 8, 12, 0, 2, 0.95, 0x000000);           // ... nearer black: hidden
  TestImage image(12, 2, kWhite);
  RasterArenas(&arena, 1, 1, image);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(image.At(0, y), 0xff0000u);
    EXPECT_EQ(image.At(1, y), 0xff0000u);
    EXPECT_EQ(image.At(2, y), 0x0000ffu);
    // Black behind a translucent layer: the translucent one never wrote depth, so the
    // black one was drawn and the layer blended over it: red = 0x7fff × 255 >> 16.
    EXPECT_EQ(image.At(5, y), 0x7f0000u);
    EXPECT_EQ(image.At(9, y), 0x000000u);
  }
}

TEST(DrawItemTranslucency, LayersBlendAsAMeanUpTo63AndSaturateBeyond) {
  // A red of weight 8 over white gives 0xfe7f7f whatever the number of equal layers;
  // past 63 layers further ones are ignored instead of wrapping the count lane.
  for (int layers : {1, 2, 17, 63, 64, 100}) {
    SCOPED_TRACE(layers);
    DrawItemArena arena;
    for (int i = 0; i < layers; ++i) {
      arena.Add<NHSDrawItem_Line>(0, 1, ScreenPoint{-1.0, 0.0, 0.5}, ScreenPoint{2.0, 0.0, 0.5},
                                  0.5, Layer(0xff0000, 8));
    }
    TestImage image(1, 1, kWhite);
    RasterArenas(&arena, 1, 1, image);
    EXPECT_EQ(image.At(0, 0), 0x00fe7f7fu);
  }
}

TEST(DrawItemTranslucency, LayersOfDifferentWeightsMixByWeight) {
  // Weights 15 (red) and 1 (blue) over black: the background keeps 1 − 16/32 of itself,
  // red gets 15/32 and blue 1/32 of full intensity, within the lanes' truncation.
  DrawItemArena arena;
  AddRect(arena, 0, 1, 0, 1, 0.5, Layer(0xff0000, 15));
  AddRect(arena, 0, 1, 0, 1, 0.5, Layer(0x0000ff, 1));
  TestImage image(1, 1, 0);
  RasterArenas(&arena, 1, 1, image);
  const std::uint32_t p = image.At(0, 0);
  EXPECT_NEAR(static_cast<int>(p >> 16 & 0xff), 255 * 15 / 32, 1);
  EXPECT_NEAR(static_cast<int>(p & 0xff), 255 / 32, 1);
  EXPECT_EQ(p >> 8 & 0xff, 0u);
}

// Rows of a line as the element renderer computes them.
void AddLine(DrawItemArena& arena, ScreenPoint p, ScreenPoint q, double width, int height,
             ItemColor c) {
  if (q.y < p.y) std::swap(p, q);
  const double len = std::hypot(q.x - p.x, q.y - p.y);
  const double k = width * 0.5 / len;
  const double ey = std::fabs(q.x - p.x) * k;
  const double top = std::max(0.0, p.y - ey), bottom = std::min(height - 0.5, q.y + ey);
  arena.Add<NHSDrawItem_Line>(static_cast<int>(std::ceil(top)), static_cast<int>(std::ceil(bottom)),
                              p, q, k, c);
}

TEST(DrawItemLine, CoversTheRectangleAroundTheSegment) {
  struct Case {
    ScreenPoint p, q;
    double width;
  };
  const Case cases[] = {
      {{3.3, 2.7, 0.5}, {25.6, 18.2, 0.5}, 4.0},     // shallow, to the right
      {{28.1, 1.2, 0.5}, {6.4, 20.9, 0.5}, 3.0},     // to the left
      {{10.2, -4.0, 0.5}, {12.7, 30.5, 0.5}, 5.5},   // steep, past the top and bottom
      {{15.5, 2.25, 0.5}, {15.5, 20.75, 0.5}, 2.0},  // vertical
      {{-6.0, 9.5, 0.5}, {40.0, 9.5, 0.5}, 3.0},     // horizontal, past both sides
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.p.x << "," << c.p.y << " " << c.q.x << "," << c.q.y);
    DrawItemArena arena;
    AddLine(arena, c.p, c.q, c.width, 24, 0x00aa00);
    TestImage image(32, 24, kWhite);
    RasterArenas(&arena, 1, 1, image);
    kxtest::ExpectLineCoverage(image, c.p.x, c.p.y, c.q.x, c.q.y, c.width, 0x00aa00u);
  }
}

TEST(DrawItemLine, DepthFollowsTheSegment) {
  // A line receding from s = 1 to s = 0.25 crosses an opaque plane at s = 0.5 halfway.
  DrawItemArena arena;
  AddRect(arena, 0, 32, 0, 4, 0.5, 0x000000);
  AddLine(arena, {0.0, 2.0, 1.0}, {32.0, 2.0, 0.25}, 2.0, 4, 0xffffff);
  TestImage image(32, 4, kWhite);
  RasterArenas(&arena, 1, 1, image);
  EXPECT_EQ(image.At(10, 2), 0xffffffu);
  EXPECT_EQ(image.At(11, 2), 0xffffffu);
  EXPECT_EQ(image.At(22, 2), 0x000000u);
}

TEST(DrawItemSupersampling, AveragesOnlyTheSampleRowsThatWereDrawn) {
  struct Case {
    int f;
    int w;                         // marker half-size at sample (1, 1) (w 0: one sample at (0, 0))
    std::uint32_t pixel0, pixel1;  // target pixels (0, 0) and (1, 0)
  };
  const Case cases[] = {
      // Only sample row 0 drawn: N = 2, pixel 0 = (black + white) / 2, pixel 1 white.
      {2, 0, 0x7f7f7f, 0xffffff},
      // Samples 0 .. 2 of rows 0 .. 2: pixel 0 all black, pixel 1 two of four black.
      {2, 1, 0x000000, 0x7f7f7f},
      // F = 3 with one sample row: N = 3 divides by × 85 >> 8 (765 → 254, 510 → 169).
      {3, 0, 0xa9a9a9, 0xfefefe},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "F " << c.f << " w " << c.w);
    DrawItemArena arena;
    const int centre = c.w == 0 ? 0 : 1;
    arena.Add<NHSDrawItem_Marker>(centre - c.w, centre + c.w + 1, centre, centre, c.w,
                                  kMarkerSquare, 0.5f, 0x000000);
    TestImage image(2, 2, kWhite);
    RasterArenas(&arena, 1, c.f, image);
    EXPECT_EQ(image.At(0, 0), c.pixel0);
    EXPECT_EQ(image.At(1, 0), c.pixel1);
    if (c.w == 0) {
      EXPECT_EQ(image.At(0, 1), kWhite);  // a row without items keeps its pixels
    }
  }
  // A translucent layer over samples no opaque item wrote blends over the target pixel.
  DrawItemArena arena;
  AddRect(arena, -0.5, 1.5, 1, 2, 0.5, Layer(0xff0000, 8));
  TestImage image(2, 1, kWhite);
  RasterArenas(&arena, 1, 2, image);
  EXPECT_EQ(image.At(0, 0), 0x00fe7f7fu);
  EXPECT_EQ(image.At(1, 0), 0x00ffffffu);
}

}  // namespace
