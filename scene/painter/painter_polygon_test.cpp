#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scene/painter/overlay_painter.h"
#include "scene/painter/painter_test_util.h"

namespace {

using kxtest::Canvas;

// Area of a polygon clipped to the box [x0, x1) x [y0, y1) (Sutherland-Hodgman, shoelace).
double ClippedArea(std::vector<PainterPoint> poly, double x0, double y0, double x1, double y1) {
  auto clip = [&](auto inside, auto cross) {
    std::vector<PainterPoint> out;
    for (size_t i = 0; i < poly.size(); ++i) {
      const PainterPoint a = poly[i], b = poly[(i + 1) % poly.size()];
      if (inside(a)) out.push_back(a);
      if (inside(a) != inside(b)) out.push_back(cross(a, b));
    }
    poly = out;
  };
  auto at_x = [](double x) {
    return [x](PainterPoint a, PainterPoint b) {
      return PainterPoint{x, a.y + (x - a.x) * (b.y - a.y) / (b.x - a.x)};
    };
  };
  auto at_y = [](double y) {
    return [y](PainterPoint a, PainterPoint b) {
      return PainterPoint{a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y), y};
    };
  };
  clip([&](PainterPoint p) { return p.x >= x0; }, at_x(x0));
  clip([&](PainterPoint p) { return p.x <= x1; }, at_x(x1));
  clip([&](PainterPoint p) { return p.y >= y0; }, at_y(y0));
  clip([&](PainterPoint p) { return p.y <= y1; }, at_y(y1));
  double area = 0;
  for (size_t i = 0; i < poly.size(); ++i) {
    const PainterPoint a = poly[i], b = poly[(i + 1) % poly.size()];
    area += a.x * b.y - b.x * a.y;
  }
  return std::fabs(area) / 2;
}

double Cover(const Canvas& c, int x, int y) {
  return (c.At(x, y) & 0xFF) / 255.0;
}

TEST(FillPolygon, SquareFillsWholePixels) {
  const PainterPoint square[] = {{10.5, 10}, {20.5, 10}, {20.5, 20}, {10.5, 20}};
  Canvas opaque(30, 30, 0, 0xFF000000), half(30, 30, 0, 0xFF000000);
  opaque.painter.FillPolygon(square, 4, 0xFF336699);
  half.painter.FillPolygon(square, 4, 0x80FFFFFF);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 30; ++x) {
      const bool in = x >= 10 && x < 20 && y >= 10 && y < 20;
      EXPECT_EQ(opaque.At(x, y), in ? 0x00336699u : 0xFF000000u) << x << "," << y;
      // t = 128: each byte (255·128 + old·128) >> 8.
      EXPECT_EQ(half.At(x, y), in ? 0x7F7F7F7Fu : 0xFF000000u) << x << "," << y;
    }
  }
}

TEST(FillPolygon, CoverageFollowsTheExactAreaOfEachPixel) {
  // Pixel column i holds x in [i + 0.5, i + 1.5): polygons sample x half a pixel to the left.
  const std::vector<PainterPoint> shape = {{3.3, 2.1},   {21.7, 5.4},  {14.2, 11.9},
                                           {24.6, 19.2}, {6.8, 21.55}, {9.1, 12.3}};
  Canvas canvas(28, 25);
  canvas.painter.FillPolygon(shape.data(), int(shape.size()), 0xFFFFFFFF);
  double ink = 0, area = 0;
  for (int y = 0; y < 25; ++y) {
    for (int x = 0; x < 28; ++x) {
      const double exact = ClippedArea(shape, x + 0.5, y, x + 1.5, y + 1);
      const double got = Cover(canvas, x, y);
      if (exact > 1 - 1e-12 || exact == 0) {
        EXPECT_EQ(got, exact) << x << "," << y;  // interiors and outside exact
      } else {
        EXPECT_NEAR(got, exact, 0.26) << x << "," << y;  // four sub-rows per row
      }
      ink += got, area += exact;
    }
  }
  EXPECT_NEAR(ink, area, 0.01 * area);
}

