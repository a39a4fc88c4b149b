#include "scene/painter/overlay_painter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "scene/painter/painter_test_util.h"

namespace {

using kxtest::Canvas;
using Draw = std::function<void(OverlayPainter&, uint32_t colour)>;

struct NamedDraw {
  std::string name;
  Draw draw;
};

// One call of every shape operation, each overhanging the 24 x 20 target's borders.
std::vector<NamedDraw> OverhangingShapes() {
  static const PainterPoint poly[] = {{-5, -4}, {30, 3}, {12, 26}, {-3, 15}};
  return {
      {"DrawLine", [](OverlayPainter& p, uint32_t c) { p.DrawLine(-6, 3, 31, 17, 3.5, c); }},
      {"DrawLineVertical",
       [](OverlayPainter& p, uint32_t c) { p.DrawLine(23.6, -5, 23.6, 40, 3, c); }},
      {"DrawPolyline",
       [](OverlayPainter& p, uint32_t c) { p.DrawPolyline(poly, 4, true, 2.5, c, true); }},
      {"DrawRect",
       [](OverlayPainter& p, uint32_t c) { p.DrawRect(-2.3, -1.7, 25.2, 21.4, 3, c, 0, 0); }},
      {"FillRect", [](OverlayPainter& p, uint32_t c) { p.FillRect(-3.2, 15.5, 40, 9, c); }},
      {"DrawCircle", [](OverlayPainter& p, uint32_t c) { p.DrawCircle(22, 2, 6.5, 2, c); }},
      {"FillCircle", [](OverlayPainter& p, uint32_t c) { p.FillCircle(1, 19, 5.3, c); }},
      {"FillEllipse", [](OverlayPainter& p, uint32_t c) { p.FillEllipse(23, 18, 9, 4.5, c); }},
      {"FillPolygon", [](OverlayPainter& p, uint32_t c) { p.FillPolygon(poly, 4, c); }},
      {"DrawText", [](OverlayPainter& p, uint32_t c) { p.DrawText(-11.5, 10, "WXYZ", 4, c); }},
      {"DrawCross", [](OverlayPainter& p, uint32_t c) { p.DrawCross(22.5, 18.5, 6, 7, 2.5, c); }},
      {"DrawStrokeText",
       [](OverlayPainter& p, uint32_t c) { p.DrawStrokeText(-4, -3, 34, 28, 2, "AX1", c); }},
  };
}

TEST(OverlayPainter, EveryOperationStaysInsideTheTarget) {
  for (uint32_t colour : {0xFFFFFFFFu, 0x80FF8040u}) {
    for (const auto& shape : OverhangingShapes()) {
      Canvas canvas(24, 20, 6, 0x12345678);
      shape.draw(canvas.painter, colour);
      EXPECT_TRUE(canvas.MarginUntouched()) << shape.name;
      EXPECT_GT(canvas.Inked(), 0) << shape.name;
    }
  }
}

TEST(OverlayPainter, AlphaZeroDrawsNothing) {
  for (const auto& shape : OverhangingShapes()) {
    Canvas canvas(24, 20, 0, 0x12345678);
    shape.draw(canvas.painter, 0x00FFFFFF);
    EXPECT_EQ(canvas.Inked(), 0) << shape.name;
  }
  Canvas canvas(4, 3, 1, 0x12345678);
  canvas.painter.Clear(0x00A0B0C0);  // Clear ignores alpha and stores alpha byte 0
  EXPECT_EQ(canvas.At(3, 2), 0x00A0B0C0u);
  EXPECT_TRUE(canvas.MarginUntouched());
}

TEST(OverlayPainter, OpaqueInteriorsHoldTheColourWithAlphaZero) {
  Canvas canvas(16, 16, 0, 0xFF000000);
  canvas.painter.FillRect(2, 2, 6, 6, 0xFF336699);
  canvas.painter.FillCircle(12, 12, 3, 0xFF102030);
  EXPECT_EQ(canvas.At(4, 5), 0x00336699u);
  EXPECT_EQ(canvas.At(11, 12), 0x00102030u);
  // Translucent: weight (alpha + 1) / 256 on every byte, the colour's alpha entering as 0.
  Canvas mixed(4, 4, 0, 0xFF000000);
  mixed.painter.FillRect(0, 0, 4, 4, 0x7FFFFFFF);
  EXPECT_EQ(mixed.At(1, 1), 0x7F7F7F7Fu);
}

// The blue byte of an opaque white shape on black is 255 × coverage (truncated).
double Cover(const Canvas& c, int x, int y) {
  return (c.At(x, y) & 0xFF) / 255.0;
}

TEST(OverlayPainter, FillRectCoverageIsTheAreaOfEachPixel) {
  Canvas canvas(12, 10);
  canvas.painter.FillRect(2.25, 3.5, 6.5, 4.25, 0xFFFFFFFF);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 12; ++x) {
      const double ax = std::max(0.0, std::min(x + 1.0, 8.75) - std::max(double(x), 2.25));
      const double ay = std::max(0.0, std::min(y + 1.0, 7.75) - std::max(double(y), 3.5));
      EXPECT_NEAR(Cover(canvas, x, y), ax * ay, 2.5 / 255) << x << "," << y;  // t truncates
    }
  }
}

