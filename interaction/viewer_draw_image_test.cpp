#include <gtest/gtest.h>

#include <algorithm>

#include "interaction/tracker_job_for_test.h"
#include "interaction/undo_stack.h"
#include "interaction/viewer_draw_for_test.h"
#include "interaction/viewer_for_test.h"
#include "scene/display_settings.h"
#include "testing/log_capture.h"

namespace {

using kxtest::TextCall;
using uic::ViewerBase;

uint32_t Slot(int slot) {
  return DisplaySettings::Get().SlotColor(slot) & 0x00FFFFFFu;
}

// The small job's 16 x 12 frames at zoom 2 in a 64 x 48 view: image pixel (x, y) covers view
// pixels 2x .. 2x + 1 (offsets 0).
struct ImageViewFixture : testing::Test {
  ImageViewFixture() {
    viewer.Resize(64, 48);
    Show(1);
    // The job's own mask and line are in the way of the pixel checks.
    job.tracker.GetVertexObjectPool().GetPolygonMasks().clear();
    job.tracker.GetVertexObjectPool().ClearLineStrips();
  }
  void Show(int frame) {
    EXPECT_EQ(viewer.SetFImage(job.tracker.GetFImage(unsigned(frame))), 0);
    viewer.m_zoom = 2.0;
    viewer.m_offset_x = viewer.m_offset_y = 0;
  }
  void Draw(int flags) {
    viewer.m_states.back().m_flags = flags;
    viewer.texts.clear();
    viewer.Redraw();
  }
  PolygonMask* AddMask(int start, int end, double x0, double y0, double x1, double y1) {
    std::vector<Vertex> v(4);
    const double xy[4][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    for (int i = 0; i < 4; ++i) v[size_t(i)].SetKey(start, {xy[i][0], xy[i][1], 0.0});
    PolygonMask* mask = job.tracker.GetVertexObjectPool().AddPolygonMask(4, v, start);
    mask->SetIndexRange(start, end);
    return mask;
  }

  kxtest::TrackerJob job;
  kxtest::CurrentTracker current{&job.tracker};
  kxtest::RecordingViewer viewer;
};

uint32_t Channel(uint32_t c, int shift) {
  return (c >> shift) & 0xFF;
}

constexpr uint32_t kFrameGrey = 0x282828;  // frame 1 of the job

TEST_F(ImageViewFixture, AllOverlaySwitchesWithToolTwo) {
  viewer.Resize(160, 100);  // room for the indicator beside the box
  Show(1);
  viewer.m_overlay_options = {true, true, true};
  viewer.m_tool = 2;
  Draw(ViewerBase::eShowFrame);
  EXPECT_EQ(viewer.texts, (std::vector<TextCall>{{10, 20, 200, 200, 200, "Image: 0001"},
                                                 {160 - 29, 29, -1, -1, -1, "S"}}));
  EXPECT_EQ(viewer.Pixel(5, 5), 0x505050u);  // the top-left box over the frame
  EXPECT_EQ(viewer.Pixel(104, 5), 0x505050u);
  EXPECT_EQ(viewer.Pixel(10, 40), Slot(DS_SLOT_IMAGE_BACKGROUND));  // below the box
  EXPECT_EQ(viewer.Pixel(160 - 25, 25), 0x555555u);                 // the indicator's disc
  const uint32_t ring = viewer.Pixel(160 - 25 + 10, 25);
  EXPECT_GT(Channel(ring, 0), Channel(ring, 16) + 0x40);  // blue for the S tool

  // Without the widget text the label is painted and the letter left out.
  viewer.m_overlay_options.m_widget_text = false;
  Draw(ViewerBase::eShowFrame);
  EXPECT_TRUE(viewer.texts.empty());
}

TEST_F(ImageViewFixture, NoImageClearsButKeepsTheOverlayOptions) {
  kxtest::RecordingViewer empty;
  empty.Resize(160, 100);
  empty.m_overlay_options = {true, true, true};
  empty.Redraw();
  EXPECT_TRUE(empty.texts.empty());
  EXPECT_EQ(empty.Pixel(40, 60), Slot(DS_SLOT_IMAGE_BACKGROUND));
  EXPECT_EQ(empty.Pixel(5, 5), 0x505050u);
  EXPECT_EQ(empty.Pixel(160 - 25, 25), 0x555555u);
}

TEST_F(ImageViewFixture, PendingFrameGetsFrameAndMasksButNoTrackingOverlays) {
  AddMask(0, 3, 8, 6, 14, 10);
  const int flags = 0x2001 | ViewerBase::eShowSceneOverFrame | ViewerBase::eShowAutoFeatures;
  Draw(flags);
  // Track 5's feature at (6.25, 3): the vertical arm of its marker.
  EXPECT_EQ(viewer.Pixel(13, 9), Slot(DS_SLOT_FEATURE_TRACKED));
  EXPECT_FALSE(viewer.m_view_changed);

  job.tracker.GetFImage(1)->SetFlags(FIMAGE_FLAG_NOT_PROCESSED);
  viewer.m_view_changed = true;
  Draw(flags);
  job.tracker.GetFImage(1)->ClearFlags(FIMAGE_FLAG_NOT_PROCESSED);
  EXPECT_EQ(viewer.Pixel(13, 9), kFrameGrey);
  EXPECT_TRUE(viewer.m_view_changed);                  // no 3D overlay
  EXPECT_NE(viewer.Pixel(2 * 11, 2 * 8), kFrameGrey);  // the mask's fill
  EXPECT_EQ(viewer.Pixel(33, 2 * 8), Slot(DS_SLOT_IMAGE_BACKGROUND));
}

TEST_F(ImageViewFixture, RectangleFeedbackInEitherDirection) {
  viewer.m_interaction = ViewerBase::kInteractionRectangle;
  const double rect[3][4] = {{4, 4, 12, 10}, {12, 10, 4, 4}, {8, 4, 8, 10}};
  std::vector<std::vector<uint32_t>> pixels;
  for (const auto& r : rect) {
    std::copy(r, r + 4, viewer.m_select_rect);
    Draw(ViewerBase::eShowFrame);
    const ArrayMap<uint32_t>& b = viewer.GetBuffer();
    pixels.emplace_back(b.data, b.data + b.stride * b.height);
  }
  EXPECT_EQ(pixels[0], pixels[1]);
  viewer.m_interaction = 0;
  std::copy(rect[2], rect[2] + 4, viewer.m_select_rect);
  // Filled inside; the zero-width one only outlined.
  std::copy(rect[0], rect[0] + 4, viewer.m_select_rect);
  const size_t inside = size_t(2 * 7) * viewer.GetBuffer().stride + 2 * 10;
  EXPECT_NE(pixels[0][inside] & 0xFFFFFF, kFrameGrey);
  EXPECT_EQ(pixels[2][inside] & 0xFFFFFF, kFrameGrey);
}

TEST_F(ImageViewFixture, MasksByFrameRangeAndOwnColour) {
  AddMask(0, 0, 0.75, 0.75, 5.25, 5.25);  // ended before frame 1
  PolygonMask* own = AddMask(1, 3, 8.75, 0.75, 13.25, 9.25);
  own->SetColor({0.0, 0.0, 1.0, 0.5});
  own->SetFlags(VERTEX_OBJECT_HAS_COLOR);
  Draw(ViewerBase::eShowFrame | ViewerBase::eShowMasks);
  EXPECT_EQ(viewer.Pixel(6, 6), kFrameGrey);
  // Fill 0x800000FF over the grey frame; the outline opaque 0x0000FF.
  const uint32_t fill = viewer.Pixel(22, 10);
  EXPECT_NEAR(double(Channel(fill, 0)), (255 * 128 + 0x28 * 128) / 256.0, 2.0);
  EXPECT_NEAR(double(Channel(fill, 16)), 0x28 * 128 / 256.0, 2.0);
  EXPECT_EQ(viewer.Pixel(18, 10), 0x0000FFu);  // the left edge, clear of the corner markers
}

TEST_F(ImageViewFixture, VertexMarkersHalfAlphaAwayFromTheirKeys) {
  std::vector<Vertex> v(3);
  v[0].SetKey(1, {2.25, 2.25, 0.0});
  v[1].SetKey(0, {10.25, 2.25, 0.0});
  v[1].SetKey(2, {10.25, 2.25, 0.0});  // interpolated at 1
  v[2].SetKey(0, {6.25, 8.25, 0.0});   // held after its only key
  // The pool keys new vertices at one frame: the keys are set afterwards.
  LineStrip* line = job.tracker.GetVertexObjectPool().AddLineStrip(v, 0, 0, 3);
  std::copy(v.begin(), v.end(), line->GetVertices().begin());
  Draw(ViewerBase::eShowFrame | ViewerBase::eShowLines);
  const uint32_t marker = Slot(DS_SLOT_VERTEX_MARKER);
  EXPECT_EQ(viewer.Pixel(5, 5), marker);
  for (const auto& [x, y] : {std::pair{21, 5}, std::pair{13, 17}}) {
    const uint32_t half = viewer.Pixel(x, y);
    // Over the strip's red outline (green 0).
    EXPECT_NEAR(double(Channel(half, 8)), 0xA5 * 129 / 256.0, 2.0);
  }
}

TEST_F(ImageViewFixture, LineBeingDrawnFollowsThePointerUntilItsSecondPoint) {
  viewer.m_line_points.resize(1);
  viewer.m_line_points[0].SetKey(1, {2.25, 2.25, 0.0});
  viewer.m_mouse_x = 40;
  viewer.m_mouse_y = 5;
  const uint32_t red = Slot(DS_SLOT_REFERENCE_LINE);
  Draw(ViewerBase::eShowFrame | ViewerBase::eShowLines);
  EXPECT_EQ(viewer.Pixel(30, 5), red);
  EXPECT_EQ(viewer.Pixel(39, 5), red);  // up to the pointer (at 40.5)

  viewer.m_line_points.resize(2);
  viewer.m_line_points[1].SetKey(1, {2.25, 8.25, 0.0});
  Draw(ViewerBase::eShowFrame | ViewerBase::eShowLines);
  EXPECT_EQ(viewer.Pixel(30, 5), kFrameGrey);
  EXPECT_EQ(viewer.Pixel(5, 11), red);
}

// ---- the scene view

TEST_F(ImageViewFixture, GroundGridDragRecordsOneCommand) {
  ClearUndoStack();
  viewer.m_states.back().m_mode = 1;
  viewer.m_manip_mode = ViewerBase::eManipGroundGrid;
  viewer.m_observer_drag[0] = 10.0;
  viewer.m_scene_moved = true;
  Draw(0x1000000);
  Draw(0x1000000);
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 1);
  EXPECT_FALSE(viewer.m_scene_moved);
  EXPECT_TRUE(std::all_of(viewer.m_observer_drag, viewer.m_observer_drag + 6,
                          [](double d) { return d == 0.0; }));
  ClearUndoStack();
}

TEST_F(ImageViewFixture, SceneModeWithoutDragNeitherRecordsNorMoves) {
  ClearUndoStack();
  viewer.m_states.back().m_mode = 1;
  viewer.m_manip_mode = ViewerBase::eManipScene;
  Draw(0x1000000);
  const Matrix4x4 before = viewer.ActiveObserver().m_projection;
  Draw(0x1000000);
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 0);
  EXPECT_TRUE(std::equal(before.m, before.m + 16, viewer.ActiveObserver().m_projection.m));
}

TEST_F(ImageViewFixture, PendingSceneViewKeepsTheDragAndLabels) {
  viewer.m_states.back().m_mode = 1;
  viewer.m_overlay_options.m_widget_text = true;
  job.tracker.GetFImage(1)->SetFlags(FIMAGE_FLAG_NOT_PROCESSED);
  viewer.m_observer_drag[3] = 4.0;
  Draw(0x400000);
  job.tracker.GetFImage(1)->ClearFlags(FIMAGE_FLAG_NOT_PROCESSED);
  EXPECT_EQ(viewer.m_observer_drag[3], 4.0);
  const double y = 48 - 15;
  EXPECT_EQ(viewer.texts, (std::vector<TextCall>{{10, 20, 200, 200, 200, "Image: 0001"},
                                                 {10, y, 200, 200, 200, "("},
                                                 {20, y, 255, 0, 0, "x,"},
                                                 {30, y, 0, 255, 0, "y,"},
                                                 {40, y, 0, 0, 255, "z"},
                                                 {50, y, 200, 200, 200, ")"}}));
  Draw(0);
  EXPECT_EQ(viewer.texts.size(), 1u);  // no legend without the axes
}

}  // namespace
