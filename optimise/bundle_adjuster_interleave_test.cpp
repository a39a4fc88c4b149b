#include "optimise/bundle_adjuster_interleave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "foundation/runtime/worker_pool.h"
#include "optimise/bundle_scene_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::BundleScene;

BundleScene NoisyScene(bool rotation_only, int cameras = 8, int points = 80) {
  kxtest::BundleSceneSpec spec = kxtest::SceneSpec(cameras, points, 5);
  spec.rotation_only = rotation_only;
  BundleScene scene = kxtest::MakeBundleScene(spec);
  kxtest::PerturbBundleScene(scene, 21, 0.003, 10.0, 0.3);
  return scene;
}

double Rmse(const BundleScene& scene) {
  return std::sqrt(BundleAdjuster::GetMSE(scene.images, true));
}

// Every camera and point value, for bit-exact comparisons.
std::vector<double> State(const BundleScene& scene) {
  std::vector<double> s;
  for (const SharedPtr<FeatureImage>& image : scene.images) {
    const vm::Vector3 c = image->GetC(), a = image->GetA(), h = image->GetH();
    for (double v : {c.x, c.y, c.z, a.x, a.y, a.z, h.x, h.y, h.z, image->GetFocalLength()})
      s.push_back(v);
  }
  for (const SharedPtr<FeaturePoint3D>& p : scene.points) {
    for (double v : {p->x, p->y, p->z}) s.push_back(v);
    for (int i = 0; i < 9; ++i) s.push_back(p->GetCoVariance(i / 3, i % 3));
  }
  return s;
}

class PoolThreads {
 public:
  explicit PoolThreads(int n) : saved_(WorkerPool::GetNumberOfThreads()) {
    WorkerPool::SetNumberOfThreads(n);
  }
  ~PoolThreads() { WorkerPool::SetNumberOfThreads(saved_); }

 private:
  int saved_;
};

// Triangulation and resection: the error falls to the noise, and the result is the same
// bit for bit whatever the number of pool threads.
TEST(BundleAdjusterInterleaveTest, TriangulateAndResectReachesTheNoiseOnAnyThreadCount) {
  std::vector<double> reference;
  for (int threads : {1, 2, -64}) {
    SCOPED_TRACE(threads);
    PoolThreads pool(threads);
    BundleScene scene = NoisyScene(false);
    const double before = Rmse(scene);
    BundleAdjusterInterleave adjuster;
    EXPECT_EQ(adjuster.GetNumberOfTriangulators(), std::max(1, WorkerPool::GetNumberOfThreads()));
    adjuster.GetParameter().m_max_iterations = 10;
    EXPECT_TRUE(adjuster.Run(scene.images, 0));
    EXPECT_EQ(adjuster.GetPointList().size(), scene.points.size());
    const double after = Rmse(scene);
    EXPECT_LT(after, before);
    EXPECT_LT(after, 0.8);
    if (reference.empty())
      reference = State(scene);
    else
      EXPECT_EQ(State(scene), reference);
  }
}

// Mode 0 moves no direction point: they have no position to triangulate.
TEST(BundleAdjusterInterleaveTest, TriangulationLeavesDirectionPointsAlone) {
  BundleScene scene = NoisyScene(true);
  std::vector<double> before;
  for (const SharedPtr<FeaturePoint3D>& p : scene.points)
    for (double v : {p->x, p->y, p->z}) before.push_back(v);
  BundleAdjusterInterleave adjuster;
  adjuster.GetParameter().m_max_iterations = 1;
  adjuster.GetParameter().m_parameter_mask = 0xE002;
  EXPECT_TRUE(adjuster.Run(scene.images, 0));
  std::vector<double> after;
  for (const SharedPtr<FeaturePoint3D>& p : scene.points)
    for (double v : {p->x, p->y, p->z}) after.push_back(v);
  EXPECT_EQ(after, before);
}

// Point optimizers and per-camera resection, free motion and pure rotation: the error
// falls to the noise and the first camera never moves.
TEST(BundleAdjusterInterleaveTest, PointOptimizersReachTheNoiseAndHoldTheFirstCamera) {
  struct Case {
    const char* name;
    bool rotation_only;
    bool rotation_axes;
    bool per_camera;
  };
  for (const Case& c :
       {Case{"free motion", false, false, false}, Case{"rotation", true, false, false},
        Case{"rotation axes per camera", true, true, true}}) {
    SCOPED_TRACE(c.name);
    BundleScene scene = NoisyScene(c.rotation_only);
    const double before = Rmse(scene);
    const std::vector<double> first = State(scene);
    BundleAdjusterInterleave adjuster;
    BundleAdjusterInterleave::Parameter& p = adjuster.GetParameter();
    p.m_mode = 1;
    p.m_rotation_axes = c.rotation_axes;
    p.m_per_camera = c.per_camera;
    adjuster.Run(scene.images, 0);
    const double after = Rmse(scene);
    EXPECT_LT(after, before);
    EXPECT_LT(after, 0.8);
    const std::vector<double> now = State(scene);
    EXPECT_EQ(std::vector<double>(now.begin(), now.begin() + 10),
              std::vector<double>(first.begin(), first.begin() + 10));
  }
}

