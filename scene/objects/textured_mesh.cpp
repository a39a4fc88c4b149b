#include "scene/objects/textured_mesh.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

#include "foundation/camera/perspective_camera.h"
#include "scene/objects/draw_rules.h"
#include "scene/objects/mesh_objects.h"
#include "scene/objects/texture_pow2.h"

using vm::Vector2;
using vm::Vector3;

namespace {

constexpr int kLayoutTurns = 8;
constexpr uint32_t kLayoutMaxSide = 32768;
constexpr double kMargin = 2.0;        // texels around the points' box
constexpr double kBoundaryPush = 5.0;  // texels a boundary edge is pushed outward

// The smallest power of two not below `size`, at most kLayoutMaxSide.
uint32_t PowerOfTwoAtLeast(double size) {
  uint32_t side = 1;
  while (side < kLayoutMaxSide && side < size) side *= 2;
  return side;
}

Vector3 Apply(const Matrix3x3& M, double x, double y) {
  return {M.m[0] * x + M.m[1] * y + M.m[2], M.m[3] * x + M.m[4] * y + M.m[5],
          M.m[6] * x + M.m[7] * y + M.m[8]};
}

// The cell of a coordinate along an axis of `size` pixels: the left pixel and the weight
// of the right one. Outside (NaN included) the border pixel; one pixel reads itself twice.
void SampleCell(double x, uint32_t size, uint32_t& left, uint32_t& right, double& fraction) {
  if (!(x > 0.0)) {
    left = 0, fraction = 0.0;
  } else if (x >= static_cast<double>(size) - 1.0) {
    left = size >= 2 ? size - 2 : 0, fraction = 1.0;
  } else {
    left = static_cast<uint32_t>(x);
    fraction = x - left;
  }
  right = std::min(left + 1, size - 1);
}

}  // namespace

MeshTextureLayout LayoutMeshTexture(const std::vector<Vector2>& q) {
  struct Turn {
    double c, s, lo_a, hi_a, lo_b, hi_b;
    uint32_t F, G;
  } best{};
  double best_score = -1.0;
  for (int k = 0; k < kLayoutTurns; ++k) {
    const double theta = k * std::numbers::pi / 16.0;
    Turn t{std::cos(theta), std::sin(theta), HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL, 0, 0};
    for (const Vector2& p : q) {
      const double a = p.x * t.c + p.y * t.s, b = p.y * t.c - p.x * t.s;
      t.lo_a = std::min(t.lo_a, a), t.hi_a = std::max(t.hi_a, a);
      t.lo_b = std::min(t.lo_b, b), t.hi_b = std::max(t.hi_b, b);
    }
    const double ra = t.hi_a - t.lo_a, rb = t.hi_b - t.lo_b;
    t.F = PowerOfTwoAtLeast(ra + 4), t.G = PowerOfTwoAtLeast(rb + 4);
    const double scale = std::min((t.F - 4.0) / (ra + 1e-10), (t.G - 4.0) / (rb + 1e-10));
    const double score = scale * scale / (static_cast<double>(t.F) * t.G);
    if (score > best_score) best_score = score, best = t;
  }

  // The wider side runs along the texture's x.
  const bool b_along_x = best.F < best.G;
  const uint32_t width = std::min(b_along_x ? best.G : best.F, kMeshTextureMaxSide);
  const uint32_t height = std::min(b_along_x ? best.F : best.G, kMeshTextureMaxSide);
  MeshTextureLayout layout;
  layout.texture = MakeTexturePow2(nullptr, 0, width, height);
  if (!layout.texture) throw std::bad_alloc();
  const int W = layout.texture->Width(), H = layout.texture->Height();
  std::fill_n(const_cast<uint32_t*>(layout.texture->pixels), size_t(W) * size_t(H), 0u);

  const double ra = best.hi_a - best.lo_a, rb = best.hi_b - best.lo_b;
  const double c = best.c, s = best.s;
  Matrix3x3& T = layout.texel_map;
  if (b_along_x) {
    const double sb = rb > 0 ? (W - 2 * kMargin) / rb : 1.0;
    const double sa = ra > 0 ? (H - 2 * kMargin) / ra : 1.0;
    // tx = sb (b − min b) + 2, ty = sa (max a − a) + 2.
    T = {{-sb * s, sb * c, kMargin - sb * best.lo_b, -sa * c, -sa * s, kMargin + sa * best.hi_a, 0,
          0, 1}};
  } else {
    const double sa = ra > 0 ? (W - 2 * kMargin) / ra : 1.0;
    const double sb = rb > 0 ? (H - 2 * kMargin) / rb : 1.0;
    // tx = sa (a − min a) + 2, ty = sb (b − min b) + 2.
    T = {{sa * c, sa * s, kMargin - sa * best.lo_a, -sb * s, sb * c, kMargin - sb * best.lo_b, 0, 0,
          1}};
  }
  return layout;
}

