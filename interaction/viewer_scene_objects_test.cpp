#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "interaction/controller_job_for_test.h"
#include "interaction/undo_commands.h"
#include "interaction/viewer.h"
#include "scene/objects/nhs_object_handle.h"
#include "scene/objects/nhs_object_scene.h"
#include "scene/objects/primitives.h"
#include "scene/render/selection_render.h"
#include "scene/scene.h"

namespace {

using uic::ViewerBase;

// A cube ten units in front of a camera with a focal length of 100 pixels that maps world
// points to (x w, y w, w), w the depth.
struct GizmoFixture : ::testing::Test {
  GizmoFixture() {
    root.AddChild(cube);
    Matrix3x4& t = cube->GetTransform();
    t = Identity();
    t[2][3] = 10.0;
    P = Identity();
    P[0][0] = P[1][1] = 100.0;
    root.SelectObject(cube->GetUID());
  }
  static Matrix3x4 Identity() {
    Matrix3x4 M{};
    M[0][0] = M[1][1] = M[2][2] = 1.0;
    return M;
  }
  bool Finite() const {
    for (double v : cube->GetTransform().m) {
      if (!std::isfinite(v)) return false;
    }
    return true;
  }
  double At(int r, int c) const { return cube->GetTransform()[r][c]; }

  uic::Viewer viewer;
  NHSObject_Scene root;
  NHSObject_Cuboid* cube = new NHSObject_Cuboid();
  Matrix3x4 P;
};

TEST_F(GizmoFixture, TurnsOnlyAcrossTheAxisOnScreen) {
  viewer.DragGizmo(P, 100.0, 0.0, 1, cube);  // along x on screen
  EXPECT_DOUBLE_EQ(At(1, 1), 1.0);
  EXPECT_DOUBLE_EQ(At(2, 1), 0.0);
  viewer.DragGizmo(P, 0.0, 100.0, 1, cube);  // across it: about one radian about x
  const double angle = 1.0 / std::sqrt(1.0 + 1e-5);
  EXPECT_NEAR(At(1, 1), std::cos(angle), 1e-12);
  EXPECT_NEAR(At(2, 1), std::sin(angle), 1e-12);
  EXPECT_DOUBLE_EQ(At(0, 0), 1.0);  // the x axis itself stays
  EXPECT_DOUBLE_EQ(At(2, 3), 10.0);
  // The gizmo follows the object.
  ASSERT_NE(root.GetGizmo(), nullptr);
  EXPECT_NEAR(root.GetGizmo()->GetTransform()[2][1], std::sin(angle), 1e-12);
}

TEST_F(GizmoFixture, ScalesAlongOneAxisOrAll) {
  struct Case {
    int code;
    double dx, dy;
    double sx, sy, sz;
  } cases[] = {
      {7, 70.0, 0.0, 2.00676, 1.0, 1.0},   // 1.01^70
      {7, -70.0, 0.0, 0.49831, 1.0, 1.0},  // 1.01^-70
      {8, 0.0, 70.0, 1.0, 2.00676, 1.0},   // y is down the screen
      {7, 0.0, 70.0, 1.0, 1.0, 1.0},       // across x: nothing
      {10, 70.0, 70.0, 2.00676, 2.00676, 1.0}, {13, 70.0, 0.0, 2.00676, 2.00676, 2.00676},
  };
  for (const Case& c : cases) {
    cube->GetTransform() = Identity();
    cube->GetTransform()[2][3] = 10.0;
    viewer.DragGizmo(P, c.dx, c.dy, c.code, cube);
    SCOPED_TRACE(c.code);
    EXPECT_NEAR(At(0, 0), c.sx, 5e-6);
    EXPECT_NEAR(At(1, 1), c.sy, 5e-6);
    EXPECT_NEAR(At(2, 2), c.sz, 5e-6);
  }
}

TEST_F(GizmoFixture, MovesByTheMotionAtTheObjectsDepth) {
  viewer.DragGizmo(P, 10.0, 0.0, 14, cube);  // 10 px at depth 10, focal 100: 1 unit
  EXPECT_NEAR(At(0, 3), 1.0, 1e-12);
  viewer.DragGizmo(P, 10.0, 20.0, 17, cube);  // x then y
  EXPECT_NEAR(At(0, 3), 2.0, 1e-12);
  EXPECT_NEAR(At(1, 3), 2.0, 1e-12);
  EXPECT_NEAR(At(2, 3), 10.0, 1e-12);
  viewer.DragGizmo(P, 10.0, 0.0, 0, cube);  // no part: nothing
  EXPECT_NEAR(At(0, 3), 2.0, 1e-12);
}

TEST_F(GizmoFixture, AnAxisPointingAtTheViewerNeverMakesTheTransformNaN) {
  // Depth the same everywhere: the z axis has no screen image at all.
  P[2][2] = 0.0;
  P[2][3] = 10.0;
  for (int code = 1; code <= 19; ++code) {
    viewer.DragGizmo(P, 13.0, -7.0, code, cube);
    ASSERT_TRUE(Finite()) << "code " << code;
  }
  // The z axis seen end-on: no turn, scale or move along it.
  cube->GetTransform() = Identity();
  cube->GetTransform()[2][3] = 10.0;
  for (int code : {3, 9, 16}) viewer.DragGizmo(P, 13.0, -7.0, code, cube);
  const Matrix3x4 expected = [] {
    Matrix3x4 M = GizmoFixture::Identity();
    M[2][3] = 10.0;
    return M;
  }();
  for (int i = 0; i < 12; ++i) EXPECT_DOUBLE_EQ(cube->GetTransform().m[i], expected.m[i]);
}

TEST(SceneObjects, APlaneIsTurnedToFaceTheCamera) {
  uic::Viewer viewer;
  FeatureImage image;
  image.Set({0, 0, 0}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}, 64, 48, 0.0, 1.0, 1.0, 0.0, 0, nullptr);
  NHSObject_Rect plane;
  plane.GetTransform() = GizmoFixture::Identity();  // z along the viewing direction
  viewer.OrientPlaneToCamera(image, &plane);
  EXPECT_DOUBLE_EQ(plane.GetTransform()[0][0], 1.0);
  EXPECT_DOUBLE_EQ(plane.GetTransform()[1][1], -1.0);
  EXPECT_DOUBLE_EQ(plane.GetTransform()[2][2], -1.0);
  viewer.OrientPlaneToCamera(image, &plane);  // now facing it: kept
  EXPECT_DOUBLE_EQ(plane.GetTransform()[2][2], -1.0);
}

