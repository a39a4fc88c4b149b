#include "interaction/moved_scene_commands.h"

#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/viewer_base.h"
#include "scene/scene.h"

namespace uic {

namespace {

// Without a scene there is nothing to move; the zero matrix inverts to the identity.
Matrix4x4 SceneMove(const Scene* scene) {
  if (scene != nullptr) return scene->GetSceneMatrix();
  Matrix4x4 zero;
  zero.SetZero();
  return zero;
}

}  // namespace

MoveTransformCmd::MoveTransformCmd(const Matrix4x4& move) : move_(move) {
  inverse_.SetZero();
}

MovedSceneCmd::MovedSceneCmd(MetaCTracker* tracker, Scene* scene)
    : MoveTransformCmd(SceneMove(scene)), tracker_(tracker), scene_(scene) {}

void MovedSceneCmd::Apply(const Matrix4x4& X) {
  if (scene_ == nullptr) return;
  // The scene's move transform becomes X (times a move not yet handed over, if any), so the
  // tracking data receives exactly what the shown objects received.
  scene_->TransformReconstruction(X);
  scene_->SyncMovedScene(tracker_);
  Controller::Instance()->UpdateViewers();
}

MovedGroundGridCmd::MovedGroundGridCmd(ViewerBase* viewer, MetaCTracker* tracker, Scene* scene,
                                       const Matrix4x4& G)
    : MoveTransformCmd(G), viewer_(viewer), tracker_(tracker), scene_(scene) {}

void MovedGroundGridCmd::Apply(const Matrix4x4& X) {
  if (scene_ == nullptr || tracker_ == nullptr || !ViewerBase::IsLive(viewer_)) return;
  scene_->TransformExceptPointCloud(X);
  tracker_->TransformScene(X.m);
  scene_->SetData(tracker_);
  viewer_->TransformObservers(X);
  Controller::Instance()->UpdateViewers();
}

const char* GetMovedCommandLabel(Command* cmd) {
  if (dynamic_cast<MovedGroundGridCmd*>(cmd)) return "Move ground grid";
  if (dynamic_cast<MovedSceneCmd*>(cmd)) return "Move scene";
  return nullptr;
}

}  // namespace uic
