#include "optimise/camera_estimator_known_fpoint3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/camera/camera_geometry.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"
#include "testing/thrown.h"

namespace {

// The nine parameters of the mask table: pan, tilt, roll, centre, f, principal point (px).
struct CameraParameters {
  double v[9];
  explicit CameraParameters(const PerspectiveCamera& c) {
    GetCameraAngles(c, v[0], v[1], v[2]);
    v[3] = c.GetC().x;
    v[4] = c.GetC().y;
    v[5] = c.GetC().z;
    v[6] = c.GetFocalLength();
    v[7] = c.GetCenterPointX();
    v[8] = c.GetCenterPointY();
  }
};

// Tolerance of parameter b for a relative accuracy rel: angles in radians, the centre
// against the scene's size, f against itself, the principal point against the focal
// length in pixels.
double Tolerance(int b, double rel) {
  if (b < 3) return rel;
  if (b < 6) return rel * 5000.0;
  if (b == 6) return rel * 10.0;
  return rel * 1000.0;
}

void ExpectCamerasEqual(const PerspectiveCamera& got, const PerspectiveCamera& want, double rel) {
  const CameraParameters g(got), w(want);
  const char* names[9] = {"pan", "tilt", "roll", "X", "Y", "Z", "f", "px", "py"};
  for (int b = 0; b < 9; ++b) EXPECT_NEAR(g.v[b], w.v[b], Tolerance(b, rel)) << names[b];
}

// The camera with its pose moved, and its focal length and principal point unless
// keep_intrinsics.
PerspectiveCamera Perturbed(const PerspectiveCamera& camera, bool keep_intrinsics = false) {
  const CameraParameters p(camera);
  const vm::Vector3 centre{p.v[3] + 50.0, p.v[4] - 30.0, p.v[5] + 80.0};
  PerspectiveCamera out = kxtest::MakeSyntheticCamera(
      camera.GetWidth(), camera.GetHeight(), camera.GetPixelSizeX(), centre, p.v[0] + 0.02,
      p.v[1] - 0.01, p.v[2] + 0.015, p.v[6] * (keep_intrinsics ? 1.0 : 1.05),
      p.v[7] + (keep_intrinsics ? 0.0 : 5.0), p.v[8] - (keep_intrinsics ? 0.0 : 4.0));
  return out;
}

constexpr uint32_t kEverything = 0x7E00E;

// Calls check(scene, c) for every camera of ten scenes with exact projections; exact data
// ends the fit at the rounding level of chi2.
template <class Check>
void ForEveryExactCamera(Check check) {
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    kxtest::SyntheticScene scene({.num_points = 40, .num_cameras = 6, .seed = seed});
    scene.BuildFeatures();
    for (size_t c = 0; c < scene.cameras.size(); ++c) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " camera " + std::to_string(c));
      check(scene, c);
    }
  }
}

TEST(CameraEstimatorKnownFPoint3DTest, ExactProjectionsGiveEveryCameraBack) {
  ForEveryExactCamera([](const kxtest::SyntheticScene& scene, size_t c) {
    PerspectiveCamera camera = Perturbed(scene.cameras[c]);
    CameraEstimatorKnownFPoint3D estimator;
    bool ok = false;
    ASSERT_EQ(
        kxtest::Thrown([&] { ok = estimator.Optimize(&camera, scene.features[c], &kEverything); }),
        "");
    ASSERT_TRUE(ok);
    ExpectCamerasEqual(camera, scene.cameras[c], 1e-9);
    EXPECT_LT(estimator.m_error, 1e-20);
    EXPECT_EQ(estimator.m_pixel_size_x, 0.01);
  });
}

TEST(CameraEstimatorKnownFPoint3DTest, NoisyProjectionsGiveAnErrorNearTheNoise) {
  kxtest::SyntheticScene scene({.num_points = 60, .num_cameras = 3, .noise_px = 0.5, .seed = 3});
  scene.BuildFeatures();
  CameraEstimatorKnownFPoint3D estimator;
  double previous = 0.0;
  for (size_t c = 0; c < scene.cameras.size(); ++c) {
    SCOPED_TRACE("camera " + std::to_string(c));
    PerspectiveCamera camera = Perturbed(scene.cameras[c], true);
    const uint32_t pose = 0x7E000;
    ASSERT_TRUE(estimator.Optimize(&camera, scene.features[c], &pose));
    // m_error adds chi2 per feature (two coordinates, mm^2) of each call.
    const double rmse_px = std::sqrt((estimator.m_error - previous) / 2.0) / 0.01;
    previous = estimator.m_error;
    EXPECT_GT(rmse_px, 0.35);
    EXPECT_LT(rmse_px, 0.6);
    ExpectCamerasEqual(camera, scene.cameras[c], 2e-3);
  }
}

struct MaskCase {
  const char* name;
  uint32_t mask;
};

