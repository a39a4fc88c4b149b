#include "scene/objects/stored_object_factory.h"

#include "scene/objects/curved_primitives.h"
#include "scene/objects/mesh_objects.h"
#include "scene/objects/primitives.h"

bool IsStoredObjectType(uint16_t type) {
  return type == NHS_TYPE_RECT || (type >= NHS_TYPE_CUBOID && type <= NHS_TYPE_EDITABLE_MESH);
}

NHSObject* CreateStoredObject(uint16_t type) {
  switch (type) {
    case NHS_TYPE_RECT:
      return new NHSObject_Rect;
    case NHS_TYPE_CUBOID:
      return new NHSObject_Cuboid;
    case NHS_TYPE_CONE:
      return new NHSObject_Cone;
    case NHS_TYPE_CYLINDER:
      return new NHSObject_Cylinder;
    case NHS_TYPE_SPHERE:
      return new NHSObject_Sphere;
    case NHS_TYPE_TORUS:
      return new NHSObject_Torus;
    case NHS_TYPE_MESH_ROOT:
      return new NHSObject_MeshRoot;
    case NHS_TYPE_TRI_MESH:
      return new NHSObject_TriMesh;
    case NHS_TYPE_POLY_MESH:
      return new NHSObject_PolyMesh;
    case NHS_TYPE_EDITABLE_MESH:
      return new NHSObject_EditableTriQuadMesh;
    default:
      return nullptr;
  }
}
