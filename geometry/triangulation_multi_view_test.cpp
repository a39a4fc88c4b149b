#include "geometry/triangulation_multi_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "foundation/runtime/random_generator.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"

namespace {

using kxtest::MakeSyntheticCamera;
using kxtest::SyntheticScene;

// Image-centred pixel position of world point p in camera (no distortion in these tests).
vm::Vector2 Centred(const PerspectiveCamera& camera, const vm::Vector3& p) {
  double x, y, depth;
  camera.ProjectPoint(p, x, y, depth, false);
  vm::Vector2 c;
  camera.PixelToCentered(x, y, c.x, c.y);
  return c;
}

// Sum of the weighted squared errors r^T W r of point p over the observations.
double WeightedSum(const std::vector<PerspectiveCamera>& cameras,
                   const std::vector<SharedPtr<FeaturePoint2D>>& features, const vm::Vector3& p) {
  double sum = 0.0;
  for (size_t i = 0; i < cameras.size(); ++i) {
    double x, y, depth;
    cameras[i].ProjectPoint(p, x, y, depth, false);
    const double rx = x - features[i]->x, ry = y - features[i]->y;
    const Matrix2x2 w = features[i]->TestFlags(FP2D_FLAG_COVARIANCE)
                            ? features[i]->GetInverseCoVariance()
                            : Matrix2x2{{1, 0, 0, 1}};
    sum += w[0][0] * rx * rx + 2 * w[0][1] * rx * ry + w[1][1] * ry * ry;
  }
  return sum;
}

TEST(TriangulationMultiViewTest, ExactObservationsGiveThePoint) {
  for (int views : {2, 3, 20}) {
    SCOPED_TRACE(views);
    SyntheticScene scene({.num_points = 30, .num_cameras = views});
    scene.BuildFeatures();
    TriangulationMultiView t;
    for (size_t i = 0; i < scene.points.size(); ++i) {
      t.Reset();
      for (int c = 0; c < views; ++c) t.AddFPoint2D(scene.features[c][i].Get());
      ASSERT_TRUE(t.Compute());
      const vm::Vector3 x = t.GetPoint();
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(x[k], scene.points[i][k], 1e-9);
      EXPECT_LT(t.GetMeanSquaredError(), 1e-16);
      EXPECT_LE(t.GetMeanSquaredError(), t.GetMaxSquaredError() + 1e-30);
      EXPECT_TRUE(t.CheckMinDisplacement(1.0));
    }
  }
}

TEST(TriangulationMultiViewTest, CovarianceMatchesTheScatterOfNoisyRuns) {
  // A point seen by three views with 0.5 pixel noise, each feature carrying its covariance:
  // the inverse information matrix predicts the scatter of the triangulated point.
  const double sigma = 0.5;
  SyntheticScene scene({.num_points = 1, .num_cameras = 3});
  const vm::Vector3 truth = scene.points[0];
  RandomGenerator random(11);
  auto gaussian = [&random]() {
    const double u1 = 1.0 - random.Next() / 4294967296.0;
    const double u2 = random.Next() / 4294967296.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
  };
  const int runs = 2000;
  std::vector<vm::Vector3> estimates;
  TriangulationMultiView t;
  Matrix3x3 info{};
  for (int run = 0; run < runs; ++run) {
    t.Reset();
    for (size_t c = 0; c < scene.cameras.size(); ++c) {
      const vm::Vector2 p = scene.exact[c][0];
      FeaturePoint2D feature(nullptr, p.x + sigma * gaussian(), p.y + sigma * gaussian());
      feature.SetCoVariance(float(sigma * sigma), 0.0f, float(sigma * sigma));
      t.AddObservation(feature, scene.cameras[c]);
    }
    ASSERT_TRUE(t.Compute());
    estimates.push_back(t.GetPoint());
    if (run == 0) {
      ASSERT_TRUE(t.GetInformationMatrix(info));
    }
  }
  Matrix3x3 predicted;
  ASSERT_TRUE(InvertSymmetric3x3(info, predicted));
  vm::Vector3 mean;
  for (const vm::Vector3& e : estimates) mean += e * (1.0 / runs);
  double scatter[3][3] = {};
  for (const vm::Vector3& e : estimates) {
    const vm::Vector3 d = e - mean;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) scatter[r][c] += d[r] * d[c] / (runs - 1);
  }
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(mean[k], truth[k], 4.0 * std::sqrt(predicted[k][k] / runs));
    EXPECT_NEAR(scatter[k][k] / predicted[k][k], 1.0, 0.12) << k;
  }
  // The correlations agree as well (the cloud is a long ellipsoid along the rays).
  for (int r = 0; r < 3; ++r) {
    for (int c = r + 1; c < 3; ++c) {
      const double rho_scatter = scatter[r][c] / std::sqrt(scatter[r][r] * scatter[c][c]);
      const double rho_predicted = predicted[r][c] / std::sqrt(predicted[r][r] * predicted[c][c]);
      EXPECT_NEAR(rho_scatter, rho_predicted, 0.06) << r << c;
    }
  }
}

