// CameraTrackingPool: one instance of every exchangeable tracking component of a job
// (corner detectors, 2D correlators, guided matching, sample calculators, outlier
// detectors, camera estimators, feature maps), each created once and held shared, plus
// the "current" slots naming the instances a run uses. The tracking manager derives from
// it; CopyParameter takes over every parameter block of another pool.
#pragma once

class CameraTrackingPool {
 public:
  CameraTrackingPool();
  virtual ~CameraTrackingPool();
  CameraTrackingPool(const CameraTrackingPool&) = delete;
  CameraTrackingPool& operator=(const CameraTrackingPool&) = delete;

  // Copies the parameter blocks of every component of other into this pool's components.
  virtual void CopyParameter(const CameraTrackingPool& other);
};
