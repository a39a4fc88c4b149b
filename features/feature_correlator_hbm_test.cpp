#include "features/feature_correlator_hbm.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "features/frame_sequence_for_test.h"
#include "foundation/tracks/feature_flags.h"
#include "image/image_cache.h"
#include "testing/log_capture.h"

namespace {

// A colour texture with structure at several scales, so blocks are distinct at
// quarter, half and full resolution; shifted by (dx, dy).
std::vector<uint32_t> Texture(int w, int h, double dx, double dy) {
  std::vector<uint32_t> px(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double u = x - dx, v = y - dy;
      const double c[3] = {
          128 + 50 * std::sin(0.071 * u + 0.043 * v) + 30 * std::cos(0.23 * v - 0.11 * u) +
              20 * std::sin(0.37 * u + 0.05 * v),
          128 + 45 * std::sin(0.053 * u - 0.081 * v + 1.0) + 35 * std::cos(0.29 * u + 0.13 * v) +
              15 * std::sin(0.41 * v - 0.2 * u),
          128 + 60 * std::cos(0.061 * u + 0.067 * v + 2.0) + 30 * std::sin(0.33 * v + 0.17 * u)};
      uint32_t p = 0;
      for (int k = 0; k < 3; ++k) p |= uint32_t(std::lround(c[k])) << (8 * k);
      px[size_t(y) * w + x] = p;
    }
  }
  return px;
}

// Full, half and quarter planes of one frame (width a multiple of 4, so the
// strides are the widths).
struct Frame {
  int w, h;
  std::vector<uint32_t> full, half, quarter;
  Frame(int w, int h, double dx, double dy) : w(w), h(h), full(Texture(w, h, dx, dy)) {
    half.resize(size_t(w / 2) * (h / 2));
    quarter.resize(size_t(w / 4) * (h / 4));
    HalveImageRGBA(half.data(), w / 2, full.data(), w, w, h);
    HalveImageRGBA(quarter.data(), w / 4, half.data(), w / 2, w / 2, h / 2);
  }
};

HBMLevelImages Levels(const Frame& s, const Frame& t) {
  HBMLevelImages im;
  const uint32_t* src[3] = {s.full.data(), s.half.data(), s.quarter.data()};
  const uint32_t* tgt[3] = {t.full.data(), t.half.data(), t.quarter.data()};
  for (int l = 0; l < 3; ++l) {
    im.level[l] = {src[l], tgt[l], s.w >> l, s.h >> l, s.w >> l};
  }
  return im;
}

TEST(TrackFeatureJobTest, RecoversKnownTranslations) {
  const Frame src(192, 160, 0, 0);
  struct Shift {
    double dx, dy, tol;
  };
  // Integer shifts: the blocks match exactly, and the 1/32-level fixed-point
  // samples hold the refined position to a few thousandths of a pixel.
  const Shift shifts[] = {
      {0, 0, 0.01}, {5, -3, 0.01}, {-9, 7, 0.01}, {2.4, 1.7, 0.05}, {-6.3, -4.8, 0.05}};
  for (const Shift& s : shifts) {
    const Frame tgt(192, 160, s.dx, s.dy);
    const HBMLevelImages im = Levels(src, tgt);
    for (auto [x, y] : {std::pair{96.0, 80.0}, std::pair{60.0, 100.0}, std::pair{130.5, 55.25}}) {
      TrackFeatureItem item;
      item.images = &im;
      item.position = {x, y, x, y};
      TrackFeatureJob(nullptr, &item);
      ASSERT_EQ(item.result, 0) << s.dx << "," << s.dy << " at " << x << "," << y;
      EXPECT_NEAR(item.position.target_x, x + s.dx, s.tol) << s.dx << "," << s.dy;
      EXPECT_NEAR(item.position.target_y, y + s.dy, s.tol) << s.dx << "," << s.dy;
      EXPECT_EQ(item.position.source_x, x);
      EXPECT_EQ(item.position.source_y, y);
      EXPECT_FALSE(item.retried);
    }
  }
}

