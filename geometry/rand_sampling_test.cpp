#include "geometry/rand_sampling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "foundation/runtime/random_generator.h"
#include "geometry/line_sample_calculator_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::LineParameterSet;
using kxtest::LineSampleCalculator;
using kxtest::LineTracks;
using Points = std::vector<std::pair<double, double>>;

constexpr int kInliers = 40;
constexpr int kOutliers = 10;

// kInliers points within 0.2 pixels of y = 0.5 x + 2, then kOutliers points 5 to 14
// pixels above it.
Points LineWithOutliers() {
  Points p;
  for (int i = 0; i < kInliers; ++i) p.push_back({i, 0.5 * i + 2.0 + 0.2 * std::sin(1.7 * i)});
  for (int i = 0; i < kOutliers; ++i) p.push_back({3.0 * i + 1.0, 1.5 * i + 2.5 + 5.0 + i});
  return p;
}

Points ExactLine(int n) {
  Points p;
  for (int i = 0; i < n; ++i) p.push_back({i, 2.0 * i - 1.0});
  return p;
}

struct Sampler {
  explicit Sampler(RandSampling::Parameter p = {}) {
    sampler.SetSampleCalculator(calculator);
    sampler.SetParameter(p);
  }
  LineSampleCalculator& calc() { return *calculator; }
  SharedPtr<LineSampleCalculator> calculator = SharedPtr<LineSampleCalculator>::Make();
  RandSampling sampler;
};

struct Outcome {
  std::vector<uint32_t> flags;
  double a, b, c, ratio, cost;
  int supported, unsupported;
  std::vector<double> sampled;  // x0 of every sampled element, in drawing order
};

Outcome RunOnce(int scoring) {
  LineTracks tracks(LineWithOutliers(), 0);
  for (int i = 0; i < kInliers + kOutliers; ++i)
    tracks.corrs[i]->SetFlags(i < kInliers ? 0x40 : 0x41);
  RandSampling::Parameter p;
  p.m_scoring = scoring;
  Sampler s(p);
  s.sampler.SetCorrespondences(tracks.corrs);
  s.sampler.Run(FCORR_SUPPORT_TRUE);
  for (const auto& sample : s.calc().addresses) {
    EXPECT_EQ(sample.size(), 2u);
    if (sample.size() == 2) {
      EXPECT_LT(sample[0], sample[1]) << "distinct, increasing order";
    }
  }
  std::vector<double> sampled;
  for (const auto& sample : s.calc().samples)
    for (const CorrEl& e : sample) sampled.push_back(e.x0);
  auto best = SharedPtrDynamicCast<LineParameterSet>(s.sampler.GetParameterSet());
  EXPECT_TRUE(best);
  if (!best) return {};
  return {tracks.Flags(),
          best->a,
          best->b,
          best->c,
          s.sampler.GetBestRatio(),
          s.sampler.GetBestCost(),
          s.sampler.m_num_supported,
          s.sampler.m_num_unsupported,
          sampled};
}

TEST(RandSamplingTest, LineWithOutliersIsMarkedTheSameOnEveryRun) {
  for (int scoring : {0, 1, 2}) {
    SCOPED_TRACE(scoring);
    const Outcome first = RunOnce(scoring);
    // Inliers gain the mask bit, outliers lose it; other bits stay.
    for (int i = 0; i < kInliers + kOutliers; ++i)
      EXPECT_EQ(first.flags[i], i < kInliers ? 0x41u : 0x40u) << "element " << i;
    EXPECT_EQ(first.supported, kInliers);
    EXPECT_EQ(first.unsupported, kOutliers);
    EXPECT_NEAR(first.ratio, 0.8, 1e-12);
    EXPECT_NEAR(std::abs(first.b / first.a), 2.0, 0.05) << "slope 0.5";

    // Whatever drew from the generator in between, a run starts from the same state.
    for (int i = 0; i < 5; ++i) SamplingRandomGenerator().Next();
    const Outcome again = RunOnce(scoring);
    EXPECT_EQ(again.sampled, first.sampled);
    EXPECT_EQ(again.flags, first.flags);
    EXPECT_EQ(again.a, first.a);
    EXPECT_EQ(again.b, first.b);
    EXPECT_EQ(again.c, first.c);
    EXPECT_EQ(again.cost, first.cost);
  }
}

