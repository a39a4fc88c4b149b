#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "features/feature_correlator_syn.h"
#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/tracks/feature_flags.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_fmatrix.h"
#include "geometry/sample_calculator_ptrz.h"
#include "optimise/callback_for_test.h"
#include "optimise/camera_estimator_ptrz.h"
#include "testing/log_capture.h"
#include "tracking/maps/feature_map_move.h"
#include "tracking/maps/free_motion_run_for_test.h"
#include "tracking/maps/key_frame_search_recorder_for_test.h"
#include "tracking/maps/tracking_fakes_for_test.h"

namespace {

using Image = SharedPtr<FeatureImage>;
using Syn = FeatureCorrelatorSyn;

// Largest distance of the solved centres from the true ones after the similarity
// transform (rotation, translation, scale) that fits them best in least squares.
double AlignedCentreError(const std::vector<vm::Vector3>& solved,
                          const std::vector<vm::Vector3>& truth) {
  Matrix3x3 r;
  return kxtest::AlignSimilarity(solved, truth, r);
}

using kxtest::SetSyntheticReferenceCamera;

// A camera path through a synthetic point cloud (points 4 to 12 m about the first
// camera, in every direction), tracked by the synthetic correlator from the true cameras.
struct SyntheticRun {
  // truth(k, camera): turns the reference camera into frame k's true camera.
  SyntheticRun(int frames, const std::function<void(int, PerspectiveCamera&)>& truth,
               double noise = 0.0) {
    Syn::Parameter& p = templ.GetParameter();
    p = Syn::Parameter(4000, 4000.0, 12000.0, 0.0, 0.0, 0.0, 0.0, 0.5, 2.0, 0.0, 0.0, noise, 50,
                       nullptr, true, false, false, true, false, false, 0.0, 0.0, 0.0, 0.0, 0.0,
                       15.0, 1937);
    templ.Init3DScene();
    for (int k = 0; k < frames; ++k) {
      PerspectiveCamera camera;
      SetSyntheticReferenceCamera(camera);
      truth(k, camera);
      cameras.push_back(camera);
      auto image = Image::Make();
      image->SetImageIndex(k);
      SetSyntheticReferenceCamera(*image);
      images.push_back(image);
    }
  }
  ~SyntheticRun() {
    correlators.clear();
    for (auto& image : images) image->ClearFPoints2D();
  }

  // Free-motion components: an F-matrix sampler (sigma 0.5 pixels) and the pan/tilt/roll
  // estimator; known calibration and the manual pair (first, second).
  static void Configure(FeatureMapMove& map, int first, int second) {
    auto sampler = SharedPtr<RandSampling>::Make();
    RandSampling::Parameter sp;
    sp.m_threshold_mode = 1;
    sp.m_sigma = 0.5;
    sampler->SetParameter(sp);
    sampler->SetSampleCalculator(SharedPtr<SampleCalculatorFMatrix>::Make());
    map.SetOutlierDetector(sampler);
    map.SetCameraEstimator(SharedPtr<CameraEstimatorPTRZ<OptimizerLM_PTRZ>>::Make());
    FeatureMapMove::Parameter p;
    p.m_estimate_focal = 0;
    p.m_keyframe_parameter.m_method = KeyFrameSelect::eManual;
    p.m_keyframe_parameter.m_first_keyframe = first;
    p.m_keyframe_parameter.m_second_keyframe = second;
    map.SetParameter(p);
  }

  // Init, then Match, OutlierElimination and CameraEstimation per frame; false at the
  // first failing stage.
  bool Track(FeatureMap& map) {
    if (!map.Init(images[0])) return false;
    for (size_t k = 1; k < images.size(); ++k) {
      correlators.push_back(templ.Clone());
      map.SetCorrelatorTemplate(correlators.back());
      // The correlator projects the scene with the image's camera as it stands at Match.
      images[k]->CopyFrom(cameras[k], false);
      if (!map.Match(images[k]) || !map.OutlierElimination() || !map.CameraEstimation()) {
        return false;
      }
    }
    return true;
  }

  // Largest aligned centre error over the frames from first on, relative to the path
  // length over them.
  double RelativeCentreError(size_t first) const {
    std::vector<vm::Vector3> solved, truth;
    double length = 0.0;
    for (size_t k = first; k < images.size(); ++k) {
      solved.push_back(images[k]->GetC());
      truth.push_back(cameras[k].GetC());
      if (k > first) {
        const vm::Vector3 d = cameras[k].GetC() - cameras[k - 1].GetC();
        length += std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
      }
    }
    return AlignedCentreError(solved, truth) / length;
  }

