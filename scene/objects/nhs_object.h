// NHSObject: a node of the 3D scene tree (the scene root, the gizmo, the built-in objects
// that show the tracking result, and the user objects a user adds or a project brings back).
//
// A node is a UIDBase (id, type code, flag word: 1 selected, 2 locked, 4 hidden), a 3 x 4
// row-major transform into its parent's coordinates, an owning child list kept newest
// first, a colour 0xAARRGGBB and an owning property list, also newest first. Each class
// draws itself through a renderer and stores its own data in the scene-object chunk stream
// (scene/objects/serializer.h); the base draws and stores nothing.
//
// Ownership: a node owns its children and its properties. Destroying a node first clears
// the scene's selection when the node is the selected one (see NHSObject_Scene), then
// destroys its children, unlinks itself when it is linked, destroys its properties and
// frees its id.
//
// Threads: the tree is built, changed and destroyed on the interface thread only; the
// renderer reads it from worker threads while a frame is drawn, when nothing changes it.
#pragma once

#include <cstdint>

#include "foundation/numeric/color_rgba.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/uid_registry.h"

class NHSElementRender;
namespace Serializer {
class Writer;
class Reader;
}  // namespace Serializer

// Type codes of the node classes (the UIDBase type code). 12 .. 23 are the user objects
// (UIDBase::IsSceneObject): shown, cleared, exported and stored as a group. 9, 13 and 23
// name no class.
enum : uint16_t {
  NHS_TYPE_SCENE = 3,
  NHS_TYPE_HANDLE = 4,  // the transform gizmo and its parts
  NHS_TYPE_GRID = 5,
  NHS_TYPE_CAMERA = 6,
  NHS_TYPE_CAMERA_TRACK = 7,
  NHS_TYPE_FEATURE_POINTS = 8,
  NHS_TYPE_CROSS3D = 10,
  NHS_TYPE_ORBIT_CENTER = 11,
  NHS_TYPE_RECT = 12,
  NHS_TYPE_CUBOID = 14,
  NHS_TYPE_CONE = 15,
  NHS_TYPE_CYLINDER = 16,
  NHS_TYPE_SPHERE = 17,
  NHS_TYPE_TORUS = 18,
  NHS_TYPE_MESH_ROOT = 19,
  NHS_TYPE_TRI_MESH = 20,
  NHS_TYPE_POLY_MESH = 21,
  NHS_TYPE_EDITABLE_MESH = 22,
};

inline constexpr uint32_t NHS_DEFAULT_COLOR = 0xffc0c0c0;

// An item of a node's property list. Destroying an item unlinks it from its list.
class NHSProperty {
 public:
  explicit NHSProperty(int32_t kind) : kind_(kind) {}
  virtual ~NHSProperty();
  NHSProperty(const NHSProperty&) = delete;
  NHSProperty& operator=(const NHSProperty&) = delete;

  int32_t GetKind() const { return kind_; }
  // The next item of the list, null after the last.
  NHSProperty* GetNext() const { return next_; }

  // The property's own chunks (the kind word before them is the caller's).
  virtual void Write(Serializer::Writer& writer) const;
  // Reads them back; may throw Serializer::Error.
  virtual void Read(Serializer::Reader& reader);

 private:
  friend class NHSObject;
  int32_t kind_;
  NHSProperty* prev_ = nullptr;
  NHSProperty* next_ = nullptr;
};

// Property kind 1: a name of at most 63 characters, stored as one string chunk.
class NHSProperty_Name : public NHSProperty {
 public:
  static constexpr int32_t kKind = 1;
  static constexpr int kMaxLength = 63;

  explicit NHSProperty_Name(const char* name = nullptr);

  // Keeps the first 63 characters; null gives the empty name.
  void SetName(const char* name);
  const char* GetName() const { return name_; }

  // One string chunk; reading keeps the first 63 characters.
  void Write(Serializer::Writer& writer) const override;
  void Read(Serializer::Reader& reader) override;

 private:
  char name_[kMaxLength + 1] = {};
};

class NHSObject;

// Creates the object of a stored type code with its class's defaults, or null when no
// class of that code can be stored.
using NHSObjectFactory = NHSObject* (*)(uint16_t type);

class NHSObject : public UIDBase {
 public:
  // Objects nest at most this deep in a stored tree; deeper data is refused.
  static constexpr int kMaxStoredDepth = 256;

  // Registers a new id of that type code with flag word 0; identity transform, no links,
  // no properties.
  explicit NHSObject(uint16_t type, uint32_t color = NHS_DEFAULT_COLOR);
  ~NHSObject() override;
  NHSObject(const NHSObject&) = delete;
  NHSObject& operator=(const NHSObject&) = delete;

