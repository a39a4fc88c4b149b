#include "optimise/camera_estimator_rad_dist_known_fpoint3d.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "foundation/camera/camera_geometry.h"
#include "optimise/camera_estimator_known_fpoint3d.h"
#include "optimise/model_gradient_for_test.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"

namespace {

using kxtest::SyntheticScene;

// Features of the scene's points seen through camera (its lens distortion included).
std::vector<SharedPtr<FeaturePoint2D>> Observe(const SyntheticScene& scene,
                                               const PerspectiveCamera& camera) {
  std::vector<SharedPtr<FeaturePoint2D>> features;
  for (size_t i = 0; i < scene.points.size(); ++i) {
    double x, y, depth;
    camera.ProjectPoint(scene.points[i], x, y, depth, false);
    auto feature = SharedPtr<FeaturePoint2D>::Make(nullptr, x, y);
    feature->SetFPoint3D(scene.points3d[i]);
    features.push_back(feature);
  }
  return features;
}

TEST(CameraEstimatorRadDistKnownFPoint3DTest, RecoversTheDistortion) {
  struct Case {
    const char* name;
    RadialDistortionFunction model;
    double k3, k5;    // the true lens
    double start_k5;  // the camera's K5 before the fit
    bool estimate_k5, estimate_camera;
    unsigned parameters;
  };
  const Case cases[] = {
      {"K3", Poly3, 0.002, 0.0, 0.0, false, false, 1},
      {"K3 with the camera's K5 held", Poly5, 0.002, -3e-5, -3e-5, false, false, 1},
      {"K3 and K5", Poly5, 0.002, -3e-5, 0.0, true, false, 2},
      {"K3 with the camera", Poly3, -0.0015, 0.0, 0.0, false, true, 10},
      {"K3, K5 and the camera", Poly5, 0.002, -3e-5, 0.0, true, true, 11},
  };
  SyntheticScene scene({.num_points = 60, .num_cameras = 2});
  scene.BuildFeatures();
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    PerspectiveCamera lens = scene.cameras[1];  // off-centre principal point
    lens.SetDistortion(t.k3, t.k5, 0, t.model);
    const std::vector<SharedPtr<FeaturePoint2D>> features = Observe(scene, lens);

    PerspectiveCamera camera = scene.cameras[1];
    camera.SetDistortion(0.0, t.start_k5, 0, t.model);
    if (t.estimate_camera) {
      // The principal point starts at the truth: the distortion is taken about the
      // camera's principal point on entry.
      double pan, tilt, roll;
      GetCameraAngles(camera, pan, tilt, roll);
      SetCameraFromParameters(
          camera,
          std::array<double, 9>{pan + 0.01, tilt - 0.008, roll + 0.005, camera.GetC().x + 30,
                                camera.GetC().y - 20, camera.GetC().z + 40, 10.2,
                                camera.GetCenterPointX(), camera.GetCenterPointY()}
              .data());
    }
    ModelRadDistKnownFPoint3DData data;
    data.SetData(features, camera, t.estimate_k5, t.estimate_camera);
    EXPECT_EQ(data.GetNumberOfParameters(), t.parameters);

    CameraEstimatorRadDistKnownFPoint3D estimator;
    ASSERT_TRUE(estimator.Optimize(&camera, features, t.estimate_k5, t.estimate_camera));
    EXPECT_NEAR(camera.GetDistortionCoefficients()[0], t.k3, 1e-9);
    EXPECT_NEAR(camera.GetDistortionCoefficients()[1], t.k5, 1e-10);
    EXPECT_EQ(camera.GetDistortionModel(), t.model);
    EXPECT_LT(estimator.m_error, 1e-16);
    EXPECT_EQ(estimator.m_pixel_size_x, 0.01);
    // The pose and intrinsics: back to the truth when estimated, untouched otherwise.
    EXPECT_NEAR((camera.GetC() - lens.GetC()).Length(), 0.0, 1e-5);
    EXPECT_NEAR((camera.GetA() - lens.GetA()).Length(), 0.0, 1e-9);
    EXPECT_NEAR(camera.GetFocalLength(), lens.GetFocalLength(), 1e-8);
    EXPECT_NEAR(camera.GetCenterPointX(), lens.GetCenterPointX(), 1e-5);
    EXPECT_NEAR(camera.GetCenterPointY(), lens.GetCenterPointY(), 1e-5);
  }
}

