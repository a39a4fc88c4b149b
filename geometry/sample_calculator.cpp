#include "geometry/sample_calculator.h"

#include <iostream>

void SampleCalculator::SetInitCamera(const PerspectiveCamera& camera) {
  m_init_camera = camera;
  InitCameraChanged();
}

void SampleCalculator::SetCurrentCamera(const PerspectiveCamera& camera) {
  m_current_camera = camera;
  CurrentCameraChanged();
}

bool MapTwoViewCorrEl(const PerspectiveCamera& camera, const SharedPtr<FeatureCorrespondence>& corr,
                      CorrEl& out) {
  if (!corr || !corr->GetFirst() || !corr->GetSecond()) return false;
  out.corr = corr;
  MapTwoViewPositions(camera, corr->GetFirst()->x, corr->GetFirst()->y, corr->GetSecond()->x,
                      corr->GetSecond()->y, out);
  return true;
}

void MapTwoViewPositions(const PerspectiveCamera& camera, double x0, double y0, double x1,
                         double y1, CorrEl& out) {
  // The mapper's defaults, without building a mapper (two camera copies) per element.
  MapImagePoint(x0, y0, camera, kCorrElMillimetres, true, true, false, out.x0, out.y0);
  MapImagePoint(x1, y1, camera, kCorrElMillimetres, true, true, false, out.x1, out.y1);
}

void PrintMatrix3x3(const double m[9]) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) std::cout << " " << m[3 * r + c];
    std::cout << std::endl;
  }
}
