#include "features/optical_flow_parameter.h"

#include <cmath>

#include "foundation/runtime/notify.h"

bool OpticalFlowParameter::Check() {
  if (!(m_min_eigenvalue < 1.0f)) return true;
  Notify(2, "FeatureCorrelatorOpticalFlow::Parameter::Check:  bad min. eigenvalue: %f",
         static_cast<double>(m_min_eigenvalue));
  Notify(3, "FeatureCorrelatorOpticalFlow::Parameter::Check: failed -> set default parameter.");
  *this = OpticalFlowParameter();
  return false;
}

void OpticalFlowPyramidDepth(uint32_t search_range, uint32_t window_width, uint32_t window_height,
                             uint32_t* levels, uint32_t* subsampling) {
  const double half = (window_width < window_height ? window_width : window_height) * 0.5;
  const float c = static_cast<float>(search_range / half);
  if (c < 1.0f) {
    *levels = 1;
    *subsampling = 1;
  } else if (c <= 3.0f) {
    *levels = 2;
    *subsampling = 2;
  } else if (c <= 5.0f) {
    *levels = 2;
    *subsampling = 4;
  } else if (c <= 9.0f) {
    *levels = 2;
    *subsampling = 8;
  } else {
    *subsampling = 8;
    *levels = static_cast<uint32_t>(std::log(7.0 * c + 1.0) / std::log(8.0) + 0.99);
  }
}

int32_t OpticalFlowBorder(uint32_t smoothing_taps, uint32_t gradient_taps, uint32_t levels,
                          uint32_t subsampling, uint32_t window_width, uint32_t window_height) {
  int32_t n = static_cast<int32_t>(smoothing_taps / 2);
  const int32_t g = static_cast<int32_t>(gradient_taps / 2);
  for (uint32_t l = 1; l < levels; ++l)
    n = static_cast<int32_t>(static_cast<double>(n + g) / subsampling + 0.99);
  int32_t scale = 1;
  for (uint32_t l = 1; l < levels; ++l) scale *= static_cast<int32_t>(subsampling);
  const uint32_t window = window_width > window_height ? window_width : window_height;
  return (n + static_cast<int32_t>(window / 2)) * scale;
}
