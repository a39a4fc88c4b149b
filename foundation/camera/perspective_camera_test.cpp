#include "foundation/camera/perspective_camera.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "foundation/runtime/notify.h"
#include "testing/locale.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

using kxtest::LogCapture;

constexpr double kPi = 3.14159265358979323846;

vm::Vector3 Unit(vm::Vector3 v) {
  v.Normalize();
  return v;
}

// A camera away from the origin, turned about two axes, with an off-centre
// principal point.
PerspectiveCamera MovedCamera() {
  PerspectiveCamera cam;
  const vm::Vector3 a = Unit({0.3, -0.2, 1.0});
  const vm::Vector3 h0 = Unit(vm::Vector3{0.0, 1.0, 0.0}.Cross(a));
  const vm::Vector3 v0 = a.Cross(h0);
  const double fx = 800.0, fy = 790.0, xp = 12.5, yp = -7.25;
  cam.Set({100.0, -50.0, 20.0}, a, h0 * fx + a * xp, v0 * fy + a * yp, 720, 576, 0.0, 0.1, 0.1, 0.0,
          0, Poly3);
  return cam;
}

struct LensCase {
  const char* label;
  RadialDistortionFunction model;
  int rd_dim;
  double k3, k5;
  double k[4];  // when the model takes more than K3 and K5
};

// Coefficients strong enough to move the image corners by several pixels,
// weak enough for every model to stay invertible over the picture.
const LensCase kLensCases[] = {
    {"poly3 mm", Poly3, 0, 1e-4, 0, {}},
    {"poly3 mm barrel", Poly3, 0, -8e-5, 0, {}},
    {"poly3 pel", Poly3, 1, 1e-6, 0, {}},
    {"poly5 mm", Poly5, 0, -5e-5, 1e-8, {}},
    {"fisheye mm", Fisheye, 0, 3e-5, 0, {}},
    {"fisheye mm swapped", Fisheye, 0, -3e-5, 0, {}},
    {"equisolid mm", FisheyeEquisolid, 0, 3e-5, 0, {}},
    {"equisolid pel", FisheyeEquisolid, 1, -3e-7, 0, {}},
    {"poly4 mm", Poly4, 0, 0, 0, {40.0, 0.2, -0.05, 0.01}},
};

PerspectiveCamera WithLens(const LensCase& c) {
  PerspectiveCamera cam = MovedCamera();
  cam.SetDistortion(c.k3, c.k5, c.rd_dim, c.model);
  if (c.model == Poly4) {  // all four coefficients; RdDim stays
    const double further[2] = {0.0, 0.0};
    cam.SetAll(cam.GetC(), cam.GetA(), cam.GetH(), cam.GetV(), cam.GetWidth(), cam.GetHeight(),
               cam.GetPixelSizeX(), cam.GetPixelSizeY(), c.k, further, c.model);
  }
  return cam;
}

std::string TempPath(const char* stem) {
  return ::testing::TempDir() + stem + std::to_string(::getpid());
}

