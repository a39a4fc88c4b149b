#include "scene/painter/overlay_painter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "scene/painter/painter_ops.h"
#include "scene/painter/painter_raster.h"

using namespace painter_raster;

namespace {

void Distort(const PainterTarget& t, double& x, double& y) {
  if (!t.distortion_on || t.distortion_function == nullptr) return;
  const double dx = x - t.distortion_centre_x, dy = y - t.distortion_centre_y;
  const double fx = t.distortion_factor_x * dx, fy = t.distortion_factor_y * dy;
  const double s = t.distortion_function(fx * fx + fy * fy, t.distortion_k, true);
  x = t.distortion_centre_x + s * dx;
  y = t.distortion_centre_y + s * dy;
}

// One run along a scan line, 16.16 fixed point: start and end positions on the minor axis.
template <typename Plot>
void Span(int64_t start, int64_t end, Plot plot) {
  if (end <= start) return;
  const int64_t p0 = start >> 16, p1 = end >> 16;
  if (p0 == p1) {
    plot(static_cast<int>(p0), static_cast<uint32_t>(end - start));
    return;
  }
  plot(static_cast<int>(p0), static_cast<uint32_t>(kWhole - (start & 0xFFFF)));
  for (int64_t p = p0 + 1; p < p1; ++p) plot(static_cast<int>(p), kWhole);
  if (end & 0xFFFF) plot(static_cast<int>(p1), static_cast<uint32_t>(end & 0xFFFF));
}

void OpClear(PainterTarget& t, uint32_t colour) {
  if (!Drawable(t)) return;
  const uint32_t rgb = colour & 0xFFFFFF;
  for (int y = 0; y < t.height; ++y) std::fill(Pixel(t, 0, y), Pixel(t, t.width, y), rgb);
}

void OpFillCircle(PainterTarget& t, double cx, double cy, double r, uint32_t colour) {
  if (Transparent(colour)) return;
  MapPainterPoint(t, cx, cy);
  FillDiscTarget(t, cx, cy, r, colour);
}

void OpFillRect(PainterTarget& t, double x, double y, double w, double h, uint32_t colour) {
  if (Transparent(colour)) return;
  if (t.distortion_on && t.distortion_function != nullptr) {
    // Only the centre follows the lens; the rectangle keeps its size.
    double cx = x + w / 2, cy = y + h / 2;
    Distort(t, cx, cy);
    x = cx - w / 2;
    y = cy - h / 2;
  }
  double left = t.scale_x * x + t.offset_x, right = left + t.scale_x * w;
  double top = t.scale_y * y + t.offset_y, bottom = top + t.scale_y * h;
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  FillRectTarget(t, left, right, top, bottom, colour);
}

void OpDrawLine(PainterTarget& t, double x1, double y1, double x2, double y2, double width,
                uint32_t colour) {
  if (Transparent(colour) || !(width > 0)) return;
  if (x1 == x2 && y1 == y2) {
    OpFillCircle(t, x1, y1, width / 2, colour);
    return;
  }
  if (x1 == x2) {
    if (t.scale_x == 0) return;
    const double w = width / std::fabs(t.scale_x);
    if ((t.scale_y > 0) == (y1 > y2)) std::swap(y1, y2);
    OpFillRect(t, x1 - w / 2, y1, w, y2 - y1, colour);
    return;
  }
  if (y1 == y2) {
    if (t.scale_y == 0) return;
    const double h = width / std::fabs(t.scale_y);
    if ((t.scale_x > 0) == (x1 > x2)) std::swap(x1, x2);
    OpFillRect(t, x1, y1 - h / 2, x2 - x1, h, colour);
    return;
  }
  MapPainterPoint(t, x1, y1);
  MapPainterPoint(t, x2, y2);
  PaintThickLine(t, x1, y1, x2, y2, width, colour);
}

void OpDrawPolyline(PainterTarget& t, const PainterPoint* points, int count, bool closed,
                    double width, uint32_t colour, bool round_joins) {
  if (points == nullptr || count < 2 || Transparent(colour) || !(width > 0)) return;
  double fx = points[0].x, fy = points[0].y;
  MapPainterPoint(t, fx, fy);
  if (round_joins) FillDiscTarget(t, fx, fy, width / 2, colour);
  double px = fx, py = fy;
  for (int i = 1; i < count; ++i) {
    double x = points[i].x, y = points[i].y;
    MapPainterPoint(t, x, y);
    if (x == px && y == py) continue;
    PaintThickLine(t, px, py, x, y, width, colour);
    if (round_joins) FillDiscTarget(t, x, y, width / 2, colour);
    px = x;
    py = y;
  }
  if (closed && (px != fx || py != fy)) PaintThickLine(t, px, py, fx, fy, width, colour);
}

// Rows and columns measured from a centre; `weight` gives the coverage of a pixel from its
// squared distance.
template <typename Weight>
void RadialFill(PainterTarget& t, double cx, double cy, double reach_x, double reach_y,
                double row_factor, uint32_t colour, Weight weight) {
  if (!Drawable(t) || !InRange(cx) || !InRange(cy) || !(reach_x < kCoordinateLimit) ||
      !(reach_y < kCoordinateLimit))
    return;
  const int x0 = std::max(FloorInt(cx - reach_x), 0);
  const int x1 = std::min(FloorInt(cx + reach_x), t.width - 1);
  const int y0 = std::max(FloorInt(cy - reach_y), 0);
  const int y1 = std::min(FloorInt(cy + reach_y), t.height - 1);
  const Ink ink(colour);
  for (int y = y0; y <= y1; ++y) {
    const double dy = (y + 0.5 - cy) * row_factor;
    uint32_t* row = Pixel(t, 0, y);
    for (int x = x0; x <= x1; ++x) {
      const double dx = x + 0.5 - cx;
      ink.Put(row + x, weight(dx * dx + dy * dy));
    }
  }
}

void OpFillEllipse(PainterTarget& t, double cx, double cy, double rx, double ry, uint32_t colour) {
  if (Transparent(colour)) return;
  MapPainterPoint(t, cx, cy);
  const double a = std::fabs(t.scale_x * rx), b = std::fabs(t.scale_y * ry);
  if (!(a > 0) || !(b > 0)) return;
  const double m = a / b;
  const double inner = std::max(a - 0.5, 0.0) * std::max(b - 0.5, 0.0) * m;
  const double outer = (a + 0.5) * (b + 0.5) * m;
  RadialFill(t, cx, cy, a, b, m, colour, [&](double d2) -> uint32_t {
    if (d2 <= inner) return kWhole;
    if (d2 >= outer) return 0;
    return CoverageWeight((outer - d2) / (outer - inner));
  });
}

void OpDrawCircle(PainterTarget& t, double cx, double cy, double r, double w, uint32_t colour) {
  if (Transparent(colour) || !(r >= 0) || !(w > 0) || !(r + w > 0.5)) return;
  MapPainterPoint(t, cx, cy);
  const double inner0 = r > 1 ? (r - 1) * (r - 1) : 0.0;  // ramp up from here
  const double inner1 = r * r;                            // full from here
  const double outer0 = r + w > 1 ? (r + w - 1) * (r + w - 1) : 0.0;
  const double outer1 = (r + w) * (r + w);
  RadialFill(t, cx, cy, r + w, r + w, 1.0, colour, [&](double d2) -> uint32_t {
    if (d2 >= outer1 || (inner1 > 0 && d2 <= inner0)) return 0;
    if (d2 < inner1) return CoverageWeight((d2 - inner0) / (inner1 - inner0));
    if (d2 < outer0) return kWhole;
    return CoverageWeight((outer1 - d2) / (outer1 - outer0));
  });
}

void OpDrawCross(PainterTarget& t, double cx, double cy, double arm_x, double arm_y, double stroke,
                 uint32_t colour) {
  if (Transparent(colour) || !(stroke > 0)) return;
  MapPainterPoint(t, cx, cy);
  const double e = stroke / 2;
  if (arm_x > 0) FillRectTarget(t, cx - arm_x, cx + arm_x, cy - e, cy + e, colour);
  if (arm_y > 0) FillRectTarget(t, cx - e, cx + e, cy - arm_y, cy + arm_y, colour);
}

}  // namespace

