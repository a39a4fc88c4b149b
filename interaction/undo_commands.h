// The undoable edits of the tracking data and the scene objects (see undo_stack.h for how
// commands are pushed and owned).
//
// Each command keeps just enough to switch between the state before and after its edit:
// an object id with a parent id, a transform, the 3D points with one flag each, the
// removed 2D features with their links, or a whole copy of the vertex-object pool. Most
// are symmetric: Undo swaps the kept state with the live one and Redo calls Undo again, so
// after an even number of calls the command holds the state before the edit again.
//
// Objects are found again by their registry id or through the tracker the command keeps;
// a command never outlives its tracker in use, because a new project, sequence or run
// clears the stack. A missing tracker, map or object makes Undo and Redo do nothing.
//
// Sizes (GetCommandSize) are what the stack's memory limit counts: fixed figures per
// record for the commands that hold references, the real bytes of the copy for the pool
// snapshot.
//
// The scene-object, 3D-point and vertex-object commands redraw every viewer after Undo and
// Redo; the track and transform commands announce their change through the tracker.
//
// Interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/shared_ptr.h"
#include "interaction/moved_scene_commands.h"
#include "interaction/undo_stack.h"
#include "tracking/job/camera_tracking_manager.h"

class FeatureCorrespondence;
class FeaturePoint2D;
class FeaturePoint3D;
class NHSObject;
class Scene;
class VertexObjectPool;

namespace uic {

class MetaCTracker;

// The user-object node of a registry id, or null when the id names no scene-graph node.
NHSObject* FindSceneObject(int32_t id);

// Adding a scene object (parent id 0: the object is in the scene) or deleting one (the
// id of the parent it is taken from; the caller unlinks it right after the push). Each
// Undo or Redo toggles: it puts an object that is out of the scene back under the stored
// parent, or takes one that is in the scene out and stores its parent. While the object is
// out of the scene the command owns it.
class SceneObjectCreateDeleteCmd : public Command {
 public:
  SceneObjectCreateDeleteCmd(int32_t object_id, int32_t parent_id)
      : object_id_(object_id), parent_id_(parent_id) {}
  // Deletes the object only when it is out of the scene (stored parent set) and really
  // detached: a deletion whose push was refused leaves the object linked, and then it is
  // the scene's, not the command's.
  ~SceneObjectCreateDeleteCmd() override;
  void CreateCommand() override {}
  void Undo() override;
  void Redo() override { Undo(); }
  int GetCommandSize() override { return 12; }

  int32_t GetParentId() const { return parent_id_; }

 private:
  int32_t object_id_;
  int32_t parent_id_;
};

// A gizmo drag: the object's transform before the drag; Undo and Redo swap it with the
// object's current transform.
class SceneObjectTransformCmd : public Command {
 public:
  explicit SceneObjectTransformCmd(const NHSObject* object);
  void CreateCommand() override {}
  void Undo() override;
  void Redo() override { Undo(); }
  int GetCommandSize() override { return 4; }

 private:
  int32_t object_id_;
  Matrix3x4 transform_;
};

// A move of the whole reconstruction by T (the ground alignment), kept with its inverse
// as the scene view's moves are: Undo applies the inverse, Redo T, each to the scene and
// the tracking data, then the scene is refilled and the tracker sends its data-changed
// message; nothing without tracker or scene. Applying the inverse restores cameras and
// points up to its rounding.
class SceneTransformCmd : public MoveTransformCmd {
 public:
  SceneTransformCmd(MetaCTracker* tracker, Scene* scene, const Matrix4x4& transform)
      : MoveTransformCmd(transform), tracker_(tracker), scene_(scene) {}
  int GetCommandSize() override { return 296; }

 private:
  void Apply(const Matrix4x4& m) override;
  MetaCTracker* tracker_;
  Scene* scene_;
};

// Deleting selected 3D points: CreateCommand records every point of the current map with
// its removed flag; Undo and Redo swap the recorded flags with the points' own.
class SceneDeleteFPoint3DCmd : public Command {
 public:
  SceneDeleteFPoint3DCmd(MetaCTracker* tracker, Scene* scene) : tracker_(tracker), scene_(scene) {}
  void CreateCommand() override;
  void Undo() override;
  void Redo() override { Undo(); }
  // 36 + 8 per point of the current map (36 without a map, logged).
  int GetCommandSize() override;

 private:
  struct Record {
    SharedPtr<FeaturePoint3D> point;
    bool removed;
  };
  MetaCTracker* tracker_;
  Scene* scene_;
  std::vector<Record> records_;
};

// Limiting the exported 3D points: CreateCommand sorts the map's points that are not
// removed into exported and excluded (flag 0x20); Undo and Redo re-sort the current points
// and restore the recorded marks, keeping the current ones for the way back.
class LimitNumFPoint3DExportCmd : public Command {
 public:
  explicit LimitNumFPoint3DExportCmd(MetaCTracker* tracker) : tracker_(tracker) {}
  void CreateCommand() override;
  void Undo() override;
  void Redo() override { Undo(); }
  // 72 + 4 per point of the current map (72 without a map, logged).
  int GetCommandSize() override;

 private:
  using PointList = std::vector<SharedPtr<FeaturePoint3D>>;
  // False (logged with `where`) without tracker or map.
  bool Sort(PointList& exported, PointList& excluded, const char* where) const;
  MetaCTracker* tracker_;
  PointList exported_;
  PointList excluded_;
};

// Removing stretches of feature tracks. The constructor records, before the removal, the
// features the manager removes for the segments, each with its links, its place in its
// image's list and its 3D point's removed flag. Undo puts them back where they were and
// re-links their neighbours; Redo removes them again.
class RemoveFeatureTracksCmd : public Command {
 public:
  RemoveFeatureTracksCmd(MetaCTracker* tracker, const std::vector<FeatureTrackSegment>& segments);
  void CreateCommand() override {}
  void Undo() override;
  void Redo() override;
  // 32 + 8 per recorded feature.
  int GetCommandSize() override;

 private:
  struct Record {
    SharedPtr<FeaturePoint2D> feature;
    SharedPtr<FeatureCorrespondence> predecessor;
    SharedPtr<FeatureCorrespondence> successor;
    size_t position;  // in the image's feature or anchor list
    bool removed;     // the 3D point's removed flag
  };
  bool Ready() const;
  void Notify3DChanged();
  MetaCTracker* tracker_;
  std::vector<Record> records_;
};

// An edit of the vertex objects (kind 0 closing a mask or line, 1 moving vertices, 2
// deleting). The constructor copies the live pool (selection cleared); Undo and Redo swap
// the copy's lists with the live pool's, so the objects come back as they were, ids
// included, and the objects that leave the pool are deselected.
class VertexObjectPoolCmd : public Command {
 public:
  VertexObjectPoolCmd(VertexObjectPool* pool, int kind);
  ~VertexObjectPoolCmd() override;
  void CreateCommand() override {}
  void Undo() override;
  void Redo() override { Undo(); }
  // The bytes of the copy: it is a deep copy, so the memory limit must see it.
  int GetCommandSize() override;
  virtual int GetKind() const { return kind_; }

 private:
  VertexObjectPool* pool_;
  std::unique_ptr<VertexObjectPool> snapshot_;
  int kind_;
};

// The menu text of an undo or redo entry for any command of the program, the scene view's
// moves included (null: "unknown").
const char* GetCommandLabel(Command* cmd);

}  // namespace uic
