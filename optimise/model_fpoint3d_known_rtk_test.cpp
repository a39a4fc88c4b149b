#include "optimise/model_fpoint3d_known_rtk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "optimise/model_gradient_for_test.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"

namespace {

using kxtest::MakeSyntheticCamera;

PerspectiveCamera Camera(const vm::Vector3& centre, double pan, double tilt, double roll,
                         double px = 0.0, double py = 0.0) {
  return MakeSyntheticCamera(1000, 800, 0.01, centre, pan, tilt, roll, 10.0, px, py);
}

// A feature at the (distortion-free) projection of world point p, moved by (dx, dy) pixels.
SharedPtr<FeaturePoint2D> Seen(const PerspectiveCamera& camera, const vm::Vector3& p,
                               double dx = 0.0, double dy = 0.0) {
  double x, y, depth;
  camera.ProjectPoint(p, x, y, depth, false);
  return SharedPtr<FeaturePoint2D>::Make(nullptr, x + dx, y + dy);
}

vm::Vector3 Direction(double pan, double tilt) {
  return vm::Vector3{std::sin(pan), -std::tan(tilt), std::cos(pan)} * 1000.0;
}

TEST(ModelFPoint3DKnownRTKTest, GradientsMatchFiniteDifferences) {
  struct Case {
    const char* name;
    PerspectiveCamera camera;
    int cs;
    std::vector<double> parameters;
  };
  const Case cases[] = {
      {"cartesian, off-centre principal point",
       Camera({-400, 100, -5000}, 0.1, -0.05, 0.02, 23, -17),
       FeaturePoint3D::eCartesian,
       {120, -340, 650}},
      {"direction", Camera({0, 0, 0}, 0.3, 0.1, -0.04), FeaturePoint3D::eSpherical, {0.35, 0.05}},
  };
  const ModelFPoint3DKnownRTK model;
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    const ModelFPoint3DKnownRTKInput input{&t.camera, t.cs};
    kxtest::ExpectGradientsMatchDifferences(model, input, t.parameters,
                                            t.cs == FeaturePoint3D::eCartesian ? 1e-3 : 1e-7);
  }
}

TEST(ModelFPoint3DKnownRTKTest, FitsAPointAgainstKnownCameras) {
  // Observations are exact; the fit starts away from the point. Camera 1 has an
  // off-centre principal point, so its samples (about the principal point) only agree
  // with the projection when the prediction is taken about the principal point too.
  struct Case {
    const char* name;
    std::vector<PerspectiveCamera> cameras;
    SharedPtr<FeaturePoint3D> start;
    vm::Vector3 truth;  // parameters: x, y, z or pan, tilt, -
    vm::Vector3 world;
  };
  std::vector<Case> cases;
  cases.push_back({"cartesian",
                   {Camera({0, 0, -5000}, 0, 0, 0), Camera({1500, 0, -4800}, -0.3, 0, 0, 23, -17),
                    Camera({-1200, 300, -4900}, 0.25, 0.06, 0.01)},
                   SharedPtr<FeaturePoint3D>::Make(150.0, -80.0, 300.0, FeaturePoint3D::eCartesian),
                   {100, -50, 200},
                   {100, -50, 200}});
  cases.push_back({"direction",
                   {Camera({0, 0, 0}, 0.2, 0.0, 0.0), Camera({0, 0, 0}, 0.35, 0.05, 0.02, 23, -17)},
                   SharedPtr<FeaturePoint3D>::Make(0.25, 0.02, 0.0, FeaturePoint3D::eSpherical),
                   {0.3, 0.04, 0},
                   Direction(0.3, 0.04)});
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    OptimizerLM_FPoint3DKnownRTK optimizer;
    ModelFPoint3DKnownRTKData& data = optimizer.m_data;
    for (const PerspectiveCamera& c : t.cameras) {
      SharedPtr<FeaturePoint2D> f = Seen(c, t.world);
      f->SetFPoint3D(t.start);
      data.AddObservation(f, &c, 1);
    }
    EXPECT_EQ(data.m_coordinate_system, t.start->GetCS());
    ASSERT_TRUE(data.SetInitialParameters(*t.start));
    ASSERT_TRUE(optimizer.Optimize());
    ASSERT_EQ(optimizer.m_param_vector.size(), data.GetNumberOfParameters());
    for (size_t k = 0; k < optimizer.m_param_vector.size(); ++k) {
      EXPECT_NEAR(optimizer.m_param_vector[k], t.truth[int(k)],
                  1e-6 * (1 + std::fabs(t.truth[int(k)])));
    }
  }
}

TEST(ModelFPoint3DKnownRTKTest, DoublingThePixelSizeDoublesThePrediction) {
  PerspectiveCamera camera = Camera({-400, 100, -5000}, 0.1, -0.05, 0.02, 23, -17);
  const ModelFPoint3DKnownRTK model;
  const std::vector<double> x{120, -340, 650};
  ModelOutput a[2], b[2];
  ASSERT_TRUE(model.ComputeWithGradient({&camera, FeaturePoint3D::eCartesian}, x, a, 2));
  camera.SetPixelSize(0.02, 0.02);
  ASSERT_TRUE(model.ComputeWithGradient({&camera, FeaturePoint3D::eCartesian}, x, b, 2));
  for (int j = 0; j < 2; ++j) {
    EXPECT_NEAR(b[j].value, 2 * a[j].value, 1e-12);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(b[j].gradient[k], 2 * a[j].gradient[k], 1e-15);
  }
}

