#include "optimise/camera_estimator_ptrz.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <cstdio>
#include <string>

#include "foundation/camera/camera_geometry.h"
#include "testing/log_capture.h"
#include "testing/rotating_camera_pair_for_test.h"
#include "testing/thrown.h"

namespace {

using kxtest::RotatingCameraPair;
using kxtest::RotatingCameraPairOptions;
using EstimatorPTRZ = CameraEstimatorPTRZ<OptimizerLM_PTRZ>;
using EstimatorPTRZF = CameraEstimatorPTRZF<OptimizerLM_PTRZF>;
using EstimatorRT = CameraEstimatorRT<OptimizerLM_RT>;

struct MotionCase {
  const char* name;
  RotatingCameraPairOptions pair;
};

void PrintTo(const MotionCase& c, std::ostream* os) {
  *os << c.name;
}

std::string CaseName(const testing::TestParamInfo<MotionCase>& info) {
  return info.param.name;
}

class PanTiltRollZoomRecovery : public testing::TestWithParam<MotionCase> {};

// The previous camera is the first image; the init camera stands elsewhere, and the
// current camera brings another lens model: the result takes the init centre and Poly3.
TEST_P(PanTiltRollZoomRecovery, EstimatorGivesTheMotionBack) {
  RotatingCameraPair pair(GetParam().pair);
  PerspectiveCamera init = pair.first;
  SetCameraCentre(init, {250.0, -40.0, 1200.0});
  PerspectiveCamera current = pair.first;
  current.SetDistortion(0.0, 0.0, 0, Poly5);

  EstimatorPTRZ estimator;
  estimator.SetInitCamera(init);
  estimator.SetPreviousCamera(pair.first);
  estimator.SetCurrentCamera(current);
  estimator.SetCorrespondences(FeatureCorrespondenceIterator(&pair.later, 1, true), nullptr,
                               nullptr);
  PerspectiveCamera result;
  ASSERT_TRUE(estimator.Run(&result));

  double pan = 0, tilt = 0, roll = 0;
  GetCameraAngles(result, pan, tilt, roll, &init);
  const RotatingCameraPairOptions& o = GetParam().pair;
  EXPECT_NEAR(pan, o.pan, 1e-3);
  EXPECT_NEAR(tilt, o.tilt, 1e-3);
  EXPECT_NEAR(roll, o.roll, 1e-3);
  EXPECT_NEAR(result.GetFocalLength(), pair.first.GetFocalLength() * o.zoom,
              2e-3 * pair.first.GetFocalLength() * o.zoom);
  EXPECT_EQ(result.GetC(), init.GetC());
  EXPECT_EQ(result.GetDistortionModel(), Poly3);
  EXPECT_NEAR(result.GetCenterPointX(), o.principal_x_px, 1e-9);
  EXPECT_NEAR(result.GetCenterPointY(), o.principal_y_px, 1e-9);
  // chi2 per sample in mm^2: about twice the noise variance.
  const double sigma_mm = o.noise_px * 0.1;
  EXPECT_LT(estimator.GetError(false), 4.0 * sigma_mm * sigma_mm + 1e-20);
}

INSTANTIATE_TEST_SUITE_P(
    Motions, PanTiltRollZoomRecovery,
    testing::Values(MotionCase{"Still", {}}, MotionCase{"Pan", {.pan = 0.1}},
                    MotionCase{"TiltAndZoomIn", {.tilt = -0.06, .zoom = 1.3, .noise_px = 0.3}},
                    MotionCase{"RollAndZoomOut", {.roll = 0.2, .zoom = 0.85, .noise_px = 0.3}},
                    MotionCase{"AllWithPrincipalPoint",
                               {.pan = -0.08,
                                .tilt = 0.05,
                                .roll = -0.03,
                                .zoom = 1.1,
                                .noise_px = 0.5,
                                .principal_x_px = 12.0,
                                .principal_y_px = -8.0}}),
    CaseName);

TEST(CameraEstimatorPTRZTest, NullCamerasStandForThePreviousCamera) {
  RotatingCameraPair pair({.pan = 0.05, .tilt = 0.02, .zoom = 1.2, .noise_px = 0.2});
  PerspectiveCamera results[2];
  for (int explicit_cameras = 0; explicit_cameras < 2; ++explicit_cameras) {
    EstimatorPTRZ estimator;
    estimator.SetInitCamera(pair.first);
    estimator.SetPreviousCamera(pair.first);
    estimator.SetCurrentCamera(pair.first);
    PerspectiveCamera* c = explicit_cameras ? &pair.first : nullptr;
    estimator.SetCorrespondences(FeatureCorrespondenceIterator(&pair.later, 1, true), c, c);
    EXPECT_EQ(estimator.m_optimizer.m_data.m_elements.size(), pair.links.size());
    ASSERT_TRUE(estimator.Run(&results[explicit_cameras]));
  }
  EXPECT_EQ(results[0].GetA(), results[1].GetA());
  EXPECT_EQ(results[0].GetH(), results[1].GetH());
}

TEST(CameraEstimatorPTRZTest, NoCorrespondencesReachTheCallerAsAnException) {
  EstimatorPTRZ estimator;
  FeatureImage empty;
  estimator.SetCorrespondences(FeatureCorrespondenceIterator(&empty, 1, true), nullptr, nullptr);
  PerspectiveCamera result;
  EXPECT_EQ(kxtest::Thrown([&] { estimator.Run(&result); }),
            "OptimizerLM::Optimize: numerical problems");
  EXPECT_EQ(estimator.GetError(false), 1e32);
}

// From its zero start the fit reliably finds the turn when the baseline adds no parallax.
TEST(CameraEstimatorRTTest, RecoversTheTurn) {
  RotatingCameraPair pair({.pan = 0.04, .tilt = -0.03, .roll = 0.02, .num_points = 40});
  EstimatorRT estimator;
  estimator.SetInitCamera(pair.first);
  estimator.SetPreviousCamera(pair.first);
  estimator.SetCurrentCamera(pair.first);
  estimator.SetCorrespondences(pair.links, &pair.first, &pair.second);
  PerspectiveCamera result;
  kxtest::LogCapture quiet(1);
  ASSERT_TRUE(estimator.Run(&result));
  double pan = 0, tilt = 0, roll = 0;
  GetCameraAngles(result, pan, tilt, roll, &pair.first);
  EXPECT_NEAR(pan, 0.04, 2e-3);
  EXPECT_NEAR(tilt, -0.03, 2e-3);
  EXPECT_NEAR(roll, 0.02, 2e-3);
  EXPECT_EQ(result.GetC(), pair.first.GetC());
  EXPECT_NEAR(result.GetFocalLength(), pair.first.GetFocalLength(), 1e-9);
}

TEST(CameraEstimatorPTRZFTest, SearchRangeOfA720PixelCamera) {
  PerspectiveCamera camera;  // 720 pixels of 0.1 mm
  double f_min = 0, f_max = 0, step = 0;
  EstimatorPTRZF::GetFocalSearchRange(camera, f_min, f_max, step);
  EXPECT_NEAR(f_min, 30.2076, 1e-4);
  EXPECT_NEAR(f_max, 824.5356, 1e-4);
  EXPECT_NEAR(step, 1.9858, 1e-4);
}

// Every step fails without samples: 400 steps are tried and logged, and the search
// fails instead of fitting from undefined start values.
TEST(CameraEstimatorPTRZFTest, NoSuccessfulStepFails) {
  EstimatorPTRZF estimator;
  estimator.SetCorrespondences(t_ListFCorr{}, nullptr, nullptr);
  PerspectiveCamera result;
  kxtest::LogCapture log(5);
  EXPECT_FALSE(estimator.RunFullSearchFwithPTRZ(&result));
  int steps = 0;
  for (const std::string& line : log.lines)
    steps += line.find("step with f=") != std::string::npos ? 1 : 0;
  EXPECT_EQ(steps, 400);
  EXPECT_TRUE(log.Has("CameraEstimatorPTRZF::RunFullSearchFwithPTRZ: step with f=30.2076 failed"));
  EXPECT_TRUE(log.Has("CameraEstimatorPTRZF::RunFullSearchFwithPTRZ failed !"));
}

TEST(CameraEstimatorPTRZFTest, NullResultIsRefused) {
  EstimatorPTRZF estimator;
  kxtest::LogCapture log(5);
  EXPECT_FALSE(estimator.RunFullSearchFwithPTRZ(nullptr));
  EXPECT_TRUE(log.Has("CameraEstimatorPTRZF::RunFullSearchFwithPTRZ: result == NULL !"));
}

TEST(CameraEstimatorPTRZFTest, FindsTheFocalLengthFromAWrongStart) {
  RotatingCameraPair pair(
      {.pan = 0.12, .tilt = -0.08, .roll = 0.03, .zoom = 1.15, .num_points = 40, .noise_px = 0.1});
  const double true_f = pair.first.GetFocalLength();
  PerspectiveCamera wrong = pair.first;
  wrong.SetFocalLength(30.0);
  EstimatorPTRZF estimator;
  estimator.SetInitCamera(wrong);
  estimator.SetPreviousCamera(wrong);
  estimator.SetCurrentCamera(wrong);
  estimator.SetCorrespondences(FeatureCorrespondenceIterator(&pair.later, 1, true), &wrong, &wrong);
  PerspectiveCamera result;
  ASSERT_TRUE(estimator.Run(&result));
  EXPECT_NEAR(estimator.GetPreviousCamera().GetFocalLength(), true_f, 0.01 * true_f);
  EXPECT_NEAR(result.GetFocalLength(), true_f * 1.15, 0.01 * true_f * 1.15);
  double pan = 0, tilt = 0, roll = 0;
  GetCameraAngles(result, pan, tilt, roll, &wrong);
  EXPECT_NEAR(pan, 0.12, 2e-3);
  EXPECT_NEAR(tilt, -0.08, 2e-3);
  EXPECT_NEAR(roll, 0.03, 2e-3);
}

// The second points equal the first, so every focal step fits the identity with error
// 0: the first (smallest) focal length is kept. The final fit cannot tell f from the
// identity (it may fail), so the kept value is read from the log line before it.
TEST(CameraEstimatorPTRZFTest, EqualErrorsKeepTheSmallerFocalLength) {
  PerspectiveCamera camera;
  FeatureImage earlier, later;
  t_ListFCorr list;
  const double positions[][2] = {{100, 100}, {600, 120}, {350, 500}, {50, 400}};
  for (const auto& p : positions) {
    auto a = SharedPtr<FeaturePoint2D>::Make(&earlier, p[0], p[1]);
    auto b = SharedPtr<FeaturePoint2D>::Make(&later, p[0], p[1]);
    earlier.AddFPoint2D(a);
    later.AddFPoint2D(b);
    list.push_back(SharedPtr<FeatureCorrespondence>::Make(a, b));
  }
  EstimatorPTRZF estimator;
  estimator.SetPreviousCamera(camera);
  estimator.SetCorrespondences(list, &camera, &camera);
  PerspectiveCamera result;
  kxtest::LogCapture log(5);
  kxtest::Thrown([&] { estimator.RunFullSearchFwithPTRZ(&result); });
  double f_min = 0, f_max = 0, step = 0;
  EstimatorPTRZF::GetFocalSearchRange(camera, f_min, f_max, step);
  char expected[64];
  std::snprintf(expected, sizeof expected, "z 1.000000 [mm], f %.6f [mm]", f_min);
  EXPECT_TRUE(log.Has(expected)) << log.text;
}

}  // namespace
