#include "tracking/feature_map_move_live.h"

#include <gtest/gtest.h>

#include <vector>

#include "optimise/bundle_scene_for_test.h"
#include "testing/log_capture.h"

namespace {

TEST(FeatureMapMoveLiveTest, FixedFocalLengthAndOtherwiseTheFreeMotionDefaults) {
  const FeatureMapMoveLive live;
  const FeatureMapMove::Parameter defaults;
  EXPECT_EQ(live.GetParameter().m_estimate_focal, 0);
  EXPECT_EQ(live.GetParameter().m_optMethod, defaults.m_optMethod);
  EXPECT_EQ(live.GetParameter().m_ba_limit, defaults.m_ba_limit);
  // The blocks of the key-frame search and the point update keep their own defaults.
  EXPECT_EQ(live.GetUpdateParameter().m_estimate_focal, 1);
  EXPECT_EQ(live.GetKeyFrameSelect().GetParameter().m_focal_prior,
            KeyFrameSelect::Parameter().m_focal_prior);
}

TEST(FeatureMapMoveLiveTest, EndOfRunStagesChangeNothing) {
  kxtest::BundleScene scene = kxtest::MakeBundleScene(kxtest::SceneSpec(4, 20, 4));
  FeatureMapMoveLive live;
  live.SetImageList(scene.images);
  live.SetIncrementalList({});  // would be refine mode for the free-motion map
  for (auto& p : scene.points) live.AddFPoint3D(p);
  std::vector<PerspectiveCamera> before;
  for (const auto& image : scene.images) before.push_back(*image);
  std::vector<vm::Vector3> points;
  for (const auto& p : scene.points) points.push_back(*p);

  kxtest::LogCapture log(5);
  EXPECT_TRUE(live.FinalEstimation());
  EXPECT_TRUE(live.Refinement());
  EXPECT_TRUE(log.lines.empty()) << log.text;
  EXPECT_TRUE(live.GetIncrementalList().empty());
  EXPECT_EQ(live.GetRMSE(), -1.0);
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(scene.images[i]->GetC(), before[i].GetC());
    EXPECT_EQ(scene.images[i]->GetA(), before[i].GetA());
  }
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(static_cast<vm::Vector3&>(*scene.points[i]), points[i]);
  }
}

}  // namespace