TEST(TrackFeatureJobTest, NearTheBorderTheFinerLevelsSearchAlone) {
  const Frame src(192, 160, 0, 0), tgt(192, 160, 1.5, -1.0);
  const HBMLevelImages im = Levels(src, tgt);
  enum Outcome { kFirstPass, kRetried, kLost };
  struct Case {
    double x, y, start_x, start_y;
    Outcome want;
  };
  // Quarter block origin trunc(x / 4) - 4 must be >= 0 and below width / 4 - 8; the
  // full-resolution one trunc(x) - 4 >= 0 and below width - 8.
  const Case cases[] = {
      {16.0, 80, 16.0, 80, kFirstPass},
      {15.9, 80, 15.9, 80, kRetried},
      {80, 15.0, 80, 15.0, kRetried},
      {175.9, 80, 175.9, 80, kFirstPass},
      {176.0, 80, 176.0, 80, kRetried},
      {80, 144.0, 80, 144.0, kRetried},
      {6.0, 80, 6.0, 80, kRetried},
      {2.0, 80, 3.9, 80, kLost},
      {188.0, 80, 188.0, 80, kLost},
      // A start moved on to the border: the quarter level searches around the feature.
      {20.0, 80, 15.0, 80, kFirstPass},
      {170.0, 80, 180.0, 80, kFirstPass}};
  for (const Case& c : cases) {
    TrackFeatureItem item;
    item.images = &im;
    item.position = {c.x, c.y, c.start_x, c.start_y};
    TrackFeatureJob(nullptr, &item);
    const Outcome got = item.result < 0 ? kLost : item.retried ? kRetried : kFirstPass;
    EXPECT_EQ(got, c.want) << c.x << "," << c.y << " result " << item.result;
    if (got == kLost) continue;
    EXPECT_NEAR(item.position.target_x, c.x + 1.5, 0.05) << c.x << "," << c.y;
    EXPECT_NEAR(item.position.target_y, c.y - 1.0, 0.05) << c.x << "," << c.y;
  }
}

