#include "optimise/update_fpoint3d.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "features/feature_correspondence_iterator.h"
#include "foundation/runtime/worker_pool.h"
#include "optimise/bundle_scene_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::BundleScene;

// A free-motion scene whose tracks carry no 3D points yet.
BundleScene CleanScene(int cameras, int points, uint32_t flags, double noise = 0.2) {
  kxtest::BundleSceneSpec spec = kxtest::SceneSpec(cameras, points, cameras);
  spec.noise_px = noise;
  spec.link_flags = flags;
  BundleScene scene = kxtest::MakeBundleScene(spec);
  for (auto& image : scene.images)
    for (size_t i = 0; i < image->GetFPoints2D().size(); ++i)
      image->GetFPoints2D()[i]->SetFPoint3D(SharedPtr<FeaturePoint3D>());
  return scene;
}

// The backward links of the newest image.
UpdateFPoint3D::t_ListFCorr NewestLinks(const BundleScene& scene) {
  UpdateFPoint3D::t_ListFCorr corrs;
  FeatureCorrespondenceIterator it(scene.images.back().Get(), FCORR_SUPPORT_TRUE, true);
  for (auto c = it.Next(); c; c = it.Next()) corrs.push_back(c);
  return corrs;
}

struct UpdateRun {
  bool ok = false;
  UpdateFPoint3D::Counts counts;
  UpdateFPoint3D::PointList points;
};

UpdateRun Update(const BundleScene& scene, const UpdateFPoint3D::t_ListFCorr& corrs,
                 unsigned min_obs = 2, bool check_disp = true, bool unlimited = false,
                 bool reverse = false, const UpdateFPoint3D::ImageList* images = nullptr) {
  UpdateFPoint3D update;
  UpdateRun run;
  run.ok =
      update.Update3DFPMaximumLikelihood(corrs, images ? *images : scene.images, run.points,
                                         nullptr, nullptr, min_obs, check_disp, unlimited, reverse);
  run.counts = update.GetLastCounts();
  return run;
}

const FeaturePoint3D* PointOf(const SharedPtr<FeatureCorrespondence>& c) {
  return c->GetSecond()->GetFPoint3D().Get();
}

TEST(UpdateFPoint3D, SameNewPointsForOneTwoAndAllThreads) {
  const int all = std::max(2u, std::thread::hardware_concurrency());
  std::vector<std::vector<vm::Vector3>> results;
  for (int threads : {1, 2, all}) {
    SCOPED_TRACE(threads);
    WorkerPool::SetNumberOfThreads(threads);
    BundleScene scene = CleanScene(6, 300, FCORR_SUPPORT_TRUE);
    const auto corrs = NewestLinks(scene);
    const UpdateRun run = Update(scene, corrs);
    ASSERT_TRUE(run.ok);
    EXPECT_EQ(run.counts.created, corrs.size());
    EXPECT_EQ(run.points.size(), corrs.size());
    for (size_t i = 0; i < run.points.size(); ++i) EXPECT_EQ(run.points[i]->GetId(), int(i));
    std::vector<vm::Vector3> per_track;
    for (size_t i = 0; i < corrs.size(); ++i) {
      const FeaturePoint3D* p = PointOf(corrs[i]);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(corrs[i]->GetFirst()->GetFPoint3D().Get(), p);
      per_track.push_back(*p);
    }
    results.push_back(per_track);
  }
  WorkerPool::SetNumberOfThreads(0);
  for (size_t r = 1; r < results.size(); ++r)
    for (size_t i = 0; i < results[0].size(); ++i) {
      EXPECT_EQ(results[r][i].x, results[0][i].x);
      EXPECT_EQ(results[r][i].y, results[0][i].y);
      EXPECT_EQ(results[r][i].z, results[0][i].z);
    }
}

TEST(UpdateFPoint3D, NewPointsMatchTheTruthAndLinkTheTrack) {
  BundleScene scene = CleanScene(6, 40, FCORR_SUPPORT_TRUE, 0.1);
  const auto corrs = NewestLinks(scene);
  const UpdateRun run = Update(scene, corrs);
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(run.counts.longest_new_chain, 6u);
  for (size_t j = 0; j < scene.points.size(); ++j) {
    // Every track runs over all six images; its features all carry the one new point.
    const auto& image0 = scene.images.front();
    const FeaturePoint3D* p = image0->GetFPoints2D()[j]->GetFPoint3D().Get();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->GetCS(), FeaturePoint3D::eCartesian);
    EXPECT_EQ(p->GetNumMeasurements(), 6u);
    EXPECT_LT((vm::Vector3(*p) - scene.true_points[j]).Length(), 50.0);
  }
}

