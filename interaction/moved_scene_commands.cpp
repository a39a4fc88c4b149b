#include "interaction/moved_scene_commands.h"

#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/viewer_base.h"
#include "scene/scene.h"

namespace uic {

namespace {

Matrix4x4 Identity() {
  Matrix4x4 m;
  m.SetZero();
  m[0][0] = m[1][1] = m[2][2] = m[3][3] = 1.0;
  return m;
}

}  // namespace

MovedSceneCmd::MovedSceneCmd(MetaCTracker* tracker, Scene* scene)
    : tracker_(tracker),
      scene_(scene),
      move_(scene ? scene->GetSceneMatrix() : Identity()),
      inverse_(Identity()) {}

void MovedSceneCmd::CreateCommand() {
  inverse_.Invert(move_);
}

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
    : viewer_(viewer), tracker_(tracker), scene_(scene), move_(G), inverse_(Identity()) {}

void MovedGroundGridCmd::CreateCommand() {
  inverse_.Invert(move_);
}

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
