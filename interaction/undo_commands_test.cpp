#include "interaction/undo_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/tracks/feature_correspondence.h"
#include "interaction/tracker_job_for_test.h"
#include "scene/display_settings.h"
#include "scene/objects/nhs_object.h"
#include "scene/scene.h"
#include "testing/log_capture.h"

namespace uic {
namespace {

using kxtest::TrackerJob;

Matrix3x4 Translation(double x, double y, double z) {
  Matrix3x4 m{};
  m.m[0] = m.m[5] = m.m[10] = 1.0;
  m.m[3] = x;
  m.m[7] = y;
  m.m[11] = z;
  return m;
}

bool SameTransform(const Matrix3x4& a, const Matrix3x4& b) {
  for (int i = 0; i < 12; ++i) {
    if (a.m[i] != b.m[i]) return false;
  }
  return true;
}

class SceneObjectCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearUndoStack(); }
  void TearDown() override {
    ClearUndoStack();
    DisplaySettings::Get().undo_memory_limit = DefaultUndoMemoryLimit();
  }
  // A user object under the scene root (or under parent).
  NHSObject* Add(NHSObject* parent = nullptr) {
    auto* object = new NHSObject(NHS_TYPE_CUBOID);
    (parent ? parent : &scene)->AddChild(object);
    return object;
  }
  Scene scene;
};

TEST_F(SceneObjectCommandsTest, CreationTogglesAndTheCommandDeletesTheObjectItHolds) {
  NHSObject* cube = Add();
  const int32_t id = cube->GetUID();
  scene.SelectObject(id);
  PushCommand(new SceneObjectCreateDeleteCmd(id, 0));
  UndoLastCommand();
  EXPECT_EQ(cube->GetParent(), nullptr);
  EXPECT_EQ(scene.GetSelectedId(), 0);
  RedoLastCommand();
  EXPECT_EQ(cube->GetParent(), &scene);
  EXPECT_EQ(cube->GetUID(), id);
  EXPECT_EQ(FindSceneObject(id), cube);
  // Out of the scene again, then the command goes: it owned the cube.
  UndoLastCommand();
  ClearUndoStack();
  EXPECT_EQ(FindSceneObject(id), nullptr);
  EXPECT_EQ(scene.GetFirstChild(), scene.GetPointCloud());  // the built-ins alone
}

TEST_F(SceneObjectCommandsTest, DeletionReturnsUnderTheOldParent) {
  NHSObject* group = Add();
  NHSObject* child = Add(group);
  NHSObject* sibling = Add(group);
  PushCommand(new SceneObjectCreateDeleteCmd(child->GetUID(), group->GetUID()));
  child->Unlink();  // the deletion itself
  UndoLastCommand();
  EXPECT_EQ(child->GetParent(), group);
  RedoLastCommand();
  EXPECT_EQ(child->GetParent(), nullptr);
  EXPECT_EQ(group->GetFirstChild(), sibling);
  const int32_t id = child->GetUID();
  ClearUndoStack();  // deleted with the command
  EXPECT_EQ(FindSceneObject(id), nullptr);
}

TEST_F(SceneObjectCommandsTest, ARefusedDeletionLeavesTheObjectToTheScene) {
  NHSObject* cube = Add();
  const int32_t id = cube->GetUID();
  DisplaySettings::Get().undo_memory_limit = 0;
  PushCommand(new SceneObjectCreateDeleteCmd(id, scene.GetUID()));
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 0);
  EXPECT_EQ(FindSceneObject(id), cube);
  EXPECT_EQ(cube->GetParent(), &scene);
}

TEST_F(SceneObjectCommandsTest, GizmoDragSwapsTheTransforms) {
  NHSObject* cube = Add();
  const Matrix3x4 before = Translation(1, 2, 3);
  const Matrix3x4 after = Translation(-4, 5, 0.5);
  cube->SetTransform(before);
  scene.SelectObject(cube->GetUID());
  PushCommand(new SceneObjectTransformCmd(cube));
  cube->SetTransform(after);
  UndoLastCommand();
  EXPECT_TRUE(SameTransform(cube->GetTransform(), before));
  EXPECT_EQ(scene.GetSelectedId(), 0);
  RedoLastCommand();
  EXPECT_TRUE(SameTransform(cube->GetTransform(), after));
  // An id that names no node any more: nothing happens.
  const int32_t id = cube->GetUID();
  SceneObjectTransformCmd stale(cube);
  delete cube;
  ASSERT_EQ(FindSceneObject(id), nullptr);
  stale.Undo();
  EXPECT_EQ(GetCommandLabel(PeekUndoRedoCommand(false)), std::string("unknown"));
}

// ---- commands on the tracking data

// The point's flags without the scene's mark of the points seen in the shown image, which
// the scene refreshes whenever a command hands it the points.
uint32_t Flags(const SharedPtr<FeaturePoint3D>& p) {
  return p->GetFlags() & ~uint32_t(FP3D_FLAG_SEEN);
}