namespace painter_raster {

void FillRectTarget(PainterTarget& t, double left, double right, double top, double bottom,
                    uint32_t colour) {
  if (!Drawable(t) || Transparent(colour)) return;
  if (!(right > left) || !(bottom > top)) return;
  if (right <= 0 || bottom <= 0 || left >= t.width || top >= t.height) return;
  // Edge pixels keep the old colour in proportion to their uncovered share; an edge clamped
  // to the target has share 0.
  int c0 = FloorInt(std::max(left, -1.0)), c1 = FloorInt(std::min(right, t.width + 1.0));
  int r0 = FloorInt(std::max(top, -1.0)), r1 = FloorInt(std::min(bottom, t.height + 1.0));
  double sl = left - c0, sr = c1 + 1 - right, st = top - r0, sb = r1 + 1 - bottom;
  if (c0 < 0) c0 = 0, sl = 0;
  if (c1 >= t.width) c1 = t.width - 1, sr = 0;
  if (r0 < 0) r0 = 0, st = 0;
  if (r1 >= t.height) r1 = t.height - 1, sb = 0;
  if (c1 < c0 || r1 < r0) return;
  // A rectangle within one column (row) takes the share of its left (top) edge, or of the
  // right (bottom) one when the left edge lies on a pixel boundary.
  if (c0 == c1) sl = sr = (sl > 0 ? sl : sr);
  if (r0 == r1) st = sb = (st > 0 ? st : sb);
  const Ink ink(colour);
  for (int y = r0; y <= r1; ++y) {
    const double cover_y = 1 - (y == r0 ? st : 0) - (y == r1 && r1 != r0 ? sb : 0);
    uint32_t* row = Pixel(t, 0, y);
    for (int x = c0; x <= c1; ++x) {
      const double cover_x = 1 - (x == c0 ? sl : 0) - (x == c1 && c1 != c0 ? sr : 0);
      const bool inner = x != c0 && x != c1 && y != r0 && y != r1;
      ink.Put(row + x, inner ? kWhole : CoverageWeight(cover_x * cover_y));
    }
  }
}

void FillDiscTarget(PainterTarget& t, double cx, double cy, double r, uint32_t colour) {
  if (Transparent(colour) || !(r > 0)) return;
  const double inner = r > 0.5 ? (r - 0.5) * (r - 0.5) : 0.0;
  const double outer = (r + 0.5) * (r + 0.5);
  RadialFill(t, cx, cy, r, r, 1.0, colour, [&](double d2) -> uint32_t {
    if (d2 <= inner) return kWhole;
    if (d2 >= outer) return 0;
    return CoverageWeight((outer - d2) / (outer - inner));
  });
}

}  // namespace painter_raster

