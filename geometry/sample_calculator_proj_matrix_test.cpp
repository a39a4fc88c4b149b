#include "geometry/sample_calculator_proj_matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "foundation/camera/camera_geometry.h"
#include "geometry/rand_sampling.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"

namespace {

// The camera's projection to undistorted pixels about its principal point, scaled to
// unit Frobenius norm with a positive last entry.
Matrix3x4 UnitProjection(const Matrix3x4& p) {
  double norm = 0.0;
  for (double x : p.m) norm += x * x;
  norm = std::sqrt(norm) * (p.m[11] < 0.0 ? -1.0 : 1.0);
  Matrix3x4 out;
  out.Scale(p, 1.0 / norm);
  return out;
}

Matrix3x4 PrincipalPointProjection(const PerspectiveCamera& camera) {
  Matrix3x4 p;
  GetProjectionMatrixFromCamera(camera, p);
  for (int c = 0; c < 4; ++c) {
    p[0][c] -= camera.GetCenterPointX() * p[2][c];
    p[1][c] -= camera.GetCenterPointY() * p[2][c];
  }
  return UnitProjection(p);
}

struct ProjMatrixFixture : ::testing::Test {
  explicit ProjMatrixFixture(kxtest::SyntheticSceneOptions options = {}) : scene(options) {
    scene.BuildFeatures();
    calculator.SetCurrentCamera(scene.cameras[1]);
    for (const auto& link : scene.Links(1)) {
      elements.emplace_back();
      EXPECT_TRUE(calculator.MakeCorrEl(link, elements.back()));
    }
  }
  std::vector<CorrEl*> Sample(std::vector<int> indices) {
    std::vector<CorrEl*> out;
    for (int i : indices) out.push_back(&elements[size_t(i)]);
    return out;
  }
  kxtest::SyntheticScene scene;
  SampleCalculatorProjMatrix calculator;
  std::vector<CorrEl> elements;
};

TEST_F(ProjMatrixFixture, SixExactProjectionsGiveTheCameraUpToScale) {
  const Matrix3x4 expected = PrincipalPointProjection(scene.cameras[1]);
  for (int start : {0, 6, 12, 20}) {
    SCOPED_TRACE(start);
    calculator.CalcParameter(
        Sample({start, start + 1, start + 2, start + 3, start + 4, start + 5}));
    ASSERT_EQ(calculator.GetParameterSets().size(), 1u);
    const Matrix3x4 got = UnitProjection(calculator.GetSet().m_p);
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(got.m[i], expected.m[i], 1e-9);
    // Every element, not only the sample, fits exactly.
    for (const CorrEl& e : elements) EXPECT_LT(calculator.GetSet().GetSquaredError(e), 1e-12);
  }
}

TEST_F(ProjMatrixFixture, ElementsArePixelsAboutThePrincipalPoint) {
  const PerspectiveCamera& camera = scene.cameras[1];
  const vm::Vector2& pixel = scene.observed[1][3];
  EXPECT_DOUBLE_EQ(elements[3].x1,
                   pixel.x - (camera.GetWidth() - 1) / 2.0 - camera.GetCenterPointX());
  EXPECT_DOUBLE_EQ(elements[3].y1,
                   pixel.y - (camera.GetHeight() - 1) / 2.0 - camera.GetCenterPointY());
  EXPECT_EQ(calculator.GetSet().m_sx, camera.GetPixelSizeX());
}

TEST_F(ProjMatrixFixture, UnusableSamplesGiveNoHypothesisAndOneWarning) {
  {
    kxtest::LogCapture log(2);
    calculator.CalcParameter(Sample({0, 1, 2, 3, 4}));
    EXPECT_TRUE(calculator.GetParameterSets().empty());
    EXPECT_TRUE(log.Has("parameter list len should be 6"));
  }
  calculator.CalcParameter(Sample({0, 1, 2, 3, 4, 5}));
  ASSERT_EQ(calculator.GetParameterSets().size(), 1u);
  scene.features[1][4]->SetFPoint3D(SharedPtr<FeaturePoint3D>());
  kxtest::LogCapture log(2);
  calculator.CalcParameter(Sample({0, 1, 2, 3, 4, 5}));
  EXPECT_TRUE(calculator.GetParameterSets().empty()) << "the earlier list is emptied";
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_TRUE(log.Has("at least one 3DFP is NULL"));
}

TEST_F(ProjMatrixFixture, Residuals) {
  ParameterSetProjMatrix set;
  set.m_p = PrincipalPointProjection(scene.cameras[1]);
  set.AssignFlags(5);
  CorrEl e = elements[0];
  e.x1 += 3.0;
  e.y1 -= 4.0;
  EXPECT_NEAR(set.GetSquaredError(e), 12.5, 1e-9) << "half the squared distance";

  // Weighted: covariance 4 px^2 of the feature and none of the point: |r|^2 / 4.
  const double zero[9] = {};
  scene.points3d[0]->SetCoVariance(zero);
  scene.features[1][0]->SetCoVariance(4.0f, 0.0f, 4.0f);
  EXPECT_NEAR(set.GetWeightedSquaredError(e), 6.25, 1e-9);
  // A singular weight counts as the identity.
  scene.features[1][0]->SetCoVariance(0.0f, 0.0f, 0.0f);
  EXPECT_NEAR(set.GetWeightedSquaredError(e), 25.0, 1e-9);
  // With the point's covariance the displacement weighs less.
  const double cov[9] = {100, 0, 0, 0, 100, 0, 0, 0, 100};
  scene.points3d[0]->SetCoVariance(cov);
  EXPECT_LT(set.GetWeightedSquaredError(e), 25.0);

  // Without the later feature's point: the plain residual takes the earlier feature's,
  // the weighted one cannot measure.
  scene.features[1][0]->SetFPoint3D(SharedPtr<FeaturePoint3D>());
  EXPECT_NEAR(set.GetSquaredError(e), 12.5, 1e-9);
  EXPECT_EQ(set.GetWeightedSquaredError(e), 1e38);
  scene.features[0][0]->SetFPoint3D(SharedPtr<FeaturePoint3D>());
  EXPECT_EQ(set.GetSquaredError(e), 1e38);

  // A point on the focal plane (w = 0).
  ParameterSetProjMatrix flat = set;
  for (int c = 0; c < 4; ++c) flat.m_p[2][c] = 0.0;
  EXPECT_EQ(flat.GetSquaredError(elements[1]), 1e38);
  EXPECT_EQ(flat.GetWeightedSquaredError(elements[1]), 1e38);

  SharedPtr<ParameterSet> copy = set.Clone();
  auto* clone = static_cast<ParameterSetProjMatrix*>(copy.Get());
  EXPECT_EQ(clone->GetFlags(), 0u);
  EXPECT_EQ(clone->m_p.m[7], set.m_p.m[7]);
}

struct ProjMatrixOutliers : ProjMatrixFixture {
  ProjMatrixOutliers()
      : ProjMatrixFixture({.num_points = 60,
                           .num_cameras = 2,
                           .noise_px = 0.25,
                           .outlier_ratio = 0.3,
                           .seed = 7}) {}
};

TEST_F(ProjMatrixOutliers, SamplerMarksExactlyTheInliers) {
  auto calc = SharedPtr<SampleCalculatorProjMatrix>::Make();
  RandSampling sampler;
  sampler.SetSampleCalculator(calc);
  RandSampling::Parameter parameter;
  parameter.m_threshold = 1.5;
  sampler.SetParameter(parameter);
  sampler.SetInitCamera(scene.cameras[0]);
  sampler.SetCurrentCamera(scene.cameras[1]);
  sampler.SetCorrespondences(scene.Links(1));
  sampler.Run(FCORR_SUPPORT_FREEMOVE);
  int outliers = 0;
  const auto links = scene.Links(1);
  for (size_t i = 0; i < links.size(); ++i) {
    SCOPED_TRACE(i);
    outliers += scene.outlier[1][i];
    EXPECT_EQ((links[i]->GetFlags() & FCORR_SUPPORT_FREEMOVE) != 0, !scene.outlier[1][i]);
  }
  EXPECT_GT(outliers, 10);
  EXPECT_EQ(sampler.m_num_unsupported, outliers);
  ASSERT_TRUE(sampler.GetParameterSet());
}

}  // namespace