TEST(SceneObjects, AddingAnObjectIsOneUndoStepAndSelectsNothing) {
  kxtest::ControllerJob job(64, 48);
  uic::Viewer viewer;
  uic::Controller& c = kxtest::C();
  Scene* scene = c.GetScene();
  ASSERT_NE(scene, nullptr);
  const int before = scene->CountChildren();
  UIDRegistry::Instance().SelectTypeRange(true, UID_TYPE_FEATURE_POINT_3D,
                                          UID_TYPE_FEATURE_POINT_3D);
  EXPECT_EQ(viewer.AddSceneObject(0), 0);
  EXPECT_EQ(scene->CountChildren(), before + 1);
  EXPECT_FALSE(UIDRegistry::Instance().AnySelected());
  EXPECT_TRUE(c.IsModified());
  UndoLastCommand();
  EXPECT_EQ(scene->CountChildren(), before);
  RedoLastCommand();
  EXPECT_EQ(scene->CountChildren(), before + 1);
  // A type the scene does not know makes nothing and records nothing.
  EXPECT_EQ(viewer.AddSceneObject(9), 0);
  EXPECT_EQ(scene->CountChildren(), before + 1);
}

TEST(SceneObjects, WithOnlyScalingOnOnlyTheScalePartsArePickable) {
  kxtest::ControllerJob job(64, 48);
  uic::Viewer viewer;
  viewer.CurrentState()->m_mode = 1;
  // The scene view draws only once a frame is shown.
  ASSERT_EQ(viewer.SetFImage(job.tracker->GetImageList()[0]), 0);
  Scene* scene = kxtest::C().GetScene();
  auto* cube = new NHSObject_Cuboid();
  cube->SetCorners({-1, -1, -1}, {1, 1, 1});
  scene->AddChild(cube);
  scene->SelectObject(cube->GetUID());
  ASSERT_NE(scene->GetGizmo(), nullptr);
  scene->GetGizmo()->SetModes(false, true, false);
  // Look at the cube from 10 units away.
  viewer.ActiveObserver().SetDistance(10.0);
  viewer.Redraw();
  std::set<int> parts;
  int gizmo_hits = 0;
  const int w = viewer.GetWidth(), h = viewer.GetHeight();
  for (int y = 0; y < h; y += 2) {
    for (int x = 0; x < w; x += 2) {
      if (!viewer.IsSelectedObjectAGizmo(x, y)) continue;
      ++gizmo_hits;
      parts.insert(scene->GetGizmo()->PickPart(PickObjectAt(viewer.m_render_context, scene, x, y)));
    }
  }
  EXPECT_GT(gizmo_hits, 0);
  for (int part : parts) EXPECT_TRUE(part == 7 || part == 8 || part == 9 || part == 13) << part;
}

}  // namespace
