#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "testing/log_capture.h"
#include "tracking/maps/free_motion_run_for_test.h"

namespace {

using kxtest::FreeMotionOptions;
using kxtest::FreeMotionRun;
using kxtest::SolveErrors;

struct SolveCase {
  const char* name;
  FreeMotionOptions options;
  double centre_rel;  // largest aligned centre error, relative to the path length
  double focal_rel;   // largest relative focal-length error
  double angle_deg;   // largest aligned axis error
};

FreeMotionOptions Options(double noise, double outliers, bool reverse = false) {
  FreeMotionOptions o;
  o.frames = 40;
  o.noise = noise;
  o.outliers = outliers;
  o.reverse = reverse;
  // Exact tracks are F-inliers all, and the automatic key-frame criterion asks for an
  // inlier share below 0.8: without noise the pair is given.
  if (noise == 0.0) o.second_key = 10;
  if (noise > 0.0) {
    // As a user sets the sampler and the point update for the noise of the tracks (the
    // point update's largest error at four standard deviations).
    o.threshold_mode = 1;
    o.sigma = noise;
    o.max_map_error = 4.0 * noise;
    // Noise needs the final adjustments, which the default window mode skips.
    o.ba_limit = FeatureMapMove::eOnlyFinal;
  }
  return o;
}

void PrintTo(const SolveCase& c, std::ostream* os) {
  *os << c.name;
}

class FreeMotionSolveTest : public testing::TestWithParam<SolveCase> {};

// The whole road with default map parameters (with noise the final adjustments on): focal
// length unknown (start 30 % off), a projective reconstruction upgraded to metric by the
// final estimation, then scaled and aligned to the map camera. Reverse tracking (image
// indices decreasing along the list) gives the same cameras.
TEST_P(FreeMotionSolveTest, SolvesTheCameraPath) {
  const SolveCase& c = GetParam();
  const char* level = std::getenv("KX_SOLVE_LOG");
  kxtest::LogCapture log(level ? std::atoi(level) : 2);
  FreeMotionRun run(c.options);
  FeatureMapMove map;
  run.Configure(map);
  ASSERT_TRUE(run.Track(map)) << run.failure << "\n" << log.text;
  const SolveErrors e = run.Compare(map, map.GetMapCamera());
  std::printf("%s: centre %.3g of the path, focal %.3g, axes %.3g deg, rmse %.3g px, %d frames\n",
              c.name, e.centre_rel, e.focal_rel, e.angle_deg, e.rmse, e.frames_solved);
  EXPECT_EQ(e.frames_solved, c.options.frames);
  EXPECT_LT(e.centre_rel, c.centre_rel);
  EXPECT_LT(e.focal_rel, c.focal_rel);
  EXPECT_LT(e.angle_deg, c.angle_deg);
  // Aligned to the map camera and scaled to typical depths of five focal lengths.
  EXPECT_LT(e.first_pose, 1e-6);
  EXPECT_NEAR(e.depth_in_focal, 5.0, 1e-6);
  if (c.options.outliers > 0.0) {
    EXPECT_GT(e.outliers_flagged, 0.95);
  }
}

// The map against the maximum-likelihood estimate for the same noisy observations (every
// track, the focal length known): what its thresholds drop must not cost much more than
// the noise itself allows.
TEST(FreeMotionSolveReferenceTest, StaysNearTheMaximumLikelihoodEstimate) {
  kxtest::LogCapture log(2);
  const FreeMotionOptions o = Options(0.5, 0.0);
  FreeMotionRun run(o);
  FeatureMapMove map;
  run.Configure(map);
  ASSERT_TRUE(run.Track(map)) << run.failure << "\n" << log.text;
  const SolveErrors ours = run.Compare(map, map.GetMapCamera());
  const SolveErrors best = kxtest::MaximumLikelihoodReference(o, 0);
  std::printf("centre %.3g of the path, maximum likelihood %.3g\n", ours.centre_rel,
              best.centre_rel);
  EXPECT_LT(ours.centre_rel, 1.5 * best.centre_rel);
}

// Exact tracks are all F-inliers, so the automatic key-frame search accepts no pair while
// the shot is tracked. Its last chance at the end of the run takes the widest pair that
// prefers F: the walk is solved in 3D instead of ending rotation-only (every camera at
// one place, the focal length where it started, 30 % off).
TEST(FreeMotionSolveRotationOnlyTest, NoKeyPairWhileTrackingTakesTheWidestPairAtTheEnd) {
  kxtest::LogCapture log(5);
  FreeMotionOptions o;
  o.frames = 16;
  FreeMotionRun run(o);
  FeatureMapMove map;
  run.Configure(map);
  ASSERT_TRUE(run.Track(map)) << run.failure << "\n" << log.text;
  EXPECT_TRUE(log.Has("the last chance takes the widest pair that prefers F"));
  EXPECT_FALSE(map.RotationOnlyResult());
  const SolveErrors e = run.Compare(map, map.GetMapCamera());
  std::printf("centre %.3g of the path, focal %.3g, axes %.3g deg, rmse %.3g px, %d frames\n",
              e.centre_rel, e.focal_rel, e.angle_deg, e.rmse, e.frames_solved);
  EXPECT_EQ(e.frames_solved, o.frames);
  EXPECT_LT(e.centre_rel, 1e-3);
  EXPECT_LT(e.focal_rel, 1e-3);
  EXPECT_LT(e.angle_deg, 0.05);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FreeMotionSolveTest,
    testing::Values(SolveCase{"NoiseFree", Options(0.0, 0.0), 1e-6, 1e-6, 1e-6},
                    SolveCase{"NoiseFreeReverse", Options(0.0, 0.0, true), 1e-6, 1e-6, 1e-6},
                    SolveCase{"HalfPixelNoise", Options(0.5, 0.0), 2e-3, 1e-3, 0.2},
                    SolveCase{"HalfPixelNoiseReverse", Options(0.5, 0.0, true), 2e-3, 1e-3, 0.2},
                    SolveCase{"HalfPixelNoiseAndOutliers", Options(0.5, 0.05), 3e-3, 2e-3, 0.2}),
    [](const testing::TestParamInfo<SolveCase>& info) { return std::string(info.param.name); });

}  // namespace
