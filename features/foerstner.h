// Foerstner: the interest operator of the MetaDetector family.
//
// Gradients from a sampled Gaussian-derivative filter; the gradient products and their
// first moments are integrated over a Gaussian (or box) window; at each candidate pixel
// the point that best fits the edge lines through the window, N⁻¹·b, becomes a feature
// (N the integrated structure tensor, b the integrated moments). Candidates are strict
// local maxima of the weight det/trace (scaled by the window area and 1/sin²) above
// 1/msfp², with roundness 4·det/trace² above mr; or, with hi set, the corners of a
// Harris detector run with default parameters.
//
// The filters are half kernels: entry 0 at the centre, the full kernel of 2L − 1 taps
// symmetric (integration) or antisymmetric (derivation). They are rebuilt when the
// parameters change. A picture smaller than the filters and the local-maximum window
// need gives no features. A finished computation clears the recompute flag.
//
// One thread at a time; no locking.
#pragma once

#include <cstdint>
#include <vector>

#include "features/harris.h"
#include "features/meta_detector.h"
#include "features/picture.h"

class Foerstner : public MetaDetector {
 public:
  struct Parameter {
    float gs = 1.0f;    // sigma of the derivative filter
    float fis = 2.0f;   // integration sigma = gs·fis
    int32_t ft = 0;     // integration filter: 1 box, any other value Gaussian
    float mr = 0.5f;    // the roundness must exceed it
    float msfp = 0.5f;  // the weight must exceed 1/msfp²
    int32_t lmws = 7;   // side of the local-maximum window
    float sin = 2.0f;   // the weight is divided by sin²
    bool hi = false;    // candidates from the Harris detector
    bool v = false;     // logged only

    // True when any field differs (floats compared for equality: a NaN always differs).
    bool IsDifferent(const Parameter& other) const;
  };

  Foerstner();

  // On a change: stores the block, rebuilds both filters, sets the recompute flag.
  void SetParameter(const Parameter& parameter);
  const Parameter& GetParameter() const { return parameter_; }

  // Detects the points; returns their number.
  uint32_t Compute() override;

  // Builds the derivative half kernel d[0..] (d[0] = 0) for sigma gs.
  void InitDerivationFilter();
  // Builds the integration half kernel for sigma gs·fis: a box of 2n − 1 taps for ft 1,
  // else a Gaussian.
  void InitIntegrationFilter();
  const std::vector<double>& DerivationFilter() const { return derivation_; }
  const std::vector<double>& IntegrationFilter() const { return integration_; }

  // Divides the half kernel by its total weight and cuts it at the first entry after
  // the centre below limit, until nothing is cut. An empty filter (or one without
  // weight) logs at level 2 and stays as it is.
  static void NormalizeFilter(std::vector<double>& filter, double limit);
  // |f[0]| + 2·Σ|f[k]| over k ≥ 1; an empty filter logs at level 2 and gives 1.
  static double GetTotalFilterWeight(const std::vector<double>& filter);

  // Marks with 255 the candidates in raster order: pixels within the frame of `half`
  // whose weight exceeds bound, is not exceeded in the (2·half + 1)² window, no earlier
  // candidate lies in that window and the roundness exceeds min_roundness; everything
  // else 0. weight, roundness and mask are one band of one size (the mask is resized).
  static void MarkCandidates(const CPicture<double>& weight, const CPicture<double>& roundness,
                             float bound, float min_roundness, int32_t half,
                             CPicture<unsigned char>& mask);

  // Gradients of the last computation.
  const CPicture<double>& GradientX() const { return gx_; }
  const CPicture<double>& GradientY() const { return gy_; }

 private:
  CPicture<double> gx_, gy_;
  Parameter parameter_;
  Harris::Parameter harris_parameter_;
  std::vector<double> derivation_;
  std::vector<double> integration_;
};
