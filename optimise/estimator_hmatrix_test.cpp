#include "optimise/estimator_hmatrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "foundation/numeric/dense_matrix.h"
#include "testing/log_capture.h"
#include "testing/thrown.h"

namespace {

// A camera at the origin turned by (ax, ay, az), 720 x 576, focal length 30 mm at 0.1 mm
// pixels, principal point (6, -4) pixels from the centre, no distortion yet.
PerspectiveCamera Turned(double ax, double ay, double az) {
  Matrix3x3 r;
  r.SetRotationXYZ(ax, ay, az);
  const vm::Vector3 h0{r[0][0], r[0][1], r[0][2]}, v0{r[1][0], r[1][1], r[1][2]},
      a{r[2][0], r[2][1], r[2][2]};
  PerspectiveCamera c;
  c.Set({0, 0, 0}, a, h0 * 300.0 + a * 6.0, v0 * 300.0 + a * -4.0, 720, 576, 0.0, 0.1, 0.1, 0.0, 0,
        Poly3);
  return c;
}

// Pixel position of ideal centred pixel (u, v) after distortion k3 (mm^-2) about the
// point the model undistorts about: width/2, height/2 plus the principal point.
void Distort(const PerspectiveCamera& c, double u, double v, double k3, double& x, double& y) {
  const double half_shift = 0.5;  // (w - 1)/2 to w/2
  const double xi = (u - c.GetCenterPointX() - half_shift) * 0.1;
  const double yi = (v - c.GetCenterPointY() - half_shift) * 0.1;
  double xd = xi, yd = yi;
  for (int i = 0; i < 100; ++i) {
    const double s = 1.0 + k3 * (xd * xd + yd * yd);
    xd = xi / s, yd = yi / s;
  }
  x = xd / 0.1 + 360.0 + c.GetCenterPointX();
  y = yd / 0.1 + 288.0 + c.GetCenterPointY();
}

// Correspondences of a camera turning about its centre, each image distorted with its
// own K3 (mm^-2), with Gaussian noise of sigma pixels.
t_ListFCorr RotatingPair(const PerspectiveCamera& c0, const PerspectiveCamera& c1, double k3_0,
                         double k3_1, double sigma = 0.0, int n = 150) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  t_ListFCorr list;
  while (static_cast<int>(list.size()) < n) {
    const vm::Vector3 p{1500.0 * u(rng), 1200.0 * u(rng), 2000.0};
    double x0, y0, x1, y1, d;
    if (!c0.ProjectPoint(p, x0, y0, d, true) || !c1.ProjectPoint(p, x1, y1, d, true)) continue;
    if (d <= 0.0) continue;
    double a, b, e, f;
    Distort(c0, x0 - 359.5, y0 - 287.5, k3_0, a, b);
    Distort(c1, x1 - 359.5, y1 - 287.5, k3_1, e, f);
    if (sigma > 0) a += sigma * noise(rng), b += sigma * noise(rng), e += sigma * noise(rng);
    list.push_back(
        SharedPtr<FeatureCorrespondence>::Make(SharedPtr<FeaturePoint2D>::Make(nullptr, a, b),
                                               SharedPtr<FeaturePoint2D>::Make(nullptr, e, f)));
  }
  return list;
}

struct RotatingPairTest : ::testing::Test {
  PerspectiveCamera c0 = Turned(0, 0, 0), c1 = Turned(0.03, 0.06, 0.02);
};

TEST_F(RotatingPairTest, RecoversK3InStagesByTheK5Flags) {
  struct Case {
    const char* name;
    bool k5;
    size_t stages;
  };
  const Case cases[] = {{"defaults: K3 only", false, 1}, {"K5 too", true, 3}};
  const t_ListFCorr list = RotatingPair(c0, c1, 2e-5, 3e-5);
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    PerspectiveCamera a = c0, b = c1;
    CameraEstimatorRadDistHMatrix estimator;
    estimator.m_settings.k5_0 = estimator.m_settings.k5_1 = t.k5;
    kxtest::LogCapture log(5);
    ASSERT_TRUE(estimator.Optimize(&a, &b, list));
    size_t stages = 0;
    for (const std::string& line : log.lines)
      stages += line.find("EstimatorHMatrix::Optimize: settings:") != std::string::npos;
    EXPECT_EQ(stages, t.stages);
    EXPECT_NEAR(a.GetDistortionCoefficients()[0], 2e-5, 2e-8);
    EXPECT_NEAR(b.GetDistortionCoefficients()[0], 3e-5, 2e-8);
    EXPECT_NEAR(a.GetDistortionCoefficients()[1], 0.0, 1e-11);
    EXPECT_EQ(estimator.m_error, 0.0) << "never written";
    EXPECT_EQ(estimator.m_pixel_size_x, 0.1);
  }
}

TEST_F(RotatingPairTest, ErrorIsTheMeanSquaredResidualPerCoordinate) {
  const t_ListFCorr list = RotatingPair(c0, c1, 2e-5, 2e-5, 0.5);
  struct Case {
    const char* name;
    int measure;
    double per_sample;  // coordinates per sample
  };
  const Case cases[] = {{"SymmetricError", kHMatrixSymmetricError, 4},
                        {"OnlyError_0", kHMatrixOnlyError0, 2},
                        {"OnlyError_1", kHMatrixOnlyError1, 2}};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    PerspectiveCamera a = c0, b = c1;
    Matrix h;
    h.SetIdentity(3);
    ModelHMatrixSettings s;
    s.m_distance_measure = t.measure;
    EstimatorHMatrix estimator;
    ASSERT_TRUE(estimator.Optimize(&h, list, &a, &b, &s));
    // chi2 of the written result, evaluated afresh.
    ModelHMatrixData data;
    data.SetData(list, &a, &b, s);
    data.SetInitialParameters(h, &a, &b);
    ModelHMatrix model;
    model.m_settings = s;
    double chi2 = 0.0;
    for (unsigned i = 0; i < data.GetNumberOfSamples(); ++i) {
      ModelHMatrixInput in;
      data.GetModelInput(i, in);
      ModelOutput out[4];
      ASSERT_TRUE(model.ComputeWithGradient(in, data.GetStartVector(), out, 0));
      for (const ModelOutput& o : out) chi2 += o.value * o.value;
    }
    EXPECT_NEAR(estimator.m_error, chi2 / list.size() / t.per_sample, 1e-9 * estimator.m_error);
    EXPECT_EQ(h(2, 2), 1.0);
  }
}

