#include "tracking/job/camera_tracking_manager.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "features/feature_correlator_syn.h"
#include "features/frame_sequence_for_test.h"
#include "features/optical_flow_correlator.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/random_generator.h"
#include "foundation/tracks/feature_flags.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_ptrz.h"
#include "image/packed_string_list.h"
#include "optimise/camera_estimator_ptrz.h"
#include "testing/log_capture.h"
#include "testing/thrown.h"
#include "tracking/maps/feature_map_move.h"
#include "tracking/maps/feature_map_sphere.h"
#include "tracking/storage/project_job_for_test.h"

namespace {

using kxtest::LogCapture;
using kxtest::Thrown;
using FeaturePtr = SharedPtr<FeaturePoint2D>;

// A map whose stages only count and answer as told.
class FakeMap : public FeatureMap {
 public:
  bool Init(SharedPtr<FeatureImage>& image) override {
    init_images.push_back(image.Get());
    if (!init_ok) return false;
    ClearImages();
    m_fimage_list.push_back(image);
    m_initialised = true;
    return true;
  }
  bool Match(SharedPtr<FeatureImage>& image) override {
    ++matches;
    m_correlator = m_correlator_template;
    AppendImage(image);
    return match_ok;
  }
  bool OutlierElimination() override {
    ++outliers;
    return outlier_ok;
  }
  bool CameraEstimation() override {
    ++cameras;
    return camera_ok;
  }
  bool FinalEstimation() override {
    if (final_text) throw final_text;
    return true;
  }
  bool Refinement() override { return true; }
  void GetMSE() override {}
  // As if an earlier Match had run with the template.
  void SetWorkingCorrelator() { m_correlator = m_correlator_template; }

  std::vector<FeatureImage*> init_images;
  int matches = 0, outliers = 0, cameras = 0;
  bool init_ok = true, match_ok = true, outlier_ok = true, camera_ok = true;
  const char* final_text = nullptr;
};

// A correlator that reports a given lost ratio.
class LossyCorrelator : public FeatureCorrelator {
 public:
  int32_t Compute() override { return 0; }
  SharedPtr<FeatureCorrelator> Clone() override { return nullptr; }
  double GetLostRatio() const override { return ratio; }
  double ratio = 0.0;
};

// The manager with its job's state open to the tests.
class TestManager : public CameraTrackingManager {
 public:
  using CameraTrackingManager::m_first_image_index;
  using CameraTrackingManager::m_reverse;
  using CTrackMgrRoot::m_init_camera;