  Syn templ;
  std::vector<PerspectiveCamera> cameras;
  std::vector<Image> images;
  std::vector<SharedPtr<FeatureCorrelator>> correlators;
};

// Sideways and a little forward, 45 mm per frame from frame start on.
void Dolly(int k, PerspectiveCamera& camera, int start = 0) {
  const vm::Vector3 step = camera.H0() * 40.0 + camera.GetA() * 20.0;
  SetCameraCentre(camera, camera.GetC() + step * double(std::max(0, k - start)));
}

// Noise-free, known calibration, the pair (0, 10): the incremental result is metric, so
// the centres match the truth after a similarity transform.
TEST(FeatureMapMoveIncrementalTest, DollyWithManualKeyFramesRecoversThePath) {
  const struct {
    const char* name;
    int ba_limit;
    bool reverse;  // image indices decrease along the list (tracking backwards)
  } cases[] = {{"only the pair adjusted", FeatureMapMove::eNever, false},
               {"window of 10", FeatureMapMove::eManualLimit, false},
               {"reverse indices", FeatureMapMove::eNever, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SyntheticRun run(60, [](int k, PerspectiveCamera& camera) { Dolly(k, camera); });
    FeatureMapMove map;
    SyntheticRun::Configure(map, 0, 10);
    FeatureMapMove::Parameter p = map.GetParameter();
    p.m_ba_limit = c.ba_limit;
    map.SetParameter(p);
    if (c.reverse) {
      for (int k = 0; k < 60; ++k) run.images[k]->SetImageIndex(1000 - k);
    }
    ASSERT_TRUE(run.Track(map));
    EXPECT_EQ(map.GetIncrementalList().size(), 60u);
    for (size_t k = 0; k < 60; ++k) EXPECT_EQ(map.GetIncrementalList()[k], run.images[k]) << k;
    const double e = run.RelativeCentreError(0);
    RecordProperty("centre_error_rel", std::to_string(e));
    std::printf("%s: centre error %.3g of the path\n", c.name, e);
    EXPECT_LT(e, 1e-6);
    EXPECT_GT(map.CountValidFPoint3D(), 200u);
  }
}

// Turns the camera by angle (radians) about its vertical axis, keeping its centre.
void Pan(PerspectiveCamera& camera, double angle) {
  kxtest::RotateAboutCentre(camera, camera.V0(), angle);
}

constexpr double kPanStep = 0.5 * M_PI / 180.0;

// Exposes the embedded pure-rotation map.
class SphereAccess : public FeatureMapMove {
 public:
  using FeatureMapMove::m_fmap_sphere;
};

// With m_free_move 0 the map answers exactly as the pure-rotation map and says nothing
// of its own.
TEST(FeatureMapMoveIncrementalTest, WithoutFreeMotionThePureRotationMapSolves) {
  const auto pan = [](int k, PerspectiveCamera& camera) { Pan(camera, k * kPanStep); };
  const auto configure = [](FeatureMap& map) {
    auto sampler = SharedPtr<RandSampling>::Make();
    sampler->SetSampleCalculator(SharedPtr<SampleCalculatorPTRZ>::Make());
    map.SetOutlierDetector(sampler);
    map.SetCameraEstimator(SharedPtr<CameraEstimatorPTRZ<OptimizerLM_PTRZ>>::Make());
  };
  std::vector<vm::Vector3> axes;
  size_t points = 0;
  {
    SyntheticRun run(6, pan);
    FeatureMapSphere sphere;
    configure(sphere);
    sphere.GetParameter().m_estimate_focal = false;
    ASSERT_TRUE(run.Track(sphere));
    for (const Image& image : run.images) axes.push_back(image->GetA());
    points = sphere.GetFPoint3DList().size();
    sphere.Clear();
  }
  SyntheticRun run(6, pan);
  SphereAccess map;
  map.m_free_move = 0;
  configure(map);
  map.m_fmap_sphere.GetParameter().m_estimate_focal = false;
  kxtest::LogCapture log(5);
  ASSERT_TRUE(run.Track(map));
  EXPECT_FALSE(log.Has("FeatureMapMove")) << log.text;
  EXPECT_GT(points, 100u);
  EXPECT_EQ(map.GetFPoint3DList().size(), points);
  for (size_t k = 0; k < axes.size(); ++k) {
    EXPECT_EQ(run.images[k]->GetA(), axes[k]) << k;
    const vm::Vector3 d = run.images[k]->GetA() - run.cameras[k].GetA();
    EXPECT_LT(std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z), 1e-8) << k;
  }
  map.m_fmap_sphere.Clear();
}

// The automatic search refuses the pure rotation of the first frames and accepts a pair
// ten frames into the motion (the selector's manual pair stands in for its criteria).
class FallbackMap : public FeatureMapMove {
 protected:
  int SearchKeyFramePair(int first, int second, bool) override {
    if (second <= 9) return 2;
    if (second < first + 10) return 1;
    return m_keyframe_select.ManualKeyFrame(m_fimage_list, first, second);
  }
};

// 0.1 pixels of noise: noise-free, the pose resection of the first frame after the pair
// stalls at its exact fit and fails, so that frame would keep its neighbour's camera.
TEST(FeatureMapMoveIncrementalTest, RotationOnlyStartCarriedUntilAPairExists) {
  // Frames 0 to 9 pan on the spot, then the camera dollies.
  SyntheticRun run(
      40,
      [](int k, PerspectiveCamera& camera) {
        Pan(camera, std::min(k, 9) * kPanStep);
        Dolly(k, camera, 9);
      },
      0.1);
  FallbackMap map;
  SyntheticRun::Configure(map, 0, 1);
  FeatureMapMove::Parameter p = map.GetParameter();
  p.m_keyframe_parameter.m_method = KeyFrameSelect::eGric;
  map.SetParameter(p);
  ASSERT_TRUE(run.Track(map));
  std::vector<int> keys;
  map.GetKeyFramePair(keys);
  EXPECT_EQ(keys, (std::vector<int>{9, 19}));
  ASSERT_EQ(map.GetIncrementalList().size(), 40u);
  for (size_t k = 0; k < 40; ++k) EXPECT_EQ(map.GetIncrementalList()[k], run.images[k]) << k;
  // The rotation-only frames keep the first centre and turn as the truth does.
  double angle = 0.0;
  for (size_t k = 1; k <= 9; ++k) {
    double tp, tt, tr, ep, et, er;
    GetCameraAngles(run.cameras[k], tp, tt, tr, &run.cameras[0]);
    GetCameraAngles(*run.images[k], ep, et, er, run.images[0].Get());
    angle = std::max({angle, std::abs(tp - ep), std::abs(tt - et), std::abs(tr - er)});
  }
  const double e = run.RelativeCentreError(0);
  std::printf("rotation-only start: angle error %.3g deg, centre error %.3g of the path\n",
              angle * 180.0 / M_PI, e);
  RecordProperty("angle_error_deg", std::to_string(angle * 180.0 / M_PI));
  RecordProperty("centre_error_rel", std::to_string(e));
  EXPECT_LT(angle * 180.0 / M_PI, 0.01);
  EXPECT_LT(e, 1e-3);
}

// ---- the state machine, its collaborators replaced by recorders

// Records every collaborator call as a line ("search 0 10", "resect 3", ...); positions,
// not image indices, so a frame step other than 1 shows in the indices only.
class RecordingMap : public kxtest::KeyFrameSearchRecorder<FeatureMapMove> {
 public:
  using FeatureMapMove::increm_bun_state;
  using FeatureMapMove::m_ba_interleave;
  using FeatureMapMove::m_ba_sparse;
  using FeatureMapMove::m_ba_subset;
  using FeatureMapMove::m_bundle_adjuster;
  using FeatureMapMove::m_first_3d_index;
  using FeatureMapMove::m_fmap_sphere;

