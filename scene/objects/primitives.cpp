#include "scene/objects/primitives.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/numeric/point_transform.h"
#include "scene/objects/serializer.h"
#include "scene/render/element_render.h"

using vm::Vector3;

namespace {

constexpr uint16_t kRectSize = 6;
constexpr uint16_t kCuboidSize = 7;
constexpr uint16_t kConeSize = 5;

}  // namespace

Vector3 MatrixColumn(const Matrix3x4& model, int i) {
  return {model.m[i], model.m[4 + i], model.m[8 + i]};
}

// ---- box

void DrawBox(const SurfaceColors& colors, uint32_t pick_id, const Vector3& minimum,
             const Vector3& size, const Matrix3x4& model, NHSElementRender& renderer) {
  static constexpr int kFaces[6][4] = {{0, 2, 3, 1}, {0, 1, 5, 4}, {0, 4, 6, 2},
                                       {7, 5, 1, 3}, {7, 3, 2, 6}, {7, 6, 4, 5}};
  Vector3 origin;
  TransformPoint(origin, model, minimum);
  const Vector3 ex = MatrixColumn(model, 0) * size.x;
  const Vector3 ey = MatrixColumn(model, 1) * size.y;
  const Vector3 ez = MatrixColumn(model, 2) * size.z;
  Vector3 corner[8];
  for (int j = 0; j < 8; ++j) {
    corner[j] = origin;
    if (j & 1) corner[j] += ex;
    if (j & 2) corner[j] += ey;
    if (j & 4) corner[j] += ez;
  }
  // drawn[a][b]: the edge a-b was drawn by a face that ran it as b -> a.
  bool drawn[8][8] = {};
  for (const auto& face : kFaces) {
    const Vector3 p[4] = {corner[face[0]], corner[face[1]], corner[face[2]], corner[face[3]]};
    const Vector3 n = FaceNormal(p[0], p[1], p[2]);
    if (!(FacingValue(p[0], n) < 0)) continue;
    if (colors.fill != 0)
      renderer.DrawPolygon(p, 4, colors.fill, pick_id, true, &n, nullptr, nullptr);
    if (colors.outline == 0) continue;
    for (int e = 0; e < 4; ++e) {
      const int a = face[e], b = face[(e + 1) % 4];
      if (drawn[a][b]) continue;
      renderer.DrawLine(corner[a], corner[b], 1.0, colors.outline, pick_id);
      drawn[b][a] = true;
    }
  }
}

// ---- cone

void DrawCone(const SurfaceColors& colors, uint32_t pick_id, double r, double h, uint32_t n,
              uint32_t orientation, const Matrix3x4& model, NHSElementRender& renderer) {
  n = std::min(n, kMaxRingSegments);
  if (n == 0) return;
  const uint32_t k = orientation % 3;
  const Vector3 e1 = MatrixColumn(model, static_cast<int>(k));
  Vector3 e2 = MatrixColumn(model, static_cast<int>((k + 1) % 3));
  Vector3 e3 = MatrixColumn(model, static_cast<int>((k + 2) % 3));
  if (orientation >= 3) {
    e2 = -e2;
    e3 = -e3;
  }
  const Vector3 apex = MatrixColumn(model, 3);
  const Vector3 centre = apex + e3 * h;

  Vector3 ring[kMaxRingSegments + 1];
  const double alpha = 2.0 * std::numbers::pi / n;
  const double c = std::cos(alpha), s = std::sin(alpha);
  double x = r, y = 0.0;
  for (uint32_t i = 0; i < n; ++i) {
    ring[i] = centre + e1 * x + e2 * y;
    const double xn = x * c - y * s;
    y = x * s + y * c;
    x = xn;
  }
  ring[n] = ring[0];

  const Vector3 base_normal = e1.Cross(e2);
  const bool base_shown = centre.Dot(base_normal) < 0;
  if (base_shown) {
    if (colors.fill != 0) {
      renderer.DrawPolygon(ring, static_cast<int>(n), colors.fill, pick_id, true, &base_normal,
                           nullptr, nullptr);
    }
    if (colors.outline != 0) {
      for (uint32_t i = 0; i < n; ++i) {
        renderer.DrawLine(ring[i], ring[i + 1], 1.0, colors.outline, pick_id);
      }
    }
  }
  bool previous_drawn = false;
  for (uint32_t i = 0; i < n; ++i) {
    const Vector3 tri[3] = {apex, ring[i + 1], ring[i]};
    const Vector3 normal = FaceNormal(tri[0], tri[1], tri[2]);
    const bool front = FacingValue(tri[0], normal) < 0;
    if (front && colors.fill != 0) {
      renderer.DrawPolygon(tri, 3, colors.fill, pick_id, true, &normal, nullptr, nullptr);
    }
    const bool outlined = front && colors.outline != 0;
    if (outlined) {
      renderer.DrawLine(apex, ring[i + 1], 1.0, colors.outline, pick_id);
      if (i == 0 || !previous_drawn) renderer.DrawLine(apex, ring[i], 1.0, colors.outline, pick_id);
      if (!base_shown) renderer.DrawLine(ring[i + 1], ring[i], 1.0, colors.outline, pick_id);
    }
    previous_drawn = outlined;
  }
}

