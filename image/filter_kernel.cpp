#include "image/filter_kernel.h"

#include <cmath>

#include "foundation/runtime/notify.h"

FilterKernel::FilterKernel() {
  Init();
}

void FilterKernel::SetSigma(float sigma) {
  if (sigma == sigma_) return;  // NaN never compares equal: always rebuilt
  sigma_ = sigma;
  Init();
}

void FilterKernel::SetFilter(int type, float sigma) {
  if (type == type_ && sigma == sigma_) return;
  type_ = type;
  sigma_ = sigma;
  Init();
}

void FilterKernel::Init() {
  coefficients_.clear();
  if (sigma_ == 0.0f) {
    coefficients_.push_back(1.0f);
    return;
  }
  if (type_ == kBox) {
    // n = 2·trunc(sigma + 0.5) + 1 limited to the maximum length as an unsigned
    // minimum; a negative n is huge as unsigned and gives the maximum length.
    float half = sigma_ + 0.5f;
    uint32_t n = max_length_;
    if (std::fabs(half) < static_cast<float>(max_length_)) {
      int64_t count = 2 * static_cast<int64_t>(half) + 1;
      if (count >= 0 && count < static_cast<int64_t>(max_length_)) n = static_cast<uint32_t>(count);
    }
    coefficients_.assign(n, 1.0f / static_cast<float>(n));
    return;
  }
  if (type_ != kGauss && type_ != kDerivative) {
    Notify(2, "FilterKernel::Init: unknown filter type %d", type_);
    return;
  }
  const int h = static_cast<int>(max_length_ / 2);
  const float denominator = (sigma_ * sigma_) * 2.0f;
  for (int i = -h; i <= h; ++i) {
    double d = static_cast<float>(static_cast<float>(i * i) / denominator);
    double e = d < 85.0 ? std::exp(-d) : 0.0;  // exp skipped far out: it would underflow
    if (type_ == kDerivative) e = static_cast<double>(-i) * e;
    coefficients_.push_back(static_cast<float>(e));
  }
  Trim();
  Normalize();
  Trim();
  Normalize();
}

void FilterKernel::Normalize() {
  float s = 0.0f;
  for (float c : coefficients_) s += std::fabs(c);
  if (coefficients_.empty() || !(s > 0.0f)) {
    Notify(2, "FilterKernel::Normalize: failed (coeff. are null)");
    return;
  }
  const float r = 1.0f / s;
  for (float& c : coefficients_) c *= r;
}

void FilterKernel::Trim() {
  const size_t size = coefficients_.size();
  size_t m = 0;
  while (m < size && std::fabs(coefficients_[m]) < 0.002f) ++m;
  // No tap large enough to stop at (a derivative of a tiny sigma): keep the
  // kernel rather than cut it to nothing.
  if (m == 0 || 2 * m >= size) return;
  coefficients_.erase(coefficients_.end() - static_cast<std::ptrdiff_t>(m), coefficients_.end());
  coefficients_.erase(coefficients_.begin(),
                      coefficients_.begin() + static_cast<std::ptrdiff_t>(m));
}
