#include "foundation/camera/camera_geometry.h"

#include <cmath>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/runtime/notify.h"
#include "testing/log_capture.h"

namespace {

using kxtest::LogCapture;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

vm::Vector3 Unit(vm::Vector3 v) {
  v.Normalize();
  return v;
}

PerspectiveCamera MakeCamera(const vm::Vector3& c, const vm::Vector3& axis, double fx, double fy,
                             double xp, double yp) {
  PerspectiveCamera cam;
  const vm::Vector3 a = Unit(axis);
  const vm::Vector3 h0 = Unit(vm::Vector3{0.0, 1.0, 0.0}.Cross(a));
  const vm::Vector3 v0 = a.Cross(h0);
  cam.Set(c, a, h0 * fx + a * xp, v0 * fy + a * yp, 720, 576, 2e-4, 0.1, 0.1, 3e-8, 0, Poly5);
  return cam;
}

void ExpectNear(const vm::Vector3& a, const vm::Vector3& b, double tol, const char* what) {
  EXPECT_NEAR(a.x, b.x, tol) << what;
  EXPECT_NEAR(a.y, b.y, tol) << what;
  EXPECT_NEAR(a.z, b.z, tol) << what;
}

const PerspectiveCamera kCameras[] = {
    PerspectiveCamera(),
    MakeCamera({100, -50, 20}, {0.3, -0.2, 1.0}, 800, 790, 12.5, -7.25),
    MakeCamera({-3, 4, 5000}, {-1.0, 0.5, -0.3}, 2000, 2000, 0, 0),
};

TEST(CameraGeometry, ProjectionMatrixRoundTrip) {
  for (const PerspectiveCamera& cam : kCameras) {
    Matrix3x4 p;
    GetProjectionMatrixFromCamera(cam, p);

    // P maps world points like the ideal camera.
    const vm::Vector3 x{10, -20, 3000};
    const double w = p[2][0] * x.x + p[2][1] * x.y + p[2][2] * x.z + p[2][3];
    const double u = (p[0][0] * x.x + p[0][1] * x.y + p[0][2] * x.z + p[0][3]) / w;
    const vm::Vector3 d = x - cam.GetC();
    EXPECT_NEAR(u, cam.GetH().Dot(d) / cam.GetA().Dot(d), 1e-9);

    for (double scale : {1.0, 5.0, -1.0, -0.25}) {
      Matrix3x4 ps;
      ps.Scale(p, scale);
      PerspectiveCamera back;
      back.CopyFrom(cam, false);
      GetCameraFromProjectionMatrix(ps, back);
      const double sign = scale < 0 ? -1.0 : 1.0;
      ExpectNear(back.GetC(), cam.GetC(), 1e-9, "C");
      ExpectNear(back.GetA(), cam.GetA() * sign, 1e-12, "A");
      ExpectNear(back.GetH(), cam.GetH() * sign, 1e-9, "H");
      ExpectNear(back.GetV(), cam.GetV() * sign, 1e-9, "V");
      if (scale == 1.0) {
        EXPECT_EQ(back.GetA(), cam.GetA());
        EXPECT_EQ(back.GetH(), cam.GetH());
      }
      // Intrinsics beyond the matrix stay with the camera.
      EXPECT_EQ(back.GetDistortionCoefficients()[0], cam.GetDistortionCoefficients()[0]);
      EXPECT_EQ(back.GetDistortionModel(), cam.GetDistortionModel());
    }
  }
}

TEST(CameraGeometry, DegenerateProjectionMatrices) {
  // Zero third row: centre at the origin and zero axes.
  Matrix3x4 p;
  GetProjectionMatrixFromCamera(kCameras[1], p);
  for (int c = 0; c < 4; ++c) p[2][c] = 0.0;
  PerspectiveCamera cam = kCameras[1];
  {
    LogCapture log(5);
    GetCameraFromProjectionMatrix(p, cam);
    EXPECT_THAT(log.lines,
                ::testing::ElementsAre("Warning: GetCameraFromProjectionMatrix: norm=0"));
  }
  EXPECT_EQ(cam.GetC(), (vm::Vector3{0, 0, 0}));
  EXPECT_EQ(cam.GetA(), (vm::Vector3{0, 0, 0}));
  EXPECT_EQ(cam.GetH(), (vm::Vector3{0, 0, 0}));

  // Singular left block: the identity stands in for its inverse.
  Matrix3x4 s = {{1, 0, 0, 4, 1, 0, 0, 5, 0, 0, 1, 6}};
  {
    LogCapture log(5);
    GetCameraFromProjectionMatrix(s, cam);
    EXPECT_THAT(log.lines, ::testing::ElementsAre(::testing::StartsWith(
                               "Warning: GetCameraFromProjectionMatrix: singular")));
  }
  EXPECT_EQ(cam.GetC(), (vm::Vector3{-4, -5, -6}));
}

TEST(CameraGeometry, CentreAndPoseNormalisation) {
  PerspectiveCamera cam = kCameras[1];
  SetCameraCentre(cam, {1, 2, 3});
  EXPECT_EQ(cam.GetC(), (vm::Vector3{1, 2, 3}));
  EXPECT_EQ(cam.GetH(), kCameras[1].GetH());

  cam = kCameras[1];
  NormalizeCameraPose(cam);
  ExpectNear(cam.GetC(), {0, 0, 0}, 1e-10, "C");
  ExpectNear(cam.GetA(), {0, 0, 1}, 1e-12, "A");
  ExpectNear(cam.H0(), {1, 0, 0}, 1e-12, "H0");
  ExpectNear(cam.V0(), {0, 1, 0}, 1e-12, "V0");
  EXPECT_NEAR(cam.GetFocalLength(), kCameras[1].GetFocalLength(), 1e-10);
  EXPECT_NEAR(cam.GetCenterPointX(), 12.5, 1e-10);
  EXPECT_NEAR(cam.GetCenterPointY(), -7.25, 1e-10);
}

TEST(CameraGeometry, AnglesOfKnownPoses) {
  const struct {
    const char* label;
    vm::Vector3 axis;
    double pan, tilt;
  } cases[] = {
      {"default", {0, 0, 1}, 0, 0},
      {"30 deg about Y", {std::sin(30 * kDeg), 0, std::cos(30 * kDeg)}, 30 * kDeg, 0},
      {"looking back", {0, 0, -1}, kPi, 0},
      {"down Y", {0, 1, 0}, 0, -kPi / 2},
      {"up Y", {0, -1, 0}, 0, kPi / 2},
  };
  for (const auto& c : cases) {
    PerspectiveCamera cam;
    const vm::Vector3 a = Unit(c.axis);
    // H0 horizontal where possible; for a vertical axis take world X.
    vm::Vector3 h0 = vm::Vector3{0, 1, 0}.Cross(a);
    if (!h0.Normalize()) h0 = {1, 0, 0};
    const vm::Vector3 v0 = a.Cross(h0);
    cam.Set({5, 6, 7}, a, h0 * 720.0, v0 * 576.0, 720, 576, 0, 0.1, 0.1, 0, 0, Poly3);
    double pan, tilt, roll;
    GetCameraAngles(cam, pan, tilt, roll);
    EXPECT_NEAR(std::fabs(pan), std::fabs(c.pan), 1e-12) << c.label;
    EXPECT_NEAR(tilt, c.tilt, 1e-12) << c.label;
    EXPECT_NEAR(roll, 0.0, 1e-12) << c.label;
  }
}

TEST(CameraGeometry, PanTiltRollRoundTrip) {
  const double cases[][3] = {
      {0, 0, 0},
      {30 * kDeg, 0, 0},
      {-45 * kDeg, 20 * kDeg, 10 * kDeg},
      {170 * kDeg, -60 * kDeg, -175 * kDeg},
      {-3, 1.2, 2.5},
  };
  for (const PerspectiveCamera& ref : kCameras) {
    for (const auto& c : cases) {
      PerspectiveCamera cam = ref;
      SetCameraPTRF(cam, c[0], c[1], c[2], ref.GetFocalLength());
      ExpectNear(cam.GetC(), ref.GetC(), 1e-9, "C stays");
      double pan, tilt, roll;
      GetCameraAngles(cam, pan, tilt, roll, &ref);
      EXPECT_NEAR(pan, c[0], 1e-9);
      EXPECT_NEAR(tilt, c[1], 1e-9);
      EXPECT_NEAR(roll, c[2], 1e-9);
      if (&ref == &kCameras[0]) {
        vm::Vector3 world;
        GetCameraAngles(cam, world);  // the default camera is the world frame
        EXPECT_NEAR(world.x, c[0], 1e-9);
        EXPECT_NEAR(world.z, c[2], 1e-9);
      }
      double axes[9];
      GetCameraAxes(cam, axes);
      ExpectNear({axes[6], axes[7], axes[8]}, cam.GetA(), 1e-12, "A axis");
      ExpectNear({axes[0], axes[1], axes[2]}, cam.H0(), 1e-12, "H0 axis");
    }
  }
}

TEST(CameraGeometry, PanTiltRollEdgeCases) {
  const PerspectiveCamera& ref = kCameras[2];  // equal focal lengths in x and y
  PerspectiveCamera cam = ref;
  SetCameraPTRF(cam, 0, 0, 0, cam.GetFocalLength());
  ExpectNear(cam.GetA(), ref.GetA(), 1e-15, "A");
  ExpectNear(cam.GetH(), ref.GetH(), 1e-10, "H");
  ExpectNear(cam.GetV(), ref.GetV(), 1e-10, "V");
  ExpectNear(cam.GetC(), ref.GetC(), 1e-12, "C");

  SetCameraPTRF(cam, kPi, 0, 0, cam.GetFocalLength());
  ExpectNear(cam.GetA(), ref.GetA() * -1.0, 1e-12, "A flipped");
  ExpectNear(cam.GetC(), ref.GetC(), 1e-12, "C");

  cam = kCameras[1];
  SetCameraPTRZ(cam, 0.1, 0.2, 0.3, 2.0);
  EXPECT_NEAR(cam.GetFocalLength(), 2.0 * kCameras[1].GetFocalLength(), 1e-10);
  EXPECT_NEAR(cam.GetCenterPointX(), 12.5, 1e-9);
}

TEST(CameraGeometry, GivensRQ) {
  Matrix3x3 d = {{2, 0, 0, 0, 3, 0, 0, 0, 4}};
  GivensRQ(d);
  const double expected[9] = {0.5, 0, 0, 0, 0.75, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(d.m[i], expected[i]) << i;

  // K R with a full rotation: the result is K / K22, R recovered as K^-1 M.
  const Matrix3x3 k = {{900, 2, 350, 0, 880, 270, 0, 0, 1}};
  Matrix3x3 r;
  r.SetRotationXYZ(0.3, -0.7, 1.1);
  Matrix3x3 m;
  m.Multiply(k, r);
  m.Scale(m, 3.0);
  GivensRQ(m);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(m.m[i], k.m[i], 1e-9) << i;
}

TEST(CameraGeometry, DecomposeCameraMatrix) {
  Matrix3x3 k, r;
  vm::Vector3 t;
  DecomposeCameraMatrix(PerspectiveCamera(), k, r, t);
  const double kd[9] = {720, 0, 0, 0, 576, 0, 0, 0, 1};
  const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(k.m[i], kd[i]) << i;
    EXPECT_EQ(r.m[i], id[i]) << i;
  }
  EXPECT_EQ(t, (vm::Vector3{0, 0, 0}));

  for (const PerspectiveCamera& cam : kCameras) {
    DecomposeCameraMatrix(cam, k, r, t);
    EXPECT_NEAR(k[1][0], 0.0, 1e-12);
    EXPECT_NEAR(k[2][0], 0.0, 1e-12);
    EXPECT_NEAR(k[2][1], 0.0, 1e-12);
    Matrix3x3 kr, rrt;
    kr.Multiply(k, r);
    rrt.MultiplyABt(r, r);
    const vm::Vector3 rows[3] = {cam.GetH(), cam.GetV(), cam.GetA()};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        EXPECT_NEAR(kr[i][j], rows[i][j], 1e-9);
        EXPECT_NEAR(rrt[i][j], i == j ? 1.0 : 0.0, 1e-12);
      }
    }
    ExpectNear(t, MultiplyMat3Vec3(r, cam.GetC()) * -1.0, 1e-12, "t");
    // World to camera: R X + t has depth A.(X - C).
    const vm::Vector3 x{1, 2, 3000};
    const vm::Vector3 xc = MultiplyMat3Vec3(r, x) + t;
    EXPECT_NEAR(xc.z, cam.GetA().Dot(x - cam.GetC()), 1e-9);
  }
}