TEST(UpdateFPoint3D, RefusedRequestsChangeNothing) {
  BundleScene scene = CleanScene(3, 5, FCORR_SUPPORT_TRUE);
  const auto corrs = NewestLinks(scene);
  kxtest::LogCapture log;
  UpdateFPoint3D::ImageList one = {scene.images.back()};
  EXPECT_FALSE(Update(scene, corrs, 2, true, false, false, &one).ok);
  EXPECT_TRUE(log.Has("image list less than 2 !"));
  EXPECT_FALSE(Update(scene, {}).ok);
  EXPECT_TRUE(log.Has("correspondence list empty"));
  EXPECT_EQ(PointOf(corrs[0]), nullptr);
}

TEST(UpdateFPoint3D, GatesOnExistingPointsObservationsAndParallax) {
  struct Case {
    const char* name;
    bool keep_points;
    uint32_t flags;
    unsigned min_obs;
    double min_displacement;
    int err;  // counter expected for every track, 0 = none
    unsigned updated, created;
  };
  const uint32_t t = FCORR_SUPPORT_TRUE, fm = FCORR_SUPPORT_TRUE | FCORR_SUPPORT_FREEMOVE;
  const Case cases[] = {
      {"cartesian point without free-move support", true, t, 2, 5.0, 12, 0, 0},
      {"free-move support re-triangulates", true, fm, 2, 5.0, 0, 10, 0},
      {"too few observations", false, t, 7, 5.0, 11, 0, 0},
      {"too little parallax", false, t, 2, 1e6, 5, 0, 0},
      {"new points", false, t, 6, 5.0, 0, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::BundleSceneSpec spec = kxtest::SceneSpec(6, 10, 6);
    spec.noise_px = 0.2;
    spec.link_flags = c.flags;
    BundleScene scene = kxtest::MakeBundleScene(spec);
    if (!c.keep_points) scene = CleanScene(6, 10, c.flags);
    UpdateFPoint3D update;
    UpdateFPoint3D::Parameter parameter;
    parameter.m_min_displacement = c.min_displacement;
    update.SetParameter(parameter);
    UpdateFPoint3D::PointList points;
    const auto corrs = NewestLinks(scene);
    ASSERT_TRUE(update.Update3DFPMaximumLikelihood(corrs, scene.images, points, nullptr, nullptr,
                                                   c.min_obs, true, false, false));
    const auto& counts = update.GetLastCounts();
    if (c.err != 0) {
      EXPECT_EQ(counts.err[c.err], 10u);
    }
    EXPECT_EQ(counts.updated, c.updated);
    EXPECT_EQ(counts.created, c.created);
    EXPECT_EQ(points.size(), c.created);
  }
}

TEST(UpdateFPoint3D, OutlyingObservationAcceptedOnlyForManualFeatures) {
  for (bool manual : {false, true}) {
    SCOPED_TRACE(manual);
    BundleScene scene = CleanScene(6, 1, FCORR_SUPPORT_TRUE, 0.0);
    // One observation 2.5 px off: the mean error stays below 1 px, the largest does not.
    scene.images[2]->GetFPoints2D()[0]->x += 2.5;
    const auto corrs = NewestLinks(scene);
    if (manual) corrs[0]->GetSecond()->SetFlags(FP2D_FLAG_MANUAL);
    const UpdateRun run = Update(scene, corrs);
    EXPECT_EQ(run.counts.err[13], 1u);
    EXPECT_EQ(run.counts.err[14], manual ? 1u : 0u);
    ASSERT_EQ(run.points.size(), manual ? 1u : 0u);
    if (manual) {
      EXPECT_TRUE(run.points[0]->TestFlags(FP3D_FLAG_FROM_MANUAL));
    }
  }
}

TEST(UpdateFPoint3D, BadExistingPointIsFlaggedUnlessManual) {
  for (bool manual : {false, true}) {
    SCOPED_TRACE(manual);
    kxtest::BundleSceneSpec spec = kxtest::SceneSpec(6, 1, 6);
    spec.noise_px = 8.0;
    spec.link_flags = FCORR_SUPPORT_TRUE | FCORR_SUPPORT_FREEMOVE;
    BundleScene scene = kxtest::MakeBundleScene(spec);
    const auto corrs = NewestLinks(scene);
    if (manual) corrs[0]->GetSecond()->SetFlags(FP2D_FLAG_MANUAL);
    kxtest::LogCapture log(4);
    const UpdateRun run = Update(scene, corrs);
    const FeaturePoint3D& p = *scene.points[0];
    EXPECT_EQ(run.counts.err[10], manual ? 0u : 1u);
    EXPECT_EQ(run.counts.err[15], manual ? 1u : 0u);
    EXPECT_EQ(p.TestFlags(FP3D_FLAG_REMOVED), !manual);
    EXPECT_EQ(p.GetStateWord(0), manual ? 0u : FP3D_STATE_REMOVED_BY_UPDATE);
    EXPECT_EQ(log.Has("REMOVED FP"), !manual);
    EXPECT_EQ(PointOf(corrs[0]), &p);  // links stay
  }
}

TEST(UpdateFPoint3D, ChainLengthFollowsTheImageList) {
  for (bool unlimited : {false, true}) {
    SCOPED_TRACE(unlimited);
    BundleScene scene = CleanScene(6, 5, FCORR_SUPPORT_TRUE);
    // Only the newest three images take part; the observations come from those.
    UpdateFPoint3D::ImageList last3(scene.images.end() - 3, scene.images.end());
    const auto corrs = NewestLinks(scene);
    const UpdateRun run = Update(scene, corrs, 2, true, unlimited, false, &last3);
    ASSERT_EQ(run.counts.created, 5u);
    EXPECT_EQ(run.counts.longest_new_chain, 3u);
    for (int i = 0; i < 6; ++i) {
      const bool linked = unlimited || i >= 3;
      EXPECT_EQ(bool(scene.images[size_t(i)]->GetFPoints2D()[0]->GetFPoint3D()), linked) << i;
    }
  }
}

TEST(UpdateFPoint3D, ReverseFollowsTracksForward) {
  BundleScene scene = CleanScene(5, 8, FCORR_SUPPORT_TRUE);
  UpdateFPoint3D::t_ListFCorr corrs;
  FeatureCorrespondenceIterator it(scene.images.front().Get(), FCORR_SUPPORT_TRUE, false);
  for (auto c = it.Next(); c; c = it.Next()) corrs.push_back(c);
  const UpdateRun run = Update(scene, corrs, 5, true, false, true);
  EXPECT_EQ(run.counts.created, 8u);
  EXPECT_EQ(run.counts.longest_new_chain, 5u);
  for (const auto& c : corrs) EXPECT_TRUE(c->GetFirst()->GetFPoint3D());
  for (const auto& image : scene.images)
    for (size_t i = 0; i < image->GetFPoints2D().size(); ++i)
      EXPECT_TRUE(image->GetFPoints2D()[i]->GetFPoint3D());
}

// Keeps each line's level.
struct LevelCapture : kxtest::LogCapture {
  LevelCapture() : kxtest::LogCapture(5) {}
  void Output(const SharedPtr<NotifyMessage>& message) override {
    kxtest::LogCapture::Output(message);
    levels.push_back(message->level);
  }
  int LevelOf(const std::string& part) const {
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].find(part) != std::string::npos) return levels[i];
    return -1;
  }
  std::vector<int> levels;
};

