#include "interaction/viewer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "interaction/tracker_job_for_test.h"
#include "interaction/viewer_for_test.h"
#include "scene/display_settings.h"
#include "testing/log_capture.h"

namespace {

using uic::ViewerBase;

size_t CountPixels(const ArrayMap<uint32_t>& b, uint32_t value) {
  size_t n = 0;
  for (uint32_t y = 0; y < b.height; ++y)
    n += size_t(std::count(b.data + y * b.stride, b.data + y * b.stride + b.width, value));
  return n;
}

void Fill(const ArrayMap<uint32_t>& b, uint32_t value) {
  for (uint32_t y = 0; y < b.height; ++y)
    std::fill(b.data + y * b.stride, b.data + y * b.stride + b.width, value);
}

TEST(Viewer, ResizeKeepsThePictureCentred) {
  uic::Viewer v;
  EXPECT_EQ(v.GetWidth(), 640);
  EXPECT_EQ(v.GetHeight(), 480);
  v.m_offset_x = v.m_offset_y = 0;
  v.Resize(800, 600);
  EXPECT_EQ(v.m_offset_x, 80);
  EXPECT_EQ(v.m_offset_y, 60);
  v.Resize(640, 480);
  EXPECT_EQ(v.m_offset_x, 0);
  EXPECT_EQ(v.m_offset_y, 0);
  v.Resize(641, 479);  // half a pixel rounds to nothing
  EXPECT_EQ(v.m_offset_x, 0);
  EXPECT_EQ(v.m_offset_y, 0);
  EXPECT_EQ(v.GetBuffer().stride, 644u);
  EXPECT_EQ(v.GetBuffer().width, 641u);
  // The painter always gets the new buffer.
  EXPECT_EQ(v.m_painter.Target().pixels, v.GetBuffer().data);
  EXPECT_EQ(v.m_painter.Target().width, 641);
}

TEST(Viewer, RedrawRectUpdatesTheGrownBox) {
  uic::Viewer v;
  uic::RubberBand band;
  band.Init(5, 5, 2);
  band.Update(20, 20);
  v.RedrawRect(band, 4);  // margin 2 + 4: (0, 0) .. (26, 26)
  const PainterTarget& t = v.m_painter.Target();
  EXPECT_EQ(t.pixels, v.GetBuffer().data);
  EXPECT_EQ(t.width, 26);
  EXPECT_EQ(t.height, 26);
}

TEST(Viewer, UpdateMapsImagePixelsIntoTheRectangle) {
  uic::Viewer v;
  v.m_zoom = 2.0;
  v.m_aspect_scale = 1.5;
  v.m_offset_x = 10;
  v.m_offset_y = 20;
  v.Update(100, 50, 30, 30);
  const PainterTarget& t = v.m_painter.Target();
  EXPECT_EQ(t.pixels, v.GetBuffer().data + 50 * v.GetBuffer().stride + 100);
  EXPECT_EQ(t.scale_x, 3.0);
  EXPECT_EQ(t.scale_y, 2.0);
  // Image pixel (x, y) covers view [offset + x * scale, offset + (x + 1) * scale).
  double x = 4, y = 7;
  MapPainterPoint(t, x, y);
  EXPECT_EQ(x, 10 + 4.5 * 3.0 - 100);
  EXPECT_EQ(y, 20 + 7.5 * 2.0 - 50);
}

TEST(Viewer, LockViewCentresTheAnchor) {
  uic::Viewer v;
  auto image = SharedPtr<FeatureImage>::Make();
  v.SetFImage(image);  // no tracker: the image is still shown
  v.m_lock_view_anchor.m_kind = uic::LockViewAnchor::eTrack2D;
  v.m_lock_view_anchor.m_track = {SharedPtr<FeaturePoint2D>::Make(image.Get(), 99.5, 49.5)};
  v.m_offset_x = v.m_offset_y = 3;
  v.Update(0, 0, 10, 10);
  EXPECT_EQ(v.m_offset_x, 3);  // lock view off
  v.m_interaction |= ViewerBase::kInteractionLockView;
  v.Update(0, 0, 10, 10);
  EXPECT_EQ(v.m_offset_x, 220);
  EXPECT_EQ(v.m_offset_y, 190);
  v.m_zoom = 2.0;
  v.m_aspect_scale = 0.75;
  v.Update(0, 0, 10, 10);
  EXPECT_EQ(v.m_offset_x, 170);  // trunc(320 - 100 * 1.5 + 0.5)
  EXPECT_EQ(v.m_offset_y, 140);
  v.m_lock_view_anchor.m_track.clear();  // no position: the view stays
  v.m_offset_x = 1;
  v.Update(0, 0, 10, 10);
  EXPECT_EQ(v.m_offset_x, 1);
}

TEST(Viewer, PainterFactorFromTheDisplaySettings) {
  uic::Viewer v;
  DisplaySettings& ds = DisplaySettings::Get();
  const uint8_t saved = ds.painter_factor_level;
  const int levels[][2] = {{0, 1}, {1, 1}, {2, 2}, {3, 2}, {4, 4}, {9, 4}};
  for (const auto& l : levels) {
    ds.painter_factor_level = uint8_t(l[0]);
    v.Update(0, 0, 1, 1);
    EXPECT_EQ(v.m_painter_factor, l[1]) << l[0];
  }
  ds.painter_factor_level = saved;
}

TEST(Viewer, BadModeAndMissingSceneAreLogged) {
  uic::Viewer v;
  Fill(v.GetBuffer(), 0x12345678);
  v.m_states.back().m_mode = 7;
  DisplaySettings& ds = DisplaySettings::Get();
  ds.colors_changed = true;
  kxtest::LogCapture log(5);
  v.Redraw();
  EXPECT_TRUE(log.Has("Viewer::Update: bad viewing mode 7"));
  EXPECT_TRUE(log.Has("Viewer::Update: scene not set"));
  EXPECT_TRUE(ds.colors_changed);  // applied once a scene exists
  EXPECT_EQ(CountPixels(v.GetBuffer(), 0x12345678), 640u * 480u);

  uic::MetaCTracker tracker;
  kxtest::CurrentTracker current(&tracker);
  v.Redraw();
  EXPECT_FALSE(ds.colors_changed);
}

TEST(Viewer, ImageViewClearsOnlyTheRectangle) {
  uic::MetaCTracker tracker;
  kxtest::CurrentTracker current(&tracker);
  uic::Viewer v;
  Fill(v.GetBuffer(), 0x12345678);
  v.Update(600, 400, 100, 100);  // partly outside the buffer
  const uint32_t background = DisplaySettings::Get().SlotColor(DS_SLOT_IMAGE_BACKGROUND);
  EXPECT_EQ(CountPixels(v.GetBuffer(), 0x12345678), 640u * 480u - 40u * 80u);
  EXPECT_EQ(CountPixels(v.GetBuffer(), background & 0x00FFFFFF), 40u * 80u);
  v.Update(700, 0, 10, 10);  // wholly outside: nothing
  EXPECT_EQ(CountPixels(v.GetBuffer(), 0x12345678), 640u * 480u - 40u * 80u);
}

TEST(Viewer, SceneViewRendersTheGridFromTheObserver) {
  kxtest::TrackerJob job;
  kxtest::CurrentTracker current(&job.tracker);
  uic::Viewer v;
  // Without a frame the view stays empty: the scene needs its camera.
  ASSERT_EQ(v.SetFImage(job.tracker.GetFImage(0)), 0);
  v.m_states.back().m_mode = 1;
  v.m_states.back().m_flags = 0x1000000;  // the ground grid only
  const uint32_t background =
      DisplaySettings::Get().SlotColor(DS_SLOT_SCENE_BACKGROUND) & 0x00FFFFFFu;
  v.Redraw();
  const size_t empty = CountPixels(v.GetBuffer(), background);
  EXPECT_GT(empty, 640u * 480u / 2);  // mostly background
  EXPECT_LT(empty, 640u * 480u);      // but the grid is drawn
  // The grid is symmetric about the observer's vertical plane through the view centre.
  const ArrayMap<uint32_t>& b = v.GetBuffer();
  size_t left = 0, right = 0;
  for (uint32_t y = 0; y < b.height; ++y)
    for (uint32_t x = 0; x < b.width; ++x)
      if (b.data[y * b.stride + x] != background) ++(x < 320 ? left : right);
  EXPECT_NEAR(double(left), double(right), 0.05 * double(left + right));
}

}  // namespace
