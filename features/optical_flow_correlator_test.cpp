#include "features/optical_flow_correlator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "features/affine_feature_attribute.h"
#include "features/feature_image.h"
#include "features/frame_sequence_for_test.h"
#include "features/tracking_masks.h"
#include "foundation/project/project_bytes_for_test.h"
#include "foundation/runtime/worker_pool.h"
#include "foundation/tracks/feature_flags.h"
#include "image/image_cache.h"
#include "image/packed_string_list.h"

namespace {

using kxtest::LogCapture;
using FeaturePtr = SharedPtr<FeaturePoint2D>;

constexpr int kWidth = 200, kHeight = 150;

double Texture(double x, double y) {
  return 128.0 + 35.0 * std::sin(0.23 * x + 0.12 * y + 0.3) +
         25.0 * std::sin(-0.09 * x + 0.26 * y + 1.1) + 30.0 * std::cos(0.045 * x - 0.038 * y) +
         20.0 * std::sin(0.41 * x - 0.33 * y + 0.7);
}

using kxtest::CacheOwner;

// Frames of the texture moving by (dx, dy) per frame, as grey PGM files read through an
// image cache, and their feature images.
class Sequence : public kxtest::FrameSequence {
 public:
  Sequence(int frames, double dx, double dy)
      : FrameSequence(
            frames, kWidth, kHeight, "pgm",
            [=](std::ofstream& out, int k) {
              out << "P5\n" << kWidth << " " << kHeight << "\n255\n";
              for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                  out.put(static_cast<char>(std::lround(Texture(x - k * dx, y - k * dy))));
            }),
        dx_(dx),
        dy_(dy) {}
  double dx() const { return dx_; }
  double dy() const { return dy_; }