std::vector<uint32_t> AllFlags(const TrackerJob& job) {
  std::vector<uint32_t> flags;
  for (const auto& p : job.points) flags.push_back(Flags(p));
  return flags;
}

TEST(TrackingCommandsTest, DeletingPointsSwapsTheRemovedFlags) {
  TrackerJob job;
  const std::vector<uint32_t> before = AllFlags(job);
  PushCommand(new SceneDeleteFPoint3DCmd(&job.tracker, &job.tracker.GetScene()));
  job.points[0]->SetFlags(FP3D_FLAG_REMOVED);
  job.points[2]->SetFlags(FP3D_FLAG_REMOVED);
  const std::vector<uint32_t> after = AllFlags(job);
  UndoLastCommand();
  EXPECT_EQ(AllFlags(job), before);
  RedoLastCommand();
  EXPECT_EQ(AllFlags(job), after);
  EXPECT_EQ(UndoStack::Instance().GetSize(), 36 + 8 * TrackerJob::kTracks);
  EXPECT_EQ(GetCommandLabel(PeekUndoRedoCommand(false)), std::string("Delete 3D points"));
}

TEST(TrackingCommandsTest, ExportLimitIsUndoneAndNeverDropsUserPoints) {
  TrackerJob job;
  job.points[5]->SetFlags(FP3D_FLAG_NO_EXPORT);  // excluded by an earlier limit
  const std::vector<uint32_t> before = AllFlags(job);
  job.tracker.LimitNumFPoint3DExport(1);
  const std::vector<uint32_t> limited = AllFlags(job);
  EXPECT_FALSE(job.points[1]->TestFlags(FP3D_FLAG_NO_EXPORT));  // the user point stays
  int exported = 0;
  for (const auto& p : job.points) exported += !p->TestFlags(FP3D_FLAG_NO_EXPORT);
  EXPECT_LE(exported, 3);  // at most one chosen, plus the user point (and the removed one)
  EXPECT_NE(limited, before);
  UndoLastCommand();
  for (size_t i = 0; i < job.points.size(); ++i) {
    if (i == 4) continue;  // removed points are not the command's
    EXPECT_EQ(Flags(job.points[i]), before[i]) << i;
  }
  RedoLastCommand();
  EXPECT_EQ(AllFlags(job), limited);
  EXPECT_EQ(GetCommandLabel(PeekUndoRedoCommand(false)), std::string("3D export"));
}

TEST(TrackingCommandsTest, RemovingAMidTrackStretchIsUndoneExactly) {
  TrackerJob job;
  const auto& track = job.tracks[2];
  const SharedPtr<FeatureCorrespondence> last_link = track[3]->GetPredecessor();
  const std::vector<SharedPtr<FeaturePoint2D>> frame1 =
      job.tracker.GetImageList()[1]->GetFPoints2D();
  const std::vector<FeatureTrackSegment> segments{{track[1].Get(), track[2].Get()}};
  PushCommand(new RemoveFeatureTracksCmd(&job.tracker, segments));
  job.tracker.RemoveFeatureTracks(segments);
  ASSERT_FALSE(track[0]->GetSuccessor());
  ASSERT_FALSE(track[3]->GetPredecessor());
  ASSERT_TRUE(job.points[2]->TestFlags(FP3D_FLAG_REMOVED));

  for (int round = 0; round < 2; ++round) {
    UndoLastCommand();
    for (int k = 0; k + 1 < TrackerJob::kFrames; ++k) {
      ASSERT_TRUE(track[size_t(k)]->GetSuccessor()) << k;
      EXPECT_EQ(track[size_t(k)]->GetSuccessor()->GetSecond(), track[size_t(k) + 1]);
      EXPECT_EQ(track[size_t(k) + 1]->GetPredecessor(), track[size_t(k)]->GetSuccessor());
    }
    EXPECT_EQ(track[3]->GetPredecessor(), last_link);  // after the stretch: untouched
    EXPECT_EQ(job.tracker.GetImageList()[1]->GetFPoints2D(), frame1);  // same place in the list
    EXPECT_FALSE(job.points[2]->TestFlags(FP3D_FLAG_REMOVED));
    RedoLastCommand();
    EXPECT_FALSE(track[0]->GetSuccessor());
    EXPECT_EQ(job.tracker.GetImageList()[1]->GetFPoints2D().size(), frame1.size() - 1);
    EXPECT_TRUE(job.points[2]->TestFlags(FP3D_FLAG_REMOVED));
  }
  EXPECT_EQ(UndoStack::Instance().GetSize(), 32 + 8 * 2);
  EXPECT_EQ(GetCommandLabel(PeekUndoRedoCommand(false)), std::string("Remove feature tracks"));
  UndoLastCommand();  // leave the job whole for its teardown
}

