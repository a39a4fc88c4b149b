#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/camera/radial_distortion.h"
#include "scene/painter/overlay_painter.h"
#include "scene/painter/painter_fonts.h"
#include "scene/painter/painter_test_util.h"

namespace {

using kxtest::Canvas;

const uint16_t* Glyph(const uint16_t* font, int code) {
  return font + font[code];
}

TEST(PainterFonts, BothFacesInkTheSameCodes) {
  for (const uint16_t* font : {painter_fonts::kFont8x16, painter_fonts::kFont6x13}) {
    for (int code = 0; code < 256; ++code) {
      const bool ink = ((code >= 33 && code <= 126) || (code >= 161 && code <= 255)) &&
                       code != 222 && code != 240 && code != 254;
      EXPECT_EQ(Glyph(font, code)[0] != 0, ink) << code;
    }
  }
  // The larger face is anti-aliased: some pixels carry the one- and two-third levels.
  const uint16_t* a = Glyph(painter_fonts::kFont8x16, 'A');
  bool levels[4] = {};
  for (int r = 0, k = 1; r < 16; ++r) {
    if (!(a[0] & (1 << r))) continue;
    for (int c = 0; c < 8; ++c) levels[(a[k] >> (2 * c)) & 3] = true;
    ++k;
  }
  EXPECT_TRUE(levels[1] && levels[2] && levels[3]);
}

TEST(PainterFonts, StrokeGlyphRowsOfTheSimplexFont) {
  constexpr int U = painter_fonts::kPenUp;
  struct Row {
    int code;
    std::vector<int> bytes;  // left, right, entry count, entries
  } rows[] = {
      {' ', {-8, 8, 0}},
      {'!', {-5, 5, 8, 0, -12, 0, 2, U, 0, 7, -1, 8, 0, 9, 1, 8, 0, 7}},
      {'"', {-8, 8, 5, -4, -12, -4, -5, U, 4, -12, 4, -5}},
      {'1', {-10, 10, 4, -4, -8, -2, -9, 1, -12, 1, 9}},
      {'A', {-9, 9, 8, 0, -12, -8, 9, U, 0, -12, 8, 9, U, -5, 2, 5, 2}},
      {'X', {-10, 10, 5, -7, -12, 7, 9, U, 7, -12, -7, 9}},
      {127, {-7, 7,  13, -1, -12, -3, -11, -4, -9, -4,  -7, -3,  -5, -1, -4,
             1,  -4, 3,  -5, 4,   -7, 4,   -9, 3,  -11, 1,  -12, -1, -12}},
  };
  for (const auto& row : rows) {
    const int8_t* g = painter_fonts::kStrokeGlyphs + painter_fonts::kStrokeOffsets[row.code - 32];
    std::vector<int> bytes(g, g + row.bytes.size());
    EXPECT_EQ(bytes, row.bytes) << row.code;
  }
}

TEST(DrawText, FontSelectorAndAlpha) {
  for (int font : {0, 1, 2}) {
    Canvas canvas(40, 20);
    canvas.painter.Target().font = font;
    canvas.painter.DrawText(1, 1, "Ag", 2, 0xFFFFFFFF);
    EXPECT_EQ(canvas.Inked() > 0, font != 2) << font;
    Canvas clear(40, 20);
    clear.painter.Target().font = font;
    clear.painter.DrawText(1, 1, "Ag", 2, 0x00FFFFFF);
    EXPECT_EQ(clear.Inked(), 0) << font;
  }
  // Full ink carries the colour's alpha byte plus one (255 wraps to 0).
  for (uint32_t colour : {0xFF204060u, 0x80204060u}) {
    Canvas canvas(10, 20);
    canvas.painter.DrawText(0, 0, "I", 1, colour);
    bool found = false;
    for (uint32_t p : canvas.Pixels()) found |= p == colour + 0x01000000;
    EXPECT_TRUE(found) << std::hex << colour;
  }
}

TEST(DrawText, CellsLeftOfTheTargetAreSkippedWhole) {
  struct Case {
    int font;
    double x;
    std::string text;
    std::vector<std::pair<double, std::string>> same;  // draws that give the same pixels
  } cases[] = {
      {0, -16, "ABC", {{0, "C"}}},           // two 8-pixel cells off the left edge
      {1, -12.5, "ABCD", {{-0.5, "CD"}}},    // the third cell still overhangs
      {0, 3, "A B", {{3, "A"}, {19, "B"}}},  // a space advances without ink
  };
  for (const auto& c : cases) {
    Canvas a(30, 20, 4), b(30, 20, 4);
    a.painter.Target().font = b.painter.Target().font = c.font;
    a.painter.DrawText(c.x, 2, c.text.c_str(), int(c.text.size()), 0xFFFFFFFF);
    for (const auto& [x, text] : c.same)
      b.painter.DrawText(x, 2, text.c_str(), int(text.size()), 0xFFFFFFFF);
    EXPECT_EQ(a.Pixels(), b.Pixels()) << c.text;
    EXPECT_TRUE(a.MarginUntouched()) << c.text;
  }
}

// Ink bounding box of a canvas: {min x, min y, max x, max y}.
std::vector<int> InkBox(const Canvas& c) {
  std::vector<int> box = {c.width, c.height, -1, -1};
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x)
      if (c.At(x, y) != c.fill) {
        box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
        box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
      }
  return box;
}