 private:
  double dx_, dy_;
};

using kxtest::AddFeature;

FeatureCorrelatorOpticalFlow::Parameter SmallParameters() {
  FeatureCorrelatorOpticalFlow::Parameter p;
  p.m_corner_count = 60;
  p.m_min_dist = 8;
  // Small frames and motions: a shallower pyramid leaves room inside the border.
  p.m_search_range = 30;
  return p;
}

TEST(OpticalFlowCorrelatorTest, SetUp) {
  FeatureCorrelatorOpticalFlow c;
  EXPECT_EQ(c.GetPyramidLevels(), 2u);
  EXPECT_EQ(c.GetSubsampling(), 8u);
  // 15 × 15 windows and a search range of 40: (1 + 7) × 8.
  EXPECT_EQ(c.GetBorderX(), 64);
  EXPECT_EQ(c.GetBorderY(), 64);
  EXPECT_EQ(c.TrackerCount(), 1u);
  EXPECT_EQ(c.CornerDetectorCount(), 1u);
  EXPECT_EQ(c.GetLostRatio(), 0.0);
  EXPECT_FALSE(c.Clone());

  struct Case {
    uint32_t width;
    uint32_t expected;
    int warnings;
  } const windows[] = {{8, 9, 1}, {2, 3, 1}, {0, 3, 2}, {9, 9, 0}};
  for (const Case& w : windows) {
    FeatureCorrelatorOpticalFlow::Parameter p;
    p.m_window_width = w.width;
    LogCapture log;
    c.SetParameter(p);
    EXPECT_EQ(c.GetParameter().m_window_width, w.expected) << w.width;
    int warnings = 0;
    for (size_t at = log.text.find("Warning:"); at != std::string::npos;
         at = log.text.find("Warning:", at + 1))
      ++warnings;
    EXPECT_EQ(warnings, w.warnings) << w.width << "\n" << log.text;
  }
  // A bad block becomes the defaults; the threshold starts at the minimum.
  FeatureCorrelatorOpticalFlow::Parameter bad;
  bad.m_min_eigenvalue = 0.5f;
  bad.m_corner_count = 5;
  c.SetParameter(bad);
  EXPECT_EQ(c.GetParameter().m_corner_count, 1000u);
  EXPECT_EQ(c.GetParameter().m_eigenvalue_threshold, 100.0f);
}

TEST(OpticalFlowCorrelatorTest, TracksAMovingTexture) {
  Sequence seq(3, 2.3, -1.4);
  FeatureCorrelatorOpticalFlow c;
  c.SetParameter(SmallParameters());
  // The first image's user feature stays untracked.
  FeaturePtr manual = AddFeature(seq[0], 100, 75, FP2D_FLAG_MANUAL);
  for (int k = 0; k < 2; ++k) {
    c.SetFeatureImages(seq[k], seq[k + 1]);
    const int32_t n = c.Compute();
    ASSERT_GT(n, 30) << k;
    EXPECT_EQ(n, c.GetCorrespondenceCount());
    for (const auto& link : c.GetCorrespondences()) {
      const FeaturePoint2D& a = *link->GetFirst();
      const FeaturePoint2D& b = *link->GetSecond();
      EXPECT_EQ(a.GetImage(), seq[k]);
      EXPECT_EQ(b.GetImage(), seq[k + 1]);
      EXPECT_EQ(a.GetSuccessor().Get(), link.Get());
      EXPECT_EQ(b.GetPredecessor().Get(), link.Get());
      EXPECT_EQ(link->GetScore(), 1.0f);
      EXPECT_TRUE(link->GetFlags() & FCORR_SUPPORT_TRUE);
      EXPECT_NEAR(b.x - a.x, seq.dx(), 0.1);
      EXPECT_NEAR(b.y - a.y, seq.dy(), 0.1);
      EXPECT_TRUE(b.TestFlags(FP2D_FLAG_COVARIANCE));
      EXPECT_EQ(b.TestFlags(FP2D_FLAG_QUOTA), a.TestFlags(FP2D_FLAG_QUOTA));
    }
    EXPECT_EQ(c.GetLostCount() + n, seq[k]->GetFPoints2D().size() - (k == 0 ? 1u : 0u));
    // Lost features were replaced: the second image is filled up again.
    EXPECT_EQ(seq[k + 1]->GetFPoints2D().size(), c.GetSelectedCount());
  }
  EXPECT_FALSE(manual->GetSuccessor());
  // The first step filled the image around its existing feature.
  EXPECT_EQ(seq[0]->GetFPoints2D()[0].Get(), manual.Get());
  // The second step reused the pyramid of the first step's second image.
  EXPECT_EQ(c.GetIntensityPyramid(0)->GetImageIndex(), 1);
  EXPECT_EQ(c.GetIntensityPyramid(1)->GetImageIndex(), 2);
}

TEST(OpticalFlowCorrelatorTest, ReverseTrackingLinksLowToHigh) {
  Sequence seq(2, 1.2, 0.7);
  FeatureCorrelatorOpticalFlow c;
  c.SetParameter(SmallParameters());
  c.SetFlags(FeatureCorrelator::kModeReverse);
  c.SetFeatureImages(seq[1], seq[0]);
  ASSERT_GT(c.Compute(), 30);
  for (const auto& link : c.GetCorrespondences()) {
    EXPECT_EQ(link->GetFirst()->GetImage(), seq[0]);
    EXPECT_EQ(link->GetSecond()->GetImage(), seq[1]);
    EXPECT_EQ(link->GetSecond()->GetPredecessor().Get(), link.Get());
    EXPECT_EQ(link->GetFirst()->GetSuccessor().Get(), link.Get());
    EXPECT_NEAR(link->GetSecond()->x - link->GetFirst()->x, 1.2, 0.1);
  }
}

TEST(OpticalFlowCorrelatorTest, TaggedStepsAccumulate) {
  Sequence seq(3, 1.5, 1.0);
  FeatureCorrelatorOpticalFlow c;
  c.SetParameter(SmallParameters());
  c.SetFlags(FeatureCorrelator::kModeTagged);
  FeaturePtr tagged = AddFeature(seq[0], 80, 60, FP2D_FLAG_TO_TRACK | FP2D_FLAG_MANUAL);
  AddFeature(seq[0], 120, 90, 0);  // not tagged
  FeaturePtr anchor = FeaturePtr::Make(seq[0], 110, 70);
  anchor->AssignFlags(FP2D_FLAG_TO_TRACK | FP2D_FLAG_ANCHOR);
  seq[0]->AddAnchor(anchor);
  FeaturePtr kept = AddFeature(seq[1], 20, 20, 0);
  c.SetFeatureImages(seq[0], seq[1]);
  EXPECT_EQ(c.Compute(), 2);
  c.SetFeatureImages(seq[1], seq[2]);
  EXPECT_EQ(c.Compute(), 2);
  EXPECT_EQ(c.GetCorrespondenceCount(), 4);
  EXPECT_EQ(c.GetLostRatio(), 0.0);
  // The tag moved on with the other flags; the second image kept its own feature.
  EXPECT_EQ(seq[1]->GetFPoints2D().size(), 3u);
  EXPECT_EQ(seq[1]->GetFPoints2D()[0].Get(), kept.Get());
  EXPECT_FALSE(tagged->TestFlags(FP2D_FLAG_TO_TRACK));
  const FeaturePoint2D& end = *seq[2]->GetFPoints2D()[0];
  EXPECT_TRUE(end.TestFlags(FP2D_FLAG_TO_TRACK | FP2D_FLAG_MANUAL));
  EXPECT_NEAR(end.x, 83.0, 0.1);
  EXPECT_NEAR(end.y, 62.0, 0.1);
  EXPECT_TRUE(seq[2]->GetFPoints2D()[1]->TestFlags(FP2D_FLAG_ANCHOR));
}

TEST(OpticalFlowCorrelatorTest, ASpotThatJustLostItsFeatureIsNotPickedAgainAtOnce) {
  // In the second frame a checkerboard replaces the texture around (100, 75): the
  // feature there is lost, and the checkerboard's strong corners are the very spot.
  kxtest::FrameSequence seq(2, kWidth, kHeight, "pgm", [](std::ofstream& out, int k) {
    out << "P5\n" << kWidth << " " << kHeight << "\n255\n";
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        double v = Texture(x, y);
        if (k == 1 && std::abs(x - 100) <= 6 && std::abs(y - 75) <= 6)
          v = (((x - 100 + 64) / 3 + (y - 75 + 64) / 3) & 1) ? 230.0 : 20.0;
        out.put(static_cast<char>(std::lround(v)));
      }
  });
  FeatureCorrelatorOpticalFlow c;
  c.SetParameter(SmallParameters());
  FeaturePtr lost = AddFeature(seq[0], 100, 75, 0);
  c.SetFeatureImages(seq[0], seq[1]);
  c.Compute();
  ASSERT_FALSE(lost->GetSuccessor());
  const int32_t half = static_cast<int32_t>(c.GetParameter().m_window_width / 2);
  for (const auto& f : seq[1]->GetFPoints2D())
    EXPECT_FALSE(std::fabs(f->x - 100) <= half && std::fabs(f->y - 75) <= half)
        << f->x << " " << f->y;
}

