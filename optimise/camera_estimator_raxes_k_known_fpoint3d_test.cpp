#include "optimise/camera_estimator_raxes_k_known_fpoint3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "foundation/camera/camera_geometry.h"
#include "foundation/tracks/feature_correspondence.h"
#include "optimise/camera_estimator_known_fpoint3d.h"
#include "optimise/model_gradient_for_test.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"
#include "testing/thrown.h"

namespace {

using kxtest::MakeSyntheticCamera;

// A camera on a tripod: it turns about the rotation centre P, its optical centre sitting
// at the offset t in its own axes (P + R^T t). The first camera looks along +z.
struct Tripod {
  vm::Vector3 centre;
  vm::Vector3 offset{15, -8, 40};
  std::vector<PerspectiveCamera> truth;
  std::vector<SharedPtr<FeatureImage>> images;
  std::vector<SharedPtr<FeaturePoint3D>> points;

  // link_flags: the flags of the links into image c (a last image with other flags has
  // no supported link).
  explicit Tripod(int cameras, uint32_t last_link_flags = FCORR_SUPPORT_ROTATION,
                  const vm::Vector3& rotation_centre = {300, -200, 1000})
      : centre(rotation_centre) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> lateral(-1200, 1200), depth(3000, 6000);
    for (int i = 0; i < 40; ++i) {
      const vm::Vector3 p = centre + vm::Vector3{lateral(random), lateral(random), depth(random)};
      points.push_back(SharedPtr<FeaturePoint3D>::Make(p.x, p.y, p.z, FeaturePoint3D::eCartesian));
    }
    for (int c = 0; c < cameras; ++c) {
      const double pan = 0.07 * c, tilt = c % 2 ? 0.03 : -0.02 * c, roll = 0.01 * c;
      PerspectiveCamera camera =
          MakeSyntheticCamera(1000, 800, 0.01, {0, 0, 0}, pan, tilt, roll, 10.0, 0, 0);
      // R^T t is the offset in world axes: the camera axes H0, V0, A weighted by t.
      const vm::Vector3 world_offset =
          camera.H0() * offset.x + camera.V0() * offset.y + camera.GetA() * offset.z;
      SetCameraCentre(camera, centre + world_offset);
      truth.push_back(camera);
      auto image = SharedPtr<FeatureImage>::Make();
      static_cast<PerspectiveCamera&>(*image) = camera;
      for (size_t i = 0; i < points.size(); ++i) {
        double x, y, d;
        camera.ProjectPoint(*points[i], x, y, d, false);
        auto feature = SharedPtr<FeaturePoint2D>::Make(image.Get(), x, y);
        feature->SetFPoint3D(points[i]);
        image->AddFPoint2D(feature);
        if (c > 0) {
          const SharedPtr<FeaturePoint2D>& before = images.back()->GetFPoints2D()[i];
          auto link = SharedPtr<FeatureCorrespondence>::Make(before, feature);
          link->SetFlags(c == cameras - 1 ? last_link_flags : FCORR_SUPPORT_ROTATION);
          before->SetSuccessor(link);
          feature->SetPredecessor(link);
        }
      }
      images.push_back(image);
    }
  }

  std::vector<FeatureImage*> List() const {
    std::vector<FeatureImage*> out;
    for (const auto& image : images) out.push_back(image.Get());
    return out;
  }
};

TEST(CameraEstimatorRAxesKKnownFPoint3DTest, RecoversTheRotationCentreOfATripodSequence) {
  struct Case {
    const char* name;
    bool estimate_focal;
    bool pass_centre;  // else the centre is the origin and none is passed
  };
  const Case cases[] = {
      {"centre off the origin", false, true},
      {"centre off the origin, with focal lengths", true, true},
      {"no centre given: the origin", false, false},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    const bool estimate_focal = t.estimate_focal;
    Tripod tripod(4, FCORR_SUPPORT_ROTATION,
                  t.pass_centre ? vm::Vector3{300, -200, 1000} : vm::Vector3{0, 0, 0});
    // Start: every camera at the rotation centre, its angles (and focal length) off.
    for (const auto& image : tripod.images) {
      double pan, tilt, roll;
      GetCameraAngles(*image, pan, tilt, roll);
      const double value[9] = {pan + 0.01,
                               tilt - 0.01,
                               roll + 0.005,
                               tripod.centre.x,
                               tripod.centre.y,
                               tripod.centre.z,
                               estimate_focal ? 10.4 : 10.0,
                               0.0,
                               0.0};
      SetCameraFromParameters(*image, value);
    }
    const double centre[3] = {tripod.centre.x, tripod.centre.y, tripod.centre.z};
    CameraEstimatorRAxesKKnownFPoint3D estimator;
    ASSERT_TRUE(
        estimator.Optimize(tripod.List(), estimate_focal, t.pass_centre ? centre : nullptr));
    EXPECT_LT(estimator.m_error, 1e-16);
    for (size_t c = 0; c < tripod.images.size(); ++c) {
      SCOPED_TRACE(c);
      const FeatureImage& camera = *tripod.images[c];
      const PerspectiveCamera& truth = tripod.truth[c];
      EXPECT_NEAR((camera.GetC() - truth.GetC()).Length(), 0.0, 1e-4);
      EXPECT_NEAR((camera.GetC() - tripod.centre).Length(), tripod.offset.Length(), 1e-4);
      EXPECT_NEAR((camera.GetA() - truth.GetA()).Length(), 0.0, 1e-9);
      EXPECT_NEAR((camera.H0() - truth.H0()).Length(), 0.0, 1e-9);
      EXPECT_NEAR(camera.GetFocalLength(), 10.0, 1e-7);
      EXPECT_NEAR(camera.GetCenterPointX(), 0.0, 1e-9);
      EXPECT_NEAR(camera.GetCenterPointY(), 0.0, 1e-9);
    }
  }
}

