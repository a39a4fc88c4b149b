#include "tracking/maps/feature_map.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "optimise/callback_for_test.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"
#include "testing/thrown.h"
#include "tracking/maps/tracking_fakes_for_test.h"

namespace {

using kxtest::CallbackForTest;
using kxtest::CameraEstimatorForTest;
using kxtest::CorrelatorForTest;
using kxtest::LogCapture;
using kxtest::OutlierDetectorForTest;

// The stages of a concrete map do not matter here.
class MapForTest : public FeatureMap {
 public:
  bool OutlierElimination() override { return true; }
  bool CameraEstimation() override { return true; }
  bool FinalEstimation() override { return true; }
  bool Refinement() override { return true; }
  void GetMSE() override { m_rmse = 0.5; }
};

// A frame with a camera of the given pan and K3, and features at a few places.
SharedPtr<FeatureImage> Frame(int index, double pan, double k3) {
  auto image = SharedPtr<FeatureImage>::Make();
  static_cast<PerspectiveCamera&>(*image) = kxtest::MakeSyntheticCamera(
      800, 600, 0.01, vm::Vector3{10.0 * index, 0, 0}, pan, 0.01 * index, 0, 8.0, 0, 0);
  image->SetDistortion(k3, 1e-9 * index, 0, Poly3);
  image->SetImageIndex(index);
  for (int i = 0; i < 3; ++i) {
    image->AddFPoint2D(SharedPtr<FeaturePoint2D>::Make(image.Get(), 100.0 + 50 * i, 80.0 + i));
  }
  return image;
}

void ExpectPose(const PerspectiveCamera& got, const PerspectiveCamera& want) {
  for (const auto& [g, w] : {std::pair{got.GetC(), want.GetC()},
                             {got.GetA(), want.GetA()},
                             {got.GetH(), want.GetH()},
                             {got.GetV(), want.GetV()}}) {
    EXPECT_DOUBLE_EQ(g.x, w.x);
    EXPECT_DOUBLE_EQ(g.y, w.y);
    EXPECT_DOUBLE_EQ(g.z, w.z);
  }
}

void ExpectDistortion(const PerspectiveCamera& got, double k3, double k5) {
  EXPECT_DOUBLE_EQ(got.GetDistortionCoefficients()[0], k3);
  EXPECT_DOUBLE_EQ(got.GetDistortionCoefficients()[1], k5);
}

// Keeps each line's level too (level 5: lines keep their class and method names).
class LevelCapture : public LogCapture {
 public:
  LevelCapture() : LogCapture(5) {}
  void Output(const SharedPtr<NotifyMessage>& message) override {
    levels.push_back(message->level);
    LogCapture::Output(message);
  }
  std::vector<int> levels;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class FeatureMapTest : public testing::Test {
 protected:
  FeatureMapTest() {
    map.SetOutlierDetector(detector);
    map.SetCameraEstimator(estimator);
    map.SetCorrelatorTemplate(correlator);
  }

  SharedPtr<OutlierDetectorForTest> detector = SharedPtr<OutlierDetectorForTest>::Make();
  SharedPtr<CameraEstimatorForTest> estimator = SharedPtr<CameraEstimatorForTest>::Make();
  SharedPtr<CorrelatorForTest> correlator = SharedPtr<CorrelatorForTest>::Make();
  MapForTest map;
};

TEST_F(FeatureMapTest, InitNeedsDetectorAndEstimatorAndLeavesTheMapEmptyWithout) {
  const struct {
    const char* what;
    bool detector, estimator;
    const char* text;
  } cases[] = {
      {"no detector", false, true, "FeatureMap::Init: no outlier detector has been set"},
      {"no estimator", true, false, "FeatureMap::Init: no estimator has been set"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MapForTest m;
    if (c.detector) m.SetOutlierDetector(detector);
    if (c.estimator) m.SetCameraEstimator(estimator);
    auto f0 = Frame(0, 0.0, 0.0);
    m.AppendImage(f0);
    auto point = SharedPtr<FeaturePoint3D>::Make();
    m.AddFPoint3D(point);
    LogCapture log(4);
    EXPECT_EQ(kxtest::Thrown([&] { m.Init(f0); }), c.text);
    EXPECT_TRUE(log.Has(c.text));
    EXPECT_FALSE(m.IsInitialised());
    EXPECT_TRUE(m.GetFImageList().empty());
    EXPECT_TRUE(m.GetFPoint3DList().empty());
  }
}

TEST_F(FeatureMapTest, InitThenMatchChainsTheCamerasAndReports) {
  CallbackForTest observer;
  map.SetObserver(&observer);
  auto f0 = Frame(0, 0.0, 1e-6);
  auto f1 = Frame(7, 0.2, 3e-6);
  const PerspectiveCamera f1_own = *f1;
  f1->SetFlags(0x8 | 0x4);

  ASSERT_TRUE(map.Init(f0));
  EXPECT_TRUE(map.IsInitialised());
  ExpectPose(map.GetMapCamera(), *f0);
  ExpectDistortion(map.GetMapCamera(), 1e-6, 0.0);
  ExpectPose(detector->init_camera, *f0);
  ExpectPose(estimator->GetInitCamera(), *f0);

  ASSERT_TRUE(map.Match(f1));
  ASSERT_EQ(map.GetFImageList().size(), 2u);
  EXPECT_EQ(map.GetFImageList()[0], f0);
  EXPECT_EQ(map.GetCurrentFImage(), f1);
  // The new frame starts from its predecessor's pose with its own lens.
  ExpectPose(*f1, *f0);
  ExpectDistortion(*f1, 3e-6, 7e-9);
  // Detector, estimator and correlator all get the match camera: the frame as it came.
  ASSERT_NE(f1->GetMatchCamera(), nullptr);
  ExpectPose(*f1->GetMatchCamera(), f1_own);
  ExpectPose(detector->ref_camera, f1_own);
  ExpectPose(estimator->GetCurrentCamera(), f1_own);
  ExpectPose(correlator->seen_camera, f1_own);
  EXPECT_EQ(correlator->computes, 1);
  EXPECT_EQ(correlator->seen_first, f0.Get());
  EXPECT_EQ(correlator->seen_second, f1.Get());
  EXPECT_EQ(map.GetCorrelator().Get(), correlator.Get());  // the template itself
  EXPECT_EQ(f1->CountCorrespondences(true), 3);
  // Reported as a tracking step; flag 8 cleared, the others kept.
  EXPECT_EQ(observer.reports, (std::vector<std::pair<int, int>>{{1, 7}}));
  EXPECT_EQ(f1->GetFlags(), 0x4u);
}

TEST_F(FeatureMapTest, MatchWithoutObserverKeepsTheFrameFlags) {
  auto f0 = Frame(0, 0.0, 0.0);
  auto f1 = Frame(1, 0.1, 0.0);
  f1->SetFlags(0x8);
  map.Init(f0);
  ASSERT_TRUE(map.Match(f1));
  EXPECT_EQ(f1->GetFlags(), 0x8u);
}

TEST_F(FeatureMapTest, AFrameMatchedAgainKeepsItsFirstMatchCamera) {
  auto f0 = Frame(0, 0.0, 0.0);
  auto f1 = Frame(1, 0.3, 0.0);
  const PerspectiveCamera f1_own = *f1;
  map.Init(f0);
  map.Match(f1);
  // A restart from f0 and the same frame once more: f1's camera is f0's pose by now.
  map.Init(f0);
  ASSERT_TRUE(map.Match(f1));
  ExpectPose(*f1->GetMatchCamera(), f1_own);
  ExpectPose(detector->ref_camera, f1_own);
  ExpectPose(correlator->seen_camera, f1_own);
}

TEST_F(FeatureMapTest, MatchDumpsCorrespondencesOnlyWhenAskedAndNamed) {
  const std::string path = testing::TempDir() + "kx_fmap_dump_" + std::to_string(getpid()) + ".txt";
  const struct {
    const char* what;
    bool flag;
    bool name;
    bool written;
  } cases[] = {
      {"flag and name", true, true, true},
      {"flag without name", true, false, false},
      {"name without flag", false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(path.c_str());
    auto f0 = Frame(0, 0.0, 0.0);
    auto f1 = Frame(1, 0.1, 0.0);
    if (c.flag) f1->SetFlags(FIMAGE_FLAG_SAVE_CORRESPONDENCES);
    if (c.name) f1->SetAuxFileName(path.c_str());
    LogCapture log(4);
    map.Init(f0);
    ASSERT_TRUE(map.Match(f1));
    const std::string text = ReadAll(path);
    EXPECT_EQ(log.Has("saving \"" + path + "\""), c.written);
    if (c.written) {
      EXPECT_EQ(text.rfind("#FCORR V1.0\n", 0), 0u);
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);  // header and three links
    } else {
      EXPECT_EQ(text, "");
    }
  }
  std::remove(path.c_str());
}

TEST_F(FeatureMapTest, MatchFailsSoftlyWhenItsPreconditionsAreBroken) {
  const struct {
    const char* what;
    std::function<void(MapForTest&, SharedPtr<FeatureImage>&)> setup;
    const char* text;
  } cases[] = {
      {"empty list", [](MapForTest&, SharedPtr<FeatureImage>&) {},
       "FeatureMap::Match: image list empty !"},
      {"no template",
       [](MapForTest& m, SharedPtr<FeatureImage>&) {
         auto f0 = Frame(0, 0.0, 0.0);
         m.Init(f0);
         m.SetCorrelatorTemplate(nullptr);
       },
       "FeatureMap::Match: no correlator template has been set; STOP !"},
      {"null image",
       [](MapForTest& m, SharedPtr<FeatureImage>& image) {
         auto f0 = Frame(0, 0.0, 0.0);
         m.Init(f0);
         image = nullptr;
       },
       "FeatureMap::Match: image is null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MapForTest m;
    m.SetOutlierDetector(detector);
    m.SetCameraEstimator(estimator);
    m.SetCorrelatorTemplate(correlator);
    auto f1 = Frame(1, 0.1, 0.0);
    c.setup(m, f1);
    const size_t before = m.GetFImageList().size();
    const int computes = correlator->computes;
    LevelCapture log;
    EXPECT_FALSE(m.Match(f1));
    // A warning, never a fatal line: the process and the user's project survive.
    EXPECT_EQ(log.levels, std::vector<int>{2});
    EXPECT_TRUE(log.Has(c.text));
    EXPECT_EQ(m.GetFImageList().size(), before);
    EXPECT_EQ(correlator->computes, computes);
  }
}

TEST_F(FeatureMapTest, FrameListOperations) {
  auto f0 = Frame(0, 0.0, 0.0);
  auto f1 = Frame(1, 0.0, 0.0);
  SharedPtr<FeatureImage> none;
  EXPECT_EQ(map.GetCurrentFImage(), nullptr);
  EXPECT_EQ(map.AppendImage(f0), 1);
  EXPECT_EQ(map.AppendImage(none), 1);
  EXPECT_EQ(map.AppendImage(f1), 2);
  EXPECT_EQ(map.GetCurrentFImage(), f1);
  EXPECT_EQ(map.SetImageList({f1, f0, f1}), 3);
  EXPECT_EQ(map.GetCurrentFImage(), f1);

  map.Init(f0);
  auto point = SharedPtr<FeaturePoint3D>::Make();
  map.AddFPoint3D(point);
  map.ClearImages();
  EXPECT_FALSE(map.IsInitialised());
  EXPECT_TRUE(map.GetFImageList().empty());
  EXPECT_EQ(map.GetFPoint3DList().size(), 1u);

  map.Init(f0);
  map.AddFPoint3D(point);
  map.Reset();
  EXPECT_FALSE(map.IsInitialised());
  EXPECT_TRUE(map.GetFImageList().empty());
  EXPECT_TRUE(map.GetFPoint3DList().empty());
}

TEST_F(FeatureMapTest, PointsTakeTheirListPositionAsIndex) {
  LogCapture log(4);
  SharedPtr<FeaturePoint3D> none;
  map.AddFPoint3D(none);
  EXPECT_TRUE(log.Has("3D feature point is null"));
  EXPECT_TRUE(map.GetFPoint3DList().empty());

  for (int i = 0; i < 4; ++i) {
    auto point = SharedPtr<FeaturePoint3D>::Make();
    point->SetId(40 + i);
    if (i % 2) point->SetFlags(FP3D_FLAG_REMOVED);
    map.AddFPoint3D(point);
  }
  ASSERT_EQ(map.GetFPoint3DList().size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(map.GetFPoint3DList()[i]->GetId(), i);
  EXPECT_EQ(map.CountValidFPoint3D(), 2u);
  map.ClearFPoint3D();
  EXPECT_EQ(map.CountValidFPoint3D(), 0u);
}

TEST_F(FeatureMapTest, GuidedMatchingIsNotSupported) {
  LogCapture log(4);
  EXPECT_FALSE(map.RunGuidedMatcher(0));
  EXPECT_FALSE(map.RunGuidedMatcher(1));
  EXPECT_TRUE(log.Has("not supported"));
}

// Points 0..7 seen in a chain of frames. Covariance traces 1 + i except points 2 and 5,
// which are the most precise (traces 0.1 and 0.2). Point i is tracked over
// lengths[i] frames from frame starts[i]; point 7 is never seen.
class FeatureMapSubsetTest : public testing::Test {
 protected:
  static constexpr int kPoints = 8;
  static constexpr int kFrames = 6;
  const int lengths[kPoints] = {2, 5, 6, 3, 4, 1, 6, 0};
  const int starts[kPoints] = {1, 0, 0, 2, 1, 3, 0, 0};

  FeatureMapSubsetTest() {
    for (int i = 0; i < kPoints; ++i) {
      auto point = SharedPtr<FeaturePoint3D>::Make(0.0, 0.0, 0.0, FeaturePoint3D::eCartesian);
      const double trace = i == 2 ? 0.1 : i == 5 ? 0.2 : 1.0 + i;
      const double c[9] = {trace / 3, 0, 0, 0, trace / 3, 0, 0, 0, trace / 3};
      point->SetCoVariance(c);
      point->SetId(i);
      points.push_back(point);
    }
    for (int f = 0; f < kFrames; ++f) {
      images.push_back(SharedPtr<FeatureImage>::Make());
      images.back()->SetImageIndex(f);
    }
    for (int i = 0; i < kPoints; ++i) {
      SharedPtr<FeaturePoint2D> previous;
      for (int f = starts[i]; f < starts[i] + lengths[i]; ++f) {
        auto feature = SharedPtr<FeaturePoint2D>::Make(images[f].Get(), i, f);
        feature->SetFPoint3D(points[i]);
        images[f]->AddFPoint2D(feature);
        if (previous) {
          auto link = SharedPtr<FeatureCorrespondence>::Make(previous, feature);
          previous->SetSuccessor(link);
          feature->SetPredecessor(link);
        }
        previous = feature;
      }
    }
  }

  std::vector<int> Select(int n) {
    FeatureMap::PointList out;
    FeatureMap::SelectFPoint3DSubset(images, points, out, n);
    std::vector<int> ids;
    for (const auto& p : out) ids.push_back(p->GetId());
    for (const auto& p : points) EXPECT_FALSE(p->TestFlags(FP3D_FLAG_TEMP_MARK));
    return ids;
  }

  std::vector<SharedPtr<FeaturePoint3D>> points;
  std::vector<SharedPtr<FeatureImage>> images;
};

TEST_F(FeatureMapSubsetTest, HalfByPrecisionThenByTrackLength) {
  points[6]->SetFlags(FP3D_FLAG_REMOVED);    // longest track, but removed
  points[1]->SetFlags(FP3D_FLAG_PROTECTED);  // second longest, but protected
  const struct {
    int n;
    std::vector<int> want;
  } cases[] = {
      {0, {}},
      {-3, {}},
      {1, {2}},                        // no precision point; the longest usable track
      {5, {2, 5, 4, 3, 0}},            // 2 and 5 by precision, then lengths 4, 3, 2
      {7, {2, 5, 0, 4, 3}},            // removed, protected and unseen points are never picked
      {20, {2, 5, 0, 1, 3, 4, 6, 7}},  // ten by precision take every point, whatever its flags
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    EXPECT_EQ(Select(c.n), c.want);
  }
}

TEST_F(FeatureMapSubsetTest, TrackLengthFollowsOnlyLinksToTheSamePoint) {
  // Point 2's feature in frame 2 now shows point 3: point 2's track ends after two
  // frames, and point 3, first met there, measures 1 (its own links start at that
  // feature's successor, which shows point 2).
  for (const auto& feature : images[2]->GetFPoints2D()) {
    if (feature->GetFPoint3D() == points[2]) feature->SetFPoint3D(points[3]);
  }
  for (auto& p : points) {
    const double c[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    p->SetCoVariance(c);
  }
  EXPECT_EQ(Select(1), (std::vector<int>{6}));
  // Equal weights keep list order in the precision phase (0, 1); then 6, 4 and point 2
  // at length 2 ahead of point 3 at length 1.
  EXPECT_EQ(Select(5), (std::vector<int>{0, 1, 6, 4, 2}));
}

TEST_F(FeatureMapTest, ExportMarksLeaveProtectedPointsAlone) {
  // Two tracked points and two protected ones, one of them already excluded.
  auto f0 = Frame(0, 0.0, 0.0);
  map.AppendImage(f0);
  std::vector<SharedPtr<FeaturePoint3D>> pts;
  for (int i = 0; i < 4; ++i) {
    auto p = SharedPtr<FeaturePoint3D>::Make();
    if (i >= 2) p->SetFlags(FP3D_FLAG_PROTECTED);
    if (i == 3) p->SetFlags(FP3D_FLAG_NO_EXPORT);
    map.AddFPoint3D(p);
    pts.push_back(p);
    if (i < 3) f0->GetFPoints2D()[i]->SetFPoint3D(p);
  }
  map.MarkFPoint3DExport(0);
  EXPECT_TRUE(pts[0]->TestFlags(FP3D_FLAG_NO_EXPORT));
  EXPECT_TRUE(pts[1]->TestFlags(FP3D_FLAG_NO_EXPORT));
  EXPECT_EQ(pts[2]->GetFlags(), FP3D_FLAG_PROTECTED);
  EXPECT_EQ(pts[3]->GetFlags(), FP3D_FLAG_PROTECTED | FP3D_FLAG_NO_EXPORT);

  // A limit of one: one pick by track length (equal lengths: the first met).
  map.MarkFPoint3DExport(1);
  EXPECT_FALSE(pts[0]->TestFlags(FP3D_FLAG_NO_EXPORT));
  EXPECT_TRUE(pts[1]->TestFlags(FP3D_FLAG_NO_EXPORT));
  EXPECT_EQ(pts[2]->GetFlags(), FP3D_FLAG_PROTECTED);
  EXPECT_EQ(pts[3]->GetFlags(), FP3D_FLAG_PROTECTED | FP3D_FLAG_NO_EXPORT);
}

// A reader walking the point list under the read lock while the tracking thread appends
// and clears: every list it sees is whole (each point's index is its position).
TEST(FeatureMapConcurrencyTest, ReaderSeesWholeListsWhileWriterAppendsAndClears) {
  MapForTest map;
  std::atomic<bool> done{false};
  std::atomic<long> walks{0};
  long torn = 0;
  std::thread reader([&] {
    while (!done.load(std::memory_order_acquire) || walks.load() == 0) {
      {
        std::shared_lock lock(map.GetFPoint3DLock());
        const FeatureMap::PointList& list = map.GetFPoint3DList();
        for (size_t i = 0; i < list.size(); ++i) {
          if (!list[i] || list[i]->GetId() != static_cast<int32_t>(i)) ++torn;
        }
      }
      walks.fetch_add(1);
    }
  });
  for (int round = 0; round < 50; ++round) {
    for (int i = 0; i < 200; ++i) {
      auto point = SharedPtr<FeaturePoint3D>::Make();
      map.AddFPoint3D(point);
    }
    EXPECT_EQ(map.CountValidFPoint3D(), 200u);
    map.ClearFPoint3D();
  }
  done.store(true, std::memory_order_release);
  reader.join();
  EXPECT_EQ(torn, 0);
  EXPECT_GT(walks.load(), 0);
}

}  // namespace