TEST(OpticalFlowCorrelatorTest, NeedsNewFeaturesAfterTheLostRatio) {
  Sequence seq(2, 0.0, 0.0);
  FeatureCorrelatorOpticalFlow c;
  FeatureCorrelatorOpticalFlow::Parameter p = SmallParameters();
  p.m_corner_count = 40;
  p.m_lost_ratio = 0.25f;
  c.SetParameter(p);
  c.SetFeatureImages(seq[0], seq[1]);
  ASSERT_TRUE(c.ComputePyramid(seq[0], 0));
  ASSERT_EQ(c.SelectGoodFeatures(0, true), 40);
  for (int k = 0; k < 29; ++k) AddFeature(seq[1], k, k, 0);
  EXPECT_TRUE(c.NeedsNewFeatures());  // 11 lost
  AddFeature(seq[1], 1, 1, 0);
  EXPECT_FALSE(c.NeedsNewFeatures());  // 10 lost
  for (int k = 0; k < 11; ++k) AddFeature(seq[1], k, k, 0);
  LogCapture log;
  EXPECT_TRUE(c.NeedsNewFeatures());  // more than selected
}

TEST(OpticalFlowCorrelatorTest, SelectionFillsUpToTheCountAndAdaptsTheThreshold) {
  Sequence seq(1, 0.0, 0.0);
  FeatureCorrelatorOpticalFlow c;
  FeatureCorrelatorOpticalFlow::Parameter p = SmallParameters();
  c.SetParameter(p);
  c.SetFeatureImages(seq[0], seq[0]);
  ASSERT_TRUE(c.ComputePyramid(seq[0], 0));
  FeaturePtr user = AddFeature(seq[0], 100, 75, FP2D_FLAG_MANUAL);
  ASSERT_EQ(c.SelectGoodFeatures(0, true), 60);
  const auto& features = seq[0]->GetFPoints2D();
  EXPECT_EQ(features[0].Get(), user.Get());
  for (size_t i = 1; i < features.size(); ++i) {
    EXPECT_TRUE(features[i]->TestFlags(FP2D_FLAG_NEW_TRACK | FP2D_FLAG_QUOTA));
    // New corners keep their distance from each other (replace ignores the old ones).
    for (size_t j = 1; j < i; ++j)
      EXPECT_TRUE(std::fabs(features[i]->x - features[j]->x) > 8 ||
                  std::fabs(features[i]->y - features[j]->y) > 8);
    EXPECT_GE(features[i]->x, c.GetBorderX());
    EXPECT_LE(features[i]->x, kWidth - c.GetBorderX());
  }
  EXPECT_GE(c.GetParameter().m_eigenvalue_threshold, c.GetParameter().m_min_eigenvalue);
  // A full image still gets exactly one new feature.
  EXPECT_EQ(c.SelectGoodFeatures(0, false), 61);
  // Replace keeps the user feature and removes the automatic ones.
  EXPECT_EQ(c.SelectGoodFeatures(0, true), 60);
  EXPECT_EQ(features[0].Get(), user.Get());
}

