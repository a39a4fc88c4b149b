#include "tracking/camera_tracking_pool.h"

CameraTrackingPool::CameraTrackingPool() = default;

CameraTrackingPool::~CameraTrackingPool() = default;

void CameraTrackingPool::CopyParameter(const CameraTrackingPool& /*other*/) {}
