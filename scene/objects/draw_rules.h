// Drawing rules every scene object shares: the colours of a drawn surface, the grey of
// back faces, the facing test, and the per-vertex edge-slot table that lets a wireframe
// draw each edge once.
//
// Facing: a polygon P0, P1, P2, ... (view coordinates, viewer at the origin) has the normal
// N = (P0 − P1) × (P1 − P2) and faces the viewer when P0 · N < 0, shows its back when
// P0 · N > 0 and is edge-on at 0. Closed shapes draw only the faces that face the viewer.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/numeric/fixed_vector.h"

class NHSObject;

// Fill and outline of a drawn surface, 0xAARRGGBB; 0 means that part is not drawn.
struct SurfaceColors {
  uint32_t fill = 0;
  uint32_t outline = 0;
};

// Not selected: (c, 0). Selected: the outline is c made opaque; the fill is c at alpha
// 0x7f when c is opaque, else each colour channel x becomes 128 + x / 2 (alpha kept).
SurfaceColors GetSurfaceColors(uint32_t color, bool selected);
// The object's colour and selected flag.
SurfaceColors GetSurfaceColors(const NHSObject& object);
bool IsSelected(const NHSObject& object);
// The pick id of what an object draws: its own id.
uint32_t PickId(const NHSObject& object);

// Back faces: each colour channel halfway to 0x60, rounded up; alpha kept.
inline uint32_t GreyBlend(uint32_t color) {
  const uint32_t rgb = ((color | 0x606060) - (((color ^ 0x606060) & 0xfefefe) >> 1)) & 0xffffff;
  return (color & 0xff000000) | rgb;
}

inline vm::Vector3 FaceNormal(const vm::Vector3& p0, const vm::Vector3& p1, const vm::Vector3& p2) {
  return (p0 - p1).Cross(p1 - p2);
}
// Below 0: the face turns its front to the viewer; above 0: its back.
inline double FacingValue(const vm::Vector3& p0, const vm::Vector3& normal) {
  return p0.Dot(normal);
}

// A view of an array of 16 slots per vertex: the slots of vertex a hold, first, the
// higher-numbered vertices already joined to a, and -1 in each free slot. The storage is
// the caller's (the renderer keeps one between draws, so drawing does not allocate once it
// has grown).
class EdgeSlotTable {
 public:
  static constexpr int kSlots = 16;

  explicit EdgeSlotTable(std::vector<int32_t>& slots) : slots_(slots) {}

  // Sizes the table for n vertices, every slot free.
  void Reset(int n) { slots_.assign(static_cast<size_t>(n < 0 ? 0 : n) * kSlots, -1); }
  // True when {a, b} had not been recorded (it is now). A full slot block or a vertex
  // beyond the table also gives true, storing nothing: the edge is drawn twice rather
  // than lost.
  bool AddEdgeOnce(int a, int b);
  // Records {a, b} without looking for an earlier copy; false when its block is full or
  // the vertex lies beyond the table.
  bool AddEdge(int a, int b);
  // How many times {a, b} was recorded (the scan stops at the first free slot).
  int CountEdge(int a, int b) const;

 private:
  // The slot block of the lower vertex, or null beyond the table or for a negative one.
  int32_t* Block(int a) const;

  std::vector<int32_t>& slots_;
};