TEST(CameraEstimatorRadDistKnownFPoint3DTest, RemovedPointsStayOutProtectedOnesTakePart) {
  SyntheticScene scene({.num_points = 30, .num_cameras = 1});
  scene.BuildFeatures();
  PerspectiveCamera lens = scene.cameras[0];
  lens.SetDistortion(0.002, 0.0, 0, Poly3);
  std::vector<SharedPtr<FeaturePoint2D>> features = Observe(scene, lens);
  // A removed point seen far off its projection would spoil the fit; a protected one
  // at its projection takes part.
  auto removed = SharedPtr<FeaturePoint3D>::Make(0.0, 0.0, 0.0, FeaturePoint3D::eCartesian);
  removed->SetFlags(FP3D_FLAG_REMOVED);
  auto wrong = SharedPtr<FeaturePoint2D>::Make(nullptr, 10.0, 10.0);
  wrong->SetFPoint3D(removed);
  features.push_back(wrong);
  features[0]->GetFPoint3D()->SetFlags(FP3D_FLAG_PROTECTED);
  features.push_back(SharedPtr<FeaturePoint2D>::Make(nullptr, 5.0, 5.0));  // no point
  features.push_back(SharedPtr<FeaturePoint2D>());

  ModelRadDistKnownFPoint3DData data;
  data.SetData(features, lens, false, false);
  EXPECT_EQ(data.GetNumberOfSamples(), 30u);
  PerspectiveCamera camera = scene.cameras[0];
  CameraEstimatorRadDistKnownFPoint3D estimator;
  ASSERT_TRUE(estimator.Optimize(&camera, features, false, false));
  EXPECT_NEAR(camera.GetDistortionCoefficients()[0], 0.002, 1e-9);
}

TEST(CameraEstimatorRadDistKnownFPoint3DTest, RefusalsAndWarnings) {
  SyntheticScene scene({.num_points = 20, .num_cameras = 1});
  scene.BuildFeatures();
  kxtest::LogCapture log(5);
  CameraEstimatorRadDistKnownFPoint3D estimator;
  EXPECT_FALSE(estimator.Optimize(nullptr, scene.features[0], false, false));
  EXPECT_TRUE(log.Has("CameraEstimatorRadDistKnownFPoint3D::Optimize: camera == NULL"));

  PerspectiveCamera camera = scene.cameras[0];
  const std::vector<SharedPtr<FeaturePoint2D>> no_points = {
      SharedPtr<FeaturePoint2D>::Make(nullptr, 1.0, 2.0)};
  EXPECT_FALSE(estimator.Optimize(&camera, no_points, false, false));
  EXPECT_TRUE(
      log.Has("CameraEstimatorRadDistKnownFPoint3D::Optimize: 2D feature point list empty"));

  // Coefficients per pixel: a warning, then the fit all the same.
  camera.SetDistortion(0.0, 0.0, 1, Poly3);
  EXPECT_TRUE(estimator.Optimize(&camera, scene.features[0], false, false));
  EXPECT_TRUE(log.Has("dimension of radial distortion not in mm"));
  EXPECT_EQ(camera.GetRdDim(), 1);
  EXPECT_NEAR(camera.GetDistortionCoefficients()[0], 0.0, 1e-12);
  EXPECT_EQ(estimator.m_error, estimator.m_error);  // a number, not NaN
}

TEST(CameraEstimatorRadDistKnownFPoint3DTest, GradientsMatchFiniteDifferences) {
  SyntheticScene scene({.num_points = 3, .num_cameras = 2});
  scene.BuildFeatures();
  ModelRadDistKnownFPoint3DData data;
  PerspectiveCamera camera = scene.cameras[1];
  camera.SetDistortion(0.001, 2e-5, 0, Poly5);
  data.SetData(scene.features[1], camera, true, true);
  data.SetCamera(camera);
  std::vector<double> p = data.GetStartVector();
  ASSERT_EQ(p.size(), 11u);
  const ModelRadDistKnownFPoint3D model;
  // K3, K5, angles: fine steps; centre, focal length, principal point (mm): coarser.
  std::vector<double> steps(11, 1e-4);
  for (int k = 0; k < 5; ++k) steps[size_t(k)] = 1e-7;
  for (unsigned i = 0; i < data.GetNumberOfSamples(); ++i) {
    SCOPED_TRACE(i);
    ModelRadDistKnownFPoint3DInput input;
    data.GetModelInput(i, input);
    kxtest::ExpectGradientsMatchDifferences(model, input, p, steps, 1e-5);
  }
  ModelOutput out[2];
  kxtest::LogCapture log(5);
  ModelRadDistKnownFPoint3DInput input;
  data.GetModelInput(0, input);
  EXPECT_FALSE(model.ComputeWithGradient(input, {0.0}, out, 2));
  EXPECT_TRUE(
      log.Has("ModelRadDistKnownFPoint3D::ComputeWithGradient: bad number of parameters: 1"));
}

}  // namespace
