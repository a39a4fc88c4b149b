#include "geometry/outlier_detector_known_cam.h"

#include <gtest/gtest.h>

#include <ostream>

#include <vector>

#include "foundation/tracks/feature_flags.h"
#include "testing/rotating_camera_pair_for_test.h"

namespace {

using kxtest::RotatingCameraPair;
using kxtest::RotatingCameraPairOptions;

struct KnownPairCase {
  const char* name;
  RotatingCameraPairOptions pair;
};

void PrintTo(const KnownPairCase& c, std::ostream* os) {
  *os << c.name;
}

std::string CaseName(const testing::TestParamInfo<KnownPairCase>& info) {
  return info.param.name;
}

// Detector set up as the feature maps call it: the earlier image's camera as init, the
// later image's as reference and match camera.
void SetUpPair(OutlierDetectorKnownCam& detector, const RotatingCameraPair& pair) {
  detector.SetInitCamera(pair.first);
  detector.SetRefCamera(pair.second);
  detector.SetCurrentCamera(pair.second);
  detector.SetCorrespondences(pair.links);
}

class KnownCameraOutliers : public testing::TestWithParam<KnownPairCase> {};

TEST_P(KnownCameraOutliers, MarksThePlantedOutliersAndOnlyThem) {
  RotatingCameraPair pair(GetParam().pair);
  ASSERT_EQ(static_cast<int>(pair.links.size()), GetParam().pair.num_points);
  OutlierDetectorKnownCam detector;
  SetUpPair(detector, pair);
  for (auto& link : pair.links) link->SetFlags(FCORR_SUPPORT_TRUE | FCORR_SUPPORT_ROTATION);
  detector.Run(FCORR_SUPPORT_TRUE);
  int outliers = 0;
  for (size_t i = 0; i < pair.links.size(); ++i) {
    SCOPED_TRACE(i);
    outliers += pair.outlier[i] ? 1 : 0;
    const uint32_t expected =
        pair.outlier[i] ? FCORR_SUPPORT_ROTATION : FCORR_SUPPORT_TRUE | FCORR_SUPPORT_ROTATION;
    EXPECT_EQ(pair.links[i]->GetFlags(), expected);
  }
  EXPECT_EQ(detector.m_num_unsupported, outliers);
  EXPECT_EQ(detector.m_num_supported, static_cast<int>(pair.links.size()) - outliers);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, KnownCameraOutliers,
    testing::Values(
        KnownPairCase{"NoMotion", {}},
        KnownPairCase{
            "TurnWithOutliers",
            {.pan = 0.1, .tilt = -0.04, .roll = 0.02, .noise_px = 0.1, .outlier_ratio = 0.25}},
        KnownPairCase{"ZoomWithOutliers",
                      {.pan = -0.05, .zoom = 1.4, .noise_px = 0.1, .outlier_ratio = 0.2}},
        KnownPairCase{"MoveAndZoomWithOutliers",
                      {.pan = 0.03,
                       .tilt = 0.02,
                       .zoom = 0.8,
                       .move = {400.0, -100.0, 300.0},
                       .noise_px = 0.1,
                       .outlier_ratio = 0.3,
                       .principal_x_px = 10.0,
                       .principal_y_px = -6.0}}),
    CaseName);

TEST(OutlierDetectorKnownCamTest, MaskZeroClearsTheSupportedWordsOnly) {
  RotatingCameraPair pair({.pan = 0.05, .zoom = 1.1, .outlier_ratio = 0.3});
  OutlierDetectorKnownCam detector;
  SetUpPair(detector, pair);
  for (auto& link : pair.links) link->SetFlags(FCORR_SUPPORT_ROTATION);
  detector.Run(0);
  for (size_t i = 0; i < pair.links.size(); ++i)
    EXPECT_EQ(pair.links[i]->GetFlags(), pair.outlier[i] ? FCORR_SUPPORT_ROTATION : 0u) << i;
}

// The previous camera became the current one: the second run compares the current camera
// with itself, so every moved point fails.
TEST(OutlierDetectorKnownCamTest, SecondRunComparesTheCurrentCameraWithItself) {
  RotatingCameraPair pair({.pan = 0.05});
  OutlierDetectorKnownCam detector;
  SetUpPair(detector, pair);
  detector.Run(FCORR_SUPPORT_TRUE);
  EXPECT_EQ(detector.m_num_supported, static_cast<int>(pair.links.size()));
  detector.Run(FCORR_SUPPORT_TRUE);
  EXPECT_EQ(detector.m_num_supported, 0);
  EXPECT_EQ(detector.m_num_unsupported, static_cast<int>(pair.links.size()));
  for (auto& link : pair.links) EXPECT_EQ(link->GetFlags(), 0u);
}

TEST(OutlierDetectorKnownCamTest, FeatureFormTakesTheLinkOfTheGivenDirection) {
  RotatingCameraPair pair({.pan = 0.02, .num_points = 5, .outlier_ratio = 0.4});
  std::vector<SharedPtr<FeaturePoint2D>> later, earlier;
  for (auto& link : pair.links) {
    later.push_back(link->GetSecond());
    earlier.push_back(link->GetFirst());
  }
  later.push_back(SharedPtr<FeaturePoint2D>::Make(nullptr, 1.0, 2.0));  // no link
  OutlierDetectorKnownCam detector;
  detector.SetInitCamera(pair.first);
  detector.SetRefCamera(pair.second);
  detector.SetCurrentCamera(pair.second);
  detector.SetCorrespondences(later, true);
  ASSERT_EQ(detector.m_corr_els.size(), pair.links.size());
  for (size_t i = 0; i < pair.links.size(); ++i)
    EXPECT_EQ(detector.m_corr_els[i].corr.Get(), pair.links[i].Get());
  detector.SetCorrespondences(later, false);  // later features have no successor
  EXPECT_TRUE(detector.m_corr_els.empty());
  detector.SetCorrespondences(earlier, false);
  ASSERT_EQ(detector.m_corr_els.size(), pair.links.size());
  detector.Run(FCORR_SUPPORT_TRUE);
  EXPECT_EQ(detector.m_num_unsupported, 2);
}

TEST(OutlierDetectorKnownCamTest, EmptyListMarksNothing) {
  OutlierDetectorKnownCam detector;
  detector.m_num_supported = 5;
  detector.m_num_unsupported = 7;
  detector.SetCorrespondences(std::vector<SharedPtr<FeatureCorrespondence>>{});
  detector.Run(FCORR_SUPPORT_TRUE);
  EXPECT_EQ(detector.m_num_supported, 0);
  EXPECT_EQ(detector.m_num_unsupported, 0);
  EXPECT_EQ(detector.GetParameterSet(), nullptr);
}

}  // namespace
