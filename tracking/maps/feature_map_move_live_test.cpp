#include "tracking/maps/feature_map_move_live.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "optimise/bundle_scene_for_test.h"
#include "testing/log_capture.h"
#include "tracking/maps/key_frame_search_recorder_for_test.h"
#include "tracking/maps/tracking_fakes_for_test.h"

namespace {

using Image = SharedPtr<FeatureImage>;
using Images = std::vector<Image>;
using Calls = std::vector<std::string>;

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
  // An empty reconstructed list with frames would be refine mode for the free-motion map.
  live.SetImageList(scene.images);
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

// The live map with its collaborators replaced by recorders ("search 0 1", "resect 3",
// ...; list positions).
class RecordingLive : public kxtest::KeyFrameSearchRecorder<FeatureMapMoveLive> {
 public:
  using FeatureMapMove::increm_bun_state;
  using FeatureMapMove::m_ba_sparse;
  using FeatureMapMove::m_bundle_adjuster;
  using FeatureMapMove::m_fmap_sphere;
  using FeatureMapMove::m_incremental_list;

  // Frames with indices 100, 101, ...; the map started on the first.
  explicit RecordingLive(int count) {
    for (int k = 0; k < count; ++k) {
      images.push_back(Image::Make());
      images.back()->SetImageIndex(100 + k);
    }
    SetOutlierDetector(SharedPtr<kxtest::OutlierDetectorForTest>::Make());
    SetCameraEstimator(SharedPtr<kxtest::CameraEstimatorForTest>::Make());
    Init(images[0]);
  }
  // Appends frames until the map holds n, estimating each one's camera.
  void GrowTo(size_t n) {
    while (GetFImageList().size() < n) {
      AppendImage(images[GetFImageList().size()]);
      EXPECT_TRUE(CameraEstimation());
    }
  }
  // Clears the record, then one more frame.
  void Next() {
    calls.clear();
    GrowTo(GetFImageList().size() + 1);
  }
  Images List(std::initializer_list<int> positions) const {
    Images list;
    for (int p : positions) list.push_back(images[p]);
    return list;
  }

  Images images;

