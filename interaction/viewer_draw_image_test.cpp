#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "image/packed_string_list.h"
#include "interaction/tracker_job_for_test.h"
#include "interaction/undo_stack.h"
#include "interaction/viewer_draw_for_test.h"
#include "interaction/viewer_for_test.h"
#include "scene/display_settings.h"
#include "scene/objects/primitives.h"
#include "scene/painter/overlay_painter.h"
#include "scene/render/selection_render.h"
#include "scene/scene.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

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

// `colour` laid over `under` with the painter's weight t (of 256), per channel.
uint32_t Mix(uint32_t under, uint32_t colour, uint32_t t) {
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    out |= ((Channel(colour, shift) * t + Channel(under, shift) * (256 - t)) >> 8) << shift;
  }
  return out;
}

#define EXPECT_COLOUR_NEAR(actual, expected)                                           \
  for (int shift = 0; shift < 24; shift += 8) {                                        \
    EXPECT_NEAR(double(Channel(actual, shift)), double(Channel(expected, shift)), 3.0) \
        << std::hex << (actual) << " vs " << (expected);                               \
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

TEST_F(ImageViewFixture, MaskNamesAtTheMeanOfTheirVerticesOnlyWithWidgetText) {
  AddMask(0, 3, 0.75, 0.75, 5.25, 5.25)->SetName("left");  // held from frame 0
  AddMask(1, 3, 8, 2, 14, 10)->SetName("right");
  AddMask(0, 0, 2, 2, 4, 4)->SetName("gone");  // no vertices at frame 1
  viewer.m_offset_x = 3;
  viewer.m_offset_y = 5;
  viewer.m_aspect_scale = 1.25;
  viewer.m_overlay_options.m_widget_text = true;
  Draw(ViewerBase::eShowFrame | ViewerBase::eShowMasks);
  // Means (3, 3) and (11, 6): x = trunc(2 * 1.25 * (m + 0.5) - 0.5 + 3), y likewise.
  EXPECT_EQ(viewer.texts, (std::vector<TextCall>{{11, 11, 200, 200, 200, "left"},
                                                 {31, 17, 200, 200, 200, "right"},
                                                 {10, 20, 200, 200, 200, "Image: 0001"}}));
  viewer.m_overlay_options.m_widget_text = false;
  Draw(ViewerBase::eShowFrame | ViewerBase::eShowMasks);
  EXPECT_TRUE(viewer.texts.empty());
}

// Three pairs of segments with a filled band and a middle line each, over the background
// (no frame). Pair 2 is ordered 8, 9, 11, 10: laid out as a plain rectangle 8-9-10-11 its
// middle line runs across the band.
TEST_F(ImageViewFixture, FocalGizmoPairsInTheirColoursAndOrder) {
  FocalGizmo& gizmo = job.tracker.GetVertexObjectPool().GetFocalGizmos().emplace_back();
  gizmo.SetIndexRange(0, 3);
  const double x0 = 17.25, x1 = 29.25;  // view columns 35.5 and 59.5
  const auto add_pair = [&](double y0, double y1, bool rectangle_order) {
    gizmo.AddVertex({x0, y0, 0.0}, 1);
    gizmo.AddVertex({x1, y0, 0.0}, 1);
    gizmo.AddVertex({rectangle_order ? x1 : x0, y1, 0.0}, 1);
    gizmo.AddVertex({rectangle_order ? x0 : x1, y1, 0.0}, 1);
  };
  add_pair(1.25, 5.25, false);    // vertices 0-3: view rows 3.5 .. 11.5
  add_pair(18.25, 22.25, false);  // vertices 4-7: pair 3, rows 37.5 .. 45.5
  add_pair(12.25, 16.25, true);   // vertices 8-11: pair 2, rows 25.5 .. 33.5
  Draw(ViewerBase::eShowFocalGizmos);
  const uint32_t background = Slot(DS_SLOT_IMAGE_BACKGROUND);
  struct Band {
    int top;  // view row of the first segment
    uint32_t colour;
  } bands[] = {{3, 0xFF0000}, {25, 0x00FF00}, {37, 0x0000FF}};
  for (const Band& b : bands) {
    SCOPED_TRACE(b.top);
    const uint32_t fill = Mix(background, b.colour, 0x22);
    EXPECT_COLOUR_NEAR(viewer.Pixel(47, b.top), b.colour);  // a segment, opaque
    EXPECT_COLOUR_NEAR(viewer.Pixel(47, b.top + 2), fill);  // the band
    EXPECT_COLOUR_NEAR(viewer.Pixel(47, b.top + 4), Mix(fill, b.colour, 0x56));  // middle
    EXPECT_COLOUR_NEAR(viewer.Pixel(47, b.top + 8), b.colour);  // the other segment
  }
  EXPECT_EQ(viewer.Pixel(35, 3), Slot(DS_SLOT_VERTEX_MARKER));

  // Eleven vertices are no gizmo.
  gizmo.GetVertices().pop_back();
  Draw(ViewerBase::eShowFocalGizmos);
  EXPECT_EQ(viewer.Pixel(47, 3), background);
  EXPECT_EQ(viewer.Pixel(35, 3), background);
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

// The painted legend (no widget text) stands at y = (H - offset - 55.25) / zoom + 0, 15 and
// 30 over zoom in image units: compared with the three texts painted at those places with
// the view's own mapping.
TEST_F(ImageViewFixture, PaintedAxisLegendPositions) {
  viewer.Resize(640, 480);
  struct Case {
    double zoom;
    int offset_x, offset_y;
    double x, y[3];
  } cases[] = {{1.0, 0, 0, 10.25, {424.75, 439.75, 454.75}},
               {2.0, 6, 4, 2.125, {210.375, 217.875, 225.375}}};
  job.tracker.GetFImage(1)->SetFlags(FIMAGE_FLAG_NOT_PROCESSED);  // no scene under it
  viewer.m_states.back().m_mode = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zoom);
    viewer.m_zoom = c.zoom;
    viewer.m_offset_x = c.offset_x;
    viewer.m_offset_y = c.offset_y;
    Draw(0x400000);
    EXPECT_TRUE(viewer.texts.empty());
    const ArrayMap<uint32_t>& b = viewer.GetBuffer();
    std::vector<uint32_t> reference(size_t(b.stride) * b.height);
    OverlayPainter painter;
    painter.SetTarget(ArrayMap<uint32_t>(reference.data(), b.stride, b.width, b.height));
    const PainterTarget& mapping = viewer.m_painter.Target();
    PainterTarget& t = painter.Target();
    t.font = mapping.font;
    t.scale_x = mapping.scale_x;
    t.scale_y = mapping.scale_y;
    t.offset_x = mapping.offset_x;
    t.offset_y = mapping.offset_y;
    painter.Clear(Slot(DS_SLOT_SCENE_BACKGROUND));
    const char* const texts[3] = {"x -", "y -", "z -"};
    const uint32_t colours[3] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
    for (int i = 0; i < 3; ++i) painter.DrawText(c.x, c.y[i], texts[i], 3, colours[i]);
    int differing = 0, inked = 0;
    for (uint32_t y = 400; y < b.height; ++y) {
      for (uint32_t x = 0; x < 100; ++x) {
        const uint32_t want = reference[size_t(y) * b.stride + x] & 0xFFFFFFu;
        differing += (b.data[size_t(y) * b.stride + x] & 0xFFFFFFu) != want;
        inked += want != Slot(DS_SLOT_SCENE_BACKGROUND);
      }
    }
    EXPECT_GT(inked, 50);
    EXPECT_EQ(differing, 0);
  }
  job.tracker.GetFImage(1)->ClearFlags(FIMAGE_FLAG_NOT_PROCESSED);
}

