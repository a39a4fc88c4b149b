// The rectangle, the box and the cone: user objects made from selected 3D points or read
// from a project, with the box and cone drawing routines that the gizmo and the axes cross
// share.
//
// Each object draws under the model matrix (object to view coordinates) with the colours
// of GetSurfaceColors and its own id as pick id, and stores one class-data chunk (kind 2):
//   rectangle: colour, orientation, s0, t0, s1, t1          (size 6)
//   box:       colour, minimum x, y, z, maximum x, y, z     (size 7)
//   cone:      colour, orientation, segment count, radius, height (size 5)
// Floats are stored as their IEEE bits, one per word. A longer chunk loads (the extra
// words are skipped); a shorter one throws Serializer::Error 4, another kind Error 3.
// Drawing allocates nothing: rings, corners and edge flags are fixed local arrays.
#pragma once

#include <cstdint>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "scene/objects/draw_rules.h"
#include "scene/objects/nhs_object.h"

// An oriented object's axes: with k = orientation mod 3 its first axis is object axis k,
// its second k + 1 and its third (normal or height) k + 2, modulo 3. Values 3 .. 5 are the
// same axes with the object turned over; each class says what that changes.
class NHSOrientation {
 public:
  explicit NHSOrientation(uint32_t orientation = 0) : orientation_(orientation % 6) {}
  uint32_t GetOrientation() const { return orientation_; }
  void SetOrientation(uint32_t orientation) { orientation_ = orientation % 6; }

 protected:
  uint32_t orientation_;
};

// The most segments a cone or cylinder ring has; a stored count above it is clamped.
inline constexpr uint32_t kMaxRingSegments = 64;

// Column i of the model matrix (the view image of object axis i) and its translation.
vm::Vector3 MatrixColumn(const Matrix3x4& model, int i);

// A box from `minimum` spanning `size` along the object axes: front faces as one-sided
// polygons with their outward normals, and the outline of the front faces, each edge once.
void DrawBox(const SurfaceColors& colors, uint32_t pick_id, const vm::Vector3& minimum,
             const vm::Vector3& size, const Matrix3x4& model, NHSElementRender& renderer);

// A cone with its apex at the object origin and its base of radius r at distance h along
// the third axis of `orientation` (against it for 3 .. 5), n segments (0 draws nothing,
// more than 64 draw 64). The base shows when its outward normal faces the viewer; side
// edges shared by two drawn sides are drawn once, base edges by the base when it shows.
void DrawCone(const SurfaceColors& colors, uint32_t pick_id, double r, double h, uint32_t n,
              uint32_t orientation, const Matrix3x4& model, NHSElementRender& renderer);

class NHSObject_Rect : public NHSObject, public NHSOrientation {
 public:
  NHSObject_Rect() : NHSObject(NHS_TYPE_RECT) {}
  // Both sides are drawn: the front in the fill colour, the back in the grey blend of the
  // colour (in the fill when selected); none edge-on. Selected: outlined. The front is the
  // side facing +Z, +X, -Y for orientations 0, 1, 2 (s0 < s1, t0 < t1) and the other side
  // for 3, 4, 5. With k = 2, s runs along X and t along Z.
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;
  void Serialize(Serializer::Writer& writer) const override;
  void Deserialize(Serializer::Reader& reader) override;

  void SetCorners(double s0, double t0, double s1, double t1);
  double s0() const { return s0_; }
  double t0() const { return t0_; }
  double s1() const { return s1_; }
  double t1() const { return t1_; }

 private:
  float s0_ = -1, t0_ = -1, s1_ = 1, t1_ = 1;
};

class NHSObject_Cuboid : public NHSObject {
 public:
  NHSObject_Cuboid() : NHSObject(NHS_TYPE_CUBOID) {}
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;
  void Serialize(Serializer::Writer& writer) const override;
  void Deserialize(Serializer::Reader& reader) override;

  void SetCorners(const vm::Vector3& minimum, const vm::Vector3& maximum) {
    min_ = minimum;
    max_ = maximum;
  }
  const vm::Vector3& GetMin() const { return min_; }
  const vm::Vector3& GetMax() const { return max_; }

 private:
  vm::Vector3 min_{0, 0, 0};
  vm::Vector3 max_{1, 1, 1};
};

class NHSObject_Cone : public NHSObject, public NHSOrientation {
 public:
  NHSObject_Cone() : NHSObject(NHS_TYPE_CONE) {}
  // The user command's cone: orientation 5, radius 1.5, height 5, 20 segments.
  NHSObject_Cone(uint32_t orientation, double radius, double height, uint32_t segments);
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;
  void Serialize(Serializer::Writer& writer) const override;
  // A stored segment count above 64 (a negative one included) loads as 64.
  void Deserialize(Serializer::Reader& reader) override;

  double GetRadius() const { return radius_; }
  double GetHeight() const { return height_; }
  uint32_t GetSegments() const { return segments_; }

 private:
  float radius_ = 0.5f;
  float height_ = 1.0f;
  uint32_t segments_ = 8;
};
