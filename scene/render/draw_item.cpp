#include "scene/render/draw_item.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "scene/render/tex_span.h"

namespace {

int ClampRow(int r) {
  return std::clamp(r, 0, kMaxSampleExtent);
}

// Opaque samples take colour and depth, translucent ones add their layer; s steps by
// dsdx from x0 on.
void DrawSpan(const RowBuffers& row, int x0, int x1, double s, double dsdx, ItemColor c) {
  float* depth = row.depth;
  if (!IsTranslucent(c)) {
    const std::uint32_t pixel = static_cast<std::uint32_t>(c);
    std::uint32_t* color = row.color;
    for (int x = x0; x < x1; ++x, s += dsdx) {
      const float d = static_cast<float>(s);
      if (d > depth[x]) {
        depth[x] = d;
        color[x] = pixel;
      }
    }
  } else {
    std::uint64_t* accum = row.accum;
    for (int x = x0; x < x1; ++x, s += dsdx) {
      if (static_cast<float>(s) > depth[x]) AddLayer(accum[x], c);
    }
  }
}

}  // namespace

bool SpanColumns(double xl, double xr, int length, int& x0, int& x1) {
  const double a = std::max(0.0, std::ceil(xl));
  const double b = std::min(static_cast<double>(length), std::ceil(xr));
  if (!(a < b)) return false;  // also catches not-a-number
  x0 = static_cast<int>(a);
  x1 = static_cast<int>(b);
  return true;
}

NHSDrawItem::NHSDrawItem(std::uint32_t size, Kind k, int first, int end, ItemColor c)
    : record_size(size),
      first_row(static_cast<std::int16_t>(ClampRow(first))),
      end_row(static_cast<std::int16_t>(ClampRow(end))),
      kind(k),
      color(c) {}

void NHSDrawItem::RasterRow(const RowBuffers& row, int y, int length) const {
  if (row.color == nullptr || row.accum == nullptr || row.depth == nullptr) return;
  switch (kind) {
    case kMarker:
      static_cast<const NHSDrawItem_Marker*>(this)->RasterRow(row, y, length);
      break;
    case kLine:
      static_cast<const NHSDrawItem_Line*>(this)->RasterRow(row, y, length);
      break;
    case kSpanSeg:
      static_cast<const NHSDrawItem_SpanSeg*>(this)->RasterRow(row, y, length);
      break;
    case kTexSpanSeg:
      static_cast<const NHSDrawItem_TexSpanSeg*>(this)->RasterRow(row, y, length);
      break;
  }
}

NHSDrawItem_Marker::NHSDrawItem_Marker(int first, int end, int cx, int cy, int w,
                                       std::uint32_t shape_code, float s, ItemColor c)
    : NHSDrawItem(sizeof(NHSDrawItem_Marker), kMarker, first, end, c & 0xffffffffu),
      center_x(cx),
      center_y(cy),
      half_size(w),
      shape(shape_code),
      depth(s) {}

void NHSDrawItem_Marker::RasterRow(const RowBuffers& row, int y, int length) const {
  const std::int64_t w = half_size;
  const std::int64_t dy = std::llabs(static_cast<std::int64_t>(y) - center_y);
  if (dy > w) return;
  std::int64_t h;
  switch (shape) {
    case kMarkerSquare:
      h = w;
      break;
    case kMarkerDiamond:
      h = w - dy;
      break;
    case kMarkerOctagon:
      // 53/128 ≈ tan 22.5°: flat sides of about 0.83 w.
      h = w - std::max<std::int64_t>(0, dy - ((53 * w + 64) >> 7));
      break;
    case kMarkerCross:
      h = dy > (w >> 2) ? (w >> 2) : w;
      break;
    default:
      return;
  }
  const std::int64_t x0 = std::max<std::int64_t>(0, center_x - h);
  const std::int64_t x1 = std::min<std::int64_t>(length, center_x + h + 1);
  if (x0 >= x1) return;
  const std::uint32_t pixel = static_cast<std::uint32_t>(color);
  for (std::int64_t x = x0; x < x1; ++x) {
    if (depth > row.depth[x]) {
      row.depth[x] = depth;
      row.color[x] = pixel;
    }
  }
}

NHSDrawItem_Line::NHSDrawItem_Line(int first, int end, const ScreenPoint& from,
                                   const ScreenPoint& to, double half_width_factor, ItemColor c)
    : NHSDrawItem(sizeof(NHSDrawItem_Line), kLine, first, end, c),
      p(from),
      q(to),
      k(half_width_factor),
      inv_dy(to.y != from.y ? 1.0 / (to.y - from.y) : 0.0) {}

void NHSDrawItem_Line::RasterRow(const RowBuffers& row, int y, int length) const {
  const double dx = q.x - p.x;
  const double dy = q.y - p.y;
  const double ds = q.s - p.s;
  const double ex = dy * k;
  const double ey = std::fabs(dx) * k;
  const double t = y - p.y;
  double xl, sl, xr, sr;
  if (std::fabs(dx) < 0.0001) {
    const double s = p.s + t * ds * inv_dy;
    xl = p.x - ex;
    xr = p.x + ex;
    sl = sr = s;
  } else if (std::fabs(dy) < 0.0001) {
    const bool p_left = p.x < q.x;
    xl = p_left ? p.x : q.x;
    sl = p_left ? p.s : q.s;
    xr = p_left ? q.x : p.x;
    sr = p_left ? q.s : p.s;
  } else if (q.x > p.x) {
    if (y < p.y + ey) {
      xl = p.x - t * dy / dx;
      sl = p.s;
    } else {
      const double u = (t - ey) / dy;
      xl = p.x - ex + u * dx;
      sl = p.s + u * ds;
    }
    if (y > q.y - ey) {
      xr = q.x - (y - q.y) * dy / dx;
      sr = q.s;
    } else {
      const double u = (t + ey) / dy;
      xr = p.x + ex + u * dx;
      sr = p.s + u * ds;
    }
  } else {
    if (y > q.y - ey) {
      xl = q.x - (y - q.y) * dy / dx;
      sl = q.s;
    } else {
      const double u = (t + ey) / dy;
      xl = p.x - ex + u * dx;
      sl = p.s + u * ds;
    }
    if (y < p.y + ey) {
      xr = p.x - t * dy / dx;
      sr = p.s;
    } else {
      const double u = (t - ey) / dy;
      xr = p.x + ex + u * dx;
      sr = p.s + u * ds;
    }
  }
  int x0, x1;
  if (!SpanColumns(xl, xr, length, x0, x1)) return;
  const double dsdx = (sr - sl) / (xr - xl);
  DrawSpan(row, x0, x1, sl + (x0 - xl) * dsdx, dsdx, color);
}

