// Bitmap text (table slot DrawText) and the stroke-font captions of OverlayPainter.
#include <algorithm>
#include <cstdint>

#include "scene/painter/overlay_painter.h"
#include "scene/painter/painter_fonts.h"
#include "scene/painter/painter_ops.h"
#include "scene/painter/painter_raster.h"

using namespace painter_raster;

namespace {

const int8_t* StrokeGlyph(unsigned char code) {
  if (code < 32 || code > 127) code = 'X';
  return painter_fonts::kStrokeGlyphs + painter_fonts::kStrokeOffsets[code - 32];
}

}  // namespace

namespace painter_ops {

void DrawText(PainterTarget& t, double x, double y, const char* chars, int count, uint32_t colour) {
  const uint16_t* font;
  int advance, cell_height;
  if (t.font == 0) {
    font = painter_fonts::kFont8x16, advance = 8, cell_height = 16;
  } else if (t.font == 1) {
    font = painter_fonts::kFont6x13, advance = 6, cell_height = 13;
  } else {
    return;
  }
  if (!Drawable(t) || chars == nullptr || count <= 0 || Transparent(colour)) return;
  MapPainterPoint(t, x, y);
  if (!InRange(x) || !InRange(y)) return;
  int left = FloorInt(x);
  const int top = FloorInt(y);
  if (left + int64_t{count} * advance <= 0 || top + cell_height <= 0 || left >= t.width ||
      top >= t.height)
    return;
  if (left < 0) {  // whole cells left of column 0
    const int skip = -left / advance;
    chars += skip;
    count -= skip;
    left += skip * advance;
  }
  count = std::min(count, (t.width - left + advance - 1) / advance);
  // Text carries its alpha byte (plus one) into the pixels, unlike the other operations.
  const uint32_t ink = colour + 0x01000000;
  for (int i = 0; i < count; ++i) {
    const int cell_x = left + i * advance;
    const uint16_t* glyph = font + font[static_cast<unsigned char>(chars[i])];
    const uint16_t mask = *glyph++;
    for (int r = 0; r < cell_height; ++r) {
      if (!(mask & (1u << r))) continue;
      const uint16_t word = *glyph++;
      const int py = top + r;
      if (py < 0) continue;
      if (py >= t.height) break;
      uint32_t* row = Pixel(t, 0, py);
      for (int c = 0; c < advance; ++c) {
        const int px = cell_x + c;
        const int level = (word >> (2 * c)) & 3;
        if (level == 0 || px < 0 || px >= t.width) continue;
        row[px] = level == 3 ? ink : Mix(row[px], ink, level == 1 ? 0x55 : 0xAA);
      }
    }
  }
}

}  // namespace painter_ops

void OverlayPainter::DrawStrokeText(double x, double y, double width, double height,
                                    double line_width, const char* text, uint32_t colour) {
  if (text == nullptr || *text == 0 || Transparent(colour)) return;
  double total = 0;
  for (const char* c = text; *c; ++c) {
    const int8_t* g = StrokeGlyph(static_cast<unsigned char>(*c));
    total += g[1] - g[0];
  }
  if (!(total > 0)) return;
  const double d = width / total, e = height / 32, baseline = y + 16 * e;
  const double radius = line_width / 2;
  double pen = 0;  // the first glyph's bearing is taken once, like every other's
  for (const char* c = text; *c; ++c) {
    const int8_t* g = StrokeGlyph(static_cast<unsigned char>(*c));
    pen -= g[0];
    const int n = static_cast<uint8_t>(g[2]);
    const int8_t* entry = g + 3;
    bool have_previous = false, stroke_start = false;
    double px = 0, py = 0;
    for (int i = 0; i < n; ++i) {
      if (*entry == painter_fonts::kPenUp) {
        ++entry;
        have_previous = false;
        continue;
      }
      double qx = x + (pen + entry[0]) * d, qy = baseline + entry[1] * e;
      entry += 2;
      MapPainterPoint(target_, qx, qy);
      if (have_previous) {
        PaintThickLine(target_, px, py, qx, qy, line_width, colour);
        if (stroke_start) FillDiscTarget(target_, px, py, radius, colour);
        FillDiscTarget(target_, qx, qy, radius, colour);
        stroke_start = false;
      } else {
        stroke_start = true;
      }
      have_previous = true;
      px = qx, py = qy;
    }
    pen += g[1];
  }
}