TEST(OpticalFlowCorrelatorTest, UniformImageResetsTheThreshold) {
  Sequence seq(1, 0.0, 0.0);
  FeatureCorrelatorOpticalFlow c;
  FeatureCorrelatorOpticalFlow::Parameter p = SmallParameters();
  p.m_eigenvalue_threshold = 1e12f;  // nothing passes
  p.m_min_eigenvalue = 1e12f;
  c.SetParameter(p);
  c.SetFeatureImages(seq[0], seq[0]);
  ASSERT_TRUE(c.ComputePyramid(seq[0], 0));
  EXPECT_EQ(c.SelectGoodFeatures(0, true), 0);
  EXPECT_EQ(c.GetParameter().m_eigenvalue_threshold, 1e12f);
}

// Masks of the test: rectangles given per frame.
class RectMasks : public TrackingMaskList {
 public:
  struct Rect {
    int property;
    double x0, y0, x1, y1;
  };
  std::vector<Rect> rects;
  int GetMaskCount() const override { return static_cast<int>(rects.size()); }
  int GetMaskProperty(int m) const override { return rects[m].property; }
  bool IsMaskActiveAt(int, int32_t) const override { return true; }
  bool IsInsideMask(int m, double x, double y, int32_t) const override {
    const Rect& r = rects[m];
    return x > r.x0 && x < r.x1 && y > r.y0 && y < r.y1;
  }
  void GetMaskPolygon(int m, int32_t, std::vector<std::pair<double, double>>* v) const override {
    const Rect& r = rects[m];
    *v = {{r.x0, r.y0}, {r.x1, r.y0}, {r.x1, r.y1}, {r.x0, r.y1}};
  }
};

RectMasks g_masks;
const FeatureImageOwner* g_masked_owner = nullptr;

const TrackingMaskList* Lookup(const FeatureImageOwner* owner) {
  return owner == g_masked_owner ? &g_masks : nullptr;
}

TEST(OpticalFlowCorrelatorTest, Masks) {
  Sequence seq(1, 0.0, 0.0);
  g_masked_owner = seq.owner();
  SetTrackingMaskLookup(Lookup);
  FeatureCorrelatorOpticalFlow c;
  struct Case {
    std::vector<RectMasks::Rect> rects;
    bool masked;
  } const cases[] = {
      {{{0, 0, 0, 100, 100}}, true},
      {{{0, 0, 0, 100, 100}, {2, 40, 40, 60, 60}}, false},
      {{{1, 0, 0, 100, 100}}, false},
      {{{0, 0, 0, 10, 10}}, false},
  };
  for (const Case& k : cases) {
    g_masks.rects = k.rects;
    EXPECT_EQ(c.IsMaskedForTracking(seq[0], 50, 50), k.masked);
  }
  // Detection keeps out of property 0 and 1 areas except where property 2 re-admits.
  g_masks.rects = {{1, -1, -1, 100, 200}, {2, 20, 20, 80, 130}};
  c.SetParameter(SmallParameters());
  c.SetFeatureImages(seq[0], seq[0]);
  ASSERT_TRUE(c.ComputePyramid(seq[0], 0));
  ASSERT_GT(c.SelectGoodFeatures(0, true), 10);
  bool inner = false;
  for (const auto& f : seq[0]->GetFPoints2D()) {
    const bool in_exclusion = f->x < 100;
    const bool in_inclusion = f->x > 20 && f->x < 80 && f->y > 20 && f->y < 130;
    EXPECT_TRUE(!in_exclusion || in_inclusion) << f->x << "," << f->y;
    inner = inner || in_inclusion;
  }
  EXPECT_TRUE(inner);
  SetTrackingMaskLookup(nullptr);
}

