// Test and fuzz helper: a factory for stored trees that creates the real class of a stored
// type code where it exists and a bare node of that code otherwise, so that the tree and
// chunk readers can be exercised before every class is there.
#pragma once

#include "scene/objects/stored_object_factory.h"

namespace kxtest {

// A bare node of any stored type code: for tests of the tree and field framing alone, whose
// objects carry no class data.
inline NHSObject* CreateBareObject(uint16_t type) {
  return IsStoredObjectType(type) ? new NHSObject(type) : nullptr;
}

inline NHSObject* CreateStoredOrBareObject(uint16_t type) {
  if (NHSObject* object = CreateStoredObject(type)) return object;
  return IsStoredObjectType(type) ? new NHSObject(type) : nullptr;
}

}  // namespace kxtest
