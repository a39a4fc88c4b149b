#include "geometry/sample_calculator_fmatrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "geometry/two_view_tracks_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::Pointers;

using kxtest::Pose;
using kxtest::TwoViewTracks;

double Det(const double* f) {
  return f[0] * (f[4] * f[8] - f[5] * f[7]) - f[1] * (f[3] * f[8] - f[5] * f[6]) +
         f[2] * (f[3] * f[7] - f[4] * f[6]);
}

double Norm(const double* f) {
  double s = 0.0;
  for (int i = 0; i < 9; ++i) s += f[i] * f[i];
  return std::sqrt(s);
}

TEST(SampleCalculatorFMatrixTest, SevenPointSolutionsHoldTheTrueF) {
  const struct {
    const char* name;
    Pose p1;
  } cases[] = {
      {"sideways", {300, 20, 0, 0, 0, 0}},
      {"forward", {10, -20, 500, 0, 0, 0}},
      {"turn and translate", {250, 60, 120, 0.04, -0.12, 0.02}},
      {"mostly a turn", {30, 5, 10, 0.01, 0.15, 0.03}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (uint32_t seed = 1; seed <= 5; ++seed) {
      SCOPED_TRACE(seed);
      TwoViewTracks scene({0, 0, 0, 0, 0, 0}, c.p1, 7, 0.0, false, 0.0, seed);
      SampleCalculatorFMatrix calc;
      calc.SetCurrentCamera(scene.camera1);
      std::vector<CorrEl> elements = scene.Elements(calc);
      ASSERT_EQ(elements.size(), scene.corrs.size());
      calc.CalcParameter(Pointers(elements));
      const auto& sets = calc.GetParameterSets();
      ASSERT_GE(sets.size(), 1u);
      ASSERT_LE(sets.size(), 3u);
      double truth[9];
      kxtest::TrueFundamental(scene.camera0, scene.camera1, truth);
      double nearest = 1e9;
      for (const ParameterSet* p : sets) {
        const double* f = static_cast<const ParameterSetFMatrix*>(p)->m_fmatrix.m;
        const double n = Norm(f);
        EXPECT_NEAR(Det(f) / (n * n * n), 0.0, 1e-9) << "rank 2";
        for (const CorrEl& e : elements) {
          const double x0[3] = {e.x0, e.y0, 1}, x1[3] = {e.x1, e.y1, 1};
          double eps = 0.0;
          for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) eps += x1[i] * f[3 * i + j] * x0[j];
          EXPECT_NEAR(eps / n, 0.0, 1e-9);
          EXPECT_LT(p->GetSquaredError(e), 1e-12);
        }
        nearest = std::min(nearest, kxtest::ProportionalDistance(f, truth));
      }
      EXPECT_LT(nearest, 1e-6) << "one solution is the true F";
    }
  }
}

TEST(SampleCalculatorFMatrixTest, WrongSizedSampleOneRealRootAndPrint) {
  kxtest::LogCapture log(5);
  std::vector<CorrEl> six(6, CorrEl{1, 2, 3, 4, {}});
  SampleCalculatorFMatrix calc;
  calc.CalcParameter(Pointers(six));
  EXPECT_TRUE(calc.GetParameterSets().empty());
  EXPECT_TRUE(
      log.Has("SampleCalculatorFMatrix::CalcParameter:bad no. of parameters: 6 (expect 7)"));

  testing::internal::CaptureStdout();
  calc.Print();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("\no_SampleCalculatorFMatrix:\nF-matrix 0 : \n 1 0 0\n 0 1 0\n 0 0 1\n\n"), 0u)
      << out;
  EXPECT_NE(out.find("F-matrix 2 : \n"), std::string::npos);

  // A cubic with three real roots, then one with a single root: one hypothesis, and
  // Print still shows all three embedded matrices.
  for (uint32_t seed : {3u, 4u}) {
    TwoViewTracks scene({0, 0, 0, 0, 0, 0}, {300, 20, 0, 0, 0, 0}, 7, 0.0, false, 0.0, seed);
    std::vector<CorrEl> elements = scene.Elements(calc);
    calc.CalcParameter(Pointers(elements));
    EXPECT_EQ(calc.GetParameterSets().size(), seed == 3 ? 3u : 1u);
  }
  testing::internal::CaptureStdout();
  calc.Print();
  const std::string after = testing::internal::GetCapturedStdout();
  EXPECT_NE(after.find("F-matrix 2 : \n"), std::string::npos);
  EXPECT_EQ(after.find(" 1 0 0\n 0 1 0\n 0 0 1\n"), std::string::npos) << "no set left unused";
}