  // Draws the node (not its children) under `model`, the 3 x 4 map from the node's
  // coordinates to view coordinates. The base draws nothing.
  virtual void Draw(NHSElementRender& renderer, const Matrix3x4& model) const;
  // Drawing in parts, so that the threads of a frame can share a node with much to draw:
  // the node splits what Draw draws into DrawParts() parts (at least 1; a few dozen at
  // most, since every thread of a frame steps over each part), and DrawPart draws part
  // `part` (0 .. DrawParts() − 1) under `model`. Drawing every part in increasing order
  // must draw exactly what Draw draws, in the same order, and each part must leave the
  // renderer as it found it. The base has one part, which is Draw.
  virtual int DrawParts() const;
  virtual void DrawPart(NHSElementRender& renderer, const Matrix3x4& model, int part) const;
  // Appends the class's own data chunks; the base writes nothing.
  virtual void Serialize(Serializer::Writer& writer) const;
  // Reads them back over the constructor's defaults; may throw Serializer::Error. Stored
  // data is outside data: values out of range are clamped, never trusted.
  virtual void Deserialize(Serializer::Reader& reader);

  uint32_t GetColor() const { return color_; }
  void SetColor(uint32_t argb) { color_ = argb; }
  void SetColor(const ColorRGBA& color) { color_ = color.ToARGB32(); }

  // ---- stored trees (scene/objects/serializer.h)
  // Appends the object chunk (type, name flag, property and child counts, transform), the
  // registry name, the class's data, each property and each child's tree, in list order.
  static void WriteTree(const NHSObject& object, Serializer::Writer& writer);
  // Rebuilds a tree that WriteTree wrote, creating each object through `factory`; the
  // caller owns the result. A stored child list comes back in reverse order (each child is
  // added at the front). Throws Serializer::Error and then leaves nothing behind.
  static NHSObject* ReadTree(Serializer::Reader& reader, NHSObjectFactory factory);

  // ---- tree
  NHSObject* GetParent() const { return parent_; }
  NHSObject* GetFirstChild() const { return first_child_; }
  NHSObject* GetPrevSibling() const { return prev_; }
  NHSObject* GetNextSibling() const { return next_; }
  int CountChildren() const;

  // Makes `child` the first child and returns it. The child must not be linked anywhere
  // (Unlink it first) and must not be this node or one of its ancestors.
  NHSObject* AddChild(NHSObject* child);
  // Takes the node out of its parent's child list and clears its parent and sibling
  // links; the caller owns it afterwards. Nothing happens to a node that is not linked.
  void Unlink();

  // ---- properties
  NHSProperty* GetFirstProperty() const { return property_head_.next_; }
  // The property of that kind, or null.
  NHSProperty* FindProperty(int32_t kind) const;
  int CountProperties() const;
  // Takes ownership; a property of the same kind is destroyed first, and the new one
  // becomes the first of the list.
  void AddProperty(NHSProperty* property);

  // Sets or clears the selected flag of this node and of every descendant.
  void SetSelectedRecursive(bool selected);
  // Sets or clears node flag bits (UID_FLAG_LOCKED, UID_FLAG_HIDDEN); the selected bit is
  // the registry's and is left alone.
  void SetNodeFlags(uint16_t mask, bool on) {
    const uint16_t flags = GetUIDFlags();
    SetUIDFlags(on ? flags | mask : flags & ~mask);
  }

  // ---- transforms (row-major doubles)
  const Matrix3x4& GetTransform() const { return transform_; }
  Matrix3x4& GetTransform() { return transform_; }
  void SetTransform(const Matrix3x4& transform) { transform_ = transform; }
  // The top three rows of a 4 x 4 row-major transform.
  void SetTransform(const Matrix4x4& transform);
  // out = the product of the transforms from the topmost ancestor down to this node. With
  // stop_below_root the topmost ancestor is left out, so the result maps into the root's
  // own coordinates. A node without a parent gives its own transform either way.
  void GetGlobalTransform(Matrix3x4& out, bool stop_below_root) const;
  // transform = M * transform; a 4 x 4 M counts by its top three rows.
  void PreMultiplyTransform(const Matrix3x4& M);
  void PreMultiplyTransform(const Matrix4x4& M);
  // The linear part of the transform.
  void GetRotation(Matrix3x3& out) const;
  // The linear part with each column scaled to unit length; a zero column stays zero, and
  // when every column is zero the result is the identity.
  void GetNormalizedRotation(Matrix3x3& out) const;

 private:
  Matrix3x4 transform_;
  NHSObject* parent_ = nullptr;
  NHSObject* first_child_ = nullptr;
  NHSObject* prev_ = nullptr;
  NHSObject* next_ = nullptr;
  uint32_t color_;
  NHSProperty property_head_{0};  // kind 0, never stored
};
