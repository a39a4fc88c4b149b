#include "optimise/bundle_adjuster_subset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/tracks/feature_flags.h"
#include "optimise/bundle_scene_for_test.h"
#include "optimise/callback_for_test.h"
#include "optimise/optimizer_sparse_lm.h"
#include "testing/log_capture.h"

namespace {

using kxtest::BundleScene;

BundleScene NoisyScene(int cameras, int points) {
  BundleScene scene = kxtest::MakeBundleScene(kxtest::SceneSpec(cameras, points, 6));
  kxtest::PerturbBundleScene(scene, 21, 0.003, 10.0, 0.3);
  return scene;
}

double Rmse(const BundleScene& scene) {
  return std::sqrt(BundleAdjuster::GetMSE(scene.images, true));
}

uint32_t FlagsOr(const BundleScene& scene) {
  uint32_t flags = 0;
  for (const SharedPtr<FeaturePoint3D>& p : scene.points) flags |= p->GetFlags();
  return flags;
}

// Stops every sparse run at its first evaluation while it lives.
class StopSparse {
 public:
  StopSparse() {
    callback_.stop = true;
    saved_ = OptimizerSparseLM_RTKFPoint3D::s_observer.exchange(&callback_);
  }
  ~StopSparse() { OptimizerSparseLM_RTKFPoint3D::s_observer.store(saved_); }

