#include "tracking/camera_tracking_manager.h"

CameraTrackingManager::CameraTrackingManager() {
  m_image_cache.SetFieldMode(0);
  m_image_cache.SetCapacity(100);
}

CameraTrackingManager::~CameraTrackingManager() = default;
