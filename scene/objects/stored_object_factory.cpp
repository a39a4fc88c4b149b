#include "scene/objects/stored_object_factory.h"

bool IsStoredObjectType(uint16_t type) {
  return type == NHS_TYPE_RECT || (type >= NHS_TYPE_CUBOID && type <= NHS_TYPE_EDITABLE_MESH);
}

NHSObject* CreateStoredObject(uint16_t type) {
  // The user-object classes join here with their defaults as they are built; until then a
  // stored object of their code cannot be rebuilt and its load is refused.
  static_cast<void>(type);
  return nullptr;
}
