// Test and fuzz helper: a factory for stored trees that creates the real class of a stored
// type code where it exists and a bare node of that code otherwise, so that the tree and
// chunk readers can be exercised before every class is there.
#pragma once

#include "scene/objects/stored_object_factory.h"

namespace kxtest {

inline NHSObject* CreateStoredOrBareObject(uint16_t type) {
  if (NHSObject* object = CreateStoredObject(type)) return object;
  return IsStoredObjectType(type) ? new NHSObject(type) : nullptr;
}

}  // namespace kxtest