TEST(OverlayPainter, FillRectInOneColumnTakesTheLeftShare) {
  struct Case {
    double x, width, expected;
  } cases[] = {
      {5.25, 0.5, 0.75},  // left share 0.25
      {5.0, 0.5, 0.5},    // left edge on the boundary: right share 0.5
  };
  for (const auto& c : cases) {
    Canvas canvas(8, 4);
    canvas.painter.FillRect(c.x, 0, c.width, 4, 0xFFFFFFFF);
    EXPECT_NEAR(Cover(canvas, 5, 1), c.expected, 2.5 / 255) << c.x;
    EXPECT_EQ(canvas.Inked(), 4) << c.x;
  }
}

TEST(OverlayPainter, NegativeExtentsAndLineEndOrderDrawTheSame) {
  Canvas a(12, 12), b(12, 12);
  a.painter.FillRect(2.3, 1.6, 5.2, 7.7, 0xFFFFFFFF);
  b.painter.FillRect(7.5, 9.3, -5.2, -7.7, 0xFFFFFFFF);
  EXPECT_EQ(a.Pixels(), b.Pixels());
  for (double scale_y : {1.0, -1.0}) {
    Canvas up(12, 12), down(12, 12);
    for (Canvas* c : {&up, &down}) {
      c->painter.Target().scale_y = scale_y;
      c->painter.Target().offset_y = scale_y < 0 ? 12 : 0;
    }
    up.painter.DrawLine(5.5, 2, 5.5, 9, 2, 0xFFFFFFFF);
    down.painter.DrawLine(5.5, 9, 5.5, 2, 2, 0xFFFFFFFF);
    EXPECT_EQ(up.Pixels(), down.Pixels());
    EXPECT_EQ(up.Inked(), 21);  // columns 4 (half), 5, 6 (half); seven rows
  }
}

TEST(OverlayPainter, LineWithEqualEndsIsADisc) {
  Canvas line(16, 16), disc(16, 16);
  line.painter.DrawLine(7.3, 8.1, 7.3, 8.1, 5, 0xFFFFFFFF);
  disc.painter.FillCircle(7.3, 8.1, 2.5, 0xFFFFFFFF);
  EXPECT_EQ(line.Pixels(), disc.Pixels());
  EXPECT_GT(line.Inked(), 12);
}

TEST(OverlayPainter, DiagonalLineInkMatchesItsArea) {
  // A 3-pixel wide line of length 20 at a slope of 3/4: interior pixels full, the ink the area
  // of the band within a few per cent (the ends are cut square along the scan lines).
  Canvas canvas(40, 40);
  canvas.painter.DrawLine(8, 8, 24, 20, 3, 0xFFFFFFFF);
  double ink = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) ink += Cover(canvas, x, y);
  EXPECT_NEAR(ink, 60.0, 3.0);
  EXPECT_EQ(canvas.At(16, 14), 0x00FFFFFFu);  // on the centre line
  EXPECT_EQ(canvas.At(20, 11), 0u);           // 3.2 pixels off it
}

TEST(OverlayPainter, ClosedPolylineDrawsEverySegmentOnce) {
  const PainterPoint triangle[] = {{3, 3}, {17, 5}, {7, 16}};
  const PainterPoint repeated[] = {{3, 3}, {3, 3}, {17, 5}, {7, 16}, {7, 16}};
  const uint32_t colour = 0x60FFFFFF;  // translucent: a second coat would show
  Canvas poly(20, 20), lines(20, 20), dup(20, 20);
  poly.painter.DrawPolyline(triangle, 3, true, 2, colour, false);
  dup.painter.DrawPolyline(repeated, 5, true, 2, colour, false);
  for (int i = 0; i < 3; ++i) {
    const auto& a = triangle[i];
    const auto& b = triangle[(i + 1) % 3];
    PaintThickLine(lines.painter.Target(), a.x, a.y, b.x, b.y, 2, colour);
  }
  EXPECT_EQ(poly.Pixels(), lines.Pixels());
  EXPECT_EQ(poly.Pixels(), dup.Pixels());
}

