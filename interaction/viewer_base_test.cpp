#include "interaction/viewer_base.h"

#include <gtest/gtest.h>

#include <cmath>

#include "interaction/tracker_job_for_test.h"
#include "interaction/viewer_for_test.h"
#include "scene/display_settings.h"
#include "testing/log_capture.h"

namespace {

using uic::ViewerBase;

// A tracker holding a sequence of two frames of the given size, current in the controller.
struct Sequence {
  Sequence(int width, int height) {
    EXPECT_EQ(tracker.SetSequence(kxtest::WritePgmFrames(dir, 2, width, height)), 0);
  }
  FeatureImage* Image(int k) { return tracker.GetImageList()[size_t(k)].Get(); }
  SharedPtr<FeatureImage> Handle(int k) { return tracker.GetImageList()[size_t(k)]; }

  kxtest::TempDir dir;
  uic::MetaCTracker tracker;
  kxtest::CurrentTracker current{&tracker};
};

TEST(ViewerBase, ConstructionDefaults) {
  kxtest::CountingViewer v;
  ASSERT_EQ(v.m_states.size(), 1u);
  EXPECT_EQ(v.m_states.back().m_mode, 0);
  EXPECT_EQ(v.m_states.back().m_flags, 0x1F026CF);
  EXPECT_EQ(v.m_states.back().m_history_before, 30);
  EXPECT_EQ(v.m_states.back().m_history_after, 30);
  EXPECT_EQ(v.m_object_color, 0xFFFF4500u);
  EXPECT_EQ(v.m_render_context.GetSampleFactor(), 2u);
  EXPECT_EQ(v.m_rubber_band.m_max_y, 16);
  EXPECT_EQ(v.m_rubber_band.m_radius, 0);
  EXPECT_EQ(v.m_overlay_options.GetBackgroundColor(), 0xFF505050u);
  EXPECT_EQ(v.m_manip_mode, ViewerBase::eManipWorld);
  ASSERT_EQ(v.m_observers.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(v.m_observers[size_t(i)].m_type, i);
  // Types 2 and 3 look along x and y: their eyes lie off the z axis.
  EXPECT_NEAR(std::fabs(v.m_observers[2].m_eye.x), 200.0, 1e-9);
  EXPECT_NEAR(std::fabs(v.m_observers[0].m_eye.x), 0.0, 1e-9);
  EXPECT_GT(std::fabs(v.m_observers[3].m_eye.y), 150.0);
  EXPECT_EQ(v.redraws, 0);
}

TEST(ViewerBase, ResetZoomFitsAndCentres) {
  struct Case {
    int width, height, field_mode;
    double aspect, zoom;
    int offset_x, offset_y;
  };
  const Case cases[] = {
      {720, 576, 0, 1.0, std::min(640.0 / 721, 480.0 / 577), 20, 0},
      {320, 240, 0, 1.0, 1.0, 160, 120},        // never enlarged
      {720, 576, 1, 1.0, 640.0 / 721, 0, 112},  // a field: half the height
      {320, 240, 0, 2.0, 1.0, 0, 120},          // exactly the view's width still fits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    Sequence seq(c.width, c.height);
    seq.tracker.GetImageCache()->SetFieldMode(c.field_mode);
    kxtest::CountingViewer v;
    v.m_aspect_scale = c.aspect;
    v.m_offset_x = v.m_centre_x = 7;
    v.ResetZoom();
    EXPECT_DOUBLE_EQ(v.m_zoom, c.zoom);
    EXPECT_EQ(v.m_offset_x, c.offset_x);
    EXPECT_EQ(v.m_offset_y, c.offset_y);
    EXPECT_EQ(v.m_centre_x, 0);
    EXPECT_TRUE(v.m_view_changed);
    EXPECT_EQ(v.redraws, 1);
  }

  kxtest::CountingViewer v;
  kxtest::LogCapture log(5);
  v.ResetZoom();
  EXPECT_TRUE(log.Has("ViewerBase::ResetZoom: camera tracking manager not set"));
  EXPECT_EQ(v.redraws, 0);
}

TEST(ViewerBase, ZoomBySnapsLimitsAndKeepsThePointerPoint) {
  struct Case {
    double start, factor;
    int key;
    double zoom;  // -1: refused
  };
  const Case cases[] = {
      {1.0, 1.1, 0, 1.1},              // 1 lies outside 1.1 * sqrt(1.1) .. 1.1 / sqrt(1.1)
      {1.9, 1.1, 0, 2.0},              // 2.09 snaps to 2
      {0.56, 1 / 1.1, 0, 0.5},         // 0.509 snaps to the whole reciprocal 1/2
      {0.52, 1 / 1.1, 0, 0.52 / 1.1},  // 1/2 too far
      {1.0, 1.1, 0x800, 1.32},         // Ctrl: a bigger step
      {1.0, 1 / 1.1, 0x800, 1 / 1.32},
      {0.05, 1 / 1.1, 0, -1},  // below 0.05
      {95.0, 1.1, 0, -1},      // above 100
      {3.0, 1.1, '+', 3.3},    // about the view centre
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    kxtest::CountingViewer v;
    v.m_zoom = c.start;
    v.m_aspect_scale = 1.25;
    v.m_key = c.key;
    v.m_offset_x = 20;
    v.m_offset_y = -30;
    v.m_mouse_x = 300;
    v.m_mouse_y = 200;
    v.ZoomBy(c.factor);
    EXPECT_TRUE(v.m_show_zoom);
    if (c.zoom < 0) {
      EXPECT_EQ(v.m_zoom, c.start);
      EXPECT_EQ(v.m_offset_x, 20);
      EXPECT_EQ(v.m_offset_y, -30);
      EXPECT_FALSE(v.m_view_changed);
      continue;
    }
    EXPECT_NEAR(v.m_zoom, c.zoom, 1e-12);
    EXPECT_TRUE(v.m_view_changed);
    // The image point under the fixed view point stays there within rounding.
    const double px = c.key == '+' ? 320 : 300, py = c.key == '+' ? 240 : 200;
    const double sx0 = 1.25 * c.start, sx1 = 1.25 * v.m_zoom;
    EXPECT_LE(std::fabs((px - 20) / sx0 - (px - v.m_offset_x) / sx1) * sx1, 0.5 + 1e-9);
    EXPECT_LE(std::fabs((py + 30) / c.start - (py - v.m_offset_y) / v.m_zoom) * v.m_zoom,
              0.5 + 1e-9);
    EXPECT_EQ(v.redraws, 0);  // the caller redraws
  }
}

TEST(ViewerBase, SetFImageResetsZoomOnlyForANewSize) {
  Sequence seq(320, 240);
  kxtest::CountingViewer v;
  EXPECT_EQ(v.SetFImage(seq.Handle(0)), 0);
  EXPECT_EQ(v.GetFImage(), seq.Image(0));
  EXPECT_EQ(v.m_offset_x, 160);  // the first image fits the view
  EXPECT_TRUE(v.m_image_changed);
  EXPECT_TRUE(seq.tracker.GetScene().IsCameraObjectPending());

  v.m_zoom = 3.0;
  v.m_offset_x = 5;
  v.m_image_changed = false;
  EXPECT_EQ(v.SetFImage(seq.Handle(1)), 0);  // same size: zoom and pan stay
  EXPECT_EQ(v.m_zoom, 3.0);
  EXPECT_EQ(v.m_offset_x, 5);
  EXPECT_TRUE(v.m_image_changed);

  auto other = SharedPtr<FeatureImage>::Make();  // the default 720 x 576 camera
  EXPECT_EQ(v.SetFImage(other), 0);
  EXPECT_EQ(v.m_zoom, 1.0);  // reset for the tracker's 320 x 240 frames
  EXPECT_EQ(v.m_offset_x, 160);

  const int32_t references = other.RefCount();
  EXPECT_EQ(v.SetFImage(SharedPtr<FeatureImage>()), -1);
  EXPECT_EQ(v.GetFImage(), nullptr);
  EXPECT_EQ(other.RefCount(), references - 1);  // the viewer let it go

  kxtest::CurrentTracker none(nullptr);
  kxtest::LogCapture log(5);
  EXPECT_EQ(v.SetFImage(other), -1);
  EXPECT_TRUE(log.Has("ViewerBase::SetFImage: scene or camera tracking manager not set"));
}

struct ToolListener : HasSlots {
  void OnTool(ViewerBase::SelectionTool tool) { tools.push_back(tool); }
  std::vector<ViewerBase::SelectionTool> tools;
};

TEST(ViewerBase, EditModeAndSelectionTool) {
  kxtest::CountingViewer v;
  ToolListener listener;
  v.m_selection_tool_changed.Connect(&listener, &ToolListener::OnTool);
  {
    kxtest::LogCapture log(5);
    v.SetEditMode(7);
    v.SetEditMode(-1);
    EXPECT_TRUE(log.Has("ViewerBase::SetEditMode: unkown edit mode 7"));
    EXPECT_TRUE(log.Has("ViewerBase::SetEditMode: unkown edit mode -1"));
    EXPECT_EQ(v.m_edit_mode, ViewerBase::eEditAutoFeatures);
  }
  v.m_selection_tool = ViewerBase::eSelectionToolLasso;
  v.SetEditMode(ViewerBase::eEditTestScene);
  EXPECT_EQ(v.m_selection_tool, ViewerBase::eSelectionToolLasso);
  v.SetEditMode(ViewerBase::eEditMask);
  EXPECT_EQ(v.m_edit_mode, ViewerBase::eEditMask);
  EXPECT_EQ(v.m_selection_tool, ViewerBase::eSelectionToolRectangle);
  EXPECT_EQ(listener.tools, std::vector{ViewerBase::eSelectionToolRectangle});
  v.SetEditMode(ViewerBase::eEditAutoFeatures);  // already the rectangle: no signal
  EXPECT_EQ(listener.tools.size(), 1u);

  v.ToggleSelectionTool();
  EXPECT_EQ(v.m_selection_tool, ViewerBase::eSelectionToolCircle);
  v.ToggleSelectionTool();
  EXPECT_EQ(v.m_selection_tool, ViewerBase::eSelectionToolRectangle);
  v.m_selection_tool = ViewerBase::eSelectionToolLasso;
  v.ToggleSelectionTool();
  EXPECT_EQ(v.m_selection_tool, ViewerBase::eSelectionToolLasso);
  EXPECT_EQ(v.redraws, 0);
}

TEST(ViewerBase, ViewStateStack) {
  kxtest::CountingViewer v;
  v.ToggleViewingMode();
  EXPECT_EQ(v.m_states.back().m_mode, 1);
  EXPECT_EQ(v.redraws, 1);
  v.PushViewerState({0, 0x21, 5, 6});
  ASSERT_EQ(v.m_states.size(), 2u);
  EXPECT_EQ(v.CurrentState()->m_flags, 0x21);
  EXPECT_EQ(v.CurrentState()->m_history_after, 6);
  EXPECT_EQ(v.redraws, 2);
  v.ToggleViewingMode();  // only the newest entry changes
  EXPECT_EQ(v.m_states.back().m_mode, 1);
  EXPECT_EQ(v.m_states.front().m_mode, 1);
  v.ToggleViewingMode();
  EXPECT_EQ(v.m_states.back().m_mode, 0);

  v.m_states.back().m_mode = 5;
  {
    kxtest::LogCapture log(5);
    v.ToggleViewingMode();
    EXPECT_TRUE(log.Has("ViewerBase::ToggleViewingMode: bad viewing mode 5"));
    EXPECT_EQ(v.m_states.back().m_mode, 5);
  }
  v.m_states.clear();
  const int redraws = v.redraws;
  v.m_view_changed = false;
  v.ToggleViewingMode();
  v.Redraw();  // an empty stack draws nothing
  EXPECT_FALSE(v.m_view_changed);
  EXPECT_EQ(v.redraws, redraws + 1);
  EXPECT_FALSE(v.MouseWheelEvent(4, 0, 0));
}

TEST(ViewerBase, WheelZoomsTheImageAndMovesTheObserver) {
  Sequence seq(320, 240);
  kxtest::CountingViewer v;
  v.m_interaction = ViewerBase::kInteractionRectangle | ViewerBase::kInteractionCircle | 0x100;
  v.m_mouse_x = 100;
  EXPECT_FALSE(v.MouseWheelEvent(4, 0, 0));
  EXPECT_EQ(v.m_interaction, 0x100);
  EXPECT_DOUBLE_EQ(v.m_zoom, 1.1);
  EXPECT_EQ(v.redraws, 1);
  EXPECT_FALSE(v.MouseWheelEvent(9, 0, 0));  // not a wheel code
  EXPECT_EQ(v.redraws, 1);

  struct Case {
    uint8_t code;
    int key;
    double distance;
  };
  for (const Case& c : {Case{4, 0, 190}, Case{4, 0x800, 145}, Case{5, 0, 210}}) {
    v.m_states.back().m_mode = 1;
    v.ActiveObserver().m_distance = 200;
    v.m_key = c.key;
    v.MouseWheelEvent(c.code, 0, 0);
    EXPECT_DOUBLE_EQ(v.ActiveObserver().m_distance, c.distance);
  }
  // However fast the wheel turns, the observer stays at least 3 from the centre.
  for (int key : {0, 0x800}) {
    v.m_key = key;
    v.ActiveObserver().m_distance = 200;
    for (int i = 0; i < 10; ++i) {
      v.MouseWheelEvent(4, 0, 0);
      EXPECT_GE(v.ActiveObserver().m_distance, 3.0);
    }
  }
  EXPECT_EQ(v.ActiveObserver().m_distance, 3.0);

  v.m_states.back().m_mode = 2;
  kxtest::LogCapture log(5);
  v.MouseWheelEvent(4, 0, 0);
  EXPECT_TRUE(log.Has("ViewerBase::MouseWheelEvent: bad view mode 2"));
  kxtest::CurrentTracker none(nullptr);
  v.MouseWheelEvent(4, 0, 0);
  EXPECT_TRUE(log.Has("ViewerBase::MouseWheelEvent: tracking manager not set!"));
}

TEST(ViewerBase, DragPanZoomAndKeyRelease) {
  kxtest::CountingViewer v;
  v.m_offset_x = v.m_offset_y = 0;
  v.m_mouse_dx = 7;
  v.m_mouse_dy = -4;
  v.m_button = 2;
  EXPECT_TRUE(v.DragPanZoom());
  EXPECT_EQ(v.m_offset_x, 7);
  EXPECT_EQ(v.m_offset_y, -4);
  v.m_button = 1;
  EXPECT_FALSE(v.DragPanZoom());
  v.m_tool = 2;
  v.m_mouse_dy = 50;
  EXPECT_TRUE(v.DragPanZoom());
  EXPECT_DOUBLE_EQ(v.m_zoom, 1.5);
  v.m_button = 3;
  v.m_key = ViewerBase::kKeyShift;
  const int x = v.m_offset_x;
  EXPECT_TRUE(v.DragPanZoom());
  EXPECT_EQ(v.m_offset_x, x + 7);

  EXPECT_FALSE(v.KeyReleaseEvent('a'));
  EXPECT_EQ(v.m_key, 0);
  EXPECT_EQ(v.m_tool, 0);
  EXPECT_EQ(v.redraws, 1);
}

TEST(ViewerBase, NormalizeSelectionRect) {
  kxtest::CountingViewer v;
  v.m_zoom = 2.0;
  double out[4];
  const double in[4] = {10, 8, 4, 8};
  v.NormalizeSelectionRect(out, in);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[2], 10);
  EXPECT_EQ(out[1], 5.5);  // a click selects within 5 view pixels
  EXPECT_EQ(out[3], 10.5);
  v.m_zoom = 0.0;
  v.NormalizeSelectionRect(out, in);
  EXPECT_EQ(out[1], 3);
}

TEST(ViewerBase, RubberBandGrowsOverTheRepaintedArea) {
  uic::RubberBand band;
  band.Init(10, 10, 0);
  band.Update(20, 5);
  band.Update(15, 15);  // from the box of start and (20, 5)
  EXPECT_EQ(band.m_min_x, 10);
  EXPECT_EQ(band.m_min_y, 5);
  EXPECT_EQ(band.m_max_x, 20);
  EXPECT_EQ(band.m_max_y, 15);
  band.Init(10, 10, 3);
  band.Update(20, 20);
  band.Update(30, 5);  // a circle: from the previous point alone
  EXPECT_EQ(band.m_min_x, 20);
  EXPECT_EQ(band.m_min_y, 5);
  EXPECT_EQ(band.m_max_x, 30);
  EXPECT_EQ(band.m_max_y, 20);
  EXPECT_EQ(band.m_current_x, 30);
  EXPECT_EQ(band.m_start_x, 10);
}

TEST(ViewerBase, ControllerSignalsReachTheViewer) {
  Sequence seq(720, 576);
  kxtest::CountingViewer v;
  v.SetFImage(seq.Handle(0));
  v.redraws = 0;
  seq.tracker.m_image_aspect = 16.0 / 9.0;
  uic::Controller* controller = uic::Controller::Instance();
  controller->m_sequence_changed.Emit();
  EXPECT_DOUBLE_EQ(v.m_aspect_scale, 16.0 / 9.0 * 576 / 720);
  EXPECT_EQ(v.redraws, 1);
  controller->m_selection_changed.Emit();
  EXPECT_EQ(v.redraws, 2);
  kxtest::LogCapture log(5);
  controller->m_current_frame_changed.Emit();  // no frame is current: logged
  EXPECT_TRUE(log.Has("ViewerBase::HandleCurrentFrameChanged: image -1"));
  EXPECT_TRUE(log.Has("ViewerBase::HandleCurrentFrameChanged:: can't get image -1"));
}

TEST(ViewerBase, SetImageAspectRatioFailures) {
  kxtest::CountingViewer v;
  kxtest::LogCapture log(5);
  v.SetImageAspectRatio(0.0);
  EXPECT_TRUE(log.Has("ViewerBase::SetImageAspectRatio: aspect <= 0"));
  v.SetImageAspectRatio(1.5);
  EXPECT_TRUE(log.Has("ViewerBase::SetImageAspectRatio: no image set"));
  auto image = SharedPtr<FeatureImage>::Make();
  v.SetFImage(image);
  image->Set({0, 0, 0}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}, 0, 576, 0, 0.1, 0.1, 0, 0, nullptr);
  v.SetImageAspectRatio(1.5);
  EXPECT_TRUE(log.Has("ViewerBase::SetImageAspectRatio: zero image size (0 x 576)"));
  EXPECT_EQ(v.m_aspect_scale, 1.0);
  EXPECT_EQ(v.redraws, 0);
}

}  // namespace
