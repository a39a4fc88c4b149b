// CameraEstimator: the exchangeable camera estimator of the component pool. It is given
// the cameras of the run's first, the previous and the current image and the
// correspondences between two images, and estimates the current camera from them (the
// pan/tilt/roll/zoom estimators of a camera turning about its centre implement it).
//
// The setters copy the camera they are given and then call their hook, so an
// implementation can prepare its data when a camera changes. m_error is the chi2 per
// sample of the last estimation in mm^2 on the image plane; 1e32 until an
// implementation sets it.
#pragma once

#include "features/feature_correlator.h"
#include "features/feature_correspondence_iterator.h"
#include "foundation/camera/perspective_camera.h"

class CameraEstimator {
 public:
  CameraEstimator();
  virtual ~CameraEstimator();

  // The base forms log that a derived class must provide them and do nothing. a and b
  // are the cameras of the two images the correspondences connect.
  virtual void SetCorrespondences(const t_ListFCorr& correspondences, PerspectiveCamera* a,
                                  PerspectiveCamera* b);
  virtual void SetCorrespondences(FeatureCorrespondenceIterator iterator, PerspectiveCamera* a,
                                  PerspectiveCamera* b);
  // Writes the estimated camera into result and sets m_error; false when no camera
  // could be estimated.
  virtual bool Run(PerspectiveCamera* result) = 0;
  virtual void InitCameraChanged() {}
  virtual void PreviousCameraChanged() {}
  virtual void CurrentCameraChanged() {}

  void SetInitCamera(const PerspectiveCamera& camera);
  void SetPreviousCamera(const PerspectiveCamera& camera);
  void SetCurrentCamera(const PerspectiveCamera& camera);
  const PerspectiveCamera& GetInitCamera() const { return m_init_camera; }
  const PerspectiveCamera& GetPreviousCamera() const { return m_previous_camera; }
  const PerspectiveCamera& GetCurrentCamera() const { return m_current_camera; }

  // m_error, in pixels^2 (divided by the previous camera's sx * sy) when inPixels.
  double GetError(bool inPixels) const;

 protected:
  PerspectiveCamera m_init_camera;
  PerspectiveCamera m_previous_camera;
  PerspectiveCamera m_current_camera;
  double m_error = 1e32;
};
