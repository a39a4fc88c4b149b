// The undo commands of the scene view's moves: a move of the whole reconstruction
// (MovedSceneCmd) and a move of the ground grid, which makes the moved grid the world
// frame (MovedGroundGridCmd). Each keeps the move's 4 x 4 transform and, from
// CreateCommand on, its inverse: Undo applies the inverse, Redo the transform again, to
// the shown scene and to the tracking data alike. A singular transform gives the identity
// as its inverse.
//
// The commands keep raw tracker, scene and viewer pointers: the undo stack is cleared
// whenever a project, sequence or run replaces the tracker. A missing tracker, scene or
// viewer (also a viewer destroyed since the push) makes Undo and Redo do nothing.
//
// Interface thread only.
#pragma once

#include "foundation/numeric/fixed_matrix.h"
#include "interaction/undo_stack.h"

class Scene;

namespace uic {

class MetaCTracker;
class ViewerBase;

// What both moves share: the move X and, from CreateCommand on, its inverse; Undo applies
// the inverse, Redo the move.
class MoveTransformCmd : public Command {
 public:
  void CreateCommand() override { inverse_.Invert(move_); }
  void Undo() override { Apply(inverse_); }
  void Redo() override { Apply(move_); }
  int GetCommandSize() override { return 272; }

 protected:
  explicit MoveTransformCmd(const Matrix4x4& move);
  virtual void Apply(const Matrix4x4& X) = 0;

 private:
  Matrix4x4 move_;
  Matrix4x4 inverse_;
};

// A drag of the reconstruction in the scene view, pushed before the scene hands the
// accumulated move to the tracking data: the move is the scene's move transform at
// construction.
class MovedSceneCmd : public MoveTransformCmd {
 public:
  MovedSceneCmd(MetaCTracker* tracker, Scene* scene);

 private:
  // The reconstruction is moved by X, which the scene then hands to the tracking data.
  void Apply(const Matrix4x4& X) override;
  MetaCTracker* tracker_;
  Scene* scene_;
};

// A drag of the ground grid, recorded after the grid became the world frame: G is the
// transform that moved everything (but the grid) into the new frame. Undo and Redo also
// turn the viewer's observers with the world.
class MovedGroundGridCmd : public MoveTransformCmd {
 public:
  MovedGroundGridCmd(ViewerBase* viewer, MetaCTracker* tracker, Scene* scene, const Matrix4x4& G);

 private:
  void Apply(const Matrix4x4& X) override;
  ViewerBase* viewer_;
  MetaCTracker* tracker_;
  Scene* scene_;
};

// The menu text of the two commands ("Move scene", "Move ground grid"), or null for any
// other command.
const char* GetMovedCommandLabel(Command* cmd);

}  // namespace uic
