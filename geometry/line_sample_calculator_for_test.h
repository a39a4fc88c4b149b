// Test doubles for the robust-estimation interfaces: a 2D line fitted through the
// earlier positions of the elements (two points a sample), and helpers that build
// feature tracks for it. Shared by the tests of the sampler and of its users.
#pragma once

#include <cmath>
#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_point.h"
#include "geometry/parameter_set.h"
#include "geometry/sample_calculator.h"

namespace kxtest {

// The line a x + b y + c = 0 with a^2 + b^2 = 1; residual = squared distance of (x0, y0).
class LineParameterSet : public ParameterSet {
 public:
  LineParameterSet() = default;
  LineParameterSet(double a, double b, double c) : a(a), b(b), c(c) {}
  double GetSquaredError(const CorrEl& e) const override {
    const double d = a * e.x0 + b * e.y0 + c;
    return d * d;
  }
  // The distance in units of a 0.5-pixel standard deviation.
  double GetWeightedSquaredError(const CorrEl& e) const override {
    return GetSquaredError(e) / 0.25;
  }
  SharedPtr<ParameterSet> Clone() const override {
    return SharedPtr<LineParameterSet>::Make(*this);
  }
  double a = 0.0, b = 1.0, c = 0.0;
};

// Sample size 2, threshold factor 6.63. Elements are the correspondence's feature
// positions in pixels. A sample gives the line through its two points; with `scripted`
// set it gives the scripted lines instead (the sample is ignored). Every sample is kept.
class LineSampleCalculator : public SampleCalculator {
 public:
  int GetSampleSize() const override { return 2; }
  double GetThresholdFactor() const override { return 6.63; }
  void CalcParameter(const std::vector<CorrEl*>& sample) override {
    m_parameter_sets.clear();
    samples.emplace_back();
    addresses.emplace_back(sample.begin(), sample.end());
    for (const CorrEl* e : sample) samples.back().push_back(*e);
    if (!scripted.empty()) {
      for (LineParameterSet& line : scripted) m_parameter_sets.push_back(&line);
      return;
    }
    if (sample.size() != 2) return;
    const double dx = sample[1]->x0 - sample[0]->x0, dy = sample[1]->y0 - sample[0]->y0;
    const double len = std::hypot(dx, dy);
    if (len == 0.0) return;
    line_ = LineParameterSet(-dy / len, dx / len, 0.0);
    line_.c = -(line_.a * sample[0]->x0 + line_.b * sample[0]->y0);
    m_parameter_sets.push_back(&line_);
  }
  bool MakeCorrEl(const SharedPtr<FeatureCorrespondence>& corr, CorrEl& out) override {
    if (!corr || !corr->GetFirst() || !corr->GetSecond()) return false;
    out.corr = corr;
    out.x0 = corr->GetFirst()->x;
    out.y0 = corr->GetFirst()->y;
    out.x1 = corr->GetSecond()->x;
    out.y1 = corr->GetSecond()->y;
    return true;
  }
  void Print() const override {}

  std::vector<LineParameterSet> scripted;
  // Every sample CalcParameter was given, as copies, and the element addresses (to
  // compare only: a sample may point into a list that is gone).
  std::vector<std::vector<CorrEl>> samples;
  std::vector<std::vector<const CorrEl*>> addresses;

 private:
  LineParameterSet line_;
};

// Links between features at the given earlier positions (the later end sits 1 pixel to
// the right), all with the given flag word; the destructor breaks the cycles.
struct LineTracks {
  LineTracks(const std::vector<std::pair<double, double>>& points, uint32_t flags) {
    for (const auto& [x, y] : points) {
      auto first = SharedPtr<FeaturePoint2D>::Make(nullptr, x, y);
      auto second = SharedPtr<FeaturePoint2D>::Make(nullptr, x + 1.0, y);
      auto link = SharedPtr<FeatureCorrespondence>::Make(first, second);
      link->SetFlags(flags);
      first->SetSuccessor(link);
      second->SetPredecessor(link);
      firsts.push_back(first);
      corrs.push_back(link);
    }
  }
  ~LineTracks() {
    for (auto& f : firsts) UnlinkFromTrack(f);
  }

  // Gives the earlier feature of link i a link from a feature of the image before.
  void AddPredecessor(size_t i, uint32_t flags) {
    auto before = SharedPtr<FeaturePoint2D>::Make(nullptr, firsts[i]->x - 1.0, firsts[i]->y);
    auto link = SharedPtr<FeatureCorrespondence>::Make(before, firsts[i]);
    link->SetFlags(flags);
    before->SetSuccessor(link);
    firsts[i]->SetPredecessor(link);
  }
  LineTracks(const LineTracks&) = delete;
  LineTracks& operator=(const LineTracks&) = delete;

  std::vector<uint32_t> Flags() const {
    std::vector<uint32_t> out;
    for (const auto& c : corrs) out.push_back(c->GetFlags());
    return out;
  }

  std::vector<SharedPtr<FeaturePoint2D>> firsts;
  std::vector<SharedPtr<FeatureCorrespondence>> corrs;
};

}  // namespace kxtest