  int points_per_pair = 10;
  unsigned stop_at = 0;  // the pair adjustment throws this iteration number when > 0

 protected:
  void TriangulateKeyFrame(const KeyFrameSelect::KeyFrame& key, const ImageList& images,
                           bool) override {
    calls.push_back("triangulate " + std::to_string(Position(key.m_fimage1.Get())) + " " +
                    std::to_string(Position(key.m_fimage2.Get())) + " over " +
                    std::to_string(images.size()));
    for (int i = 0; i < points_per_pair; ++i) {
      auto point = SharedPtr<FeaturePoint3D>::Make(0.0, 0.0, 1000.0, FeaturePoint3D::eCartesian);
      AddFPoint3D(point);
    }
  }
  void UpdateFramePoints(const SharedPtr<FeatureImage>& image, bool before_keyframe) override {
    calls.push_back("update " + std::to_string(Position(image.Get())) +
                    (before_keyframe ? " with key frames" : ""));
  }
  bool ResectFrame(int p, bool) override {
    calls.push_back("resect " + std::to_string(p));
    return true;
  }
  bool AdjustKeyFramePair() override {
    calls.push_back("adjust pair");
    if (stop_at > 0) throw stop_at;
    return true;
  }
  bool AdjustWindow() override {
    calls.push_back("window");
    return true;
  }
};

// Frames without features whose indices step by 2 (100, 102, ...), and a map started on
// the first with recording components.
struct Frames {
  explicit Frames(RecordingMap& map, int count, FeatureMapMove::Parameter p = {}) : map(map) {
    for (int k = 0; k < count; ++k) {
      images.push_back(Image::Make());
      images.back()->SetImageIndex(100 + 2 * k);
    }
    map.SetOutlierDetector(SharedPtr<kxtest::OutlierDetectorForTest>::Make());
    map.SetCameraEstimator(SharedPtr<kxtest::CameraEstimatorForTest>::Make());
    map.SetParameter(p);
    map.Init(images[0]);
  }
  // Appends frames until the map holds n and estimates each one's camera; the results.
  std::vector<bool> GrowTo(int n) {
    std::vector<bool> results;
    while (int(map.GetFImageList().size()) < n) {
      map.AppendImage(images[map.GetFImageList().size()]);
      results.push_back(map.CameraEstimation());
    }
    return results;
  }
  // Clears the record, appends one frame and estimates its camera.
  bool Next() {
    map.calls.clear();
    return GrowTo(int(map.GetFImageList().size()) + 1).back();
  }
  RecordingMap& map;
  std::vector<Image> images;
};

using Calls = std::vector<std::string>;

TEST(FeatureMapMoveIncrementalTest, OptMethodChoosesTheAdjuster) {
  enum { kSubset, kInterleave, kSparse, kNone };
  const struct {
    int method, estimate_focal, adjuster;
  } cases[] = {{0, 1, kSubset}, {0, 0, kInterleave}, {2, 1, kSparse}, {3, 0, kSparse},
               {5, 1, kSparse}, {1, 1, kNone},       {6, 0, kNone},   {-1, 1, kNone}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "method " << c.method << " focal " << c.estimate_focal);
    RecordingMap map;
    FeatureMapMove::Parameter p;
    p.m_optMethod = c.method;
    p.m_estimate_focal = c.estimate_focal;
    p.m_ba_max_iter = 25;
    Frames frames(map, 3, p);
    map.m_ba_sparse.GetParameter().m_parameter_mask = 0x7E01E;
    map.m_ba_interleave.GetParameter().m_estimate_principal_point = true;
    kxtest::LogCapture log(5);
    const std::vector<bool> results = frames.GrowTo(3);
    EXPECT_EQ(results, std::vector<bool>(2, c.adjuster != kNone));
    EXPECT_EQ(log.Has("FeatureMapMove::IncrementalBundleAdjust:  Wrong m_parameter.m_optMethod!"),
              c.adjuster == kNone);
    const BundleAdjuster* expected[] = {&map.m_ba_subset, &map.m_ba_interleave, &map.m_ba_sparse,
                                        nullptr};
    EXPECT_EQ(map.m_bundle_adjuster, expected[c.adjuster]);
    if (c.adjuster == kNone) continue;
    // The intrinsics stay fixed; the projection matrix is free exactly when they are
    // unknown.
    EXPECT_EQ(map.m_ba_sparse.GetParameter().m_parameter_mask,
              c.estimate_focal ? 0x7E010u : 0x7E000u);
    EXPECT_FALSE(map.m_ba_interleave.GetParameter().m_estimate_focal);
    EXPECT_FALSE(map.m_ba_interleave.GetParameter().m_estimate_principal_point);
    if (c.adjuster == kSparse) {
      EXPECT_EQ(map.m_ba_sparse.GetParameter().m_max_iterations, 25);
    }
  }
}