void MapPainterPoint(const PainterTarget& t, double& x, double& y) {
  Distort(t, x, y);
  x = t.scale_x * x + t.offset_x;
  y = t.scale_y * y + t.offset_y;
}

void PaintThickLine(PainterTarget& t, double x1, double y1, double x2, double y2, double width,
                    uint32_t colour) {
  if (!Drawable(t) || Transparent(colour) || !(width > 0)) return;
  if (!InRange(x1) || !InRange(y1) || !InRange(x2) || !InRange(y2)) return;
  const double dx = x2 - x1, dy = y2 - y1;
  if (dx == 0 && dy == 0) return;
  // Scan along the major axis; a, b are the major and minor coordinates.
  const bool rows = std::fabs(dy) > std::fabs(dx);
  double a1 = rows ? y1 : x1, b1 = rows ? x1 : y1, a2 = rows ? y2 : x2, b2 = rows ? x2 : y2;
  if (a1 > a2) std::swap(a1, a2), std::swap(b1, b2);
  const int extent = rows ? t.height : t.width;
  const int minor_extent = rows ? t.width : t.height;
  const double k = (b2 - b1) / (a2 - a1);
  const double root = std::sqrt(k * k + 1);
  const double span = width * root;
  const double reach = std::fabs(k / root) * width / 2;
  int m0 = FloorInt(a1 - reach + 0.5), m1 = FloorInt(a1 + reach + 0.5);
  int m2 = FloorInt(a2 - reach + 0.5), m3 = FloorInt(a2 + reach + 0.5);
  if (m3 < 0 || m0 >= extent) return;
  auto clamp = [&](int m) { return std::clamp(m, 0, extent); };
  m0 = clamp(m0), m1 = clamp(m1), m2 = clamp(m2), m3 = clamp(m3);
  // The span centre on scan line m is taken at the pixel centre m + 0.5.
  const double start = b1 + (m0 + 0.5 - a1) * k - span / 2;
  if (std::fabs(k) >= kCoordinateLimit || span >= kCoordinateLimit ||
      std::fabs(start) >= kCoordinateLimit)
    return;
  constexpr double kOne = 65536.0;
  const int64_t step = std::llround(k * kOne);
  const int64_t length = std::llround(span * kOne);
  const int64_t half = length / 2;
  const int64_t limit = int64_t{minor_extent} * 65536 - 1;
  int64_t s = std::llround(start * kOne);
  const Ink ink(colour);
  // Half spans at the ends: the larger-minor half at the start for k >= 0, the other at the end.
  const bool upper_at_start = k >= 0;
  for (int m = m0; m < m3; ++m, s += step) {
    const bool at_start = m < m1, at_end = m >= m2;
    int64_t from = s, to = s + length;
    if (at_start && at_end) {
      from = s + length / 4, to = s + length - length / 4;
    } else if (at_start || at_end) {
      const bool upper = at_start ? upper_at_start : !upper_at_start;
      if (upper) {
        from = s + half;
      } else {
        to = s + half;
      }
    }
    from = std::max<int64_t>(from, 0);
    to = std::min(to, limit);
    if (rows) {
      uint32_t* row = Pixel(t, 0, m);
      Span(from, to, [&](int p, uint32_t c) { ink.Put(row + p, c); });
    } else {
      Span(from, to, [&](int p, uint32_t c) { ink.Put(Pixel(t, m, p), c); });
    }
  }
}

