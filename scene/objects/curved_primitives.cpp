#include "scene/objects/curved_primitives.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/numeric/point_transform.h"
#include "scene/objects/serializer.h"
#include "scene/objects/subdivision.h"
#include "scene/render/element_render.h"

using vm::Vector2;
using vm::Vector3;

namespace {

constexpr uint16_t kCylinderSize = 4;
constexpr uint16_t kSphereSize = 3;
constexpr uint16_t kTorusSize = 4;

// (x, y) turned by -alpha, given cos and sin of alpha.
void TurnBack(double& x, double& y, double c, double s) {
  const double xn = x * c + y * s;
  y = y * c - x * s;
  x = xn;
}

constexpr double kPhi = 1.618033988749895;
constexpr double kIcosahedron[12][3] = {
    {-1, 0, kPhi}, {-kPhi, 1, 0}, {-1, 0, -kPhi}, {1, 0, -kPhi},  {kPhi, -1, 0},  {1, 0, kPhi},
    {0, kPhi, 1},  {0, kPhi, -1}, {kPhi, 1, 0},   {-kPhi, -1, 0}, {0, -kPhi, -1}, {0, -kPhi, 1}};
constexpr uint16_t kIcosahedronFaces[20][3] = {
    {0, 6, 1},  {1, 6, 7},   {1, 7, 2},  {2, 7, 3},  {7, 8, 3},  {3, 8, 4},  {4, 8, 5},
    {5, 8, 6},  {5, 6, 0},   {6, 8, 7},  {0, 1, 9},  {1, 2, 9},  {2, 10, 9}, {2, 3, 10},
    {3, 4, 10}, {4, 11, 10}, {4, 5, 11}, {0, 11, 5}, {0, 9, 11}, {9, 10, 11}};

void ScaleToLength(Vector3* v, int n, double radius) {
  for (int i = 0; i < n; ++i) {
    const double length = v[i].Length();
    if (length > 0) v[i] *= radius / length;
  }
}

}  // namespace

// ---- cylinder

void DrawCylinder(const SurfaceColors& colors, uint32_t pick_id, double r, uint32_t n,
                  uint32_t orientation, const Matrix3x4& model, NHSElementRender& renderer) {
  n = std::min(n, kMaxRingSegments);
  if (n == 0) return;
  const uint32_t k = orientation % 3;
  const Vector3 e1 = MatrixColumn(model, static_cast<int>(k));
  const Vector3 e2 = MatrixColumn(model, static_cast<int>((k + 1) % 3));
  const Vector3 e3 = MatrixColumn(model, static_cast<int>((k + 2) % 3));
  const Vector3 t = MatrixColumn(model, 3);

  Vector3 bottom[kMaxRingSegments + 1];
  Vector3 top[kMaxRingSegments + 1];
  const double alpha = 2.0 * std::numbers::pi / n;
  const double c = std::cos(alpha), s = std::sin(alpha);
  double x = r, y = 0.0;
  for (uint32_t i = 0; i < n; ++i) {
    bottom[i] = t + e1 * x + e2 * y;
    TurnBack(x, y, c, s);
  }
  bottom[n] = bottom[0];
  for (uint32_t j = 0; j <= n; ++j) top[j] = bottom[(n - j) % n] + e3;

  const Vector3 normal = e2.Cross(e1);
  const Vector3 top_normal = -normal;
  const bool bottom_shown = t.Dot(normal) < 0;
  const bool top_shown = (t + e3).Dot(normal) > 0;
  const int count = static_cast<int>(n);
  if (colors.fill != 0) {
    if (bottom_shown) {
      renderer.DrawPolygon(bottom, count, colors.fill, pick_id, true, &normal, nullptr, nullptr);
    }
    if (top_shown) {
      renderer.DrawPolygon(top, count, colors.fill, pick_id, true, &top_normal, nullptr, nullptr);
    }
  }
  const uint32_t o = colors.outline;
  if (o != 0) {
    for (uint32_t i = 0; i < n; ++i) {
      if (bottom_shown) renderer.DrawLine(bottom[i], bottom[i + 1], 1.0, o, pick_id);
      if (top_shown) renderer.DrawLine(top[i], top[i + 1], 1.0, o, pick_id);
    }
  }
  bool previous_drawn = false, first_drawn = false;
  for (uint32_t i = 0; i < n; ++i) {
    const Vector3 quad[4] = {bottom[i + 1], bottom[i], bottom[i] + e3, bottom[i + 1] + e3};
    const Vector3 qn = FaceNormal(quad[0], quad[1], quad[2]);
    const bool front = FacingValue(quad[0], qn) < 0;
    if (front && colors.fill != 0) {
      renderer.DrawPolygon(quad, 4, colors.fill, pick_id, true, &qn, nullptr, nullptr);
    }
    const bool outlined = front && o != 0;
    if (outlined) {
      // The last side's leading edge is the first side's trailing one.
      if (!(i + 1 == n && first_drawn)) renderer.DrawLine(quad[0], quad[3], 1.0, o, pick_id);
      if (i == 0 || !previous_drawn) renderer.DrawLine(quad[1], quad[2], 1.0, o, pick_id);
      if (!bottom_shown) renderer.DrawLine(quad[0], quad[1], 1.0, o, pick_id);
      if (!top_shown) renderer.DrawLine(quad[2], quad[3], 1.0, o, pick_id);
    }
    previous_drawn = outlined;
    if (i == 0) first_drawn = outlined;
  }
}

