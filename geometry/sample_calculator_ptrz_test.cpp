#include "geometry/sample_calculator_ptrz.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/runtime/random_generator.h"
#include "geometry/rand_sampling.h"
#include "testing/rotating_camera_pair_for_test.h"

namespace {

using kxtest::RotatingCameraPair;
using kxtest::RotatingCameraPairOptions;

double Det4(const double m[4][4]) {
  double det = 0.0;
  for (int c = 0; c < 4; ++c) {
    double minor[3][3];
    for (int i = 1; i < 4; ++i)
      for (int j = 0, k = 0; j < 4; ++j)
        if (j != c) minor[i - 1][k++] = m[i][j];
    const double d3 = minor[0][0] * (minor[1][1] * minor[2][2] - minor[1][2] * minor[2][1]) -
                      minor[0][1] * (minor[1][0] * minor[2][2] - minor[1][2] * minor[2][0]) +
                      minor[0][2] * (minor[1][0] * minor[2][1] - minor[1][1] * minor[2][0]);
    det += (c % 2 ? -1.0 : 1.0) * m[0][c] * d3;
  }
  return det;
}

// The quadratic is the determinant of the augmented linearised system divided by F^4 L^2.
TEST(SampleCalculatorPTRZTest, ZoomQuadraticIsTheSystemDeterminant) {
  RandomGenerator random(11);
  auto uniform = [&](double lo, double hi) {
    return lo + (hi - lo) * random.Next() / 4294967296.0;
  };
  for (int trial = 0; trial < 20; ++trial) {
    const double F = uniform(5.0, 100.0);
    const double p0[2] = {uniform(-20, 20), uniform(-20, 20)};
    const double p1[2] = {uniform(-20, 20), uniform(-20, 20)};
    const double q0[2] = {uniform(-20, 20), uniform(-20, 20)};
    const double q1[2] = {uniform(-20, 20), uniform(-20, 20)};
    double coeffs[3];
    SampleCalculatorPTRZ::ZoomQuadratic(F, p0, p1, q0, q1, coeffs);
    EXPECT_NEAR(coeffs[0],
                F * F * ((p1[0] - p0[0]) * (p1[0] - p0[0]) + (p1[1] - p0[1]) * (p1[1] - p0[1])),
                1e-9 * coeffs[0]);
    for (double L : {0.3, 1.0, 2.5}) {
      double m[4][4];
      const double* p[2] = {p0, p1};
      const double* q[2] = {q0, q1};
      for (int i = 0; i < 2; ++i) {
        const double x = p[i][0], y = p[i][1], X = q[i][0], Y = q[i][1];
        const double rows[2][4] = {{X * y, -(X * x + L * F * F), L * F * y, F * (L * x - X)},
                                   {Y * y + L * F * F, -Y * x, -L * F * x, F * (L * y - Y)}};
        for (int r = 0; r < 2; ++r)
          for (int c = 0; c < 4; ++c) m[2 * i + r][c] = rows[r][c];
      }
      const double q_of_l = coeffs[0] * L * L + coeffs[1] * L + coeffs[2];
      const double det = Det4(m);
      EXPECT_NEAR(det, std::pow(F, 4) * L * L * q_of_l, 1e-9 * (std::abs(det) + 1.0))
          << trial << " L " << L;
    }
  }
}

struct TwoPointCase {
  const char* name;
  RotatingCameraPairOptions pair;
};

void PrintTo(const TwoPointCase& c, std::ostream* os) {
  *os << c.name;
}

class TwoPointHypotheses : public testing::TestWithParam<TwoPointCase> {};

// Two exact correspondences: every solution reproduces both second points, and one of
// them is the true motion.
TEST_P(TwoPointHypotheses, FindTheMotion) {
  const RotatingCameraPairOptions& o = GetParam().pair;
  RotatingCameraPair pair(o);
  SampleCalculatorPTRZ calculator;
  calculator.SetCurrentCamera(pair.first);
  std::vector<CorrEl> elements(2);
  ASSERT_TRUE(calculator.MakeCorrEl(pair.links[0], elements[0]));
  ASSERT_TRUE(calculator.MakeCorrEl(pair.links[1], elements[1]));
  calculator.CalcParameter({&elements[0], &elements[1]});
  const std::vector<ParameterSet*>& sets = calculator.GetParameterSets();
  ASSERT_FALSE(sets.empty());
  ASSERT_LE(sets.size(), 4u);
  bool found_true_motion = false;
  for (size_t s = 0; s < sets.size(); ++s) {
    SCOPED_TRACE(s);
    ASSERT_EQ(sets[s], &calculator.GetSolutions()[s]);
    // Residual sqrt((e0 + e1) / 2) below the acceptance of 1e-6 pixels.
    EXPECT_LT(sets[s]->GetSquaredError(elements[0]) + sets[s]->GetSquaredError(elements[1]), 2e-12);
    double pan = 0, tilt = 0, roll = 0, zoom = 0;
    calculator.GetSolutions()[s].GetPTRZ(&pan, &tilt, &roll, &zoom);
    found_true_motion =
        found_true_motion || (std::abs(pan - o.pan) < 1e-6 && std::abs(tilt - o.tilt) < 1e-6 &&
                              std::abs(roll - o.roll) < 1e-6 && std::abs(zoom - o.zoom) < 1e-6);
  }
  EXPECT_TRUE(found_true_motion);
}

INSTANTIATE_TEST_SUITE_P(
    Motions, TwoPointHypotheses,
    testing::Values(TwoPointCase{"PanAndZoomOut", {.pan = 0.1, .zoom = 0.9}},
                    TwoPointCase{"TiltAndRoll", {.tilt = -0.07, .roll = 0.15}},
                    TwoPointCase{"ZoomIn", {.zoom = 1.6}},
                    TwoPointCase{"Everything",
                                 {.pan = -0.12, .tilt = 0.05, .roll = -0.2, .zoom = 1.25}}),
    [](const testing::TestParamInfo<TwoPointCase>& info) { return std::string(info.param.name); });

TEST(SampleCalculatorPTRZTest, NoMotionAcceptsTheStartAtOnce) {
  RotatingCameraPair pair({});
  SampleCalculatorPTRZ calculator;
  calculator.SetCurrentCamera(pair.first);
  std::vector<CorrEl> elements(2);
  calculator.MakeCorrEl(pair.links[0], elements[0]);
  calculator.MakeCorrEl(pair.links[1], elements[1]);
  calculator.CalcParameter({&elements[0], &elements[1]});
  ASSERT_EQ(calculator.GetSolutions().size(), 1u);
  const ParameterSetPTRZ& s = calculator.GetSolutions()[0];
  EXPECT_EQ(s.m_zoom, 1.0);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(s.m_rotation[r][c], r == c ? 1.0 : 0.0);
}

TEST(SampleCalculatorPTRZTest, OnlySamplesOfTwo) {
  SampleCalculatorPTRZ calculator;
  std::vector<CorrEl> elements(3);
  for (size_t n : {1u, 3u}) {
    std::vector<CorrEl*> sample;
    for (size_t i = 0; i < n; ++i) sample.push_back(&elements[i]);
    testing::internal::CaptureStderr();
    calculator.CalcParameter(sample);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "o_ParameterSetPTZCamera::CalcParameter: parameter list len should be 2\n");
    EXPECT_TRUE(calculator.GetParameterSets().empty());
  }
}

