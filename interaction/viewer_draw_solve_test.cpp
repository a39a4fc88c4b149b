// The image view over a solved free-motion sequence: the 3D overlay puts every point where
// its feature is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "interaction/viewer_for_test.h"
#include "scene/display_settings.h"
#include "testing/log_capture.h"
#include "tracking/maps/free_motion_run_for_test.h"

namespace {

// Centroid of the pixels within r of (cx, cy) that carry the point colour's green, each
// weighted by how much of it they carry; false when none does.
bool DotCentroid(const ArrayMap<uint32_t>& b, double cx, double cy, int r, uint32_t background,
                 uint32_t dot, double& x, double& y) {
  const double g0 = (background >> 8) & 0xFF, g1 = (dot >> 8) & 0xFF;
  double sum = 0.0, sx = 0.0, sy = 0.0;
  for (int j = int(cy) - r; j <= int(cy) + r; ++j) {
    for (int i = int(cx) - r; i <= int(cx) + r; ++i) {
      if (i < 0 || j < 0 || i >= int(b.width) || j >= int(b.height)) continue;
      const double g = (b.data[size_t(j) * b.stride + size_t(i)] >> 8) & 0xFF;
      const double w = std::clamp((g - g0) / (g1 - g0), 0.0, 1.0);
      sum += w;
      sx += w * (i + 0.5);
      sy += w * (j + 0.5);
    }
  }
  if (sum == 0.0) return false;
  x = sx / sum;
  y = sy / sum;
  return true;
}

// A frame of the solved sequence drawn with the scene over it (only the points the frame
// sees) in a view larger than the frame, so that the picture sits at non-zero offsets.
TEST(ImageViewSolveTest, PointDotsLieOnTheirFeatures) {
  const char* level = std::getenv("KX_SOLVE_LOG");
  kxtest::LogCapture log(level ? std::atoi(level) : 2);
  uic::MetaCTracker tracker;
  FeatureMapMove* map = tracker.GetFreeMotionMap();
  ASSERT_NE(map, nullptr);
  kxtest::FreeMotionOptions o;
  o.frames = 40;
  o.second_key = 10;  // exact tracks: the key-frame pair is given
  kxtest::FreeMotionRun run(o);
  run.Configure(*map);
  ASSERT_TRUE(run.Track(*map)) << run.failure << "\n" << log.text;

  kxtest::CurrentTracker current(&tracker);
  uic::Viewer viewer;
  const SharedPtr<FeatureImage>& image = run.images[20];
  viewer.Resize(int(image->GetWidth()) + 40, int(image->GetHeight()) + 20);
  ASSERT_EQ(viewer.SetFImage(image), 0);
  // The tracker has no sequence of its own to fit the zoom to.
  viewer.m_zoom = 1.0;
  viewer.m_offset_x = 20;
  viewer.m_offset_y = 10;
  viewer.m_states.back().m_flags = uic::ViewerBase::eShowSceneOverFrame | 0x4;
  viewer.Redraw();

  const DisplaySettings& ds = DisplaySettings::Get();
  const uint32_t background = ds.SlotColor(DS_SLOT_IMAGE_BACKGROUND);
  const uint32_t dot = ds.SlotColor(DS_SLOT_POINT_SEEN);
  const FeatureImage::FeatureList& features = image->GetFPoints2D();
  int checked = 0;
  double worst = 0.0;
  for (const SharedPtr<FeaturePoint2D>& f : features) {
    if (!f->GetFPoint3D() || f->GetFPoint3D()->TestFlags(FP3D_FLAG_REMOVED)) continue;
    // Dots of neighbours or the frame border would pull the centroid.
    bool alone = f->x > 10 && f->y > 10 && f->x < image->GetWidth() - 11.0 &&
                 f->y < image->GetHeight() - 11.0;
    for (const SharedPtr<FeaturePoint2D>& g : features) {
      if (g != f && std::hypot(g->x - f->x, g->y - f->y) < 16.0) alone = false;
    }
    if (!alone) continue;
    const double vx = viewer.m_offset_x + (f->x + 0.5) * viewer.m_zoom * viewer.m_aspect_scale;
    const double vy = viewer.m_offset_y + (f->y + 0.5) * viewer.m_zoom;
    double x = 0.0, y = 0.0;
    ASSERT_TRUE(DotCentroid(viewer.GetBuffer(), vx, vy, 6, background, dot, x, y))
        << "no dot near feature at " << f->x << ", " << f->y;
    const double d = std::hypot(x - vx, y - vy);
    EXPECT_LT(d, 1.0) << "feature at " << f->x << ", " << f->y;
    worst = std::max(worst, d);
    ++checked;
  }
  std::printf("%d isolated features, largest dot distance %.3g px\n", checked, worst);
  EXPECT_GT(checked, 20);
}

}  // namespace
