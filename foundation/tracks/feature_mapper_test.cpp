#include "foundation/tracks/feature_mapper.h"

#include <gtest/gtest.h>

#include <cmath>

#include "foundation/project/project_bytes_for_test.h"

namespace {

using kxtest::LogCapture;
using Point = SharedPtr<FeaturePoint3D>;

Point Cartesian(double x, double y, double z) {
  return Point::Make(x, y, z, FeaturePoint3D::eCartesian);
}
Point Spherical(double azimuth, double elevation, double radius) {
  return Point::Make(azimuth, elevation, radius, FeaturePoint3D::eSpherical);
}

// A camera moved away from the origin and turned a little, with lens distortion.
PerspectiveCamera DistortedCamera(RadialDistortionFunction model, const double k[4], int rd_dim) {
  PerspectiveCamera cam;
  const double further[2] = {0, 0};
  cam.SetDistortion(0, 0, rd_dim, model);  // RdDim first: SetAll keeps it
  cam.SetAll({100.0, -50.0, 20.0}, {0.1, 0.0, 1.0}, {720.0, 0.0, 0.0}, {0.0, 576.0, 0.0}, 720, 576,
             0.1, 0.1, k, further, model);
  cam.SetCenterPointX(3.0);
  return cam;
}

void ExpectSameDistortion(const PerspectiveCamera& a, const PerspectiveCamera& b) {
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(a.GetDistortionCoefficients()[i], b.GetDistortionCoefficients()[i]) << i;
  }
  EXPECT_EQ(a.GetRdDim(), b.GetRdDim());
  EXPECT_EQ(a.GetDistortionModel(), b.GetDistortionModel());
}

TEST(FeatureMapperTest, CameraWithoutSizeMapsNothing) {
  PerspectiveCamera cam;
  cam.Set(cam.GetC(), cam.GetA(), cam.GetH(), cam.GetV(), 0, 576, 0, 0.1, 0.1, 0, 0, Poly3);
  FeatureMapper mapper(cam);
  FeaturePoint2D f(nullptr, 7, 8);
  LogCapture log;
  EXPECT_FALSE(mapper.MapCartesian(Cartesian(0, 0, 1000), f, false));
  EXPECT_FALSE(mapper.MapSphere(Spherical(0, 0, 1), f, false));
  EXPECT_TRUE(log.Has(": camera parameter not set!")) << log.text;
  EXPECT_TRUE(log.Has(": 3D->2D, camera parameter not set!")) << log.text;
  EXPECT_EQ(f.x, 7.0);
  EXPECT_FALSE(f.GetFPoint3D());
}

TEST(FeatureMapperTest, DefaultCameraCases) {
  FeatureMapper mapper{PerspectiveCamera()};
  const struct {
    Point point;
    bool ignore;
    bool ok;
  } cases[] = {
      {Cartesian(0, 0, 1000), false, true},
      {Cartesian(0, 0, 1000), true, true},
      {Cartesian(0, 0, -1000), false, false},     // behind the camera
      {Cartesian(10000, 0, 1000), false, false},  // outside the image
      {Spherical(0, 0, 1), false, true},
      {Spherical(0, 0, 5e6), true, true},       // the radius does not matter
      {Spherical(M_PI, 0, 100), false, false},  // behind
      {Spherical(M_PI, 0, 100), true, false},
      {Point(), false, false},
  };
  for (const auto& c : cases) {
    FeaturePoint2D f(nullptr, 7, 8);
    const bool spherical = c.point && c.point->GetCS() == FeaturePoint3D::eSpherical;
    if (c.point) c.point->SetId(12);
    const bool ok = spherical ? mapper.MapSphere(c.point, f, c.ignore)
                              : mapper.MapCartesian(c.point, f, c.ignore);
    EXPECT_EQ(ok, c.ok);
    if (ok) {
      EXPECT_DOUBLE_EQ(f.x, 359.5);
      EXPECT_DOUBLE_EQ(f.y, 287.5);
      EXPECT_EQ(f.GetFPoint3D(), c.point);
      EXPECT_EQ(f.GetFPoint3DIndex(), 12);
    } else {
      EXPECT_EQ(f.x, 7.0);
      EXPECT_EQ(f.y, 8.0);
      EXPECT_FALSE(f.GetFPoint3D());
    }
  }
}