TEST(PerspectiveCamera, DefaultCameraFacts) {
  PerspectiveCamera cam;
  EXPECT_EQ(cam.GetWidth(), 720u);
  EXPECT_EQ(cam.GetHeight(), 576u);
  EXPECT_STREQ(cam.GetCameraType(), "MetaCamera");
  EXPECT_STREQ(cam.GetMyClassName(), "Meta");
  EXPECT_EQ(cam.GetName(), nullptr);
  EXPECT_EQ(cam.GetDistortionModel(), Poly3);

  double x, y, depth;
  EXPECT_TRUE(cam.ProjectPoint({0, 0, 1000}, x, y, depth, true));
  EXPECT_EQ(x, 359.5);
  EXPECT_EQ(y, 287.5);
  EXPECT_EQ(depth, 1000.0);

  EXPECT_DOUBLE_EQ(cam.GetFocalLength(), 72.0);
  EXPECT_DOUBLE_EQ(cam.GetFocalLength35mmEquivalent(), 36.0);
  EXPECT_DOUBLE_EQ(cam.GetHorizontalFieldOfView(), 2.0 * std::atan(36.0 / 72.0));
  EXPECT_DOUBLE_EQ(cam.GetVerticalFieldOfView(), 2.0 * std::atan(28.8 / 72.0));
  EXPECT_DOUBLE_EQ(cam.GetNormalFocalLength(),
                   std::sqrt(36.0 * 36.0 + 28.8 * 28.8) / std::tan(0.40835));
  EXPECT_DOUBLE_EQ(cam.GetSensorWidth(), 72.0);
  EXPECT_DOUBLE_EQ(cam.GetSensorHeight(), 57.6);
  EXPECT_DOUBLE_EQ(cam.GetDiagonalSensorSize(), std::sqrt(72.0 * 72.0 + 57.6 * 57.6));
  EXPECT_DOUBLE_EQ(FocalLengthFrom35mmEquivalent(cam, 50.0), 100.0);
  EXPECT_EQ(DefaultInitFocalLength(), 50.0);

  const vm::Vector3 ray = cam.GetViewingRay(359.5, 287.5);
  EXPECT_EQ(ray, (vm::Vector3{0, 0, 1}));
}

TEST(PerspectiveCamera, ProjectionFailsOnTheDepthZeroPlaneButNotBehind) {
  PerspectiveCamera cam;
  double x = 5, y = 5, depth = 5;
  EXPECT_FALSE(cam.ProjectPoint({10, 20, 0}, x, y, depth, false));
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(y, 0.0);
  EXPECT_EQ(depth, 0.0);
  EXPECT_FALSE(cam.ProjectPoint({10, 20, 1e-31}, x, y, depth, false));
  EXPECT_EQ(depth, 1e-31);

  // Behind the camera: projected, the depth tells.
  EXPECT_TRUE(cam.ProjectPoint({0, 0, -1000}, x, y, depth, true));
  EXPECT_EQ(depth, -1000.0);
  EXPECT_EQ(x, 359.5);
}

TEST(PerspectiveCamera, InsideCheckIsInclusive) {
  PerspectiveCamera cam;
  // At depth 720 a world offset of X moves the pixel by X (Y by 0.8 Y).
  const struct {
    double wx, wy;
    bool inside;
  } cases[] = {
      {-359.5, 0, true},   {359.5, 0, true},   {0, -287.5, true},   {0, 287.5, true},
      {-359.51, 0, false}, {359.51, 0, false}, {0, -287.51, false}, {0, 287.51, false},
  };
  for (const auto& c : cases) {
    double x = -1, y = -1, depth;
    EXPECT_EQ(cam.ProjectPoint({c.wx, c.wy * 720.0 / 576.0, 720}, x, y, depth, true), c.inside)
        << c.wx << "," << c.wy;
    if (!c.inside) {
      EXPECT_EQ(x, 0.0);
      EXPECT_EQ(y, 0.0);
      // Without the check the point still projects.
      EXPECT_TRUE(cam.ProjectPoint({c.wx, c.wy * 720.0 / 576.0, 720}, x, y, depth, false));
    }
  }
  EXPECT_TRUE(cam.IsInsideImage(0, 0));
  EXPECT_TRUE(cam.IsInsideImage(719, 575));
  EXPECT_FALSE(cam.IsInsideImage(719.001, 0));
}

