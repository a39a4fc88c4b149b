#include <gtest/gtest.h>

#include "foundation/runtime/uid_registry.h"
#include "interaction/controller_job_for_test.h"
#include "interaction/undo_commands.h"
#include "scene/objects/primitives.h"
#include "scene/scene.h"
#include "tracking/objects/vertex_object_pool.h"

namespace {

using uic::ViewerBase;

// A viewer that only counts its redraws, so the observer motion of a drag stays readable
// (drawing the scene would apply and clear it).
class FakeViewer : public uic::Viewer {
 public:
  void Redraw() override { ++redraws; }
  void RedrawRect(const uic::RubberBand&, int) override { ++redraws; }
  void SetCursorShape(int shape) override { m_cursor_shape = shape; }
  int redraws = 0;
};

// A 720 x 576 job at frame 0 without vertex objects, shown at zoom 1 from the view's
// origin, so that view and image pixels agree.
struct Input : ::testing::Test {
  Input() {
    pool().Clear();
    viewer.HandleCurrentFrameChanged();
    viewer.m_zoom = 1.0;
    viewer.m_offset_x = viewer.m_offset_y = 0;
  }
  VertexObjectPool& pool() { return job.tracker->GetVertexObjectPool(); }
  uic::ViewerState& State() { return *viewer.CurrentState(); }
  void Key(int key) {
    viewer.KeyPressEvent(key);
    viewer.KeyReleaseEvent(key);
  }
  void Drag(int x0, int y0, int x1, int y1, int steps = 1) {
    viewer.MouseClickEvent(1, x0, y0);
    for (int i = 1; i <= steps; ++i)
      viewer.MouseMoveEvent(1, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
    viewer.MouseReleaseEvent(1, x1, y1);
  }
  int UndoDepth() {
    int n = 0;
    while (PeekUndoRedoCommand(false) != nullptr) {
      UndoLastCommand();
      ++n;
    }
    return n;
  }

  kxtest::ControllerJob job{720, 576};
  FakeViewer viewer;
};

TEST_F(Input, AHeldToolKeyNavigatesAndItsReleaseEndsTheTool) {
  State().m_mode = 1;
  viewer.KeyPressEvent('3');
  EXPECT_EQ(viewer.m_tool, 3);
  EXPECT_EQ(viewer.m_cursor_shape, 8);
  viewer.MouseClickEvent(1, 100, 100);
  viewer.MouseMoveEvent(1, 110, 104);
  EXPECT_EQ(viewer.m_observer_drag[0], 4.0);  // orbit: dy about x, dx about y
  EXPECT_EQ(viewer.m_observer_drag[1], 10.0);
  EXPECT_EQ(viewer.m_interaction & 3, 0);
  viewer.MouseReleaseEvent(1, 110, 104);
  viewer.KeyReleaseEvent('3');
  EXPECT_EQ(viewer.m_tool, 0);
  // The next drag draws a selection rectangle.
  viewer.MouseClickEvent(1, 100, 100);
  EXPECT_EQ(viewer.m_interaction & 3, ViewerBase::kInteractionRectangle);
  viewer.MouseMoveEvent(1, 130, 120);
  EXPECT_EQ(viewer.m_observer_drag[0], 4.0);
  EXPECT_EQ(viewer.m_rubber_band.m_max_x, 130);
  EXPECT_EQ(viewer.m_rubber_band.m_max_y, 120);
}

TEST_F(Input, DistanceKeysActOncePerPress) {
  State().m_mode = 1;
  viewer.ActiveObserver().SetDistance(200.0);
  viewer.KeyPressEvent('+');
  viewer.KeyPressEvent('+');  // the system's repetition of a held key
  EXPECT_DOUBLE_EQ(viewer.ActiveObserver().m_distance, 190.0);
  viewer.KeyReleaseEvent('+');
  viewer.ActiveObserver().SetDistance(200.0);
  Key('-');
  EXPECT_DOUBLE_EQ(viewer.ActiveObserver().m_distance, 210.0);
  // '+' typed with Shift is still '+'.
  viewer.ActiveObserver().SetDistance(200.0);
  Key(ViewerBase::kKeyShift + '+');
  EXPECT_DOUBLE_EQ(viewer.ActiveObserver().m_distance, 190.0);
}

TEST_F(Input, ArrowsPanByThreePercentOfTheImageWidth) {
  Key(257);
  EXPECT_EQ(viewer.m_offset_x, 21);
  Key(258);
  EXPECT_EQ(viewer.m_offset_y, -21);
  viewer.SetFImage(nullptr);
  Key(256);
  EXPECT_EQ(viewer.m_offset_x, 1);
}

TEST_F(Input, TheDisplayKeyCyclesThePointCloudBits) {
  const int start = State().m_flags;
  const int cycle[8] = {0x0, 0x4, 0x8, 0xC, 0x40, 0x44, 0x48, 0x4C};
  int at = 0;
  while (cycle[at] != (start & 0x4C)) ++at;
  for (int i = 1; i <= 8; ++i) {
    Key('d');
    EXPECT_EQ(State().m_flags & 0x4C, cycle[(at + i) % 8]);
    EXPECT_EQ(State().m_flags & ~0x4C, start & ~0x4C);
  }
  EXPECT_EQ(State().m_flags, start);
}

TEST_F(Input, UndoAndRedoKeysAreTheControlCharacters) {
  viewer.AddReferenceLine();
  ASSERT_EQ(pool().GetLineStrips().size(), 1u);
  Key(2074);  // Ctrl+Z
  EXPECT_TRUE(pool().GetLineStrips().empty());
  Key(2073);  // Ctrl+Y
  EXPECT_EQ(pool().GetLineStrips().size(), 1u);
  Key(ViewerBase::kKeyCtrl + 'Z');  // not undo
  EXPECT_EQ(pool().GetLineStrips().size(), 1u);
}

TEST_F(Input, ARectangleOnEmptySpaceReplacesTheSelectionUnlessShift) {
  FeatureImage& image = *job.tracker->GetImageList()[0];
  image.ClearFPoints2D();
  auto a = SharedPtr<FeaturePoint2D>::Make(&image, 100.0, 100.0);
  auto b = SharedPtr<FeaturePoint2D>::Make(&image, 300.0, 300.0);
  image.AddFPoint2D(a);
  image.AddFPoint2D(b);
  UIDRegistry& registry = UIDRegistry::Instance();
  registry.SetSelected(a->GetUID(), true);
  Drag(250, 250, 350, 350);
  EXPECT_FALSE(registry.IsSelected(a->GetUID()));
  EXPECT_TRUE(registry.IsSelected(b->GetUID()));
  viewer.m_key = ViewerBase::kKeyShift;
  Drag(50, 50, 150, 150);
  EXPECT_TRUE(registry.IsSelected(a->GetUID()));
  EXPECT_TRUE(registry.IsSelected(b->GetUID()));
}

TEST_F(Input, DraggingAMaskVertexIsOneUndoStepAndKeysTheFrame) {
  std::vector<Vertex> v(3);
  v[0].SetKey(0, {100, 100, 0});
  v[1].SetKey(0, {200, 100, 0});
  v[2].SetKey(0, {200, 200, 0});
  PolygonMask* mask = pool().AddPolygonMask(kxtest::TrackerJobData::kFrames, v, 0);
  ASSERT_NE(mask, nullptr);
  kxtest::C().SetCurrentFrame(2, true);
  viewer.HandleCurrentFrameChanged();
  ClearUndoStack();
  viewer.MouseClickEvent(1, 100, 100);  // picks the vertex
  viewer.MouseReleaseEvent(1, 100, 100);
  viewer.MouseClickEvent(1, 100, 100);  // presses on it, selected
  EXPECT_TRUE(viewer.m_drag_started);
  for (int i = 1; i <= 5; ++i) viewer.MouseMoveEvent(1, 100 + 2 * i, 100 + i);
  viewer.MouseReleaseEvent(1, 110, 105);
  const Vertex& moved = mask->GetVertices().front();
  EXPECT_EQ(moved.GetNumKeys(), 2);
  vm::Vector3 p;
  ASSERT_TRUE(mask->GetVertexPosition(&p, &moved, 2));
  EXPECT_DOUBLE_EQ(p.x, 110.0);
  EXPECT_DOUBLE_EQ(p.y, 105.0);
  ASSERT_TRUE(mask->GetVertexPosition(&p, &moved, 0));
  EXPECT_DOUBLE_EQ(p.x, 100.0);
  EXPECT_EQ(UndoDepth(), 1);
}

TEST_F(Input, ADragOnEmptySpaceWithAnObjectSelectedGrowsTheBand) {
  Scene* scene = kxtest::C().GetScene();
  auto* cube = new NHSObject_Cuboid();
  scene->AddChild(cube);
  scene->SelectObject(cube->GetUID());
  const Matrix3x4 before = cube->GetTransform();
  ClearUndoStack();
  viewer.MouseClickEvent(1, 500, 400);
  EXPECT_EQ(viewer.m_gizmo_handle, 0);
  viewer.MouseMoveEvent(1, 520, 430);
  EXPECT_EQ(viewer.m_rubber_band.m_max_x, 520);
  EXPECT_EQ(viewer.m_rubber_band.m_max_y, 430);
  EXPECT_EQ(PeekUndoRedoCommand(false), nullptr);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(cube->GetTransform().m[i], before.m[i]);
}

TEST_F(Input, CtrlClickAddsAFeatureOnlyInManualMode) {
  FeatureImage& image = *job.tracker->GetImageList()[0];
  struct Recorder : HasSlots {
    void Add(double x, double y, FeatureImage* i, CameraTrackingManager*) {
      calls.push_back({x, y});
      where = i;
    }
    std::vector<vm::Vector2> calls;
    FeatureImage* where = nullptr;
  } recorder;
  viewer.m_add_fpoint2d.Connect(&recorder, &Recorder::Add);
  viewer.SetEditMode(ViewerBase::eEditManualFeatures);
  viewer.MouseClickEvent(1, 400, 300);
  viewer.MouseReleaseEvent(1, 400, 300);
  EXPECT_TRUE(recorder.calls.empty());
  viewer.KeyPressEvent(ViewerBase::kKeyCtrl);
  EXPECT_EQ(viewer.m_cursor_shape, 10);
  viewer.MouseClickEvent(1, 400, 300);
  viewer.MouseReleaseEvent(1, 400, 300);
  ASSERT_EQ(recorder.calls.size(), 1u);
  EXPECT_DOUBLE_EQ(recorder.calls[0].x, 400.0);
  EXPECT_DOUBLE_EQ(recorder.calls[0].y, 300.0);
  EXPECT_EQ(recorder.where, &image);
}

TEST_F(Input, AMaskIsDrawnByClicksAndClosedOnItsFirstPoint) {
  viewer.SetEditMode(ViewerBase::eEditMask);
  Key('m');
  EXPECT_EQ(viewer.m_interaction, ViewerBase::kInteractionMask);
  const int points[3][2] = {{100, 100}, {300, 100}, {300, 300}};
  for (const auto& p : points) {
    viewer.MouseClickEvent(1, p[0], p[1]);
    viewer.MouseReleaseEvent(1, p[0], p[1]);
  }
  EXPECT_EQ(viewer.m_mask_points.size(), 3u);
  viewer.MouseClickEvent(1, 101, 101);  // the first point
  viewer.MouseReleaseEvent(1, 101, 101);
  ASSERT_EQ(pool().GetPolygonMasks().size(), 1u);
  EXPECT_EQ(pool().GetPolygonMasks().front().GetName(), "Mask_0");
  EXPECT_EQ(viewer.m_interaction & ViewerBase::kInteractionMask, 0);
}

TEST_F(Input, ResetKeyResetsViewAndSelection) {
  FeatureImage& image = *job.tracker->GetImageList()[0];
  ASSERT_FALSE(image.GetFPoints2D().empty());
  UIDRegistry::Instance().SetSelected(image.GetFPoints2D()[0]->GetUID(), true);
  viewer.m_offset_x = 77;
  viewer.ActiveObserver().SetDistance(33.0);
  viewer.m_manip_mode = ViewerBase::eManipGroundGrid;
  Key('r');
  EXPECT_FALSE(UIDRegistry::Instance().AnySelected());
  EXPECT_NE(viewer.m_offset_x, 77);
  EXPECT_NE(viewer.ActiveObserver().m_distance, 33.0);
  EXPECT_TRUE(viewer.m_scene_moved);
}

}  // namespace