TEST(FeatureMapperTest, BackProjectionAndCartesianConversion) {
  FeatureMapper mapper{PerspectiveCamera()};
  FeaturePoint2D centre(nullptr, 359.5, 287.5);
  FeaturePoint3D p(FeaturePoint3D::eCartesian);
  p.SetName("old");
  p.SetId(4);
  p.AssignFlags(FP3D_FLAG_LOCATOR);
  const int32_t uid = p.GetUID();
  mapper.BackProjectToSphere(centre, p, false);
  EXPECT_DOUBLE_EQ(p.x, 0.0);
  EXPECT_DOUBLE_EQ(p.y, 0.0);
  EXPECT_DOUBLE_EQ(p.z, 360.0);  // 5 x 72 mm
  EXPECT_EQ(p.GetCS(), FeaturePoint3D::eSpherical);
  EXPECT_EQ(p.GetUID(), uid);
  EXPECT_EQ(p.GetId(), -1);
  EXPECT_EQ(p.GetFlags(), 0u);
  EXPECT_EQ(p.GetName(), nullptr);

  FeaturePoint3D source(M_PI / 2, 0, 100, FeaturePoint3D::eSpherical);
  FeaturePoint3D out(FeaturePoint3D::eSpherical);
  mapper.ToCartesian(source, &out);
  EXPECT_NEAR(out.x, 100.0, 1e-12);
  EXPECT_NEAR(out.y, 0.0, 1e-12);
  EXPECT_NEAR(out.z, 0.0, 1e-12);
  EXPECT_EQ(out.GetCS(), FeaturePoint3D::eCartesian);
  FeaturePoint3D unchanged(1, 2, 3, FeaturePoint3D::eSpherical);
  mapper.ToCartesian(out, &unchanged);  // a Cartesian source changes nothing
  EXPECT_EQ(unchanged.x, 1.0);
  LogCapture log;
  mapper.ToCartesian(source, nullptr);
  EXPECT_TRUE(log.Has("destination NULL")) << log.text;
}

// Project, back-project, convert and project again: every road ends at the same pixel,
// and the camera's distortion is exactly as before.
TEST(FeatureMapperTest, RoundTripsKeepTheDistortion) {
  const double poly3[4] = {2e-5, 0, 0, 0};
  const double poly4[4] = {40.0, 0.01, -0.002, 0.0005};  // base radius and three terms
  const struct {
    RadialDistortionFunction model;
    const double* k;
    int rd_dim;
  } cameras[] = {{Poly3, poly3, 0}, {Poly4, poly4, 0}, {Poly3, poly3, 1}};
  for (const auto& c : cameras) {
    for (bool ignore : {false, true}) {
      SCOPED_TRACE(std::to_string(c.rd_dim) + (ignore ? " ignore" : ""));
      const PerspectiveCamera cam = DistortedCamera(c.model, c.k, c.rd_dim);
      FeatureMapper mapper(cam);
      ExpectSameDistortion(mapper.GetCamera(), cam);

      auto world = Cartesian(250.0, 30.0, 1500.0);
      FeaturePoint2D f(nullptr);
      ASSERT_TRUE(mapper.MapCartesian(world, f, ignore));
      auto sphere = Point::Make(FeaturePoint3D::eSpherical);
      mapper.BackProjectToSphere(f, *sphere, ignore);
      FeaturePoint2D g(nullptr);
      ASSERT_TRUE(mapper.MapSphere(sphere, g, ignore));
      EXPECT_NEAR(g.x, f.x, 1e-7);
      EXPECT_NEAR(g.y, f.y, 1e-7);

      // The Cartesian point of the direction lies on the ray through the world point.
      FeaturePoint3D on_ray(FeaturePoint3D::eCartesian);
      mapper.ToCartesian(*sphere, &on_ray);
      const vm::Vector3 a = vm::Vector3{on_ray.x, on_ray.y, on_ray.z} - cam.GetC();
      const vm::Vector3 b = vm::Vector3{world->x, world->y, world->z} - cam.GetC();
      EXPECT_NEAR(a.Cross(b).Length() / (a.Length() * b.Length()), 0.0, 1e-9);
      ExpectSameDistortion(mapper.GetCamera(), cam);

      // Failing calls restore it as well.
      EXPECT_FALSE(mapper.MapSphere(Spherical(M_PI, 0, 1), g, ignore));
      EXPECT_FALSE(mapper.MapCartesian(Cartesian(0, 0, -10), g, ignore));
      ExpectSameDistortion(mapper.GetCamera(), cam);
    }
  }
}

TEST(FeatureMapperTest, UndistortedProjectionOutsideLeavesTheFeature) {
  // Strong barrel distortion pulls a point beyond the image edge inside.
  const double k[4] = {1e-3, 0, 0, 0};
  PerspectiveCamera cam;
  cam.SetDistortion(k[0], 0, 0, Poly3);
  FeatureMapper mapper(cam);
  auto p = Cartesian(600, 0, 1000);  // ideal x = 432 pixels right of the centre
  FeaturePoint2D f(nullptr, 7, 8);
  ASSERT_TRUE(mapper.MapCartesian(p, f, false));
  EXPECT_LT(f.x, 719.0);
  FeaturePoint2D g(nullptr, 7, 8);
  EXPECT_FALSE(mapper.MapCartesian(p, g, true));
  EXPECT_EQ(g.x, 7.0);
  EXPECT_FALSE(g.GetFPoint3D());
  EXPECT_EQ(mapper.GetCamera().GetDistortionCoefficients()[0], 1e-3);
}

TEST(FeatureMapperTest, MatrixVectorProducts) {
  Matrix3x4 p = {{1, 2, 3, 4, 0, 1, 0, -1, 2, 0, 0, 1}};
  Matrix4x4 m = {{1, 0, 0, 5, 0, 2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1}};
  const Vector4 v = {{1, 2, 3, 1}};
  const vm::Vector3 r = MultiplyMat3x4Vec4(p, v);
  EXPECT_EQ(r, (vm::Vector3{18, 1, 3}));
  const Vector4 s = MultiplyMat4x4Vec4(m, v);
  const double expected[4] = {6, 4, 9, 1};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s[i], expected[i]);
}

}  // namespace
