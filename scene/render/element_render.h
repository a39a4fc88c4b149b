// NHSElementRender: the primitive renderer every scene object draws itself through.
//
// Objects hand it markers, lines and polygons in view coordinates (the viewer at the
// origin looking along +z, x right, y down), each with a colour 0xAARRGGBB and a pick id
// (the id of the object, 3D point or gizmo part it belongs to; 0 cannot be picked). The
// software renderer turns them into draw items; selection renderers test them against a
// pick position or area, so both run the same drawing code.
//
// The renderer owns scratch arrays for the objects' drawing routines (edge slots, vertices
// and 16-bit indices), kept with their capacity between draws; a renderer is used by one thread at
// a time, so they need no lock.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "scene/render/nhs_texture.h"

class NHSObject;

class NHSElementRender {
 public:
  NHSElementRender() = default;
  virtual ~NHSElementRender();
  NHSElementRender(const NHSElementRender&) = delete;
  NHSElementRender& operator=(const NHSElementRender&) = delete;

  // A marker of half-size `size` pixels around p; shapes 0 square, 1 diamond, 2 octagon,
  // 3 cross.
  virtual void DrawMarker(const vm::Vector3& p, unsigned shape, double size, std::uint32_t color,
                          std::uint32_t pick_id) = 0;
  // A line of `width` pixels from a to b with square ends.
  virtual void DrawLine(const vm::Vector3& a, const vm::Vector3& b, double width,
                        std::uint32_t color, std::uint32_t pick_id) = 0;
  // A planar polygon of n points. A one-sided polygon is drawn only from its front: the
  // side its normal (given, or (P0 − P1) × (P1 − P2)) points away from the viewer. With a
  // texture, uv holds u and v of the first three points (0 .. 1 spans the texture).
  virtual void DrawPolygon(const vm::Vector3* points, int n, std::uint32_t color,
                           std::uint32_t pick_id, bool one_sided, const vm::Vector3* normal,
                           const NHSTexture* texture, const double* uv) = 0;
  // Screen pixels per view unit at view depth z (1 for renderers without a projection).
  virtual double ScaleAtDepth(double z);
  // The scene walk: skips a hidden node with its subtree; otherwise draws the node under
  // parent × its transform and walks its children in list order.
  virtual void RenderSubtree(const Matrix3x4& parent, const NHSObject& node);
  // Multiplies the focal length (the gizmo draws with a far longer one).
  virtual void ScaleFocal(double factor) = 0;

  // Draws the line between entries a and b of Vertices() unless the edge-slot table (see
  // EdgeSlotTable) already holds the edge {a, b}; the caller has reset the table.
  void DrawEdgeOnce(int a, int b, double width, std::uint32_t color, std::uint32_t pick_id);

  std::vector<std::int32_t>& EdgeSlots() { return edge_slots_; }
  std::vector<vm::Vector3>& Vertices() { return vertices_; }
  // 16-bit vertex numbers of generated meshes (the sphere's triangles and midpoint table).
  std::vector<std::uint16_t>& Indices() { return indices_; }

 private:
  std::vector<std::int32_t> edge_slots_;
  std::vector<vm::Vector3> vertices_;
  std::vector<std::uint16_t> indices_;
};
