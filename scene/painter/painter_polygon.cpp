// Filled polygons and dashed rectangle frames of the overlay painter.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "scene/painter/overlay_painter.h"
#include "scene/painter/painter_ops.h"
#include "scene/painter/painter_raster.h"

using namespace painter_raster;

namespace {

// Adds the run [xa, xb) of one sub-row to the coverage row, k per whole pixel.
void AddRun(int32_t* cover, int width, double xa, double xb, int32_t k, int& lo, int& hi) {
  if (!(xb > xa) || xb <= 0 || xa >= width) return;
  xa = std::max(xa, 0.0);
  xb = std::min(xb, static_cast<double>(width));
  const int ca = static_cast<int>(xa), cb = static_cast<int>(xb);
  lo = std::min(lo, ca);
  hi = std::max(hi, std::min(cb, width - 1));
  if (ca == cb) {
    cover[ca] += static_cast<int32_t>((xb - xa) * k);
    return;
  }
  cover[ca] += static_cast<int32_t>((ca + 1 - xa) * k);
  for (int c = ca + 1; c < cb; ++c) cover[c] += k;
  if (cb < width) cover[cb] += static_cast<int32_t>((xb - cb) * k);
}

// The length of [lo, hi] inside [i, i + 1).
double Overlap(double lo, double hi, int i) {
  return std::max(0.0, std::min(hi, i + 1.0) - std::max(lo, static_cast<double>(i)));
}

}  // namespace