TEST(ParameterSetFMatrixTest, SymmetricEpipolarDistanceInPixels) {
  // F = [t]x for t = (1, 0, 0): epipolar lines are the rows y = const. Pixels 0.01 x
  // 0.02 mm.
  ParameterSetFMatrix set;
  const double f[9] = {0, 0, 0, 0, 0, -1, 0, 1, 0};
  set.m_fmatrix.SetMatrix(f);
  PerspectiveCamera camera;
  camera.SetPixelSize(0.01, 0.02);
  set.SetScales(camera);
  auto first = SharedPtr<FeaturePoint2D>::Make(nullptr, 0.0, 0.0);
  auto second = SharedPtr<FeaturePoint2D>::Make(nullptr, 0.0, 0.0);
  first->SetCoVariance(1.0f, 0.0f, 0.25f);  // weight 4 in y
  auto link = SharedPtr<FeatureCorrespondence>::Make(first, second);
  const struct {
    const char* name;
    CorrEl e;
    double plain, weighted;
  } cases[] = {
      {"on its line", {1.0, 0.5, 7.0, 0.5, link}, 0.0, 0.0},
      // 0.04 mm = 2 pixels off in y on both sides: (4 + 4)/4; weighted (16 + 4)/4.
      {"two pixels off", {1.0, 0.5, -3.0, 0.54, link}, 2.0, 5.0},
      {"a vanishing line", {1.0, 0.5, 7.0, 0.5, link}, 1e38, 1e38},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.plain == 1e38) {
      const double zero[9] = {0, 0, 0, 0, 0, 0, 0, 0, 1};
      set.m_fmatrix.SetMatrix(zero);
    }
    EXPECT_NEAR(set.GetSquaredError(c.e), c.plain, 1e-9);
    EXPECT_NEAR(set.GetWeightedSquaredError(c.e), c.weighted, 1e-9);
  }
  SampleCalculatorFMatrix calc;
  PerspectiveCamera init, current;
  init.SetPixelSize(0.02, 0.04);
  current.SetPixelSize(0.5, 0.25);
  calc.SetInitCamera(init);
  std::vector<CorrEl> seven;
  TwoViewTracks scene({0, 0, 0, 0, 0, 0}, {300, 20, 0, 0, 0, 0}, 7, 0.0, false);
  for (size_t i = 0; i < 7; ++i) seven.push_back(scene.Element(i, scene.camera1));
  calc.CalcParameter(Pointers(seven));
  ASSERT_FALSE(calc.GetParameterSets().empty());
  auto* first_set = static_cast<const ParameterSetFMatrix*>(calc.GetParameterSets()[0]);
  EXPECT_DOUBLE_EQ(first_set->m_xscale, 50.0);
  calc.SetCurrentCamera(current);
  EXPECT_DOUBLE_EQ(first_set->m_xscale, 2.0) << "the current camera overrides";
  EXPECT_DOUBLE_EQ(first_set->m_yscale, 4.0);
  auto clone = SharedPtrDynamicCast<ParameterSetFMatrix>(first_set->Clone());
  ASSERT_TRUE(clone);
  EXPECT_EQ(clone->m_xscale, 2.0);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(clone->m_fmatrix.m[i], first_set->m_fmatrix.m[i]);
}

}  // namespace