TEST(DrawStrokeText, FillsTheBoxByTheAdvances) {
  // 'A' spans font x −8..8 after its bearing of 9 (so 1..17 of 18 units) and y −12..9: in a
  // 36 x 32 box at (10, 10), d = 2 and one pixel per unit about the baseline y = 26.
  Canvas canvas(60, 50);
  canvas.painter.DrawStrokeText(10, 10, 36, 32, 1, "A", 0xFFFFFFFF);
  const std::vector<int> box = InkBox(canvas);
  EXPECT_EQ(box, (std::vector<int>{11, 13, 44, 35}));
  // Outside 32..127 a character draws as 'X'.
  Canvas x(60, 50), odd(60, 50);
  x.painter.DrawStrokeText(5, 5, 40, 32, 2, "X", 0xFFFFFFFF);
  odd.painter.DrawStrokeText(5, 5, 40, 32, 2, "\x01", 0xFFFFFFFF);
  EXPECT_EQ(x.Pixels(), odd.Pixels());
  EXPECT_GT(x.Inked(), 50);
  Canvas none(60, 50);
  none.painter.DrawStrokeText(5, 5, 40, 32, 2, "X", 0x00FFFFFF);
  none.painter.DrawStrokeText(5, 5, 40, 32, 2, "", 0xFFFFFFFF);
  none.painter.DrawStrokeText(5, 5, 40, 32, 2, nullptr, 0xFFFFFFFF);
  EXPECT_EQ(none.Inked(), 0);
}

double One(double, const double*, bool) {
  return 1.0;
}

TEST(RadDistMapper, FollowsTheLensModel) {
  PainterTarget t;
  t.distortion_centre_x = 320, t.distortion_centre_y = 240;
  t.distortion_function = One;
  double x = 0, y = 0;
  RadDistMapper(0.5, 0.25, t).Map(x, y, 100, 80);
  EXPECT_DOUBLE_EQ(x, 50);
  EXPECT_DOUBLE_EQ(y, 20);
  // With a real model the mapped point is the distorted position of the ideal one: the direct
  // model takes it back.
  t.distortion_function = Poly3;
  t.distortion_k[0] = -3e-7;
  t.distortion_factor_x = t.distortion_factor_y = 1;
  for (auto [px, py] : {std::pair{20.0, 30.0}, {320.0, 240.0}, {600.0, 450.0}}) {
    RadDistMapper(1, 1, t).Map(x, y, px, py);
    const double dx = x - 320, dy = y - 240;
    const double g = Poly3(dx * dx + dy * dy, t.distortion_k, false);
    EXPECT_NEAR(320 + g * dx, px, 1e-6);
    EXPECT_NEAR(240 + g * dy, py, 1e-6);
  }
}

}  // namespace
