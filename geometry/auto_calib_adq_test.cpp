#include "geometry/auto_calib_adq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/tracks/feature_flags.h"
#include "testing/distorted_scene_for_test.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"
#include "testing/thrown.h"

namespace {

using kxtest::Distance;
using kxtest::DistortedScene;

struct UpgradeCase {
  const char* name;
  int cameras;
  double scale_of_map;  // a negative map turns every camera away from the points
  double focal35;
};

class MetricUpgradeTest : public testing::TestWithParam<UpgradeCase> {};

TEST_P(MetricUpgradeTest, RecoversCalibrationAndShape) {
  const UpgradeCase& t = GetParam();
  DistortedScene distorted(t.cameras, t.scale_of_map);
  const kxtest::SyntheticScene& scene = distorted.scene;

  // A lens distortion (with a further coefficient) that the upgrade must keep.
  FeatureImage& lens = *scene.images[1];
  const double k[4] = {1e-4, 2e-7, 3e-9, 0.0}, further[2] = {0.5, 0.25};
  lens.SetAll(lens.GetC(), lens.GetA(), lens.GetH(), lens.GetV(), lens.GetWidth(), lens.GetHeight(),
              lens.GetPixelSizeX(), lens.GetPixelSizeY(), k, further, Poly3);

  kxtest::LogCapture log(5);
  AutoCalibADQ calib;
  ASSERT_TRUE(calib.MetricUpgrade(scene.images, scene.points3d, t.focal35));
  EXPECT_EQ(log.Has("3D points behind camera, transform solution"), t.scale_of_map < 0.0);

  for (size_t i = 0; i < scene.images.size(); ++i) {
    SCOPED_TRACE(i);
    const FeatureImage& image = *scene.images[i];
    Matrix3x3 k, r;
    vm::Vector3 translation;
    DecomposeCameraMatrix(image, k, r, translation);
    EXPECT_NEAR(k[0][1] / k[0][0], 0.0, 1e-5);             // skew
    EXPECT_NEAR(std::fabs(k[1][1] / k[0][0]), 1.0, 1e-5);  // aspect
    EXPECT_NEAR(image.GetCenterPointX(), 0.0, 0.01);       // pixels
    EXPECT_NEAR(image.GetCenterPointY(), 0.0, 0.01);
    EXPECT_NEAR(image.GetFocalLength(), 10.0, 1e-4);  // mm, as shot
    EXPECT_EQ(image.GetPixelSizeX(), 0.01);
    EXPECT_EQ(image.GetWidth(), 1000u);
  }
  for (int i = 0; i < 4; ++i) EXPECT_EQ(lens.GetDistortionCoefficients()[i], k[i]);
  EXPECT_EQ(lens.GetFurtherValues()[0], 0.5);
  // The first camera looks down the z axis with its rows along x and y.
  const FeatureImage& first = *scene.images[0];
  EXPECT_NEAR(first.GetA().z, 1.0, 1e-9);
  EXPECT_NEAR(first.H0().x, 1.0, 1e-9);
  EXPECT_NEAR(first.V0().y, 1.0, 1e-9);
  EXPECT_EQ(AutoCalibADQ::GetShareBehind(scene.images, scene.points3d), 0.0);

  // The shape up to a similarity: every distance relative to one of them.
  const std::vector<vm::Vector3> got = distorted.Positions();
  const std::vector<vm::Vector3> truth = distorted.TruePositions();
  const double got_unit = Distance(got[0], got[1]);
  const double true_unit = Distance(truth[0], truth[1]);
  for (size_t a = 0; a < got.size(); ++a) {
    for (size_t b = a + 1; b < got.size(); ++b) {
      EXPECT_NEAR(Distance(got[a], got[b]) / got_unit, Distance(truth[a], truth[b]) / true_unit,
                  1e-5)
          << a << "-" << b;
    }
  }
  for (const SharedPtr<FeaturePoint3D>& point : scene.points3d) {
    EXPECT_FALSE(point->TestFlags(FP3D_FLAG_TEMP_MARK));
  }
}

INSTANTIATE_TEST_SUITE_P(Scenes, MetricUpgradeTest,
                         testing::Values(UpgradeCase{"six_views", 6, 1.0, -1.0},
                                         UpgradeCase{"three_views_prior_focal", 3, 1.0, 35.0},
                                         UpgradeCase{"two_views_quartic", 2, 1.0, -1.0},
                                         UpgradeCase{"cameras_turned_away_mirror", 4, -1.0, -1.0}),
                         [](const testing::TestParamInfo<UpgradeCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(MetricUpgradeFailureTest, NoEstimateLeavesEverythingUnchanged) {
  DistortedScene distorted(3, 1.0);
  kxtest::SyntheticScene& scene = distorted.scene;
  // A view without a horizontal row: no transform can give it a focal length.
  FeatureImage& broken = *scene.images[1];
  broken.SetAll(broken.GetC(), broken.GetA(), vm::Vector3{0, 0, 0}, broken.GetV(),
                broken.GetWidth(), broken.GetHeight(), broken.GetPixelSizeX(),
                broken.GetPixelSizeY(), broken.GetDistortionCoefficients(),
                broken.GetFurtherValues(), broken.GetDistortionModel());
  std::vector<PerspectiveCamera> cameras;
  for (const SharedPtr<FeatureImage>& image : scene.images) cameras.push_back(*image);
  const std::vector<vm::Vector3> points = distorted.Positions();

  kxtest::LogCapture log(5);
  AutoCalibADQ calib;
  EXPECT_FALSE(calib.MetricUpgrade(scene.images, scene.points3d, -1.0));
  EXPECT_TRUE(log.Has("AutoCalibADQ::MetricUpgrade: no estimate of the dual quadric found"));

  for (size_t i = 0; i < scene.images.size(); ++i) {
    const FeatureImage& image = *scene.images[i];
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ((&image.GetC().x)[k], (&cameras[i].GetC().x)[k]);
      EXPECT_EQ((&image.GetA().x)[k], (&cameras[i].GetA().x)[k]);
      EXPECT_EQ((&image.GetH().x)[k], (&cameras[i].GetH().x)[k]);
      EXPECT_EQ((&image.GetV().x)[k], (&cameras[i].GetV().x)[k]);
    }
  }
  const std::vector<vm::Vector3> after = distorted.Positions();
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(after[i].x, points[i].x);
    EXPECT_EQ(after[i].y, points[i].y);
    EXPECT_EQ(after[i].z, points[i].z);
  }
}

TEST(MetricUpgradeFailureTest, BadInputThrowsBeforeAnyChange) {
  DistortedScene distorted(2, 1.0);
  kxtest::SyntheticScene& scene = distorted.scene;
  AutoCalibADQ calib;
  const std::vector<SharedPtr<FeatureImage>> one = {scene.images[0]};
  EXPECT_EQ(kxtest::Thrown([&] { calib.MetricUpgrade(one, scene.points3d, -1.0); }),
            "AutoCalibADQ::MetricUpgrade: at least 2 views are needed");

  const vm::Vector3 c1 = scene.images[1]->GetC();
  scene.images[0]->SetPixelSize(0.0, 0.01);
  EXPECT_EQ(kxtest::Thrown([&] { calib.MetricUpgrade(scene.images, scene.points3d, 35.0); }),
            "AutoCalibADQ::MetricUpgrade: zero pixel size");
  EXPECT_EQ(scene.images[1]->GetC().x, c1.x);
}

Matrix4x4 Diagonal(double a, double b, double c, double d) {
  Matrix4x4 m;
  m.SetZero();
  m[0][0] = a;
  m[1][1] = b;
  m[2][2] = c;
  m[3][3] = d;
  return m;
}

TEST(ChooseQuadricOnPencilTest, RealRootsNoRootAndZeroImage) {
  Matrix3x4 view;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) view[r][c] = r == c ? 1.0 : 0.0;
  }
  const std::vector<Matrix3x4> views = {view, view};

  // det(qb + l (qa - qb)) = 6 (4 - 4 l): the only root gives qa itself.
  Matrix4x4 chosen = Diagonal(9, 9, 9, 9);
  ASSERT_TRUE(AutoCalibADQ::ChooseQuadricOnPencil(Diagonal(1, 2, 3, 0), Diagonal(1, 2, 3, 4), views,
                                                  chosen));
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(chosen.m[i], Diagonal(1, 2, 3, 0).m[i], 1e-12);

  // Two 2x2 blocks [l, 1 - l; 1 - l, -l]: the determinant is (l^2 + (1 - l)^2)^2 > 0.
  Matrix4x4 qa, qb;
  qa.SetZero();
  qb.SetZero();
  for (int block = 0; block < 4; block += 2) {
    qa[block][block] = 1.0;
    qa[block + 1][block + 1] = -1.0;
    qb[block][block + 1] = qb[block + 1][block] = 1.0;
  }
  chosen = Diagonal(9, 9, 9, 9);
  EXPECT_FALSE(AutoCalibADQ::ChooseQuadricOnPencil(qa, qb, views, chosen));
  EXPECT_EQ(chosen[0][0], 9.0);

  Matrix3x4 zero;
  for (double& x : zero.m) x = 0.0;
  EXPECT_EQ(kxtest::Thrown([&] {
              AutoCalibADQ::ChooseQuadricOnPencil(Diagonal(1, 2, 3, 0), Diagonal(1, 2, 3, 4),
                                                  {view, zero}, chosen);
            }),
            "AutoCalibADQ::MetricUpgrade: Frobenius test zero");
}