 protected:
  void TriangulateKeyFrame(const KeyFrameSelect::KeyFrame& key, const ImageList&, bool) override {
    calls.push_back("triangulate " + std::to_string(Position(key.m_fimage1.Get())) + " " +
                    std::to_string(Position(key.m_fimage2.Get())));
    for (int i = 0; i < 10; ++i) {
      auto point = SharedPtr<FeaturePoint3D>::Make(0.0, 0.0, 1000.0, FeaturePoint3D::eCartesian);
      AddFPoint3D(point);
    }
  }
  void UpdateFramePoints(const SharedPtr<FeatureImage>& image, bool) override {
    calls.push_back("update " + std::to_string(Position(image.Get())));
  }
  bool ResectFrame(int p, bool) override {
    calls.push_back("resect " + std::to_string(p));
    return true;
  }
  bool AdjustKeyFramePair() override { return true; }
  bool AdjustWindow() override { return true; }
};

// The shared engine speaks with the live map's name; m_free_move set through a
// free-motion map's handle does not bring in the pure-rotation stages.
TEST(FeatureMapMoveLiveTest, DefaultRunIsProjectiveFreeAndSparseUnderItsOwnName) {
  RecordingLive live(3);
  static_cast<FeatureMapMove&>(live).m_free_move = 0;
  live.answer = [](int, int) { return 0; };
  kxtest::LogCapture log(5);
  live.GrowTo(3);
  EXPECT_TRUE(log.Has("FeatureMapMoveLive::IncrementalBundleAdjust: estimate_projective = false"))
      << log.text;
  EXPECT_TRUE(log.Has("FeatureMapMoveLive::CameraEstimation:"));
  EXPECT_FALSE(log.Has("FeatureMapMove:")) << log.text;
  EXPECT_FALSE(log.Has("FeatureMapMove,"));
  EXPECT_EQ(live.m_bundle_adjuster, &live.m_ba_sparse);
  EXPECT_EQ(live.calls, (Calls{"search 0 1", "triangulate 0 1", "resect 1", "update 1", "resect 2",
                               "update 2"}));
  EXPECT_TRUE(live.m_fmap_sphere.GetFImageList().empty());
  // The free-motion map's own messages keep their name.
  FeatureMapMove move;
  EXPECT_FALSE(move.CameraEstimation());
  EXPECT_TRUE(log.Has("FeatureMapMove::CameraEstimation: no. of images 0 < 2"));
}

// The search gives up on its start four times, then accepts (5, 9): the frames before the
// second key frame got no camera from the map, and the next frame fills the gap.
TEST(FeatureMapMoveLiveTest, PairFoundAfterRestartsStartsTheListWithItsSecondKeyFrame) {
  RecordingLive live(12);
  live.answer = [](int first, int second) {
    if (second <= 5) return 2;
    return first == 5 && second == 9 ? 0 : 1;
  };
  std::vector<PerspectiveCamera> before;
  for (const Image& image : live.images) before.push_back(*image);
  kxtest::LogCapture log(5);
  live.GrowTo(9);
  EXPECT_EQ(live.increm_bun_state, FeatureMapMove::e2DProjectionState);
  EXPECT_TRUE(live.m_incremental_list.empty());
  live.Next();
  EXPECT_EQ(live.calls, (Calls{"search 5 9", "triangulate 5 9"}));
  EXPECT_EQ(live.increm_bun_state, FeatureMapMove::e3DProjectionState);
  EXPECT_EQ(live.m_incremental_list, live.List({9}));
  EXPECT_TRUE(log.Has("FeatureMapMoveLive::IncrementalBA_2DProjState() latency = 10"));
  EXPECT_FALSE(log.Has("ESTIMATE ROTATION")) << log.text;
  EXPECT_TRUE(live.m_fmap_sphere.GetFImageList().empty());
  for (size_t k = 0; k < 9; ++k) {
    EXPECT_EQ(live.images[k]->GetC(), before[k].GetC()) << k;
    EXPECT_EQ(live.images[k]->GetA(), before[k].GetA()) << k;
  }

  live.Next();
  EXPECT_EQ(live.calls, (Calls{"resect 6", "update 6", "resect 7", "update 7", "resect 8",
                               "update 8", "resect 9", "update 9", "resect 10", "update 10"}));
  EXPECT_EQ(live.m_incremental_list, live.List({6, 7, 8, 9, 10}));
}

TEST(FeatureMapMoveLiveTest, FinalSearchWithoutPairGivesNoCameras) {
  RecordingLive live(6);
  live.GrowTo(6);
  live.calls.clear();
  live.answer = [](int, int) { return 2; };
  EXPECT_TRUE(live.IncrementalBundleAdjust(true));
  EXPECT_EQ(live.calls, Calls{"search 0 5 forced"});
  EXPECT_TRUE(live.m_incremental_list.empty());
  EXPECT_TRUE(live.m_fmap_sphere.GetFImageList().empty());
}

TEST(FeatureMapMoveLiveTest, RmseOfTheReconstructedListOnly) {
  kxtest::BundleScene scene = kxtest::MakeBundleScene(kxtest::SceneSpec(4, 20, 4));
  RecordingLive live(1);
  live.m_incremental_list = {scene.images[0], scene.images[1]};
  // A camera outside the list is off; it must not count.
  SetCameraCentre(*scene.images[3], scene.images[3]->GetC() + vm::Vector3{500.0, 0.0, 0.0});
  kxtest::LogCapture log(5);
  live.GetMSE();
  EXPECT_DOUBLE_EQ(live.GetRMSE(),
                   std::sqrt(FeatureMapMove::GetMSE(live.m_incremental_list, true, false)));
  EXPECT_LT(live.GetRMSE(), 2.0);
  EXPECT_GT(std::sqrt(FeatureMapMove::GetMSE(scene.images, true, false)), 2.0);
  // The error measure and the point-list generator speak with the live map's name; the
  // generator without a blank before "3D".
  FeatureMapMoveLive::GetMSE({}, true, false);
  EXPECT_TRUE(log.Has("FeatureMapMoveLive::GetMSE: empty list of fimages, return 1e20"));
  std::vector<SharedPtr<FeatureCorrespondence>> links;
  FeatureMapMoveLive::generate_fcorr_list_with_3dfp(scene.images[1].Get(), links, true);
  ASSERT_FALSE(links.empty());
  EXPECT_TRUE(log.Has("FeatureMapMoveLive, generate_fcorr_list_with_3dfp: image index " +
                      std::to_string(scene.images[1]->GetImageIndex()) + ": " +
                      std::to_string(links.size()) + "3D points"))
      << log.text;
}

}  // namespace
