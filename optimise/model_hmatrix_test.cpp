#include "optimise/model_hmatrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "foundation/numeric/dense_matrix.h"
#include "testing/log_capture.h"

namespace {

ModelHMatrixSettings Settings(bool k30, bool k31, bool k50, bool k51, bool variant,
                              int measure = kHMatrixSymmetricError) {
  ModelHMatrixSettings s;
  s.k3_0 = k30, s.k3_1 = k31, s.k5_0 = k50, s.k5_1 = k51, s.m_variant = variant;
  s.m_distance_measure = measure;
  return s;
}

TEST(ModelHMatrixSettingsTest, ParameterLayout) {
  struct Case {
    const char* name;
    ModelHMatrixSettings s;
    unsigned n;
    int k3_0, k3_1, k5_0, k5_1;
  };
  const Case cases[] = {
      {"defaults", ModelHMatrixSettings(), 10, 8, 9, -1, -1},
      {"all, variant", Settings(true, true, true, true, true), 12, 8, 9, 10, 11},
      {"k3 of image 1 and k5 of image 0", Settings(false, true, true, false, true), 10, -1, 8, 9,
       -1},
      {"none", Settings(false, false, false, false, true), 8, -1, -1, -1, -1},
      {"all, shared", Settings(true, true, true, true, false), 10, 8, 8, 9, 9},
      {"only k3_0, shared", Settings(true, false, false, false, false), 9, 8, 8, -1, -1},
      {"only k5_1, shared", Settings(false, false, false, true, false), 9, -1, -1, 8, 8},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(t.s.NumberOfParameters(), t.n);
    EXPECT_EQ(t.s.K3Index(0), t.k3_0);
    EXPECT_EQ(t.s.K3Index(1), t.k3_1);
    EXPECT_EQ(t.s.K5Index(0), t.k5_0);
    EXPECT_EQ(t.s.K5Index(1), t.k5_1);
  }
}

struct GradientCase {
  const char* name;
  ModelHMatrixSettings s;
};

class ModelHMatrixGradientTest : public ::testing::TestWithParam<GradientCase> {};

TEST_P(ModelHMatrixGradientTest, MatchesFiniteDifferences) {
  const ModelHMatrixSettings& s = GetParam().s;
  PerspectiveCamera c0, c1;
  c0.SetDistortion(2e-5, 3e-9, 0, Poly3);
  c1.SetDistortion(-1e-5, 1e-9, 0, Poly3);
  ModelHMatrix model;
  model.m_settings = s;
  std::vector<double> p = {1.02, 0.03, 1.5, -0.02, 0.98, -0.7, 1e-4, -2e-4};
  const double coefficients[4] = {1.5e-5, -0.8e-5, 2e-9, -1e-9};  // shared: the first ones
  p.resize(s.NumberOfParameters());
  for (int i = 0, k = 8; i < 4 && k < int(p.size()); ++i) {
    const bool used = s.m_variant ? (i == 0   ? s.k3_0
                                     : i == 1 ? s.k3_1
                                     : i == 2 ? s.k5_0
                                              : s.k5_1)
                                  : (i == 0   ? (s.k3_0 || s.k3_1)
                                     : i == 2 ? (s.k5_0 || s.k5_1)
                                              : false);
    if (used) p[k++] = coefficients[i];
  }
  const ModelHMatrixInput samples[] = {{12.0, -7.0, 13.1, -5.2, &c0, &c1},
                                       {-25.0, 18.0, -23.0, 17.5, &c0, &c1}};
  for (const ModelHMatrixInput& in : samples) {
    ModelOutput out[4];
    ASSERT_TRUE(model.ComputeWithGradient(in, p, out, 2));
    for (size_t k = 0; k < p.size(); ++k) {
      const double step = std::max(std::fabs(p[k]), 1e-6) * 1e-5;
      std::vector<double> plus = p, minus = p;
      plus[k] += step, minus[k] -= step;
      ModelOutput op[4], om[4];
      ASSERT_TRUE(model.ComputeWithGradient(in, plus, op, 0));
      ASSERT_TRUE(model.ComputeWithGradient(in, minus, om, 0));
      for (int j = 0; j < 4; ++j) {
        const double numeric = (op[j].value - om[j].value) / (2 * step);
        SCOPED_TRACE("parameter " + std::to_string(k) + ", value " + std::to_string(j));
        EXPECT_NEAR(out[j].gradient[k], numeric, 1e-6 * (1.0 + std::fabs(numeric)));
      }
    }
    if (s.m_distance_measure != kHMatrixSymmetricError) {
      EXPECT_EQ(out[2].value, 0.0);
      EXPECT_EQ(out[3].value, 0.0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ModelHMatrixGradientTest,
    ::testing::Values(GradientCase{"symmetric_defaults", ModelHMatrixSettings()},
                      GradientCase{"symmetric_all_variant", Settings(1, 1, 1, 1, true)},
                      GradientCase{"symmetric_all_shared", Settings(1, 1, 1, 1, false)},
                      GradientCase{"only_error_0", Settings(1, 1, 1, 0, true, kHMatrixOnlyError0)},
                      GradientCase{"only_error_1", Settings(0, 1, 0, 1, true, kHMatrixOnlyError1)},
                      GradientCase{"only_error_1_shared",
                                   Settings(1, 0, 1, 0, false, kHMatrixOnlyError1)}),
    [](const ::testing::TestParamInfo<GradientCase>& info) { return info.param.name; });

TEST(ModelHMatrixTest, RefusesAtInfinityAndUnknownMeasures) {
  PerspectiveCamera c0, c1;
  ModelHMatrix model;
  model.m_settings.k3_0 = model.m_settings.k3_1 = false;
  ModelOutput out[4];
  struct Case {
    const char* name;
    std::vector<double> p;
    int measure;
    const char* message;
  };
  const Case cases[] = {
      {"forward", {1, 0, 0, 0, 1, 0, -0.1, 0}, 0, "denominator H == 0.0 !"},
      {"backward", {1, 0, 0, 0, 1, 0, 0, 0.1}, 0, "denominator inv. H == 0.0 !"},
      {"unknown measure", {1, 0, 0, 0, 1, 0, 0, 0}, 3, "bad distance measure type"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    model.m_settings.m_distance_measure = t.measure;
    kxtest::LogCapture log(5);
    // (10, 5) maps to w = 0 forward; (0, 10) to q3 = 0 backward.
    EXPECT_FALSE(model.ComputeWithGradient({10, 5, 0, 10, &c0, &c1}, t.p, out, 2));
    EXPECT_TRUE(log.Has(std::string("ModelHMatrix::ComputeWithGradient: ") + t.message));
  }
}

TEST(ModelHMatrixDataTest, StartVectorFromHAndCameras) {
  PerspectiveCamera c0, c1;
  c0.SetDistortion(1e-5, 2e-9, 0, Poly3);
  c1.SetDistortion(3e-5, 4e-9, 0, Poly3);
  Matrix h(3, 3);
  for (uint32_t i = 0; i < 9; ++i) h(i / 3, i % 3) = 2.0 * (i + 1);
  ModelHMatrixData data;
  EXPECT_EQ(data.GetStartVector().size(), 12u);
  data.m_settings = Settings(true, true, true, true, true);
  data.SetInitialParameters(h, &c0, &c1);
  const std::vector<double> variant = {1 / 9.0, 2 / 9.0, 3 / 9.0, 4 / 9.0, 5 / 9.0, 6 / 9.0,
                                       7 / 9.0, 8 / 9.0, 1e-5,    3e-5,    2e-9,    4e-9};
  ASSERT_EQ(data.GetStartVector().size(), variant.size());
  for (size_t i = 0; i < variant.size(); ++i)
    EXPECT_NEAR(data.GetStartVector()[i], variant[i], 1e-15);

  data.m_settings = Settings(true, false, false, true, false);
  data.SetInitialParameters(h, &c0, &c1);
  ASSERT_EQ(data.GetStartVector().size(), 10u);
  EXPECT_NEAR(data.GetStartVector()[8], 2e-5, 1e-20);
  EXPECT_NEAR(data.GetStartVector()[9], 3e-9, 1e-24);

  h(2, 2) = 0.0;
  kxtest::LogCapture log(5);
  data.SetInitialParameters(h, &c0, &c1);
  EXPECT_TRUE(log.Has("ModelHMatrixData::SetInitialParameters: h33==0.0 !"));
  for (double v : data.GetStartVector()) EXPECT_EQ(v, 0.0);
}

TEST(ModelHMatrixDataTest, SamplesInMillimetresAboutThePrincipalPointFromHalfTheWidth) {
  PerspectiveCamera c0, c1;
  c1.SetCenterPointX(4.0);
  c1.SetCenterPointY(-2.0);
  const t_ListFCorr list = {SharedPtr<FeatureCorrespondence>::Make(
      SharedPtr<FeaturePoint2D>::Make(nullptr, 360.0, 288.0),
      SharedPtr<FeaturePoint2D>::Make(nullptr, 374.0, 296.0))};
  ModelHMatrixData data;
  data.SetData(list, &c0, &c1, ModelHMatrixSettings());
  ASSERT_EQ(data.GetNumberOfSamples(), 1u);
  ModelHMatrixInput in;
  data.SetInitialParameters(Matrix(3, 3), &c0, &c1);
  data.GetModelInput(0, in);
  EXPECT_NEAR(in.x0, 0.0, 1e-12);  // 720 / 2, not 359.5
  EXPECT_NEAR(in.y0, 0.0, 1e-12);
  EXPECT_NEAR(in.x1, 1.0, 1e-12);  // (374 - 360 - 4) * 0.1
  EXPECT_NEAR(in.y1, 1.0, 1e-12);  // (296 - 288 + 2) * 0.1
  EXPECT_EQ(in.camera1, &c1);
  double m[4] = {1, 1, 1, 1};
  data.GetMeasurement(0, m);
  for (double v : m) EXPECT_EQ(v, 0.0);
}

}  // namespace