TEST(PerspectiveCamera, FocalLengthAndFieldOfViewSetters) {
  PerspectiveCamera cam = MovedCamera();
  cam.SetPixelSize(0.01, 0.01);
  const double xp = cam.GetCenterPointX(), yp = cam.GetCenterPointY();
  const vm::Vector3 h0 = cam.H0(), v0 = cam.V0();

  cam.SetFocalLength(35);
  EXPECT_NEAR((cam.GetH() - cam.GetA() * xp).Length(), 3500.0, 1e-9);
  EXPECT_NEAR((cam.GetV() - cam.GetA() * yp).Length(), 3500.0, 1e-9);
  EXPECT_NEAR(cam.GetCenterPointX(), xp, 1e-9);
  EXPECT_NEAR(cam.GetCenterPointY(), yp, 1e-9);
  EXPECT_NEAR((cam.H0() - h0).Length(), 0.0, 1e-12);
  EXPECT_NEAR((cam.V0() - v0).Length(), 0.0, 1e-12);
  EXPECT_NEAR(cam.GetFocalLength(), 35.0, 1e-12);

  for (double bad : {0.0, -3.0}) {
    const vm::Vector3 h = cam.GetH();
    cam.SetFocalLength(bad);
    EXPECT_EQ(cam.GetH(), h);
  }

  PerspectiveCamera def;
  def.SetHorizontalFieldOfView(kPi / 2);
  EXPECT_NEAR(def.GetFocalLength(), 36.0, 1e-12);
  EXPECT_NEAR(def.GetHorizontalFieldOfView(), kPi / 2, 1e-12);
  def.SetFocalLength35mmEquivalent(50.0);
  EXPECT_NEAR(def.GetFocalLength35mmEquivalent(), 50.0, 1e-12);
  EXPECT_NEAR(def.GetFocalLength(), 100.0, 1e-12);

  def.SetCenterPointX(4.0);
  def.SetCenterPointY(-3.0);
  EXPECT_DOUBLE_EQ(def.GetCenterPointX(), 4.0);
  EXPECT_DOUBLE_EQ(def.GetCenterPointY(), -3.0);
  EXPECT_NEAR(def.GetFocalLength(), 100.0, 1e-12);
}

TEST(PerspectiveCamera, NormalizedK3UsesTheIntegerHalvesOfTheSize) {
  const double expected = -0.1 / (360.0 * 360.0 + 288.0 * 288.0) / 0.01;
  for (uint32_t w : {720u, 721u}) {
    PerspectiveCamera cam;
    cam.Set(cam.GetC(), cam.GetA(), cam.GetH(), cam.GetV(), w, w == 720 ? 576 : 577, 0.0, 0.1, 0.1,
            7.0, 1, Fisheye);
    cam.SetNormalizedK3(-0.1);
    EXPECT_DOUBLE_EQ(cam.GetDistortionCoefficients()[0], expected) << w;
    EXPECT_EQ(cam.GetDistortionCoefficients()[1], 0.0);
    EXPECT_EQ(cam.GetRdDim(), 0);
    EXPECT_EQ(cam.GetDistortionModel(), Fisheye);
  }
}

TEST(PerspectiveCamera, ZeroCoefficientsLeavePointsExactlyAlone) {
  for (int id = 0; id < kNumRadDistTypes; ++id) {
    PerspectiveCamera cam = MovedCamera();
    cam.SetDistortion(0.0, 0.0, 0, GetRadialDistortionFunction(id));
    for (bool centred : {false, true}) {
      double x, y;
      cam.Distort(123.456, -78.9, x, y, centred);
      EXPECT_EQ(x, 123.456);
      EXPECT_EQ(y, -78.9);
      cam.Undistort(0.1, 1e7, x, y, centred);
      EXPECT_EQ(x, 0.1);
      EXPECT_EQ(y, 1e7);
    }
  }
}

TEST(PerspectiveCamera, DistortAndUndistortAreInversesForEveryLens) {
  const double points[][2] = {{0, 0}, {719, 575}, {359.5, 287.5}, {100, 500}, {650.25, 20.5}};
  for (const LensCase& c : kLensCases) {
    const PerspectiveCamera cam = WithLens(c);
    for (const auto& p : points) {
      double ix, iy, dx, dy;
      cam.Undistort(p[0], p[1], ix, iy, false);
      cam.Distort(ix, iy, dx, dy, false);
      EXPECT_NEAR(dx, p[0], 1e-6) << c.label;
      EXPECT_NEAR(dy, p[1], 1e-6) << c.label;
      // The lens moves points off the principal point.
      if (p[0] == 0 && p[1] == 0) {
        EXPECT_GT(std::hypot(ix - p[0], iy - p[1]), 1.0) << c.label;
      }
      // Centred coordinates give the same mapping, shifted.
      double cx, cy;
      cam.Undistort(p[0] - 359.5, p[1] - 287.5, cx, cy, true);
      EXPECT_NEAR(cx + 359.5, ix, 1e-9) << c.label;
      EXPECT_NEAR(cy + 287.5, iy, 1e-9) << c.label;
    }
  }
}