TEST(ParameterSetPTRZTest, SimilarityToleratesSmallDifferences) {
  PerspectiveCamera camera;
  ParameterSetPTRZ a(camera);
  ParameterSetPTRZ b = a;
  b.SetPTRZ(0.005, 0.0, 0.0, 1.009);
  EXPECT_TRUE(a.IsSimilar(b, 0.01, 0.01));
  ParameterSetPTRZ c = a;
  c.SetPTRZ(0.02, 0.0, 0.0, 1.0);
  EXPECT_FALSE(a.IsSimilar(c, 0.01, 0.01));
  ParameterSetPTRZ d = a;
  d.SetPTRZ(0.0, 0.0, 0.0, 1.02);
  EXPECT_FALSE(a.IsSimilar(d, 0.01, 0.01));
}

// The update step turns about the hypothesis camera's own axes: pan, then tilt, read back
// by the Euler decomposition.
TEST(ParameterSetPTRZTest, StepsComposeInTheCameraFrame) {
  PerspectiveCamera camera;
  ParameterSetPTRZ set(camera);
  set.SetPTRZ(0.3, 0.0, 0.0, 1.5);
  set.SetPTRZ(0.0, -0.2, 0.0, 1.0);
  set.SetPTRZ(0.0, 0.0, 0.1, 0.8);
  double pan = 0, tilt = 0, roll = 0, zoom = 0;
  set.GetPTRZ(&pan, &tilt, &roll, &zoom);
  EXPECT_NEAR(pan, 0.3, 1e-12);
  EXPECT_NEAR(tilt, -0.2, 1e-12);
  EXPECT_NEAR(roll, 0.1, 1e-12);
  EXPECT_NEAR(zoom, 1.2, 1e-12);
}

// The calculator inside the sampler on a turning, zooming pair with outliers.
TEST(SampleCalculatorPTRZTest, SamplerMarksTheInliersOfATurningPair) {
  RotatingCameraPair pair({.pan = 0.06,
                           .tilt = -0.03,
                           .roll = 0.05,
                           .zoom = 1.2,
                           .num_points = 40,
                           .noise_px = 0.1,
                           .outlier_ratio = 0.3});
  auto calculator = SharedPtr<SampleCalculatorPTRZ>::Make();
  RandSampling sampler;
  sampler.SetSampleCalculator(calculator);
  sampler.SetInitCamera(pair.first);
  sampler.SetCurrentCamera(pair.first);
  sampler.SetCorrespondences(pair.links);
  sampler.Run(FCORR_SUPPORT_ROTATION);
  int outliers = 0;
  for (size_t i = 0; i < pair.links.size(); ++i) {
    outliers += pair.outlier[i] ? 1 : 0;
    EXPECT_EQ((pair.links[i]->GetFlags() & FCORR_SUPPORT_ROTATION) != 0, !pair.outlier[i]) << i;
  }
  EXPECT_EQ(sampler.m_num_unsupported, outliers);
  ASSERT_TRUE(sampler.GetParameterSet());
}

}  // namespace
