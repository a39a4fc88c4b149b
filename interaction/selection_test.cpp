#include "interaction/selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_flags.h"
#include "interaction/controller_job_for_test.h"
#include "interaction/undo_commands.h"
#include "interaction/undo_stack.h"
#include "scene/objects/nhs_object.h"
#include "scene/scene.h"
#include "testing/log_capture.h"
#include "tracking/objects/vertex_object_pool.h"

namespace uic {
namespace {

using kxtest::C;
using kxtest::ControllerJob;
using kxtest::GroupViewer;
using kxtest::LogCapture;
using kxtest::NotificationRecorder;
using Names = std::vector<std::string>;

void Select(const UIDBase& object) {
  UIDRegistry::Instance().SetSelected(object.GetUID(), true);
}

TEST(SelectionTest, DeselectingAllSendsOnceUnlessSilent) {
  ControllerJob job;
  Scene& scene = job.tracker->GetScene();
  auto* cube = new NHSObject(NHS_TYPE_CUBOID);
  scene.AddChild(cube);
  scene.SelectObject(cube->GetUID());
  Select(*job.tracks[0][0]);
  Select(*job.points[1]);
  NotificationRecorder rec;
  EXPECT_TRUE(C().DeselectAll(true));
  EXPECT_TRUE(rec.names.empty());
  EXPECT_FALSE(UIDRegistry::Instance().AnySelected());
  EXPECT_EQ(scene.GetSelectedId(), 0);
  Select(*job.points[1]);
  C().DeselectAll(false);
  EXPECT_EQ(rec.names, (Names{"selection"}));
}

TEST(SelectionTest, ThePointsBehindTheSelection) {
  ControllerJob job;
  std::vector<FeaturePoint3D*> points;
  EXPECT_EQ(C().GetSelectedPoints3D(points), 0);
  Select(*job.points[0]);
  Select(*job.points[4]);  // removed: never
  Select(*job.points[5]);
  EXPECT_EQ(C().GetSelectedPoints3D(points), 2);
  std::sort(points.begin(), points.end());  // the order aside
  std::vector<FeaturePoint3D*> want{job.points[0].Get(), job.points[5].Get()};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(points, want);
  // With 2D features selected, only the points behind them.
  Select(*job.tracks[2][1]);
  Select(*job.tracks[4][0]);  // its point is removed
  EXPECT_EQ(C().GetSelectedPoints3D(points), 1);
  EXPECT_EQ(points[0], job.points[2].Get());

  C().MoveOrbitCenterToSelection();
  const vm::Vector3 c = job.tracker->GetScene().GetOrbitCenter();
  EXPECT_EQ(c.x, job.points[2]->x);
  EXPECT_EQ(c.z, job.points[2]->z);
}

TEST(SelectionTest, VerticesMoveAndScaleAboutTheirMeanAtTheCurrentFrame) {
  ControllerJob job;
  VertexObjectPool& pool = job.tracker->GetVertexObjectPool();
  LineStrip& line = pool.GetLineStrips().front();
  auto it = line.GetVertices().begin();
  Vertex* a = &*it++;
  Vertex* b = &*it;
  line.SetVertexPosition(a, {0.0, 0.0, 0.0}, 0);
  line.SetVertexPosition(b, {10.0, 0.0, 0.0}, 0);
  EXPECT_FALSE(C().HasSelectedVertices());
  EXPECT_EQ(C().GetSelectedVertexObject(), nullptr);
  C().ZoomVertices(1.1);  // nothing selected: nothing happens, no division by zero
  Select(*a);
  Select(*b);
  EXPECT_TRUE(C().HasSelectedVertices());
  EXPECT_EQ(C().GetSelectedVertexObject(), &line);
  C().ZoomVertices(1.1);
  vm::Vector3 p;
  ASSERT_TRUE(line.GetVertexPosition(&p, a, 0));
  EXPECT_NEAR(p.x, -0.5, 1e-12);
  EXPECT_EQ(p.y, 0.0);
  ASSERT_TRUE(line.GetVertexPosition(&p, b, 0));
  EXPECT_NEAR(p.x, 10.5, 1e-12);
  C().MoveSelectedVertices(2.0, -3.0);
  ASSERT_TRUE(line.GetVertexPosition(&p, b, 0));
  EXPECT_NEAR(p.x, 12.5, 1e-12);
  EXPECT_EQ(p.y, -3.0);
}

TEST(SelectionTest, TheSelectionFollowsItsTracksIntoANewFrame) {
  ControllerJob job;
  Select(*job.tracks[1][0]);
  Select(*job.tracks[3][0]);
  NotificationRecorder rec;
  C().SetCurrentFrame(2, false);
  UIDRegistry& registry = UIDRegistry::Instance();
  EXPECT_TRUE(registry.IsSelected(job.tracks[1][2]->GetUID()));
  EXPECT_TRUE(registry.IsSelected(job.tracks[3][2]->GetUID()));
  EXPECT_TRUE(registry.IsSelected(job.tracks[1][0]->GetUID()));  // the old ones stay
  EXPECT_FALSE(registry.IsSelected(job.tracks[1][1]->GetUID()));
  EXPECT_EQ(rec.names, (Names{"selection", "status", "frame"}));

  // A track that ends before the new frame selects nothing and sends nothing.
  C().DeselectAll(true);
  UnlinkFromTrack(job.tracks[0][2]);
  Select(*job.tracks[0][1]);
  rec.names.clear();
  C().SelectTrackPointsInFrame(3);
  EXPECT_TRUE(rec.names.empty());
  EXPECT_FALSE(registry.IsSelected(job.tracks[0][3]->GetUID()));
}

// ---- ground alignment

struct Snapshot {
  std::vector<vm::Vector3> values;
  explicit Snapshot(const ControllerJob& job) {
    for (const auto& image : job.tracker->GetImageList()) {
      for (const vm::Vector3& v : {image->GetC(), image->GetA(), image->GetH(), image->GetV()}) {
        values.push_back(v);
      }
    }
    for (const auto& p : job.points) values.push_back(vm::Vector3(*p));
  }
  double Distance(const Snapshot& other) const {
    double d = 0.0;
    for (size_t i = 0; i < values.size(); ++i) {
      d = std::max(d, (values[i] - other.values[i]).Length());
    }
    return d;
  }
};

void PlacePoints(ControllerJob& job) {
  const vm::Vector3 at[6] = {{10, 20, 300}, {0, 0, 0}, {-40, 25, 310},
                             {5, -30, 280}, {0, 0, 0}, {20, 40, 290}};
  for (size_t i = 0; i < 6; ++i) {
    job.points[i]->x = at[i].x;
    job.points[i]->y = at[i].y;
    job.points[i]->z = at[i].z;
  }
  // Cameras apart, so that every camera moves differently.
  for (size_t k = 0; k < job.tracker->GetImageList().size(); ++k) {
    Matrix4x4 shift{{1, 0, 0, 30.0 * double(k), 0, 1, 0, 5.0, 0, 0, 1, 0, 0, 0, 0, 1}};
    job.tracker->GetImageList()[k]->Transform(shift);
  }
}

TEST(GroundAlignmentTest, ThreeSelectedPointsBecomeTheGroundAndOneUndoRestoresAll) {
  ControllerJob job;
  GroupViewer viewer;
  PlacePoints(job);
  auto* cube = new NHSObject(NHS_TYPE_CUBOID);
  job.tracker->GetScene().AddChild(cube);
  const Matrix3x4 cube_before = cube->GetTransform();
  for (size_t i : {0, 2, 3}) Select(*job.points[i]);
  const Snapshot before(job);
  Tools::AlignGroundGridToSelection(&viewer, job.tracker);
  for (size_t i : {0, 2, 3}) EXPECT_NEAR(job.points[i]->y, 0.0, 1e-9) << i;
  EXPECT_GT(Snapshot(job).Distance(before), 1.0);
  EXPECT_EQ(viewer.redraws, 1);
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 1);
  EXPECT_EQ(GetCommandLabel(PeekUndoRedoCommand(false)), std::string("Scene transform"));
  // No fitted plane is left behind.
  for (NHSObject* c = job.tracker->GetScene().GetFirstChild(); c; c = c->GetNextSibling()) {
    EXPECT_TRUE(c == cube || !c->IsSceneObject());
  }

