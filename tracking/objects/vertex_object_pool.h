// The vertex objects of one tracking job: polygon masks, line strips and focal gizmos.
//
// The pool owns them by value in three lists; objects and their vertices keep their
// addresses while they are in the pool, which is how callers identify them. Bad
// arguments are logged at level 2 and answered with null, false or -1; nothing throws.
// No lock: edits run on the interface thread.
#ifndef KALVEX_TRACKING_VERTEX_OBJECT_POOL_H_
#define KALVEX_TRACKING_VERTEX_OBJECT_POOL_H_

#include <list>
#include <vector>

#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/uid_registry.h"
#include "tracking/objects/vertex_object.h"

class VertexObjectPool {
 public:
  // A mask from at least 3 vertices: each given vertex that has a value at frame 0 adds a
  // vertex with that value as its one key at keyFrame; the mask covers the frames
  // [0, frameCount - 1] ([0, 0], logged, when frameCount < 1). Null (logged) for fewer
  // than 3 vertices. The result stays valid while the mask is in the pool.
  PolygonMask* AddPolygonMask(int frameCount, const std::vector<Vertex>& vertices, int keyFrame);
  // A line strip from at least 2 vertices, keyed as above, covering [start, end]; a
  // negative start or end stands for keyFrame, and end < start is logged and leaves
  // [0, 0]. Null (logged) for fewer than 2 vertices.
  LineStrip* AddLineStrip(const std::vector<Vertex>& vertices, int keyFrame, int start, int end);

  // Inserts a vertex into the mask edge nearest to `point` at frame: next to the mask
  // vertex closest to the point, on the side whose edge direction is angularly closer to
  // the point. The new vertex copies the keys of the vertex it is inserted before, moved
  // so that it passes through the point at frame. 0 on success (also when that vertex has
  // no position at frame and nothing is inserted), -1 (logged) when no mask vertex has a
  // position at frame.
  int InsertMaskVertex(const vm::Vector3& point, int frame);

  // The object holding the vertex (masks first, then line strips, then gizmos), or null.
  // Compares addresses only, so a stale pointer is safe to pass.
  VertexObject* FindObjectOfVertex(const Vertex* vertex);
  // Erases the object from its list; false when it is not in the pool.
  bool RemoveObject(VertexObject* object);

  // Deletes the selected vertices of masks and line strips (gizmo vertices stay); a mask
  // left with fewer than 3 vertices or a line strip with fewer than 2 is removed. Vertex
  // objects in the selection are passed over. An entry of any other kind (or null) stops
  // the call with false; the entries before it are handled. Entries that pointed into an
  // object removed by an earlier entry are skipped.
  bool DeleteSelection(const std::vector<UIDBase*>& selection);
  // Deselects every object and vertex of the pool in the registry.
  void ClearSelection();

  // Empties the masks, then the line strips, then the gizmos.
  void Clear();
  void ClearLineStrips() { line_strips_.clear(); }

  std::list<PolygonMask>& GetPolygonMasks() { return masks_; }
  const std::list<PolygonMask>& GetPolygonMasks() const { return masks_; }
  std::list<LineStrip>& GetLineStrips() { return line_strips_; }
  const std::list<LineStrip>& GetLineStrips() const { return line_strips_; }
  std::list<FocalGizmo>& GetFocalGizmos() { return gizmos_; }
  const std::list<FocalGizmo>& GetFocalGizmos() const { return gizmos_; }

 private:
  // Destroyed in reverse: gizmos, line strips, masks.
  std::list<PolygonMask> masks_;
  std::list<LineStrip> line_strips_;
  std::list<FocalGizmo> gizmos_;
};

#endif  // KALVEX_TRACKING_VERTEX_OBJECT_POOL_H_
