#include "scene/render/render_projection.h"

#include <algorithm>
#include <cmath>

bool RenderProjection::Setup(Matrix3x4& out, const Matrix3x4& view, const double principal_point[2],
                             int x0, int y0, int w, int h) {
  Matrix3x3 r;
  r.SetFromMatrix3x4(view);
  double q[3];
  for (int i = 0; i < 3; ++i) q[i] = r[i][0] * r[i][0] + r[i][1] * r[i][1] + r[i][2] * r[i][2];
  const double d = std::sqrt(std::sqrt(q[0] * q[1]) / q[2]);
  if (!(d > 0.0) || !std::isfinite(d)) return false;
  // Row numbers of draw items are 16-bit.
  const std::int64_t sample_w = static_cast<std::int64_t>(w) * sample_factor;
  const std::int64_t sample_h = static_cast<std::int64_t>(h) * sample_factor;
  if (w <= 0 || h <= 0 || sample_w > kMaxSampleExtent || sample_h > kMaxSampleExtent) return false;
  out = view;
  for (int c = 0; c < 4; ++c) out[2][c] = view[2][c] * d;
  const double f = sample_factor;
  offset_x = (principal_point[0] - (x0 + 0.5)) * f;
  offset_y = (principal_point[1] - (y0 + 0.5)) * f;
  focal = f * d;
  width = static_cast<int>(sample_w);
  height = static_cast<int>(sample_h);
  x_limit = width - 0.5;
  y_limit = height - 0.5;
  return true;
}

ScreenPoint RenderProjection::Project(const vm::Vector3& p) const {
  const double s = focal / std::max(p.z, near_distance);
  return {offset_x + p.x * s, offset_y + p.y * s, s};
}

namespace {

// The point where the edge from the front point f to the point e behind crosses the near
// plane, projected onto it.
ScreenPoint Crossing(const RenderProjection& pr, const vm::Vector3& f, const vm::Vector3& e) {
  const double t = (f.z - pr.near_distance) / (f.z - e.z);
  const vm::Vector3 c = e * t + f * (1.0 - t);
  const double s = pr.focal / pr.near_distance;
  return {pr.offset_x + c.x * s, pr.offset_y + c.y * s, s};
}

}  // namespace

bool RenderProjection::ClipSegment(ScreenPoint& a, ScreenPoint& b, const vm::Vector3& va,
                                   const vm::Vector3& vb) const {
  const bool a_behind = va.z < near_distance, b_behind = vb.z < near_distance;
  if (a_behind && b_behind) return false;
  a = a_behind ? Crossing(*this, vb, va) : Project(va);
  b = b_behind ? Crossing(*this, va, vb) : Project(vb);
  return true;
}

int RenderProjection::ClipOutline(ScreenPoint* out, const vm::Vector3* points, int n,
                                  bool reverse) const {
  int count = 0;
  int prev = reverse ? 0 : n - 1;
  for (int k = 0; k < n; ++k) {
    const int cur = reverse ? n - 1 - k : k;
    const vm::Vector3& a = points[prev];
    const vm::Vector3& b = points[cur];
    const bool a_behind = a.z < near_distance, b_behind = b.z < near_distance;
    if (a_behind != b_behind)
      out[count++] = a_behind ? Crossing(*this, b, a) : Crossing(*this, a, b);
    if (!b_behind) out[count++] = Project(b);
    prev = cur;
  }
  return count;
}

int RenderProjection::ClipPolygon(Rect& rect, ScreenPoint* out, const vm::Vector3* points, int n,
                                  bool reverse) const {
  if (n < 3) return 0;
  const int count = ClipOutline(out, points, n, reverse);
  int top = 0;
  double max_x = 0.0, max_y = 0.0, min_x = x_limit, min_y = y_limit;
  for (int i = 0; i < count; ++i) {
    const ScreenPoint& p = out[i];
    max_x = std::max(max_x, p.x);
    max_y = std::max(max_y, p.y);
    min_x = std::min(min_x, p.x);
    if (p.y < min_y) {  // strict: the earliest of equal points stays
      min_y = p.y;
      top = i;
    }
  }
  if (count < 3 || !(max_x > 0.0) || !(max_y > 0.0) || !(min_x < x_limit) || !(min_y < y_limit)) {
    return 0;
  }
  // Bounds in double first: projected coordinates can be far outside the int range.
  const double first_x = min_x < 0.0 ? 0.0 : std::ceil(min_x);
  const double first_y = min_y < 0.0 ? 0.0 : std::ceil(min_y);
  const double end_x = max_x > x_limit ? width : std::ceil(max_x);
  const double end_y = max_y > y_limit ? height : std::ceil(max_y);
  if (!(first_x < end_x) || !(first_y < end_y)) return 0;
  rect = {static_cast<int>(first_x), static_cast<int>(first_y), static_cast<int>(end_x - first_x),
          static_cast<int>(end_y - first_y)};
  std::rotate(out, out + top, out + count);
  return count;
}

double RenderProjection::ScaleAtDepth(double z) const {
  return focal / (sample_factor * std::max(z, near_distance));
}

double RenderProjection::ShadeFactor(const vm::Vector3& normal, bool one_sided) const {
  const double e = light.Dot(normal);
  const double len = normal.Length();
  if ((e >= 0.0 && one_sided) || len == 0.0) return ambient;
  return ambient + std::fabs(e) * (1.0 - ambient) / len;
}

namespace {

std::uint32_t Weight(std::uint32_t color) {
  const std::uint32_t w = color >> 28;
  return w == 0 ? 1 : w;
}

std::uint64_t Channel(std::uint32_t color, int shift, double k) {
  // Shade factors above 1 (a strong light) saturate instead of spilling into the next lane.
  const double v = std::min(255.0, ((color >> shift) & 0xff) * k);
  return static_cast<std::uint64_t>(v > 0.0 ? v : 0.0);
}

}  // namespace

ItemColor ShadeColor(std::uint32_t color, double shade) {
  if ((color >> 24) == 0xff) {
    return Channel(color, 16, shade) << 16 | Channel(color, 8, shade) << 8 |
           Channel(color, 0, shade);
  }
  const std::uint32_t w = Weight(color);
  // Saturated so that 63 layers still fit the 16-bit lanes.
  const double k = w * std::min(shade, 1.0) * 0.125;
  return (1024ull + w) << 48 | Channel(color, 16, k) << 32 | Channel(color, 8, k) << 16 |
         Channel(color, 0, k);
}

ItemColor MakeLineColor(std::uint32_t color) {
  if ((color >> 24) == 0xff) return color & 0x00ffffffu;
  const std::uint64_t w = Weight(color);
  return (1024ull + w) << 48 | ((((color >> 16) & 0xff) * w) >> 3) << 32 |
         ((((color >> 8) & 0xff) * w) >> 3) << 16 | (((color & 0xff) * w) >> 3);
}
