#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "foundation/runtime/uid_registry.h"
#include "interaction/controller_job_for_test.h"
#include "interaction/timeline_base.h"
#include "interaction/timeline_for_test.h"
#include "interaction/undo_stack.h"
#include "tracking/objects/vertex_object_pool.h"

namespace uic {
namespace {

using kxtest::ControllerJob;
using kxtest::Curve;
using kxtest::TestTimeline;
using Keys = std::set<TimelineBase::KeyRef>;

Controller& C() {
  return *Controller::Instance();
}

// A timeline of 300 x 100 pixels showing frame f at pixel 20 f + 50 and value v at row
// 60 - 2 v, over ten frames, with one line curve of points (2, 5), (5, 10), (7, 0).
struct LineFixture {
  kxtest::FramesJob frames{10};
  TestTimeline t;
  LineFixture() {
    t.SetSize(300, 100);
    t.Add(Curve(eCurveFocalLength, 0, {{2, 5.0}, {5, 10.0}, {7, 0.0}}));
    t.SetView(20.0, 2.0, 50, 60);
  }
  static int X(double frame) { return int(20 * frame + 50); }
  static int Y(double value) { return int(60 - 2 * value); }
};

TEST(TimelineInputTest, ClicksSelectPointsOrScrub) {
  LineFixture f;
  TestTimeline& t = f.t;
  // A click on empty space empties the selection and scrubs to the rounded frame.
  t.SelectKeyframes({5, 10, 5, 10});
  ASSERT_EQ(t.GetSelectedKeys(), (Keys{{0, 1}}));
  t.MouseClickEvent(1, f.X(3.6), f.Y(20));
  EXPECT_TRUE(t.GetSelectedKeys().empty());
  EXPECT_EQ(C().GetCurrentFrame(), 4);
  // A click on a selected point without Shift selects it again (and does not scrub).
  t.MouseClickEvent(1, f.X(5), f.Y(10));
  t.MouseClickEvent(1, f.X(5) + 1, f.Y(10) - 1);
  EXPECT_EQ(t.GetSelectedKeys(), (Keys{{0, 1}}));
  EXPECT_EQ(C().GetCurrentFrame(), 4);
  // Shift adds; a Shift click on a selected point drops it and keeps the frame while
  // others stay selected; dropping the last one scrubs.
  t.KeyPressEvent(TimelineBase::kKeyShift);
  t.MouseClickEvent(1, f.X(2), f.Y(5));
  EXPECT_EQ(t.GetSelectedKeys(), (Keys{{0, 0}, {0, 1}}));
  t.MouseClickEvent(1, f.X(5), f.Y(10));
  EXPECT_EQ(t.GetSelectedKeys(), (Keys{{0, 0}}));
  EXPECT_EQ(C().GetCurrentFrame(), 4);
  t.MouseClickEvent(1, f.X(2), f.Y(5));
  EXPECT_TRUE(t.GetSelectedKeys().empty());
  EXPECT_EQ(C().GetCurrentFrame(), 2);
  t.KeyReleaseEvent(0);
  // Beyond the images the frame is clamped.
  t.MouseClickEvent(1, f.X(30), f.Y(20));
  EXPECT_EQ(C().GetCurrentFrame(), 9);
  t.MouseClickEvent(1, 0, f.Y(20));
  EXPECT_EQ(C().GetCurrentFrame(), 0);
}

TEST(TimelineInputTest, FrameFromXIsMinusOneWithoutImages) {
  kxtest::FramesJob frames(0);
  TestTimeline t;
  EXPECT_EQ(t.FrameFromX(400), -1);
}

TEST(TimelineInputTest, DragsEditValuesScrubAndPan) {
  LineFixture f;
  TestTimeline& t = f.t;
  // Selected points of a line curve move with the pointer (display only).
  t.MouseClickEvent(1, f.X(5), f.Y(10));
  t.MouseDragEvent(1, f.X(5), f.Y(10) - 6);
  EXPECT_EQ(t.GetCurves()[0].points[1].value, 13.0);
  t.MouseReleaseEvent(1, f.X(5), f.Y(10) - 6);
  // Without a selection a drag scrubs.
  t.MouseClickEvent(1, f.X(0.5), f.Y(30));
  t.MouseDragEvent(1, f.X(6.2), f.Y(30));
  EXPECT_EQ(C().GetCurrentFrame(), 6);
  t.MouseReleaseEvent(1, f.X(6.2), f.Y(30));
  // The middle button pans.
  t.MouseClickEvent(2, 100, 50);
  t.MouseDragEvent(2, 90, 57);
  EXPECT_EQ(t.GetX0(), 40);
  EXPECT_EQ(t.GetY0(), 67);
}

TEST(TimelineInputTest, ControlDrawsABandThatSelectsOnAControlRelease) {
  LineFixture f;
  TestTimeline& t = f.t;
  t.KeyPressEvent(TimelineBase::kKeyCtrl);
  t.MouseClickEvent(1, f.X(1), f.Y(12));
  EXPECT_TRUE(t.IsBandActive());
  EXPECT_TRUE(t.GetSelectedKeys().empty());
  t.MouseDragEvent(1, f.X(6), f.Y(4));
  EXPECT_EQ(t.rect_redraws, 1);
  // A release without Control leaves the band drawn.
  t.KeyReleaseEvent(0);
  t.MouseReleaseEvent(1, f.X(6), f.Y(4));
  EXPECT_TRUE(t.IsBandActive());
  t.KeyPressEvent(TimelineBase::kKeyCtrl);
  t.MouseReleaseEvent(1, f.X(6), f.Y(4));
  EXPECT_FALSE(t.IsBandActive());
  EXPECT_EQ(t.GetSelectedKeys(), (Keys{{0, 0}, {0, 1}}));  // (7, 0) is outside
  t.KeyReleaseEvent(0);
}

TEST(TimelineInputTest, WheelStepsSnapToWholeZooms) {
  kxtest::FramesJob frames(0);
  TestTimeline t;
  std::vector<double> in;
  for (int k = 0; k < 20; ++k) {
    t.MouseWheelEvent(5, 0, 0);
    in.push_back(t.GetZoomX());
  }
  EXPECT_EQ(in[5], 2.0);
  EXPECT_EQ(in[9], 3.0);
  EXPECT_EQ(in[11], 4.0);
  EXPECT_EQ(in[13], 5.0);
  for (int k = 15; k < 20; ++k) EXPECT_EQ(in[size_t(k)], k - 9.0) << k;
  EXPECT_EQ(t.GetX0(), 320);  // the centre column stays on frame 0

  TestTimeline u;
  u.SetView(1.0, 1.0, 100, 100);
  std::vector<double> out;
  for (int k = 0; k < 10; ++k) {
    u.MouseWheelEvent(4, 0, 0);
    out.push_back(u.GetZoomX());
  }
  EXPECT_EQ(out[5], 0.5);
  EXPECT_EQ(out[9], 1.0 / 3.0);
  // The frame under the centre column stays within the rounding of the steps.
  EXPECT_NEAR((320 - u.GetX0()) / u.GetZoomX(), 220.0, 5.0 / u.GetZoomX());
  // Shift zooms the values; the limits hold.
  u.KeyPressEvent(TimelineBase::kKeyShift);
  u.MouseWheelEvent(5, 0, 0);
  EXPECT_NE(u.GetZoomY(), 1.0);
  u.SetView(9999.0, 1e-5, 0, 0);
  u.MouseWheelEvent(4, 0, 0);
  EXPECT_EQ(u.GetZoomY(), 1e-5);
  u.KeyReleaseEvent(0);
  u.MouseWheelEvent(5, 0, 0);
  EXPECT_EQ(u.GetZoomX(), 9999.0);
}

// The selection is emptied whenever the curve list changes, so a drag after a rebuild
// touches nothing that has gone (AddressSanitizer watches).
TEST(TimelineInputTest, TheSelectionNeverOutlivesTheCurves) {
  ControllerJob job;
  TestTimeline t;
  t.UpdateCurves(eNumFPoint2D);
  t.SelectKeyframes({-1, 0, 10, 100});
  ASSERT_EQ(t.GetSelectedKeys().size(), 4u);
  t.ToggleCurve(eNumFPoint2D);  // visibility only: the points stay
  EXPECT_FALSE(t.GetCurves()[0].IsVisible());
  EXPECT_EQ(t.GetSelectedKeys().size(), 4u);
  t.UpdateCurves(eCurveGroupCameraCentre);  // a rebuild: old points are gone
  EXPECT_TRUE(t.GetSelectedKeys().empty());
  t.MouseDragEvent(1, 10, 10);
  t.SelectKeyframes({-1, -100, 10, 100});
  ASSERT_FALSE(t.GetSelectedKeys().empty());
  t.ClearCurves();
  EXPECT_TRUE(t.GetSelectedKeys().empty());
  EXPECT_EQ(t.SelectedPoint({0, 0}), nullptr);
  t.RemoveSelectedKeyframes();
  // Rebuilding on every data change replaces the group of the first curve.
  t.UpdateCurves(eCurveCameraY);
  C().EmitGlobalDataChanged();
  ASSERT_EQ(t.GetCurves().size(), 3u);
  EXPECT_EQ(t.GetCurves()[2].ident, eCurveCameraZ);
  t.SetCurve(Curve(eCurveSolverKeyFrames, 1, {{1, 0.0}}));
  C().EmitGlobalDataChanged();
  C().EmitGlobalDataChanged();
  EXPECT_LE(t.GetCurves().size(), 1u);  // never a pile of copies
}

// Mask key frames: a drag moves the keys within the tracking range and never onto another
// key; the move and a removal are undoable and mark the project modified.
struct MaskFixture {
  ControllerJob job;
  TestTimeline t;
  VertexObject* mask;
  MaskFixture() {
    mask = &job.tracker->GetVertexObjectPool().GetPolygonMasks().front();
    int i = 0;
    for (Vertex& v : mask->GetVertices()) v.SetKey(3, {10.0 + i++, 0.0, 0.0});
    UIDRegistry::Instance().SetSelected(mask->GetUID(), true);
    C().EmitSelectionChanged();
    t.SetSize(300, 100);
    t.SetView(40.0, t.GetZoomY(), 60, 70);
  }
  ~MaskFixture() { UIDRegistry::Instance().SetSelected(mask->GetUID(), false); }
  std::vector<int> KeyFrames() const {
    std::vector<int> frames;
    const Vertex& v = mask->GetVertices().front();
    for (int k = 0; k < v.GetNumKeys(); ++k) {
      int frame;
      v.GetKey(k, &frame, nullptr);
      frames.push_back(frame);
    }
    return frames;
  }
  static int X(double frame) { return int(40 * frame + 60); }
};

TEST(TimelineInputTest, SelectingMasksShowsOrKeepsOrClearsTheKeyCurve) {
  MaskFixture m;
  ASSERT_EQ(m.t.GetCurves().size(), 1u);
  EXPECT_EQ(m.t.GetCurves()[0].ident, eCurveVertexKeyFrames);
  EXPECT_EQ(m.t.GetCurves()[0].points.size(), 2u);  // frames 1 and 3
  // Two masks (no vertex) keep the curves.
  VertexObject& line = m.job.tracker->GetVertexObjectPool().GetLineStrips().front();
  UIDRegistry::Instance().SetSelected(line.GetUID(), true);
  C().EmitSelectionChanged();
  EXPECT_EQ(m.t.GetCurves().size(), 1u);
  // A selected feature shows its track.
  UIDRegistry::Instance().SetSelected(m.job.tracks[0][0]->GetUID(), true);
  C().EmitSelectionChanged();
  ASSERT_EQ(m.t.GetCurves().size(), 2u);
  EXPECT_EQ(m.t.GetCurves()[0].ident, eCurveFeatureX);
  // Nothing selected: nothing shown.
  C().DeselectAll(false);
  EXPECT_TRUE(m.t.GetCurves().empty());
}

TEST(TimelineInputTest, AKeyDragStaysInTheRangeAndNeverOverwritesAKey) {
  MaskFixture m;
  TestTimeline& t = m.t;
  EXPECT_EQ(m.KeyFrames(), (std::vector<int>{1, 3}));
  C().SetStartFrame(1);
  C().SetEndFrame(2);
  t.MouseClickEvent(1, m.X(1), 60);  // on the mark above the key at frame 1
  ASSERT_EQ(t.GetSelectedKeys(), (Keys{{0, 0}}));
  t.MouseDragEvent(1, m.X(9), 60);  // clamped to the range end
  EXPECT_EQ(m.KeyFrames(), (std::vector<int>{2, 3}));
  EXPECT_TRUE(C().IsModified());
  t.MouseDragEvent(1, m.X(-4), 60);  // and to its start
  EXPECT_EQ(m.KeyFrames(), (std::vector<int>{1, 3}));
  t.MouseReleaseEvent(1, m.X(-4), 60);
  // The key at 3 stops the drag one frame before it: its positions survive.
  C().SetEndFrame(3);
  t.MouseClickEvent(1, m.X(1), 60);
  t.MouseDragEvent(1, m.X(3), 60);
  EXPECT_EQ(m.KeyFrames(), (std::vector<int>{2, 3}));
  EXPECT_EQ(t.GetCurves()[0].points[0].frame, 2u);
  vm::Vector3 p;
  m.mask->GetVertexPosition(&p, &m.mask->GetVertices().front(), 3);
  EXPECT_EQ(p.x, 10.0);
  t.MouseReleaseEvent(1, m.X(3), 60);
  // Each drag is one undo step.
  UndoLastCommand();
  m.mask = &m.job.tracker->GetVertexObjectPool().GetPolygonMasks().front();
  EXPECT_EQ(m.KeyFrames(), (std::vector<int>{1, 3}));
}

TEST(TimelineInputTest, RemovingKeysIsUndoableAndMarksTheProjectModified) {
  MaskFixture m;
  TestTimeline& t = m.t;
  t.MouseClickEvent(1, m.X(3), 60);
  ASSERT_EQ(t.GetSelectedKeys().size(), 1u);
  t.RemoveSelectedKeyframes();
  EXPECT_EQ(m.KeyFrames(), (std::vector<int>{1}));
  EXPECT_TRUE(C().IsModified());
  EXPECT_TRUE(t.GetSelectedKeys().empty());  // rebuilt
  ASSERT_EQ(t.GetCurves().size(), 1u);
  EXPECT_EQ(t.GetCurves()[0].points.size(), 1u);
  UndoLastCommand();
  m.mask = &m.job.tracker->GetVertexObjectPool().GetPolygonMasks().front();
  EXPECT_EQ(m.KeyFrames(), (std::vector<int>{1, 3}));
}

// A receiver of the pool notification that empties the selection mid-drag rebuilds the
// curves under the drag: nothing freed may be touched.
class DeselectOnPoolChange : public HasSlots {
 public:
  DeselectOnPoolChange() { C().m_object_pool_changed.Connect(this, &DeselectOnPoolChange::Go); }
  void Go() { C().DeselectAll(false); }
};

TEST(TimelineInputTest, ADragSurvivesASelectionChangeItCauses) {
  MaskFixture m;
  DeselectOnPoolChange receiver;
  m.t.MouseClickEvent(1, m.X(1), 60);
  m.t.MouseDragEvent(1, m.X(2), 60);
  EXPECT_EQ(m.KeyFrames(), (std::vector<int>{2, 3}));
  EXPECT_TRUE(m.t.GetCurves().empty());
  EXPECT_TRUE(m.t.GetSelectedKeys().empty());
  m.t.MouseDragEvent(1, m.X(0), 60);  // now a scrub
  m.t.MouseReleaseEvent(1, m.X(0), 60);
}

}  // namespace
}  // namespace uic