// The joint rotation-axes estimation about the origin: a tripod shot of Cartesian points.
TEST(BundleAdjusterInterleaveTest, JointRotationAxesReachesTheNoise) {
  BundleScene scene = NoisyScene(true);
  std::mt19937 random(3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (size_t j = 0; j < scene.points.size(); ++j) {
    const vm::Vector3 w = kxtest::DirectionToWorld(scene.true_points[j].x, scene.true_points[j].y);
    FeaturePoint3D& p = *scene.points[j];
    p.SetCS(FeaturePoint3D::eCartesian);
    p.x = w.x + 5.0 * unit(random);
    p.y = w.y + 5.0 * unit(random);
    p.z = w.z + 5.0 * unit(random);
  }
  const double before = Rmse(scene);
  BundleAdjusterInterleave adjuster;
  adjuster.GetParameter().m_mode = 1;
  adjuster.GetParameter().m_rotation_axes = true;
  EXPECT_TRUE(adjuster.Run(scene.images, 0));
  EXPECT_LT(Rmse(scene), before);
  EXPECT_LT(Rmse(scene), 0.8);
}

TEST(BundleAdjusterInterleaveTest, EmptyListAndZeroPasses) {
  BundleAdjusterInterleave adjuster;
  {
    kxtest::LogCapture log;
    EXPECT_TRUE(adjuster.Run({}, 3));
    EXPECT_TRUE(log.Has("empty list of fimages"));
  }
  BundleScene scene = NoisyScene(false);
  const double before = Rmse(scene);
  adjuster.GetParameter().m_mode = 1;
  adjuster.GetParameter().m_max_iterations = 0;
  kxtest::LogCapture log(5);
  adjuster.Run(scene.images, 0);
  EXPECT_TRUE(log.Has("finished after 0 iterations with RMSE 1000000000000000.000000 [pel]"));
  EXPECT_TRUE(log.Has("BundleAdjusterInterleave::Optimize: final  RMSE"));
  EXPECT_LT(Rmse(scene), before);  // the final point step still ran
}

// Only features with a link carrying a support bit take part; mask 0 takes links whose
// flags are 0. A point seen once keeps its position.
TEST(BundleAdjusterInterleaveTest, SupportMaskSelectsFeaturesAndLonePointsStay) {
  struct Case {
    const char* name;
    uint32_t link_flags;
    int support_mask;
    bool moves;
  };
  for (const Case& c :
       {Case{"matching bit", FCORR_SUPPORT_FREEMOVE, FCORR_SUPPORT_FREEMOVE, true},
        Case{"no matching bit", FCORR_SUPPORT_ROTATION, FCORR_SUPPORT_FREEMOVE, false},
        Case{"mask 0, flags 0", 0, 0, true},
        Case{"mask 0, flags set", FCORR_SUPPORT_TRUE, 0, false}}) {
    SCOPED_TRACE(c.name);
    kxtest::BundleSceneSpec spec = kxtest::SceneSpec(4, 20, 4);
    spec.link_flags = c.link_flags;
    BundleScene scene = kxtest::MakeBundleScene(spec);
    kxtest::PerturbBundleScene(scene, 5, 0.0, 10.0, 0.0);
    // One extra point seen by one image only.
    SharedPtr<FeaturePoint3D> lone =
        SharedPtr<FeaturePoint3D>::Make(1.0, 2.0, 3.0, FeaturePoint3D::eCartesian);
    SharedPtr<FeaturePoint2D> f = SharedPtr<FeaturePoint2D>::Make(scene.images[1].Get(), 5.0, 6.0);
    f->SetFPoint3D(lone);
    scene.images[1]->AddFPoint2D(f);
    const double x0 = scene.points[0]->x;
    BundleAdjusterInterleave adjuster;
    adjuster.GetParameter().m_mode = 1;
    adjuster.GetParameter().m_support_mask = c.support_mask;
    adjuster.GetParameter().m_max_iterations = 1;
    kxtest::LogCapture log;
    adjuster.Run(scene.images, 0);
    EXPECT_EQ(scene.points[0]->x != x0, c.moves);
    EXPECT_EQ(lone->x, 1.0);
    EXPECT_EQ(lone->z, 3.0);
  }
}

}  // namespace