// One camera at the origin looking along +z; each point at depth z is seen by one
// feature.
TEST(GetShareBehindTest, CountsFirstObservationOfListedLivePoints) {
  struct Case {
    const char* name;
    std::vector<double> depths;
    std::vector<uint32_t> flags;
    double share;
  };
  const Case cases[] = {
      {"half behind", {1, -1, 2, -2}, {0, 0, 0, 0}, 0.5},
      {"on the image plane counts as behind", {0, 1, 1}, {0, 0, 0}, 1.0 / 3.0},
      {"removed and protected ignored",
       {-1, -1, 1},
       {FP3D_FLAG_REMOVED, FP3D_FLAG_PROTECTED, 0},
       0.0},
      {"nothing counted", {-1}, {FP3D_FLAG_REMOVED}, 0.0},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    auto image = SharedPtr<FeatureImage>::Make();
    auto later = SharedPtr<FeatureImage>::Make();
    // The second image looks the other way: it must not decide for points the first saw.
    SetCameraPTRF(*later, 3.14159265358979, 0.0, 0.0, later->GetFocalLength());
    std::vector<SharedPtr<FeaturePoint3D>> points;
    for (size_t i = 0; i < t.depths.size(); ++i) {
      points.push_back(
          SharedPtr<FeaturePoint3D>::Make(0.0, 0.0, t.depths[i], FeaturePoint3D::eCartesian));
      points.back()->SetFlags(t.flags[i]);
      for (FeatureImage* owner : {image.Get(), later.Get()}) {
        auto feature = SharedPtr<FeaturePoint2D>::Make(owner, 10.0, 10.0);
        feature->SetFPoint3D(points.back());
        owner->AddFPoint2D(feature);
      }
    }
    EXPECT_NEAR(AutoCalibADQ::GetShareBehind({image, later}, points), t.share, 1e-15);
    for (const SharedPtr<FeaturePoint3D>& point : points) {
      EXPECT_FALSE(point->TestFlags(FP3D_FLAG_TEMP_MARK));
    }
  }
}

TEST(AutoCalibADQTest, DefaultsAndReset) {
  AutoCalibADQ calib;
  EXPECT_EQ(calib.m_min_focal_factor, 0.3f);
  EXPECT_EQ(calib.m_max_focal_factor, 3.0f);
  EXPECT_EQ(calib.m_focal_factor_step, 0.1f);
  EXPECT_EQ(calib.GetBestCost(), 1e32);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_EQ(calib.GetTransform()[r][c], r == c ? 1.0 : 0.0);
  }
}

}  // namespace
