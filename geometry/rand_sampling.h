#pragma once

// RandSampling: the random-sample-consensus outlier detector (RANSAC or MSAC scoring)
// with a pluggable minimal solver (SampleCalculator).
//
// A run turns the correspondences into elements through the calculator, draws minimal
// samples from the process-wide sampling generator (SamplingRandomGenerator, reset to
// its seed-4783 state at the start of every Run(mask) unless m_reseed is off), scores
// every hypothesis over the whole population, keeps a clone of the best one, stops
// adaptively, and finally ORs the caller's mask into the flag word of every supported
// correspondence and clears it from the others (mask 0 zeroes the word of both).
//
// The same input gives the same samples, best set and marks on every run. Runs on the
// tracking thread only: the generator is shared and unguarded.
//
// A sampler without a calculator logs a level-2 line and does nothing (counts 0, marks
// untouched): the calculator comes from the configuration.

#include <cstdint>
#include <map>
#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "geometry/outlier_detector.h"
#include "geometry/parameter_set.h"
#include "geometry/sample_calculator.h"

class RandSampling : public OutlierDetector {
 public:
  // Copied whole between configuration records and pools.
  struct Parameter {
    int m_scoring = 0;                     // 0 RANSAC (count inliers); 1 and 2 MSAC
    double m_threshold = 0.8;              // inlier distance in pixels (threshold mode 0)
    double m_ratio = 0.99;                 // supported share that allows an early stop
    int m_max_searchs = 4000;              // iterations
    int m_min_searchs = 100;               // iterations before an early stop; adaptive floor
    double m_aux_factor = 0.5;             // carried along; not read
    bool m_sample_from_subset = false;     // sample from links whose track was supported
    int m_min_subset_factor = 1;           // subset needs sample size x this many elements
    bool m_adaptive = true;                // adaptive number of iterations
    int m_adaptive_max_searchs = 1000000;  // starting count of an adaptive run
    // 0: T = m_threshold^2; 1: T = m_sigma^2 x threshold factor; 2: T = threshold factor
    // on the covariance-weighted residual.
    int m_threshold_mode = 0;
    double m_sigma = 0.3;  // feature position standard deviation in pixels (mode 1)
    bool m_reseed = true;  // reset the sampling generator at the start of Run(mask)
  };

  RandSampling() = default;
  ~RandSampling() override;
  RandSampling(const RandSampling&) = delete;
  RandSampling& operator=(const RandSampling&) = delete;

  // Forwarded to the calculator.
  void SetInitCamera(const PerspectiveCamera& camera) override;
  void SetCurrentCamera(const PerspectiveCamera& camera) override;
  // Does nothing.
  void SetRefCamera(const PerspectiveCamera& camera) override;
  // Replace the element list with the elements the calculator makes (MakeCorrEl) of
  // each correspondence; rejected ones are left out.
  void SetCorrespondences(const std::vector<SharedPtr<FeaturePoint2D>>& features,
                          bool direction) override;
  void SetCorrespondences(const std::vector<SharedPtr<FeatureCorrespondence>>& corrs) override;
  // Estimates on the element list (or on its subset, see m_sample_from_subset) and marks
  // the whole list.
  void Run(uint32_t mask) override;
  // A new handle to the best set; null when there is none.
  SharedPtr<ParameterSet> GetParameterSet() override { return best_set_; }

  // The values of the map in key order.
  virtual void SetCorrespondences(const std::map<int32_t, SharedPtr<FeatureCorrespondence>>& corrs);
  // Fills out (emptied first) instead of the element list.
  virtual void SetCorrespondences(const std::vector<SharedPtr<FeatureCorrespondence>>& corrs,
                                  std::vector<CorrEl>& out);
  // Samples only from sample_corrs and scores on them; marks all of corrs (which become
  // the element list). Never reseeds.
  virtual void Run(const std::vector<SharedPtr<FeatureCorrespondence>>& sample_corrs,
                   const std::vector<SharedPtr<FeatureCorrespondence>>& corrs, uint32_t mask);

  void SetSampleCalculator(const SharedPtr<SampleCalculator>& calculator) {
    calculator_ = calculator;
  }
  const SharedPtr<SampleCalculator>& GetSampleCalculator() const { return calculator_; }
  const Parameter& GetParameter() const { return parameter_; }
  void SetParameter(const Parameter& parameter) { parameter_ = parameter; }

  // The inlier threshold of the last run, in the units of the residual.
  double GetThreshold() const { return threshold_; }
  // Supported share and MSAC cost of the best hypothesis of the last run.
  double GetBestRatio() const { return best_ratio_; }
  double GetBestCost() const { return best_cost_; }

  // The adaptive iteration count for a supported share ratio and sample size s:
  // ln(1 - 0.9999) / ln(1 - 0.1 ratio^s), or -1 when that logarithm is 0 (no support).
  static double AdaptiveSearchCount(double ratio, int s);

 protected:
  // The search loop on the current population; fills the best set and the counts.
  // 0, or -1 for an empty population.
  int FindParameterSet();
  // Marks every element of the list with mask by the best set.
  void MarkSet(uint32_t mask);

 private:
  // False, with message logged at level 2, when no calculator is set.
  bool HasCalculator(const char* message) const;
  void MakeCorrEls(const std::vector<SharedPtr<FeatureCorrespondence>>& corrs,
                   std::vector<CorrEl>& out);
  void SetThreshold();
  void RunSearch(uint32_t mask);
  const std::vector<CorrEl*>& Population();
  void DrawSample(const std::vector<CorrEl*>& population);
  // Supported count of set over the population; sum receives the supported residuals.
  int Score(const ParameterSet& set, const std::vector<CorrEl*>& population, double& sum) const;
  double Residual(const ParameterSet& set, const CorrEl& element) const;

  SharedPtr<ParameterSet> best_set_;
  SharedPtr<SampleCalculator> calculator_;
  std::vector<CorrEl*> sample_;
  Parameter parameter_;
  double best_ratio_ = 0.0;
  double best_cost_ = 0.0;
  std::vector<CorrEl*> subset_;
  double threshold_ = 0.0;
  std::vector<CorrEl*> all_;     // the element list as a population
  std::vector<uint32_t> drawn_;  // sorted indices of the sample being drawn
};
