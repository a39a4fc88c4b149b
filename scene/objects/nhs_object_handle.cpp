#include "scene/objects/nhs_object_handle.h"

#include <cmath>
#include <numbers>
#include <utility>

#include "scene/objects/curved_primitives.h"
#include "scene/objects/nhs_object_scene.h"
#include "scene/objects/primitives.h"
#include "scene/render/element_render.h"

using vm::Vector3;

namespace {

constexpr uint32_t kPartColors[NHSObject_Handle::kParts] = {
    0,          0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00, 0xffff00ff, 0xff00ffff,
    0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00, 0xffff00ff, 0xff00ffff, 0xffc0c0c0,
    0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00, 0xffff00ff, 0xff00ffff};

constexpr uint32_t kGrey = 0xffc0c0c0;

// Highlighted: a translucent fill and an outline.
SurfaceColors HandlePartColors(uint32_t color, bool active) {
  if (active) return {color & 0x7fffffff, color};
  return {color, 0};
}

void SetColumn(Matrix3x4& m, int c, const Vector3& v) {
  m.m[c] = v.x;
  m.m[4 + c] = v.y;
  m.m[8 + c] = v.z;
}

Vector3 ScaledTo(Vector3 v, double length) {
  const double l = v.Length();
  return l > 0 ? v * (length / l) : v;
}

}  // namespace

Matrix3x4 MakeHandleFrame(int sx, int sy, int sz, double s, double k, const Vector3& a0,
                          const Vector3& a1, const Vector3& a2, const Vector3& origin) {
  const Vector3 A0 = a0 * (sx < 0 ? -s : s);
  const Vector3 A1 = a1 * (sy < 0 ? -s : s);
  const Vector3 A2 = a2 * (sz < 0 ? -s : s);
  const double r2 = std::sqrt(0.5);
  Vector3 d, c0, c1;
  const int set = (sx != 0) | (sy != 0) << 1 | (sz != 0) << 2;
  switch (set) {
    case 1:
      d = A0, c0 = A1, c1 = A2;
      break;
    case 2:
      d = A1, c0 = A2, c1 = A0;
      break;
    case 3:
      d = (A0 + A1) * r2, c0 = A2, c1 = (A0 - A1) * r2;
      break;
    case 5:
      d = (A2 + A0) * r2, c0 = A1, c1 = (A2 - A0) * r2;
      break;
    case 6:
      d = (A2 + A1) * r2, c0 = A0, c1 = (A1 - A2) * r2;
      break;
    case 7: {
      d = (A0 + A1 + A2) * (1.0 / std::sqrt(3.0));
      const double q =
          std::sqrt((A0.SquaredLength() + A1.SquaredLength() + A2.SquaredLength()) / 3.0);
      c0 = ScaledTo(d.Cross(A0), q);
      c1 = ScaledTo(d.Cross(c0), q);
      break;
    }
    default:  // Z alone (and no selector)
      d = A2, c0 = A0, c1 = A1;
      break;
  }
  const int negatives = (sx < 0) + (sy < 0) + (sz < 0);
  if (set != 7 && negatives % 2 == 1) std::swap(c0, c1);
  Matrix3x4 frame;
  SetColumn(frame, 0, c0);
  SetColumn(frame, 1, c1);
  SetColumn(frame, 2, d);
  SetColumn(frame, 3, origin + d * k);
  return frame;
}

void DrawHandleRing(const Matrix3x4& frame, double width, int segments, SurfaceColors colors,
                    uint32_t pick_id, NHSElementRender& renderer) {
  if (colors.outline == 0) colors.outline = colors.fill;
  const Vector3 u = MatrixColumn(frame, 0), v = MatrixColumn(frame, 1);
  const Vector3 h = MatrixColumn(frame, 2) * (width / 2);
  const Vector3 t = MatrixColumn(frame, 3);
  const Vector3 radial[4] = {u, v, -u, -v};
  const Vector3 along[4] = {v, -u, -v, u};
  const double half = width / 2;

  // One-sided face with its outline edges given as point pairs.
  auto face = [&](const Vector3* p, int n, const Vector3* edges, int n_edges) {
    const Vector3 normal = FaceNormal(p[0], p[1], p[2]);
    if (!(FacingValue(p[0], normal) < 0)) return;
    if (colors.fill != 0) {
      renderer.DrawPolygon(p, n, colors.fill, pick_id, true, &normal, nullptr, nullptr);
    }
    for (int e = 0; e < n_edges; ++e) {
      renderer.DrawLine(edges[2 * e], edges[2 * e + 1], 1.0, colors.outline, pick_id);
    }
  };

  Vector3 plus[4], minus[4];
  for (int q = 0; q < 4; ++q) {
    const Vector3 p0 = t + radial[q];
    plus[q] = p0 - along[q] * half + h;
    minus[q] = p0 - along[q] * half - h;
    const Vector3 tip[3] = {p0, plus[q], minus[q]};
    const Vector3 edge[2] = {p0, plus[q]};
    face(tip, 3, edge, 1);
  }
  const double delta = (std::numbers::pi / 2 - 2 * std::atan(half)) / segments;
  const double cd = std::cos(delta) - 1, sd = std::sin(delta);
  double c = 1.0, e = -half;
  for (int i = 0; i < segments; ++i) {
    const double cn = c + (c * cd + e * sd);
    const double en = e + (e * cd - c * sd);
    c = cn, e = en;
    for (int q = 0; q < 4; ++q) {
      const Vector3 mid = t + radial[q] * c + along[q] * e;
      const Vector3 np = mid + h, nm = mid - h;
      const Vector3 quad[4] = {minus[q], plus[q], np, nm};
      const Vector3 edges[4] = {plus[q], np, nm, minus[q]};
      face(quad, 4, edges, 2);
      plus[q] = np, minus[q] = nm;
    }
  }
  for (int q = 0; q < 4; ++q) {
    const Vector3 apex = t - along[q];
    const Vector3 tip[3] = {apex, minus[q], plus[q]};
    const Vector3 edge[2] = {apex, minus[q]};
    face(tip, 3, edge, 1);
  }
}

