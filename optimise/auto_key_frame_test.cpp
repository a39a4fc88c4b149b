#include "optimise/auto_key_frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "geometry/key_frame_select_for_test.h"
#include "optimise/callback_for_test.h"
#include "optimise/optimizer_sparse_lm.h"
#include "optimise/search_key_frame.h"
#include "testing/log_capture.h"

namespace {

using KeyFrame = KeyFrameSelect::KeyFrame;
using ImageList = KeyFrameSelect::ImageList;

bool SameCamera(const PerspectiveCamera& a, const PerspectiveCamera& b) {
  for (int k = 0; k < 3; ++k) {
    if ((&a.GetC().x)[k] != (&b.GetC().x)[k] || (&a.GetA().x)[k] != (&b.GetA().x)[k] ||
        (&a.GetH().x)[k] != (&b.GetH().x)[k] || (&a.GetV().x)[k] != (&b.GetV().x)[k])
      return false;
  }
  return true;
}

int CountLinks(const FeatureImage& image) {
  int n = 0;
  for (const SharedPtr<FeaturePoint2D>& f : image.GetFPoints2D()) n += f->GetFPoint3D() ? 1 : 0;
  return n;
}

// Every image of the sequence still has the initial camera and no 3D-point link.
void ExpectUntouched(const kxtest::KeyFrameSequence& sequence) {
  for (const SharedPtr<FeatureImage>& image : sequence.images) {
    SCOPED_TRACE(image->GetImageIndex());
    EXPECT_TRUE(SameCamera(*image, sequence.initial));
    EXPECT_EQ(CountLinks(*image), 0);
  }
}

TEST(AutoKeyFrameScoreTest, GricAndGibsonByHand) {
  const int n = 50;
  // The default constants: 3 n ln 8 + 7 ln 4n for F, 2 n ln 8 + 8 ln 4n for H.
  EXPECT_DOUBLE_EQ(AutoKeyFrame::Gric(0.0, 0.5, n, 3, 7, 8.0, 4.0),
                   3.0 * n * std::log(8.0) + 7.0 * std::log(4.0 * n));
  EXPECT_DOUBLE_EQ(AutoKeyFrame::Gric(2.0, 0.5, n, 2, 8, 8.0, 4.0),
                   8.0 + 2.0 * n * std::log(8.0) + 8.0 * std::log(4.0 * n));

  const KeyFrameSelect::Parameter p;
  EXPECT_DOUBLE_EQ(AutoKeyFrame::GibsonScore(p, n, 20.0, 400.0),
                   20.0 / 200.0 + 10.0 * 200.0 / 400.0);
  kxtest::LogCapture log(5);
  EXPECT_DOUBLE_EQ(AutoKeyFrame::GibsonScore(p, n, 20.0, 0.0), 0.1 + 10.0 * 200.0 / 1e-10);
  EXPECT_TRUE(log.Has("KeyFrameSelect::AutoKeyFrame: eh2=0, should be > 0, setting to 1e-10"))
      << log.text;
}

// A hand-made protocol record.
struct RecordSpec {
  int n;               // correspondences
  int inliers_f;       // F inliers
  bool prefers_f;      // GRIC_H > GRIC_F
  double exp_error;    // exp_est_error
  double gibson;       // gibson_score
  double rtco = -1.0;  // m_rtco_measure
};

struct ChoiceCase {
  const char* name;
  std::vector<RecordSpec> records;
  int method;
  bool force;
  int fallback;
  int code;
  int accepted;  // protocol position of the accepted pair, -1 for none
};

class AutoKeyFrameChoiceTest : public testing::TestWithParam<ChoiceCase> {};

TEST_P(AutoKeyFrameChoiceTest, ChoosesByMethod) {
  const ChoiceCase& t = GetParam();
  KeyFrameSelect select(nullptr);
  KeyFrameSelect::Parameter parameter;
  parameter.m_method = t.method;
  select.SetParameter(parameter);

  std::vector<SharedPtr<FeatureImage>> images;
  for (size_t i = 0; i <= t.records.size(); ++i) {
    images.push_back(SharedPtr<FeatureImage>::Make());
    images.back()->SetImageIndex(int(i));
  }
  for (size_t i = 0; i < t.records.size(); ++i) {
    const RecordSpec& r = t.records[i];
    KeyFrame record(images[0], images[i + 1]);
    record.m_corr_list.resize(size_t(r.n));
    record.m_num_inliers_f = r.inliers_f;
    record.GRIC_F = 100.0;
    record.GRIC_H = r.prefers_f ? 101.0 : 100.0;
    record.exp_est_error = r.exp_error;
    record.gibson_score = r.gibson;
    record.m_rtco_measure = r.rtco;
    // The record's second camera marks it.
    SetCameraCentre(record.m_camera2, {10.0 * double(i + 1), 0.0, 0.0});
    select.AppendToProtocol(record);
  }

  EXPECT_EQ(AutoKeyFrame::Choose(select, t.fallback, t.force), t.code);
  if (t.accepted < 0) {
    EXPECT_TRUE(select.GetKeyFrameList().empty());
    for (const SharedPtr<FeatureImage>& image : images) EXPECT_EQ(image->GetC().x, 0.0);
    return;
  }
  ASSERT_EQ(select.GetKeyFrameList().size(), 1u);
  EXPECT_EQ(select.GetKeyFrameList()[0].m_fimage2.Get(), images[size_t(t.accepted) + 1].Get());
  for (size_t i = 1; i < images.size(); ++i) {
    EXPECT_EQ(images[i]->GetC().x, int(i) == t.accepted + 1 ? 10.0 * double(i) : 0.0) << i;
  }
  EXPECT_EQ(select.GetProtocol().size(), t.records.size());  // acceptance keeps the protocol
}

// F preferred with an F-inlier share of one half, no uncertainty results.
RecordSpec F(int n, double exp_error = -1.0, double gibson = 0.0, double rtco = -1.0) {
  return {n, n / 2, true, exp_error, gibson, rtco};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutoKeyFrameChoiceTest,
    testing::Values(
        ChoiceCase{"gric_share_at_limit_waits", {{100, 80, true, -1.0, 1.0}}, 5, false, 1, 1, -1},
        ChoiceCase{"gric_share_below_limit", {{100, 79, true, -1.0, 1.0}}, 5, false, 1, 0, 0},
        ChoiceCase{"gric_needs_f_preferred", {{100, 10, false, 0.5, 1.0}}, 1, true, 3, 1, -1},
        // Tracks that all fit F never pass the share test; the last chance takes the
        // widest pair that prefers F, and only then.
        ChoiceCase{"gric_shares_too_high_wait",
                   {{100, 95, true, -1.0, 1.0}, {100, 97, true, -1.0, 1.0}},
                   5,
                   false,
                   1,
                   1,
                   -1},
        ChoiceCase{
            "gric_shares_too_high_forced_take_widest",
            {{100, 95, true, -1.0, 1.0}, {100, 97, true, -1.0, 1.0}, {100, 99, false, -1.0, 1.0}},
            5,
            true,
            3,
            0,
            1},
        ChoiceCase{
            "gric_first_candidate_wins", {{100, 90, true, -1, 0}, F(90), F(80)}, 5, false, 1, 0, 1},
        ChoiceCase{
            "pollefeys_last_below_ninety_percent", {F(100), F(95), F(80)}, 3, false, 1, 0, 2},
        ChoiceCase{"pollefeys_no_drop_waits", {F(100), F(95)}, 3, false, 2, 2, -1},
        ChoiceCase{"pollefeys_forced_takes_intersection", {F(100), F(95)}, 3, true, 3, 0, 0},
        ChoiceCase{"covariance_needs_force", {F(100, 0.4), F(100, 0.2)}, 1, false, 2, 2, -1},
        ChoiceCase{"covariance_forced_smallest",
                   {F(100, 0.4), F(100, 0.2), F(100, 0.2)},
                   1,
                   true,
                   3,
                   0,
                   1},
        ChoiceCase{"covariance_forced_without_results", {F(100), F(100)}, 1, true, 3, 3, -1},
        ChoiceCase{"gibson_needs_force", {F(100, -1, 5.0), F(100, -1, 3.0)}, 2, false, 1, 1, -1},
        ChoiceCase{"gibson_forced_smallest_positive",
                   {F(100, -1, 5.0), F(100, -1, 3.0), F(100, -1, 0.0)},
                   2,
                   true,
                   3,
                   0,
                   1},
        ChoiceCase{
            "rtco_own_pair", {F(100, 0.3, 1, 12.0), F(100, 0.3, 1, 0.05)}, 4, false, 1, 0, 1},
        ChoiceCase{"rtco_iteration_counts_keep_gric",
                   {F(100, 0.3, 1, 12.0), F(100, 0.3, 1, 7.0)},
                   4,
                   false,
                   1,
                   0,
                   0}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return std::string(info.param.name); });

// A gric candidate with no uncertainty results, as a protocol's earlier record.
KeyFrame Candidate(const kxtest::KeyFrameSequence& sequence, int n) {
  KeyFrame record(sequence.images[0], sequence.images[1]);
  record.m_corr_list.resize(size_t(n));
  record.m_num_inliers_f = n / 2;
  record.GRIC_H = 1.0;
  record.m_camera1 = sequence.initial;
  record.m_camera2 = sequence.initial;
  return record;
}

struct PreparationCase {
  const char* name;
  int method;
  int max_latency;
  int reconstructed;  // images in the owner's reconstruction
  int earlier_n;      // correspondences of the earlier gric candidate
  int code;
};

class AutoKeyFramePreparationTest : public testing::TestWithParam<PreparationCase> {};

// The new pair (0, 1) only turns: it is evaluated and recorded, never preferred.
TEST_P(AutoKeyFramePreparationTest, FallbackCode) {
  const PreparationCase& t = GetParam();
  kxtest::KeyFrameSequence sequence(
      {.frames = 2, .rotation_frames = 2, .points = 40, .drift_px = 0.0});
  const ImageList reconstructed = sequence.First(t.reconstructed);
  KeyFrameSelect select(&reconstructed);
  KeyFrameSelect::Parameter parameter;
  parameter.m_method = t.method;
  parameter.m_max_latency = t.max_latency;
  select.SetParameter(parameter);
  select.SetMaxStdDev(0.5);
  select.AppendToProtocol(Candidate(sequence, t.earlier_n));

  EXPECT_EQ(AutoKeyFrame::Run(select, sequence.images, 0, 1, false), t.code);
  ASSERT_EQ(select.GetProtocol().size(), 2u);
  EXPECT_FALSE(AutoKeyFrame::PrefersF(select.GetProtocol()[1]));
  EXPECT_EQ(select.GetKeyFrameList().size(), t.code == 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutoKeyFramePreparationTest,
    testing::Values(
        // Two images beyond an empty reconstruction exceed a latency of 0: forced, and the
        // covariance method finds no result, so 3.
        PreparationCase{"latency_exceeded", 1, 0, 0, 40, 3},
        PreparationCase{"latency_kept", 1, 0, 2, 40, 1},
        PreparationCase{"no_latency_limit", 1, -1, 0, 40, 1},
        // Fewer than half the correspondences of the earlier pair ask for a restart.
        PreparationCase{"correspondences_halved", 1, -1, 0, 81, 2},
        PreparationCase{"correspondences_halved_but_forced", 1, 0, 0, 81, 3},
        // Forced, gibson takes the pair with the smallest positive score: the new one.
        PreparationCase{"latency_lets_gibson_choose", 2, 0, 0, 40, 0}),
    [](const testing::TestParamInfo<PreparationCase>& info) {
      return std::string(info.param.name);
    });

TEST(AutoKeyFrameTest, RefusedRequestsLeaveTheProtocol) {
  kxtest::KeyFrameSequence sequence({.frames = 3, .points = 6});
  KeyFrameSelect select(nullptr);
  select.SetMaxStdDev(0.5);
  {
    kxtest::LogCapture log(5);
    EXPECT_EQ(AutoKeyFrame::Run(select, sequence.images, 0, 2, false), 2);
    EXPECT_TRUE(log.Has("KeyFrameSelect::AutoKeyFrame: key frames 0, 2, found 6 correspondences"))
        << log.text;
    EXPECT_EQ(AutoKeyFrame::Run(select, sequence.images, 0, 3, false), 4);
    EXPECT_TRUE(log.Has("KeyFrameSelect::AutoKeyFrame: key frames 0, 3 out of range [0, 3]"));
  }
  select.SetMaxStdDev(0.0);
  kxtest::LogCapture log(5);
  EXPECT_EQ(AutoKeyFrame::Run(select, sequence.images, 0, 2, false), 4);
  EXPECT_TRUE(log.Has("KeyFrameSelect::AutoKeyFrame: feature standard deviation 0 not positive"))
      << log.text;
  EXPECT_TRUE(select.GetProtocol().empty());
}

TEST(AutoKeyFrameTest, ExactRotationFitsTheHomography) {
  kxtest::KeyFrameSequence sequence({.frames = 3, .points = 50, .noise_px = 0.0, .drift_px = 0.0});
  KeyFrameSelect select(nullptr);
  select.SetMaxStdDev(0.5);
  kxtest::LogCapture log(5);
  EXPECT_EQ(AutoKeyFrame::Run(select, sequence.images, 0, 2, false), 1);
  EXPECT_TRUE(log.Has("KeyFrameSelect::AutoKeyFrame: eh2=")) << log.text;
  ASSERT_EQ(select.GetProtocol().size(), 1u);
  const KeyFrame& record = select.GetProtocol()[0];
  EXPECT_EQ(record.m_num_inliers_h, 50);
  EXPECT_FALSE(AutoKeyFrame::PrefersF(record));
  EXPECT_GT(record.gibson_score, 1e10);
  EXPECT_EQ(record.m_num_fpoint3d, 0);
  EXPECT_EQ(record.exp_est_error, -1.0);
  ExpectUntouched(sequence);
}

// The search as the free-motion map runs it: first key image 0, one call per new image.
// Returns the code of the last call and the frame it was made at.
std::pair<int, int> SearchAlong(KeyFrameSelect& select, const kxtest::KeyFrameSequence& sequence,
                                std::vector<int>* codes = nullptr) {
  int code = 1, k = 1;
  for (; k < int(sequence.images.size()); ++k) {
    code = FMapMove::SearchKeyFrame(select, sequence.First(k + 1), 0, k, false);
    if (codes) codes->push_back(code);
    if (code == 0) break;
    ExpectUntouched(sequence);
  }
  return {code, k};
}

TEST(AutoKeyFrameTest, GricAcceptsTheFirstPairWithBaseline) {
  kxtest::KeyFrameSequence sequence;  // turns over frames 0 to 2, then moves 100 mm a frame
  const ImageList reconstructed;
  KeyFrameSelect select(&reconstructed);
  select.SetMaxStdDev(0.5);

  std::vector<int> codes;
  const auto [code, frame] = SearchAlong(select, sequence, &codes);
  ASSERT_EQ(code, 0);
  // The turning pairs are refused; a moving one is accepted.
  ASSERT_GE(codes.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(codes[size_t(i)], 1);
    EXPECT_FALSE(AutoKeyFrame::PrefersF(select.GetProtocol()[size_t(i)]));
  }
  ASSERT_EQ(select.GetKeyFrameList().size(), 1u);
  const KeyFrame& pair = select.GetKeyFrameList()[0];
  EXPECT_EQ(pair.m_fimage2.Get(), sequence.images[size_t(frame)].Get());
  EXPECT_TRUE(AutoKeyFrame::PrefersF(pair));
  EXPECT_GE(pair.m_num_fpoint3d, 7);
  EXPECT_GT(pair.mean_sigma_3dfp, 0.0);
  EXPECT_GT(pair.exp_est_error, 0.0);
  EXPECT_LT(pair.exp_est_error, 1.0);  // pixels, for 0.5 px noise
  EXPECT_GE(pair.m_rtco_measure, 1.0);

  // The accepted cameras are in the images, which keep no 3D links; they reproject the
  // pair's F inliers.
  EXPECT_TRUE(SameCamera(*pair.m_fimage1, pair.m_camera1));
  EXPECT_TRUE(SameCamera(*pair.m_fimage2, pair.m_camera2));
  double sum = 0.0;
  int inliers = 0;
  for (const SharedPtr<FeatureCorrespondence>& corr : pair.m_corr_list) {
    if (!(corr->GetFlags() & FCORR_SUPPORT_TRUE)) continue;
    const double e = kxtest::ReprojectionError(*pair.m_fimage1, *pair.m_fimage2, corr);
    sum += e * e;
    ++inliers;
  }
  ASSERT_EQ(inliers, pair.m_num_inliers_f);
  EXPECT_LT(std::sqrt(sum / inliers), 1.0);
  for (const SharedPtr<FeatureImage>& image : sequence.images) EXPECT_EQ(CountLinks(*image), 0);
}

TEST(AutoKeyFrameTest, UserStopOfTheTrialAdjustmentIsCaught) {
  kxtest::KeyFrameSequence sequence;
  KeyFrameSelect select(nullptr);
  select.SetMaxStdDev(0.5);
  kxtest::CallbackForTest observer;
  observer.stop = true;
  SparseObserverScope scope(OptimizerSparseLM_RTKFPoint3D::s_observer, &observer);
  kxtest::LogCapture log(5);
  EXPECT_EQ(AutoKeyFrame::Run(select, sequence.First(5), 0, 4, false), 0);
  EXPECT_TRUE(log.Has("KeyFrameSelect::AutoKeyFrame: stopped at iteration")) << log.text;
  ASSERT_EQ(select.GetProtocol().size(), 1u);
  const KeyFrame& record = select.GetProtocol()[0];
  EXPECT_GE(record.m_num_fpoint3d, 7);
  EXPECT_EQ(record.exp_est_error, -1.0);
  EXPECT_EQ(record.m_rtco_measure, -1.0);
  for (const SharedPtr<FeatureImage>& image : sequence.images) EXPECT_EQ(CountLinks(*image), 0);
}

class AutoKeyFrameMethodTest : public testing::TestWithParam<int> {};

// Every method can accept a pair of a moving sequence whose tracks thin out; methods 1 and
// 2 only when forced.
TEST_P(AutoKeyFrameMethodTest, AcceptsAPair) {
  const int method = GetParam();
  kxtest::KeyFrameSequence sequence({.frames = 10, .loss = 0.04});
  const ImageList reconstructed;
  KeyFrameSelect select(&reconstructed);
  KeyFrameSelect::Parameter parameter;
  parameter.m_method = method;
  select.SetParameter(parameter);
  select.SetMaxStdDev(0.5);

  auto [code, frame] = SearchAlong(select, sequence);
  const bool needs_force =
      method == KeyFrameSelect::eCovariance || method == KeyFrameSelect::eGibson;
  if (needs_force) {
    EXPECT_NE(code, 0);
    const int last = int(sequence.images.size()) - 1;
    code = FMapMove::SearchKeyFrame(select, sequence.images, 0, last, true);
  }
  ASSERT_EQ(code, 0);
  ASSERT_EQ(select.GetKeyFrameList().size(), 1u);
  const KeyFrame& pair = select.GetKeyFrameList()[0];
  const std::vector<KeyFrame>& protocol = select.GetProtocol();
  const AutoKeyFrame::Criteria c =
      AutoKeyFrame::FindCriteria(protocol, needs_force, parameter.m_max_inlier_ratio);
  const int expected[] = {-1, c.covariance, c.gibson, c.pollefeys, c.gric, c.gric};
  ASSERT_GE(expected[method], 0);
  EXPECT_EQ(pair.m_fimage2.Get(), protocol[size_t(expected[method])].m_fimage2.Get());
  EXPECT_TRUE(SameCamera(*pair.m_fimage2, pair.m_camera2));
  if (method == KeyFrameSelect::ePollefeys) {
    EXPECT_GT(c.pollefeys, c.gric);  // the tracks had to thin out first
  }
}

std::string MethodName(const testing::TestParamInfo<int>& info) {
  static const char* const kNames[] = {"manual",    "covariance", "gibson",
                                       "pollefeys", "rtco",       "gric"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Methods, AutoKeyFrameMethodTest, testing::Values(1, 2, 3, 4, 5),
                         MethodName);

TEST(SearchKeyFrameTest, ChecksAndDispatches) {
  kxtest::KeyFrameSequence sequence({.frames = 6, .points = 20, .noise_px = 0.0, .drift_px = 0.0});
  KeyFrameSelect select(nullptr);
  select.SetMaxStdDev(0.5);
  {
    kxtest::LogCapture log(5);
    EXPECT_EQ(FMapMove::SearchKeyFrame(select, sequence.images, 0, 6, false), 4);
    EXPECT_EQ(FMapMove::SearchKeyFrame(select, sequence.images, -1, 2, false), 4);
    EXPECT_TRUE(
        log.Has("FMapMove::SearchKeyFrame: ERROR first_keyframe or second_keyframe >= "
                "m_fimage_list.size()"));
  }
  // Manual: the configured pair in ascending order replaces the arguments.
  KeyFrameSelect::Parameter parameter;
  parameter.m_method = KeyFrameSelect::eManual;
  parameter.m_first_keyframe = 5;
  parameter.m_second_keyframe = 2;
  select.SetParameter(parameter);
  EXPECT_EQ(FMapMove::SearchKeyFrame(select, sequence.images, 0, 1, false), 0);
  ASSERT_EQ(select.GetKeyFrameList().size(), 1u);
  EXPECT_EQ(select.GetKeyFrameList()[0].m_fimage1.Get(), sequence.images[2].Get());
  EXPECT_TRUE(select.GetProtocol().empty());
}

}  // namespace