TEST(FillPolygon, EvenOddLeavesTheStarCentreEmpty) {
  std::vector<PainterPoint> star;
  for (int i = 0; i < 5; ++i) {
    const double a = -M_PI / 2 + i * 4 * M_PI / 5;  // every second point of a pentagon
    star.push_back({20 + 15 * std::cos(a), 20 + 15 * std::sin(a)});
  }
  Canvas canvas(40, 40);
  canvas.painter.FillPolygon(star.data(), 5, 0xFFFFFFFF);
  EXPECT_EQ(canvas.At(19, 20), 0u);          // centre
  EXPECT_EQ(canvas.At(19, 9), 0x00FFFFFFu);  // inside the top spike
}

TEST(FillPolygon, WideAndClippedPolygonsStayInTheTarget) {
  // Many points over a target wider than any stack buffer would hold.
  std::vector<PainterPoint> circle;
  for (int i = 0; i < 5000; ++i) {
    const double a = i * 2 * M_PI / 5000;
    circle.push_back({3000 + 3500 * std::cos(a), 20 + 30 * std::sin(a)});
  }
  Canvas canvas(6000, 40, 3);
  canvas.painter.FillPolygon(circle.data(), int(circle.size()), 0xFFFFFFFF);
  EXPECT_TRUE(canvas.MarginUntouched());
  EXPECT_EQ(canvas.At(3000, 0), 0x00FFFFFFu);
  EXPECT_EQ(canvas.At(0, 20), 0x00FFFFFFu);
}

std::vector<bool> Inked(const Canvas& c) {
  std::vector<bool> out;
  for (uint32_t p : c.Pixels()) out.push_back(p != c.fill);
  return out;
}

TEST(DrawRect, DashesTileTheSolidFrame) {
  auto frame = [](Canvas& c, int length, uint16_t pattern) {
    c.painter.DrawRect(3.2, 4.7, 26.6, 17.3, 2.5, 0xFFFFFFFF, length, pattern);
  };
  Canvas solid(32, 24, 2), plain(32, 24, 2), even(32, 24, 2), odd(32, 24, 2);
  frame(solid, 0, 0x1234);  // dash length 0: solid whatever the pattern
  frame(plain, 1, 0xFFFF);
  frame(even, 3, 0x5555);
  frame(odd, 3, 0xAAAA);
  EXPECT_EQ(solid.Pixels(), plain.Pixels());
  EXPECT_TRUE(solid.MarginUntouched());
  const auto s = Inked(solid), e = Inked(even), o = Inked(odd);
  int both = 0, either = 0, dashes = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    both += e[i] && o[i];
    either += (e[i] || o[i]) == s[i];
    dashes += e[i];
  }
  EXPECT_EQ(both, 0);
  EXPECT_EQ(either, int(s.size()));
  EXPECT_GT(dashes, 20);
  // Where each dash set draws, it draws what the solid frame draws.
  for (size_t i = 0; i < s.size(); ++i) {
    if (e[i]) {
      EXPECT_EQ(even.Pixels()[i], solid.Pixels()[i]);
    }
    if (o[i]) {
      EXPECT_EQ(odd.Pixels()[i], solid.Pixels()[i]);
    }
  }
}

TEST(DrawRect, SolidFrameCoverageIsTheBandArea) {
  Canvas canvas(24, 20);
  const double l = 3.2, r = 19.7, t = 2.6, b = 15.1, e = 0.75;
  canvas.painter.DrawRect(r, b, l, t, 2 * e, 0xFFFFFFFF, 0, 0);
  const std::vector<PainterPoint> outer = {
      {l - e, t - e}, {r + e, t - e}, {r + e, b + e}, {l - e, b + e}};
  const std::vector<PainterPoint> hole = {
      {l + e, t + e}, {r - e, t + e}, {r - e, b - e}, {l + e, b - e}};
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 24; ++x) {
      const double exact =
          ClippedArea(outer, x, y, x + 1, y + 1) - ClippedArea(hole, x, y, x + 1, y + 1);
      EXPECT_NEAR(Cover(canvas, x, y), exact, 2.5 / 255) << x << "," << y;
    }
  }
  // A width beyond the rectangle's size fills it.
  Canvas wide(24, 20), filled(24, 20);
  wide.painter.DrawRect(8, 6, 12, 9, 6, 0xFFFFFFFF, 3, 0x5555);
  filled.painter.FillRect(5, 3, 10, 9, 0xFFFFFFFF);
  EXPECT_EQ(wide.Pixels(), filled.Pixels());
}

}  // namespace