// Where the scene moves unevenly the quarter block (32 x 32 pixels) follows its
// surroundings rather than the feature, and the finer +-2 searches cannot come back from
// its best match. Each case gives the feature's true motion (half and full levels), what
// the quarter level shows instead, the feature and the job's start.
TEST(TrackFeatureJobTest, FindsTheFeatureWhereTheQuarterLevelMisleads) {
  const Frame src(192, 160, 0, 0);
  struct Case {
    const char* name;
    double dx, dy;
    std::function<void(Frame&)> quarter;
    double x, y, start_x, start_y;
  };
  const Case cases[] = {
      // The quarter level moves by (26, 1): searched again from the start.
      {"misleading quarter level, predicted start", 2, 1,
       [](Frame& t) { t.quarter = Frame(192, 160, 26, 1).quarter; }, 96, 80, 98, 81},
      // A copy of the feature's quarter block (whole quarter pixels, top-left (21, 16)
      // for a feature at (98, 78)) one quarter pixel left of it is the cheaper minimum;
      // no start or finer search reaches the 20 px motion, the second minimum does.
      {"copy beside the block, next quarter minimum", 20, 0,
       [&](Frame& t) {
         for (int y = 16; y < 24; ++y)
           for (int x = 21; x < 29; ++x)
             t.quarter[size_t(y) * 48 + x - 1] = src.quarter[size_t(y) * 48 + x];
       },
       98, 78, 98, 78},
      // No quarter-level motion where the feature moved 9 px: the +-2 half-level
      // searches and the refinement reach 8 px, the wider last one finds it.
      {"still quarter level, wider half search", 9, 0, [&](Frame& t) { t.quarter = src.quarter; },
       96, 80, 96, 80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Frame tgt(192, 160, c.dx, c.dy);
    c.quarter(tgt);
    const HBMLevelImages im = Levels(src, tgt);
    TrackFeatureItem item;
    item.images = &im;
    item.position = {c.x, c.y, c.start_x, c.start_y};
    TrackFeatureJob(nullptr, &item);
    ASSERT_EQ(item.result, 0);
    EXPECT_NEAR(item.position.target_x, c.x + c.dx, 0.05) << item.position.target_y;
    EXPECT_NEAR(item.position.target_y, c.y + c.dy, 0.05);
    EXPECT_TRUE(item.retried);
  }
}

TEST(HBMMotionFieldTest, MedianOfTheNearestWithinTheRadius) {
  HBMMotionField field;
  double dx = 7.0, dy = 7.0;
  EXPECT_FALSE(field.Predict(100, 100, &dx, &dy));
  // Five neighbours around (100, 100), one of them an outlier; a sixth further away and
  // one beyond the radius.
  field.Add(110, 100, 3.0, -1.0);
  field.Add(90, 100, 3.5, -1.5);
  field.Add(100, 112, 2.5, -1.0);
  field.Add(100, 88, 40.0, 30.0);
  field.Add(105, 105, 3.2, -1.2);
  field.Add(130, 100, -50.0, -50.0);
  field.Add(300, 300, 9.0, 9.0);
  struct Case {
    double x, y;
    bool found;
    double dx, dy;
  };
  const Case cases[] = {
      {100, 100, true, 3.2, -1.0},  // median of the five nearest: the outliers drop out
      {300, 340, true, 9.0, 9.0},   // a single sample within 48 px
      {300, 349, false, 7.0, 7.0},  // beyond the radius: nothing predicted
      {-5000, 0, false, 7.0, 7.0},  // far off the grid
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    dx = dy = 7.0;
    EXPECT_EQ(field.Predict(c.x, c.y, &dx, &dy), c.found);
    EXPECT_DOUBLE_EQ(dx, c.dx);
    EXPECT_DOUBLE_EQ(dy, c.dy);
  }
  // Samples far apart (not image positions) bin without overflow; whatever is
  // predicted then is one of the samples' motions.
  HBMMotionField far;
  far.Add(0, 0, 1.0, 1.0);
  far.Add(1e300, -1e300, 5.0, 5.0);
  dx = 1.0;
  for (double x : {10.0, 1e300, -1e300}) {
    if (far.Predict(x, 10, &dx, &dy)) {
      EXPECT_TRUE(dx == 1.0 || dx == 5.0);
    }
  }
  // Two samples: the mean of both.
  HBMMotionField two;
  two.Add(0, 0, 1.0, 2.0);
  two.Add(10, 0, 3.0, 4.0);
  ASSERT_TRUE(two.Predict(5, 0, &dx, &dy));
  EXPECT_DOUBLE_EQ(dx, 2.0);
  EXPECT_DOUBLE_EQ(dy, 3.0);
}

TEST(HBMCrossCheckTest, Table) {
  auto item = [](double x, double y, int result) {
    TrackFeatureItem it;
    it.position = {0, 0, x, y};
    it.result = result;
    return it;
  };
  struct Case {
    TrackFeatureItem own;
    bool has_pred;
    TrackFeatureItem pred;
    bool kept;
    double x, y;
  };
  const Case cases[] = {
      {item(10, 20, 0), false, {}, true, 10, 20},
      {item(10, 20, -2), false, {}, false, 0, 0},
      {item(10, 20, 0), true, item(11, 20, 0), true, 10.5, 20},  // exactly one pixel
      {item(10, 20, 0), true, item(10.4, 20.6, 0), true, 10.2, 20.3},
      // 1.13 px apart, or a predecessor that cannot be followed: keeping the own
      // estimate needs its cost, and these items lack the images.
      {item(10, 20, 0), true, item(10.8, 20.7, 0), false, 0, 0},
      {item(10, 20, 0), true, item(10, 20, -3), false, 0, 0},
      {item(10, 20, -1), true, item(10, 20, 0), false, 0, 0},
  };
  for (const Case& c : cases) {
    double x = 0, y = 0;
    const bool kept = HBMCrossCheck(c.own, c.has_pred ? &c.pred : nullptr, &x, &y);
    EXPECT_EQ(kept, c.kept) << c.own.position.target_x << " vs " << c.pred.position.target_x;
    if (kept) {
      EXPECT_DOUBLE_EQ(x, c.x);
      EXPECT_DOUBLE_EQ(y, c.y);
    }
  }
}

// What the cross-check keeps when the predecessor does not confirm the feature, or a
// job needed a second search: on a texture moved by (3, 2), (99, 82) is the feature's
// true match, (101.5, 82.5) a wrong one costing far more than the block's one-pixel
// self-difference, (99.4, 82) close enough to be plausible.
TEST(HBMCrossCheckTest, UnconfirmedEstimatesNeedAPlausibleCost) {
  const Frame src(192, 160, 0, 0), tgt(192, 160, 3, 2);
  const HBMLevelImages im = Levels(src, tgt);
  const HBMLevelImages::Level& full = im.level[0];
  const int texture = HBMBlockTexture(full, 96, 80);
  ASSERT_GT(texture, 0);
  EXPECT_LE(HBMMatchCost(full, 96, 80, 99, 82), texture / 4);
  EXPECT_LE(HBMMatchCost(full, 96, 80, 99.4, 82), texture);
  EXPECT_GT(HBMMatchCost(full, 96, 80, 101.5, 82.5), 2 * texture);
  auto item = [&](double x, double y, int result, bool retried) {
    TrackFeatureItem it;
    it.images = &im;
    it.position = {96, 80, x, y};
    it.result = result;
    it.retried = retried;
    return it;
  };
  enum Pred { kNone, kFailed, kAt };
  struct Case {
    const char* name;
    double x, y;
    bool retried;
    Pred pred;
    double px, py;
    bool pred_retried;
    bool kept;
    double kx, ky;
  };
  const Case cases[] = {
      {"failed predecessor, good own estimate", 99, 82, false, kFailed, 0, 0, false, true, 99, 82},
      {"failed predecessor, wrong own estimate", 101.5, 82.5, false, kFailed, 0, 0, false, false, 0,
       0},
      {"failed predecessor, own job retried", 99, 82, true, kFailed, 0, 0, false, false, 0, 0},
      {"no predecessor, first pass", 101.5, 82.5, false, kNone, 0, 0, false, true, 101.5, 82.5},
      {"no predecessor, own job retried", 99, 82, true, kNone, 0, 0, false, false, 0, 0},
      {"apart, own estimate right", 99, 82, false, kAt, 101.5, 82.5, false, true, 99, 82},
      {"apart, predecessor's right", 101.5, 82.5, false, kAt, 99, 82, false, true, 99, 82},
      {"apart, the better one retried", 101.5, 82.5, false, kAt, 99, 82, true, false, 0, 0},
      {"apart, neither clearly better", 101.5, 82.5, false, kAt, 96.5, 81.5, false, false, 0, 0},
      {"within a pixel, retried, plausible", 99, 82, true, kAt, 99.8, 82, false, true, 99.4, 82},
      {"within a pixel, retried, wrong", 101.5, 82.5, false, kAt, 101.5, 83.2, true, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TrackFeatureItem own = item(c.x, c.y, 0, c.retried);
    const TrackFeatureItem pred = item(c.px, c.py, c.pred == kFailed ? -3 : 0, c.pred_retried);
    double x = 0, y = 0;
    ASSERT_EQ(HBMCrossCheck(own, c.pred == kNone ? nullptr : &pred, &x, &y), c.kept);
    if (c.kept) {
      EXPECT_DOUBLE_EQ(x, c.kx);
      EXPECT_DOUBLE_EQ(y, c.ky);
    }
  }
}

using FeaturePtr = SharedPtr<FeaturePoint2D>;

// Colour frames of the texture moving by (dx, dy) per frame, as PPM files read
// through an image cache, with their feature images.
class Sequence : public kxtest::FrameSequence {
 public:
  static constexpr int kW = 192, kH = 160;
  Sequence(int frames, double dx, double dy)
      : FrameSequence(frames, kW, kH, "ppm", [=](std::ofstream& out, int k) {
          const std::vector<uint32_t> px = Texture(kW, kH, k * dx, k * dy);
          out << "P6\n" << kW << " " << kH << "\n255\n";
          for (uint32_t p : px) {
            out.put(char((p >> 16) & 0xFF));
            out.put(char((p >> 8) & 0xFF));
            out.put(char(p & 0xFF));
          }
        }) {}
};

using kxtest::AddFeature;

FeatureCorrelatorOpticalFlow::Parameter SmallParameters() {
  FeatureCorrelatorOpticalFlow::Parameter p;
  p.m_corner_count = 40;
  p.m_min_dist = 10;
  return p;
}

// Every correspondence of the last step moves its feature by the frame shift.
void ExpectShift(const FeatureCorrelator& c, double dx, double dy, bool reverse = false) {
  for (const auto& link : c.GetCorrespondences()) {
    const FeaturePoint2D& a = *link->GetFirst();
    const FeaturePoint2D& b = *link->GetSecond();
    EXPECT_EQ(link->GetScore(), 1.0f);
    EXPECT_EQ(link->GetFlags(), FCORR_SUPPORT_TRUE);
    EXPECT_EQ(a.GetSuccessor(), link);
    EXPECT_EQ(b.GetPredecessor(), link);
    EXPECT_NEAR(b.x - a.x, dx, 0.05) << (reverse ? "reverse " : "") << a.x << "," << a.y;
    EXPECT_NEAR(b.y - a.y, dy, 0.05) << (reverse ? "reverse " : "") << a.x << "," << a.y;
  }
}

TEST(FeatureCorrelatorHBMTest, SelectsCornersAtTheScaleOfItsBlocks) {
  const FeatureCorrelatorHBM hbm;
  EXPECT_EQ(hbm.GetParameter().m_window_width, 7u);
  EXPECT_EQ(hbm.GetParameter().m_window_height, 7u);
  EXPECT_EQ(hbm.GetPyramidLevels(), 2u);
  EXPECT_EQ(hbm.GetSubsampling(), 4u);
}

TEST(FeatureCorrelatorHBMTest, TracksShiftedFramesWithCrossCheck) {
  Sequence seq(3, 2.6, -1.7);
  FeatureCorrelatorHBM hbm;
  hbm.SetParameter(SmallParameters());
  // A user feature with a covariance is tracked too, and near the border a
  // feature is lost at the quarter level.
  FeaturePtr user = AddFeature(seq[0], 90.0, 70.0, FP2D_FLAG_MANUAL);
  user->SetCoVariance(2.0f, 0.5f, 3.0f);
  FeaturePtr edge = AddFeature(seq[0], 12.0, 80.0);
  hbm.SetFeatureImages(seq[0], seq[1]);
  const int32_t n = hbm.Compute();
  const size_t tracked = seq[0]->GetFPoints2D().size();
  EXPECT_GT(tracked, 10u);
  EXPECT_EQ(n, hbm.GetCorrespondenceCount());
  EXPECT_EQ(size_t(n) + hbm.GetLostCount(), tracked);
  EXPECT_GE(hbm.GetLostCount(), 1u);
  EXPECT_DOUBLE_EQ(hbm.GetLostRatio(), double(hbm.GetLostCount()) / tracked);
  ExpectShift(hbm, 2.6, -1.7);
  EXPECT_FALSE(edge->GetSuccessor());
  ASSERT_TRUE(user->GetSuccessor());
  const FeaturePoint2D& next = *user->GetSuccessor()->GetSecond();
  EXPECT_EQ(next.GetImage(), seq[1]);
  EXPECT_TRUE(next.TestFlags(FP2D_FLAG_COVARIANCE));
  EXPECT_EQ(next.GetCoVariance()[1], 0.5f);
  EXPECT_FALSE(next.TestFlags(FP2D_FLAG_MANUAL));

  // Second step: frame 0 holds the predecessors. Displace half of them by 3
  // pixels: the cross-check finds their estimates apart and keeps the features' own,
  // which match better; every feature stays tracked.
  std::vector<const FeaturePoint2D*> displaced;
  int k = 0;
  for (const auto& f : seq[1]->GetFPoints2D()) {
    if (!f->GetPredecessor() || k++ % 2) continue;
    FeaturePoint2D& p = *f->GetPredecessor()->GetFirst();
    p.x += 3.0;
    displaced.push_back(f.Get());
  }
  ASSERT_FALSE(displaced.empty());
  const size_t before = seq[1]->GetFPoints2D().size();
  hbm.SetFeatureImages(seq[1], seq[2]);
  const int32_t m = hbm.Compute();
  EXPECT_EQ(size_t(m) + hbm.GetLostCount(), before);
  ExpectShift(hbm, 2.6, -1.7);
  for (const auto& f : seq[1]->GetFPoints2D()) {
    const bool was_displaced =
        std::find(displaced.begin(), displaced.end(), f.Get()) != displaced.end();
    if (f->GetPredecessor() && f->x > 30 && f->x < 160 && f->y > 30 && f->y < 130) {
      EXPECT_TRUE(f->GetSuccessor()) << f->x << "," << f->y << (was_displaced ? " displaced" : "");
    }
  }
}

TEST(FeatureCorrelatorHBMTest, FastMotionKeepsItsTracksThroughTheCrossCheck) {
  // 26.0 px per frame: the cross-check covers 52 px from frame 0 to frame 2, beyond the
  // quarter-level search around the feature; the previous motion brings it back.
  Sequence seq(3, 26.0, 0.0);
  FeatureCorrelatorHBM hbm;
  hbm.SetParameter(SmallParameters());
  hbm.SetFeatureImages(seq[0], seq[1]);
  ASSERT_GT(hbm.Compute(), 5);
  ExpectShift(hbm, 26.0, 0.0);
  hbm.SetFeatureImages(seq[1], seq[2]);
  hbm.Compute();
  ExpectShift(hbm, 26.0, 0.0);
  int trackable = 0, kept = 0;
  for (const auto& f : seq[1]->GetFPoints2D()) {
    // Its block fits at every level in frame 2.
    if (!f->GetPredecessor() || f->x + 26.0 > Sequence::kW - 24 || f->y < 24 ||
        f->y > Sequence::kH - 24)
      continue;
    ++trackable;
    if (f->GetSuccessor()) ++kept;
  }
  ASSERT_GT(trackable, 3);
  EXPECT_GE(kept, trackable);
}

TEST(FeatureCorrelatorHBMTest, ReverseFromTheLastFrameSkipsTheCrossCheck) {
  Sequence seq(3, -2.0, 1.5);
  FeatureCorrelatorHBM hbm;
  hbm.SetParameter(SmallParameters());
  hbm.SetFlags(FeatureCorrelator::kModeReverse);
  AddFeature(seq[2], 80.0, 70.0);
  // A predecessor link toward frame 3, which does not exist.
  hbm.SetFeatureImages(seq[2], seq[1]);
  const int32_t n = hbm.Compute();
  EXPECT_GT(n, 0);
  for (const auto& link : hbm.GetCorrespondences()) {
    // Links run from the lower frame (the new feature) to the higher one.
    EXPECT_EQ(link->GetFirst()->GetImage(), seq[1]);
    EXPECT_EQ(link->GetSecond()->GetImage(), seq[2]);
  }
  ExpectShift(hbm, -2.0, 1.5, true);
}

TEST(FeatureCorrelatorHBMTest, MissingFramesAndEmptyImages) {
  Sequence seq(2, 1.0, 1.0);
  FeatureCorrelatorHBM hbm;
  hbm.SetParameter(SmallParameters());
  EXPECT_EQ(hbm.Compute(), 0);  // no images
  // Frame 5 is beyond the sequence: every feature is lost, nothing is made.
  FeatureImage beyond;
  beyond.SetImageIndex(5);
  AddFeature(seq[0], 80.0, 70.0);
  hbm.SetFeatureImages(seq[0], &beyond);
  EXPECT_EQ(hbm.TrackFeatures(), 0);
  EXPECT_GE(seq[0]->GetFPoints2D().size(), 2u);  // the first call's selection added some
  EXPECT_EQ(hbm.GetLostCount(), seq[0]->GetFPoints2D().size());
  EXPECT_EQ(hbm.GetCorrespondenceCount(), 0);
  EXPECT_TRUE(beyond.GetFPoints2D().empty());
  // The first call after Reset fills an empty first image; later, a first image
  // without features makes no jobs, no correspondences and loses nothing.
  hbm.Reset();
  seq[0]->ClearFPoints2D();
  hbm.SetFeatureImages(seq[0], seq[1]);
  EXPECT_GT(hbm.TrackFeatures(), 0);
  seq[0]->ClearFPoints2D();
  EXPECT_EQ(hbm.TrackFeatures(), 0);
  EXPECT_EQ(hbm.GetLostCount(), 0u);
  EXPECT_EQ(hbm.GetCorrespondenceCount(), 0);
}

TEST(FeatureCorrelatorHBMTest, KeepsTheFrameDriversStepLostCountAndPyramids) {
  Sequence seq(3, 2.0, 1.0);
  FeatureCorrelatorHBM hbm;
  hbm.SetParameter(SmallParameters());
  AddFeature(seq[0], 12.0, 80.0);  // lost at the quarter level
  hbm.SetFeatureImages(seq[0], seq[1]);
  {
    kxtest::LogCapture log;
    hbm.Compute();
    ASSERT_GE(hbm.GetLostCount(), 1u);
    // The replacement of lost features reports this step's losses.
    EXPECT_TRUE(log.Has("lost features " + std::to_string(hbm.GetLostCount()) + " ")) << log.text;
  }
  EXPECT_EQ(hbm.GetStepCount(), 1);
  const ImagePyramid* intensity = hbm.GetIntensityPyramid(1).Get();
  const ImagePyramid* gradient_x = hbm.GetGradientXPyramid(1).Get();
  const ImagePyramid* gradient_y = hbm.GetGradientYPyramid(1).Get();
  EXPECT_EQ(intensity->GetImageIndex(), 1);

  // The next step takes over the second image's pyramids as the first image's.
  hbm.SetFeatureImages(seq[1], seq[2]);
  hbm.Compute();
  EXPECT_EQ(hbm.GetStepCount(), 2);
  EXPECT_EQ(hbm.GetIntensityPyramid(0).Get(), intensity);
  EXPECT_EQ(hbm.GetGradientXPyramid(0).Get(), gradient_x);
  EXPECT_EQ(hbm.GetGradientYPyramid(0).Get(), gradient_y);
  EXPECT_EQ(hbm.GetIntensityPyramid(0)->GetImageIndex(), 1);
  EXPECT_EQ(hbm.GetIntensityPyramid(1)->GetImageIndex(), 2);
  EXPECT_EQ(hbm.GetLostCount() + uint32_t(hbm.GetCorrespondenceCount()),
            seq[1]->GetFPoints2D().size());

  hbm.Reset();
  EXPECT_EQ(hbm.GetStepCount(), 0);
  EXPECT_EQ(hbm.GetLostCount(), 0u);
}

TEST(FeatureCorrelatorHBMTest, TaggedPassKeepsTheAutomaticTracks) {
  Sequence seq(2, 1.5, 2.0);
  FeatureCorrelatorHBM hbm;
  hbm.SetParameter(SmallParameters());
  FeaturePtr a = AddFeature(seq[0], 80.0, 70.0);
  FeaturePtr b = AddFeature(seq[0], 110.0, 90.0);
  hbm.SetFeatureImages(seq[0], seq[1]);
  ASSERT_GT(hbm.Compute(), 0);
  ASSERT_TRUE(a->GetSuccessor());
  ASSERT_TRUE(b->GetSuccessor());
  const auto b_link = b->GetSuccessor();
  const size_t second_count = seq[1]->GetFPoints2D().size();

  hbm.Reset();
  hbm.SetFlags(FeatureCorrelator::kModeTagged);
  a->SetFlags(FP2D_FLAG_TO_TRACK | FP2D_FLAG_MANUAL);
  hbm.SetFeatureImages(seq[0], seq[1]);
  EXPECT_EQ(hbm.Compute(), 1);
  EXPECT_EQ(hbm.GetCorrespondenceCount(), 1);
  EXPECT_EQ(seq[1]->GetFPoints2D().size(), second_count + 1);
  EXPECT_EQ(b->GetSuccessor(), b_link);
  const FeaturePoint2D& next = *a->GetSuccessor()->GetSecond();
  EXPECT_TRUE(next.TestFlags(FP2D_FLAG_TO_TRACK | FP2D_FLAG_MANUAL));
  EXPECT_FALSE(a->TestFlags(FP2D_FLAG_TO_TRACK));
  EXPECT_NEAR(next.x, 81.5, 0.05);
  EXPECT_NEAR(next.y, 72.0, 0.05);
}

}  // namespace
