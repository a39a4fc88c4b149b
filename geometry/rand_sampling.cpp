#include "geometry/rand_sampling.h"

#include <cmath>
#include <utility>

#include "foundation/runtime/notify.h"
#include "foundation/runtime/random_generator.h"

namespace {

// Puts back the two parameters a run changes, also when a calculator throws.
class ParameterRestore {
 public:
  explicit ParameterRestore(RandSampling::Parameter& p)
      : p_(p), max_searchs_(p.m_max_searchs), sample_from_subset_(p.m_sample_from_subset) {}
  ~ParameterRestore() {
    p_.m_max_searchs = max_searchs_;
    p_.m_sample_from_subset = sample_from_subset_;
  }
  ParameterRestore(const ParameterRestore&) = delete;
  ParameterRestore& operator=(const ParameterRestore&) = delete;

 private:
  RandSampling::Parameter& p_;
  int max_searchs_;
  bool sample_from_subset_;
};

}  // namespace

bool RandSampling::HasCalculator(const char* message) const {
  // The calculator comes from the configuration: without one, fail softly.
  if (!calculator_) Notify(2, "%s", message);
  return static_cast<bool>(calculator_);
}

RandSampling::~RandSampling() {
  sample_.clear();
  subset_.clear();
  calculator_ = nullptr;
  best_set_ = nullptr;
}

void RandSampling::SetInitCamera(const PerspectiveCamera& camera) {
  if (!HasCalculator(
          "RandSampling::SetInitCamera: no calculator object set for random sampler; STOP"))
    return;
  calculator_->SetInitCamera(camera);
}

void RandSampling::SetCurrentCamera(const PerspectiveCamera& camera) {
  if (!HasCalculator(
          "RandSampling::SetCurrentCamera: no calculator object set for random sampler; STOP"))
    return;
  calculator_->SetCurrentCamera(camera);
}

void RandSampling::SetRefCamera(const PerspectiveCamera&) {}

void RandSampling::MakeCorrEls(const std::vector<SharedPtr<FeatureCorrespondence>>& corrs,
                               std::vector<CorrEl>& out) {
  for (const SharedPtr<FeatureCorrespondence>& corr : corrs) {
    CorrEl element;
    if (calculator_->MakeCorrEl(corr, element)) out.push_back(std::move(element));
  }
}

void RandSampling::SetCorrespondences(const std::vector<SharedPtr<FeaturePoint2D>>& features,
                                      bool direction) {
  m_corr_els.clear();
  if (!HasCalculator("RandSampling::SetCorrespondences: (2)missing calculator object")) return;
  MakeCorrEls(CollectFeatureLinks(features, direction), m_corr_els);
}

void RandSampling::SetCorrespondences(const std::vector<SharedPtr<FeatureCorrespondence>>& corrs) {
  m_corr_els.clear();
  if (!HasCalculator("RandSampling::SetCorrespondences: (1)missing calculator object !")) return;
  MakeCorrEls(corrs, m_corr_els);
}

void RandSampling::SetCorrespondences(
    const std::map<int32_t, SharedPtr<FeatureCorrespondence>>& corrs) {
  m_corr_els.clear();
  if (!HasCalculator("RandSampling::SetCorrespondences: (1)missing calculator object !")) return;
  std::vector<SharedPtr<FeatureCorrespondence>> values;
  values.reserve(corrs.size());
  for (const auto& [key, corr] : corrs) values.push_back(corr);
  MakeCorrEls(values, m_corr_els);
}

void RandSampling::SetCorrespondences(const std::vector<SharedPtr<FeatureCorrespondence>>& corrs,
                                      std::vector<CorrEl>& out) {
  out.clear();
  if (!HasCalculator("RandSampling::SetCorrespondences: (3)missing calculator object")) return;
  MakeCorrEls(corrs, out);
}

void RandSampling::SetThreshold() {
  switch (parameter_.m_threshold_mode) {
    case 0:
      threshold_ = parameter_.m_threshold * parameter_.m_threshold;
      break;
    case 1:
      threshold_ = parameter_.m_sigma * (calculator_->GetThresholdFactor() * parameter_.m_sigma);
      break;
    case 2:
      threshold_ = calculator_->GetThresholdFactor();
      break;
    default:
      break;
  }
  if (NotifyContext::GetNotifyLevel() >= 5)
    Notify(5, "RandSampling::Run: used threshhold: %f pel^2 -> %f pel", threshold_,
           std::sqrt(threshold_));
}