// ---- sphere

SphereMesh BuildSphereMesh(double radius, int32_t level, std::vector<Vector3>& vertices,
                           std::vector<uint16_t>& indices) {
  level = std::clamp(level, 0, kMaxSphereLevel);
  const size_t faces = size_t{20} << (2 * level);
  const size_t last_vertices = level == 0 ? 12 : (size_t{10} << (2 * (level - 1))) + 2;
  vertices.resize((size_t{10} << (2 * level)) + 2);
  indices.resize(3 * faces + kMidpointEntries * last_vertices);
  uint16_t* triangles = indices.data();
  uint16_t* table = triangles + 3 * faces;

  for (int i = 0; i < 12; ++i) {
    vertices[i] = {kIcosahedron[i][0], kIcosahedron[i][1], kIcosahedron[i][2]};
  }
  std::copy(&kIcosahedronFaces[0][0], &kIcosahedronFaces[0][0] + 60, triangles);
  SphereMesh mesh{12, 20};
  for (int l = 0; l < level; ++l) {
    ScaleToLength(vertices.data(), mesh.vertices, radius);
    mesh.vertices =
        SubdivideTriangles(triangles, mesh.faces, vertices.data(), mesh.vertices, table);
    mesh.faces *= 4;
  }
  ScaleToLength(vertices.data(), mesh.vertices, radius);
  return mesh;
}

void DrawSphere(const SurfaceColors& colors, uint32_t pick_id, double radius, int32_t level,
                const Matrix3x4& model, NHSElementRender& renderer) {
  std::vector<Vector3>& vertices = renderer.Vertices();
  const SphereMesh mesh = BuildSphereMesh(radius, level, vertices, renderer.Indices());
  const uint16_t* triangles = renderer.Indices().data();
  const int n_vertices = mesh.vertices, n_faces = mesh.faces;
  for (int i = 0; i < n_vertices; ++i) TransformPoint(vertices[i], model, vertices[i]);

  if (colors.outline != 0) EdgeSlotTable(renderer.EdgeSlots()).Reset(n_vertices);
  for (int f = 0; f < n_faces; ++f) {
    const uint16_t* t = triangles + 3 * f;
    const Vector3 p[3] = {vertices[t[0]], vertices[t[1]], vertices[t[2]]};
    const Vector3 n = FaceNormal(p[0], p[1], p[2]);
    if (!(FacingValue(p[0], n) < 0)) continue;
    if (colors.fill != 0)
      renderer.DrawPolygon(p, 3, colors.fill, pick_id, true, &n, nullptr, nullptr);
    if (colors.outline != 0) {
      for (int e = 0; e < 3; ++e) {
        renderer.DrawEdgeOnce(t[e], t[(e + 1) % 3], 1.0, colors.outline, pick_id);
      }
    }
  }
}

// ---- torus

void MakeCirclePoints(double radius, uint32_t count, Vector2* out) {
  if (count == 0) return;
  const double alpha = 2.0 * std::numbers::pi / count;
  const double c = std::cos(alpha), s = std::sin(alpha);
  double x = radius, y = 0.0;
  for (uint32_t j = 0; j < count; ++j) {
    out[j] = {x, y};
    TurnBack(x, y, c, s);
  }
}

