#include "optimise/model_kfpoint3d_sparse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "optimise/bundle_scene_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::BundleScene;
using kxtest::BundleSceneSpec;
using kxtest::MakeBundleScene;

// Evaluates every measurement of a data object at its start vector and, for each, the
// central-difference derivatives over its camera block and point block.
template <class ModelT, class DataT, class Input>
void CheckAgainstScene(const DataT& data, bool check_values, double value_tol) {
  ModelT model;
  ModelOutput result[2];
  Input in{};
  std::vector<double> a = data.GetParameters();
  const int pc = data.GetParametersPerCamera();
  const int k = data.GetParametersPerPoint();
  for (int i = 0; i < data.GetNumberOfMeasurements(); ++i) {
    SCOPED_TRACE(i);
    data.GetModelInput(i, in);
    ASSERT_TRUE(model.ComputeWithGradient(in, a, result));
    const ModelSparseMeasurement& m = data.GetMeasurements()[static_cast<size_t>(i)];
    if (check_values) {
      EXPECT_NEAR(result[0].value, m.x, value_tol);
      EXPECT_NEAR(result[1].value, m.y, value_tol);
    }
    ASSERT_EQ(result[0].gradient.size(), static_cast<size_t>(pc + k));
    std::vector<size_t> columns;
    for (int j = 0; j < pc; ++j) columns.push_back(static_cast<size_t>(in.camera_index * pc + j));
    for (int j = 0; j < k; ++j)
      columns.push_back(
          static_cast<size_t>(data.GetNumberOfCameras() * pc + in.point_index * k + j));
    for (size_t col = 0; col < columns.size(); ++col) {
      const size_t p = columns[col];
      const double h = 1e-6 * std::max(1.0, std::fabs(a[p]));
      ModelOutput plus[2], minus[2];
      const double keep = a[p];
      a[p] = keep + h;
      ASSERT_TRUE(model.ComputeWithGradient(in, a, plus));
      a[p] = keep - h;
      ASSERT_TRUE(model.ComputeWithGradient(in, a, minus));
      a[p] = keep;
      for (int r = 0; r < 2; ++r) {
        const double numeric = (plus[r].value - minus[r].value) / (2.0 * h);
        EXPECT_NEAR(result[r].gradient[col], numeric, 1e-5 * std::max(1.0, std::fabs(numeric)))
            << "row " << r << " column " << col;
      }
    }
  }
}

struct GradientCase {
  const char* name;
  bool rotation_only;
  unsigned mask;
  double distortion = 0.0;  // the features are distorted; the data undistorts them
};

class SparseModelGradientTest : public testing::TestWithParam<GradientCase> {};

// At the cameras' own values the model reproduces the mapped features of a noise-free
// scene, and its gradients match central differences.
TEST_P(SparseModelGradientTest, ReproducesFeaturesAndMatchesFiniteDifferences) {
  const GradientCase& c = GetParam();
  BundleSceneSpec spec = kxtest::SceneSpec(4, 12, 3);
  spec.noise_px = 0.0;
  spec.rotation_only = c.rotation_only;
  spec.distortion = c.distortion;
  BundleScene scene = MakeBundleScene(spec);
  ASSERT_GT(scene.observations, 30);
  const bool projection = (c.mask & SparseCameraMask::kProjection) != 0;
  // mm on the sensor, or pixels in projection mode.
  const double tol = projection ? 1e-7 : 1e-8;
  if (c.rotation_only) {
    ModelRKFPoint3DDataSparse data;
    data.SetFImageList(scene.images, &c.mask);
    data.SetInitialParameters(scene.images);
    ASSERT_EQ(data.GetNumberOfMeasurements(), scene.observations);
    CheckAgainstScene<ModelRKFPoint3DSparse, ModelRKFPoint3DDataSparse, ModelRKFPoint3DSparseInput>(
        data, true, tol);
  } else {
    ModelRTKFPoint3DDataSparse data;
    data.SetFImageList(scene.images, &c.mask);
    data.SetInitialParameters(scene.images);
    ASSERT_EQ(data.GetNumberOfMeasurements(), scene.observations);
    CheckAgainstScene<ModelRTKFPoint3DSparse, ModelRTKFPoint3DDataSparse,
                      ModelRTKFPoint3DSparseInput>(data, true, tol);
  }
}

INSTANTIATE_TEST_SUITE_P(Masks, SparseModelGradientTest,
                         testing::Values(GradientCase{"RotationDefault", true, 0xE802},
                                         GradientCase{"RotationPanFocal", true, 0x4002},
                                         GradientCase{"MotionDefault", false, 0x7E802},
                                         GradientCase{"MotionCentreOnly", false, 0x70000},
                                         GradientCase{"MotionTiltRollFocal", false, 0xA002},
                                         GradientCase{"MotionProjection", false, 0x10},
                                         GradientCase{"MotionDistorted", false, 0x7E802, 0.05},
                                         GradientCase{"RotationDistorted", true, 0xE802, -0.05}),
                         [](const testing::TestParamInfo<GradientCase>& info) {
                           return std::string(info.param.name);
                         });

