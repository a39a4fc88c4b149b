#include "app/camera_tracking_options.h"

#include <numbers>

namespace {

FeatureCorrelatorSyn::Parameter DefaultSyntheticBlock() {
  return FeatureCorrelatorSyn::Parameter(10000, 100000.0, 0, 0, 0, 0, 0, 0.5, 2.0, 0, 0, 0, 50,
                                         nullptr, false, false, false, true, false, false, 1e-6,
                                         1e-8, 0, 0, 0, 15.0, 1937);
}

RandSampling::Parameter DefaultSamplingBlock() {
  return RandSampling::Parameter{0, 0.8,  0.99,    4000, 100, 0.5, false,
                                 1, true, 1000000, 0,    0.3, true};
}

OpticalFlowParameter DefaultOpticalFlowBlock() {
  OpticalFlowParameter block;
  block.m_corner_count = 1000;
  block.m_min_dist = 21;
  block.m_min_eigenvalue = 100.0f;
  block.m_consistency_check = 0;
  return block;
}

}  // namespace

CameraTrackingOptions::CameraTrackingOptions()
    : synthetic(DefaultSyntheticBlock()),
      optical_flow(DefaultOpticalFlowBlock()),
      sampling(DefaultSamplingBlock()),
      ptrz(15, 1e-6, 1000.0, 2.0 * std::numbers::pi, 3, 4, 5) {}