TEST(RandSamplingTest, DrawsPinnedSamplesAfterReseeding) {
  // The first values after seed 4783 are 1609842184, 3797829141, 2057902015, 2338730452;
  // scaled to [0, n - k) with n = 10 they give 3, 7 (the 8th index not drawn: 8), then
  // 4, 4 (-> 5).
  Points points;
  for (int i = 0; i < 10; ++i) points.push_back({i, 0.0});
  LineTracks tracks(points, 0);
  RandSampling::Parameter p;
  p.m_adaptive = false;
  p.m_max_searchs = 2;
  p.m_min_searchs = 2;
  Sampler s(p);
  s.sampler.SetCorrespondences(tracks.corrs);
  s.sampler.Run(FCORR_SUPPORT_TRUE);
  ASSERT_EQ(s.calc().samples.size(), 2u);
  const int want[2][2] = {{3, 8}, {4, 5}};
  for (int i = 0; i < 2; ++i)
    for (int k = 0; k < 2; ++k) EXPECT_EQ(s.calc().samples[i][k].x0, want[i][k]);
}

TEST(RandSamplingTest, ScoringOnScriptedHypotheses) {
  // Residuals to y = 0: 0, 0, 0.25, 25; to y = 0.1: 0.01, 0.01, 0.16, 24.01. Both have 3
  // of 4 inliers under T = 0.64; MSAC costs 0.25 + 0.64 = 0.89 and 0.18 + 0.64 = 0.82.
  struct Case {
    int scoring;
    double c;     // offset of the chosen line
    double cost;  // best cost after the run
  };
  const Case cases[] = {{0, 0.0, 1e36}, {1, -0.1, 0.82}, {2, -0.1, 0.82}};
  for (const Case& t : cases) {
    SCOPED_TRACE(t.scoring);
    LineTracks tracks({{0, 0}, {1, 0}, {2, 0.5}, {3, 5}}, FCORR_SUPPORT_TRUE);
    RandSampling::Parameter p;
    p.m_scoring = t.scoring;
    p.m_adaptive = false;
    p.m_max_searchs = 1;
    p.m_min_searchs = 1;
    Sampler s(p);
    s.calc().scripted = {{0, 1, 0}, {0, 1, -0.1}};
    s.sampler.SetCorrespondences(tracks.corrs);
    s.sampler.Run(FCORR_SUPPORT_TRUE);
    auto best = SharedPtrDynamicCast<LineParameterSet>(s.sampler.GetParameterSet());
    ASSERT_TRUE(best);
    EXPECT_EQ(best->c, t.c) << "a tie keeps the earlier hypothesis";
    EXPECT_NEAR(s.sampler.GetBestCost(), t.cost, 1e-12);
    EXPECT_EQ(s.sampler.GetBestRatio(), 0.75);
    EXPECT_EQ(s.sampler.m_num_supported, 3);
    EXPECT_EQ(s.sampler.m_num_unsupported, 1);
    EXPECT_EQ(tracks.Flags(), (std::vector<uint32_t>{1, 1, 1, 0}));
  }
}