// ---- rectangle

void NHSObject_Rect::SetCorners(double s0, double t0, double s1, double t1) {
  s0_ = static_cast<float>(s0);
  t0_ = static_cast<float>(t0);
  s1_ = static_cast<float>(s1);
  t1_ = static_cast<float>(t1);
}

void NHSObject_Rect::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  const SurfaceColors colors = GetSurfaceColors(*this);
  const uint32_t back = IsSelected(*this) ? colors.fill : GreyBlend(GetColor());
  const double s[4] = {s0_, s1_, s1_, s0_};
  const double t[4] = {t0_, t0_, t1_, t1_};
  const uint32_t k = orientation_ % 3;
  Vector3 p[4];
  for (int i = 0; i < 4; ++i) {
    Vector3 q;
    if (k == 0) q = {s[i], t[i], 0};
    if (k == 1) q = {0, s[i], t[i]};
    if (k == 2) q = {s[i], 0, t[i]};
    TransformPoint(p[i], model, q);
  }
  const Vector3 n = FaceNormal(p[0], p[1], p[2]);
  double facing = FacingValue(p[0], n);
  if (orientation_ >= 3) facing = -facing;
  const uint32_t id = PickId(*this);
  const uint32_t color = facing < 0 ? colors.fill : (facing > 0 ? back : 0);
  if (color != 0) renderer.DrawPolygon(p, 4, color, id, false, &n, nullptr, nullptr);
  if (colors.outline != 0) {
    for (int i = 0; i < 4; ++i) renderer.DrawLine(p[i], p[(i + 1) % 4], 1.0, colors.outline, id);
  }
}

void NHSObject_Rect::Serialize(Serializer::Writer& writer) const {
  writer.PutHeader(Serializer::CHUNK_CLASS_DATA, kRectSize);
  writer.PutWord(GetColor());
  writer.PutWord(orientation_);
  writer.PutFloat(s0_);
  writer.PutFloat(t0_);
  writer.PutFloat(s1_);
  writer.PutFloat(t1_);
}

void NHSObject_Rect::Deserialize(Serializer::Reader& reader) {
  const uint16_t size = reader.ReadChunk(Serializer::CHUNK_CLASS_DATA, kRectSize);
  SetColor(reader.ReadWord());
  SetOrientation(reader.ReadWord());
  const double s0 = reader.ReadFloat(), t0 = reader.ReadFloat();
  const double s1 = reader.ReadFloat(), t1 = reader.ReadFloat();
  SetCorners(s0, t0, s1, t1);
  reader.SkipRest(size, kRectSize);
}

// ---- box

void NHSObject_Cuboid::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  DrawBox(GetSurfaceColors(*this), PickId(*this), min_, max_ - min_, model, renderer);
}

void NHSObject_Cuboid::Serialize(Serializer::Writer& writer) const {
  writer.PutHeader(Serializer::CHUNK_CLASS_DATA, kCuboidSize);
  writer.PutWord(GetColor());
  writer.PutVector3(min_);
  writer.PutVector3(max_);
}

void NHSObject_Cuboid::Deserialize(Serializer::Reader& reader) {
  const uint16_t size = reader.ReadChunk(Serializer::CHUNK_CLASS_DATA, kCuboidSize);
  SetColor(reader.ReadWord());
  min_ = reader.ReadVector3();
  max_ = reader.ReadVector3();
  reader.SkipRest(size, kCuboidSize);
}

// ---- cone

NHSObject_Cone::NHSObject_Cone(uint32_t orientation, double radius, double height,
                               uint32_t segments)
    : NHSObject(NHS_TYPE_CONE),
      NHSOrientation(orientation),
      radius_(static_cast<float>(radius)),
      height_(static_cast<float>(height)),
      segments_(std::min(segments, kMaxRingSegments)) {}

void NHSObject_Cone::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  DrawCone(GetSurfaceColors(*this), PickId(*this), radius_, height_, segments_, orientation_, model,
           renderer);
}

void NHSObject_Cone::Serialize(Serializer::Writer& writer) const {
  writer.PutHeader(Serializer::CHUNK_CLASS_DATA, kConeSize);
  writer.PutWord(GetColor());
  writer.PutWord(orientation_);
  writer.PutWord(segments_);
  writer.PutFloat(radius_);
  writer.PutFloat(height_);
}

void NHSObject_Cone::Deserialize(Serializer::Reader& reader) {
  const uint16_t size = reader.ReadChunk(Serializer::CHUNK_CLASS_DATA, kConeSize);
  SetColor(reader.ReadWord());
  SetOrientation(reader.ReadWord());
  segments_ = std::min(reader.ReadWord(), kMaxRingSegments);
  radius_ = static_cast<float>(reader.ReadFloat());
  height_ = static_cast<float>(reader.ReadFloat());
  reader.SkipRest(size, kConeSize);
}
