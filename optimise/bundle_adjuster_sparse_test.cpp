#include "optimise/bundle_adjuster_sparse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "optimise/bundle_scene_for_test.h"
#include "optimise/callback_for_test.h"
#include "optimise/optimizer_sparse_lm.h"
#include "testing/log_capture.h"

namespace {

using kxtest::BundleScene;
using kxtest::BundleSceneSpec;

struct Snapshot {
  std::vector<vm::Vector3> centres, axes;
  std::vector<double> points;
};

Snapshot Take(const BundleScene& scene) {
  Snapshot s;
  for (const SharedPtr<FeatureImage>& image : scene.images) {
    s.centres.push_back(image->GetC());
    s.axes.push_back(image->GetA());
  }
  for (const SharedPtr<FeaturePoint3D>& p : scene.points) {
    s.points.push_back(p->x);
    s.points.push_back(p->y);
    s.points.push_back(p->z);
  }
  return s;
}

bool Same(const Snapshot& a, const Snapshot& b) {
  for (size_t i = 0; i < a.centres.size(); ++i)
    if (a.centres[i].x != b.centres[i].x || a.centres[i].z != b.centres[i].z ||
        a.axes[i].x != b.axes[i].x || a.axes[i].y != b.axes[i].y)
      return false;
  return a.points == b.points;
}

BundleScene NoisyScene(bool rotation_only) {
  BundleSceneSpec spec = kxtest::SceneSpec(8, 60, 5);
  spec.rotation_only = rotation_only;
  BundleScene scene = kxtest::MakeBundleScene(spec);
  kxtest::PerturbBundleScene(scene, 21, 0.01, 30.0, 1.0);
  return scene;
}

// Free motion over the whole list: the reprojection error reaches the noise, a camera
// that had a principal-point offset has it at the image centre, and the results are set.
TEST(BundleAdjusterSparseTest, FreeMotionReachesTheNoiseAndCentresThePrincipalPoint) {
  BundleScene scene = NoisyScene(false);
  scene.images[3]->SetCenterPointX(4.0);
  BundleAdjusterSparse adjuster;
  const double before = std::sqrt(BundleAdjuster::GetMSE(scene.images, true));
  ASSERT_TRUE(adjuster.Run(scene.images, 0));
  const double rmse = std::sqrt(BundleAdjuster::GetMSE(scene.images, true));
  EXPECT_GT(before, 2.0);
  EXPECT_LT(rmse, 0.5);
  EXPECT_GT(rmse, 0.3);
  EXPECT_EQ(adjuster.GetFImageList().size(), scene.images.size());
  EXPECT_NEAR(scene.images[3]->GetCenterPointX(), 0.0, 1e-9);
  EXPECT_DOUBLE_EQ(adjuster.m_final_rmse, rmse);
  EXPECT_GE(adjuster.m_iterations, 1.0);
  EXPECT_GT(adjuster.m_mean_point_std_dev, 0.0);
  EXPECT_LT(adjuster.m_mean_point_std_dev, 50.0);  // mm, for points 5 m away
  EXPECT_EQ(adjuster.m_pixel_width, 0.1);
}

// Rotation only: the noise is reached and every camera ends at the origin.
TEST(BundleAdjusterSparseTest, RotationOnlyReachesTheNoiseAndCentresTheCameras) {
  BundleScene scene = NoisyScene(true);
  SetCameraCentre(*scene.images[2], {10.0, 0.0, 0.0});
  BundleAdjusterSparse adjuster;
  adjuster.m_parameter.m_estimate_model = 1;
  adjuster.m_parameter.m_parameter_mask = 0xE002;
  ASSERT_TRUE(adjuster.Run(scene.images, 0));
  const double rmse = std::sqrt(BundleAdjuster::GetMSE(scene.images, true));
  EXPECT_LT(rmse, 0.5);
  EXPECT_GT(rmse, 0.3);
  for (const SharedPtr<FeatureImage>& image : scene.images) EXPECT_EQ(image->GetC().Length(), 0.0);
  EXPECT_GT(adjuster.m_mean_point_std_dev, 0.0);
}

// Optimize(n) keeps the last n images for good; 0 empties the list.
TEST(BundleAdjusterSparseTest, OptimizeKeepsTheLastImages) {
  BundleScene scene = NoisyScene(false);
  struct Case {
    unsigned n;
    size_t kept;
    bool result;
  };
  for (const Case& c : {Case{5, 5, true}, Case{8, 8, true}, Case{20, 8, true}, Case{0, 0, false}}) {
    SCOPED_TRACE(c.n);
    BundleAdjusterSparse adjuster;
    adjuster.SetFImageList(scene.images);
    kxtest::LogCapture log;
    EXPECT_EQ(adjuster.Optimize(c.n), c.result);
    ASSERT_EQ(adjuster.GetFImageList().size(), c.kept);
    for (size_t i = 0; i < c.kept; ++i)
      EXPECT_EQ(adjuster.GetFImageList()[i].Get(), scene.images[8 - c.kept + i].Get());
  }
}

// Failures leave cameras and points as they were: an unknown model, a failing
// optimizer (no free camera parameter), and a user's stop, which passes through.
TEST(BundleAdjusterSparseTest, FailuresLeaveTheSceneUntouched) {
  BundleScene scene = NoisyScene(false);
  const Snapshot before = Take(scene);
  {
    BundleAdjusterSparse adjuster;
    adjuster.m_parameter.m_estimate_model = 2;
    kxtest::LogCapture log;
    EXPECT_FALSE(adjuster.Run(scene.images, 0));
    EXPECT_TRUE(log.Has("unknown estimate model 2"));
  }
  {
    BundleAdjusterSparse adjuster;
    adjuster.m_parameter.m_parameter_mask = 0;
    kxtest::LogCapture log;
    EXPECT_FALSE(adjuster.Run(scene.images, 0));
    EXPECT_TRUE(
        log.Has("stopped with error \"OptimizerSparseLM::Optimize: empty model data set\""));
  }
  {
    kxtest::CallbackForTest observer(2);
    SparseObserverScope scope(OptimizerSparseLM_RTKFPoint3D::s_observer, &observer);
    BundleAdjusterSparse adjuster;
    unsigned stopped = 1000;
    try {
      adjuster.Run(scene.images, 0);
    } catch (unsigned iteration) {
      stopped = iteration;
    }
    EXPECT_EQ(stopped, 0u);
  }
  EXPECT_TRUE(Same(before, Take(scene)));
}

}  // namespace
