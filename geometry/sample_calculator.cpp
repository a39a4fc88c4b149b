#include "geometry/sample_calculator.h"

void SampleCalculator::SetInitCamera(const PerspectiveCamera& camera) {
  m_init_camera = camera;
  InitCameraChanged();
}

void SampleCalculator::SetCurrentCamera(const PerspectiveCamera& camera) {
  m_current_camera = camera;
  CurrentCameraChanged();
}