void RandSampling::Run(uint32_t mask) {
  if (!HasCalculator("RandSampling::Run: no calculator object set for random sampler; STOP")) {
    m_num_supported = 0;
    m_num_unsupported = 0;
    return;
  }
  if (parameter_.m_reseed) ReseedSamplingGenerator();
  SetThreshold();
  ParameterRestore restore(parameter_);
  if (parameter_.m_sample_from_subset) {
    subset_.clear();
    for (CorrEl& element : m_corr_els) {
      if (!element.corr) continue;
      const SharedPtr<FeaturePoint2D>& first = element.corr->GetFirst();
      if (!first) continue;
      const SharedPtr<FeatureCorrespondence>& before = first->GetPredecessor();
      if (before && CorrespondenceFlagsMatch(before->GetFlags(), mask)) subset_.push_back(&element);
    }
    Notify(5, "RandSampling::Run: sampling from subset settings: min. subset size factor %d",
           parameter_.m_min_subset_factor);
    const int needed = calculator_->GetSampleSize() * parameter_.m_min_subset_factor;
    if (static_cast<int>(subset_.size()) < needed) {
      parameter_.m_sample_from_subset = false;
      Notify(5, "RandSampling::Run: subset < %d, disable sampling from subset for current step.",
             needed);
    } else {
      Notify(5, "RandSampling::Run: sampling from subset %d of %d correspondences, ratio: %f",
             static_cast<int>(subset_.size()), static_cast<int>(m_corr_els.size()),
             static_cast<double>(subset_.size()) / static_cast<double>(m_corr_els.size()));
    }
  }
  RunSearch(mask);
}

void RandSampling::Run(const std::vector<SharedPtr<FeatureCorrespondence>>& sample_corrs,
                       const std::vector<SharedPtr<FeatureCorrespondence>>& corrs, uint32_t mask) {
  if (!HasCalculator("RandSampling::Run: no calculator object set for random sampler; STOP")) {
    m_num_supported = 0;
    m_num_unsupported = 0;
    return;
  }
  SetThreshold();
  ParameterRestore restore(parameter_);
  parameter_.m_sample_from_subset = true;
  std::vector<CorrEl> sample_els;
  MakeCorrEls(sample_corrs, sample_els);
  SetCorrespondences(corrs);
  subset_.clear();
  for (CorrEl& element : sample_els)
    if (element.corr) subset_.push_back(&element);
  Notify(5, "RandSampling::Run: sampling from specified sample set. Size of sampleset is: %d",
         static_cast<int>(subset_.size()));
  RunSearch(mask);
  // The subset points into sample_els, which ends here.
  subset_.clear();
  sample_.clear();
}

void RandSampling::RunSearch(uint32_t mask) {
  if (parameter_.m_adaptive) parameter_.m_max_searchs = parameter_.m_adaptive_max_searchs;
  FindParameterSet();
  MarkSet(mask);
  sample_.clear();
}

const std::vector<CorrEl*>& RandSampling::Population() {
  if (parameter_.m_sample_from_subset) return subset_;
  all_.clear();
  all_.reserve(m_corr_els.size());
  for (CorrEl& element : m_corr_els) all_.push_back(&element);
  return all_;
}

double RandSampling::AdaptiveSearchCount(double ratio, int s) {
  const double L = std::log(1.0 - 0.1 * std::pow(ratio, s));
  if (L == 0.0) return -1.0;
  return std::log(1.0 - 0.9999) / L;
}

void RandSampling::DrawSample(const std::vector<CorrEl*>& population) {
  sample_.clear();
  if (!calculator_ || population.empty()) return;
  const int s = calculator_->GetSampleSize();
  const uint32_t n = static_cast<uint32_t>(population.size());
  if (s <= 0 || n < static_cast<uint32_t>(s)) return;
  RandomGenerator& generator = SamplingRandomGenerator();
  drawn_.clear();
  for (int k = 0; k < s; ++k) {
    uint32_t j = static_cast<uint32_t>(
        (static_cast<uint64_t>(generator.Next()) * (n - static_cast<uint32_t>(k))) >> 32);
    // The j-th index not drawn yet; the drawn ones stay sorted.
    auto at = drawn_.begin();
    while (at != drawn_.end() && *at <= j) {
      ++j;
      ++at;
    }
    drawn_.insert(at, j);
  }
  for (uint32_t index : drawn_) sample_.push_back(population[index]);
}

