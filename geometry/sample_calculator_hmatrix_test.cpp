#include "geometry/sample_calculator_hmatrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "geometry/two_view_tracks_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::Pointers;

using kxtest::Pose;
using kxtest::TwoViewTracks;

TEST(SampleCalculatorHMatrixTest, MapsItsFourPointsExactly) {
  const struct {
    const char* name;
    Pose p1;
    bool planar;
  } cases[] = {
      {"sideways over a plane", {300, 50, 0, 0, 0, 0}, true},
      {"turn and forward over a plane", {100, -80, 400, 0.05, -0.1, 0.03}, true},
      {"four points of a general scene", {200, 0, 150, 0.02, 0.08, -0.01}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TwoViewTracks scene({0, 0, 0, 0, 0, 0}, c.p1, 4, 0.0, c.planar);
    SampleCalculatorHMatrix calc;
    calc.SetInitCamera(scene.camera0);
    std::vector<CorrEl> elements = scene.Elements(calc);
    ASSERT_EQ(elements.size(), scene.corrs.size());
    calc.CalcParameter(Pointers(elements));
    ASSERT_EQ(calc.GetParameterSets().size(), 1u);
    const auto& set = static_cast<const ParameterSetHMatrix&>(*calc.GetParameterSets()[0]);
    const double* h = set.m_hmatrix.m;
    EXPECT_EQ(h[8], 1.0);
    for (const CorrEl& e : elements) {
      const double w = h[6] * e.x0 + h[7] * e.y0 + h[8];
      EXPECT_NEAR((h[0] * e.x0 + h[1] * e.y0 + h[2]) / w, e.x1, 1e-9 * (1 + std::fabs(e.x1)));
      EXPECT_NEAR((h[3] * e.x0 + h[4] * e.y0 + h[5]) / w, e.y1, 1e-9 * (1 + std::fabs(e.y1)));
      EXPECT_LT(set.GetSquaredError(e), 1e-12) << "pixels^2, both ways";
    }
  }
}

TEST(SampleCalculatorHMatrixTest, SingularOrWrongSizedSamples) {
  std::vector<CorrEl> elements = {
      {0, 0, 1, 1, {}}, {1, 0, 2, 1, {}}, {1, 0, 2, 1, {}}, {0, 1, 1, 2, {}}};
  SampleCalculatorHMatrix calc;
  calc.CalcParameter(Pointers(elements));
  ASSERT_EQ(calc.GetParameterSets().size(), 1u) << "two equal elements: the identity";
  const auto& set = static_cast<const ParameterSetHMatrix&>(*calc.GetParameterSets()[0]);
  const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(set.m_hmatrix.m[i], identity[i]);
    EXPECT_EQ(set.m_G[i], identity[i]);
  }
  EXPECT_TRUE(set.m_inverse_valid);

  kxtest::LogCapture log(5);
  elements.pop_back();
  calc.CalcParameter(Pointers(elements));
  EXPECT_TRUE(calc.GetParameterSets().empty());
  EXPECT_TRUE(
      log.Has("SampleCalculatorHMatrix::CalcParameter:bad no. of parameters: 3 (expect 4)"));
}