TEST(TriangulationMultiViewTest, DegenerateInputs) {
  // Two parallel cameras side by side.
  const PerspectiveCamera left = MakeSyntheticCamera(1000, 800, 0.01, {0, 0, 0}, 0, 0, 0, 10, 0, 0);
  const PerspectiveCamera right =
      MakeSyntheticCamera(1000, 800, 0.01, {100, 0, 0}, 0, 0, 0, 10, 0, 0);
  auto add = [](TriangulationMultiView& t, const PerspectiveCamera& camera, vm::Vector2 centred) {
    double x, y;
    camera.CenteredToPixel(centred.x, centred.y, x, y);
    t.AddObservation(FeaturePoint2D(nullptr, x, y), camera);
  };

  TriangulationMultiView t;
  {
    SCOPED_TRACE("one observation");
    add(t, left, {0, 0});
    EXPECT_FALSE(t.Compute());
    EXPECT_EQ(t.GetMeanSquaredError(), 1e16);
    kxtest::LogCapture log(5);
    EXPECT_FALSE(t.CheckMinDisplacement(0.1));
    EXPECT_TRUE(log.Has("TriangulationMultiView::CheckMinDisplacement: num points < 2"));
  }
  {
    SCOPED_TRACE("after Reset, two consistent observations");
    t.Reset();
    const vm::Vector3 p{30, -20, 2000};
    add(t, left, Centred(left, p));
    add(t, right, Centred(right, p));
    EXPECT_TRUE(t.Compute());
    EXPECT_NEAR(t.GetMeanSquaredError(), 0.0, 1e-16);
  }
  {
    SCOPED_TRACE("rays meeting at infinity");
    t.Reset();
    add(t, left, {0, 0});
    add(t, right, {0, 0});
    EXPECT_FALSE(t.Compute());
    EXPECT_EQ(t.GetMeanSquaredError(), 1e16);
    EXPECT_FALSE(t.CheckMinDisplacement(0.1));  // no parallax either
  }
  {
    SCOPED_TRACE("behind one camera: triangulated all the same");
    const PerspectiveCamera turned =
        MakeSyntheticCamera(1000, 800, 0.01, {100, 0, 4000}, 0.2, 0, 0, 10, 0, 0);
    const vm::Vector3 p{30, -20, 2000};
    double x, y, depth;
    turned.ProjectPoint(p, x, y, depth, false);
    ASSERT_LT(depth, 0.0);
    t.Reset();
    add(t, left, Centred(left, p));
    add(t, turned, Centred(turned, p));
    ASSERT_TRUE(t.Compute());
    EXPECT_NEAR((t.GetPoint() - p).Length(), 0.0, 1e-9 * 2000);
  }
  {
    SCOPED_TRACE("axial views: no parallax");
    const PerspectiveCamera front =
        MakeSyntheticCamera(1000, 800, 0.01, {0, 0, 500}, 0, 0, 0, 10, 0, 0);
    const vm::Vector3 p{0, 0, 3000};
    t.Reset();
    add(t, left, Centred(left, p));
    add(t, front, Centred(front, p));
    EXPECT_FALSE(t.CheckMinDisplacement(1e-6));
  }
}