TEST(OpticalFlowCorrelatorTest, ConsistencyCheckAttachesSharedAttributes) {
  Sequence seq(3, 1.1, 0.6);
  FeatureCorrelatorOpticalFlow c;
  FeatureCorrelatorOpticalFlow::Parameter p = SmallParameters();
  p.m_consistency_check = 1;
  c.SetParameter(p);
  // A feature too close to the edge for the window gets no attribute but is tracked.
  AddFeature(seq[0], 30, 30, 0);
  for (int k = 0; k < 2; ++k) {
    c.SetFeatureImages(seq[k], seq[k + 1]);
    ASSERT_GT(c.Compute(), 20);
  }
  int shared = 0;
  for (const auto& f : seq[2]->GetFPoints2D()) {
    if (!f->GetPredecessor()) continue;
    const FeaturePoint2D& prev = *f->GetPredecessor()->GetFirst();
    AffineFeatureAttribute* a = GetAffineFeatureAttribute(*f);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, GetAffineFeatureAttribute(prev));
    EXPECT_EQ(a->current_frame, 2);
    if (prev.GetPredecessor()) {
      ++shared;
      EXPECT_EQ(a->window_frame, 0);
      EXPECT_EQ(a->history.size(), 2u);
    }
  }
  EXPECT_GT(shared, 10);
}

TEST(OpticalFlowCorrelatorTest, PreviewAndMissingImages) {
  Sequence seq(1, 0.0, 0.0);
  FeatureCorrelatorOpticalFlow c;
  c.SetParameter(SmallParameters());
  EXPECT_EQ(c.PreviewFeatures(seq[0]), 60);
  EXPECT_EQ(c.PreviewFeatures(seq[0]), 60);
  LogCapture log;
  c.SetFeatureImages(seq[0], nullptr);
  EXPECT_EQ(c.Compute(), 0);
  EXPECT_TRUE(log.Has("no images set !")) << log.text;
  // A camera without size: no detector runs.
  FeatureImage* image = seq[0];
  image->Set(image->GetC(), image->GetA(), image->GetH(), image->GetV(), 0, 0, 0.0,
             image->GetPixelSizeX(), image->GetPixelSizeY(), 0.0, 0, image->GetDistortionModel());
  EXPECT_EQ(c.PreviewFeatures(image), 0);
  EXPECT_TRUE(log.Has("bad image size (0x0)")) << log.text;
  // A frame the cache cannot deliver ends the step with 0.
  FeatureImage lost(seq.owner());
  lost.SetImageIndex(5);
  c.SetFeatureImages(seq[0], &lost);
  EXPECT_EQ(c.Compute(), 0);
}

TEST(OpticalFlowCorrelatorTest, StaleFirstPyramidIsRebuilt) {
  Sequence seq(4, 1.7, -0.9);
  FeatureCorrelatorOpticalFlow c;
  c.SetParameter(SmallParameters());
  c.SetFeatureImages(seq[0], seq[1]);
  ASSERT_GT(c.Compute(), 30);
  // Not the continuation of the last step: buffer 0 must be built from frame 2.
  for (int k = 0; k < 30; ++k) AddFeature(seq[2], 40 + 4 * k, 50 + (k % 5) * 10, 0);
  c.SetFeatureImages(seq[2], seq[3]);
  ASSERT_GT(c.Compute(), 20);
  EXPECT_EQ(c.GetIntensityPyramid(0)->GetImageIndex(), 2);
  for (const auto& link : c.GetCorrespondences()) {
    EXPECT_NEAR(link->GetSecond()->x - link->GetFirst()->x, 1.7, 0.1);
    EXPECT_NEAR(link->GetSecond()->y - link->GetFirst()->y, -0.9, 0.1);
  }
}

TEST(OpticalFlowCorrelatorTest, PoolRunMatchesTheSerialRun) {
  // The features dealt out to several trackers come back to the right old features.
  std::vector<std::vector<double>> runs;
  for (int pooled = 0; pooled < 2; ++pooled) {
    Sequence seq(2, 0.8, 1.3);
    FeatureCorrelatorOpticalFlow c;
    c.SetParameter(SmallParameters());
    if (pooled) {
      WorkerPool::SetNumberOfThreads(3);
      c.SetSharedBuffer(SharedPtr<SharedWorkBuffer>::Make(2));  // smaller than the job count
    }
    c.SetFeatureImages(seq[0], seq[1]);
    c.Compute();
    if (pooled) {
      EXPECT_EQ(c.TrackerCount(), 3u);
      EXPECT_EQ(c.CornerDetectorCount(), 3u);
      EXPECT_EQ(c.GetSharedBuffer()->count, 0);
      WorkerPool::SetNumberOfThreads(1);
    }
    std::vector<double> positions;
    for (const auto& link : c.GetCorrespondences())
      for (const FeaturePoint2D* f : {link->GetFirst().Get(), link->GetSecond().Get()}) {
        positions.push_back(f->x);
        positions.push_back(f->y);
      }
    runs.push_back(positions);
  }
  ASSERT_GT(runs[0].size(), 100u);
  EXPECT_EQ(runs[0], runs[1]);
}

}  // namespace
