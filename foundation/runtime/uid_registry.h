#pragma once

// Process-wide object ids.
//
// Every object the user can point at, select or name derives from UIDBase, which
// registers it in the one UIDRegistry for its lifetime. The registry maps ids back to
// objects, keeps a name per id and keeps the selection. Ids are 32-bit, never 0; a freed
// id is handed out again (last freed, first reused), so an id names at most one living
// object at a time.
//
// Thread safety: every registry operation runs under the registry's spin lock, so
// objects may be created and destroyed on any thread. A pointer returned by GetObject or
// CollectSelected is not protected against the object's destruction; callers that keep
// objects hold them by SharedPtr.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "foundation/runtime/spin_lock.h"

// Type codes chosen by the derived classes.
enum : uint16_t {
  UID_TYPE_FEATURE_POINT_2D = 1,
  UID_TYPE_FEATURE_POINT_3D = 2,
  UID_TYPE_SCENE_ROOT = 3,
  UID_TYPE_GIZMO_HANDLE = 4,
  UID_TYPE_BUILTIN_FIRST = 5,  // built-in scene objects 5 .. 11
  UID_TYPE_BUILTIN_LAST = 11,
  UID_TYPE_SCENE_OBJECT_FIRST = 12,  // user scene objects 12 .. 23, stored in projects
  UID_TYPE_SCENE_OBJECT_LAST = 23,
  UID_TYPE_VERTEX = 24,
  UID_TYPE_VERTEX_OBJECT = 25,
};

// Flag bits.
enum : uint16_t {
  UID_FLAG_SELECTED = 0x1,
  UID_FLAG_LOCKED = 0x2,  // not selectable by type-range selection
  UID_FLAG_HIDDEN = 0x4,
  UID_FLAG_MARK = 0x8,  // temporary, used only inside UIDRegistry::CollectSelected
};

class UIDBase {
 public:
  explicit UIDBase(uint16_t type = 0, uint16_t flags = 0);
  // The copy gets a new id and a copy of the source's name; type and flags are copied,
  // the selected bit included (the registry's selection does not receive the new id).
  UIDBase(const UIDBase& other);
  // Assignment keeps the target's identity: id, type and flags stay.
  UIDBase& operator=(const UIDBase&) { return *this; }
  virtual ~UIDBase();

  int32_t GetUID() const { return id_; }
  uint16_t GetUIDType() const { return type_; }
  uint16_t GetUIDFlags() const { return flags_; }
  bool IsSceneObject() const {
    return type_ >= UID_TYPE_SCENE_OBJECT_FIRST && type_ <= UID_TYPE_SCENE_OBJECT_LAST;
  }

 protected:
  // Sets the flag bits other than the selected bit, which only the registry changes
  // (UIDRegistry::SetSelected), so that the flag and the selection always agree.
  void SetUIDFlags(uint16_t flags);

 private:
  friend class UIDRegistry;
  int32_t id_;
  uint16_t type_;
  uint16_t flags_;
};

class UIDRegistry {
 public:
  UIDRegistry();
  UIDRegistry(const UIDRegistry&) = delete;
  UIDRegistry& operator=(const UIDRegistry&) = delete;

  static UIDRegistry& Instance();

  // Stores `object` under the most recently freed id, else under a new one, and returns
  // the id. When source_id is not 0 and has a name, the new id gets a copy of it.
  int32_t Register(UIDBase* object, int32_t source_id);
  // Frees an id: its entry, name and selection entry are erased. Ids that are not
  // registered (already freed, never handed out) are ignored.
  void Unregister(int32_t id);

  // The object of `id`, or null for free ids and ids never handed out.
  UIDBase* GetObject(int32_t id);
  // The object's selected flag; false for ids without an object.
  bool IsSelected(int32_t id);
  // True when some registered object with a type code other than 0 is selected.
  bool AnySelected();
  // Sets or clears the selected flag of a registered id (the locked flag is not
  // consulted) and its selection entry; ids without an object are ignored.
  void SetSelected(int32_t id, bool select);
  // Selects or deselects every registered object with low <= type <= high whose locked
  // flag is clear; returns how many objects it touched.
  int SelectTypeRange(bool select, uint16_t low, uint16_t high);
  // Appends the selected objects with low <= type <= high in ascending id order (each
  // once) and returns how many it appended.
  int CollectSelected(std::vector<UIDBase*>& objects, uint16_t low, uint16_t high);

  // The name of `id`, or null. The text stays valid until the name of that id changes.
  const char* GetName(int32_t id);
  // Stores a copy of `text`; null erases the name. Ids without an object are ignored (also
  // by SetUniqueName), so a stale name never passes to the next object given the id.
  void SetName(int32_t id, const char* text);
  // Names `id` with `prefix` and a decimal number one larger than the largest number
  // that follows the same prefix in any stored name ("Cube_0", "Cube_1", ...).
  void SetUniqueName(int32_t id, const char* prefix);

 private:
  friend class UIDBase;
  struct Guard {
    explicit Guard(js::SpinLock& l) : lock(l) { lock.Lock(); }
    ~Guard() { lock.Unlock(); }
    js::SpinLock& lock;
  };
  UIDBase* ObjectLocked(int32_t id) const {
    return id > 0 && static_cast<size_t>(id) < objects_.size() ? objects_[id] : nullptr;
  }

  js::SpinLock lock_;
  std::vector<UIDBase*> objects_;  // entry 0 is a null placeholder: 0 is never an id
  std::vector<int32_t> free_ids_;
  std::set<int32_t> selection_;
  std::map<int32_t, std::string> names_;
};
