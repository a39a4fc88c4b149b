#include "scene/render/element_render_sw.h"

#include <algorithm>
#include <cmath>
#include <utility>

NHSElementRender_SW::NHSElementRender_SW(DrawItemArena& arena, const RenderProjection& projection,
                                         std::atomic<std::int32_t>* counter,
                                         std::vector<ScreenPoint>* clip_scratch)
    : arena_(arena),
      projection_(projection),
      counter_(counter),
      clip_(clip_scratch ? clip_scratch : &own_clip_) {}

bool NHSElementRender_SW::ClaimObject() {
  if (counter_ == nullptr) return true;
  if (running_ > claimed_) claimed_ = counter_->fetch_add(1, std::memory_order_acq_rel);
  return running_++ == claimed_;
}

double NHSElementRender_SW::ScaleAtDepth(double z) {
  return projection_.ScaleAtDepth(z);
}

void NHSElementRender_SW::ScaleFocal(double factor) {
  projection_.focal *= factor;
}

void NHSElementRender_SW::DrawMarker(const vm::Vector3& p, unsigned shape, double size,
                                     std::uint32_t color, std::uint32_t) {
  const RenderProjection& pr = projection_;
  if (!(p.z >= pr.near_distance)) return;
  const double s = pr.focal / p.z;
  const double x = std::round(pr.offset_x + p.x * s);  // half away from zero
  const double y = std::round(pr.offset_y + p.y * s);
  const double w = std::trunc(pr.sample_factor * size + 0.5);
  if (!(w >= 0.0) || w > kMaxSampleExtent) return;
  if (!(x + w >= 0.0) || !(y + w >= 0.0) || !(x - w < pr.width) || !(y - w < pr.height)) return;
  // Past the rejection the centre lies within the target widened by w on every side.
  const int cx = static_cast<int>(x), cy = static_cast<int>(y), iw = static_cast<int>(w);
  arena_.Add<NHSDrawItem_Marker>(cy - iw, cy + iw + 1, cx, cy, iw, shape, static_cast<float>(s),
                                 static_cast<std::uint32_t>(color + 0xff000000u));
}

void NHSElementRender_SW::DrawLine(const vm::Vector3& a, const vm::Vector3& b, double width,
                                   std::uint32_t color, std::uint32_t) {
  const RenderProjection& pr = projection_;
  ScreenPoint p, q;
  if (!pr.ClipSegment(p, q, a, b)) return;
  if (q.y < p.y) std::swap(p, q);
  const ItemColor c = MakeLineColor(color);
  const double dx = q.x - p.x, dy = q.y - p.y;
  const double len = std::sqrt(dx * dx + dy * dy);
  if (!(len > 0.0001)) return;
  const double k = pr.sample_factor * width * 0.5 / len;
  const double ey = std::fabs(dx) * k, ex = dy * k;
  double top = std::max(0.0, p.y - ey);
  double bottom = std::min(pr.y_limit, q.y + ey);
  if (!(top < bottom)) return;
  // Rows where the line lies wholly left or right of the target are dropped.
  if (q.x > p.x) {
    if (q.x + ex <= 0.0 || pr.x_limit - (p.x - ex) <= 0.0) return;
    // The upper long edge runs through (P.x + ex, P.y - ey); where it meets column 0 is
    // the first row inside the target.
    if (p.x - ex < 0.0) top = std::max(top, p.y - ey - (p.x + ex) * dy / dx);
    if (q.x + ex > pr.x_limit)
      bottom = std::min(bottom, (pr.x_limit - (p.x - ex)) * dy / dx + p.y + ey);
  } else if (p.x > q.x) {
    if (p.x + ex <= 0.0 || pr.x_limit - (q.x - ex) <= 0.0) return;
    if (q.x - ex < 0.0) bottom = std::min(bottom, p.y + ey - (p.x + ex) * dy / dx);
    if (p.x + ex > pr.x_limit) top = std::max(top, (pr.x_limit - (q.x - ex)) * dy / dx + q.y - ey);
  }
  const double first = std::ceil(top), end = std::ceil(bottom);
  if (!(first < end)) return;
  arena_.Add<NHSDrawItem_Line>(static_cast<int>(first), static_cast<int>(end), p, q, k, c);
}

namespace {

// An edge of the outline as X and s at row 0 and their slopes per row.
struct Edge {
  double x0 = 0.0, dx = 0.0, s0 = 0.0, ds = 0.0;
  Edge() = default;
  Edge(const ScreenPoint& a, const ScreenPoint& b) {
    const double h = b.y - a.y;
    dx = (b.x - a.x) / h;
    ds = (b.s - a.s) / h;
    x0 = a.x - dx * a.y;
    s0 = a.s - ds * a.y;
  }
};

}  // namespace

