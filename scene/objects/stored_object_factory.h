// The object classes the project file stores, by type code: what a stored tree's object
// chunk creates before the class reads its own data over the defaults.
#pragma once

#include <cstdint>

#include "scene/objects/nhs_object.h"

// True for the type codes a stored tree may hold: 12 and 14 .. 22.
bool IsStoredObjectType(uint16_t type);

// The object of a stored type code with its class's defaults; null for any other code and
// for a code whose class this program does not have.
NHSObject* CreateStoredObject(uint16_t type);