TEST(ParameterSetHMatrixTest, ResidualsInPixels) {
  // Pixels of 0.01 x 0.02 mm; H moves by (0.03, -0.04) mm, i.e. (3, -2) pixels.
  ParameterSetHMatrix set;
  PerspectiveCamera camera;
  camera.SetPixelSize(0.01, 0.02);
  set.SetScales(camera);
  const double h[9] = {1, 0, 0.03, 0, 1, -0.04, 0, 0, 1};
  for (int i = 0; i < 9; ++i) set.m_hmatrix.m[i] = h[i];
  set.ComputeInverse();

  auto first = SharedPtr<FeaturePoint2D>::Make(nullptr, 0.0, 0.0);
  auto second = SharedPtr<FeaturePoint2D>::Make(nullptr, 0.0, 0.0);
  second->SetCoVariance(0.25f, 0.0f, 1.0f);  // weights 4 in x, 1 in y
  auto link = SharedPtr<FeatureCorrespondence>::Make(first, second);
  const struct {
    const char* name;
    CorrEl e;
    double plain, weighted;
  } cases[] = {
      {"on the model", {1.0, 2.0, 1.03, 1.96, link}, 0.0, 0.0},
      // Offsets of one pixel in x both ways: (1 + 1)/4; weighted (1 + 4)/4.
      {"one pixel off in x", {1.0, 2.0, 1.04, 1.96, link}, 0.5, 1.25},
      // Two pixels in y both ways: (4 + 4)/4; weighted (4 + 4)/4.
      {"two pixels off in y", {1.0, 2.0, 1.03, 2.0, link}, 2.0, 2.0},
      {"no correspondence weighs with the identity", {1.0, 2.0, 1.04, 1.96, {}}, 0.5, 0.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(set.GetSquaredError(c.e), c.plain, 1e-9);
    EXPECT_NEAR(set.GetWeightedSquaredError(c.e), c.weighted, 1e-9);
  }
}

TEST(ParameterSetHMatrixTest, GuardsAnswerLargeDistances) {
  const CorrEl e{1.0, 1.0, 2.0, 2.0, {}};
  {
    kxtest::LogCapture log(5);
    ParameterSetHMatrix never_inverted;
    EXPECT_EQ(never_inverted.GetSquaredError(e), 1e38);
    EXPECT_EQ(never_inverted.GetWeightedSquaredError(e), 1e38);
    EXPECT_TRUE(
        log.Has("ParameterSetHMatrix::SquareDistanceGeometricLeftandRight: inverse "
                "H-Matrix not calculated!"));
  }
  kxtest::LogCapture log(5);
  ParameterSetHMatrix set;
  const double h[9] = {1, 0, 0, 0, 1, 0, 1, 0, -1};  // w = x0 - 1 = 0 at x0 = 1
  for (int i = 0; i < 9; ++i) set.m_hmatrix.m[i] = h[i];
  set.ComputeInverse();
  EXPECT_EQ(set.GetSquaredError(e), 1e38);
  EXPECT_TRUE(
      log.Has("ParameterSetHMatrix::SquareDistanceGeometricLeftandRight: denominator == "
              "0.0 , returning large distance!"));
}

TEST(ParameterSetHMatrixTest, ScalesFromTheInitCameraAndClone) {
  SampleCalculatorHMatrix calc;
  std::vector<CorrEl> four = {
      {0, 0, 0.1, 0, {}}, {1, 0, 1.1, 0, {}}, {0, 1, 0.1, 1, {}}, {1, 1, 1.1, 1, {}}};
  calc.CalcParameter(Pointers(four));
  const auto* set = static_cast<const ParameterSetHMatrix*>(calc.GetParameterSets()[0]);
  EXPECT_EQ(set->m_xscale, 0.9374999999970703);
  EXPECT_EQ(set->m_yscale, 1.0);
  PerspectiveCamera init, current;
  init.SetPixelSize(0.02, 0.04);
  current.SetPixelSize(0.5, 0.5);
  calc.SetInitCamera(init);
  calc.SetCurrentCamera(current);
  EXPECT_DOUBLE_EQ(set->m_xscale, 50.0);
  EXPECT_DOUBLE_EQ(set->m_yscale, 25.0);

  auto clone = SharedPtrDynamicCast<ParameterSetHMatrix>(set->Clone());
  ASSERT_TRUE(clone);
  EXPECT_NE(clone.Get(), set);
  EXPECT_EQ(clone->m_xscale, 50.0);
  EXPECT_EQ(clone->m_yscale, 25.0);
  EXPECT_TRUE(clone->m_inverse_valid);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(clone->m_hmatrix.m[i], set->m_hmatrix.m[i]);
    EXPECT_EQ(clone->m_G[i], set->m_G[i]);
  }
}

}  // namespace