 private:
  kxtest::CallbackForTest callback_;
  Callback* saved_ = nullptr;
};

// Every way of choosing the subset, followed by resection and the interleaved pass,
// reaches the noise on a longer shot, and no temporary point flag is left behind.
TEST(BundleAdjusterSubsetTest, EverySubsetModeReachesTheNoise) {
  struct Case {
    const char* name;
    int mode;
    int size;
  };
  for (const Case& c : {Case{"every second camera", 0, 500}, Case{"groups", 1, 80},
                        Case{"precise points", 3, 150}, Case{"all cameras", 2, 500}}) {
    SCOPED_TRACE(c.name);
    BundleScene scene = NoisyScene(60, 300);
    // Point precision for the point subset: the first half known better.
    for (size_t j = 0; j < scene.points.size(); ++j) {
      const double v = j < 150 ? 1.0 : 4.0;
      const double cov[9] = {v, 0, 0, 0, v, 0, 0, 0, v};
      scene.points[j]->SetCoVariance(cov);
    }
    const double before = Rmse(scene);
    BundleAdjusterSubset adjuster;
    adjuster.m_subset_mode = c.mode;
    adjuster.m_subset_size = c.size;
    adjuster.SetFPoint3DList(&scene.points);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(adjuster.Run(scene.images, 7));
    testing::internal::GetCapturedStderr();
    const double after = Rmse(scene);
    EXPECT_LT(after, before);
    EXPECT_LT(after, 0.8);
    EXPECT_EQ(FlagsOr(scene), 0u);
  }
}

// The camera step by list length; the interleaved pass runs only when cameras were left
// out. The sparse runs are stopped at once, which must not stop the later steps.
TEST(BundleAdjusterSubsetTest, CameraStepAndStoppedSparseRun) {
  struct Case {
    int cameras;
    const char* indices;
    bool interleave;
  };
  for (const Case& c :
       {Case{50, " 0 1 2 3", false}, Case{51, " 0 2 4", true}, Case{201, " 0 4 8", true}}) {
    SCOPED_TRACE(c.cameras);
    BundleScene scene = NoisyScene(c.cameras, c.cameras * 2);
    const double before = Rmse(scene);
    BundleAdjusterSubset adjuster;
    StopSparse stop;
    kxtest::LogCapture log(5);
    EXPECT_TRUE(adjuster.Run(scene.images, 0));
    EXPECT_TRUE(log.Has("HHHH  BundleAdjusterSubset::Optimize: build 2 lists"));
    EXPECT_TRUE(log.Has(std::string("2. optimize cameras:\n") + c.indices))
        << log.text.substr(0, 300);
    EXPECT_TRUE(log.Has("sparse bundle stopped at iteration 888"));
    EXPECT_TRUE(log.Has(std::to_string(c.cameras) + " cameras succeed"));
    EXPECT_EQ(log.Has("OptimizeRT_MT: camera 0 succeed"), c.interleave);
    EXPECT_LT(Rmse(scene), before);
  }
  EXPECT_EQ(BundleAdjusterSubset::CameraStep(100), 2);
  EXPECT_EQ(BundleAdjusterSubset::CameraStep(101), 3);
  EXPECT_EQ(BundleAdjusterSubset::CameraStep(200), 3);
}

TEST(BundleAdjusterSubsetTest, EmptyListAndMissingPointList) {
  BundleAdjusterSubset adjuster;
  kxtest::LogCapture log;
  EXPECT_FALSE(adjuster.Run({}, 0));
  EXPECT_TRUE(log.Has("no cameras"));
  BundleScene scene = NoisyScene(4, 20);
  adjuster.m_subset_mode = 3;
  EXPECT_FALSE(adjuster.Run(scene.images, 0));
  EXPECT_TRUE(log.Has("list of 3D points not set"));
}

// A first image that alone brings more new points than the budget forms a group of its
// own and opens the next one, where it counts nothing.
TEST(BundleAdjusterSubsetTest, GroupsShareTheirBorderImage) {
  BundleScene scene = NoisyScene(6, 40);
  BundleAdjusterSubset adjuster;
  adjuster.m_subset_mode = 1;
  adjuster.m_subset_size = 5;
  kxtest::LogCapture log(5);
  EXPECT_TRUE(adjuster.Run(scene.images, 0));
  const std::string& err = log.text;
  const std::string head = "AAAA BundleAdjusterSubset::OptimizeGroups: image 0, 3d pnts ";
  const size_t first = err.find(head);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(err.find(head + "0\n", first + 1), std::string::npos) << err;
  EXPECT_EQ(FlagsOr(scene), 0u);
}

// A budget below zero still ends.
TEST(BundleAdjusterSubsetTest, NegativeGroupBudgetEnds) {
  BundleScene scene = NoisyScene(4, 20);
  BundleAdjusterSubset adjuster;
  adjuster.m_subset_mode = 1;
  adjuster.m_subset_size = -1;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(adjuster.Run(scene.images, 0));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(FlagsOr(scene), 0u);
}

// With few points none is left out; a point removed before keeps its flag; a stopped run
// gives the temporarily removed points back.
TEST(BundleAdjusterSubsetTest, PointSubsetFlags) {
  for (bool stop_run : {false, true}) {
    SCOPED_TRACE(stop_run);
    BundleScene scene = NoisyScene(6, 40);
    scene.points[3]->SetFlags(FP3D_FLAG_REMOVED);
    BundleAdjusterSubset adjuster;
    adjuster.m_subset_mode = 3;
    adjuster.m_subset_size = stop_run ? 10 : 40;
    adjuster.SetFPoint3DList(&scene.points);
    if (stop_run) {
      StopSparse stop;
      EXPECT_TRUE(adjuster.Run(scene.images, 0));
    } else {
      EXPECT_TRUE(adjuster.Run(scene.images, 0));
    }
    EXPECT_EQ(scene.points[3]->GetFlags(), static_cast<uint32_t>(FP3D_FLAG_REMOVED));
    for (size_t j = 0; j < scene.points.size(); ++j)
      if (j != 3) {
        EXPECT_EQ(scene.points[j]->GetFlags(), 0u) << j;
      }
  }
}

// Resection uses only features whose link carries flag 0x1 or 0x40.
TEST(BundleAdjusterSubsetTest, ResectionNeedsSupportFlags) {
  struct Case {
    uint32_t link_flags;
    const char* line;
  };
  for (const Case& c : {Case{FCORR_SUPPORT_ROTATION, "resectioning 0 of 4 cameras succeed"},
                        Case{FCORR_SUPPORT_FREEMOVE, "resectioning 4 of 4 cameras succeed"}}) {
    SCOPED_TRACE(c.line);
    kxtest::BundleSceneSpec spec = kxtest::SceneSpec(4, 30, 4);
    spec.link_flags = c.link_flags;
    BundleScene scene = kxtest::MakeBundleScene(spec);
    BundleAdjusterSubset adjuster;
    kxtest::LogCapture log(5);
    EXPECT_TRUE(adjuster.CameraResection(scene.images));
    EXPECT_TRUE(log.Has(c.line)) << log.text;
  }
}

}  // namespace