TEST(CameraEstimatorRAxesKKnownFPoint3DTest, StartVectorAndSamples) {
  Tripod tripod(2);
  // The first camera stands at the rotation centre looking along +z: T and its angles
  // are exactly 0 and start at 1e-16.
  SetCameraCentre(*tripod.images[0], tripod.centre);
  tripod.points[0]->SetFlags(FP3D_FLAG_REMOVED);
  ModelRAxesKKnownFPoint3DData data;
  const double centre[3] = {tripod.centre.x, tripod.centre.y, tripod.centre.z};
  data.SetData(tripod.List(), false, centre);
  data.SetInitialParameters(tripod.List());
  ASSERT_EQ(data.GetNumberOfParameters(), 9u);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(data.GetStartVector()[size_t(k)], 1e-16) << k;
  EXPECT_NEAR(data.GetStartVector()[6], 0.07, 1e-12);
  EXPECT_EQ(data.GetNumberOfSamples(), 2u * 39u);  // the removed point stays out

  kxtest::LogCapture log(5);
  ModelRAxesKKnownFPoint3DData fresh;
  EXPECT_EQ(fresh.GetNumberOfParameters(), 7u);
  fresh.m_start_vector.resize(3);
  fresh.GetNumberOfParameters();
  EXPECT_TRUE(log.Has("bad no. of parameters 3, missing call of SetInitialParameters()"));
}

TEST(CameraEstimatorRAxesKKnownFPoint3DTest, Failures) {
  kxtest::LogCapture log(5);
  CameraEstimatorRAxesKKnownFPoint3D estimator;
  Tripod one(1);
  EXPECT_FALSE(estimator.Optimize(one.List(), true, nullptr));
  EXPECT_TRUE(log.Has("CameraEstimatorRAxesKKnownFPoint3D::Optimize: image list < 2"));

  // The last image has no supported link, so no samples: J^T J is singular.
  Tripod unsupported(3, FCORR_SUPPORT_TRUE);
  const vm::Vector3 before = unsupported.images[0]->GetC();
  EXPECT_EQ(kxtest::Thrown([&] { estimator.Optimize(unsupported.List(), false, nullptr); }),
            "OptimizerLM::Optimize: numerical problems");
  EXPECT_EQ(unsupported.images[0]->GetC(), before);
}

TEST(CameraEstimatorRAxesKKnownFPoint3DTest, GradientsMatchFiniteDifferences) {
  Tripod tripod(3);
  for (bool estimate_focal : {false, true}) {
    SCOPED_TRACE(estimate_focal);
    ModelRAxesKKnownFPoint3DData data;
    const double centre[3] = {tripod.centre.x, tripod.centre.y, tripod.centre.z};
    data.SetData(tripod.List(), estimate_focal, centre);
    data.SetInitialParameters(tripod.List());
    std::vector<double> p = data.GetStartVector();
    p[0] += 12;  // a non-trivial offset
    p[1] -= 7;
    p[2] += 30;
    const ModelRAxesKKnownFPoint3D model;
    std::vector<double> steps(p.size(), 1e-7);
    steps[0] = steps[1] = steps[2] = 1e-3;  // T in mm
    for (unsigned i : {0u, 45u, 100u}) {    // samples of images 0, 1, 2
      SCOPED_TRACE(i);
      ModelRAxesKKnownFPoint3DInput input;
      data.GetModelInput(i, input);
      kxtest::ExpectGradientsMatchDifferences(model, input, p, steps);
    }
    kxtest::LogCapture log(5);
    ModelRAxesKKnownFPoint3DInput input;
    data.GetModelInput(0, input);
    ModelOutput out[2];
    EXPECT_FALSE(model.ComputeWithGradient(input, {1, 2, 3}, out, 2));
    EXPECT_TRUE(log.Has("ModelRAxesKKnownFPoint3D::ComputeWithGradient: bad number of parameters"));
    input.image = 3;
    EXPECT_FALSE(model.ComputeWithGradient(input, p, out, 2));
    EXPECT_TRUE(log.Has("camera index 3 >= no. of cameras 3"));
  }
}

}  // namespace
