#include "geometry/sample_calculator_tknownrk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "geometry/two_view_tracks_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::Pointers;

// A camera with f = 8 mm and 0.01 mm pixels.
PerspectiveCamera Camera() {
  PerspectiveCamera c;
  c.Set({0, 0, 0}, {0, 0, 1}, {800, 0, 0}, {0, 800, 0}, 720, 576, 0.0, 0.01, 0.01, 0.0, 0, Poly3);
  return c;
}

// Elements of points 4 to 8 m away seen before and after the camera moved by 300 mm
// along (tx, ty, -tz) (the translation's own sign convention), f = 8 mm.
std::vector<CorrEl> MovedPoints(const double t[3], int n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const double f = 8.0, s = 300.0;
  std::vector<CorrEl> out;
  for (int i = 0; i < n; ++i) {
    const double x0 = 3.0 * u(rng), y0 = 2.3 * u(rng), depth = 6000.0 + 2000.0 * u(rng);
    const double X = depth * x0 / f - s * t[0], Y = depth * y0 / f - s * t[1], Z = depth + s * t[2];
    out.push_back({x0, y0, f * X / Z, f * Y / Z, {}});
  }
  return out;
}

TEST(SampleCalculatorTKnownRKTest, RecoversTheTrueTranslation) {
  const struct {
    const char* name;
    double t[3];
  } cases[] = {
      {"right, down, forward", {0.8, 0.5, 0.3}},
      {"left, down, backward", {-0.6, 0.7, -0.3}},
      {"right, up, forward", {0.7, -0.6, 0.35}},
      {"left, up, almost sideways", {-0.9, -0.4, 0.1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double len = std::sqrt(c.t[0] * c.t[0] + c.t[1] * c.t[1] + c.t[2] * c.t[2]);
    const double t[3] = {c.t[0] / len, c.t[1] / len, c.t[2] / len};
    std::vector<CorrEl> elements = MovedPoints(t, 22, 7);
    SampleCalculatorTKnownRK calc;
    testing::internal::CaptureStdout();
    calc.SetInitCamera(Camera());
    EXPECT_NE(testing::internal::GetCapturedStdout().find(
                  "ParameterSetTKnownRK::SetRefCamera: FocalLength is set to: 8mm == \n"),
              std::string::npos);
    std::vector<CorrEl*> sample = {&elements[0], &elements[1]};
    calc.CalcParameter(sample);
    const auto& sets = calc.GetParameterSets();
    ASSERT_GE(sets.size(), 2u);
    int matches = 0;
    for (const ParameterSet* p : sets) {
      const auto& set = static_cast<const ParameterSetTKnownRK&>(*p);
      EXPECT_FALSE(set.degenerate);
      if (std::fabs(set.tx - t[0]) + std::fabs(set.ty - t[1]) + std::fabs(set.tz - t[2]) > 1e-9)
        continue;
      ++matches;
      for (const CorrEl& e : elements) EXPECT_LT(set.GetSquaredError(e), 1e-12);
    }
    EXPECT_EQ(matches, 1);
  }
}

TEST(SampleCalculatorTKnownRKTest, ThirdHypothesisAndDegenerateSamples) {
  // Element units are mm; 0.5 mm is the bound of a small move, compared signed.
  const struct {
    const char* name;
    CorrEl a, b;
    size_t count;
    double t3[3];
    bool degenerate;
  } cases[] = {
      {"both grew in x and y: (0, 0, 0)", {0, 0, 1, 1, {}}, {2, 1, 3, 3, {}}, 3, {0, 0, 0}, false},
      {"x fell, y grew: (1, 0, 0)", {0, 0, -1, 1, {}}, {2, 1, 1, 3, {}}, 3, {1, 0, 0}, false},
      {"x grew, y fell: (0, 1, 0)", {0, 0, 1, -1, {}}, {2, 1, 3, -1, {}}, 3, {0, 1, 0}, false},
      {"both fell: no third", {0, 0, -1, -1, {}}, {2, 1, 1, -1, {}}, 2, {}, false},
      {"x in opposite directions", {0, 0, 1, -1, {}}, {2, 1, 1, -1, {}}, 2, {}, true},
      {"y in opposite directions", {0, 0, -1, 1, {}}, {2, 1, 1, 0, {}}, 2, {}, true},
      {"one element on the other's line", {0, 0, -1, -1, {}}, {2, 2, 1, 1, {}}, 2, {}, true},
  };
  const CorrEl probe{0.1, 0.2, 0.3, 0.4, {}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<CorrEl> two = {c.a, c.b};
    SampleCalculatorTKnownRK calc;
    calc.CalcParameter(Pointers(two));
    const auto& sets = calc.GetParameterSets();
    ASSERT_EQ(sets.size(), c.count);
    const auto& s1 = static_cast<const ParameterSetTKnownRK&>(*sets[0]);
    const auto& s2 = static_cast<const ParameterSetTKnownRK&>(*sets[1]);
    EXPECT_EQ(s1.degenerate, c.degenerate);
    EXPECT_EQ(s2.degenerate, c.degenerate);
    EXPECT_EQ(s2.tx, s1.tx);
    EXPECT_EQ(s2.tz, -s1.tz);
    EXPECT_EQ(s2.k, -s1.k);
    if (c.degenerate) {
      EXPECT_EQ(s1.GetSquaredError(probe), 1e6);
      EXPECT_EQ(s2.GetSquaredError(probe), 1e6);
    }
    if (c.count == 3) {
      const auto& s3 = static_cast<const ParameterSetTKnownRK&>(*sets[2]);
      EXPECT_FALSE(s3.degenerate);
      EXPECT_EQ(s3.tx, c.t3[0]);
      EXPECT_EQ(s3.ty, c.t3[1]);
      EXPECT_EQ(s3.tz, c.t3[2]);
      EXPECT_EQ(s3.k, 1.0);
    }
  }

  kxtest::LogCapture log(5);
  std::vector<CorrEl> one = {CorrEl{0, 0, 1, 1, {}}};
  SampleCalculatorTKnownRK calc;
  calc.CalcParameter(Pointers(one));
  EXPECT_TRUE(calc.GetParameterSets().empty());
  EXPECT_TRUE(calc.GetSet(0).degenerate);
  EXPECT_TRUE(log.Has("o_ParameterSetPTZCamera::CalcParameter: parameter list len should be 2"));
}

TEST(ParameterSetTKnownRKTest, ResidualsAndClone) {
  ParameterSetTKnownRK set;
  set.f = 8.0;
  set.sx = 0.01;
  set.sy = 0.02;
  // No translation: the plain pixel distance, 3 and 2 pixels.
  EXPECT_NEAR(set.GetSquaredError({1.0, 1.0, 1.03, 1.04, {}}), 13.0, 1e-9);
  // Sideways along x: the point may slide to the left along its row; a move the wrong
  // way is measured from (x0, y0).
  set.tx = 1.0;
  EXPECT_NEAR(set.GetSquaredError({1.0, 1.0, 0.5, 1.0, {}}), 0.0, 1e-9);
  EXPECT_GT(set.GetSquaredError({1.0, 1.0, 0.5, 1.04, {}}), 4.0) << "2 pixels off its row";
  EXPECT_NEAR(set.GetSquaredError({1.0, 1.0, 1.03, 1.0, {}}), 9.0, 1e-9);
  EXPECT_EQ(set.GetSquaredError({1.0, 1.0, 1.0, 1.0, {}}), 0.0) << "a point that did not move";
  EXPECT_EQ(set.GetWeightedSquaredError({1.0, 1.0, 5.0, 5.0, {}}), 0.0);

  set.k = 0.25;
  set.degenerate = true;
  auto clone = SharedPtrDynamicCast<ParameterSetTKnownRK>(set.Clone());
  ASSERT_TRUE(clone);
  EXPECT_EQ(clone->tx, 1.0);
  EXPECT_EQ(clone->f, 8.0);
  EXPECT_EQ(clone->sx, 0.01);
  EXPECT_EQ(clone->sy, 0.02);
  EXPECT_EQ(clone->k, 0.25);
  EXPECT_TRUE(clone->degenerate);
}

}  // namespace
