// One-dimensional filter kernels: a box, a sampled Gaussian or a sampled
// derivative of a Gaussian, held as single-precision taps (index 0 first, the
// centre in the middle). The kernel rebuilds its taps whenever its type or
// sigma changes, so users set the parameters freely and read the taps after.
//
// Types: 0 box (sigma sets the width: 2·trunc(sigma + 0.5) + 1 taps of equal
// weight), 1 Gaussian, 2 derivative of a Gaussian (positive lobe first, centre
// tap 0). Sigma is in pixels; sigma 0 gives the single tap 1 for any type.
// Gaussian and derivative taps are trimmed of small ends and normalised so
// that their absolute values sum to 1.
//
// Not thread-safe while being changed; several threads may read the taps of a
// kernel nobody changes. Nothing is thrown; an unknown type logs at level 2
// and leaves the kernel empty (an empty kernel must not be used to filter).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class FilterKernel {
 public:
  static constexpr int kBox = 0;
  static constexpr int kGauss = 1;
  static constexpr int kDerivative = 2;

  // Gaussian of sigma 0.7 with at most 71 taps, built at once.
  FilterKernel();

  // Rebuilds when sigma differs from the stored value (a NaN always differs).
  void SetSigma(float sigma);
  // Rebuilds when the type or the sigma differs from the stored one.
  void SetFilter(int type, float sigma);

  // Rebuilds the taps from type, sigma and maximum length.
  void Init();
  // Divides every tap by the sum of the absolute values; an empty or all-zero
  // kernel logs at level 2 and stays as it is.
  void Normalize();
  // Drops the same number of taps at both ends: as many as lead with a
  // magnitude below 0.002. A kernel with no tap at or above 0.002 is kept.
  void Trim();

  size_t Size() const { return coefficients_.size(); }
  const float* Data() const { return coefficients_.data(); }
  float operator[](size_t i) const { return coefficients_[i]; }
  const std::vector<float>& Coefficients() const { return coefficients_; }
  int Type() const { return type_; }
  float Sigma() const { return sigma_; }
  uint32_t MaxLength() const { return max_length_; }

 private:
  std::vector<float> coefficients_;
  int type_ = kGauss;
  float sigma_ = 0.7f;
  uint32_t max_length_ = 71;
};
