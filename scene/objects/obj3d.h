// The "Obj3D" fields of a project file: one per user object of the scene, each holding the
// object's stored tree (NHSObject::WriteTree) as words, after the tracking job's object.
//
//   binary: 0xA0, 0x10, the word count N as a varint, then N words of four bytes, most
//           significant first.
//   text:   the indentation and "Obj3D", " {", LF, " N", LF, then each word as eight
//           upper-case hexadecimal digits, eight words per line, an LF before the 9th,
//           17th, .. word and none after the last.
// After the last field (also when there is none) one closing mark ends the list: binary
// 0x11, text "}" and LF. A field has no closing mark of its own.
//
// Loading treats the file as outside data: a field's size is checked against a cap and
// its words are read as they come, never allocated from the stored count; every failure is
// a thrown text and adds nothing to the scene.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/objects/nhs_object.h"
#include "scene/objects/stored_object_factory.h"

class DataBaseIn;
class DataBaseOut;

namespace Scene3D {

// The most words one field may hold (256 MB of words): far above any object a scene
// stores, and low enough that a damaged count is refused rather than read.
inline constexpr int32_t kMaxObj3DWords = 1 << 26;

// One field per direct child of root whose type code is a user object's (12 .. 23), in
// child-list order, then the closing mark.
void WriteObj3D(const NHSObject& root, DataBaseOut& out);
// One field holding `words`.
void WriteObj3DField(const std::vector<uint32_t>& words, DataBaseOut& out);

// Reads one field's words. Throws "Scene3D::LoadObject: 3DObject id expected",
// "Scene3D::LoadObject: missing separator" (binary), "Scene3D::LoadObject: missing {"
// (text), "Scene3D::LoadObject: invalid word count" (negative or above kMaxObj3DWords),
// "Scene3D::LoadObject: LF expected", "Scene3D::LoadObject: hexadecimal digit expected",
// and the scanner's texts ("unexpected end of file", ...).
void ReadObj3DField(DataBaseIn& in, std::vector<uint32_t>& words);

// Reads one field and adds the rebuilt object as root's first child. A tree that cannot be
// rebuilt throws "Scene3D::LoadObject: Object reconstruction error"; the field's other
// failures throw as ReadObj3DField says. Nothing is added on failure.
void LoadObject(NHSObject& root, DataBaseIn& in, NHSObjectFactory factory = CreateStoredObject);

// Loads fields until the closing mark, which it consumes. Each object is added at the
// front, so a project's objects come back in reverse order. Throws as LoadObject; the
// objects loaded before a failure stay.
void LoadObjects(NHSObject& root, DataBaseIn& in, NHSObjectFactory factory = CreateStoredObject);

}  // namespace Scene3D
