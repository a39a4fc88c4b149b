// The two-view minimal solvers inside the random sampler, and the cameras their elements
// are mapped with.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_fmatrix.h"
#include "geometry/sample_calculator_hmatrix.h"
#include "geometry/sample_calculator_tknownrk.h"
#include "geometry/two_view_tracks_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::Pose;
using kxtest::TwoViewTracks;

struct SolverCase {
  const char* name;
  std::function<SharedPtr<SampleCalculator>()> make;
  Pose p1;
  bool planar;
  // The residual of element i under the true model; empty: every outlier is far off.
  std::function<double(const TwoViewTracks&, const CorrEl&)> truth;
};

double TrueTranslationResidual(const TwoViewTracks& scene, const CorrEl& e) {
  ParameterSetTKnownRK truth;
  const vm::Vector3 c = scene.camera1.GetC() - scene.camera0.GetC();
  const double n = std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
  truth.tx = c.x / n;
  truth.ty = c.y / n;
  truth.tz = -c.z / n;
  truth.f = scene.camera0.GetFocalLength();
  truth.sx = scene.camera0.GetPixelSizeX();
  truth.sy = scene.camera0.GetPixelSizeY();
  return truth.GetSquaredError(e);
}

const SolverCase kCases[] = {
    {"homography",
     [] { return SharedPtr<SampleCalculator>(SharedPtr<SampleCalculatorHMatrix>::Make()); },
     {150, -60, 300, 0.03, -0.08, 0.02},
     true,
     nullptr},
    {"fundamental",
     [] { return SharedPtr<SampleCalculator>(SharedPtr<SampleCalculatorFMatrix>::Make()); },
     {250, 60, 120, 0.04, -0.12, 0.02},
     false,
     kxtest::TrueEpipolarResidual},
    {"translation",
     [] { return SharedPtr<SampleCalculator>(SharedPtr<SampleCalculatorTKnownRK>::Make()); },
     {300, 150, 100, 0, 0, 0},
     false,
     TrueTranslationResidual},
};

class TwoViewRansacTest : public testing::TestWithParam<SolverCase> {};

TEST_P(TwoViewRansacTest, RecoversTheInliersAmongThirtyPercentOutliers) {
  const SolverCase& c = GetParam();
  kxtest::LogCapture quiet;
  TwoViewTracks scene({0, 0, 0, 0, 0, 0}, c.p1, 200, 0.3, c.planar, 0.1);
  for (const auto& corr : scene.corrs) corr->SetFlags(0);
  RandSampling sampler;
  sampler.SetSampleCalculator(c.make());
  testing::internal::CaptureStdout();  // the translation reports its focal length
  sampler.SetInitCamera(scene.camera0);
  sampler.SetCurrentCamera(scene.camera0);
  testing::internal::GetCapturedStdout();
  sampler.SetCorrespondences(scene.corrs);
  ASSERT_EQ(sampler.m_corr_els.size(), scene.corrs.size());
  sampler.Run(FCORR_SUPPORT_TRUE);
  ASSERT_TRUE(sampler.GetParameterSet());

  int inliers = 0, marked_outliers = 0, far_outliers = 0;
  for (size_t i = 0; i < scene.corrs.size(); ++i) {
    const bool marked = scene.corrs[i]->GetFlags() & FCORR_SUPPORT_TRUE;
    if (!scene.outlier[i]) {
      ++inliers;
      EXPECT_TRUE(marked) << "inlier " << i;
      continue;
    }
    // An outlier moved along its own flow or epipolar line still fits the model.
    const bool far = !c.truth || c.truth(scene, sampler.m_corr_els[i]) > 4.0;
    if (!far) continue;
    ++far_outliers;
    marked_outliers += marked;
  }
  EXPECT_EQ(marked_outliers, 0);
  EXPECT_GT(far_outliers, 40);
  EXPECT_GE(sampler.m_num_supported, inliers);
  EXPECT_EQ(sampler.m_num_supported + sampler.m_num_unsupported,
            static_cast<int>(scene.corrs.size()));
}

INSTANTIATE_TEST_SUITE_P(Solvers, TwoViewRansacTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<SolverCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(TwoViewRansacTest, WeightedTranslationResidualSupportsEverything) {
  TwoViewTracks scene({0, 0, 0, 0, 0, 0}, {300, 150, 100, 0, 0, 0}, 30, 0.3, false);
  kxtest::LogCapture quiet;
  RandSampling sampler;
  sampler.SetSampleCalculator(SharedPtr<SampleCalculatorTKnownRK>::Make());
  RandSampling::Parameter p;
  p.m_threshold_mode = 2;
  sampler.SetParameter(p);
  sampler.SetCorrespondences(scene.corrs);
  sampler.Run(FCORR_SUPPORT_TRUE);
  EXPECT_EQ(sampler.m_num_supported, 30);
  for (const auto& corr : scene.corrs) EXPECT_TRUE(corr->GetFlags() & FCORR_SUPPORT_TRUE);
}

TEST(TwoViewRansacTest, ElementsAreMappedWithTheirSolversCamera) {
  TwoViewTracks scene({0, 0, 0, 0, 0, 0}, {300, 150, 100, 0, 0, 0}, 1, 0.0, false);
  PerspectiveCamera init = kxtest::SceneCamera({0, 0, 0, 0, 0, 0}, 10.0, -4.0);
  PerspectiveCamera current = kxtest::SceneCamera({0, 0, 0, 0, 0, 0}, -20.0, 6.0);
  current.SetPixelSize(0.02, 0.02);
  const struct {
    const char* name;
    SharedPtr<SampleCalculator> calc;
    const PerspectiveCamera& camera;
  } cases[] = {
      {"homography: init", SharedPtr<SampleCalculatorHMatrix>::Make(), init},
      {"fundamental: current", SharedPtr<SampleCalculatorFMatrix>::Make(), current},
      {"translation: init", SharedPtr<SampleCalculatorTKnownRK>::Make(), init},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStdout();
    c.calc->SetInitCamera(init);
    c.calc->SetCurrentCamera(current);
    testing::internal::GetCapturedStdout();
    CorrEl e;
    ASSERT_TRUE(c.calc->MakeCorrEl(scene.corrs[0], e));
    const CorrEl expected = scene.Element(0, c.camera);
    EXPECT_EQ(e.corr.Get(), scene.corrs[0].Get());
    EXPECT_DOUBLE_EQ(e.x0, expected.x0);
    EXPECT_DOUBLE_EQ(e.y0, expected.y0);
    EXPECT_DOUBLE_EQ(e.x1, expected.x1);
    EXPECT_DOUBLE_EQ(e.y1, expected.y1);
    EXPECT_FALSE(c.calc->MakeCorrEl(SharedPtr<FeatureCorrespondence>::Make(), e))
        << "a link without features is skipped";
  }
}

}  // namespace