TEST(PerspectiveCamera, ProjectAndViewingRayAgreeForEveryLens) {
  const vm::Vector3 offsets[] = {{0, 0, 500}, {-150, 90, 400}, {100, -80, 400}, {5, 5, 2000}};
  for (const LensCase& c : kLensCases) {
    const PerspectiveCamera cam = WithLens(c);
    for (const vm::Vector3& o : offsets) {
      const vm::Vector3 p = cam.CameraToWorld(o.x, o.y, o.z);
      double x, y, depth;
      ASSERT_TRUE(cam.ProjectPoint(p, x, y, depth, false)) << c.label;
      EXPECT_NEAR(depth, o.z, 1e-9);
      const vm::Vector3 ray = cam.GetViewingRay(x, y);
      const vm::Vector3 expected = Unit(p - cam.GetC());
      EXPECT_NEAR((ray - expected).Length(), 0.0, 1e-9) << c.label;
    }
  }
}

TEST(PerspectiveCamera, PoseConversionsAndTransform) {
  const PerspectiveCamera cam = MovedCamera();
  const vm::Vector3 p{3.0, -4.0, 250.0};
  const vm::Vector3 local = cam.WorldToCamera(p);
  const vm::Vector3 back = cam.CameraToWorld(local.x, local.y, local.z);
  EXPECT_NEAR((back - p).Length(), 0.0, 1e-10);

  const Matrix4x4 c2w = cam.GetCameraToWorldMatrix();
  const Matrix4x4 w2c = cam.GetWorldToCameraMatrix();
  Matrix4x4 prod;
  prod.Multiply(w2c, c2w);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(prod[r][c], r == c ? 1.0 : 0.0, 1e-12);
  EXPECT_EQ(c2w[0][3], 100.0);
  EXPECT_EQ(c2w[3][3], 1.0);
  const Matrix4x4 pose = cam.GetPoseMatrix();
  for (int i = 0; i < 16; ++i) EXPECT_EQ(pose.m[i], c2w.m[i]);

  // Moving the camera into its own frame gives the canonical pose, same intrinsics.
  PerspectiveCamera moved = cam;
  moved.Transform(w2c);
  EXPECT_NEAR(moved.GetC().Length(), 0.0, 1e-10);
  EXPECT_NEAR((moved.GetA() - vm::Vector3{0, 0, 1}).Length(), 0.0, 1e-12);
  EXPECT_NEAR(moved.GetFocalLength(), cam.GetFocalLength(), 1e-10);
  EXPECT_NEAR(moved.GetCenterPointX(), cam.GetCenterPointX(), 1e-10);

  // Transform does not renormalise A.
  Matrix3x4 scale2 = {{2, 0, 0, 1, 0, 2, 0, 2, 0, 0, 2, 3}};
  PerspectiveCamera def;
  def.Transform(scale2);
  EXPECT_EQ(def.GetA(), (vm::Vector3{0, 0, 2}));
  EXPECT_EQ(def.GetC(), (vm::Vector3{1, 2, 3}));
}