double RandSampling::Residual(const ParameterSet& set, const CorrEl& element) const {
  return parameter_.m_threshold_mode == 2 ? set.GetWeightedSquaredError(element)
                                          : set.GetSquaredError(element);
}

int RandSampling::Score(const ParameterSet& set, const std::vector<CorrEl*>& population,
                        double& sum) const {
  int supported = 0;
  sum = 0.0;
  for (const CorrEl* element : population) {
    const double e = Residual(set, *element);
    if (e < threshold_) {
      ++supported;
      sum += e;
    }
  }
  return supported;
}

int RandSampling::FindParameterSet() {
  best_set_ = nullptr;
  if (!calculator_ || m_corr_els.empty()) return 0;
  Notify(4, "RandSampling::FindParameterSet: started with max_searchs: %d",
         parameter_.m_max_searchs);
  const std::vector<CorrEl*>& population = Population();
  const int n = static_cast<int>(population.size());
  if (n == 0) return -1;
  const int s = calculator_->GetSampleSize();
  best_ratio_ = 0.0;
  best_cost_ = 1e36;
  bool stop = false;
  const bool msac = parameter_.m_scoring == 1 || parameter_.m_scoring == 2;

  // A population below the sample size cannot give a sample: no search at all.
  for (int i = 0; n >= s && i < parameter_.m_max_searchs; ++i) {
    DrawSample(population);
    calculator_->CalcParameter(sample_);
    for (ParameterSet* hypothesis : calculator_->GetParameterSets()) {
      double sum;
      const int supported = Score(*hypothesis, population, sum);
      const double r = static_cast<double>(supported) / n;
      if (!msac) {
        if (r > best_ratio_) {
          best_ratio_ = r;
          best_set_ = hypothesis->Clone();
        }
      } else {
        const double cost = sum + threshold_ * (n - supported);
        if (cost < best_cost_) {
          best_cost_ = cost;
          best_ratio_ = r;
          best_set_ = hypothesis->Clone();
        }
      }
      if (parameter_.m_adaptive) {
        const double N = AdaptiveSearchCount(best_ratio_, s);
        if (N < 0.0) continue;
        if (parameter_.m_max_searchs > N) parameter_.m_max_searchs = static_cast<int>(N + 0.5);
        if (parameter_.m_max_searchs < parameter_.m_min_searchs)
          parameter_.m_max_searchs = parameter_.m_min_searchs;
      }
      if (best_ratio_ > parameter_.m_ratio && i + 1 >= parameter_.m_min_searchs &&
          (!parameter_.m_adaptive || i + 1 >= parameter_.m_max_searchs))
        stop = true;
    }
    if ((i + 1) % 1024 == 0 && NotifyContext::GetNotifyLevel() >= 5)
      Notify(5, "RandSampling::FindParameterSet: (%d|%d) r: %g, C2: %g", i + 1,
             parameter_.m_max_searchs, best_ratio_, msac ? best_cost_ : -1.0);
    if (stop) break;
  }

  if (!best_set_) {
    Notify(3, "RandSampling::FindParameterSet: absolutely no set found :-(");
    return 0;
  }
  double sum;
  const int supported = Score(*best_set_, population, sum);
  m_num_supported = supported;
  m_num_unsupported = n - supported;
  if (stop)
    Notify(4, "RandSampling::FindParameterSet: SUCCESSFUL (sample size %d)", s);
  else
    Notify(3, "RandSampling::FindParameterSet: FAILED couldn't find a set (sample size %d)", s);
  Notify(4,
         "after %d searchs, select best one, ratio (supported/input correspondences): %f (%d/%d)",
         parameter_.m_max_searchs, static_cast<double>(supported) / n, supported, n);
  return 0;
}

void RandSampling::MarkSet(uint32_t mask) {
  if (!best_set_) return;
  int supported = 0, unsupported = 0;
  for (CorrEl& element : m_corr_els) {
    const bool inlier = Residual(*best_set_, element) < threshold_;
    if (inlier)
      ++supported;
    else
      ++unsupported;
    if (!element.corr) continue;
    FeatureCorrespondence& corr = *element.corr;
    if (mask == 0)
      corr.SetFlags(0);
    else if (inlier)
      corr.SetFlags(corr.GetFlags() | mask);
    else
      corr.SetFlags(corr.GetFlags() & ~mask);
  }
  Notify(3, "RandSampling::MarkSet: %d corrs, %d supported, %d not supported",
         supported + unsupported, supported, unsupported);
}
