#include "interaction/moved_scene_commands.h"

#include <gtest/gtest.h>

#include <memory>

#include "interaction/tracker_job_for_test.h"
#include "interaction/viewer_for_test.h"
#include "scene/scene.h"

namespace {

// Positions of the job's 3D points and camera centres and axes, in that order.
std::vector<vm::Vector3> Snapshot(kxtest::TrackerJob& job) {
  std::vector<vm::Vector3> out;
  for (const auto& p : job.points) out.push_back(*p);
  for (const auto& image : job.tracker.GetImageList()) {
    out.push_back(image->GetC());
    out.push_back(image->GetA());
  }
  return out;
}

void ExpectNear(const std::vector<vm::Vector3>& a, const std::vector<vm::Vector3>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_NEAR(a[i].x, b[i].x, 1e-9) << i;
    EXPECT_NEAR(a[i].y, b[i].y, 1e-9) << i;
    EXPECT_NEAR(a[i].z, b[i].z, 1e-9) << i;
  }
}

void ExpectNear(const Matrix3x4& a, const Matrix3x4& b) {
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(a.m[i], b.m[i], 1e-9) << i;
}

Matrix4x4 RigidMove(const vm::Vector3& axis, double angle, const vm::Vector3& t) {
  Matrix4x4 M;
  M.SetZero();
  M[3][3] = 1.0;
  M.SetRotation(axis, angle);
  M[0][3] = t.x;
  M[1][3] = t.y;
  M[2][3] = t.z;
  return M;
}

class MovedSceneCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    // Cameras at distinct places, so that a move shows in every one of them.
    for (size_t k = 0; k < job.tracker.GetImageList().size(); ++k) {
      FeatureImage& image = *job.tracker.GetImageList()[k];
      image.Set({1.0 * double(k), 0.5, -4}, {0, 0.6, 0.8}, {16, 0, 0}, {0, 9.6, -7.2}, 16, 12, 0,
                0.1, 0.1, 0, 0, nullptr);
    }
    scene.SetData(&job.tracker);
    original = Snapshot(job);
  }

  kxtest::TrackerJob job;
  kxtest::CurrentTracker current{&job.tracker};
  Scene& scene = job.tracker.GetScene();
  std::vector<vm::Vector3> original;
};

TEST_F(MovedSceneCommands, SceneMoveUndoRedo) {
  const Matrix4x4 M = RigidMove({0.2, 1, 0.3}, 0.4, {1, -2, 3});
  scene.TransformReconstruction(M);  // the drag
  PushCommand(new uic::MovedSceneCmd(&job.tracker, &scene));
  scene.SyncMovedScene(&job.tracker);
  const std::vector<vm::Vector3> moved = Snapshot(job);
  Vector4 p;
  p.Multiply(M, original[0]);
  EXPECT_NEAR(moved[0].x, p[0], 1e-9);

  EXPECT_STREQ(uic::GetMovedCommandLabel(PeekUndoRedoCommand(false)), "Move scene");
  EXPECT_EQ(PeekUndoRedoCommand(false)->GetCommandSize(), 272);
  UndoLastCommand();
  ExpectNear(Snapshot(job), original);
  const Matrix4x4& S = scene.GetSceneMatrix();
  for (int i = 0; i < 16; ++i) EXPECT_EQ(S.m[i], i % 5 == 0 ? 1.0 : 0.0);  // handed over
  RedoLastCommand();
  ExpectNear(Snapshot(job), moved);
  UndoLastCommand();
  ExpectNear(Snapshot(job), original);
}

TEST_F(MovedSceneCommands, GroundGridMoveUndoRedoTurnsTheObservers) {
  kxtest::CountingViewer viewer;
  viewer.ActiveObserver().UpdateProjection(viewer.m_observer_drag);
  const vm::Vector3 eye = viewer.ActiveObserver().m_eye;
  const Matrix3x4 grid_before = scene.GetGrid()->GetTransform();

  Matrix3x4 drag;
  const Matrix4x4 G = RigidMove({0, 1, 0}, 0.3, {0.5, 1, -2});
  std::copy(G.m, G.m + 12, drag.m);
  scene.TransformWCS(drag);  // the drag
  const Matrix3x4 grid_dragged = scene.GetGrid()->GetTransform();
  const Matrix4x4 W = scene.SyncMovedGroundGrid(&job.tracker);
  PushCommand(new uic::MovedGroundGridCmd(&viewer, &job.tracker, &scene, W));
  viewer.TransformObservers(W);
  const std::vector<vm::Vector3> moved = Snapshot(job);
  const vm::Vector3 moved_eye = viewer.ActiveObserver().m_eye;
  EXPECT_GT((moved_eye - eye).Length(), 1.0);

  EXPECT_STREQ(uic::GetMovedCommandLabel(PeekUndoRedoCommand(false)), "Move ground grid");
  UndoLastCommand();
  ExpectNear(Snapshot(job), original);
  ExpectNear(scene.GetGrid()->GetTransform(), grid_dragged);
  EXPECT_NEAR((viewer.ActiveObserver().m_eye - eye).Length(), 0.0, 1e-9);
  RedoLastCommand();
  ExpectNear(Snapshot(job), moved);
  ExpectNear(scene.GetGrid()->GetTransform(), grid_before);
  EXPECT_NEAR((viewer.ActiveObserver().m_eye - moved_eye).Length(), 0.0, 1e-9);
}

TEST_F(MovedSceneCommands, MissingPartsDoNothing) {
  {
    auto viewer = std::make_unique<kxtest::CountingViewer>();
    PushCommand(new uic::MovedGroundGridCmd(viewer.get(), &job.tracker, &scene,
                                            RigidMove({1, 0, 0}, 1.0, {1, 2, 3})));
  }
  UndoLastCommand();  // its viewer is gone
  ExpectNear(Snapshot(job), original);

  uic::MovedSceneCmd no_scene(&job.tracker, nullptr);
  no_scene.CreateCommand();
  no_scene.Undo();
  uic::MovedGroundGridCmd no_tracker(nullptr, nullptr, &scene, RigidMove({1, 0, 0}, 1, {}));
  no_tracker.CreateCommand();
  no_tracker.Redo();
  ExpectNear(Snapshot(job), original);
  EXPECT_EQ(uic::GetMovedCommandLabel(&no_scene), std::string("Move scene"));
  EXPECT_EQ(uic::GetMovedCommandLabel(nullptr), nullptr);
}

}  // namespace
