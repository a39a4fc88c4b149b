#include "geometry/guided_matching.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "geometry/sample_calculator_hmatrix.h"
#include "geometry/two_view_tracks_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::Pose;
using kxtest::TwoViewTracks;

const Pose kOrigin{0, 0, 0, 0, 0, 0};

TEST(GuidedMatchingTest, KeepsTrueCorrespondencesAndDropsMovedOnes) {
  const struct {
    const char* name;
    std::function<SharedPtr<GuidedMatching>()> make;
    Pose p1;
    bool planar;
  } cases[] = {
      {"homography over a plane",
       [] { return SharedPtr<GuidedMatching>(SharedPtr<GuidedMatchingHMatrix>::Make()); },
       {150, -60, 300, 0.03, -0.08, 0.02},
       true},
      {"fundamental matrix",
       [] { return SharedPtr<GuidedMatching>(SharedPtr<GuidedMatchingFMatrix>::Make()); },
       {250, 60, 120, 0.04, -0.12, 0.02},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::LogCapture quiet;
    TwoViewTracks stored(kOrigin, c.p1, 60, 0.0, c.planar, 0.05, 1);
    SharedPtr<GuidedMatching> matcher = c.make();
    matcher->m_camera2 = stored.camera0;
    matcher->SetCorrespondences(FeatureCorrespondenceIterator(&stored.image1, 1, true));
    ASSERT_EQ(matcher->m_vecCorr.size(), 60u);
    ASSERT_TRUE(matcher->ReEstimate());

    // Candidates of other scene points; half of them have their second feature moved.
    TwoViewTracks candidates(kOrigin, c.p1, 100, 0.5, c.planar, 0.0, 2);
    const double radius = 2.0;
    int kept = 0, dropped = 0;
    for (size_t i = 0; i < candidates.corrs.size(); ++i) {
      const auto& corr = candidates.corrs[i];
      const bool inside = matcher->IntoSearchRegion(corr->GetFirst(), corr->GetSecond(), radius);
      if (!candidates.outlier[i]) {
        EXPECT_TRUE(inside) << "true pair " << i;
        kept += inside;
        continue;
      }
      // A move along the epipolar line keeps a pair consistent with F.
      if (!c.planar && kxtest::TrueEpipolarResidual(
                           candidates, candidates.Element(i, candidates.camera0)) < 16.0)
        continue;
      EXPECT_FALSE(inside) << "moved pair " << i;
      dropped += !inside;
    }
    EXPECT_GT(kept, 30);
    EXPECT_GT(dropped, 20);
  }
}

TEST(GuidedMatchingTest, FourElementsGiveTheFourPointHomography) {
  TwoViewTracks tracks(kOrigin, {100, -80, 400, 0.05, -0.1, 0.03}, 4, 0.0, false);
  GuidedMatchingHMatrix matcher;
  matcher.m_camera2 = tracks.camera0;
  matcher.SetCorrespondences(tracks.corrs);
  ASSERT_TRUE(matcher.EstimateHMatrix());
  SampleCalculatorHMatrix calc;
  calc.SetInitCamera(tracks.camera0);
  calc.CalcParameter(kxtest::Pointers(matcher.m_vecCorr));
  const auto* four = static_cast<const ParameterSetHMatrix*>(calc.GetParameterSets()[0]);
  const auto* guided = static_cast<const ParameterSetHMatrix*>(matcher.m_parameter_set.Get());
  for (int i = 0; i < 9; ++i)
    EXPECT_NEAR(guided->m_hmatrix.m[i], four->m_hmatrix.m[i],
                1e-9 * (1.0 + std::fabs(four->m_hmatrix.m[i])));
  EXPECT_EQ(guided->m_xscale, four->m_xscale) << "pixel scale of camera 2";
  EXPECT_TRUE(guided->m_inverse_valid);
}

TEST(GuidedMatchingTest, APairExactlyOnTheRadiusIsOutside) {
  // Identity homography, pixels of 0.125 mm: a pair 2 pixels apart in x and y has the
  // residual (4 + 4 + 4 + 4) / 4 = 4 exactly.
  GuidedMatchingHMatrix matcher;
  matcher.m_camera2.SetPixelSize(0.125, 0.125);
  auto identity = SharedPtr<ParameterSetHMatrix>::Make();
  identity->SetScales(matcher.m_camera2);
  identity->ComputeInverse();
  matcher.m_parameter_set = identity;
  auto first = SharedPtr<FeaturePoint2D>::Make(nullptr, 100.0, 50.0);
  auto second = SharedPtr<FeaturePoint2D>::Make(nullptr, 102.0, 52.0);
  EXPECT_FALSE(matcher.IntoSearchRegion(first, second, 2.0));
  EXPECT_TRUE(matcher.IntoSearchRegion(first, second, std::nextafter(2.0, 3.0)));
  EXPECT_FALSE(matcher.IntoSearchRegion(first, nullptr, 100.0));
}

TEST(GuidedMatchingTest, RefusalsKeepTheState) {
  TwoViewTracks tracks(kOrigin, {250, 60, 120, 0.04, -0.12, 0.02}, 7, 0.0, false);
  const auto& c0 = tracks.corrs[0];
  kxtest::LogCapture log(5);

  GuidedMatching base;
  base.SetCorrespondences(tracks.corrs);
  base.SetCorrespondences(FeatureCorrespondenceIterator(&tracks.image1, 1, true));
  EXPECT_FALSE(base.ReEstimate());
  EXPECT_FALSE(base.IntoSearchRegion(c0->GetFirst(), c0->GetSecond(), 5.0));
  EXPECT_TRUE(base.m_vecCorr.empty());
  for (const char* text :
       {"GuidedMatching::SetCorrespondences: parameter: t_ListFCorr, does nothing, method has to "
        "be reimplemented in the derived class !",
        "GuidedMatching::SetCorrespondences: parameter: FeatureCorrespondenceIterator, does "
        "nothing, method has to be reimplemented in the derived class !",
        "GuidedMatching::ReEstimatedoes nothing, method has to be reimplemented in the derived "
        "class !",
        "GuidedMatching::IntoSearchRegiondoes nothing, method has to be reimplemented in the "
        "derived class !"})
    EXPECT_TRUE(log.Has(text)) << text;

  GuidedMatchingFMatrix f;
  f.m_camera2 = tracks.camera0;
  EXPECT_FALSE(f.IntoSearchRegion(c0->GetFirst(), c0->GetSecond(), 5.0));
  EXPECT_TRUE(log.Has("GuidedMatchingFMatrix::IntoSearchRegion:  parameter set not set !"));
  f.SetCorrespondences(FeatureCorrespondenceIterator(&tracks.image1, 1, true));
  ASSERT_EQ(f.m_vecCorr.size(), 7u);
  f.SetCorrespondences(t_ListFCorr{});  // the list form is not its own
  EXPECT_EQ(f.m_vecCorr.size(), 7u);
  EXPECT_FALSE(f.ReEstimate());
  EXPECT_FALSE(f.m_parameter_set);
  EXPECT_TRUE(log.Has("GuidedMatchingFMatrix::ReEstimateFMatrix:  m_vecCorr.size = 7"));
  EXPECT_TRUE(log.Has("GuidedMatchingFMatrix::ReEstimateFMatrix: correspondence size less than 8"));
  EXPECT_TRUE(log.Has("              missing call of GuidedMatchingFMatrix::SetCorrespondences"));

  GuidedMatchingHMatrix h;
  h.m_camera2 = tracks.camera0;
  EXPECT_FALSE(h.IntoSearchRegion(c0->GetFirst(), c0->GetSecond(), 5.0));
  EXPECT_TRUE(log.Has("GuidedMatchingHMatrix::IntoSearchRegion:  parameter set not set !"));
  h.SetCorrespondences(t_ListFCorr(tracks.corrs.begin(), tracks.corrs.begin() + 3));
  EXPECT_FALSE(h.ReEstimate());
  EXPECT_TRUE(log.Has("GuidedMatchingHMatrix::ReEstimateHMatrix: correspondence size less than 4"));
  EXPECT_TRUE(log.Has("              missing call of GuidedMatchingHMatrix::SetCorrespondences !"));
  h.SetCorrespondences(tracks.corrs);
  ASSERT_TRUE(h.ReEstimate());
  const SharedPtr<ParameterSet> estimated = h.m_parameter_set;
  // Every element at the principal point: the normal equations are singular.
  h.m_vecCorr.assign(5, CorrEl{});
  EXPECT_FALSE(h.ReEstimate());
  EXPECT_EQ(h.m_parameter_set.Get(), estimated.Get()) << "the previous hypothesis stays";
}

}  // namespace
