// Animated 2D overlays drawn on the frames: polygon masks (regions feature detection
// leaves out), line strips (reference lines on straight edges for the lens calibration)
// and focal gizmos (a fixed set of 12 vertices for the focal-length calibration).
//
// An object is a list of vertices; a vertex is a key-framed curve of image positions, so
// an object can follow the image content. Vertices and objects are identified by their
// address (the viewer keeps pointers to them) and by their registry id; a vertex belongs
// to an object when its address is an element of the object's list. Copies get new ids.
//
// Frames are absolute frame numbers. Bad arguments are logged at level 2 and answered
// with false, 0 or no change; nothing throws. Not thread-safe: edits run on one thread.
#ifndef KALVEX_TRACKING_VERTEX_OBJECT_H_
#define KALVEX_TRACKING_VERTEX_OBJECT_H_

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "foundation/numeric/color_rgba.h"
#include "foundation/numeric/curve.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/project/data_base.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/bit_mask.h"

// One point of a vertex object: its position over the frames (z is 0 in stored
// projects). Registered with type UID_TYPE_VERTEX while it lives.
class Vertex : public o_Curve<vm::Vector3>, public DataBase, public UIDBase {
 public:
  Vertex() : UIDBase(UID_TYPE_VERTEX) {}
  // Copies the keys; the copy gets a new id.
  Vertex(const Vertex&) = default;
  Vertex& operator=(const Vertex&) = default;
  ~Vertex() override = default;

  // Project field "Data": the keys, each (x, y, frame) setting the key at frame to
  // (x, y, 0). Throws "Vertex::CheckForField: can't find vector begin",
  // "Vertex::CheckForField: BIN_VECTOR2 expected" (binary) or
  // "Vertex::CheckForField:  \",\" expected" (ascii) on a malformed array.
  bool CheckForField(DataBaseIn& in, const char* key) override;
};

// Flag bits of a vertex object's word.
enum : uint32_t {
  VERTEX_OBJECT_HAS_COLOR = 1,  // a colour was given in the project file
};

// The common part of masks, line strips and gizmos. Registered with type
// UID_TYPE_VERTEX_OBJECT while it lives.
class VertexObject : public BitMask, public DataBase, public UIDBase {
 public:
  VertexObject() : UIDBase(UID_TYPE_VERTEX_OBJECT) {}
  // Copies every member; the copy and each of its vertices get new ids.
  VertexObject(const VertexObject&) = default;
  VertexObject& operator=(const VertexObject&) = default;
  ~VertexObject() override = default;

  // The common part stores no field of its own: every key is unknown here.
  bool CheckForField(DataBaseIn& in, const char* key) override;
  // Empties the vertex list and the name; the frame range and the flags stay.
  virtual void Clear();

  // The frame range [start, end]. A start after the end (or an end before the start) is
  // logged at level 2 and the old value kept.
  void SetStartIndex(int start);
  void SetEndIndex(int end);
  // Sets both at once; false (logged, range unchanged) when end < start.
  bool SetIndexRange(int start, int end);
  int GetStartIndex() const { return start_index_; }
  int GetEndIndex() const { return end_index_; }

  // A null name is ignored.
  void SetName(const char* name);
  const std::string& GetName() const { return name_; }
  int GetMHTProp() const { return mht_prop_; }
  void SetMHTProp(int value) { mht_prop_ = value; }

  // The number of vertices when start <= frame <= end, else 0. The bounds are compared as
  // unsigned, so an object with a negative start is never active.
  int IsActiveAt(unsigned frame) const;

  // Appends a vertex with one key (frame, position); returns the new vertex count.
  int AddVertex(const vm::Vector3& position, int frame);
  // Erases the vertex; false when it is not part of this object.
  bool RemoveVertex(const Vertex* vertex);
  // Sets (replaces or inserts) the vertex's key at frame; a null or foreign vertex is
  // logged at level 2.
  void SetVertexPosition(Vertex* vertex, const vm::Vector3& position, int frame);
  // The vertex's value at frame (exact, interpolated or held). False when out is null,
  // the vertex is foreign, the frame is outside the range or the vertex has no keys.
  bool GetVertexPosition(vm::Vector3* out, const Vertex* vertex, unsigned frame) const;
  // Replaces out by the values at frame of the vertices that have keys, in list order;
  // returns their count (0 outside the frame range).
  int GetVertexPositions(std::vector<vm::Vector3>& out, unsigned frame) const;

  // Moves every key exactly at `from` to `to` (replacing a key there); returns the number
  // of vertices changed, 0 when from == to.
  int MoveKeyframe(int from, int to);
  // Removes the key exactly at frame from every vertex; returns how many had one.
  int RemoveKeyframe(int frame);

  // Even-odd test of (x, y) against the polygon of the vertices' (x, y) values at frame
  // (vertices without keys are left out; fewer than 3 points: false). On the boundary
  // the half-open rule decides: of an axis-aligned square, points on the edges at the
  // largest x and at the smallest y are inside, on the other two edges outside.
  bool IsInside(double x, double y, int frame) const;
  // The distance of (x, y, 0) to the polyline of the positions at frame, over the
  // segments it projects onto (a zero-length segment: the distance to its point); 1e16
  // when there are fewer than 2 positions or no segment qualifies.
  double GetDistanceToPolyline(double x, double y, int frame) const;

  bool HasVertex(const Vertex* vertex) const;
  int GetNumVertices() const { return static_cast<int>(vertices_.size()); }
  // In drawing order. Elements keep their addresses while they are in the list.
  const std::list<Vertex>& GetVertices() const { return vertices_; }
  std::list<Vertex>& GetVertices() { return vertices_; }

 protected:
  // The fields every kind stores: "Vert" (a vertex appended as a copy), "Name" and
  // "Frms" (the end applied before the start, so a stored range start <= end comes back
  // exactly).
  bool CheckCommonField(DataBaseIn& in, const char* key);
  // "Col": four reals into color, and the colour flag.
  bool CheckColorField(DataBaseIn& in, const char* key, ColorRGBA& color);

 private:
  std::list<Vertex> vertices_;
  int mht_prop_ = 0;
  std::string name_;
  int start_index_ = 0;
  int end_index_ = 0;
};

// A region that feature detection leaves out.
class PolygonMask : public VertexObject {
 public:
  // "Vert", "Name", "Frms", "Col", "MProp" (0 to 2, other values ignored), "MHTProp" (0
  // or 1, others ignored).
  bool CheckForField(DataBaseIn& in, const char* key) override;
  int GetMProp() const { return m_prop_; }
  void SetMProp(int value) { m_prop_ = value; }
  const ColorRGBA& GetColor() const { return color_; }
  void SetColor(const ColorRGBA& color) { color_ = color; }

 private:
  int m_prop_ = 0;
  ColorRGBA color_{0.0, 0.0, 0.5, 0.5};
};

// A reference line drawn on a straight edge.
class LineStrip : public VertexObject {
 public:
  // "Vert", "Name", "Frms", "Col".
  bool CheckForField(DataBaseIn& in, const char* key) override;
  const ColorRGBA& GetColor() const { return color_; }
  void SetColor(const ColorRGBA& color) { color_ = color; }

 private:
  ColorRGBA color_{0.5, 0.0, 0.0, 1.0};
};

// The vertex set of the focal-length calibration; it is expected to hold 12 vertices.
class FocalGizmo : public VertexObject {
 public:
  // "Vert", "Name", "Frms".
  bool CheckForField(DataBaseIn& in, const char* key) override;
};

#endif  // KALVEX_TRACKING_VERTEX_OBJECT_H_
