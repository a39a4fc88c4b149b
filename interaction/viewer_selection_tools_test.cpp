#include <gtest/gtest.h>

#include <cmath>

#include "foundation/runtime/uid_registry.h"
#include "interaction/controller_job_for_test.h"
#include "scene/objects/nhs_object_handle.h"
#include "scene/objects/nhs_object_scene.h"
#include "scene/objects/primitives.h"
#include "scene/render/selection_render.h"
#include "scene/scene.h"
#include "tracking/objects/vertex_object_pool.h"

namespace {

using uic::ViewerBase;

bool Selected(const UIDBase* object) {
  return UIDRegistry::Instance().IsSelected(object->GetUID());
}

// A 720 x 576 job at frame 0 with neither features nor vertex objects of its own.
struct SelectionTools : ::testing::Test {
  SelectionTools() {
    pool().Clear();
    image().ClearFPoints2D();
    viewer.HandleCurrentFrameChanged();
  }
  VertexObjectPool& pool() { return job.tracker->GetVertexObjectPool(); }
  FeatureImage& image() { return *job.tracker->GetImageList()[0]; }
  FeaturePoint2D* AddFeature(double x, double y, uint32_t flags = 0) {
    auto f = SharedPtr<FeaturePoint2D>::Make(&image(), x, y);
    f->SetFlags(flags);
    image().AddFPoint2D(f);
    return f.Get();
  }
  PolygonMask* AddMask(double x0, double y0, double x1, double y1) {
    std::vector<Vertex> v(4);
    v[0].SetKey(0, {x0, y0, 0});
    v[1].SetKey(0, {x1, y0, 0});
    v[2].SetKey(0, {x1, y1, 0});
    v[3].SetKey(0, {x0, y1, 0});
    return pool().AddPolygonMask(kxtest::TrackerJobData::kFrames, v, 0);
  }
  int Click(double x, double y) {
    const double rect[4] = {x, y, x, y};
    return viewer.RectangleSelect(viewer.m_rubber_band, rect, true);
  }
  int SelectedVertices() {
    std::vector<UIDBase*> out;
    return UIDRegistry::Instance().CollectSelected(out, UID_TYPE_VERTEX, UID_TYPE_VERTEX);
  }