void NHSElementRender_SW::DrawPolygon(const vm::Vector3* points, int n, std::uint32_t color,
                                      std::uint32_t, bool one_sided, const vm::Vector3* normal,
                                      const NHSTexture* texture, const double* uv) {
  if (n < 3) return;
  const RenderProjection& pr = projection_;
  const vm::Vector3 N = FaceNormal(points, normal);
  const bool back = points[1].Dot(N) >= 0.0;
  if (one_sided && back) return;

  std::vector<ScreenPoint>& o = *clip_;
  if (o.size() < 2 * static_cast<std::size_t>(n) + 1) o.resize(2 * static_cast<std::size_t>(n) + 1);
  RenderProjection::Rect rect;
  const int m = pr.ClipPolygon(rect, o.data(), points, n, back);
  if (m < 3) return;

  // The depth slope along a row from the plane of the projected outline (s is affine in
  // X and Y on a planar face), and the outline's turning sense on the screen.
  double nx = 0.0, nz = 0.0;
  for (int i = 0, j = m - 1; i < m; j = i++) {
    nx += (o[j].y - o[i].y) * (o[j].s + o[i].s);
    nz += (o[j].x - o[i].x) * (o[j].y + o[i].y);
  }
  const double dsdx = -nx / nz;
  if (nz == 0.0 || !std::isfinite(dsdx)) return;  // no area on the screen
  // The walk wants the left chain to run forwards from the top point; outlines whose
  // given normal disagrees with their winding are turned round.
  if (nz > 0.0) std::reverse(o.begin() + 1, o.begin() + m);
  o[m] = o[0];

  double tu[3] = {0.0, 0.0, 0.0}, tv[3] = {0.0, 0.0, 0.0};
  const bool textured = texture != nullptr && texture->pixels != nullptr && uv != nullptr;
  if (textured) {
    Matrix3x3 M, Mi;
    for (int r = 0; r < 3; ++r) {
      M[r][0] = points[r].x;
      M[r][1] = points[r].y;
      M[r][2] = points[r].z;
    }
    Mi.Invert(M);  // a singular M leaves the identity
    auto gradient = [&](double* t, double u0, double u1, double u2, double size) {
      const vm::Vector3 c = MultiplyMat3Vec3(Mi, vm::Vector3{u0, u1, u2});
      const double scale = size * 262144.0;  // texels × 2^18
      t[0] = c.x * scale;
      t[1] = c.y * scale;
      t[2] = (pr.focal * c.z - pr.offset_x * c.x - pr.offset_y * c.y) * scale;
    };
    gradient(tu, uv[0], uv[2], uv[4], texture->Width());
    gradient(tv, uv[1], uv[3], uv[5], texture->Height());
  }
  const ItemColor c = (color >> 24) == 0 ? ItemColor{color | 0xff000000u}
                                         : ShadeColor(color, pr.ShadeFactor(N, one_sided));

  // Edge walk: the left chain forwards from the top point, the right chain backwards.
  const int end = rect.y + rect.h;
  auto row_of = [end](double y) { return static_cast<int>(std::min<double>(std::ceil(y), end)); };
  int y = rect.y, li = 0, ri = m, next_left = y, next_right = y;
  Edge left, right;
  while (y < end) {
    if (y == next_left) {
      do ++li;
      while (li < ri && row_of(o[li].y) <= y);
      if (row_of(o[li].y) <= y) return;
      left = Edge(o[li - 1], o[li]);
      next_left = row_of(o[li].y);
    }
    if (y == next_right) {
      do --ri;
      while (ri > li && row_of(o[ri].y) <= y);
      if (ri < 0 || row_of(o[ri].y) <= y) return;
      right = Edge(o[ri + 1], o[ri]);
      next_right = row_of(o[ri].y);
    }
    const int stop = std::min(next_left, next_right);
    if (textured) {
      arena_.Add<NHSDrawItem_TexSpanSeg>(y, stop, left.x0, left.s0, right.x0, right.s0, left.dx,
                                         left.ds, right.dx, right.ds, dsdx, c, tu, tv, *texture);
    } else {
      arena_.Add<NHSDrawItem_SpanSeg>(y, stop, left.x0, left.s0, right.x0, right.s0, left.dx,
                                      left.ds, right.dx, right.ds, dsdx, c);
    }
    y = stop;
  }
}