void DrawTorus(NHSElementRender& renderer, const Matrix3x4& model, const SurfaceColors& colors,
               uint32_t pick_id, double tube, uint32_t major, uint32_t minor) {
  major = std::min(major, kMaxTorusSegments);
  minor = std::min(minor, kMaxTorusSegments);
  if (major == 0 || minor == 0) return;
  const uint32_t e_count = minor;
  Vector2 circle[kMaxTorusSegments + 1];
  MakeCirclePoints(tube, e_count, circle);
  circle[e_count] = circle[0];

  // Two rings of points (previous, current) in the renderer's scratch.
  std::vector<Vector3>& scratch = renderer.Vertices();
  scratch.resize(2 * (e_count + 1));
  Vector3* prev = scratch.data();
  Vector3* cur = prev + e_count + 1;
  // drawn_prev[j]: quad (i - 1, j) was outlined; drawn_first[j]: quad (1, j) was, whose
  // edges the last ring meets again.
  bool drawn_prev[kMaxTorusSegments + 1] = {};
  bool drawn_cur[kMaxTorusSegments + 1] = {};
  bool drawn_first[kMaxTorusSegments + 1] = {};

  const double beta = 2.0 * std::numbers::pi / major;
  const double c = std::cos(beta), s = std::sin(beta);
  double wx = 1.0, wy = 0.0;
  const uint32_t o = colors.outline;
  for (uint32_t i = 0; i <= major; ++i) {
    // The last ring repeats the first exactly, without the rotations' rounding.
    if (i == major) wx = 1.0, wy = 0.0;
    for (uint32_t j = 0; j <= e_count; ++j) {
      const double rho = 1.0 + circle[j].x;
      TransformPoint(cur[j], model, Vector3{rho * wx, rho * wy, circle[j].y});
    }
    TurnBack(wx, wy, c, s);
    if (i >= 1) {
      for (uint32_t j = 1; j <= e_count; ++j) {
        const Vector3 quad[4] = {cur[j], prev[j], prev[j - 1], cur[j - 1]};
        const Vector3 n = FaceNormal(quad[0], quad[1], quad[2]);
        const bool front = FacingValue(quad[0], n) < 0;
        if (front && colors.fill != 0) {
          renderer.DrawPolygon(quad, 4, colors.fill, pick_id, true, &n, nullptr, nullptr);
        }
        const bool outlined = front && o != 0;
        drawn_cur[j] = outlined;
        if (!outlined) continue;
        // Edges met again where the tube and the ring close are left to their first quad.
        if (!(i == major && drawn_first[j])) renderer.DrawLine(cur[j], cur[j - 1], 1.0, o, pick_id);
        if (!(j == e_count && drawn_cur[1])) renderer.DrawLine(cur[j], prev[j], 1.0, o, pick_id);
        if (j == 1 || !drawn_cur[j - 1])
          renderer.DrawLine(prev[j - 1], cur[j - 1], 1.0, o, pick_id);
        if (i == 1 || !drawn_prev[j]) renderer.DrawLine(prev[j], prev[j - 1], 1.0, o, pick_id);
      }
      std::copy(drawn_cur, drawn_cur + e_count + 1, drawn_prev);
      if (i == 1) std::copy(drawn_cur, drawn_cur + e_count + 1, drawn_first);
    }
    std::swap(prev, cur);
  }
}

// ---- objects

void NHSObject_Cylinder::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  DrawCylinder(GetSurfaceColors(*this), PickId(*this), radius_, segments_, orientation_, model,
               renderer);
}

void NHSObject_Cylinder::Serialize(Serializer::Writer& writer) const {
  writer.PutHeader(Serializer::CHUNK_CLASS_DATA, kCylinderSize);
  writer.PutWord(GetColor());
  writer.PutWord(orientation_);
  writer.PutWord(segments_);
  writer.PutFloat(radius_);
}

void NHSObject_Cylinder::Deserialize(Serializer::Reader& reader) {
  const uint16_t size = reader.ReadChunk(Serializer::CHUNK_CLASS_DATA, kCylinderSize);
  SetColor(reader.ReadWord());
  SetOrientation(reader.ReadWord());
  segments_ = std::min(reader.ReadWord(), kMaxRingSegments);
  radius_ = static_cast<float>(reader.ReadFloat());
  reader.SkipRest(size, kCylinderSize);
}

void NHSObject_Sphere::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  DrawSphere(GetSurfaceColors(*this), PickId(*this), radius_, level_, model, renderer);
}

void NHSObject_Sphere::Serialize(Serializer::Writer& writer) const {
  writer.PutHeader(Serializer::CHUNK_CLASS_DATA, kSphereSize);
  writer.PutWord(GetColor());
  writer.PutWord(static_cast<uint32_t>(level_));
  writer.PutFloat(radius_);
}

void NHSObject_Sphere::Deserialize(Serializer::Reader& reader) {
  const uint16_t size = reader.ReadChunk(Serializer::CHUNK_CLASS_DATA, kSphereSize);
  SetColor(reader.ReadWord());
  level_ = std::clamp(static_cast<int32_t>(reader.ReadWord()), 0, kMaxSphereLevel);
  radius_ = static_cast<float>(reader.ReadFloat());
  reader.SkipRest(size, kSphereSize);
}

void NHSObject_Torus::Draw(NHSElementRender& renderer, const Matrix3x4& model) const {
  DrawTorus(renderer, model, GetSurfaceColors(*this), PickId(*this), tube_, major_, minor_);
}

void NHSObject_Torus::Serialize(Serializer::Writer& writer) const {
  writer.PutHeader(Serializer::CHUNK_CLASS_DATA, kTorusSize);
  writer.PutWord(GetColor());
  writer.PutWord(major_);
  writer.PutWord(minor_);
  writer.PutFloat(tube_);
}

void NHSObject_Torus::Deserialize(Serializer::Reader& reader) {
  const uint16_t size = reader.ReadChunk(Serializer::CHUNK_CLASS_DATA, kTorusSize);
  SetColor(reader.ReadWord());
  major_ = static_cast<uint16_t>(std::min<uint32_t>(reader.ReadWord() & 0xffff, kMaxTorusSegments));
  minor_ = static_cast<uint16_t>(std::min<uint32_t>(reader.ReadWord() & 0xffff, kMaxTorusSegments));
  tube_ = static_cast<float>(reader.ReadFloat());
  reader.SkipRest(size, kTorusSize);
}