// A cube in the scene view; the band is in view pixels.
TEST_F(ImageViewFixture, BandPicksAtItsCornerOrCollectsAndClampsNegativeCorners) {
  Scene* scene = uic::Controller::Instance()->GetScene();
  ASSERT_NE(scene, nullptr);
  auto* cube = new NHSObject_Cuboid();
  cube->SetCorners({-1, -1, -1}, {1, 1, 1});
  scene->AddChild(cube);
  std::unique_ptr<NHSObject_Cuboid> owned(cube);
  struct Unlink {
    NHSObject* node;
    ~Unlink() { node->Unlink(); }
  } unlink{cube};

  viewer.Resize(160, 120);
  viewer.m_states.back().m_mode = 1;
  viewer.ActiveObserver().SetDistance(60.0);
  Draw(ViewerBase::eShowUserObjects);
  // The cube's view pixels, found through the picking renderer.
  int left = -1, row = -1, right = -1, top = 1 << 20, bottom = -1;
  for (int y = 0; y < viewer.GetHeight(); ++y) {
    for (int x = 0; x < viewer.GetWidth(); ++x) {
      if (PickObjectAt(viewer.m_render_context, scene, x, y) != cube->GetUID()) continue;
      if (left < 0 || x < left) left = x, row = y;
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  ASSERT_GT(left, 0);
  ASSERT_GT(top, 0);
  ASSERT_GT(right - left, 10);

  struct Case {
    int min_x, min_y, max_x, max_y;
    bool found;
  } cases[] = {
      {left + 2, row, left + 2, row + 30, true},         // zero width: a pick on the cube
      {left + 2, row, left + 40, row, true},             // zero height
      {left - 5, top - 5, left - 5, bottom + 5, false},  // a pick beside it, though the band
      {left - 5, top - 5, right + 5, bottom + 5, true},  // crosses it; by rectangle
      {left - 10, top - 10, left + 3, row + 1, false},   // only part of it: not collected
      {right + 3, top - 10, right + 20, bottom + 5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.min_x << "," << c.min_y << " " << c.max_x << "," << c.max_y);
    uic::RubberBand band;
    band.m_min_x = c.min_x;
    band.m_min_y = c.min_y;
    band.m_max_x = c.max_x;
    band.m_max_y = c.max_y;
    std::vector<UIDBase*> out;
    const int n = viewer.GetSceneObjectsWithinRectangle(&out, band);
    EXPECT_EQ(n, int(out.size()));
    EXPECT_EQ(std::count(out.begin(), out.end(), static_cast<UIDBase*>(cube)), c.found ? 1 : 0);
  }

  // Negative corners are clamped to 0 before the centre is subtracted: with the projection
  // centre moved so that the cube's left end sits at view pixel (0, 0), a band left of and
  // above the view finds it (unclamped it would pick 20 pixels left of the cube).
  viewer.m_render_context.SetPrincipalPoint(viewer.GetWidth() / 2 - (left + 1),
                                            viewer.GetHeight() / 2 - row);
  uic::RubberBand band;
  band.m_min_x = band.m_max_x = -20;
  band.m_min_y = -30;
  band.m_max_y = -5;
  std::vector<UIDBase*> out;
  EXPECT_EQ(viewer.GetSceneObjectsWithinRectangle(&out, band), 1);
  EXPECT_EQ(out, std::vector<UIDBase*>{cube});
}

// ---- the frame through the lens

// Two black 64 x 48 frames with a white 4 x 4 block at the top-left corner (centre (3.5,
// 3.5)), shown at zoom 1 in a 64 x 48 view.
struct LensFrameFixture : testing::Test {
  LensFrameFixture() {
    auto list = SharedPtr<PackedStringList>::Make();
    std::string pixels(64 * 48, '\0');
    for (int y = 2; y < 6; ++y) pixels.replace(size_t(y * 64 + 2), 4, 4, char(255));
    for (int k = 0; k < 2; ++k) {
      const std::string path = dir.File("lens" + std::to_string(k) + ".pgm");
      kxtest::WriteFile(path, "P5\n64 48\n255\n" + pixels);
      list->Append(path.c_str(), k);
    }
    EXPECT_EQ(tracker.SetSequence(list), 0);
    image = tracker.GetFImage(1);
    image->SetPixelSize(0.01, 0.01);
    viewer.Resize(64, 48);
    EXPECT_EQ(viewer.SetFImage(image), 0);
    viewer.m_zoom = 1.0;
    viewer.m_offset_x = viewer.m_offset_y = 0;
  }
  std::vector<uint32_t> Draw(int flags) {
    viewer.m_states.back().m_flags = flags;
    viewer.Redraw();
    const ArrayMap<uint32_t>& b = viewer.GetBuffer();
    return {b.data, b.data + size_t(b.stride) * b.height};
  }

  kxtest::TempDir dir;
  uic::MetaCTracker tracker;
  kxtest::CurrentTracker current{&tracker};
  SharedPtr<FeatureImage> image;
  kxtest::RecordingViewer viewer;
};

TEST_F(LensFrameFixture, UndistortedFrameAndMaskVertexMoveTogether) {
  // The block's centre and where the lens shows it, well inside the block's corner.
  const double x = 3.5, y = 3.5;
  image->SetNormalizedK3(-0.3);
  double ux = x, uy = y;
  image->Undistort(x, y, ux, uy, false);
  ASSERT_GT(ux, x + 4);
  ASSERT_GT(uy, y + 3);
  const int flags = ViewerBase::eShowFrame | ViewerBase::eShowUndistorted;
  Draw(flags);
  EXPECT_GT(Channel(viewer.ImagePixel(ux, uy), 8), 0xC0u);
  EXPECT_LT(Channel(viewer.ImagePixel(x, y), 8), 0x40u);
  Draw(ViewerBase::eShowFrame);
  EXPECT_LT(Channel(viewer.ImagePixel(ux, uy), 8), 0x40u);
  EXPECT_EQ(viewer.ImagePixel(x, y), 0xFFFFFFu);

  // A mask vertex stored on the block is drawn on the block as shown; the segment of a mask
  // being drawn runs from there to the pointer itself, which is not moved by the lens.
  std::vector<Vertex> v(3);
  const double xy[3][2] = {{x, y}, {x + 20, y}, {x, y + 20}};
  for (int i = 0; i < 3; ++i) v[size_t(i)].SetKey(1, {xy[i][0], xy[i][1], 0.0});
  tracker.GetVertexObjectPool().AddPolygonMask(2, v, 1);
  Draw(flags | ViewerBase::eShowMasks);
  EXPECT_EQ(viewer.ImagePixel(ux, uy), Slot(DS_SLOT_VERTEX_MARKER));
  EXPECT_NE(viewer.ImagePixel(x, y), Slot(DS_SLOT_VERTEX_MARKER));

  tracker.GetVertexObjectPool().GetPolygonMasks().clear();
  viewer.m_mask_points.resize(1);
  viewer.m_mask_points[0].SetKey(1, {x, y, 0.0});
  viewer.m_mouse_x = 58;  // where the lens would move a point by several pixels
  viewer.m_mouse_y = 42;
  Draw(flags | ViewerBase::eShowMasks);
  const double dx = 58 - ux, dy = 42 - uy, length = std::hypot(dx, dy);
  const uint32_t before = viewer.ImagePixel(58 - 3 * dx / length, 42 - 3 * dy / length);
  const uint32_t beyond = viewer.ImagePixel(58 + 3 * dx / length, 42 + 3 * dy / length);
  EXPECT_GT(Channel(before, 0), Channel(before, 16) + 0x80);  // slot 9 is blue
  EXPECT_LT(Channel(beyond, 0), Channel(beyond, 16) + 0x10);
}

// Without lens coefficients the undistorted display shows the frame as it is, not resampled
// (bilinear resampling blends the frame's rim with the background where the straight copy
// clamps).
TEST_F(LensFrameFixture, ZeroCoefficientsShowTheFrameWithoutResampling) {
  viewer.m_painter.Target().image_quality = 2;
  for (const double zoom : {1.0, 1.5, 0.75}) {
    SCOPED_TRACE(zoom);
    viewer.m_zoom = zoom;
    viewer.m_offset_x = 3;
    viewer.m_offset_y = 2;
    EXPECT_EQ(Draw(ViewerBase::eShowFrame | ViewerBase::eShowUndistorted),
              Draw(ViewerBase::eShowFrame));
  }
}

}  // namespace