// Gradients away from the cameras' own values (rotated and moved), where pan and tilt
// derivatives no longer sit at small angles.
TEST(SparseModelTest, GradientsHoldAtLargeAngles) {
  BundleSceneSpec spec = kxtest::SceneSpec(3, 8, 3);
  BundleScene scene = MakeBundleScene(spec);
  kxtest::PerturbBundleScene(scene, 3, 0.6, 300.0, 5.0);
  ModelRTKFPoint3DDataSparse data;
  data.SetFImageList(scene.images, nullptr);
  data.SetInitialParameters(scene.images);
  CheckAgainstScene<ModelRTKFPoint3DSparse, ModelRTKFPoint3DDataSparse,
                    ModelRTKFPoint3DSparseInput>(data, false, 0.0);
}

// Both data objects number each point once, in order of first use, and fill the start
// vector from the cameras and points.
TEST(SparseModelTest, NumbersPointsOnceInOrderOfFirstUse) {
  BundleSceneSpec spec = kxtest::SceneSpec(5, 10, 3);
  spec.noise_px = 0.0;
  BundleScene scene = MakeBundleScene(spec);
  ModelRTKFPoint3DDataSparse data;
  data.SetFImageList(scene.images, nullptr);
  data.SetInitialParameters(scene.images);
  ASSERT_EQ(data.GetNumberOfPoints(), spec.points);
  EXPECT_EQ(data.GetParametersPerCamera(), 7);
  EXPECT_EQ(data.GetNumberOfParameters(), 5 * 7 + 10 * 3);
  // The scene's points appear in the images in creation order.
  for (int j = 0; j < spec.points; ++j) {
    EXPECT_EQ(data.GetFPoint3DList()[static_cast<size_t>(j)],
              scene.points[static_cast<size_t>(j)].Get());
    EXPECT_EQ(data.GetParameters()[static_cast<size_t>(35 + 3 * j)],
              scene.points[static_cast<size_t>(j)]->x);
  }
  int previous_camera = 0;
  for (const ModelSparseMeasurement& m : data.GetMeasurements()) {
    EXPECT_GE(m.camera_index, previous_camera);
    previous_camera = m.camera_index;
    EXPECT_EQ(m.weight_set, 0);
  }
  // Camera 2's block: pan, tilt, roll, centre, f.
  double pan, tilt, roll;
  GetCameraAngles(*scene.images[2], pan, tilt, roll);
  const double* block = data.GetParameters().data() + 2 * 7;
  EXPECT_EQ(block[0], pan);
  EXPECT_EQ(block[1], tilt);
  EXPECT_EQ(block[2], roll);
  EXPECT_EQ(block[3], scene.images[2]->GetC().x);
  EXPECT_EQ(block[6], scene.images[2]->GetFocalLength());
}

// Which features each model takes: the coordinate system of the point, the link flags
// (rotation only), removed points.
TEST(SparseModelTest, SelectsFeaturesByPointKindLinksAndRemoval) {
  BundleSceneSpec spec = kxtest::SceneSpec(3, 6, 3);
  spec.noise_px = 0.0;
  spec.link_flags = FCORR_SUPPORT_TRUE;  // no rotation or free-motion support
  BundleScene cartesian = MakeBundleScene(spec);
  spec.rotation_only = true;
  BundleScene directions = MakeBundleScene(spec);

  {
    SCOPED_TRACE("free motion takes any link, rejects direction points");
    ModelRTKFPoint3DDataSparse data;
    data.SetFImageList(cartesian.images, nullptr);
    EXPECT_EQ(data.GetNumberOfMeasurements(), cartesian.observations);
    kxtest::LogCapture log(5);
    data.SetFImageList(directions.images, nullptr);
    EXPECT_EQ(data.GetNumberOfMeasurements(), 0);
    EXPECT_EQ(data.GetNumberRejected(), directions.observations);
    EXPECT_TRUE(log.Has("3DFPs rejected because != FeaturePoint3D::eCartesian"));
  }
  {
    SCOPED_TRACE("rotation only needs a rotation or free-motion link");
    ModelRKFPoint3DDataSparse data;
    data.SetFImageList(directions.images, nullptr);
    EXPECT_EQ(data.GetNumberOfMeasurements(), 0);
    for (const SharedPtr<FeatureImage>& image : directions.images)
      for (const SharedPtr<FeaturePoint2D>& f : image->GetFPoints2D())
        if (f->GetSuccessor()) f->GetSuccessor()->SetFlags(FCORR_SUPPORT_ROTATION);
    data.SetFImageList(directions.images, nullptr);
    EXPECT_EQ(data.GetNumberOfMeasurements(), directions.observations);
    EXPECT_EQ(data.GetNumberRejected(), 0);
    for (const SharedPtr<FeatureImage>& image : cartesian.images)
      for (const SharedPtr<FeaturePoint2D>& f : image->GetFPoints2D())
        if (f->GetSuccessor()) f->GetSuccessor()->SetFlags(FCORR_SUPPORT_FREEMOVE);
    data.SetFImageList(cartesian.images, nullptr);
    EXPECT_EQ(data.GetNumberOfMeasurements(), 0);
    EXPECT_EQ(data.GetNumberRejected(), cartesian.observations);
  }
  {
    SCOPED_TRACE("removed points are left out");
    cartesian.points[0]->SetFlags(FP3D_FLAG_REMOVED);
    ModelRTKFPoint3DDataSparse data;
    data.SetFImageList(cartesian.images, nullptr);
    EXPECT_EQ(data.GetNumberOfPoints(), spec.points - 1);
    EXPECT_EQ(data.GetNumberOfMeasurements(), cartesian.observations - 3);
  }
}