void DrawHandleCircle(uint32_t color, uint32_t pick_id, double width, int n, const Vector3& centre,
                      NHSElementRender& renderer, double radius) {
  if (n <= 0) return;
  const double alpha = 2 * std::numbers::pi / n;
  const double ca = std::cos(alpha), sa = std::sin(alpha);
  double c = radius, e = 0.0;
  for (int i = 0; i < n; ++i) {
    const double cn = c * ca + e * sa;
    const double en = e * ca - c * sa;
    renderer.DrawLine({centre.x + c, centre.y + e, centre.z},
                      {centre.x + cn, centre.y + en, centre.z}, width, color, pick_id);
    c = cn, e = en;
  }
}

NHSObject_Handle::NHSObject_Handle() : NHSObject(NHS_TYPE_HANDLE) {
  for (int32_t& id : part_ids_) id = UIDRegistry::Instance().Register(this, 0);
}

NHSObject_Handle::~NHSObject_Handle() {
  for (int32_t id : part_ids_) UIDRegistry::Instance().Unregister(id);
}

uint32_t NHSObject_Handle::SetModes(bool rotate, bool scale, bool translate) {
  mode_ = (rotate ? kRotate : 0) | (scale ? kScale : 0) | (translate ? kTranslate : 0);
  return mode_;
}

int NHSObject_Handle::PickPart(int32_t id) {
  active_ = 0;
  for (int i = 0; i < kParts; ++i) {
    if (part_ids_[i] == id) {
      active_ = 1u << i;
      return i;
    }
  }
  return 0;
}

void NHSObject_Handle::Draw(NHSElementRender& r, const Matrix3x4& model) const {
  if (mode_ == 0) return;
  const NHSObject* top = this;
  while (top->GetParent() != nullptr) top = top->GetParent();
  const auto* scene = dynamic_cast<const NHSObject_Scene*>(top);
  if (scene == nullptr) return;
  const auto* selected =
      dynamic_cast<const NHSObject*>(UIDRegistry::Instance().GetObject(scene->GetSelectedId()));
  if (selected == nullptr || (selected->GetUIDFlags() & UID_FLAG_HIDDEN)) return;

  r.ScaleFocal(256.0);
  Matrix3x4 L = model;
  L.m[3] /= 256.0;
  L.m[7] /= 256.0;
  const double len = size_ / r.ScaleAtDepth(L.m[11]);
  const Vector3 o = MatrixColumn(L, 3);
  Vector3 a[3];
  for (int i = 0; i < 3; ++i) {
    a[i] = MatrixColumn(L, i);
    a[i].Normalize();
  }

  const double axis = (mode_ & 0xFC000) ? 1.2 * len : len;
  static constexpr uint32_t kAxisColors[3] = {0xffff0000, 0xff00ff00, 0xff0000ff};
  for (int i = 0; i < 3; ++i) r.DrawLine(o, o + a[i] * axis, 1.5, kAxisColors[i], 0);
  if (mode_ & 0x380) r.DrawLine(o, o + (a[0] + a[1] + a[2]) * (0.692820324 * len), 1.5, kGrey, 0);
  if (mode_ & 0x7E) DrawHandleCircle(kGrey, static_cast<uint32_t>(GetUID()), 1.0, 96, o, r, len);

  // Selectors of each part (X, Y, Z).
  static constexpr int kSelectors[kParts][3] = {
      {0, 0, 0},  {1, 0, 0},  {0, 1, 0},  {0, 0, 1},   {0, 0, 0},   {0, 0, 0},  {0, 0, 0},
      {1, 0, 0},  {0, 1, 0},  {0, 0, 1},  {1, 1, 0},   {1, 0, 1},   {0, 1, 1},  {1, 1, 1},
      {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}, {-1, -1, 0}, {-1, 0, -1}, {0, -1, -1}};
  for (int i = 1; i < kParts; ++i) {
    if (!(mode_ & (1u << i))) continue;
    const SurfaceColors colors = HandlePartColors(kPartColors[i], (active_ >> i) & 1);
    const uint32_t id = static_cast<uint32_t>(part_ids_[i]);
    const int* sel = kSelectors[i];
    if (i <= 3) {
      DrawHandleRing(MakeHandleFrame(sel[0], sel[1], sel[2], len, 0, a[0], a[1], a[2], o), 0.1, 12,
                     colors, id, r);
    } else if (i <= 6) {
      // The end of the axis nearer to the viewer.
      const int axis_index = 6 - i;  // 4: Z, 5: Y, 6: X
      int s[3] = {0, 0, 0};
      s[axis_index] = a[axis_index].z < 0 ? 1 : -1;
      DrawSphere(colors, id, 0.11, 1,
                 MakeHandleFrame(s[0], s[1], s[2], len, 1, a[0], a[1], a[2], o), r);
    } else if (i <= 13) {
      DrawBox(colors, id, {-0.05, -0.05, -0.1}, {0.1, 0.1, 0.2},
              MakeHandleFrame(sel[0], sel[1], sel[2], len, 0.75, a[0], a[1], a[2], o), r);
    } else {
      DrawCone(colors, id, 0.25, 1.0, 8, 0,
               MakeHandleFrame(sel[0], sel[1], sel[2], 0.3 * len, -5, a[0], a[1], a[2], o), r);
    }
  }
  r.ScaleFocal(1.0 / 256.0);
}