NHSDrawItem_SpanSeg::NHSDrawItem_SpanSeg(int first, int end, double lx, double ls, double rx,
                                         double rs, double ldx, double lds, double rdx, double rds,
                                         double ds_dx, ItemColor c)
    : NHSDrawItem(sizeof(NHSDrawItem_SpanSeg), kSpanSeg, first, end, c),
      left_x(lx),
      left_s(ls),
      right_x(rx),
      right_s(rs),
      left_dx(ldx),
      left_ds(lds),
      right_dx(rdx),
      right_ds(rds),
      dsdx(ds_dx) {}

bool NHSDrawItem_SpanSeg::Columns(int y, int length, int& x0, int& x1, double& s0) const {
  const double xl = left_x + y * left_dx;
  const double xr = right_x + y * right_dx;
  if (!SpanColumns(xl, xr, length, x0, x1)) return false;
  s0 = left_s + y * left_ds + (x0 - xl) * dsdx;
  return true;
}

void NHSDrawItem_SpanSeg::RasterRow(const RowBuffers& row, int y, int length) const {
  int x0, x1;
  double s0;
  if (Columns(y, length, x0, x1, s0)) DrawSpan(row, x0, x1, s0, dsdx, color);
}

NHSDrawItem_TexSpanSeg::NHSDrawItem_TexSpanSeg(int first, int end, double lx, double ls, double rx,
                                               double rs, double ldx, double lds, double rdx,
                                               double rds, double ds_dx, ItemColor c,
                                               const double* tu3, const double* tv3,
                                               const NHSTexture& tex)
    : NHSDrawItem_SpanSeg(first, end, lx, ls, rx, rs, ldx, lds, rdx, rds, ds_dx, c),
      tu{tu3[0], tu3[1], tu3[2]},
      tv{tv3[0], tv3[1], tv3[2]},
      texture(tex) {
  record_size = sizeof(NHSDrawItem_TexSpanSeg);
  kind = kTexSpanSeg;
}

void NHSDrawItem_TexSpanSeg::RasterRow(const RowBuffers& row, int y, int length) const {
  int x0, x1;
  double s;
  if (texture.pixels == nullptr || !Columns(y, length, x0, x1, s)) return;
  TexSegment segs[kMaxTexSegments];
  const int n_segs = ComputeTexSegments(segs, x1 - x0, tu[0] * x0 + tu[1] * y + tu[2],
                                        tv[0] * x0 + tv[1] * y + tv[2], s, tu[0], tv[0], dsdx);
  const NHSTexture t = texture;
  float* depth = row.depth + x0;
  // Samples that pass the depth test take their texel; opaque spans write their depth.
  auto draw = [&](auto write) {
    ForEachTexSample(segs, n_segs, [&](int i, std::int64_t u, std::int64_t v) {
      const float d = static_cast<float>(s);
      s += dsdx;
      if (!(d > depth[i])) return;
      write(i, d, t.pixels[TexelIndex(t, u, v)]);
    });
  };
  if (IsTranslucent(color)) {
    // Each colour lane grows by (texel × (lane >> 1)) >> 7, the count lane by the item's.
    const std::uint64_t lb = (color & 0xffff) >> 1;
    const std::uint64_t lg = ((color >> 16) & 0xffff) >> 1;
    const std::uint64_t lr = ((color >> 32) & 0xffff) >> 1;
    const std::uint64_t count = color & 0xffff000000000000ull;
    std::uint64_t* accum = row.accum + x0;
    draw([=](int i, float, std::uint32_t texel) {
      const std::uint64_t b = ((texel & 0xff) * lb) >> 7;
      const std::uint64_t g = (((texel >> 8) & 0xff) * lg) >> 7;
      const std::uint64_t r = (((texel >> 16) & 0xff) * lr) >> 7;
      AddLayer(accum[i], count | r << 32 | g << 16 | b);
    });
    return;
  }
  std::uint32_t* out = row.color + x0;
  const std::uint32_t pixel = static_cast<std::uint32_t>(color);
  if (pixel == 0xffffffffu) {
    draw([=](int i, float d, std::uint32_t texel) {
      depth[i] = d;
      out[i] = texel;
    });
    return;
  }
  // Tinted: each channel (texel × colour) >> 8, alpha 0.
  const std::uint32_t cb = pixel & 0xff, cg = (pixel >> 8) & 0xff, cr = (pixel >> 16) & 0xff;
  draw([=](int i, float d, std::uint32_t texel) {
    depth[i] = d;
    out[i] = (((texel >> 16) & 0xff) * cr >> 8) << 16 | (((texel >> 8) & 0xff) * cg >> 8) << 8 |
             ((texel & 0xff) * cb) >> 8;
  });
}