TEST(FeatureMapMoveIncrementalTest, SearchStartsAtTheFirstKeyFrame) {
  const struct {
    const char* name;
    int method, first, second, search_start;
    int key1;
  } cases[] = {{"manual (9, 3)", 0, 9, 3, -1, 3},
               {"automatic, default start", 5, 0, 1, -1, 0},
               {"automatic, start 3", 5, 0, 1, 3, 3},
               {"automatic, first key frame 3", 5, 3, 1, 0, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingMap map;
    FeatureMapMove::Parameter p;
    p.m_keyframe_parameter.m_method = c.method;
    p.m_keyframe_parameter.m_first_keyframe = c.first;
    p.m_keyframe_parameter.m_second_keyframe = c.second;
    p.m_keyframe_parameter.m_search_start = c.search_start;
    Frames frames(map, 8, p);
    // Up to the frame after the first key frame nothing is searched.
    EXPECT_EQ(frames.GrowTo(c.key1 + 1), std::vector<bool>(c.key1, true));
    EXPECT_TRUE(map.calls.empty());
    EXPECT_TRUE(frames.Next());
    EXPECT_EQ(map.calls,
              Calls{"search " + std::to_string(c.key1) + " " + std::to_string(c.key1 + 1)});
    std::vector<int> keys;
    map.GetKeyFramePair(keys);
    EXPECT_EQ(keys, (std::vector<int>{c.key1, c.key1 + 1}));
  }
}

TEST(FeatureMapMoveIncrementalTest, PairNeedsSevenPointsThenEveryFrameIsExtended) {
  for (int points : {6, 7}) {
    SCOPED_TRACE(points);
    RecordingMap map;
    Frames frames(map, 5);
    map.points_per_pair = points;
    map.answer = [](int first, int second) { return first == 0 && second == 2 ? 0 : 1; };
    frames.GrowTo(2);
    kxtest::LogCapture log(5);
    EXPECT_EQ(frames.Next(), points == 7);
    EXPECT_EQ(log.Has("FeatureMapMove::IncrementalBundleAdjust: bundle adjustment of cameras "
                      "failed (3D points 6 < 7)"),
              points == 6);
    if (points == 6) {
      EXPECT_EQ(map.calls, (Calls{"search 0 2", "triangulate 0 2 over 2"}));
      continue;
    }
    EXPECT_EQ(map.calls,
              (Calls{"search 0 2", "triangulate 0 2 over 2", "adjust pair", "resect 1",
                     "update 1 with key frames", "window", "resect 2", "update 2", "window"}));
    EXPECT_EQ(map.GetIncrementalList(),
              (std::vector<Image>{frames.images[0], frames.images[1], frames.images[2]}));
    EXPECT_EQ(map.increm_bun_state, FeatureMapMove::e3DProjectionState);
    // From now on one frame: one resection, one point update, one adjustment.
    EXPECT_TRUE(frames.Next());
    EXPECT_EQ(map.calls, (Calls{"resect 3", "update 3", "window"}));
    EXPECT_EQ(map.GetIncrementalList().back(), frames.images[3]);
  }
}

TEST(FeatureMapMoveIncrementalTest, RotationStateUntilAPairThenTheGapIsFilled) {
  RecordingMap map;
  Frames frames(map, 18);
  map.answer = [](int first, int second) {
    if (first == 0 && second == 10) return 2;
    return first == 10 && second == 14 ? 0 : 1;
  };
  frames.GrowTo(11);
  EXPECT_EQ(map.increm_bun_state, FeatureMapMove::e2DProjectionState);
  EXPECT_TRUE(map.GetIncrementalList().empty());

  // The next frame gives the frames up to the search's start rotation-only cameras.
  kxtest::LogCapture log(5);
  EXPECT_TRUE(frames.Next());
  EXPECT_EQ(map.calls, Calls{"search 10 11"});
  EXPECT_EQ(map.GetIncrementalList().size(), 11u);
  EXPECT_EQ(map.m_fmap_sphere.GetFImageList().size(), 11u);
  EXPECT_TRUE(
      log.Has("FeatureMapMove::IncrementalBA_2DProjState: ESTIMATE ROTATION successful! "
              "Frame Index: 120, Index: 120, rotational views: 11, total views 11"));

  frames.GrowTo(14);
  EXPECT_TRUE(frames.Next());  // frame 14 completes the pair (10, 14): triangulation only
  EXPECT_EQ(map.calls, (Calls{"search 10 14", "triangulate 10 14 over 2"}));
  EXPECT_EQ(map.increm_bun_state, FeatureMapMove::e3DProjectionState);
  EXPECT_EQ(map.m_first_3d_index, 10);
  EXPECT_EQ(map.GetIncrementalList().size(), 12u);
  EXPECT_EQ(map.GetIncrementalList().back(), frames.images[14]);

  // Frames 11 to 13 go before the second key frame, then the newest one follows.
  EXPECT_TRUE(frames.Next());
  EXPECT_EQ(map.calls, (Calls{"resect 11", "update 11 with key frames", "window", "resect 12",
                              "update 12 with key frames", "window", "resect 13",
                              "update 13 with key frames", "window", "resect 14", "update 14",
                              "window", "resect 15", "update 15", "window"}));
  const std::vector<Image> expected(frames.images.begin(), frames.images.begin() + 16);
  EXPECT_EQ(map.GetIncrementalList(), expected);
  EXPECT_TRUE(frames.Next());
  EXPECT_EQ(map.calls, (Calls{"resect 16", "update 16", "window"}));
}

// The search restarts from the newest frame twice in a row and then accepts its pair at
// once: the restart frame, the first key frame, still gets its rotation-only camera.
TEST(FeatureMapMoveIncrementalTest, FirstKeyFrameAfterARestartJoinsTheReconstruction) {
  RecordingMap map;
  Frames frames(map, 6);
  map.answer = [](int first, int second) {
    if (second <= 2) return 2;
    return first == 2 && second == 3 ? 0 : 1;
  };
  frames.GrowTo(4);
  EXPECT_EQ(map.calls, (Calls{"search 0 1", "search 1 2", "search 2 3", "triangulate 2 3 over 2"}));
  EXPECT_EQ(map.GetIncrementalList(), (std::vector<Image>{frames.images[0], frames.images[1],
                                                          frames.images[2], frames.images[3]}));
  EXPECT_TRUE(frames.Next());
  EXPECT_EQ(map.calls, (Calls{"resect 4", "update 4", "window"}));
}

TEST(FeatureMapMoveIncrementalTest, FinalSearchWithoutPairGivesRotationOnlyCameras) {
  for (int answer : {1, 2, 3, 4}) {
    SCOPED_TRACE(answer);
    RecordingMap map;
    Frames frames(map, 6);
    frames.GrowTo(6);
    map.calls.clear();
    map.answer = [answer](int, int) { return answer; };
    EXPECT_TRUE(map.IncrementalBundleAdjust(true));
    EXPECT_EQ(map.calls, Calls{"search 0 5 forced"});
    EXPECT_EQ(map.GetIncrementalList(), frames.images);
    EXPECT_EQ(map.m_fmap_sphere.GetFImageList().size(), 6u);
  }
}

TEST(FeatureMapMoveIncrementalTest, StopInThePairAdjustmentIsLoggedAndTheFrameGoesOn) {
  RecordingMap map;
  Frames frames(map, 3);
  map.stop_at = 7;
  map.answer = [](int, int) { return 0; };
  kxtest::LogCapture log(5);
  EXPECT_EQ(frames.GrowTo(2), std::vector<bool>{true});
  EXPECT_TRUE(
      log.Has("FeatureMapMove::IncrementalBundleAdjust: stopped bundle adjust at "
              "iteration 7"));
  EXPECT_TRUE(
      log.Has("FeatureMapMove::IncrementalBundleAdjust: bundle adjust between keyframes "
              "failed"));
  EXPECT_EQ(map.calls, (Calls{"search 0 1", "triangulate 0 1 over 2", "adjust pair", "resect 1",
                              "update 1", "window"}));
}

TEST(FeatureMapMoveIncrementalTest, ObserverHearsEveryCameraFrame) {
  RecordingMap map;
  Frames frames(map, 3);
  kxtest::CallbackForTest observer;
  map.SetObserver(&observer);
  frames.GrowTo(3);
  EXPECT_EQ(observer.reports, (std::vector<std::pair<int, int>>{{3, 102}, {3, 104}}));
  kxtest::LogCapture log(5);
  RecordingMap lone;
  Frames one(lone, 1);
  EXPECT_FALSE(lone.CameraEstimation());
  EXPECT_TRUE(log.Has("FeatureMapMove::CameraEstimation: no. of images 1 < 2"));
}

}  // namespace
