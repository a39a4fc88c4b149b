// The user's scene objects in the COLLADA document (SaveCamPathCollada): the private copy
// of the scene in which every exportable object is a polygon mesh, and the pieces the
// document's walks over that copy share.
//
// Copy: a scene root becomes a new root; a rectangle, box, cone or triangle mesh a polygon
// mesh (export_meshes.h) with the source's transform, colour and name. Every other object
// (the built-ins, the curved primitives, mesh roots, stored polygon meshes) is left out
// with its whole subtree. Each copy is put at the head of its parent's child list, so the
// copies of siblings come out in the reverse order; hidden objects are copied too.
//
// Names: an object's name is its registry name, or "todo" without one. Ids and names in
// the document must be XML names (no blanks, no leading digit): other characters become
// '_'. The writer makes each object's id unique in the document (see SaveCamPathCollada).
#pragma once

#include <string>

#include "foundation/numeric/fixed_matrix.h"
#include "scene/objects/mesh_objects.h"

struct NHSTexture;

// Adds the copy of source and of its exportable descendants under parent_copy (nothing
// when parent_copy is null or source is not exportable).
void CopyExportableObjects(NHSObject* parent_copy, const NHSObject& source);

// True when the object or a descendant is a polygon mesh.
bool HasPolyMesh(const NHSObject& object);
// True when the object or a descendant is a polygon mesh with a texture and at least one
// texture coordinate.
bool HasTexturedMesh(const NHSObject& object);
// The object's texture when it carries one (a mesh's texture parameters), else null.
const NHSTexture* GetObjectTexture(const NHSObject& object);

// The registry name, or "todo" when the object has none (or an empty one).
std::string GetExportObjectName(const NHSObject& object);
// `text` as an XML name: every character that may not stand in one becomes '_', and a
// name that may not start with its first character gets a leading '_'; "_" for "".
// Bytes from 0x80 on (UTF-8 letters) are kept.
std::string XmlName(const std::string& text);
// id + "-" + index: the id of an object's texture number index.
std::string GetTextureId(const std::string& id, unsigned index);
// The number of vertices the mesh's polygons index (GetMeshVertices), 0 with no list.
unsigned GetMeshVertexCount(const NHSObject_PolyMesh& mesh);
// diag(1, -1, -1, 1) * m: the rows of y and z negated (tracking frame to the document's).
Matrix4x4 FlipYZRows(const Matrix4x4& m);

// Writes the texture (2^lw x 2^lh pixels, 0xAARRGGBB, alpha dropped) as a 24-bit PNG file
// at path, replacing a file there. False after a level-2 line when path is empty or the
// file cannot be created or written completely.
bool write_image(const NHSTexture& texture, const std::string& path);