TEST(PerspectiveCamera, SetNormalisesTheAxisAndClearsFurtherCoefficients) {
  PerspectiveCamera cam;
  const double k[4] = {1, 2, 3, 4};
  const double further[2] = {5, 6};
  cam.SetAll(cam.GetC(), {0, 0, 1}, cam.GetH(), cam.GetV(), 720, 576, 0.1, 0.1, k, further, Poly4);
  cam.Set({1, 2, 3}, {0, 0, 2}, cam.GetH(), cam.GetV(), 640, 480, 0.5, 0.2, 0.3, 0.25, 1, Poly5);
  EXPECT_EQ(cam.GetA(), (vm::Vector3{0, 0, 1}));
  EXPECT_EQ(cam.GetWidth(), 640u);
  EXPECT_EQ(cam.GetPixelSizeY(), 0.3);
  const double* kk = cam.GetDistortionCoefficients();
  EXPECT_EQ(kk[0], 0.5);
  EXPECT_EQ(kk[1], 0.25);
  EXPECT_EQ(kk[2], 0.0);
  EXPECT_EQ(kk[3], 0.0);
  EXPECT_EQ(cam.GetFurtherValues()[1], 6.0);
  EXPECT_EQ(cam.GetRdDim(), 1);
  EXPECT_EQ(cam.GetDistortionModel(), Poly5);

  cam.Set({1, 2, 3}, {0, 0, 0}, cam.GetH(), cam.GetV(), 640, 480, 0.5, 0.2, 0.3, 0.25, 1, nullptr);
  EXPECT_EQ(cam.GetA(), (vm::Vector3{0, 0, 0}));
  EXPECT_EQ(cam.GetDistortionModel(), Poly3);
}

// An image whose reported size differs from the stored members.
class ResizedCamera : public PerspectiveCamera {
 public:
  uint32_t GetWidth() const override { return 1920; }
  uint32_t GetHeight() const override { return 1080; }
};

TEST(PerspectiveCamera, CopiesAndCopyFrom) {
  PerspectiveCamera src = MovedCamera();
  src.SetName("shot 12");
  src.SetDistortion(1e-4, 2e-8, 1, Poly5);
  auto copy = std::make_unique<PerspectiveCamera>(src);
  PerspectiveCamera assigned;
  assigned = *copy;
  copy.reset();
  EXPECT_STREQ(assigned.GetName(), "shot 12");
  EXPECT_NE(assigned.GetName(), src.GetName());
  EXPECT_EQ(assigned.GetRdDim(), 1);
  EXPECT_EQ(assigned.GetDistortionModel(), Poly5);

  ResizedCamera other;
  other.SetDistortion(-3e-5, 0, 0, Fisheye);
  const double further[2] = {7, 8};
  const double k[4] = {-3e-5, 0, 0.5, 0.25};
  other.SetAll(MovedCamera().GetC(), MovedCamera().GetA(), MovedCamera().GetH(),
               MovedCamera().GetV(), 720, 576, 0.02, 0.03, k, further, Fisheye);

  for (bool keep : {false, true}) {
    PerspectiveCamera dst = src;
    dst.CopyFrom(other, keep);
    EXPECT_EQ(dst.GetWidth(), 1920u) << keep;  // through the virtual getters
    EXPECT_EQ(dst.GetHeight(), 1080u);
    EXPECT_EQ(dst.GetC(), other.GetC());
    EXPECT_EQ(dst.GetPixelSizeX(), 0.02);
    EXPECT_STREQ(dst.GetName(), "shot 12");
    EXPECT_EQ(dst.GetRdDim(), 1);
    const PerspectiveCamera& lens = keep ? src : static_cast<PerspectiveCamera&>(other);
    EXPECT_EQ(dst.GetDistortionModel(), lens.GetDistortionModel()) << keep;
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(dst.GetDistortionCoefficients()[i], lens.GetDistortionCoefficients()[i]);
    EXPECT_EQ(dst.GetFurtherValues()[0], lens.GetFurtherValues()[0]);
  }

  // Pixel-centred conversions use the reported size, the inside check the members.
  double x, y;
  other.PixelToCentered(959.5, 539.5, x, y);
  EXPECT_EQ(x, 0.0);
  EXPECT_EQ(y, 0.0);
  EXPECT_FALSE(other.IsInsideImage(1000, 10));
}