TEST(TrackingCommandsTest, VertexObjectEditsSwapThePool) {
  TrackerJob job;
  VertexObjectPool& pool = job.tracker.GetVertexObjectPool();
  Vertex& selected = pool.GetPolygonMasks().front().GetVertices().front();
  UIDRegistry::Instance().SetSelected(selected.GetUID(), true);
  const std::string before = kxtest::DescribeVertexObjects(pool);

  PushCommand(new VertexObjectPoolCmd(&pool, 0));
  std::vector<Vertex> vertices(3);
  for (int i = 0; i < 3; ++i) vertices[size_t(i)].SetKey(0, {5.0, 1.0 + i, 0.0});
  pool.AddPolygonMask(TrackerJob::kFrames, vertices, 0);  // a mask closed by the user
  const std::string after = kxtest::DescribeVertexObjects(pool);
  const int32_t new_mask = pool.GetPolygonMasks().back().GetUID();

  UndoLastCommand();
  EXPECT_EQ(kxtest::DescribeVertexObjects(pool), before);
  EXPECT_EQ(pool.GetPolygonMasks().size(), 1u);
  for (const Vertex& v : pool.GetPolygonMasks().front().GetVertices()) {
    EXPECT_FALSE(UIDRegistry::Instance().IsSelected(v.GetUID()));
  }
  RedoLastCommand();
  EXPECT_EQ(kxtest::DescribeVertexObjects(pool), after);
  EXPECT_EQ(pool.GetPolygonMasks().back().GetUID(), new_mask);  // the very object is back
  // The copy's real bytes, not a token figure.
  EXPECT_GT(UndoStack::Instance().GetSize(), long(2 * sizeof(PolygonMask)));

  struct Case {
    int kind;
    const char* label;
  };
  for (const Case& c : {Case{0, "Create Polygon Object"}, Case{1, "Move Polygon Object"},
                        Case{2, "Delete Polygon Object"}, Case{7, "unknown"}}) {
    VertexObjectPoolCmd cmd(&pool, c.kind);
    EXPECT_EQ(GetCommandLabel(&cmd), std::string(c.label));
  }
  EXPECT_EQ(GetCommandLabel(nullptr), std::string("unknown"));
}

TEST(TrackingCommandsTest, MissingMapOrTrackerDoesNothing) {
  kxtest::LogCapture log(5);
  LimitNumFPoint3DExportCmd limit(nullptr);
  EXPECT_EQ(limit.GetCommandSize(), 72);
  limit.CreateCommand();
  limit.Undo();
  SceneDeleteFPoint3DCmd remove(nullptr, nullptr);
  EXPECT_EQ(remove.GetCommandSize(), 36);
  remove.CreateCommand();
  remove.Undo();
  RemoveFeatureTracksCmd tracks(nullptr, {});
  tracks.Undo();
  tracks.Redo();
  EXPECT_TRUE(log.Has("LimitNumFPoint3DExportCmd::Undo: meta camera tracker not set"));
  EXPECT_TRUE(
      log.Has("SceneDeleteFPoint3DCmd::CreateCommand: tracking manager or feature map "
              "not set!"));
  EXPECT_TRUE(log.Has("RemoveFeatureTracksCmd::Redo: tracking manager or feature map not set"));
}

}  // namespace
}  // namespace uic

namespace uic {
namespace {

TEST(SceneTransformCommandTest, UndoAppliesTheInverseAndASingularMoveUndoesNothing) {
  kxtest::TrackerJob job;
  Scene& scene = job.tracker.GetScene();
  const vm::Vector3 before(*job.points[2]);
  const Matrix4x4 move{{0, -1, 0, 10, 1, 0, 0, -5, 0, 0, 1, 2, 0, 0, 0, 1}};
  PushCommand(new SceneTransformCmd(&job.tracker, &scene, move));
  job.tracker.TransformScene(move.m);
  EXPECT_EQ(job.points[2]->x, 10.0 - before.y);
  UndoLastCommand();
  EXPECT_NEAR((vm::Vector3(*job.points[2]) - before).Length(), 0.0, 1e-12);
  RedoLastCommand();
  EXPECT_EQ(job.points[2]->y, before.x - 5.0);

  const Matrix4x4 flat{{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  PushCommand(new SceneTransformCmd(&job.tracker, &scene, flat));
  const vm::Vector3 now(*job.points[2]);
  UndoLastCommand();  // the identity stands in for the missing inverse
  EXPECT_EQ(vm::Vector3(*job.points[2]).x, now.x);
  EXPECT_EQ(vm::Vector3(*job.points[2]).y, now.y);
  EXPECT_EQ(GetCommandLabel(PeekUndoRedoCommand(true)), std::string("Scene transform"));
  MovedSceneCmd moved(nullptr, nullptr);  // the scene view's moves are named here too
  EXPECT_EQ(GetCommandLabel(&moved), std::string("Move scene"));
}

}  // namespace
}  // namespace uic
