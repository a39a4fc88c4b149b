#include "optimise/known_fpoint3d_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "optimise/model_gradient_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::ExpectGradientsMatchDifferences;

struct MaskCase {
  const char* name;
  uint32_t mask;
};

class KnownFPoint3DGradient : public ::testing::TestWithParam<MaskCase> {};

TEST_P(KnownFPoint3DGradient, MatchesFiniteDifferences) {
  // pan, tilt, roll, X, Y, Z, f, principal point x, y
  const double values[9] = {0.3, -0.2, 0.15, 120.0, -80.0, -2500.0, 12.0, 0.2, -0.1};
  ModelKnownFPoint3DInput input;
  for (int b = 0; b < 9; ++b) input.fixed[b] = values[b] + 0.5;  // must not be read
  input.m_parameter_mask = GetParam().mask;
  std::vector<double> parameters;
  for (int b = 0; b < 9; ++b) {
    if (input.m_parameter_mask & kKnownFPoint3DParameterBits[b])
      parameters.push_back(values[b]);
    else
      input.fixed[b] = values[b];
  }
  ModelKnownFPoint3D model;
  for (int cs : {FeaturePoint3D::eCartesian, FeaturePoint3D::eSpherical}) {
    SCOPED_TRACE(cs);
    FeaturePoint3D point = cs == FeaturePoint3D::eCartesian
                               ? FeaturePoint3D(400.0, 300.0, 900.0, cs)
                               : FeaturePoint3D(0.2, -0.1, 1000.0, cs);
    input.point = &point;
    ExpectGradientsMatchDifferences(model, input, parameters, 1e-6);
  }
}

INSTANTIATE_TEST_SUITE_P(Masks, KnownFPoint3DGradient,
                         ::testing::Values(MaskCase{"Pose", 0x7E000}, MaskCase{"All", 0x7E00E},
                                           MaskCase{"RotationAndFocal", 0xE002},
                                           MaskCase{"PrincipalPointOnly", 0xC},
                                           MaskCase{"CentreYAndPrincipalY", 0x20008}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KnownFPoint3DModel, DirectionPointIgnoresTheCentre) {
  FeaturePoint3D point(0.2, -0.1, 1000.0, FeaturePoint3D::eSpherical);
  ModelKnownFPoint3DInput input;
  input.point = &point;
  input.m_parameter_mask = 0x70000;
  input.fixed[6] = 10.0;
  ModelKnownFPoint3D model;
  ModelOutput a[2], b[2];
  ASSERT_TRUE(model.ComputeWithGradient(input, {0.0, 0.0, 0.0}, a, 2));
  ASSERT_TRUE(model.ComputeWithGradient(input, {500.0, -300.0, 70.0}, b, 2));
  EXPECT_EQ(a[0].value, b[0].value);
  EXPECT_EQ(a[1].value, b[1].value);
  EXPECT_NEAR(a[0].value, 10.0 * std::tan(0.2), 1e-12);
  for (double g : a[0].gradient) EXPECT_EQ(g, 0.0);
}

TEST(KnownFPoint3DModel, RefusesWhatItCannotPredict) {
  ModelKnownFPoint3D model;
  ModelOutput out[2];
  ModelKnownFPoint3DInput input;
  input.fixed[6] = 10.0;
  input.m_parameter_mask = 0x2;
  FeaturePoint3D on_focal_plane(100.0, 50.0, 0.0, FeaturePoint3D::eCartesian);
  input.point = &on_focal_plane;
  EXPECT_FALSE(model.ComputeWithGradient(input, {10.0}, out, 2)) << "zc = 0";
  FeaturePoint3D point(100.0, 50.0, 1000.0, FeaturePoint3D::eCartesian);
  input.point = &point;
  EXPECT_TRUE(model.ComputeWithGradient(input, {10.0}, out, 2));
  EXPECT_FALSE(model.ComputeWithGradient(input, {10.0, 1.0}, out, 2)) << "too many parameters";
  EXPECT_FALSE(model.ComputeWithGradient(input, {}, out, 2)) << "too few";
  FeaturePoint3D odd(1.0, 2.0, 3.0, 7);
  input.point = &odd;
  kxtest::LogCapture log(5);
  EXPECT_FALSE(model.ComputeWithGradient(input, {10.0}, out, 2));
  EXPECT_TRUE(log.Has("unsupported coordinate system type: 7"));
}

TEST(PMatKnownFPoint3DModel, GradientsAndRefusals) {
  const std::vector<double> p = {900, 10, 200, 5000, -20, 950, 150, -3000, 0.1, -0.05, 0.99, 4000};
  FeaturePoint3D point(300.0, -200.0, 500.0, FeaturePoint3D::eCartesian);
  ModelPMatKnownFPoint3DInput input{&point};
  ModelPMatKnownFPoint3D model;
  ExpectGradientsMatchDifferences(model, input, p, 1e-7);
  // A direction point is taken as Cartesian coordinates all the same.
  FeaturePoint3D direction(300.0, -200.0, 500.0, FeaturePoint3D::eSpherical);
  ModelOutput a[2], b[2];
  ASSERT_TRUE(model.ComputeWithGradient(input, p, a, 2));
  input.point = &direction;
  ASSERT_TRUE(model.ComputeWithGradient(input, p, b, 2));
  EXPECT_EQ(a[0].value, b[0].value);

  std::vector<double> flat = p;
  flat[8] = flat[9] = flat[10] = flat[11] = 0.0;
  EXPECT_FALSE(model.ComputeWithGradient(input, flat, a, 2)) << "c = 0";
  kxtest::LogCapture log(5);
  EXPECT_FALSE(model.ComputeWithGradient(input, {1.0, 2.0}, a, 2));
  EXPECT_TRUE(log.Has("ModelPMatKnownFPoint3D::ComputeWithGradient: bad number of parameters: 2"));
}

}  // namespace