TEST(OverlayPainter, RingAndCrossShapes) {
  Canvas ring(32, 32);
  ring.painter.DrawCircle(16, 16, 8, 3, 0xFFFFFFFF);
  EXPECT_EQ(ring.At(16, 16), 0u);           // centre
  EXPECT_EQ(ring.At(25, 16), 0x00FFFFFFu);  // radius 9.5
  EXPECT_EQ(ring.At(29, 16), 0u);           // beyond r + w
  Canvas cross(16, 16, 0, 0xFF000000);
  cross.painter.DrawCross(8, 8, 5, 5, 2, 0x7FFFFFFF);
  // The crossing square is covered twice.
  EXPECT_GT(cross.At(8, 8) & 0xFF, cross.At(4, 8) & 0xFF);
  EXPECT_EQ(cross.At(4, 8), cross.At(8, 4));
}

TEST(OverlayPainter, DegenerateSizesDrawNothing) {
  const std::vector<NamedDraw> cases = {
      {"FillCircle r 0", [](OverlayPainter& p, uint32_t c) { p.FillCircle(5, 5, 0, c); }},
      {"DrawCircle r 0.5 w 0",
       [](OverlayPainter& p, uint32_t c) { p.DrawCircle(5, 5, 0.5, 0, c); }},
      {"FillEllipse b 0", [](OverlayPainter& p, uint32_t c) { p.FillEllipse(5, 5, 3, 0, c); }},
      {"FillRect width 0", [](OverlayPainter& p, uint32_t c) { p.FillRect(2, 2, 0, 5, c); }},
      {"DrawLine width 0", [](OverlayPainter& p, uint32_t c) { p.DrawLine(1, 1, 8, 6, 0, c); }},
      {"DrawLine scale 0",
       [](OverlayPainter& p, uint32_t c) {
         p.Target().scale_x = 0;
         p.DrawLine(3, 1, 3, 8, 2, c);
       }},
      {"DrawLine far", [](OverlayPainter& p, uint32_t c) { p.DrawLine(-1e6, 2, 1e6, 3, 2, c); }},
      {"DrawLine NaN",
       [](OverlayPainter& p, uint32_t c) { p.DrawLine(std::nan(""), 2, 5, 3, 2, c); }},
  };
  for (const auto& shape : cases) {
    Canvas canvas(10, 10);
    shape.draw(canvas.painter, 0xFFFFFFFF);
    EXPECT_EQ(canvas.Inked(), 0) << shape.name;
  }
  // A small ring (r = 0.5, no zero divisor) still draws.
  Canvas canvas(10, 10);
  canvas.painter.DrawCircle(5, 5, 0.5, 1, 0xFFFFFFFF);
  EXPECT_GT(canvas.Inked(), 0);
}

double Doubling(double, const double*, bool) {
  return 2.0;
}

TEST(OverlayPainter, DistortionMovesCentresAndLineEnds) {
  const double k[4] = {0, 0, 0, 0};
  Canvas moved(32, 32), plain(32, 32);
  moved.painter.SetRadialDistortion(10, 10, 1, 1, k, Doubling);
  moved.painter.SetDistortionOn(true);
  moved.painter.FillCircle(14, 12, 2, 0xFFFFFFFF);  // centre to (18, 14)
  plain.painter.FillCircle(18, 14, 2, 0xFFFFFFFF);
  EXPECT_EQ(moved.Pixels(), plain.Pixels());
  // A vertical line keeps its length: only its centre moves.
  Canvas line(32, 32), rect(32, 32);
  line.painter.SetRadialDistortion(10, 10, 1, 1, k, Doubling);
  line.painter.SetDistortionOn(true);
  line.painter.DrawLine(12, 10, 12, 14, 2, 0xFFFFFFFF);  // centre (12, 12) to (14, 14)
  rect.painter.FillRect(13, 12, 2, 4, 0xFFFFFFFF);
  EXPECT_EQ(line.Pixels(), rect.Pixels());
}

TEST(OverlayPainter, SubTargetKeepsWholeBufferCoordinates) {
  std::vector<uint32_t> buffer(20 * 10, 0);
  ArrayMap<uint32_t> whole(buffer.data(), 20, 20, 10);
  OverlayPainter painter;
  painter.SetTarget(5, 2, 30, 5, whole);  // clipped to 15 x 5
  EXPECT_EQ(painter.Target().width, 15);
  painter.FillRect(6, 3, 1, 1, 0xFFFFFFFF);
  EXPECT_EQ(buffer[3 * 20 + 6], 0x00FFFFFFu);
  painter.FillRect(0, 0, 20, 10, 0xFFFFFFFF);
  EXPECT_EQ(buffer[1 * 20 + 6], 0u);  // above the rectangle
  painter.SetTarget(whole);
  painter.FillRect(0, 0, 1, 1, 0xFFFFFFFF);
  EXPECT_EQ(buffer[0], 0x00FFFFFFu);
  EXPECT_FALSE(painter.IsGL());
  painter.CheckNoGL(20, 10);
}

}  // namespace
