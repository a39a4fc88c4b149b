// The cylinder, the sphere and the torus: user objects that a stored scene brings back,
// drawn with the shared surface colours, facing test and edge-slot table, and stored as
// one class-data chunk (kind 2; a longer chunk loads, a shorter one throws Error 4):
//   cylinder: colour, orientation, segment count, radius       (size 4)
//   sphere:   colour, subdivision level, radius                (size 3)
//   torus:    colour, major count, minor count, tube radius    (size 4)
// Stored values out of range are clamped on reading and again when drawing: cylinder
// segments to 64 (0 draws nothing), sphere levels to 0 .. 6, torus counts to their low 16
// bits and then to kMaxTorusSegments.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "scene/objects/draw_rules.h"
#include "scene/objects/nhs_object.h"
#include "scene/objects/primitives.h"

inline constexpr int32_t kMaxSphereLevel = 6;  // 40962 vertices: the 16-bit numbers hold them
inline constexpr uint32_t kMaxTorusSegments = 256;

// A cylinder of radius r and one object unit along the third axis of `orientation`
// (3 .. 5 draw like 0 .. 2), n segments. Caps show by their facing; every shown edge once.
void DrawCylinder(const SurfaceColors& colors, uint32_t pick_id, double r, uint32_t n,
                  uint32_t orientation, const Matrix3x4& model, NHSElementRender& renderer);

// A sphere of radius R: the icosahedron subdivided `level` times (clamped to 0 .. 6), every
// vertex at distance R from the origin. Front faces one-sided; the outline draws each edge
// of a front face once. Its mesh is built in the renderer's scratch arrays.
void DrawSphere(const SurfaceColors& colors, uint32_t pick_id, double radius, int32_t level,
                const Matrix3x4& model, NHSElementRender& renderer);

// The sphere's mesh in object coordinates: `vertices` receives the vertices, `indices` the
// triangles (three 16-bit vertex numbers each, outward winding) followed by the midpoint
// table's room. Returns the counts: 12 / 20 at level 0, and at each further level 3/2 of
// the faces more vertices and four times the faces.
struct SphereMesh {
  int vertices;
  int faces;
};
SphereMesh BuildSphereMesh(double radius, int32_t level, std::vector<vm::Vector3>& vertices,
                           std::vector<uint16_t>& indices);

// A ring of radius 1 around object Z with a tube of radius `tube`, major × minor quads
// (counts above kMaxTorusSegments draw that many; 0 draws nothing). Front quads one-sided;
// every shown edge once. Holds one ring of points in the renderer's vertex scratch.
void DrawTorus(NHSElementRender& renderer, const Matrix3x4& model, const SurfaceColors& colors,
               uint32_t pick_id, double tube, uint32_t major, uint32_t minor);

// count points on a circle of `radius` from (radius, 0), each the previous one turned by
// -2 pi / count.
void MakeCirclePoints(double radius, uint32_t count, vm::Vector2* out);

class NHSObject_Cylinder : public NHSObject, public NHSOrientation {
 public:
  NHSObject_Cylinder() : NHSObject(NHS_TYPE_CYLINDER) {}
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;
  void Serialize(Serializer::Writer& writer) const override;
  void Deserialize(Serializer::Reader& reader) override;

  double GetRadius() const { return radius_; }
  uint32_t GetSegments() const { return segments_; }

 private:
  float radius_ = 0.5f;
  uint32_t segments_ = 8;
};

class NHSObject_Sphere : public NHSObject {
 public:
  NHSObject_Sphere() : NHSObject(NHS_TYPE_SPHERE) {}
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;
  void Serialize(Serializer::Writer& writer) const override;
  void Deserialize(Serializer::Reader& reader) override;

  double GetRadius() const { return radius_; }
  int32_t GetLevel() const { return level_; }

 private:
  float radius_ = 1.0f;
  int32_t level_ = 0;
};

class NHSObject_Torus : public NHSObject {
 public:
  NHSObject_Torus() : NHSObject(NHS_TYPE_TORUS) {}
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;
  void Serialize(Serializer::Writer& writer) const override;
  void Deserialize(Serializer::Reader& reader) override;

  double GetTubeRadius() const { return tube_; }
  uint32_t GetMajor() const { return major_; }
  uint32_t GetMinor() const { return minor_; }

 private:
  float tube_ = 0.25f;
  uint16_t major_ = 12;
  uint16_t minor_ = 6;
};