TEST(RandSamplingTest, StopRuleOnTheSupportedShare) {
  // Every point lies on the line, so the best share is 1 from the first sample on. The
  // adaptive count for share 1 and two points is 87, raised to the minimum of 100.
  struct Case {
    const char* name;
    bool adaptive;
    double ratio;
    int max_searchs;
    int iterations;
    const char* verdict;
  };
  const Case cases[] = {
      {"adaptive, share above ratio", true, 0.99, 4000, 100, "SUCCESSFUL (sample size 2)"},
      {"adaptive, share equal to ratio", true, 1.0, 4000, 100, "FAILED couldn't find a set"},
      {"fixed, stops at the minimum", false, 0.99, 4000, 100, "SUCCESSFUL (sample size 2)"},
      {"fixed, share equal to ratio", false, 1.0, 300, 300, "FAILED couldn't find a set"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    LineTracks tracks(ExactLine(20), 0);
    RandSampling::Parameter p;
    p.m_adaptive = t.adaptive;
    p.m_ratio = t.ratio;
    p.m_max_searchs = t.max_searchs;
    Sampler s(p);
    s.sampler.SetCorrespondences(tracks.corrs);
    kxtest::LogCapture log(4);
    s.sampler.Run(FCORR_SUPPORT_TRUE);
    EXPECT_EQ(static_cast<int>(s.calc().samples.size()), t.iterations);
    EXPECT_TRUE(log.Has(t.verdict)) << log.text;
    EXPECT_EQ(s.sampler.m_num_supported, 20);
    EXPECT_EQ(s.sampler.GetParameter().m_max_searchs, t.max_searchs) << "restored";
  }
}

TEST(RandSamplingTest, AdaptiveSearchCount) {
  struct Case {
    double ratio;
    int s;
    int count;  // (int)(N + 0.5)
  };
  const Case cases[] = {{0.5, 4, 1469}, {0.8, 7, 435}, {1.0, 4, 87}, {1.0, 2, 87}};
  for (const Case& t : cases) {
    SCOPED_TRACE(testing::Message() << t.ratio << "^" << t.s);
    EXPECT_EQ(static_cast<int>(RandSampling::AdaptiveSearchCount(t.ratio, t.s) + 0.5), t.count);
  }
  EXPECT_EQ(RandSampling::AdaptiveSearchCount(0.0, 4), -1.0) << "no support: no count";
}

TEST(RandSamplingTest, HypothesisWithoutSupport) {
  for (int scoring : {0, 1}) {
    SCOPED_TRACE(scoring);
    LineTracks tracks(ExactLine(4), 0x41);
    RandSampling::Parameter p;
    p.m_scoring = scoring;
    Sampler s(p);
    s.calc().scripted = {{0, 1, -1000}};
    s.sampler.SetCorrespondences(tracks.corrs);
    s.sampler.m_num_supported = 7;
    s.sampler.m_num_unsupported = 8;
    kxtest::LogCapture log(3);
    s.sampler.Run(FCORR_SUPPORT_TRUE);
    if (scoring == 0) {
      // Nothing found: no set, marks and counts as they were; the adaptive count stays.
      EXPECT_FALSE(s.sampler.GetParameterSet());
      EXPECT_TRUE(log.Has("absolutely no set found :-(")) << log.text;
      EXPECT_EQ(tracks.Flags(), std::vector<uint32_t>(4, 0x41));
      EXPECT_EQ(s.sampler.m_num_supported, 7);
      EXPECT_EQ(s.sampler.m_num_unsupported, 8);
      EXPECT_EQ(s.calc().samples.size(), 1000000u);
    } else {
      // MSAC takes the first hypothesis: its cost T n is below the start value.
      EXPECT_TRUE(s.sampler.GetParameterSet());
      EXPECT_EQ(tracks.Flags(), std::vector<uint32_t>(4, 0x40));
      EXPECT_EQ(s.sampler.m_num_supported, 0);
      EXPECT_EQ(s.sampler.m_num_unsupported, 4);
    }
  }
}

TEST(RandSamplingTest, PopulationBelowSampleSizeSkipsTheSearch) {
  LineTracks tracks(ExactLine(1), 0x41);
  Sampler s;
  s.sampler.SetCorrespondences(tracks.corrs);
  kxtest::LogCapture log(3);
  s.sampler.Run(FCORR_SUPPORT_TRUE);
  EXPECT_TRUE(s.calc().samples.empty());
  EXPECT_FALSE(s.sampler.GetParameterSet());
  EXPECT_TRUE(log.Has("absolutely no set found :-(")) << log.text;
  EXPECT_EQ(tracks.Flags(), std::vector<uint32_t>(1, 0x41));
}

TEST(RandSamplingTest, WithoutCalculatorEveryCallFailsSoftly) {
  LineTracks tracks(ExactLine(4), 0x41);
  RandSampling sampler;
  sampler.m_num_supported = 3;
  sampler.m_num_unsupported = 1;
  sampler.m_corr_els.resize(2);
  std::vector<CorrEl> out(3);
  kxtest::LogCapture log(5);
  sampler.SetInitCamera(PerspectiveCamera());
  sampler.SetCurrentCamera(PerspectiveCamera());
  sampler.SetCorrespondences(tracks.firsts, false);
  sampler.SetCorrespondences(tracks.corrs);
  sampler.SetCorrespondences(std::map<int32_t, SharedPtr<FeatureCorrespondence>>{});
  sampler.SetCorrespondences(tracks.corrs, out);
  sampler.Run(FCORR_SUPPORT_TRUE);
  sampler.Run(tracks.corrs, tracks.corrs, FCORR_SUPPORT_TRUE);
  const char* lines[] = {
      "RandSampling::SetInitCamera: no calculator object set for random sampler; STOP",
      "RandSampling::SetCurrentCamera: no calculator object set for random sampler; STOP",
      "RandSampling::SetCorrespondences: (2)missing calculator object",
      "RandSampling::SetCorrespondences: (1)missing calculator object !",
      "RandSampling::SetCorrespondences: (3)missing calculator object",
      "RandSampling::Run: no calculator object set for random sampler; STOP",
  };
  for (const char* line : lines) EXPECT_TRUE(log.Has(line)) << line;
  for (const std::string& line : log.lines)
    EXPECT_EQ(line.find("Fatal"), std::string::npos) << line;
  EXPECT_TRUE(sampler.m_corr_els.empty());
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(sampler.m_num_supported, 0);
  EXPECT_EQ(sampler.m_num_unsupported, 0);
  EXPECT_EQ(tracks.Flags(), std::vector<uint32_t>(4, 0x41));
}

TEST(RandSamplingTest, ThresholdByMode) {
  struct Case {
    int mode;
    double threshold;
  };
  // Mode 1: 0.3 x (6.63 x 0.3); an unknown mode keeps the previous run's value.
  const Case cases[] = {{0, 0.64}, {1, 0.5967}, {2, 6.63}, {7, 6.63}};
  LineTracks tracks(ExactLine(5), 0);
  Sampler s;
  s.sampler.SetCorrespondences(tracks.corrs);
  for (const Case& t : cases) {
    SCOPED_TRACE(t.mode);
    RandSampling::Parameter p;
    p.m_threshold_mode = t.mode;
    s.sampler.SetParameter(p);
    s.sampler.Run(FCORR_SUPPORT_TRUE);
    EXPECT_NEAR(s.sampler.GetThreshold(), t.threshold, 1e-12);
  }
}

TEST(RandSamplingTest, MaskZeroClearsTheWholeFlagWord) {
  LineTracks tracks(LineWithOutliers(), 0x61);
  Sampler s;
  s.sampler.SetCorrespondences(tracks.corrs);
  s.sampler.Run(0);
  EXPECT_EQ(s.sampler.m_num_supported, kInliers);
  EXPECT_EQ(tracks.Flags(), std::vector<uint32_t>(kInliers + kOutliers, 0));
}

TEST(RandSamplingTest, SubsetSampling) {
  RandSampling::Parameter p;
  p.m_sample_from_subset = true;
  {
    // Only the inliers' tracks were supported before: samples come from them alone and
    // the counts are over the subset; the marks cover every element.
    LineTracks tracks(LineWithOutliers(), FCORR_SUPPORT_TRUE);
    for (int i = 0; i < kInliers; ++i) tracks.AddPredecessor(i, FCORR_SUPPORT_TRUE);
    for (int i = kInliers; i < kInliers + kOutliers; ++i) tracks.AddPredecessor(i, 0x20);
    Sampler s(p);
    s.sampler.SetCorrespondences(tracks.corrs);
    s.sampler.Run(FCORR_SUPPORT_TRUE);
    const CorrEl* first_outlier = &s.sampler.m_corr_els[kInliers];
    for (const auto& sample : s.calc().addresses)
      for (const CorrEl* e : sample) EXPECT_LT(e, first_outlier);
    EXPECT_EQ(s.sampler.m_num_supported, kInliers);
    EXPECT_EQ(s.sampler.m_num_unsupported, 0);
    for (int i = 0; i < kInliers + kOutliers; ++i)
      EXPECT_EQ(tracks.corrs[i]->GetFlags(), i < kInliers ? 1u : 0u) << i;
  }
  {
    // One supported track is fewer than a sample: the whole list is sampled this time.
    LineTracks tracks(LineWithOutliers(), FCORR_SUPPORT_TRUE);
    tracks.AddPredecessor(0, FCORR_SUPPORT_TRUE);
    Sampler s(p);
    s.sampler.SetCorrespondences(tracks.corrs);
    kxtest::LogCapture log(5);
    s.sampler.Run(FCORR_SUPPORT_TRUE);
    EXPECT_TRUE(
        log.Has("RandSampling::Run: subset < 2, disable sampling from subset for current step."))
        << log.text;
    EXPECT_EQ(s.sampler.m_num_unsupported, kOutliers);
    EXPECT_TRUE(s.sampler.GetParameter().m_sample_from_subset) << "restored after the run";
  }
}

TEST(RandSamplingTest, GivenSampleSetIsSampledAndTheWholeListMarked) {
  LineTracks tracks(LineWithOutliers(), FCORR_SUPPORT_TRUE);
  const std::vector<SharedPtr<FeatureCorrespondence>> inliers(tracks.corrs.begin(),
                                                              tracks.corrs.begin() + kInliers);
  Sampler s;
  s.sampler.Run(inliers, tracks.corrs, FCORR_SUPPORT_TRUE);
  EXPECT_EQ(s.sampler.m_corr_els.size(), tracks.corrs.size());
  for (const auto& sample : s.calc().samples)
    for (const CorrEl& e : sample) EXPECT_LT(std::abs(e.y0 - 0.5 * e.x0 - 2.0), 1.0) << "an inlier";
  EXPECT_EQ(s.sampler.m_num_supported, kInliers);
  for (int i = 0; i < kInliers + kOutliers; ++i)
    EXPECT_EQ(tracks.corrs[i]->GetFlags(), i < kInliers ? 1u : 0u) << i;
  EXPECT_FALSE(s.sampler.GetParameter().m_sample_from_subset) << "restored after the run";
}

TEST(RandSamplingTest, SetCorrespondencesForms) {
  LineTracks tracks(ExactLine(3), 0);
  Sampler s;
  std::vector<SharedPtr<FeaturePoint2D>> seconds;
  for (const auto& c : tracks.corrs) seconds.push_back(c->GetSecond());
  seconds.push_back(nullptr);

  s.sampler.SetCorrespondences(tracks.firsts, false);  // successors
  EXPECT_EQ(s.sampler.m_corr_els.size(), 3u);
  s.sampler.SetCorrespondences(tracks.firsts, true);  // no predecessors
  EXPECT_TRUE(s.sampler.m_corr_els.empty());
  s.sampler.SetCorrespondences(seconds, true);
  ASSERT_EQ(s.sampler.m_corr_els.size(), 3u);
  EXPECT_EQ(s.sampler.m_corr_els[2].corr, tracks.corrs[2]);

  std::map<int32_t, SharedPtr<FeatureCorrespondence>> by_key = {
      {9, tracks.corrs[0]}, {-4, tracks.corrs[2]}, {1, nullptr}};
  s.sampler.SetCorrespondences(by_key);
  ASSERT_EQ(s.sampler.m_corr_els.size(), 2u) << "rejected elements are left out";
  EXPECT_EQ(s.sampler.m_corr_els[0].corr, tracks.corrs[2]) << "key order";

  std::vector<CorrEl> out(5);
  s.sampler.SetCorrespondences(tracks.corrs, out);
  EXPECT_EQ(out.size(), 3u);
  EXPECT_EQ(s.sampler.m_corr_els.size(), 2u) << "the element list stays";
}

}  // namespace
