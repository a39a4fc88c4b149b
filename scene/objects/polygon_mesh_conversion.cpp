// The polygon meshes that the exporters write for the rectangle, the box, the cone and the
// triangle mesh. Vertex and face orders are part of the exported files: keep them.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "scene/objects/mesh_objects.h"
#include "scene/objects/primitives.h"

using vm::Vector3;

namespace {

void CopyName(const NHSObject& source, const NHSObject& target) {
  UIDRegistry& registry = UIDRegistry::Instance();
  if (const char* name = registry.GetName(source.GetUID()); name != nullptr) {
    registry.SetName(target.GetUID(), name);
  }
}

// The words of `count` records of `corners` corners each (see NHSObject_PolyMesh::words_).
constexpr size_t RecordWords(size_t count, size_t corners) {
  return count * (2 + 2 * corners);
}

// A point with `a` on object axis i, `b` on axis i + 1 and `c` on axis i + 2, modulo 3.
Vector3 OnAxes(uint32_t i, double a, double b, double c) {
  double v[3];
  v[i % 3] = a;
  v[(i + 1) % 3] = b;
  v[(i + 2) % 3] = c;
  return {v[0], v[1], v[2]};
}

}  // namespace

NHSObject_PolyMesh::NHSObject_PolyMesh(const NHSObject_TriMesh& source)
    : NHSObject(NHS_TYPE_POLY_MESH, source.GetColor()) {
  SetTransform(source.GetTransform());
  CopyName(source, *this);
  vertices_ = source.Vertices();
  uv_ = source.Coordinates();
  texture_ = source.GetTexture();
  const bool textured = !uv_.empty() && texture_;
  words_.reserve(RecordWords(source.Triangles().size(), 3));
  for (const NHSObject_TriMesh::Triangle& t : source.Triangles()) {
    const uint32_t v[3] = {t.a, t.b, t.c};
    const uint32_t tex[3] = {t.ta, t.tb, t.tc};
    AddPolygon(v, 3, false, 0, textured ? tex : nullptr);
  }
}

NHSObject_PolyMesh::NHSObject_PolyMesh(const NHSObject_Rect& source)
    : NHSObject(NHS_TYPE_POLY_MESH, source.GetColor()) {
  SetTransform(source.GetTransform());
  const uint32_t k = source.GetOrientation() % 3;
  const double s0 = source.s0(), t0 = source.t0(), s1 = source.s1(), t1 = source.t1();
  vertices_ = {OnAxes(k, s1, t1, 0), OnAxes(k, s0, t1, 0), OnAxes(k, s1, t0, 0),
               OnAxes(k, s0, t0, 0)};
  static constexpr uint32_t kFront[4] = {0, 1, 3, 2};
  static constexpr uint32_t kBack[4] = {2, 3, 1, 0};
  words_.reserve(RecordWords(1, 4));
  AddPolygon(source.GetOrientation() >= 3 ? kBack : kFront, 4, false, 0, nullptr);
}

NHSObject_PolyMesh::NHSObject_PolyMesh(const NHSObject_Cuboid& source)
    : NHSObject(NHS_TYPE_POLY_MESH, source.GetColor()) {
  SetTransform(source.GetTransform());
  CopyName(source, *this);
  const Vector3& m = source.GetMin();
  const Vector3& M = source.GetMax();
  vertices_.reserve(8);
  for (int j = 0; j < 8; ++j) {
    vertices_.push_back(
        {(j & 1) != 0 ? M.x : m.x, (j & 2) != 0 ? M.y : m.y, (j & 4) != 0 ? M.z : m.z});
  }
  static constexpr uint32_t kFaces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                            {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  words_.reserve(RecordWords(6, 4));
  for (const auto& face : kFaces) AddPolygon(face, 4, true, 0, nullptr);
}

NHSObject_PolyMesh::NHSObject_PolyMesh(const NHSObject_Cone& source)
    : NHSObject(NHS_TYPE_POLY_MESH, source.GetColor()) {
  SetTransform(source.GetTransform());
  CopyName(source, *this);
  const uint32_t o = source.GetOrientation();
  const uint32_t n = std::min<uint32_t>(source.GetSegments(), kMaxCorners);
  const double r = source.GetRadius();
  double h = source.GetHeight();
  double sign = 1.0;
  if (o > 2) {
    h = -h;
    sign = -1.0;
  }
  vertices_.reserve(n + 1);
  vertices_.push_back({0, 0, 0});
  if (n > 0) {
    // The same turn and recurrence as DrawCone, so that the ring matches the drawn one.
    const double alpha = 2.0 * std::numbers::pi / n;
    const double c = std::cos(alpha), s = sign * std::sin(alpha);
    double x = r, y = 0.0;
    for (uint32_t i = 0; i < n; ++i) {
      vertices_.push_back(OnAxes(o, x, y, h));
      const double xn = x * c - y * s;
      y = y * c + x * s;
      x = xn;
    }
  }
  words_.reserve(RecordWords(1, n) + RecordWords(n, 3));
  uint32_t base[kMaxCorners];
  for (uint32_t i = 0; i < n; ++i) base[i] = i + 1;
  AddPolygon(base, static_cast<int>(n), true, 0, nullptr);
  for (uint32_t i = 1; i <= n; ++i) {
    const uint32_t side[3] = {0, i, i == 1 ? n : i - 1};
    AddPolygon(side, 3, true, 0, nullptr);
  }
}