TEST(UpdateFPoint3D, CountersGoToLevelTwoFromAQuarter) {
  struct Case {
    unsigned err3;
    int level;
  };
  for (const Case c : {Case{3, 2}, Case{2, 5}}) {
    SCOPED_TRACE(c.err3);
    UpdateFPoint3D update;
    UpdateFPoint3D::Counts counts;
    counts.err[3] = c.err3;
    counts.err[17] = 1;
    LevelCapture log;
    update.ReportErrorCounters(counts, 10, 2);
    EXPECT_EQ(log.LevelOf("Triangulation failed (" + std::to_string(c.err3) + "/10 times)"),
              c.level);
    EXPECT_EQ(log.LevelOf("CREATE A NEW BUT FOUND AN OLD 3DFP (1/10 times)"), 2);
  }
}

// Runs under ThreadSanitizer too: a viewer holding the read lock sees the list whole.
TEST(UpdateFPoint3DConcurrency, ReaderUnderReadLockSeesAConsistentList) {
  WorkerPool::SetNumberOfThreads(4);
  BundleScene scene = CleanScene(4, 2000, FCORR_SUPPORT_TRUE);
  const auto corrs = NewestLinks(scene);
  UpdateFPoint3D update;
  UpdateFPoint3D::PointList points;
  ReadWriteSpinLock lock;
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!done.load()) {
      lock.LockRead();
      for (size_t i = 0; i < points.size(); ++i)
        if (!points[i] || points[i]->GetId() != int(i)) ++bad;
      lock.UnlockRead();
    }
  });
  EXPECT_TRUE(update.Update3DFPMaximumLikelihood(corrs, scene.images, points, &lock, nullptr, 2,
                                                 true, false, false));
  done = true;
  reader.join();
  WorkerPool::SetNumberOfThreads(0);
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(points.size(), update.GetLastCounts().created);
  EXPECT_GT(points.size(), 1000u);
}

}  // namespace
