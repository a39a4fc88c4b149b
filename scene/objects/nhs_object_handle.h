// NHSObject_Handle: the transform gizmo that the scene root keeps on the selected object
// (with that object's global transform): its three axes, rotation rings, scale boxes and
// translation arrows, each grabbable part with an id of its own.
//
// Parts (bit i of the mode draws part i): 1..3 rotation rings about X, Y, Z; 4..6 spheres
// at the viewer's end of the Z, Y, X axes; 7..9 scale boxes on X, Y, Z; 10..12 boxes on the
// X-Y, Z-X, Y-Z diagonals; 13 the uniform scale box; 14..16 translation arrow heads on X,
// Y, Z; 17..19 arrow heads on the diagonals. Part 0 is never drawn.
//
// The gizmo draws with a 256 times longer focal length and its x and y translation divided
// by 256: it projects almost in parallel, keeps `size` pixels of axis at any distance, and
// its depth values are 256 times those of the scene at the same distance, so it is drawn
// in front of everything while near clipping still sees the real depth.
//
// Every part id resolves to the gizmo itself in the registry (type code 4). Never stored.
// Interface thread for SetModes and PickPart; Draw only reads it (and changes and restores
// the renderer's focal length).
#pragma once

#include <cstdint>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "scene/objects/draw_rules.h"
#include "scene/objects/nhs_object.h"

class NHSObject_Handle : public NHSObject {
 public:
  static constexpr int kParts = 20;
  static constexpr uint32_t kRotate = 0x0E;        // parts 1 .. 3
  static constexpr uint32_t kScale = 0x2380;       // parts 7, 8, 9 and 13
  static constexpr uint32_t kTranslate = 0x1C000;  // parts 14 .. 16

  // Size 100 pixels, every mode on (0x1E38E), nothing active; registers the part ids.
  NHSObject_Handle();
  ~NHSObject_Handle() override;

  // Nothing unless the mode is not 0, the gizmo hangs below a scene root, and the root's
  // selected node exists and is not hidden.
  void Draw(NHSElementRender& renderer, const Matrix3x4& model) const override;

  // Stores and returns the mode of the chosen operations.
  uint32_t SetModes(bool rotate, bool scale, bool translate);
  // The part whose id this is (its bit becomes the active mask), or 0 with an empty mask.
  int PickPart(int32_t id);

  uint32_t GetMode() const { return mode_; }
  uint32_t GetActiveMask() const { return active_; }
  int32_t GetPartId(int part) const { return part_ids_[part]; }
  double GetSize() const { return size_; }

 private:
  float size_ = 100.0f;
  uint32_t mode_ = kRotate | kScale | kTranslate;
  uint32_t active_ = 0;
  int32_t part_ids_[kParts];
};

// A part's drawing frame: the selected axes a0, a1, a2 (unit, view space) scaled by s and
// negated where a selector is negative; its third column is the part's direction D, its
// first two span the cross-section (exchanged when an odd number of selectors is negative,
// so the frame stays right-handed; not for the three-axis diagonal), its origin O + k D.
Matrix3x4 MakeHandleFrame(int sx, int sy, int sz, double s, double k, const vm::Vector3& a0,
                          const vm::Vector3& a1, const vm::Vector3& a2, const vm::Vector3& origin);

// A flat ribbon of `width` along the frame's third axis on the unit circle of its first two,
// in four pointed quarter arcs of `segments` quads each; front faces only. An outline of 0
// outlines in the fill colour.
void DrawHandleRing(const Matrix3x4& frame, double width, int segments, SurfaceColors colors,
                    uint32_t pick_id, NHSElementRender& renderer);

// A circle of `radius` around `centre` parallel to the screen, n lines.
void DrawHandleCircle(uint32_t color, uint32_t pick_id, double width, int n,
                      const vm::Vector3& centre, NHSElementRender& renderer, double radius);
