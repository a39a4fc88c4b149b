#include "export/writers/export_meshes.h"

#include "scene/objects/primitives.h"

namespace {

template <typename Source>
std::unique_ptr<NHSObject_PolyMesh> Convert(const NHSObject& object) {
  // The type code names the class; a node that claims it without being one is skipped.
  const auto* source = dynamic_cast<const Source*>(&object);
  return source != nullptr ? std::make_unique<NHSObject_PolyMesh>(*source) : nullptr;
}

}  // namespace

std::unique_ptr<NHSObject_PolyMesh> MakeExportMesh(const NHSObject& object) {
  switch (object.GetUIDType()) {
    case NHS_TYPE_RECT:
      return Convert<NHSObject_Rect>(object);
    case NHS_TYPE_CUBOID:
      return Convert<NHSObject_Cuboid>(object);
    case NHS_TYPE_CONE:
      return Convert<NHSObject_Cone>(object);
    case NHS_TYPE_TRI_MESH:
      return Convert<NHSObject_TriMesh>(object);
    default:
      return nullptr;
  }
}

const std::vector<vm::Vector3>* GetMeshVertices(const NHSObject_PolyMesh& mesh) {
  if (!mesh.Vertices().empty()) return &mesh.Vertices();
  const auto* parent = dynamic_cast<const NHSVertexList*>(mesh.GetParent());
  return parent != nullptr ? &parent->Vertices() : nullptr;
}

bool IsExportFace(const NHSObject_PolyMesh::PolygonView& polygon, size_t vertex_count) {
  if (polygon.n < 3) return false;
  for (int j = 0; j < polygon.n; ++j) {
    if (polygon.vertices[j] >= vertex_count) return false;
  }
  return true;
}

int CountExportFaces(const NHSObject_PolyMesh& mesh) {
  int faces = 0;
  ForEachExportFace(mesh, [&](const NHSObject_PolyMesh::PolygonView&) { ++faces; });
  return faces;
}