TEST(TriangulationMultiViewTest, BufferGrowsAndKeepsItsObservations) {
  SyntheticScene scene({.num_points = 1, .num_cameras = 3});
  scene.BuildFeatures();
  TriangulationMultiView t;
  EXPECT_EQ(t.GetCapacity(), 128u);
  // The first two observations are the only ones with parallax; the others repeat
  // camera 0, so a lost or overwritten start would spoil the point.
  t.AddFPoint2D(scene.features[1][0].Get());
  for (int i = 0; i < 128; ++i) t.AddFPoint2D(scene.features[0][0].Get());
  t.AddFPoint2D(nullptr);  // ignored
  FeaturePoint2D orphan(nullptr, 1.0, 2.0);
  t.AddFPoint2D(&orphan);  // no image: ignored
  EXPECT_EQ(t.GetNumObservations(), 129u);
  EXPECT_EQ(t.GetCapacity(), 256u);
  ASSERT_TRUE(t.Compute());
  EXPECT_NEAR((t.GetPoint() - scene.points[0]).Length(), 0.0, 1e-6);
  t.Reset();
  EXPECT_EQ(t.GetCapacity(), 256u);
  EXPECT_EQ(t.GetNumObservations(), 0u);
}

TEST(TriangulationMultiViewTest, RefinementNeverWorsensAndComputesOnce) {
  SyntheticScene scene({.num_points = 10, .num_cameras = 4, .noise_px = 2.0});
  scene.BuildFeatures();
  for (size_t i = 0; i < scene.points.size(); ++i) {
    SCOPED_TRACE(i);
    std::vector<SharedPtr<FeaturePoint2D>> features;
    for (int c = 0; c < 4; ++c) {
      features.push_back(scene.features[c][i]);
      if (c == 2) features.back()->SetCoVariance(4.0f, 1.0f, 2.0f);
    }
    const vm::Vector3 start = scene.points[i] + vm::Vector3{40, -30, 25};
    TriangulationMultiView t;
    t.SetPoint(start);
    for (const auto& f : features) t.AddFPoint2D(f.Get());
    ASSERT_TRUE(t.Compute());
    const vm::Vector3 x = t.GetPoint();
    EXPECT_LT(WeightedSum(scene.cameras, features, x), WeightedSum(scene.cameras, features, start));
    EXPECT_LE(t.GetMeanSquaredError(), t.GetMaxSquaredError());
    // A second Compute keeps the first result, even after another observation.
    FeaturePoint2D far_off(nullptr, 0.0, 0.0);
    t.AddObservation(far_off, scene.cameras[0]);
    EXPECT_TRUE(t.Compute());
    EXPECT_EQ(t.GetPoint(), x);
  }
}

TEST(TriangulationMultiViewTest, InvertSymmetric3x3) {
  const Matrix3x3 a{{4, 1, 2, 1, 5, 3, 2, 3, 6}};
  Matrix3x3 inverse;
  ASSERT_TRUE(InvertSymmetric3x3(a, inverse));
  Matrix3x3 product;
  product.Multiply(a, inverse);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(product[r][c], r == c ? 1.0 : 0.0, 1e-14);
  const Matrix3x3 singular{{1, 2, 3, 2, 4, 6, 3, 6, 9}};
  Matrix3x3 untouched{{7, 7, 7, 7, 7, 7, 7, 7, 7}};
  EXPECT_FALSE(InvertSymmetric3x3(singular, untouched));
  EXPECT_EQ(untouched[1][1], 7.0);
}

}  // namespace
