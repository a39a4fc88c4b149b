#pragma once

// The root block of a project file: the "KLX" object holds one "CTrackMgr" object (read by
// DataBaseIn::Read) and after it zero or more "Obj3D" items (PF_KEY_OBJ3D), one per user
// scene object, whose content the scene reads itself. A loader reads the items while
// AtBlockEnd is false and then consumes the root's closing mark.

class DataBaseIn;

// True when the next element closes the current block: the byte 0x11 (binary) or, after
// whitespace, "}" (ascii). Nothing but that whitespace is consumed. Throws "unexpected end
// of file" when the file ends first.
bool AtBlockEnd(DataBaseIn& in);