TEST(CameraGeometry, Printers) {
  using ::testing::ElementsAre;
  using ::testing::MatchesRegex;
  PerspectiveCamera prev;
  prev.Set({1, 2, 3}, {0, 0, 1}, {720, 0, 0}, {0, 576, 0}, 720, 576, 0, 0.1, 0.1, 0, 0, Poly3);
  SetCameraPTRF(prev, 10 * kDeg, 20 * kDeg, 5 * kDeg, 72.0);
  PerspectiveCamera cam = prev;
  SetCameraPTRZ(cam, 30 * kDeg, -15 * kDeg, 12 * kDeg, 2.0);
  SetCameraCentre(cam, {4, 6, 3});
  cam.SetDistortion(0.5, 0.25, 1, Poly5);

  {
    LogCapture log(5);
    PrintPTRZF(prev, nullptr, nullptr);
    EXPECT_THAT(log.lines,
                ElementsAre("Info: PrintPTRZF: \"no comment\"",
                            "Info: * pan[deg] 10.000000 tilt[deg]: 20.000000 roll[deg]: 5.000000"));
  }
  {
    LogCapture log(5);
    PrintPTRZF(cam, &prev, "frame 7");
    const char* number = "-?[0-9]+\\.[0-9]{6}";
    auto line = [number](const char* head, const char* previous) {
      return MatchesRegex(std::string("Info: \\* ") + head + " " + number + " \\+ " + previous +
                          " = " + number);
    };
    EXPECT_THAT(
        log.lines,
        ElementsAre("Info: PrintPTRZF: \"frame 7\"", "Info: ***************************",
                    "Info: * PrintPTRZ: estimated parameters:", "Info: * local:",
                    "Info: * pan[deg] 30.000000 tilt[deg]: -15.000000 roll[deg]: 12.000000",
                    "Info: * global:", line("pan\\[deg\\]:  ", "10\\.000000"),
                    line("tilt\\[deg\\]: ", "20\\.000000"), line("roll\\[deg\\]: ", "5\\.000000"),
                    "Info: * cur. focal[mm]:  144.000000, prev. focal[mm]:  72.000000, zoom: "
                    "144.000000/72.000000",
                    "Info: **************************"));
  }
  {
    LogCapture log(5);
    PerspectiveCamera still;
    still.Set({1, 2, 3}, {0, 0, 1}, {720, 0, 0}, {0, 576, 0}, 720, 576, 0, 0.1, 0.1, 0, 0, Poly3);
    PerspectiveCamera moved = still;
    SetCameraCentre(moved, {4, 6, 3});
    PrintC(moved, nullptr, "c");
    PrintC(moved, &still, "c");
    EXPECT_THAT(log.lines,
                ::testing::ElementsAre(
                    "Info: PrintC: \"c\"", "Info: * cx: 4.000000 cy: 6.000000 cz: 3.000000",
                    "Info: PrintC: \"c\"", "Info: *********************************",
                    "Info: * camera parameters:", "Info: * local:",
                    "Info: * cx: 3.000000 cy: 4.000000 cz: 0.000000", "Info: * global:",
                    "Info: * cx (norm):  3.000000 + 1.000000 = 4.000000 (0.512148)",
                    "Info: * cy (norm):  4.000000 + 2.000000 = 6.000000 (0.768221)",
                    "Info: * cz (norm):  0.000000 + 3.000000 = 3.000000 (0.384111)",
                    "Info: ******************************************************"));
  }
  {
    LogCapture log(5);
    PerspectiveCamera plain, zoomed;
    zoomed.SetFocalLength(144.0);
    zoomed.SetDistortion(0.5, 0.25, 1, Poly5);
    PrintIntrinsic(plain, false, "short");
    PrintIntrinsic(zoomed, true, nullptr);
    EXPECT_THAT(
        log.lines,
        ::testing::ElementsAre(
            "Info: PrintIntrinsic: \"short\"", "Info: FocalLength   in [mm]    : 72.000000",
            "Info: CenterPointX  in [pel]   : 0.000000",
            "Info: CenterPointY  in [pel]   : 0.000000",
            "Info: RadiaDistork3 in [mm^-2] : 0.000000",
            "Info: PixelSizeX    in [mm/pel]: 0.100000",
            "Info: PixelSizeY    in [mm/pel]: 0.100000",
            "Info: RadialDistk5  in [mm^-4] : 0.000000", "Info: PrintIntrinsic: \"no comment\"",
            "Info: FocalLengthX  in [pel] / [mm] : 1440.000000 / "
            "144.000000",
            "Info: FocalLengthY  in [pel] / [mm] : 1440.000000 / "
            "144.000000",
            "Info: Pixel Skew    in [pel] : 0.000000", "Info: CenterPointX  in [pel] : 0.000000",
            "Info: CenterPointY  in [pel] : 0.000000", "Info: RadiaDistork3 in [pel^-2] : 0.500000",
            "Info: PixelSizeX    in [mm/pel]: 0.100000",
            "Info: PixelSizeY    in [mm/pel]: 0.100000",
            "Info: RadialDistk5  in [pel^-4] : 0.250000"));
  }
}

}  // namespace