namespace painter_ops {

void FillPolygon(PainterTarget& t, const PainterPoint* points, int count, uint32_t colour) {
  if (!Drawable(t) || points == nullptr || count < 3 || Transparent(colour)) return;
  // Vertices in target space; x half a pixel to the left, y in sub-row units (four sub-rows per
  // pixel row, sub-row s at y = (s + 0.5) / 4).
  auto& edges = t.polygon_edges;
  edges.clear();
  const int sub_rows = 4 * t.height;
  double min_x = 0, max_x = 0, min_y = 0, max_y = 0;
  double prev_x = 0, prev_y = 0;
  int prev_index = 0;
  for (int i = -1; i < count; ++i) {
    const PainterPoint& p = points[i < 0 ? count - 1 : i];
    double x = p.x, y = p.y;
    MapPainterPoint(t, x, y);
    if (!InRange(x) || !InRange(y)) return;
    x -= 0.5;
    const double ys = 4 * y - 0.5;
    const int index = std::clamp(FloorInt(ys) + 1, 0, sub_rows);
    if (i < 0) {
      min_x = max_x = x, min_y = max_y = y;
    } else {
      min_x = std::min(min_x, x), max_x = std::max(max_x, x);
      min_y = std::min(min_y, y), max_y = std::max(max_y, y);
      if (index != prev_index) {
        const bool down = index > prev_index;
        const double ux = down ? prev_x : x, uy = down ? prev_y : ys;
        const double lx = down ? x : prev_x, ly = down ? ys : prev_y;
        edges.push_back({ux, uy, (lx - ux) / (ly - uy), std::min(index, prev_index),
                         std::max(index, prev_index)});
      }
    }
    prev_x = x, prev_y = ys, prev_index = index;
  }
  if (edges.empty() || max_x <= 0 || min_x >= t.width || max_y <= 0 || min_y >= t.height) return;
  std::sort(edges.begin(), edges.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  const uint32_t alpha = colour >> 24;
  const int32_t k = alpha == 255 ? 16384 : static_cast<int32_t>(alpha) * 64;
  const uint32_t rgb = colour & 0xFFFFFF;
  auto& cover = t.polygon_coverage;
  if (cover.size() < static_cast<size_t>(t.width)) cover.assign(t.width, 0);
  auto& active = t.polygon_active;
  auto& crossings = t.polygon_crossings;
  active.clear();
  int lo = t.width, hi = -1;
  auto flush = [&](int row) {
    uint32_t* line = Pixel(t, 0, row);
    for (int c = lo; c <= hi; ++c) {
      const int32_t sum = cover[c];
      cover[c] = 0;
      if (sum >= 65536) {
        line[c] = rgb;
      } else if (sum > 0) {
        line[c] = Mix(line[c], rgb, static_cast<uint32_t>(sum) >> 8);
      }
    }
    lo = t.width, hi = -1;
  };
  int end = 0;
  for (const auto& e : edges) end = std::max(end, e.end);
  size_t next = 0;
  for (int s = edges.front().first; s < end; ++s) {
    while (next < edges.size() && edges[next].first == s)
      active.push_back(static_cast<int>(next++));
    active.erase(
        std::remove_if(active.begin(), active.end(), [&](int i) { return edges[i].end <= s; }),
        active.end());
    crossings.clear();
    for (int i : active) {
      const auto& e = edges[i];
      const double x = e.x + (s - e.y0) * e.slope;
      // Insertion sort: a handful of crossings per sub-row.
      crossings.push_back(x);
      for (size_t j = crossings.size() - 1; j > 0 && crossings[j - 1] > x; --j)
        std::swap(crossings[j - 1], crossings[j]);
    }
    for (size_t j = 0; j + 1 < crossings.size(); j += 2)
      AddRun(cover.data(), t.width, crossings[j], crossings[j + 1], k, lo, hi);
    if ((s & 3) == 3 || s == end - 1) flush(s >> 2);
  }
}

void DrawRect(PainterTarget& t, double x1, double y1, double x2, double y2, double width,
              uint32_t colour, int dash_length, uint16_t dash_pattern) {
  if (!Drawable(t) || Transparent(colour) || !(width > 0)) return;
  MapPainterPoint(t, x1, y1);
  MapPainterPoint(t, x2, y2);
  if (!InRange(x1) || !InRange(y1) || !InRange(x2) || !InRange(y2) || !InRange(width)) return;
  const double left = std::min(x1, x2), right = std::max(x1, x2);
  const double top = std::min(y1, y2), bottom = std::max(y1, y2);
  const double e = width / 2;
  // Outer and inner pixel lines of the four bands.
  int a0 = FloorInt(left - e), a1 = FloorInt(left + e), b1 = FloorInt(right - e),
      b0 = FloorInt(right + e);
  int c0 = FloorInt(top - e), c1 = FloorInt(top + e), d1 = FloorInt(bottom - e),
      d0 = FloorInt(bottom + e);
  if (b0 < 0 || d0 < 0 || a0 >= t.width || c0 >= t.height) return;
  if (b1 < a1 || d1 < c1 || !(right - e > left + e) || !(bottom - e > top + e)) {
    FillRectTarget(t, left - e, right + e, top - e, bottom + e, colour);  // no hole
    return;
  }
  // A pixel line that the band covers by less than 1 % is left out.
  const double u_left = (left - e) - a0, u_right = b0 + 1 - (right + e);
  const double n_left = a1 + 1 - (left + e), n_right = (right - e) - b1;
  const double u_top = (top - e) - c0, u_bottom = d0 + 1 - (bottom + e);
  const double n_top = c1 + 1 - (top + e), n_bottom = (bottom - e) - d1;
  auto trim = [](int& outer, int& inner, double outer_share, double inner_share, int step) {
    if (outer != inner && outer_share > 0.99) outer += step;
    if (outer != inner && inner_share > 0.99) inner -= step;
  };
  trim(a0, a1, u_left, n_left, 1);
  trim(b0, b1, u_right, n_right, -1);
  trim(c0, c1, u_top, n_top, 1);
  trim(d0, d1, u_bottom, n_bottom, -1);

  const int length = dash_length > 0 ? dash_length : 1;
  const uint16_t pattern = dash_length > 0 ? dash_pattern : 0xFFFF;
  // Bit of a pattern position: positions count pixels along the run, dash_length per bit.
  auto on = [&](int64_t pos) {
    int64_t bit = pos >= 0 ? pos / length : -((-pos + length - 1) / length);
    return (pattern >> (((bit % 16) + 16) % 16)) & 1;
  };
  // Exact coverage: the outer rectangle's share of the pixel minus the hole's.
  auto coverage = [&](int col, int row) {
    const double outer = Overlap(left - e, right + e, col) * Overlap(top - e, bottom + e, row);
    const double hole = Overlap(left + e, right - e, col) * Overlap(top + e, bottom - e, row);
    return CoverageWeight(outer - hole);
  };
  // The top rows run left to right from bit 0 at a0; the right band continues downwards from
  // the phase the top rows reach at b1; the bottom rows run right to left after it; the left
  // band runs upwards into bit 0.
  const int64_t right_phase = int64_t{b1} - a0;
  const int64_t bottom_phase = right_phase + (int64_t{d1} - c1);
  const Ink ink(colour);
  const int row0 = std::max(c0, 0), row1 = std::min(d0, t.height - 1);
  const int col0 = std::max(a0, 0), col1 = std::min(b0, t.width - 1);
  for (int row = row0; row <= row1; ++row) {
    uint32_t* line = Pixel(t, 0, row);
    if (row <= c1 || row >= d1) {
      for (int col = col0; col <= col1; ++col) {
        const int64_t pos = row <= c1 ? int64_t{col} - a0 : bottom_phase + (int64_t{b0} - col);
        if (on(pos)) ink.Put(line + col, coverage(col, row));
      }
      continue;
    }
    const bool left_on = on(-(int64_t{row} - c1));
    const bool right_on = on(right_phase + (int64_t{row} - c1));
    for (int col = col0; col <= col1; ++col) {
      const bool in_left = col <= a1, in_right = col >= b1;
      if ((in_left && left_on) || (in_right && right_on)) ink.Put(line + col, coverage(col, row));
      if (!in_left && !in_right) col = std::max(col, b1 - 1);  // skip the hole
    }
  }
}

}  // namespace painter_ops