TEST(PerspectiveCamera, RadialDistortionParametersRecord) {
  PerspectiveCamera cam = MovedCamera();
  for (int rd_dim : {0, 3}) {
    cam.SetDistortion(1e-4, 2e-8, rd_dim, Fisheye);
    RadialDistortionParameters p;
    cam.GetRadialDistortionParameters(p);
    EXPECT_DOUBLE_EQ(p.principal_x, cam.GetCenterPointX() + 359.5);
    EXPECT_DOUBLE_EQ(p.principal_y, cam.GetCenterPointY() + 287.5);
    EXPECT_EQ(p.pixel_size_x, rd_dim ? 1.0 : 0.1);
    EXPECT_EQ(p.pixel_size_y, rd_dim ? 1.0 : 0.1);
    EXPECT_EQ(p.k[0], 1e-4);
    EXPECT_EQ(p.k[1], 2e-8);
    EXPECT_EQ(p.scale, 1.0);
    EXPECT_EQ(p.model, Fisheye);
  }
}

// The version 1.0 file lacks the K5 column and the empty line after its header.
std::string ToVersion10(std::string s) {
  auto replace = [&s](const std::string& from, const std::string& to) {
    const size_t at = s.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    s.replace(at, from.size(), to);
  };
  replace(";CAHV 1.1\n", ";CAHV 1.0\n");
  replace("\tK5 [1/(mm)^4]\n\n", "\n");
  replace("\t-0.000100\t0.000000\n", "\t-0.000100\n");
  return s;
}

TEST(PerspectiveCamera, DescribeWritesTheCahvFile) {
  PerspectiveCamera cam;
  cam.SetName("shot 12");
  cam.Set({1.5, -2, 0.25}, {0, 0, 1}, {720, 0, 10}, {0, 576, -4}, 720, 576, -1e-4, 0.1, 0.1, 0, 0,
          Fisheye);
  const std::string path = TempPath("cahv");
  const std::string golden =
      kxtest::ReadText(std::string(KALVEX_SOURCE_DIR) + "/testdata/camera/shot12_v11.cahv");
  ASSERT_FALSE(golden.empty());
  ASSERT_TRUE(cam.Describe(path.c_str(), 11));
  EXPECT_EQ(kxtest::ReadText(path), golden);
  ASSERT_TRUE(cam.Describe(path.c_str(), 10));
  EXPECT_EQ(kxtest::ReadText(path), ToVersion10(golden));

  PerspectiveCamera plain;
  ASSERT_TRUE(plain.Describe(path.c_str(), 11));
  EXPECT_NE(kxtest::ReadText(path).find("; Camera-name: not set\n"), std::string::npos);
  std::remove(path.c_str());
}

TEST(PerspectiveCamera, DescribeWritesDecimalPointsWhateverTheLocale) {
  PerspectiveCamera cam;
  cam.SetName("shot 12");
  cam.Set({1.5, -2, 0.25}, {0, 0, 1}, {720, 0, 10}, {0, 576, -4}, 720, 576, -1e-4, 0.1, 0.1, 0, 0,
          Fisheye);
  const std::string path = TempPath("cahv_locale");
  std::string text;
  {
    kxtest::DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma";
    ASSERT_TRUE(cam.Describe(path.c_str(), 11));
    text = kxtest::ReadText(path);
  }
  std::remove(path.c_str());
  EXPECT_EQ(text,
            kxtest::ReadText(std::string(KALVEX_SOURCE_DIR) + "/testdata/camera/shot12_v11.cahv"));
}