  UndoLastCommand();
  EXPECT_LT(Snapshot(job).Distance(before), 1e-9);
  for (int i = 0; i < 12; ++i) {
    EXPECT_NEAR(cube->GetTransform().m[i], cube_before.m[i], 1e-12) << i;
  }
  RedoLastCommand();
  for (size_t i : {0, 2, 3}) EXPECT_NEAR(job.points[i]->y, 0.0, 1e-9) << i;
}

TEST(GroundAlignmentTest, FourCoplanarPointsAreFittedToo) {
  ControllerJob job;
  GroupViewer viewer;
  PlacePoints(job);
  // points 0, 2, 3 and a fourth on their plane
  const vm::Vector3 p0(*job.points[0]), p2(*job.points[2]), p3(*job.points[3]);
  const vm::Vector3 p5 = p0 + (p2 - p0) * 0.3 + (p3 - p0) * 0.6;
  job.points[5]->x = p5.x;
  job.points[5]->y = p5.y;
  job.points[5]->z = p5.z;
  for (size_t i : {0, 2, 3, 5}) Select(*job.points[i]);
  Tools::AlignGroundGridToSelection(&viewer, job.tracker);
  for (size_t i : {0, 2, 3, 5}) EXPECT_NEAR(job.points[i]->y, 0.0, 1e-9) << i;
}

TEST(GroundAlignmentTest, TwoPointsAreNotEnough) {
  ControllerJob job;
  GroupViewer viewer;
  PlacePoints(job);
  Select(*job.points[0]);
  Select(*job.points[2]);
  const Snapshot before(job);
  LogCapture log(5);
  Tools::AlignGroundGridToSelection(&viewer, job.tracker);
  EXPECT_TRUE(log.Has("Tools::AlignGroundGridToSelection: nothing selected"));
  EXPECT_EQ(Snapshot(job).Distance(before), 0.0);
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 0);
  EXPECT_EQ(viewer.redraws, 0);
}

