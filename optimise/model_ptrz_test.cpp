#include "optimise/model_ptrz.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "optimise/model_rt.h"
#include "testing/log_capture.h"
#include "testing/rotating_camera_pair_for_test.h"

namespace {

struct Prediction {
  double u, v;
  std::vector<double> du, dv;
};

Prediction PredictPTRZ(double x0, double y0, double f, const std::vector<double>& p) {
  ModelPTRZ model;
  ModelOutput out[2];
  EXPECT_TRUE(model.ComputeWithGradient({x0, y0, f}, p, out, 2));
  return {out[0].value, out[1].value, out[0].gradient, out[1].gradient};
}

Prediction PredictPTRZF(double x0, double y0, const std::vector<double>& p) {
  ModelPTRZF model;
  ModelOutput out[2];
  EXPECT_TRUE(model.ComputeWithGradient({x0, y0}, p, out, 2));
  return {out[0].value, out[1].value, out[0].gradient, out[1].gradient};
}

TEST(ModelPTRZTest, IdentityPredictsTheFirstPointAtEveryFocalLength) {
  for (double f : {5.0, 72.0, 400.0}) {
    for (const auto& xy : {std::pair{0.0, 0.0}, std::pair{12.5, -7.25}, std::pair{-30.0, 20.0}}) {
      const Prediction p = PredictPTRZ(xy.first, xy.second, f, {0, 0, 0, 1});
      EXPECT_NEAR(p.u, xy.first, 1e-12);
      EXPECT_NEAR(p.v, xy.second, 1e-12);
    }
  }
}

// Parameter points for the gradient checks: (pan, tilt, roll, zoom).
const std::vector<std::vector<double>> kParameterPoints = {
    {0.0, 0.0, 0.0, 1.0},  {0.1, -0.05, 0.02, 0.9}, {-0.4, 0.3, -1.2, 1.7},
    {1.0, -1.2, 2.5, 0.4}, {0.2, 1.5, 0.1, 1.1},
};

TEST(ModelPTRZTest, AnalyticGradientsMatchFiniteDifferences) {
  const double x0 = 14.0, y0 = -9.0, f = 40.0;
  for (const std::vector<double>& p : kParameterPoints) {
    SCOPED_TRACE(testing::Message() << p[0] << " " << p[1] << " " << p[2] << " " << p[3]);
    const Prediction at = PredictPTRZ(x0, y0, f, p);
    for (int k = 0; k < 4; ++k) {
      const double h = 1e-6;
      std::vector<double> lo = p, hi = p;
      lo[k] -= h;
      hi[k] += h;
      const Prediction a = PredictPTRZ(x0, y0, f, lo), b = PredictPTRZ(x0, y0, f, hi);
      const double scale = 1.0 + std::abs(at.u) + std::abs(at.v);
      EXPECT_NEAR(at.du[k], (b.u - a.u) / (2 * h), 1e-6 * scale) << k;
      EXPECT_NEAR(at.dv[k], (b.v - a.v) / (2 * h), 1e-6 * scale) << k;
    }
    // Roll turns the prediction about the principal point; zoom scales it.
    EXPECT_DOUBLE_EQ(at.du[2], at.v);
    EXPECT_DOUBLE_EQ(at.dv[2], -at.u);
    EXPECT_NEAR(p[3] * at.du[3], at.u, 1e-12 * (1 + std::abs(at.u)));
    EXPECT_NEAR(p[3] * at.dv[3], at.v, 1e-12 * (1 + std::abs(at.v)));
  }
}

TEST(ModelPTRZFTest, FocalGradientMatchesFiniteDifferencesAndTheRestEqualsPTRZ) {
  const double x0 = -6.0, y0 = 11.0;
  for (const std::vector<double>& q : kParameterPoints) {
    for (double f : {20.0, 72.0}) {
      std::vector<double> p = q;
      p.push_back(f);
      SCOPED_TRACE(testing::Message() << p[0] << " " << p[1] << " f " << f);
      const Prediction at = PredictPTRZF(x0, y0, p);
      const Prediction fixed = PredictPTRZ(x0, y0, f, q);
      EXPECT_DOUBLE_EQ(at.u, fixed.u);
      EXPECT_DOUBLE_EQ(at.v, fixed.v);
      for (int k = 0; k < 4; ++k) EXPECT_DOUBLE_EQ(at.du[k], fixed.du[k]) << k;
      const double h = 1e-5;
      std::vector<double> lo = p, hi = p;
      lo[4] -= h;
      hi[4] += h;
      const Prediction a = PredictPTRZF(x0, y0, lo), b = PredictPTRZF(x0, y0, hi);
      EXPECT_NEAR(at.du[4], (b.u - a.u) / (2 * h), 1e-6);
      EXPECT_NEAR(at.dv[4], (b.v - a.v) / (2 * h), 1e-6);
    }
  }
}

TEST(ModelPTRZFTest, WrongParameterCountIsRefusedWithAWarning) {
  kxtest::LogCapture log(5);
  ModelPTRZF model;
  ModelOutput out[2];
  EXPECT_FALSE(model.ComputeWithGradient({1.0, 2.0}, {0, 0, 0, 1}, out, 2));
  EXPECT_TRUE(log.Has("ModelPTRZF::ComputeWithGradient: bad list size of parameters: 4 !"));
  EXPECT_EQ(log.text.find("fatal"), std::string::npos);
}

TEST(ModelPTRZTest, RayAtRightAnglesToTheViewingAxisIsRefused) {
  // With f = 0 the ray (x0, y0, 0) lies in the (unturned) second camera's focal plane.
  ModelPTRZ model;
  ModelOutput out[2];
  EXPECT_FALSE(model.ComputeWithGradient({5.0, 3.0, 0.0}, {0, 0, 0, 1}, out, 2));
}

TEST(ModelRTTest, TranslationFromAB) {
  kxtest::LogCapture log(5);
  const vm::Vector3 zero = ModelRT::GetTransFromAB(0.0, 0.0);
  EXPECT_EQ(zero, (vm::Vector3{0, 0, 0}));
  EXPECT_TRUE(log.Has("ModelRT::GetTransFromAB: a=0.0 and b=0.0"));
  for (const auto& ab : {std::pair{1.0, 0.0}, std::pair{-3.0, 2.0}, std::pair{1e-9, 0.0}}) {
    const vm::Vector3 t = ModelRT::GetTransFromAB(ab.first, ab.second);
    EXPECT_NEAR(t.Length(), 1.0, 1e-15);
    EXPECT_GT(t.z, 0.0);
    EXPECT_NEAR(t.x / t.z, ab.first, 1e-15);
  }
}

TEST(ModelRTTest, RecordsTheDepthSignAndGradientsFollowTheValue) {
  ModelRT model;
  int sign = 0;
  ModelRTInput in;
  in.x0 = 3.0;
  in.y0 = -2.0;
  in.x1 = 2.5;
  in.y1 = -2.2;
  in.f = 50.0;
  in.depth_sign = &sign;
  ModelOutput out[2];
  const std::vector<double> p = {0.01, -0.02, 0.005, 0.3, -0.1};
  ASSERT_TRUE(model.ComputeWithGradient(in, p, out, 2));
  EXPECT_NE(sign, 0);
  // Mode 0 writes the same values.
  ModelOutput values[2];
  ASSERT_TRUE(model.ComputeWithGradient(in, p, values, 0));
  EXPECT_EQ(values[0].value, out[0].value);
  EXPECT_EQ(values[1].value, out[1].value);
  ASSERT_EQ(out[0].gradient.size(), 5u);
  // The angle gradients against a finer difference.
  for (int k = 0; k < 3; ++k) {
    std::vector<double> lo = p, hi = p;
    lo[k] -= 1e-7;
    hi[k] += 1e-7;
    ModelOutput a[2], b[2];
    model.ComputeWithGradient(in, lo, a, 0);
    model.ComputeWithGradient(in, hi, b, 0);
    EXPECT_NEAR(out[0].gradient[k], (b[0].value - a[0].value) / 2e-7, 1e-3) << k;
  }
}

// With the true turn and direction of motion the transfer reproduces every second point
// of a moving camera, whatever the length of the baseline.
TEST(ModelRTTest, TrueMotionReproducesAMovingPair) {
  kxtest::RotatingCameraPair pair(
      {.pan = 0.04, .tilt = -0.03, .roll = 0.02, .move = {300.0, 100.0, 1000.0}});
  ModelRTData data;
  data.SetCorrespondences(pair.links, &pair.first, &pair.second);
  ASSERT_EQ(data.GetNumberOfSamples(), pair.links.size());
  ModelRT model;
  const std::vector<double> p = {0.04, -0.03, 0.02, 0.3, 0.1};
  for (unsigned i = 0; i < data.GetNumberOfSamples(); ++i) {
    ModelRTInput in;
    data.GetModelInput(i, in);
    ModelOutput out[2];
    ASSERT_TRUE(model.ComputeWithGradient(in, p, out, 0));
    EXPECT_NEAR(out[0].value, in.x1, 1e-9);
    EXPECT_NEAR(out[1].value, in.y1, 1e-9);
    EXPECT_EQ(data.m_depth_signs[i], 1);
  }
}

}  // namespace