class KnownFPoint3DMask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(KnownFPoint3DMask, FreesExactlyTheNamedParameters) {
  kxtest::SyntheticScene scene({.num_points = 30, .num_cameras = 2});
  scene.BuildFeatures();
  PerspectiveCamera camera = Perturbed(scene.cameras[1]);
  const double k[4] = {0.0, 0.0, 0.25, 0.5};
  const double further[2] = {3.0, 4.0};
  camera.SetAll(camera.GetC(), camera.GetA(), camera.GetH(), camera.GetV(), camera.GetWidth(),
                camera.GetHeight(), camera.GetPixelSizeX(), camera.GetPixelSizeY(), k, further,
                Poly5);
  const CameraParameters before(camera);
  CameraEstimatorKnownFPoint3D estimator;
  ASSERT_TRUE(estimator.Optimize(&camera, scene.features[1], &GetParam().mask));
  const CameraParameters after(camera);
  for (int b = 0; b < 9; ++b) {
    SCOPED_TRACE(b);
    if (GetParam().mask & kKnownFPoint3DParameterBits[b]) {
      EXPECT_GT(std::fabs(after.v[b] - before.v[b]), Tolerance(b, 1e-9));
    } else {
      EXPECT_NEAR(after.v[b], before.v[b], Tolerance(b, 1e-12));
    }
  }
  EXPECT_EQ(camera.GetWidth(), 1000u);
  EXPECT_EQ(camera.GetHeight(), 800u);
  EXPECT_EQ(camera.GetPixelSizeX(), 0.01);
  EXPECT_EQ(camera.GetPixelSizeY(), 0.01);
  EXPECT_EQ(camera.GetDistortionCoefficients()[2], 0.25);
  EXPECT_EQ(camera.GetDistortionCoefficients()[3], 0.5);
  EXPECT_EQ(camera.GetFurtherValues()[1], 4.0);
  EXPECT_EQ(camera.GetDistortionModel(), Poly5);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, KnownFPoint3DMask,
    ::testing::Values(MaskCase{"Pan", 0x4000}, MaskCase{"Tilt", 0x2000}, MaskCase{"Roll", 0x8000},
                      MaskCase{"CentreX", 0x10000}, MaskCase{"CentreY", 0x20000},
                      MaskCase{"CentreZ", 0x40000}, MaskCase{"Focal", 0x2},
                      MaskCase{"PrincipalX", 0x4}, MaskCase{"PrincipalY", 0x8},
                      MaskCase{"Pose", 0x7E000}, MaskCase{"Intrinsics", 0xE},
                      MaskCase{"OtherBitsIgnored", 0x4000 | 0x10 | 0x1 | 0x80000000u}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CameraEstimatorKnownFPoint3DTest, DirectionPointsFixTheRotationNotTheCentre) {
  kxtest::SyntheticScene scene({.num_cameras = 3});
  const PerspectiveCamera& truth = scene.cameras[2];
  FeatureImage image;
  std::vector<SharedPtr<FeaturePoint2D>> features;
  for (double azimuth = -0.6; azimuth < 0.0; azimuth += 0.05) {
    for (double elevation : {-0.2, 0.05, 0.15}) {
      const vm::Vector3 d{std::sin(azimuth), -std::tan(elevation), std::cos(azimuth)};
      double x = 0.0, y = 0.0, depth = 0.0;
      truth.ProjectPoint(truth.GetC() + d * 1000.0, x, y, depth, false);
      x += scene.Gaussian() * 0.05;
      y += scene.Gaussian() * 0.05;
      auto feature = SharedPtr<FeaturePoint2D>::Make(&image, x, y);
      feature->SetFPoint3D(
          SharedPtr<FeaturePoint3D>::Make(azimuth, elevation, 1000.0, FeaturePoint3D::eSpherical));
      features.push_back(feature);
    }
  }
  const CameraParameters t(truth);
  const vm::Vector3 moved{t.v[3] + 300.0, t.v[4] + 200.0, t.v[5] - 100.0};
  PerspectiveCamera camera = kxtest::MakeSyntheticCamera(1000, 800, 0.01, moved, t.v[0] - 0.03,
                                                         t.v[1] + 0.02, t.v[2] + 0.01, 10.5, 0, 0);
  // The centre is 300 mm off at a nominal distance of 1000 mm, yet the rotation and the
  // focal length come back.
  const uint32_t rotation_and_focal = 0xE002;
  CameraEstimatorKnownFPoint3D estimator;
  ASSERT_TRUE(estimator.Optimize(&camera, features, &rotation_and_focal));
  const CameraParameters got(camera);
  for (int b = 0; b < 3; ++b) EXPECT_NEAR(got.v[b], t.v[b], 1e-4);
  EXPECT_NEAR(got.v[6], 10.0, 1e-3);
  EXPECT_NEAR(got.v[3], moved.x, 1e-9);
  EXPECT_NEAR(got.v[5], moved.z, 1e-9);
}

TEST(CameraEstimatorKnownFPoint3DTest, FailuresLeaveTheCameraAsItWas) {
  kxtest::SyntheticScene scene({.num_points = 12});
  scene.BuildFeatures();
  CameraEstimatorKnownFPoint3D estimator;
  CameraEstimatorPMatKnownFPoint3D pmat;
  {
    kxtest::LogCapture log(5);
    EXPECT_FALSE(estimator.Optimize(nullptr, scene.features[0], &kEverything));
    EXPECT_FALSE(pmat.Optimize(nullptr, scene.features[0]));
    EXPECT_TRUE(log.Has("CameraEstimatorKnownFPoint3D::Optimize: camera == NULL"));
    EXPECT_TRUE(log.Has("CameraEstimatorPMatKnownFPoint3D::Optimize: camera == NULL"));
  }
  // Every point removed or protected.
  for (size_t i = 0; i < scene.points3d.size(); ++i) {
    scene.points3d[i]->SetFlags(i % 2 ? FP3D_FLAG_REMOVED : FP3D_FLAG_PROTECTED);
  }
  PerspectiveCamera camera = Perturbed(scene.cameras[0]);
  const CameraParameters before(camera);
  {
    kxtest::LogCapture log(5);
    EXPECT_FALSE(estimator.Optimize(&camera, scene.features[0], &kEverything));
    EXPECT_FALSE(pmat.Optimize(&camera, scene.features[0]));
    EXPECT_TRUE(log.Has("can't get 2D features with 3D point, size of input list 12"));
    EXPECT_TRUE(log.Has("can't get 2D features of 12 with 3D point"));
  }
  const CameraParameters after(camera);
  for (int b = 0; b < 9; ++b) EXPECT_EQ(after.v[b], before.v[b]);
  EXPECT_EQ(estimator.m_error, 0.0);
}

TEST(CameraEstimatorKnownFPoint3DTest, PointOnTheFocalPlaneFailsTheFitInsteadOfGivingNaN) {
  FeatureImage image;
  std::vector<SharedPtr<FeaturePoint2D>> features;
  const double points[][3] = {{100, 50, 1000}, {-80, 20, 1500}, {30, -60, 0}, {10, 10, 800}};
  for (const auto& p : points) {
    auto feature = SharedPtr<FeaturePoint2D>::Make(&image, 400.0, 300.0);
    feature->SetFPoint3D(
        SharedPtr<FeaturePoint3D>::Make(p[0], p[1], p[2], FeaturePoint3D::eCartesian));
    features.push_back(feature);
  }
  PerspectiveCamera camera;  // at the origin looking along z: zc = 0 for the third point
  const CameraParameters before(camera);
  const uint32_t focal = 0x2;
  CameraEstimatorKnownFPoint3D estimator;
  EXPECT_EQ(kxtest::Thrown([&] { estimator.Optimize(&camera, features, &focal); }),
            "OptimizerLM::Optimize: numerical problems");
  EXPECT_EQ(estimator.m_error, 0.0);
  const CameraParameters after(camera);
  for (int b = 0; b < 9; ++b) EXPECT_EQ(after.v[b], before.v[b]);
}

TEST(CameraEstimatorPMatKnownFPoint3DTest, ExactProjectionsGiveEveryCameraBack) {
  ForEveryExactCamera([](const kxtest::SyntheticScene& scene, size_t c) {
    PerspectiveCamera camera = Perturbed(scene.cameras[c]);
    const double k[4] = {0.0, 0.0, 0.25, 0.0};
    const double further[2] = {3.0, 4.0};
    camera.SetAll(camera.GetC(), camera.GetA(), camera.GetH(), camera.GetV(), 1000, 800, 0.01, 0.01,
                  k, further, Poly5);
    CameraEstimatorPMatKnownFPoint3D estimator;
    bool ok = false;
    ASSERT_EQ(kxtest::Thrown([&] { ok = estimator.Optimize(&camera, scene.features[c]); }), "");
    ASSERT_TRUE(ok);
    ExpectCamerasEqual(camera, scene.cameras[c], 1e-9);
    EXPECT_LT(estimator.m_error, 1e-16) << "pixels^2";
    EXPECT_EQ(camera.GetDistortionCoefficients()[2], 0.25) << "the lens stays";
    EXPECT_EQ(camera.GetFurtherValues()[0], 3.0);
    EXPECT_EQ(camera.GetDistortionModel(), Poly5);
  });
}

TEST(CameraEstimatorPMatKnownFPoint3DTest, NoisyProjectionsGiveAnErrorNearTheNoise) {
  kxtest::SyntheticScene scene({.num_points = 60, .num_cameras = 2, .noise_px = 0.5, .seed = 5});
  scene.BuildFeatures();
  PerspectiveCamera camera = Perturbed(scene.cameras[1]);
  CameraEstimatorPMatKnownFPoint3D estimator;
  ASSERT_TRUE(estimator.Optimize(&camera, scene.features[1]));
  const double rmse_px = std::sqrt(estimator.m_error / 2.0);
  EXPECT_GT(rmse_px, 0.35);
  EXPECT_LT(rmse_px, 0.6);
  ExpectCamerasEqual(camera, scene.cameras[1], 5e-3);
}

}  // namespace
