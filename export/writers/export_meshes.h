// The user's scene objects as the writers of 3D scenes see them: polygon meshes.
//
// A rectangle, box, cone or triangle mesh becomes a new polygon mesh through its
// converting constructor (same transform, colour and, except for the rectangle, name); a
// polygon mesh draws from its own vertices or, with none, from those of its parent's
// vertex list. Every other object has no polygon form here.
#pragma once

#include <memory>
#include <vector>

#include "foundation/numeric/fixed_vector.h"
#include "scene/objects/mesh_objects.h"

// A new polygon mesh for an object of type 12, 14, 15 or 20 (the caller owns it), null for
// every other type.
std::unique_ptr<NHSObject_PolyMesh> MakeExportMesh(const NHSObject& object);

// The vertices the mesh's polygons index: its own, or its parent's when it has none and
// the parent holds a vertex list; null with neither.
const std::vector<vm::Vector3>* GetMeshVertices(const NHSObject_PolyMesh& mesh);

// The faces a writer exports, in order: the polygons of at least three corners whose
// vertex numbers all lie in GetMeshVertices. Shorter records (a cone without segments has
// an empty base) are no faces and importers refuse them; a stored mesh over its parent's
// vertices may name vertices the parent lacks.
bool IsExportFace(const NHSObject_PolyMesh::PolygonView& polygon, size_t vertex_count);
template <class F>
void ForEachExportFace(const NHSObject_PolyMesh& mesh, F&& f) {
  const std::vector<vm::Vector3>* vertices = GetMeshVertices(mesh);
  const size_t count = vertices != nullptr ? vertices->size() : 0;
  mesh.ForEachPolygon([&](const NHSObject_PolyMesh::PolygonView& polygon) {
    if (IsExportFace(polygon, count)) f(polygon);
  });
}
int CountExportFaces(const NHSObject_PolyMesh& mesh);