TEST(GroundAlignmentTest, ASelectedObjectsXyPlaneBecomesTheGround) {
  ControllerJob job;
  GroupViewer viewer;
  auto* cube = new NHSObject(NHS_TYPE_CUBOID);
  job.tracker->GetScene().AddChild(cube);
  // Turned 30 degrees about x, scaled by 2, moved to (1, 2, 3).
  Matrix3x3 r;
  r.SetRotation({1.0, 0.0, 0.0}, M_PI / 6);
  Matrix3x4 t{};
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) t[i][k] = 2.0 * r[i][k];
  }
  t[0][3] = 1.0;
  t[1][3] = 2.0;
  t[2][3] = 3.0;
  cube->SetTransform(t);
  Select(*cube);
  Tools::AlignGroundGridToSelection(&viewer, job.tracker);
  EXPECT_EQ(viewer.redraws, 1);
  const Matrix3x4& m = cube->GetTransform();
  // Origin at the world origin, x along +x, z (normal of its xy plane) along +y.
  const double want[12] = {2, 0, 0, 0, 0, 0, 2, 0, 0, -2, 0, 0};
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(m.m[i], want[i], 1e-12) << i;

  Matrix4x4 result;
  LogCapture log(5);
  Tools::align_ground_grid(nullptr, cube, result, &job.tracker->GetScene());
  EXPECT_TRUE(log.Has("Tools::align_ground_grid: camera tracking manager null"));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(result.m[i], i % 5 == 0 ? 1.0 : 0.0);
}

}  // namespace
}  // namespace uic