uint32_t SampleBilinear32(double x, double y, const ArrayMap<const uint32_t>& image) {
  if (image.width == 0 || image.height == 0 || image.data == nullptr) return 0;
  uint32_t c0, c1, r0, r1;
  double fx, fy;
  SampleCell(x, image.width, c0, c1, fx);
  SampleCell(y, image.height, r0, r1, fy);
  const long w11 = std::lround(256 * fy * fx), w01 = std::lround(256 * (1 - fy) * fx);
  const long w10 = std::lround(256 * fy * (1 - fx)), w00 = std::lround(256 * (1 - fy) * (1 - fx));
  const uint32_t* row0 = image.data + size_t(r0) * image.stride;
  const uint32_t* row1 = image.data + size_t(r1) * image.stride;
  const uint32_t p00 = row0[c0], p01 = row0[c1], p10 = row1[c0], p11 = row1[c1];
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    auto ch = [shift](uint32_t p) { return static_cast<long>((p >> shift) & 0xff); };
    // The four rounded weights may add up to 258: a full channel is kept at 255 rather
    // than carried into the next one.
    const long v = (w00 * ch(p00) + w01 * ch(p01) + w10 * ch(p10) + w11 * ch(p11)) >> 8;
    out |= static_cast<uint32_t>(std::min(v, 255L)) << shift;
  }
  return out;
}

void PaintTextureTriangle(const ArrayMap<uint32_t>& texture, const ArrayMap<const uint32_t>& frame,
                          const PerspectiveCamera& camera, const Matrix3x3& Q, const Matrix3x3& X,
                          const Matrix3x3& T, unsigned boundary, const Vector2& centroid) {
  Matrix3x3 Qi, Ti;
  if (!Qi.Invert(Q) || !Ti.Invert(T)) return;
  const Vector3 h = camera.GetH(), v = camera.GetV(), a = camera.GetA();
  const Matrix3x3 hva = {{h.x, h.y, h.z, v.x, v.y, v.z, a.x, a.y, a.z}};
  Matrix3x3 hvax, to_image, M;
  hvax.Multiply(hva, X);
  to_image.Multiply(hvax, Qi);
  M.Multiply(to_image, Ti);

  // The texel polygon, boundary edges pushed outward.
  Vector2 t[3];
  for (int i = 0; i < 3; ++i) {
    const Vector3 p = Apply(T, Q.m[i], Q.m[3 + i]);
    t[i] = {p.x, p.y};
  }
  Vector2 corners[6];
  int n = 0;
  for (int i = 0; i < 3; ++i) {
    const Vector2 away = t[i] - centroid;
    const double length = away.Length();
    const Vector2 d = length > 0 ? away * (kBoundaryPush / length) : Vector2{0, 0};
    const bool leaving = (boundary >> i) & 1, arriving = (boundary >> ((i + 2) % 3)) & 1;
    if (leaving && arriving) {
      corners[n++] = t[i] + d;
    } else if (leaving) {
      corners[n++] = t[i];
      corners[n++] = t[i] + d;
    } else if (arriving) {
      corners[n++] = t[i] + d;
      corners[n++] = t[i];
    } else {
      corners[n++] = t[i];
    }
  }

  double lo_y = HUGE_VAL, hi_y = -HUGE_VAL;
  for (int i = 0; i < n; ++i)
    lo_y = std::min(lo_y, corners[i].y), hi_y = std::max(hi_y, corners[i].y);
  const double W = texture.width, H = texture.height;
  const double row_begin = std::max(0.0, std::floor(lo_y) + 1);
  const double row_end = std::min(H, std::floor(hi_y) + 1);
  const double half_w = (camera.GetWidth() - 1.0) / 2, half_h = (camera.GetHeight() - 1.0) / 2;
  for (double yd = row_begin; yd < row_end; ++yd) {
    double first = HUGE_VAL, last = -HUGE_VAL;
    int crossings = 0;
    for (int i = 0; i < n; ++i) {
      const Vector2& p = corners[i];
      const Vector2& r = corners[(i + 1) % n];
      if (p.y == r.y || yd < std::min(p.y, r.y) || yd > std::max(p.y, r.y)) continue;
      const double x = p.x + (yd - p.y) * (r.x - p.x) / (r.y - p.y);
      first = std::min(first, x), last = std::max(last, x);
      ++crossings;
    }
    if (crossings < 2) continue;
    const double col_begin = std::max(0.0, std::floor(first) + 1);
    const double col_end = std::min(W, std::floor(last) + 1);
    uint32_t* row = texture.data + static_cast<size_t>(yd) * texture.stride;
    for (double xd = col_begin; xd < col_end; ++xd) {
      const Vector3 m = Apply(M, xd, yd);
      if (!(m.z > 0)) continue;  // behind the camera
      double dx, dy;
      camera.Distort(m.x / m.z, m.y / m.z, dx, dy, true);
      row[static_cast<size_t>(xd)] = SampleBilinear32(dx + half_w, dy + half_h, frame);
    }
  }
}

