#include "geometry/two_view_transfer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"

namespace {

// M = Ry(pan) Rx(tilt) Rz(roll) from the elementary rotations.
Matrix3x3 Compose(double pan, double tilt, double roll) {
  auto rot = [](int axis, double a) {
    Matrix3x3 r;
    r.SetIdentity();
    const int p = (axis + 1) % 3, q = (axis + 2) % 3;
    r[p][p] = std::cos(a);
    r[p][q] = -std::sin(a);
    r[q][p] = std::sin(a);
    r[q][q] = std::cos(a);
    return r;
  };
  Matrix3x3 m;
  m.Multiply(rot(1, pan), rot(0, tilt));
  m.Multiply(m, rot(2, roll));
  return m;
}

TEST(TwoViewTransferTest, RowsAreTheTransposedElementaryProduct) {
  const double cases[][3] = {
      {0.3, -0.2, 0.1},
      {-2.0, 1.0, 3.0},
      {0.7, M_PI / 2, 0.4},
      {0.7, -M_PI / 2, -0.4},
      {0.1, M_PI / 2 - 1e-9, 0.2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " " << c[1] << " " << c[2]);
    const Matrix3x3 m = Compose(c[0], c[1], c[2]);
    const PanTiltRollRows rows(c[0], c[1], c[2]);
    const vm::Vector3* r[3] = {&rows.u, &rows.v, &rows.w};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR((*r[i])[j], m[j][i], 1e-15) << i << j;
  }
}

TEST(TwoViewTransferTest, AnglesOfATurnedCameraFollowTheSameConvention) {
  // SetCameraPTRZ and GetCameraAngles agree with M, tilt near +-90 degrees included.
  const double cases[][3] = {
      {0.3, -0.2, 0.1}, {-1.2, 0.8, -2.0}, {0.5, 1.5707, 0.3}, {-0.5, -1.5707, 0.25}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " " << c[1] << " " << c[2]);
    PerspectiveCamera camera;
    SetCameraPTRZ(camera, c[0], c[1], c[2], 1.0);
    const Matrix3x3 m = Compose(c[0], c[1], c[2]);
    const vm::Vector3 axes[3] = {camera.H0(), camera.V0(), camera.GetA()};
    for (int col = 0; col < 3; ++col)
      for (int row = 0; row < 3; ++row) EXPECT_NEAR(axes[col][row], m[row][col], 1e-12);
    double pan = 0, tilt = 0, roll = 0;
    GetCameraAngles(camera, pan, tilt, roll);
    EXPECT_NEAR(pan, c[0], 1e-9);
    EXPECT_NEAR(tilt, c[1], 1e-9);
    EXPECT_NEAR(roll, c[2], 1e-9);
  }
}

TEST(TwoViewTransferTest, WithoutTranslationTheTransferIsThePureTurn) {
  const vm::Vector3 zero{0, 0, 0};
  const double pan = 0.2, tilt = -0.1, roll = 0.3, zoom = 1.4, f = 35.0;
  const PanTiltRollRows m(pan, tilt, roll);
  for (const auto& xy : {std::pair{0.0, 0.0}, std::pair{10.0, -4.0}, std::pair{-8.0, 9.0}}) {
    const vm::Vector3 r{xy.first, xy.second, f};
    const double u = zoom * f * m.u.Dot(r) / m.w.Dot(r);
    const double v = zoom * f * m.v.Dot(r) / m.w.Dot(r);
    // Any second point: without a baseline it does not matter.
    EXPECT_NEAR(TwoViewReprojectU(pan, tilt, roll, zoom, zero, f, xy.first, xy.second, 1, 2), u,
                1e-12);
    EXPECT_NEAR(TwoViewReprojectV(pan, tilt, roll, zoom, zero, f, xy.first, xy.second, 1, 2), v,
                1e-12);
  }
}

TEST(TwoViewTransferTest, ParallelRaysLieFarAlongTheFirstRay) {
  const vm::Vector3 t{100.0, 0.0, 0.0};
  // Identity turn, same point: the two rays are parallel.
  EXPECT_EQ(TwoViewDepth(0, 0, 0, 1.0, t, 50.0, 3.0, 4.0, 3.0, 4.0), 1e16);
  // The point 1e16 along the first ray projects (almost) onto the pure-turn prediction.
  EXPECT_NEAR(TwoViewReprojectU(0, 0, 0, 1.0, t, 50.0, 3.0, 4.0, 3.0, 4.0), 3.0, 1e-9);
}

// Two known cameras with a baseline, zoom and turn: the transfer reproduces the second
// image exactly and the triangulation finds the scene point.
TEST(TwoViewTransferTest, KnownCamerasTransferAndTriangulate) {
  PerspectiveCamera c1;
  SetCameraPTRZ(c1, 0.4, -0.1, 0.05, 1.0);
  SetCameraCentre(c1, {100.0, -50.0, 20.0});
  PerspectiveCamera c2 = c1;
  SetCameraPTRZ(c2, 0.08, 0.03, -0.02, 1.6);
  SetCameraCentre(c2, c1.CameraToWorld(400.0, 30.0, -50.0));
  double pan = 0, tilt = 0, roll = 0;
  GetCameraAngles(c2, pan, tilt, roll, &c1);
  const double f1 = c1.GetFocalLength();
  const double zoom = c2.GetFocalLength() / f1;
  const vm::Vector3 t = c1.WorldToCamera(c2.GetC());
  for (const vm::Vector3& local :
       {vm::Vector3{-300, 200, 4000}, vm::Vector3{500, -100, 2500}, vm::Vector3{0, 0, 9000}}) {
    const vm::Vector3 point = c1.CameraToWorld(local.x, local.y, local.z);
    const vm::Vector3 p2 = c2.WorldToCamera(point);
    const double x0 = f1 * local.x / local.z, y0 = f1 * local.y / local.z;
    const double f2 = c2.GetFocalLength();
    const double x1 = f2 * p2.x / p2.z, y1 = f2 * p2.y / p2.z;
    EXPECT_NEAR(TwoViewDepth(pan, tilt, roll, zoom, t, f1, x0, y0, x1, y1), local.z / f1, 1e-6);
    EXPECT_NEAR(TwoViewReprojectU(pan, tilt, roll, zoom, t, f1, x0, y0, x1, y1), x1, 1e-9);
    EXPECT_NEAR(TwoViewReprojectV(pan, tilt, roll, zoom, t, f1, x0, y0, x1, y1), y1, 1e-9);
    vm::Vector3 out;
    ASSERT_TRUE(TriangulateTwoViewPTR(out, c1, c2, x0, y0, x1, y1));
    EXPECT_NEAR((out - point).Length(), 0.0, 1e-6);
  }
}

TEST(TwoViewTransferTest, PointBehindTheFirstCameraIsNotTriangulated) {
  PerspectiveCamera c1, c2;
  SetCameraCentre(c2, {100.0, 0.0, 0.0});
  // Rays that diverge forward meet behind the cameras.
  vm::Vector3 out{1, 2, 3};
  EXPECT_FALSE(TriangulateTwoViewPTR(out, c1, c2, -1.0, 0.0, 1.0, 0.0));
  EXPECT_EQ(out, (vm::Vector3{1, 2, 3}));
}

}  // namespace