TEST(ModelFPoint3DKnownRTKTest, StartFromTheFarthestPairOfViews) {
  const vm::Vector3 p{20, -30, 3000};
  const PerspectiveCamera cameras[3] = {Camera({0, 0, 0}, 0, 0, 0), Camera({100, 0, 0}, 0, 0, 0),
                                        Camera({300, 0, 0}, 0, 0, 0, 23, -17)};
  for (int flag : {1, 0}) {
    SCOPED_TRACE(flag ? "linear start" : "pan/tilt/roll start");
    ModelFPoint3DKnownRTKData data;
    // The middle view is off by 40 pixels: only the pair (0, 2) gives the point back.
    for (int c = 0; c < 3; ++c)
      data.AddObservation(Seen(cameras[c], p, c == 1 ? 40 : 0), &cameras[c], flag);
    ASSERT_TRUE(data.CalculateInitialParams());
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(data.m_parameters[size_t(k)], p[k], 1e-6);
  }

  kxtest::LogCapture log(5);
  ModelFPoint3DKnownRTKData data;
  data.AddObservation(Seen(cameras[0], p), &cameras[0], 1);
  EXPECT_FALSE(data.CalculateInitialParams());
  EXPECT_TRUE(log.Has("ModelFPoint3DKnownRTKData::CalculateInitialParams: m_vecXXX < 2"));
  EXPECT_FALSE(data.CheckMinDist(1.0));
  EXPECT_TRUE(log.Has("ModelFPoint3DKnownRTKData::CheckMinDist: m_vecXXX < 2"));
  data.SetCoordinateSystem(FeaturePoint3D::eSpherical);
  EXPECT_FALSE(data.CalculateInitialParams());
  EXPECT_TRUE(log.Has("not a cartesian 3D feature point"));
}

TEST(ModelFPoint3DKnownRTKTest, ParallaxTest) {
  // Two views that differ only in position (the second with another principal point).
  const PerspectiveCamera a = Camera({0, 0, 0}, 0.1, 0.05, 0);
  const PerspectiveCamera b = Camera({200, 0, 0}, 0.1, 0.05, 0, 23, -17);
  const vm::Vector3 far_away = Direction(0.15, 0.02) * 1e9;
  const vm::Vector3 near{50, 20, 2000};
  ModelFPoint3DKnownRTKData at_infinity, close;
  at_infinity.AddObservation(Seen(a, far_away), &a, 1);
  at_infinity.AddObservation(Seen(b, far_away), &b, 1);
  close.AddObservation(Seen(a, near), &a, 1);
  close.AddObservation(Seen(b, near), &b, 1);
  EXPECT_FALSE(at_infinity.CheckMinDist(0.01));
  EXPECT_TRUE(close.CheckMinDist(5.0));
}

TEST(ModelFPoint3DKnownRTKTest, MeanAndLargestImageError) {
  const PerspectiveCamera a = Camera({0, 0, 0}, 0, 0, 0);
  const PerspectiveCamera b = Camera({200, 0, 0}, 0, 0, 0);
  const vm::Vector3 p{50, 20, 2000};
  ModelFPoint3DKnownRTKData data;
  EXPECT_TRUE(data.CheckMeanError(p, 0.0));
  EXPECT_TRUE(data.CheckMaxError(p, 0.0));
  data.AddObservation(Seen(a, p, 0.3, 0.4), &a, 1);  // 0.5 pixels off
  data.AddObservation(Seen(b, p, 0.0, 1.5), &b, 1);  // 1.5 pixels off
  EXPECT_TRUE(data.CheckMeanError(p, 1.0));
  EXPECT_FALSE(data.CheckMaxError(p, 1.0));
  EXPECT_TRUE(data.CheckMaxError(p, 1.5 + 1e-9));
  EXPECT_FALSE(data.CheckMeanError(p, 0.99));
}

TEST(ModelFPoint3DKnownRTKTest, UnknownCoordinateSystemIsRefused) {
  const PerspectiveCamera camera = Camera({0, 0, 0}, 0, 0, 0);
  kxtest::LogCapture log(5);
  ModelOutput out[2];
  EXPECT_FALSE(ModelFPoint3DKnownRTK().ComputeWithGradient({&camera, 7}, {1, 2}, out, 2));
  EXPECT_TRUE(log.Has("unsupported coordinate system type: 7"));
  ModelFPoint3DKnownRTKData data;
  FeaturePoint3D odd(7);
  EXPECT_FALSE(data.SetInitialParameters(odd));
  EXPECT_TRUE(
      log.Has("ModelFPoint3DKnownRTKData::SetInitialParameters: unsupported coordinate system 7"));
}

}  // namespace