TEST_F(RotatingPairTest, SharedCoefficientsGiveBothCamerasOneK3) {
  const t_ListFCorr list = RotatingPair(c0, c1, 2e-5, 2e-5);
  PerspectiveCamera a = c0, b = c1;
  a.SetDistortion(1e-6, 0.0, 0, Poly3);
  b.SetDistortion(5e-5, 0.0, 0, Poly3);
  Matrix h;
  h.SetIdentity(3);
  ModelHMatrixSettings s;
  s.k3_1 = false;
  s.m_variant = false;
  EstimatorHMatrix estimator;
  ASSERT_TRUE(estimator.Optimize(&h, list, &a, &b, &s));
  EXPECT_EQ(a.GetDistortionCoefficients()[0], b.GetDistortionCoefficients()[0]);
  EXPECT_NEAR(a.GetDistortionCoefficients()[0], 2e-5, 2e-8);
}

TEST_F(RotatingPairTest, LimitBreachResetsOnlyThatCoefficient) {
  const t_ListFCorr list = RotatingPair(c0, c1, 5e-5, 1e-5);
  PerspectiveCamera a = c0, b = c1;
  a.SetDistortion(7e-6, 1e-12, 0, Poly3);
  CameraEstimatorRadDistHMatrix estimator;
  estimator.m_limit = true;
  estimator.m_max_k3 = 3e-7;  // pixels^-2: 3e-5 mm^-2 at 0.1 mm pixels
  kxtest::LogCapture log(5);
  ASSERT_TRUE(estimator.Optimize(&a, &b, list));
  EXPECT_EQ(a.GetDistortionCoefficients()[0], 7e-6) << "set back, not clamped";
  EXPECT_EQ(a.GetDistortionCoefficients()[1], 1e-12) << "K5 stays";
  EXPECT_NEAR(b.GetDistortionCoefficients()[0], 1e-5, 1e-7);
  EXPECT_TRUE(log.Has("CameraEstimatorRadDistHMatrix::Optimize: limit first K3 from"));
  EXPECT_FALSE(log.Has("limit second K3"));
}

TEST_F(RotatingPairTest, StartHomographyIsNormalised) {
  const t_ListFCorr list = RotatingPair(c0, c1, 0.0, 0.0);
  ModelHMatrixSettings s;
  s.k3_0 = s.k3_1 = false;
  Matrix h1, h2;
  h1.SetIdentity(3);
  h2.SetIdentity(3);
  for (uint32_t i = 0; i < 9; ++i) h2(i / 3, i % 3) *= -2.0;
  PerspectiveCamera a = c0, b = c1;
  EstimatorHMatrix estimator;
  ASSERT_TRUE(estimator.Optimize(&h1, list, &a, &b, &s));
  ASSERT_TRUE(estimator.Optimize(&h2, list, &a, &b, &s));
  for (uint32_t i = 0; i < 9; ++i) EXPECT_NEAR(h2(i / 3, i % 3), h1(i / 3, i % 3), 1e-9);
  EXPECT_EQ(h2(2, 2), 1.0);

  Matrix zero(3, 3);
  zero.SetZero();
  kxtest::LogCapture log(5);
  EXPECT_EQ(kxtest::Thrown([&] { estimator.Optimize(&zero, list, &a, &b, &s); }),
            "OptimizerLM::Optimize: numerical problems");
  EXPECT_TRUE(log.Has("ModelHMatrixData::SetInitialParameters: h33==0.0 !"));
}

TEST_F(RotatingPairTest, BadInputFailsAndChangesNothing) {
  const t_ListFCorr list = RotatingPair(c0, c1, 2e-5, 2e-5, 0.0, 20);
  PerspectiveCamera a = c0, b = c1;
  a.SetDistortion(1e-6, 0.0, 0, Poly3);
  Matrix h;
  h.SetIdentity(3);
  ModelHMatrixSettings s;
  s.m_distance_measure = 7;
  EstimatorHMatrix estimator;
  kxtest::LogCapture log(5);
  EXPECT_FALSE(estimator.Optimize(&h, list, &a, &b, &s));
  EXPECT_TRUE(log.Has("EstimatorHMatrix::Optimize: bad distance measure type"));
  EXPECT_EQ(a.GetDistortionCoefficients()[0], 1e-6);
  EXPECT_EQ(h(0, 0), 1.0);

  EXPECT_FALSE(estimator.Optimize(nullptr, list, &a, &b, nullptr));
  EXPECT_TRUE(log.Has("EstimatorHMatrix::Optimize: input matrix == NULL"));
  CameraEstimatorRadDistHMatrix rad;
  EXPECT_FALSE(rad.Optimize(&a, nullptr, list));
  EXPECT_TRUE(log.Has("CameraEstimatorRadDistHMatrix::Optimize: one of the input cameras == NULL"));
}

}  // namespace
