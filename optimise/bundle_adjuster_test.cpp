#include "optimise/bundle_adjuster.h"

#include <gtest/gtest.h>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/tracks/feature_mapper.h"

namespace {

// Adds a feature at the projection of world moved by (dx, dy) pixels, seeing point.
void AddFeature(FeatureImage& image, const SharedPtr<FeaturePoint3D>& point,
                const vm::Vector3& world, double dx, double dy) {
  double x, y;
  ASSERT_TRUE(image.ProjectPCS(world, x, y));
  SharedPtr<FeaturePoint2D> feature = SharedPtr<FeaturePoint2D>::Make(&image, x + dx, y + dy);
  feature->SetFPoint3D(point);
  image.AddFPoint2D(feature);
}

// Two images: one sees a Cartesian point 3, -4 pixels off, the other a direction point
// (placed from the first camera's centre) 6 pixels off. Pixels and mm^2, the per-image
// statistics.
TEST(BundleAdjusterTest, MeanSquaredErrorOfCartesianAndDirectionPoints) {
  BundleAdjuster::ImageList list = {SharedPtr<FeatureImage>::Make(),
                                    SharedPtr<FeatureImage>::Make()};
  SetCameraCentre(*list[0], {0.0, 0.0, -100.0});
  SetCameraCentre(*list[1], {50.0, 0.0, -100.0});
  list[0]->SetImageIndex(0);
  list[1]->SetImageIndex(1);
  SharedPtr<FeaturePoint3D> cartesian =
      SharedPtr<FeaturePoint3D>::Make(10.0, 20.0, 1000.0, FeaturePoint3D::eCartesian);
  // Azimuth 0.1, elevation -0.05 at 900 mm from the first camera.
  SharedPtr<FeaturePoint3D> direction =
      SharedPtr<FeaturePoint3D>::Make(0.1, -0.05, 900.0, FeaturePoint3D::eSpherical);
  const vm::Vector3 along = SphericalDirection(0.1, -0.05);
  AddFeature(*list[0], cartesian, *cartesian, 3.0, -4.0);
  AddFeature(*list[1], direction, vm::Vector3{0.0, 0.0, -100.0} + along * 900.0, 6.0, 0.0);
  list[1]->AddFPoint2D(SharedPtr<FeaturePoint2D>::Make(list[1].Get(), 5.0, 5.0));  // no point

  EXPECT_DOUBLE_EQ(BundleAdjuster::GetMSE(list, true), (25.0 + 36.0) / 4.0);
  EXPECT_DOUBLE_EQ(list[0]->GetMeanSquaredError(), 12.5);
  EXPECT_DOUBLE_EQ(list[1]->GetMeanSquaredError(), 18.0);
  EXPECT_EQ(list[0]->GetStatistic(6), 1);
  EXPECT_EQ(list[0]->GetStatistic(7), 0);
  EXPECT_EQ(list[1]->GetStatistic(6), 0);
  EXPECT_EQ(list[1]->GetStatistic(7), 1);
  // Pixels of 0.1 mm.
  EXPECT_NEAR(BundleAdjuster::GetMSE(list, false), (0.25 + 0.36) / 4.0, 1e-12);
}

TEST(BundleAdjusterTest, NothingMeasuredGivesTheSentinel) {
  EXPECT_EQ(BundleAdjuster::GetMSE({}, true), 1e30);
  BundleAdjuster::ImageList list = {SharedPtr<FeatureImage>::Make()};
  list[0]->AddFPoint2D(SharedPtr<FeaturePoint2D>::Make(list[0].Get(), 5.0, 5.0));
  EXPECT_EQ(BundleAdjuster::GetMSE(list, false), 1e30);
  EXPECT_EQ(list[0]->GetStatistic(6), -1);
}

}  // namespace