  kxtest::ControllerJob job{720, 576};
  kxtest::CountingViewer viewer;
};

TEST_F(SelectionTools, TheClickToleranceIsFiveViewPixelsAtAnyZoom) {
  FeaturePoint2D* f = AddFeature(100.0, 100.0);
  struct Case {
    double zoom, view_pixels;
    bool selected;
  } cases[] = {{2.0, 4.5, true},  {2.0, 6.0, false}, {1.0, 4.5, true},
               {1.0, 6.0, false}, {0.5, 9.0, false}, {0.5, 4.0, true}};
  for (const Case& c : cases) {
    kxtest::C().DeselectAll(true);
    viewer.m_zoom = c.zoom;
    Click(100.0 + c.view_pixels / c.zoom, 100.0);
    EXPECT_EQ(Selected(f), c.selected) << c.zoom << " " << c.view_pixels;
  }
}

TEST_F(SelectionTools, OnlyTheShownKindsOfFeaturesAreSelected) {
  FeaturePoint2D* tracked = AddFeature(50.0, 50.0);
  FeaturePoint2D* user = AddFeature(60.0, 50.0, 0x08);
  viewer.CurrentState()->m_flags &= ~ViewerBase::eShowUserFeatures;
  const double rect[4] = {40.0, 40.0, 70.0, 60.0};
  EXPECT_EQ(viewer.RectangleSelect(viewer.m_rubber_band, rect, true), 1);
  EXPECT_TRUE(Selected(tracked));
  EXPECT_FALSE(Selected(user));
  // The collecting form sees both and changes nothing.
  std::vector<UIDBase*> out;
  EXPECT_EQ(viewer.Get2DFeaturesWithinRectangle(&out, rect), 2);
  EXPECT_FALSE(Selected(user));
  // A click between two features keeps the nearer.
  kxtest::C().DeselectAll(true);
  viewer.CurrentState()->m_flags |= ViewerBase::eShowUserFeatures;
  viewer.m_zoom = 0.5;  // both within the tolerance
  Click(57.0, 50.0);
  EXPECT_FALSE(Selected(tracked));
  EXPECT_TRUE(Selected(user));
}

TEST_F(SelectionTools, ACircleAddsAndWithShiftRemoves) {
  FeaturePoint2D* near = AddFeature(100.0, 100.0);
  FeaturePoint2D* far = AddFeature(100.0, 130.0);
  viewer.m_zoom = 1.0;
  viewer.m_select_rect[2] = 100.0;
  viewer.m_select_rect[3] = 105.0;
  viewer.m_rubber_band.Init(300, 300, 10);
  EXPECT_EQ(viewer.CircleSelect(viewer.m_rubber_band, viewer.m_select_rect, true), 1);
  EXPECT_TRUE(Selected(near));
  EXPECT_FALSE(Selected(far));
  viewer.m_key = ViewerBase::kKeyShift;
  viewer.CircleSelect(viewer.m_rubber_band, viewer.m_select_rect, true);
  EXPECT_FALSE(Selected(near));
}

TEST_F(SelectionTools, AClickTakesTheNearerOfTwoMasksVertices) {
  PolygonMask* a = AddMask(100, 100, 200, 200);
  PolygonMask* b = AddMask(203, 100, 300, 200);
  viewer.m_zoom = 0.5;  // 10 image pixels of tolerance: both corners in reach
  Click(202.0, 100.0);
  EXPECT_EQ(SelectedVertices(), 1);
  EXPECT_TRUE(Selected(b));
  EXPECT_FALSE(Selected(a));
  EXPECT_TRUE(Selected(&b->GetVertices().front()));
}

TEST_F(SelectionTools, AClickInNestedMasksTakesTheInnerOne) {
  PolygonMask* outer = AddMask(100, 100, 400, 400);
  PolygonMask* inner = AddMask(200, 200, 300, 300);
  Click(250.0, 250.0);
  EXPECT_EQ(SelectedVertices(), 4);
  EXPECT_TRUE(Selected(inner));
  EXPECT_FALSE(Selected(outer));
  for (const Vertex& v : inner->GetVertices()) EXPECT_TRUE(Selected(&v));
}

TEST_F(SelectionTools, AClickNearALineTakesItsVertices) {
  std::vector<Vertex> v(2);
  v[0].SetKey(0, {100, 100, 0});
  v[1].SetKey(0, {100, 400, 0});
  LineStrip* line = pool().AddLineStrip(v, 0, 0, kxtest::TrackerJobData::kFrames - 1);
  viewer.CurrentState()->m_flags |= ViewerBase::eShowLines;
  Click(111.0, 250.0);
  EXPECT_EQ(SelectedVertices(), 0);
  Click(109.0, 250.0);
  EXPECT_EQ(SelectedVertices(), 2);
  EXPECT_TRUE(Selected(line));
}

TEST_F(SelectionTools, UnderTheUndistortedDisplayAClickIntoAMaskGoesThroughTheLens) {
  PolygonMask* mask = AddMask(100, 100, 300, 300);
  viewer.CurrentState()->m_flags |= ViewerBase::eShowUndistorted;
  // A lens that shows a stored point just inside the mask's corner outside of it.
  double x = 0.0, y = 0.0;
  for (double k : {1e-6, -1e-6, 1e-3, -1e-3, 1e-1, -1e-1}) {
    image().SetDistortion(k, 0.0, 0, nullptr);
    image().Undistort(200.0, 102.0, x, y, false);
    if (y < 100.0 && y > 90.0) break;
  }
  ASSERT_TRUE(y < 100.0 && y > 90.0) << x << " " << y;
  Click(x, y);
  EXPECT_TRUE(Selected(mask));
}

TEST_F(SelectionTools, HitTestsAtAViewPixel) {
  AddFeature(100.0, 100.0);
  viewer.m_zoom = 1.0;
  viewer.m_offset_x = viewer.m_offset_y = 0;
  EXPECT_TRUE(viewer.IsObjectAt(100, 100));
  EXPECT_FALSE(viewer.IsSelectedObjectAt(100, 100));
  Click(100.0, 100.0);
  EXPECT_TRUE(viewer.IsSelectedObjectAt(100, 100));
  EXPECT_FALSE(viewer.IsObjectAt(300, 300));
}

TEST_F(SelectionTools, AClickOnASceneObjectAttachesTheGizmo) {
  Scene* scene = kxtest::C().GetScene();
  viewer.CurrentState()->m_mode = 1;
  viewer.ActiveObserver().SetDistance(10.0);
  auto* cube = new NHSObject_Cuboid();
  cube->SetCorners({-1, -1, -1}, {1, 1, 1});
  scene->AddChild(cube);
  viewer.Redraw();
  // A view pixel showing the cube.
  int px = -1, py = -1;
  for (int y = 0; y < viewer.GetHeight() && px < 0; y += 2) {
    for (int x = 0; x < viewer.GetWidth(); x += 2) {
      if (PickObjectAt(viewer.m_render_context, scene, x, y) == cube->GetUID()) {
        px = x;
        py = y;
        break;
      }
    }
  }
  ASSERT_GE(px, 0);
  // A drag over it selects it through the renderer; a click attaches the gizmo.
  viewer.m_gizmo_scale = true;
  viewer.m_rubber_band.Init(px, py, 0);
  EXPECT_EQ(viewer.RectangleSelect(viewer.m_rubber_band, viewer.m_select_rect, true), 1);
  EXPECT_EQ(scene->GetSelectedId(), cube->GetUID());
  ASSERT_NE(scene->GetGizmo(), nullptr);
  EXPECT_EQ(scene->GetGizmo()->GetMode(), NHSObject_Handle::kScale);
}

// A small cube at the middle of the scene view: the tools find it where it is drawn, not
// half a view away.
TEST_F(SelectionTools, SceneToolsFindTheObjectWhereItIsDrawn) {
  Scene* scene = kxtest::C().GetScene();
  viewer.CurrentState()->m_mode = 1;
  viewer.ActiveObserver().SetDistance(60.0);
  auto* cube = new NHSObject_Cuboid();
  cube->SetCorners({-1, -1, -1}, {1, 1, 1});
  scene->AddChild(cube);
  viewer.Redraw();
  const int cx = viewer.GetWidth() / 2, cy = viewer.GetHeight() / 2;
  ASSERT_EQ(PickObjectAt(viewer.m_render_context, scene, cx, cy), cube->GetUID());
  ASSERT_EQ(PickObjectAt(viewer.m_render_context, scene, cx - 40, cy), 0);

  viewer.m_rubber_band.Init(cx - 40, cy, 0);
  EXPECT_EQ(viewer.RectangleSelect(viewer.m_rubber_band, viewer.m_select_rect, true), 0);
  viewer.m_rubber_band.Init(cx, cy, 0);
  EXPECT_EQ(viewer.RectangleSelect(viewer.m_rubber_band, viewer.m_select_rect, true), 1);
  EXPECT_TRUE(Selected(cube));
  kxtest::C().DeselectAll(true);

  viewer.m_rubber_band.Init(cx - 40, cy - 40, 0);
  viewer.m_rubber_band.Update(cx + 40, cy + 40);  // the job's 3D points too
  EXPECT_GE(viewer.RectangleSelect(viewer.m_rubber_band, viewer.m_select_rect, true), 1);
  EXPECT_TRUE(Selected(cube));
  kxtest::C().DeselectAll(true);

  viewer.m_rubber_band.Init(cx, cy, 4);
  viewer.CircleSelect(viewer.m_rubber_band, viewer.m_select_rect, true);
  EXPECT_TRUE(Selected(cube));
  kxtest::C().DeselectAll(true);

  // The lasso comes from the widget measured from the projection centre.
  viewer.SetLassoPolygon({{-40, -40}, {40, -40}, {40, 40}, {-40, 40}});
  EXPECT_GE(viewer.LassoSelect(true), 1);
  EXPECT_TRUE(Selected(cube));
  kxtest::C().DeselectAll(true);
  cube->Unlink();
  delete cube;
}

}  // namespace
