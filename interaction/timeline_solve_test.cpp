// The timeline's per-frame error curve over a real solve of a synthetic free-motion
// sequence (slow under the sanitizers: it runs with the end-to-end solves).
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "foundation/tracks/feature_flags.h"
#include "interaction/timeline_for_test.h"
#include "testing/log_capture.h"
#include "tracking/maps/free_motion_run_for_test.h"

namespace uic {
namespace {

// The root mean square of the image's reprojection residuals, in pixels, over its features
// linked to Cartesian points that are still part of the solution.
double ReprojectionError(const FeatureImage& image) {
  double sum = 0.0;
  int n = 0;
  for (const SharedPtr<FeaturePoint2D>& f : image.GetFPoints2D()) {
    const FeaturePoint3D* p = f ? f->GetFPoint3D().Get() : nullptr;
    if (!p || p->TestFlags(FP3D_FLAG_REMOVED) || p->GetCS() != FeaturePoint3D::eCartesian) continue;
    double u, v, depth;
    image.ProjectPoint(*p, u, v, depth, false);
    sum += (f->x - u) * (f->x - u) + (f->y - v) * (f->y - v);
    n += 2;
  }
  return n > 0 ? std::sqrt(sum / n) : -1.0;
}

TEST(TimelineSolveTest, TheErrorCurveHoldsEachSolvedFramesReprojectionError) {
  kxtest::LogCapture quiet(2);
  kxtest::FreeMotionOptions o;
  o.frames = 20;
  o.noise = 0.3;
  o.threshold_mode = 1;
  o.sigma = 0.3;
  o.max_map_error = 1.2;
  o.ba_limit = FeatureMapMove::eOnlyFinal;
  kxtest::FreeMotionRun run(o);
  FeatureMapMove map;
  run.Configure(map);
  ASSERT_TRUE(run.Track(map)) << run.failure;

  kxtest::FramesJob frames(0);
  frames.tracker->GetImageList() = run.images;
  kxtest::TestTimeline t;
  t.UpdateCurves(eCurveError);
  ASSERT_EQ(t.GetCurves().size(), 1u);
  const TimelineCurve& curve = t.GetCurves()[0];
  EXPECT_EQ(curve.style, eCurveStyleErrorBars);
  std::map<uint32_t, double> values;
  for (const TimelineCurvePoint& p : curve.points) values[p.frame] = p.value;
  EXPECT_EQ(values.size(), curve.points.size()) << "one value per frame";

  const auto& solved = map.GetIncrementalList();
  ASSERT_EQ(solved.size(), run.images.size());
  EXPECT_EQ(curve.points.size(), solved.size());
  for (const SharedPtr<FeatureImage>& image : solved) {
    const uint32_t frame = uint32_t(image->GetImageIndex());
    ASSERT_EQ(values.count(frame), 1u) << frame;
    const double error = ReprojectionError(*image);
    EXPECT_GT(error, 0.0);
    EXPECT_NEAR(values[frame], error, 1e-6 * error) << frame;
  }
  frames.tracker->GetImageList().clear();  // the run's images stay the run's
}

}  // namespace
}  // namespace uic