TEST(PerspectiveCamera, ReadParameterLeavesTheCameraAlone) {
  const std::string path = TempPath("params");
  {
    std::ofstream out(path);
    out << "; comment\nfocal 35\r\n";
  }
  PerspectiveCamera cam = MovedCamera();
  const vm::Vector3 h = cam.GetH();
  std::vector<std::string> lines;
  testing::internal::CaptureStderr();
  {
    LogCapture log(5);
    EXPECT_EQ(cam.ReadParameter(path.c_str()), 0);
    lines = log.lines;
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(lines,
              ::testing::ElementsAre(
                  "Notice: PerspectiveCamera::ReadParameter: reading file \"" + path + "\"",
                  "Warning: MetaCamera::Readparameter: ReadParameter NOT supported anymore"));
  EXPECT_NE(err.find("read: \"focal 35\"\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("comment"), std::string::npos) << err;
  EXPECT_EQ(cam.GetH(), h);
  std::remove(path.c_str());
}

TEST(PerspectiveCamera, WarningsCarryTheirTexts) {
  PerspectiveCamera no_width;
  no_width.Set({0, 0, 0}, {0, 0, 1}, {720, 0, 0}, {0, 576, 0}, 0, 576, 0.0, 0.1, 0.1, 0, 0, Poly3);
  PerspectiveCamera no_height;
  no_height.Set({0, 0, 0}, {0, 0, 1}, {720, 0, 0}, {0, 576, 0}, 720, 0, 0.0, 0.1, 0.1, 0, 0, Poly3);
  PerspectiveCamera flat;  // H and V along A: no image axes
  flat.Set({0, 0, 0}, {0, 0, 1}, {0, 0, 5}, {0, 0, -2}, 720, 576, 0.0, 0.1, 0.1, 0, 0, Poly3);

  const struct {
    std::function<void()> action;
    const char* line;
  } cases[] = {
      {[] {
         double x, y;
         EXPECT_FALSE(PerspectiveCamera().ProjectPCS({1, 1, 0}, x, y));
       },
       "Warning: MetaCamera::ProjectPCS(p,x,y): division by zero"},
      {[&] { EXPECT_EQ(no_width.GetFocalLength35mmEquivalent(), 72.0); },
       "Warning: MetaCamera::GetFocalLength35mmEquivalent: bad image width 0, or pixel size 0.1"},
      {[&] { EXPECT_EQ(no_width.GetSensorWidth(), 0.0); },
       "Warning: MetaCamera::GetSensorWidth: bad image width 0"},
      {[&] { EXPECT_EQ(no_height.GetSensorHeight(), 0.0); },
       "Warning: MetaCamera::GetSensorHeight: bad image height 0"},
      {[&] { EXPECT_EQ(no_width.GetDiagonalSensorSize(), 0.0); },
       "Warning: MetaCamera::GetDiagonalSensorSize: bad image size 0 x 576"},
      {[&] {
         no_height.SetDistortion(1e-3, 0, 1, Poly3);
         no_height.SetNormalizedK3(-0.1);
         EXPECT_EQ(no_height.GetDistortionCoefficients()[0], 1e-3);
         EXPECT_EQ(no_height.GetRdDim(), 1);
       },
       "Warning: MetaCamera::SetNormalizedK3: zero image size (720 x 0)"},
      {[&] {
         EXPECT_EQ(flat.H0(), (vm::Vector3{0, 0, 0}));
       },
       "Warning: PerspectiveCamera::H0: Length is 0.0, , vector (0, 0, 0)"},
      {[&] {
         EXPECT_EQ(flat.V0(), (vm::Vector3{0, 0, 0}));
       },
       "Warning: PerspectiveCamera::V0: Length is 0.0, vector (0, 0, 0)"},
      {[] { EXPECT_FALSE(PerspectiveCamera().Describe("/nonexistent-dir/c.cahv", 11)); },
       "Warning: MetaCamera::Describe: error open file \"/nonexistent-dir/c.cahv\""},
      {[] { EXPECT_EQ(PerspectiveCamera().ReadParameter("/nonexistent-dir/p.txt"), 0); },
       "Warning: PerspectiveCamera::ReadParameter: open file \"/nonexistent-dir/p.txt\" failed !"},
  };
  for (const auto& c : cases) {
    LogCapture log(5);
    c.action();
    EXPECT_THAT(log.lines, ::testing::ElementsAre(c.line));
  }
}

}  // namespace
