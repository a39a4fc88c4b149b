#include "geometry/corr_el.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/log_capture.h"

namespace {

// Any distortion function must stay unused when K3 and K5 are 0.
double DoubleEverything(double, const double*, bool) {
  return 2.0;
}

// 101 x 51 pixels (centre (50, 25)), principal point (2, -4) from the centre, focal
// length 72 mm at 0.1 mm pixels.
PerspectiveCamera TestCamera(double k3, int rd_dim = 0, RadialDistortionFunction model = Poly3,
                             double px = 2.0, double py = -4.0) {
  PerspectiveCamera c;
  c.Set({0, 0, 0}, {0, 0, 1}, {720, 0, px}, {0, 576, py}, 101, 51, k3, 0.1, 0.1, 0.0, rd_dim,
        model);
  return c;
}

TEST(CorrElMapperTest, MapPointOverUnitModesAndFlags) {
  // Pixel (70, 45) is (20, 20) from the centre and (18, 24) from the principal point.
  // K3 = 0.01/mm^2: about the centre r^2 = 8 mm^2 (factor 1.08), about the principal
  // point r^2 = 9 mm^2 (factor 1.09).
  struct Case {
    const char* name;
    int mode;
    bool shift, undistort, about_pp;
    double k3;
    int rd_dim;
    double u, v;
  };
  const Case cases[] = {
      {"pixels, no flags", 1, false, false, false, 0.01, 0, 20, 20},
      {"pixels, shift", 1, true, false, false, 0.01, 0, 18, 24},
      {"pixels, undistort about centre", 1, false, true, false, 0.01, 0, 21.6, 21.6},
      {"pixels, undistort about centre, shift", 1, true, true, false, 0.01, 0, 19.6, 25.6},
      {"pixels, undistort about pp", 1, false, true, true, 0.01, 0, 21.62, 22.16},
      {"pixels, undistort about pp, shift", 1, true, true, true, 0.01, 0, 19.62, 26.16},
      {"pixels, per-pixel radius", 1, false, true, false, 1e-4, 1, 21.6, 21.6},
      {"millimetres", 0, true, false, false, 0.01, 0, 1.8, 2.4},
      {"millimetres, undistort about pp", 0, true, true, true, 0.01, 0, 1.962, 2.616},
      {"divided by f", 2, true, false, false, 0.01, 0, 1.8 / 72, 2.4 / 72},
      {"divided by f width", 3, true, false, false, 0.01, 0, 18.0 / 7272, 24.0 / 7272},
      {"unknown mode is pixels", 9, true, false, false, 0.01, 0, 18, 24},
      {"no K3: nothing to undistort", 1, false, true, false, 0.0, 0, 20, 20},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    CorrElMapper mapper(TestCamera(t.k3, t.rd_dim));
    mapper.m_unit_mode = t.mode;
    mapper.m_shift_principal_point = t.shift;
    mapper.m_remove_distortion = t.undistort;
    mapper.m_distortion_about_principal_point = t.about_pp;
    double u, v;
    mapper.MapPoint(70, 45, u, v);
    EXPECT_NEAR(u, t.u, 1e-12);
    EXPECT_NEAR(v, t.v, 1e-12);
    double fu, fv;
    MapImagePoint(70, 45, TestCamera(t.k3, t.rd_dim), t.mode, t.shift, t.undistort, t.about_pp, fu,
                  fv);
    EXPECT_EQ(fu, u);
    EXPECT_EQ(fv, v);
  }
}

TEST(CorrElMapperTest, OnlyK3AndK5DecideOnDistortion) {
  PerspectiveCamera camera = TestCamera(0.0);
  const double k[4] = {0.0, 0.0, 0.5, 0.5};
  camera.SetAll(camera.GetC(), camera.GetA(), camera.GetH(), camera.GetV(), 101, 51, 0.1, 0.1, k,
                camera.GetFurtherValues(), DoubleEverything);
  double u, v;
  MapImagePoint(70, 45, camera, kCorrElPixels, false, true, false, u, v);
  EXPECT_EQ(u, 20.0);
  EXPECT_EQ(v, 20.0);
  const double k5[4] = {0.0, 1e-6, 0.0, 0.0};
  camera.SetAll(camera.GetC(), camera.GetA(), camera.GetH(), camera.GetV(), 101, 51, 0.1, 0.1, k5,
                camera.GetFurtherValues(), DoubleEverything);
  MapImagePoint(70, 45, camera, kCorrElPixels, false, true, false, u, v);
  EXPECT_EQ(u, 40.0) << "K5 alone applies the function";
}

TEST(CorrElMapperTest, EachEndUsesItsOwnCamera) {
  auto first = SharedPtr<FeaturePoint2D>::Make(nullptr, 70.0, 45.0);
  auto second = SharedPtr<FeaturePoint2D>::Make(nullptr, 60.0, 30.0);
  auto link = SharedPtr<FeatureCorrespondence>::Make(first, second);
  CorrElMapper two(TestCamera(0.0), TestCamera(0.0, 0, Poly3, -1.0, 1.0));
  two.m_unit_mode = kCorrElPixels;
  CorrEl e;
  EXPECT_TRUE(two.MapCorrespondence(link, e));
  EXPECT_EQ(e.corr, link);
  EXPECT_DOUBLE_EQ(e.x0, 18.0);
  EXPECT_DOUBLE_EQ(e.y0, 24.0);
  EXPECT_DOUBLE_EQ(e.x1, 11.0);
  EXPECT_DOUBLE_EQ(e.y1, 4.0);

  CorrElMapper one(TestCamera(0.0));
  one.m_unit_mode = kCorrElPixels;
  EXPECT_TRUE(one.MapCorrespondence(link, e));
  EXPECT_DOUBLE_EQ(e.x1, 8.0);
  EXPECT_DOUBLE_EQ(e.y1, 9.0);

  // A single feature goes through camera 0 and leaves the element's link alone.
  e.x1 = e.y1 = 5.0;
  EXPECT_TRUE(two.MapFeaturePoint2D(*second, e));
  EXPECT_EQ(e.corr, link);
  EXPECT_DOUBLE_EQ(e.x0, 8.0);
  EXPECT_DOUBLE_EQ(e.y0, 9.0);
  EXPECT_EQ(e.x1, 0.0);
  EXPECT_EQ(e.y1, 0.0);

  two.SetActiveCamera(1);
  double u, v;
  two.MapPoint(60.0, 30.0, u, v);
  EXPECT_DOUBLE_EQ(u, 11.0);
}

TEST(CorrElFromCorrespondenceIcsCpTest, MillimetresWithoutDistortion) {
  // Camera 0: principal point (2, -4), K3 0.01/mm^2. Camera 1: principal point (0, 0),
  // K3 0.02. Feature 0 at (70, 45) is (1.8, 2.4) mm from its principal point (r^2 = 9),
  // feature 1 at (60, 30) is (1.0, 0.5) mm (r^2 = 1.25 mm^2, or 125 pixels^2).
  const vm::Vector3 point_position{10.0, 5.0, 1000.0};
  double px, py, depth;
  ASSERT_TRUE(TestCamera(0.0).ProjectPoint(point_position, px, py, depth, true));
  const double ideal_x = (px - 50.0 - 2.0) * 0.1, ideal_y = (py - 25.0 + 4.0) * 0.1;

  struct Case {
    const char* name;
    int rd_dim0;  // camera 0's radius unit decides for both points
    double k3_0;
    bool with_point;
    double x0, y0, x1, y1;
  };
  const Case cases[] = {
      {"feature positions", 0, 0.01, false, 1.962, 2.616, 1.025, 0.5125},
      {"3D point is already ideal", 0, 0.01, true, ideal_x, ideal_y, 1.025, 0.5125},
      {"radius in pixels for both", 1, 1e-4, false, 1.962, 2.616, 3.5, 1.75},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    auto first = SharedPtr<FeaturePoint2D>::Make(nullptr, 70.0, 45.0);
    auto second = SharedPtr<FeaturePoint2D>::Make(nullptr, 60.0, 30.0);
    if (t.with_point)
      first->SetFPoint3D(SharedPtr<FeaturePoint3D>::Make(
          point_position.x, point_position.y, point_position.z, FeaturePoint3D::eCartesian));
    auto link = SharedPtr<FeatureCorrespondence>::Make(first, second);
    CorrElFromCorrespondenceIcsCp make(TestCamera(t.k3_0, t.rd_dim0),
                                       TestCamera(0.02, 0, Poly3, 0.0, 0.0));
    CorrEl e;
    ASSERT_TRUE(make(link, e));
    EXPECT_EQ(e.corr, link);
    EXPECT_NEAR(e.x0, t.x0, 1e-12);
    EXPECT_NEAR(e.y0, t.y0, 1e-12);
    EXPECT_NEAR(e.x1, t.x1, 1e-12);
    EXPECT_NEAR(e.y1, t.y1, 1e-12);
  }
}

TEST(CorrElFromCorrespondenceIcsCpTest, PointsThatDoNotMapAreSkipped) {
  struct Case {
    const char* name;
    int cs;
    vm::Vector3 position;
  };
  const Case cases[] = {
      {"behind the camera", FeaturePoint3D::eCartesian, {0.0, 0.0, -1000.0}},
      {"unknown coordinate system", 5, {0.0, 0.0, 1000.0}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    auto first = SharedPtr<FeaturePoint2D>::Make(nullptr, 70.0, 45.0);
    auto second = SharedPtr<FeaturePoint2D>::Make(nullptr, 60.0, 30.0);
    first->SetFPoint3D(
        SharedPtr<FeaturePoint3D>::Make(t.position.x, t.position.y, t.position.z, t.cs));
    auto link = SharedPtr<FeatureCorrespondence>::Make(first, second);
    CorrElFromCorrespondenceIcsCp make(TestCamera(0.01));
    kxtest::LogCapture log(5);
    CorrEl e;
    EXPECT_FALSE(make(link, e));
    if (t.cs == 5) {
      EXPECT_TRUE(log.Has("Warning")) << log.text;
      EXPECT_TRUE(log.Has("type of coordinate system unknown: (5) !")) << log.text;
    }
  }
}

}  // namespace