// Parameters per camera follow the mask; the principal-point bits have no parameter in
// the rotation-only model and are dropped with a warning.
TEST(SparseModelTest, ParametersPerCameraFollowTheMask) {
  struct Case {
    unsigned mask;
    int rotation;
    int motion;
  };
  const Case cases[] = {{0x7E802, 4, 7},  {0xE802, 4, 4}, {0x0, 0, 0},    {0x10, 0, 12},
                        {0x7E812, 4, 12}, {0x2, 1, 1},    {0x70000, 0, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    EXPECT_EQ(ModelRKFPoint3DDataSparse::ParametersPerCamera(c.mask), c.rotation);
    EXPECT_EQ(ModelRTKFPoint3DDataSparse::ParametersPerCamera(c.mask), c.motion);
  }
  BundleSceneSpec spec;
  spec.cameras = 2;
  spec.points = 4;
  spec.rotation_only = true;
  BundleScene scene = MakeBundleScene(spec);
  ModelRKFPoint3DDataSparse data;
  const unsigned with_principal_point = 0xE80E;
  kxtest::LogCapture log;
  data.SetFImageList(scene.images, &with_principal_point);
  EXPECT_EQ(data.GetMask(), 0xE802u);
  EXPECT_EQ(data.GetParametersPerCamera(), 4);
  EXPECT_TRUE(log.Has("principal point"));
}

// A feature's covariance becomes the measurement's weight, in mm^-2 unless the model
// works in pixels.
TEST(SparseModelTest, WeightsComeFromTheFeatureCovariance) {
  BundleSceneSpec spec = kxtest::SceneSpec(2, 1, 2);
  BundleScene scene = MakeBundleScene(spec);
  scene.images[0]->GetFPoints2D()[0]->SetCoVariance(0.25f, 0.0f, 4.0f);  // inverse 4, 0.25
  for (unsigned mask : {0x7E802u, 0x10u}) {
    SCOPED_TRACE(mask);
    ModelRTKFPoint3DDataSparse data;
    data.SetFImageList(scene.images, &mask);
    const ModelSparseMeasurement& m = data.GetMeasurements()[0];
    const double scale = mask == 0x10u ? 1.0 : 100.0;  // 1 / (0.1 mm)^2
    EXPECT_EQ(m.weight_set, 1);
    EXPECT_DOUBLE_EQ(m.weight[0][0], 4.0 * scale);
    EXPECT_DOUBLE_EQ(m.weight[1][1], 0.25 * scale);
    EXPECT_EQ(data.GetMeasurements()[1].weight_set, 0);
  }
}

// A point in the camera's focal plane has no image: the model refuses it instead of
// dividing by zero.
TEST(SparseModelTest, PointInTheFocalPlaneIsRefused) {
  ModelRTKFPoint3DSparseInput in;
  in.mask = 0x7E802;
  in.number_of_cameras = 1;
  in.number_of_points = 1;
  in.parameters_per_camera = 7;
  in.parameters_per_point = 3;
  // Camera at the origin looking along z; the point beside it at z = 0.
  std::vector<double> a = {0, 0, 0, 0, 0, 0, 50, 100, 20, 0};
  ModelOutput result[2];
  EXPECT_FALSE(ModelRTKFPoint3DSparse().ComputeWithGradient(in, a, result));
  in.mask = 0x10;
  in.parameters_per_camera = 12;
  a = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 100, 20, 0};
  EXPECT_FALSE(ModelRTKFPoint3DSparse().ComputeWithGradient(in, a, result));
}

}  // namespace