bool TextureMeshFromFrame(NHSObject_TriMesh& mesh, const std::vector<Vector2>& q,
                          const std::vector<Vector3>& points,
                          const std::vector<MeshTriangle>& triangles,
                          const PerspectiveCamera& camera, const ArrayMap<const uint32_t>& frame) {
  if (q.size() < 2 || points.size() != q.size()) return false;
  MeshTextureLayout layout;
  std::vector<Vector2> uv;
  std::vector<int32_t> slots;
  try {
    layout = LayoutMeshTexture(q);
    uv.reserve(q.size());
    slots.reserve(q.size() * EdgeSlotTable::kSlots);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const Matrix3x3& T = layout.texel_map;
  const double W = layout.texture->Width(), H = layout.texture->Height();
  Vector2 centroid{0, 0};
  for (const Vector2& p : q) {
    const Vector3 t = Apply(T, p.x, p.y);
    uv.push_back({(t.x + 0.5) / W, (t.y + 0.5) / H});
    centroid += Vector2{t.x, t.y};
  }
  centroid *= 1.0 / static_cast<double>(q.size());

  EdgeSlotTable edges(slots);
  edges.Reset(static_cast<int>(q.size()));
  for (const MeshTriangle& f : triangles) {
    edges.AddEdge(int(f.a), int(f.b));
    edges.AddEdge(int(f.b), int(f.c));
    edges.AddEdge(int(f.c), int(f.a));
  }

  mesh.SetTexture(layout.texture);
  mesh.Coordinates().insert(mesh.Coordinates().end(), uv.begin(), uv.end());
  const ArrayMap<uint32_t> texels(const_cast<uint32_t*>(layout.texture->pixels),
                                  static_cast<uint32_t>(W), static_cast<uint32_t>(W),
                                  static_cast<uint32_t>(H));
  const Vector3 C = camera.GetC();
  for (const MeshTriangle& f : triangles) {
    mesh.Triangles().push_back({f.a, f.b, f.c, f.a, f.b, f.c});
    const unsigned flags = (edges.CountEdge(int(f.a), int(f.b)) == 1 ? MESH_EDGE_AB : 0u) |
                           (edges.CountEdge(int(f.b), int(f.c)) == 1 ? MESH_EDGE_BC : 0u) |
                           (edges.CountEdge(int(f.c), int(f.a)) == 1 ? MESH_EDGE_CA : 0u);
    const uint32_t v[3] = {f.a, f.b, f.c};
    Matrix3x3 Q, X;
    for (int i = 0; i < 3; ++i) {
      const Vector2& p = q[v[i]];
      const Vector3 d = points[v[i]] - C;
      Q.m[i] = p.x, Q.m[3 + i] = p.y, Q.m[6 + i] = 1.0;
      X.m[i] = d.x, X.m[3 + i] = d.y, X.m[6 + i] = d.z;
    }
    PaintTextureTriangle(texels, frame, camera, Q, X, T, flags, centroid);
  }
  return true;
}