OverlayPainter::OverlayPainter(bool gl) {
  SetupBackend(gl);
}

bool OverlayPainter::SetupBackend(bool gl) {
  gl_ = gl;
  if (gl) {
    ops_ = PainterOps{};  // no GL back end exists
    return true;
  }
  ops_.Clear = OpClear;
  ops_.DrawLine = OpDrawLine;
  ops_.DrawPolyline = OpDrawPolyline;
  ops_.DrawRect = painter_ops::DrawRect;
  ops_.FillRect = OpFillRect;
  ops_.DrawCircle = OpDrawCircle;
  ops_.FillCircle = OpFillCircle;
  ops_.FillEllipse = OpFillEllipse;
  ops_.FillPolygon = painter_ops::FillPolygon;
  ops_.DrawText = painter_ops::DrawText;
  ops_.DrawImage = painter_ops::DrawImage;
  ops_.DrawCachedImage = painter_ops::DrawCachedImage;
  ops_.DrawCross = OpDrawCross;
  return false;
}

void OverlayPainter::CheckNoGL(int /*width*/, int /*height*/) {}

void OverlayPainter::SetTarget(const ArrayMap<uint32_t>& buffer) {
  SetTarget(0, 0, static_cast<int>(buffer.width), static_cast<int>(buffer.height), buffer);
}

void OverlayPainter::SetTarget(int x, int y, int width, int height,
                               const ArrayMap<uint32_t>& buffer) {
  const int bw = static_cast<int>(buffer.width), bh = static_cast<int>(buffer.height);
  const int x0 = std::clamp(x, 0, bw), y0 = std::clamp(y, 0, bh);
  const int x1 = static_cast<int>(std::clamp<int64_t>(int64_t{x} + std::max(width, 0), x0, bw));
  const int y1 = static_cast<int>(std::clamp<int64_t>(int64_t{y} + std::max(height, 0), y0, bh));
  target_.offset_x += origin_x_ - x0;
  target_.offset_y += origin_y_ - y0;
  origin_x_ = x0;
  origin_y_ = y0;
  target_.stride = static_cast<int>(buffer.stride);
  target_.width = x1 - x0;
  target_.height = y1 - y0;
  target_.pixels = buffer.data == nullptr
                       ? nullptr
                       : buffer.data + static_cast<std::ptrdiff_t>(y0) * buffer.stride + x0;
}

void OverlayPainter::SetRadialDistortion(double centre_x, double centre_y, double factor_x,
                                         double factor_y, const double k[4],
                                         RadialDistortionFunction function) {
  target_.distortion_centre_x = centre_x;
  target_.distortion_centre_y = centre_y;
  target_.distortion_factor_x = factor_x;
  target_.distortion_factor_y = factor_y;
  for (int i = 0; i < 4; ++i) target_.distortion_k[i] = k[i];
  target_.distortion_function = function;
}

void RadDistMapper::Map(double& x_out, double& y_out, double x, double y) const {
  const double dx = x * inverse_scale_x_ - target_.distortion_centre_x;
  const double dy = y * inverse_scale_y_ - target_.distortion_centre_y;
  double s = 1.0;
  if (target_.distortion_function != nullptr) {
    const double fx = target_.distortion_factor_x * dx, fy = target_.distortion_factor_y * dy;
    s = target_.distortion_function(fx * fx + fy * fy, target_.distortion_k, true);
  }
  x_out = target_.distortion_centre_x + s * dx;
  y_out = target_.distortion_centre_y + s * dy;
}
