#include "tracking/camera_tracking_manager.h"

CameraTrackingManager::CameraTrackingManager() {
  m_image_cache.SetFieldMode(0);
  m_image_cache.SetCapacity(100);
}

CameraTrackingManager::~CameraTrackingManager() = default;

// Filled in with the manager's frame loop.
bool CameraTrackingManager::Compute(unsigned /*index*/, int /*stepMask*/) {
  throw "CameraTrackingManager::Compute: not available";
}

void CameraTrackingManager::SwitchToInitialState(int /*reason*/) {}

bool CameraTrackingManager::ComputeFinalCameraEstimation() {
  return false;
}

SharedPtr<FeatureImage>& CameraTrackingManager::GetFImage(unsigned position) {
  static SharedPtr<FeatureImage> null_handle;
  if (position >= m_image_list.size()) return null_handle;
  return m_image_list[position];
}