  // n frames with image index = position and file index 100 + position, and an initial
  // camera.
  void AddImages(int n) {
    for (int k = 0; k < n; ++k) {
      auto image = SharedPtr<FeatureImage>::Make(this);
      image->SetImageIndex(int32_t(m_image_list.size()));
      image->SetFileIndex(100 + int32_t(m_image_list.size()));
      m_image_list.push_back(image);
    }
    if (!m_init_camera) m_init_camera = std::make_unique<PerspectiveCamera>();
  }
  FeatureImage& Image(int k) { return *m_image_list[k]; }
};

// A manager whose current map is a FakeMap working with a LossyCorrelator.
struct FakeJob {
  explicit FakeJob(int n) {
    map = SharedPtr<FakeMap>::Make();
    correlator = SharedPtr<LossyCorrelator>::Make();
    map->SetCorrelatorTemplate(correlator);
    map->SetWorkingCorrelator();
    manager.m_fmap = map;
    manager.AddImages(n);
  }
  TestManager manager;
  SharedPtr<FakeMap> map;
  SharedPtr<LossyCorrelator> correlator;
};

TEST(CameraTrackingManagerTest, ComputeRefusesWhatItCannotRun) {
  struct Case {
    const char* name;
    int images;
    unsigned index;
    bool map, init_camera, init_ok;
    const char* thrown;
  } const cases[] = {
      {"minus one", 3, unsigned(-1), true, true, true, "bad index"},
      {"past the end", 3, 3, true, true, true, "bad index"},
      {"no map", 3, 0, false, true, true, "FMap not set"},
      {"one image", 1, 0, true, true, true, "no. of images < 2"},
      {"no initial camera", 3, 0, true, false, true, "init camera not set"},
      {"init fails", 3, 0, true, true, false, "FMap init failed"},
      {"starts", 3, 2, true, true, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeJob job(c.images);
    if (!c.map) job.manager.m_fmap = nullptr;
    if (!c.init_camera) job.manager.m_init_camera.reset();
    job.map->init_ok = c.init_ok;
    LogCapture log(5);
    EXPECT_EQ(Thrown([&] { job.manager.Compute(c.index, 30); }), c.thrown);
    if (std::string(c.thrown) == "FMap init failed") {
      EXPECT_FALSE(log.Has("CameraTrackingManager::Compute: init"));
      EXPECT_FALSE(log.Has("FMap init failed"));
    }
    if (std::string(c.thrown) == "bad index") {
      EXPECT_TRUE(log.Has("bad index, index (" + std::to_string(c.index) +
                          ") >= frame sequence length (3) !"));
    }
  }
}

// Frame 0 starts the map; frame 1 runs with the given mask and correlator loss.
struct StepCase {
  const char* name;
  int mask;
  double lost;
  bool outlier_ok, camera_ok;
  int matches, outliers, cameras;
  size_t frames;     // in the map after frame 1 (0: restarted, frames kept)
  bool initialised;  // after frame 1
};

class ComputeSteps : public testing::TestWithParam<StepCase> {};

TEST_P(ComputeSteps, RunsTheStagesTheMaskAsksFor) {
  const StepCase& c = GetParam();
  FakeJob job(3);
  ASSERT_TRUE(job.manager.Compute(0, c.mask));
  EXPECT_EQ(job.map->init_images, std::vector<FeatureImage*>{&job.manager.Image(0)});
  EXPECT_EQ(job.map->matches + job.map->outliers + job.map->cameras, 0);

  job.correlator->ratio = c.lost;
  job.map->outlier_ok = c.outlier_ok;
  job.map->camera_ok = c.camera_ok;
  LogCapture log(4);
  EXPECT_TRUE(job.manager.Compute(1, c.mask));
  EXPECT_EQ(job.map->matches, c.matches);
  EXPECT_EQ(job.map->outliers, c.outliers);
  EXPECT_EQ(job.map->cameras, c.cameras);
  EXPECT_EQ(job.map->GetFImageList().size(), 2u);  // matched or appended
  EXPECT_EQ(job.map->IsInitialised(), c.initialised);
  if (c.lost > 0.9) {
    EXPECT_TRUE(log.Has("frame 1, switch to init state, tracked 0, lost 0, lost features "));
    EXPECT_EQ(log.text.find("%\n") != std::string::npos, true);
  }

  // A restarted map starts again with the next frame; the run goes on.
  EXPECT_TRUE(job.manager.Compute(2, c.mask));
  EXPECT_EQ(job.map->init_images.size(), c.initialised ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, ComputeSteps,
    testing::Values(
        StepCase{"AllStages", 2 | 8 | 16, 0.0, true, true, 1, 1, 1, 2, true},
        StepCase{"TaggedMatchOnly", 4, 0.0, true, true, 1, 0, 0, 2, true},
        StepCase{"OutlierWithoutMatch", 8, 0.0, true, true, 0, 1, 0, 2, true},
        StepCase{"CameraWithoutMatch", 16, 0.0, true, true, 0, 0, 1, 2, true},
        StepCase{"LostExactlyNinety", 2 | 8 | 16, 0.9, true, true, 1, 1, 1, 2, true},
        StepCase{"LostAboveNinety", 2 | 8 | 16, 0.9000001, true, true, 1, 0, 0, 2, false},
        // The loss of the last correlation counts on a frame that was not correlated.
        StepCase{"LostWithoutMatch", 8 | 16, 0.95, true, true, 0, 0, 0, 2, false},
        StepCase{"OutlierFailsCameraStillRuns", 2 | 8 | 16, 0.0, false, true, 1, 1, 1, 2, false},
        StepCase{"CameraFails", 2 | 8 | 16, 0.0, true, false, 1, 1, 1, 2, false}),
    [](const testing::TestParamInfo<StepCase>& info) { return info.param.name; });

TEST(CameraTrackingManagerTest, ReverseForcedRestartAndFailedMatch) {
  FakeJob job(4);
  job.manager.m_reverse = true;
  ASSERT_TRUE(job.manager.Compute(0, 2));
  EXPECT_EQ(job.map->init_images.back(), &job.manager.Image(3));
  ASSERT_TRUE(job.manager.Compute(1, 2));
  EXPECT_EQ(job.map->GetFImageList().back().Get(), &job.manager.Image(2));

  // A forced restart (reason 0 means 1) starts the map with this very frame.
  job.manager.ForceInit(0);
  ASSERT_TRUE(job.manager.Compute(2, 2));
  EXPECT_EQ(job.map->init_images.back(), &job.manager.Image(1));
  EXPECT_EQ(job.map->matches, 1);

  job.map->match_ok = false;
  EXPECT_EQ(Thrown([&] { job.manager.Compute(3, 2); }), "correspondences analysis failed");
}

TEST(CameraTrackingManagerTest, SwitchToInitialStateRestartsTheFreeMotionMapToo) {
  FakeJob job(3);
  ASSERT_TRUE(job.manager.Compute(0, 2));
  ASSERT_TRUE(job.map->IsInitialised());
  job.manager.SwitchToInitialState(1);
  EXPECT_FALSE(job.map->IsInitialised());
  // The frames stay until the next start (a final estimation may still want them).
  EXPECT_EQ(job.map->GetFImageList().size(), 1u);
  auto* move = dynamic_cast<FeatureMapMove*>(job.manager.m_fmap_move.Get());
  ASSERT_NE(move, nullptr);
  EXPECT_TRUE(move->GetKeyFrameSelect().GetKeyFrameList().empty());
}

TEST(CameraTrackingManagerTest, LiveMapRestartCarriesTheCameraOn) {
  FakeJob job(4);
  job.manager.m_fmap_move_live = job.map;
  job.manager.m_first_image_index = 0;
  ASSERT_TRUE(job.manager.Compute(0, 2));  // the live map's last image has index 0: k = 1
  job.manager.Image(1).SetFocalLength(77.0);
  job.manager.SwitchToInitialState(3);
  EXPECT_FALSE(job.map->IsInitialised());
  EXPECT_DOUBLE_EQ(job.manager.Image(2).GetFocalLength(), 77.0);
}

TEST(CameraTrackingManagerTest, FinalEstimationCatchesTheStageText) {
  FakeJob job(3);
  EXPECT_TRUE(job.manager.ComputeFinalCameraEstimation());
  job.map->final_text = "FeatureMap: broken";
  LogCapture log(5);
  EXPECT_FALSE(job.manager.ComputeFinalCameraEstimation());
  EXPECT_TRUE(
      log.Has("CameraTrackingManager::ComputeFinalCameraEstimation: failed with message "
              "\"FeatureMap: broken\""));
  job.manager.m_fmap = nullptr;
  EXPECT_FALSE(job.manager.ComputeFinalCameraEstimation());
}

TEST(CameraTrackingManagerTest, ImageAccessorsRefuseBadPositions) {
  TestManager manager;
  manager.AddImages(3);
  manager.m_first_image_index = 10;
  struct Case {
    int index;
    bool by_image_index;
    int expected;  // list position, -1 null
  } const cases[] = {
      {0, false, 0}, {2, false, 2}, {3, false, -1}, {-1, false, -1},
      {10, true, 0}, {12, true, 2}, {9, true, -1},  {13, true, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.index) + (c.by_image_index ? " by image index" : ""));
    LogCapture log(5);
    const SharedPtr<FeatureImage>& image = c.by_image_index
                                               ? manager.GetFeatureImageFromImageIndex(c.index)
                                               : manager.GetFImage(static_cast<unsigned>(c.index));
    if (c.expected < 0) {
      EXPECT_FALSE(image);
      EXPECT_TRUE(log.Has(c.by_image_index ? "GetFeatureImageFromImageIndex: bad index: " +
                                                 std::to_string(c.index) + " (offset 10)"
                                           : "CameraTrackingManager::GetFImage: ("));
    } else {
      EXPECT_EQ(image.Get(), &manager.Image(c.expected));
      EXPECT_TRUE(log.lines.empty());
    }
  }
}

// Links later to earlier as the next feature of a track.
void Link(const FeaturePtr& earlier, const FeaturePtr& later) {
  auto link = SharedPtr<FeatureCorrespondence>::Make(earlier, later);
  link->SetFlags(FCORR_SUPPORT_TRUE | FCORR_SUPPORT_FREEMOVE);
  earlier->SetSuccessor(link);
  later->SetPredecessor(link);
}

// Three frames: an automatic track over frames 0-2 with a point, an automatic track over
// frames 1-2 whose point was removed, a manual track over frames 0-1 with a point, a
// lone automatic feature in frame 2, and in frame 0 an anchor linked to an anchor of
// frame 1.
struct TrackJob {
  TrackJob() {
    manager.AddImages(3);
    for (int k = 0; k < 3; ++k) image[k] = &manager.Image(k);
    point = SharedPtr<FeaturePoint3D>::Make(1.0, 2.0, 3.0, FeaturePoint3D::eCartesian);
    removed = SharedPtr<FeaturePoint3D>::Make(4.0, 5.0, 6.0, FeaturePoint3D::eCartesian);
    removed->SetFlags(FP3D_FLAG_REMOVED);
    manual_point = SharedPtr<FeaturePoint3D>::Make(7.0, 8.0, 9.0, FeaturePoint3D::eCartesian);
    auto_track = Track(0, 3, 0, point);
    short_track = Track(1, 2, 0, removed);
    manual_track = Track(0, 2, FP2D_FLAG_MANUAL, manual_point);
    lone = Track(2, 1, 0, nullptr);
    anchors[0] = FeaturePtr::Make(image[0], 5.0, 5.0);
    anchors[1] = FeaturePtr::Make(image[1], 5.0, 5.0);
    for (const FeaturePtr& a : anchors) {
      a->SetFlags(FP2D_FLAG_ANCHOR);
      a->SetFPoint3D(point);
    }
    image[0]->AddAnchor(anchors[0]);
    image[1]->AddAnchor(anchors[1]);
    Link(anchors[0], anchors[1]);
    manager.m_fmap->AppendImage(manager.GetImageList()[0]);
    manager.m_fmap->AddFPoint3D(point);
  }
  std::vector<FeaturePtr> Track(int first, int length, uint32_t flags,
                                const SharedPtr<FeaturePoint3D>& p) {
    std::vector<FeaturePtr> track;
    for (int k = first; k < first + length; ++k) {
      track.push_back(FeaturePtr::Make(image[k], 10.0 * k, 20.0 + flags));
      track.back()->AssignFlags(flags);
      track.back()->SetFPoint3D(p);
      image[k]->AddFPoint2D(track.back());
      if (track.size() > 1) Link(track[track.size() - 2], track.back());
    }
    return track;
  }
  int CountFeatures() const {
    int n = 0;
    for (FeatureImage* i : image) n += int(i->GetFPoints2D().size());
    return n;
  }

  TestManager manager;
  FeatureImage* image[3];
  SharedPtr<FeaturePoint3D> point, removed, manual_point;
  std::vector<FeaturePtr> auto_track, short_track, manual_track, lone;
  FeaturePtr anchors[2];
};

TEST(CameraTrackingManagerTest, ClearAllFlagsTable) {
  struct Case {
    int flags;
    bool map_reset, points, auto_links, manual_links, support;
    int features;  // of 8
  } const cases[] = {
      {0x00, false, true, true, true, true, 8},  {0x01, true, true, true, true, true, 8},
      {0x02, true, false, true, true, true, 8},  {0x04, false, true, false, true, true, 8},
      {0x08, false, true, true, false, true, 8}, {0x10, false, true, false, true, true, 2},
      {0x20, false, true, true, false, true, 6}, {0x40, false, true, true, true, false, 8},
      {63, true, false, false, false, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("flags " + std::to_string(c.flags));
    TrackJob job;
    job.manager.ClearAllFPointsAndResetFMap(c.flags);
    EXPECT_EQ(job.manager.m_fmap->GetFImageList().empty(), c.map_reset);
    EXPECT_EQ(job.manager.m_fmap->GetFPoint3DList().empty(), c.map_reset);
    EXPECT_EQ(job.CountFeatures(), c.features);
    EXPECT_EQ(bool(job.auto_track[0]->GetFPoint3D()), c.points);
    EXPECT_EQ(bool(job.manual_track[1]->GetFPoint3D()), c.points);
    EXPECT_EQ(bool(job.auto_track[1]->GetPredecessor()), c.auto_links);
    EXPECT_EQ(bool(job.auto_track[1]->GetSuccessor()), c.auto_links);
    EXPECT_EQ(bool(job.manual_track[0]->GetSuccessor()), c.manual_links);
    if (c.auto_links) {
      EXPECT_EQ(job.auto_track[1]->GetSuccessor()->GetFlags() != 0, c.support);
    }
    // Anchors are never touched.
    EXPECT_EQ(job.anchors[0]->GetFPoint3D(), job.point);
    ASSERT_TRUE(job.anchors[0]->GetSuccessor());
    EXPECT_NE(job.anchors[0]->GetSuccessor()->GetFlags(), 0u);
  }
}

TEST(CameraTrackingManagerTest, ClearAllReseedsTheSamplingGenerator) {
  TestManager manager;
  for (int i = 0; i < 5; ++i) SamplingRandomGenerator().Next();
  manager.ClearAllFPointsAndResetFMap(0);
  RandomGenerator fresh(4783);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(SamplingRandomGenerator().Next(), fresh.Next());
}

TEST(CameraTrackingManagerTest, QueriesAndFlagEdits) {
  TrackJob job;
  EXPECT_TRUE(job.manager.HasFPoints2D());
  EXPECT_TRUE(job.manager.HasManualFPoints());
  EXPECT_TRUE(job.manager.HasCameraTrackingResult());
  // Images still flagged "not estimated" do not count as a result.
  for (FeatureImage* i : job.image) i->SetFlags(FIMAGE_FLAG_NOT_ESTIMATED);
  EXPECT_FALSE(job.manager.HasCameraTrackingResult());

  // Track starts: the three track heads and the lone feature.
  EXPECT_EQ(job.manager.SetFPoint2DBitMask(1, 0x400, true), 4);
  EXPECT_TRUE(job.auto_track[0]->TestFlags(0x400));
  EXPECT_FALSE(job.auto_track[1]->TestFlags(0x400));
  EXPECT_EQ(job.manager.SetFPoint2DBitMask(0, 0x400, false), 4);
  EXPECT_EQ(job.manager.SetFPoint2DBitMask(0, 0x400, false), 0);
  EXPECT_EQ(job.manager.SetFPoint2DBitMask(2, 0x800, true), 4);  // track ends
  EXPECT_TRUE(job.auto_track[2]->TestFlags(0x800));
  LogCapture log(5);
  EXPECT_EQ(job.manager.SetFPoint2DBitMask(3, 0x800, false), 0);
  EXPECT_TRUE(log.Has("CameraTrackingManager::SetFPoint2DBitMask: unkown 2D feature type 3"));
  EXPECT_TRUE(job.auto_track[2]->TestFlags(0x800));

  job.manager.ClearAllFPointsAndResetFMap(0x30);
  EXPECT_FALSE(job.manager.HasFPoints2D());
  EXPECT_FALSE(job.manager.HasManualFPoints());
}

TEST(CameraTrackingManagerTest, TrackLengthStats) {
  TrackJob job;
  FeatureTrackLengthStats stats;
  // Spans 2 (automatic), 1 (removed point), 1 (manual); the lone feature is no track.
  EXPECT_EQ(job.manager.GetFeatureTrackLengthStats(&stats, CameraTrackingManager::eAll2DFeatures),
            3);
  EXPECT_EQ(stats.sum, 4.0);
  EXPECT_EQ(stats.sum_of_squares, 6.0);
  EXPECT_EQ(stats.count, 3u);
  EXPECT_EQ(stats.min, 1.0);
  EXPECT_EQ(stats.max, 2.0);
  EXPECT_EQ(job.manager.GetFeatureTrackLengthStats(&stats, CameraTrackingManager::eWith3DPoints),
            2);
  EXPECT_EQ(stats.sum, 3.0);
  EXPECT_EQ(stats.min, 1.0);
  EXPECT_EQ(stats.max, 2.0);
  EXPECT_EQ(job.manager.GetFeatureTrackLengthStats(&stats, 2), 0);
  EXPECT_EQ(stats.count, 0u);
  EXPECT_EQ(stats.sum, 0.0);
}

TEST(CameraTrackingManagerTest, RemoveFeatureTrackTakesTheSegmentOnly) {
  TrackJob job;
  job.manager.RemoveFeatureTracks(
      {{job.auto_track[1].Get(), job.auto_track[2].Get()}, {nullptr, job.manual_track[1].Get()}});
  EXPECT_EQ(job.CountFeatures(), 6);
  EXPECT_FALSE(job.auto_track[0]->GetSuccessor());
  EXPECT_TRUE(job.point->TestFlags(FP3D_FLAG_REMOVED));
  EXPECT_TRUE(job.manual_track[0]->GetSuccessor());
  // A segment whose last feature is not on the track runs to the track's end.
  job.manager.RemoveFeatureTrack({job.manual_track[0].Get(), job.lone[0].Get()});
  EXPECT_EQ(job.CountFeatures(), 4);
}

TEST(CameraTrackingManagerTest, TransformSceneMovesCamerasAndPoints) {
  TrackJob job;
  auto far = SharedPtr<FeaturePoint3D>::Make(2.0, 1.0, 1.0, FeaturePoint3D::eCartesian);
  job.manager.m_fmap->AddFPoint3D(far);
  const vm::Vector3 c0 = job.image[0]->GetC();
  // Cameras move by (10, 20, 30); for points w' = 2 - x: 1 for (1, 2, 3), 0 for far.
  const double m[16] = {1, 0, 0, 10, 0, 1, 0, 20, 0, 0, 1, 30, -1, 0, 0, 2};
  job.manager.TransformScene(m);
  EXPECT_DOUBLE_EQ(job.image[0]->GetC().x, c0.x + 10.0);
  EXPECT_DOUBLE_EQ(job.image[0]->GetC().z, c0.z + 30.0);
  EXPECT_DOUBLE_EQ(job.point->x, 11.0);
  EXPECT_DOUBLE_EQ(job.point->y, 22.0);
  EXPECT_DOUBLE_EQ(job.point->z, 33.0);
  EXPECT_EQ(far->x, 0.0);
  EXPECT_EQ(far->y, 0.0);
  EXPECT_EQ(far->z, 0.0);
}

TEST(CameraTrackingManagerTest, FindMaskKeyFrameLooksAtAbsoluteFrames) {
  TestManager manager;
  manager.AddImages(10);
  std::vector<Vertex> square(4);
  for (int i = 0; i < 4; ++i) square[i].SetKey(0, vm::Vector3{double(i & 1), double(i >> 1), 0});
  PolygonMask* mask = manager.GetVertexObjectPool().AddPolygonMask(10, square, 0);
  ASSERT_NE(mask, nullptr);
  mask->SetName("door");
  // A restored mask over frames 4..9 with keys at the absolute frames 0 and 7.
  mask->SetIndexRange(4, 9);
  mask->GetVertices().front().SetKey(7, vm::Vector3{0.5, 0.5, 0});
  EXPECT_EQ(manager.FindMaskKeyFrame(2, "door", false), 7);
  EXPECT_EQ(manager.FindMaskKeyFrame(2, nullptr, false), 7);
  EXPECT_EQ(manager.FindMaskKeyFrame(9, "door", true), 7);
  EXPECT_EQ(manager.FindMaskKeyFrame(7, "door", true), 0);
  EXPECT_EQ(manager.FindMaskKeyFrame(7, "window", true), -1);
  EXPECT_EQ(manager.FindMaskKeyFrame(9, "door", false), -1);
  EXPECT_EQ(manager.FindMaskKeyFrame(10, "door", true), -1);
}

TEST(CameraTrackingManagerTest, ClearKeepsTheImagesWithoutAMap) {
  TestManager manager;
  manager.AddImages(3);
  manager.SetFrameRange(1, 2, 3);
  SharedPtr<FeatureMap> map = manager.m_fmap;
  manager.m_fmap = nullptr;
  LogCapture log(5);
  manager.Clear();
  EXPECT_TRUE(log.Has("CameraTrackingManager::Clear: FMap not set !"));
  EXPECT_EQ(manager.GetImageList().size(), 3u);
  EXPECT_EQ(manager.GetFrameStep(), 1);
  manager.m_fmap = map;
  manager.Clear();
  EXPECT_TRUE(manager.GetImageList().empty());
  EXPECT_EQ(manager.GetInitCamera(), nullptr);
}

TEST(CameraTrackingManagerTest, NewManagerSetsUpItsCacheAndMap) {
  TestManager manager;
  EXPECT_EQ(manager.GetImageCache()->GetCapacity(), 100);
  EXPECT_EQ(manager.GetImageCache()->GetFieldMode(), 0);
  EXPECT_EQ(manager.m_fmap->GetManager(), &manager);
  EXPECT_EQ(manager.GetLinks().map, manager.m_fmap_move.Get());
  EXPECT_EQ(manager.GetLinks().image_owner, static_cast<FeatureImageOwner*>(&manager));
}

}  // namespace

namespace {

constexpr double kDeg = 180.0 / M_PI;

// 1000 pixels of 0.02 mm (a 20 mm lens on 1280 x 720) looking along z.
void SetTripodCamera(PerspectiveCamera& camera) {
  const double none[4] = {0, 0, 0, 0};
  camera.SetAll({0.0, 0.0, 0.0}, {0.0, 0.0, 1.0}, {1000.0, 0.0, 0.0}, {0.0, 1000.0, 0.0}, 1280, 720,
                0.02, 0.02, none, none, Poly3);
}

// A tripod pan tracked frame by frame through the manager with the pool's synthetic
// correlator, sampler and estimator on a pure-rotation map.
TEST(CameraTrackingManagerTest, SyntheticPanSolvesThroughTheManager) {
  constexpr int kFrames = 8;
  TestManager manager;
  manager.AddImages(kFrames);
  for (const SharedPtr<FeatureImage>& image : manager.GetImageList()) SetTripodCamera(*image);
  auto& syn = dynamic_cast<FeatureCorrelatorSyn&>(*manager.m_correlator_syn);
  syn.GetParameter() = FeatureCorrelatorSyn::Parameter(
      20000, 50000.0, 150000.0, 1.0, 0.3, 0.2, 0.0, 0.5, 2.0, 0.0, 0.0, 0.0, 50, nullptr, false,
      false, false, true, false, false, 0.0, 0.0, 0.0, 0.0, 0.0, 15.0, 1937);
  auto sphere = SharedPtr<FeatureMapSphere>::Make();
  sphere->GetParameter().m_estimate_focal = false;
  auto* sampler = dynamic_cast<RandSampling*>(manager.m_rand_sampling.Get());
  sampler->SetSampleCalculator(manager.m_sample_calculator_ptrz);
  sphere->SetOutlierDetector(manager.m_rand_sampling);
  sphere->SetCameraEstimator(manager.m_camera_estimator_ptrz);
  sphere->SetCorrelatorTemplate(manager.m_correlator_syn);
  manager.m_fmap = sphere;
  manager.ClearAllFPointsAndResetFMap(63);  // a new synthetic scene, numbered from 0

  for (int k = 0; k < kFrames; ++k) ASSERT_TRUE(manager.Compute(unsigned(k), 2 | 8 | 16));
  ASSERT_EQ(sphere->GetFImageList().size(), size_t(kFrames));

  PerspectiveCamera first;
  syn.GetCamera(0, first);
  double worst = 0.0;
  for (int n = 1; n < kFrames; ++n) {
    PerspectiveCamera truth;
    syn.GetCamera(n, truth);
    double tp, tt, tr, ep, et, er;
    GetCameraAngles(truth, tp, tt, tr, &first);
    GetCameraAngles(manager.Image(n), ep, et, er, &manager.Image(0));
    worst = std::max({worst, std::abs(tp - ep), std::abs(tt - et), std::abs(tr - er)});
  }
  EXPECT_LT(worst * kDeg, 1e-6);

  // Every frame's links live on: some track runs from the first frame to the last.
  int full_tracks = 0;
  for (const FeaturePtr& f : manager.Image(0).GetFPoints2D()) {
    FeaturePtr end = f;
    while (end->GetSuccessor()) end = end->GetSuccessor()->GetSecond();
    if (end->GetImage() == &manager.Image(kFrames - 1)) ++full_tracks;
  }
  EXPECT_GT(full_tracks, 100);
  EXPECT_TRUE(manager.HasCameraTrackingResult());
}

constexpr int kWidth = 200, kHeight = 150;

double Texture(double x, double y) {
  return 128.0 + 35.0 * std::sin(0.23 * x + 0.12 * y + 0.3) +
         25.0 * std::sin(-0.09 * x + 0.26 * y + 1.1) + 30.0 * std::cos(0.045 * x - 0.038 * y) +
         20.0 * std::sin(0.41 * x - 0.33 * y + 0.7);
}

// The optical-flow correlator finds the job's polygon masks through the image's owner.
TEST(CameraTrackingManagerTest, OpticalFlowSelectsNoFeatureInsideAPolygonMask) {
  TestManager manager;
  PackedStringListPtr list;
  list.Allocate();
  std::vector<std::string> paths;
  for (int k = 0; k < 2; ++k) {
    paths.push_back(::testing::TempDir() + "kx_mgr_mask_" + std::to_string(getpid()) + "_" +
                    std::to_string(k) + ".pgm");
    std::ofstream out(paths.back(), std::ios::binary);
    out << "P5\n" << kWidth << " " << kHeight << "\n255\n";
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        out.put(static_cast<char>(std::lround(Texture(x - k * 1.5, y - k * 0.5))));
    list->Append(paths.back().c_str(), k);
  }
  ASSERT_EQ(manager.GetImageCache()->SetImageList(list, -1, -1), 0);
  manager.AddImages(2);
  for (int k = 0; k < 2; ++k) {
    FeatureImage& image = manager.Image(k);
    image.Set(image.GetC(), image.GetA(), image.GetH(), image.GetV(), kWidth, kHeight, 0.0,
              image.GetPixelSizeX(), image.GetPixelSizeY(), 0.0, 0, image.GetDistortionModel());
  }
  // A triangle over the left part of the frame, keyed at frame 0.
  std::vector<Vertex> corners(3);
  corners[0].SetKey(0, vm::Vector3{-5.0, -5.0, 0.0});
  corners[1].SetKey(0, vm::Vector3{150.0, -5.0, 0.0});
  corners[2].SetKey(0, vm::Vector3{-5.0, 200.0, 0.0});
  PolygonMask* mask = manager.GetVertexObjectPool().AddPolygonMask(2, corners, 0);
  ASSERT_NE(mask, nullptr);

  FeatureCorrelatorOpticalFlow flow;
  FeatureCorrelatorOpticalFlow::Parameter p;
  p.m_corner_count = 60;
  p.m_min_dist = 8;
  p.m_search_range = 30;
  flow.SetParameter(p);
  flow.SetFeatureImages(&manager.Image(0), &manager.Image(1));
  flow.Compute();
  int outside = 0;
  for (int k = 0; k < 2; ++k) {
    for (const FeaturePtr& f : manager.Image(k).GetFPoints2D()) {
      // Corners are refined below a pixel after the masked selection: allow that much
      // beyond the hypotenuse (the only edge inside the frame).
      const double depth = ((150.0 + 5.0) * (f->y + 5.0) + (200.0 + 5.0) * (f->x - 150.0)) /
                           std::hypot(155.0, 205.0);
      EXPECT_FALSE(mask->IsInside(f->x, f->y, k) && depth < -1.0)
          << k << ": " << f->x << "," << f->y << " depth " << depth;
      ++outside;
    }
  }
  EXPECT_GT(outside, 10);
  manager.ClearAllFPointsAndResetFMap(63);
  for (const std::string& path : paths) std::remove(path.c_str());
}

}  // namespace

namespace {

// A load sets the free-motion map's pure-rotation switch from the stored map object and
// hands the map the restored frames.
TEST(CameraTrackingManagerTest, ReadSetsThePureRotationSwitchFromTheStoredMap) {
  for (ProjectMapKind kind : {ProjectMapKind::kPureRotation, ProjectMapKind::kFreeMotion}) {
    SCOPED_TRACE(int(kind));
    kxtest::Job saved;
    kxtest::BuildFixture(saved);
    saved.map_kind = kind;
    kxtest::TempFile file(kxtest::Save(saved.Contents(), false));
    TestManager manager;
    auto* move = dynamic_cast<FeatureMapMove*>(manager.m_fmap_move.Get());
    move->m_free_move = kind == ProjectMapKind::kPureRotation ? 1 : 0;
    DataBaseIn in;
    in.Open(file.path());
    ASSERT_TRUE(kxtest::ReadObjectKey(in, PF_KEY_KLX));
    in.GetIdentifier();
    LogCapture log;
    manager.Read(in);
    EXPECT_EQ(manager.GetMapKind(), kind);
    EXPECT_EQ(move->m_free_move, kind == ProjectMapKind::kPureRotation ? 0 : 1);
    ASSERT_GE(manager.GetImageList().size(), 2u);
    EXPECT_EQ(manager.GetImageList()[0]->GetOwner(), static_cast<FeatureImageOwner*>(&manager));
    EXPECT_FALSE(move->GetFPoint3DList().empty());
    EXPECT_EQ(move->GetIncrementalList().size(), move->GetFImageList().size());
  }
}

}  // namespace
