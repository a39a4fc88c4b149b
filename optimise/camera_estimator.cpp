#include "optimise/camera_estimator.h"

#include "foundation/runtime/notify.h"

CameraEstimator::CameraEstimator() = default;

CameraEstimator::~CameraEstimator() = default;

void CameraEstimator::SetCorrespondences(const t_ListFCorr&, PerspectiveCamera*,
                                         PerspectiveCamera*) {
  Notify(2,
         "CameraEstimator::SetCorrespondences: parameter: t_ListFCorr, does nothing, method "
         "has to be reimplemented in the derived class !");
}

void CameraEstimator::SetCorrespondences(FeatureCorrespondenceIterator, PerspectiveCamera*,
                                         PerspectiveCamera*) {
  Notify(2,
         "CameraEstimator::SetCorrespondences: parameter: FeatureCorrespondenceIterator, does "
         "nothing, method has to be reimplemented in the derived class !");
}

void CameraEstimator::SetInitCamera(const PerspectiveCamera& camera) {
  m_init_camera = camera;
  InitCameraChanged();
}

void CameraEstimator::SetPreviousCamera(const PerspectiveCamera& camera) {
  m_previous_camera = camera;
  PreviousCameraChanged();
}

void CameraEstimator::SetCurrentCamera(const PerspectiveCamera& camera) {
  m_current_camera = camera;
  CurrentCameraChanged();
}

double CameraEstimator::GetError(bool inPixels) const {
  if (!inPixels) return m_error;
  return m_error / (m_previous_camera.GetPixelSizeX() * m_previous_camera.GetPixelSizeY());
}
