// Estimators of the radial distortion of a camera pair that turns about its centre: the
// correspondences of two such images are related by a homography once the distortion
// is removed.
#pragma once

#include "features/feature_correlator.h"
#include "features/feature_correspondence_iterator.h"
#include "foundation/camera/perspective_camera.h"
#include "optimise/model_hmatrix.h"
#include "optimise/plain_estimator.h"

class Matrix;

class EstimatorHMatrix : public PlainEstimator {
 public:
  // Refines h (3x3, image 0 to image 1) and the coefficients the settings name (null
  // settings: the defaults), then writes h back with h33 = 1 and both cameras' K3, K5
  // (each keeps its radius unit and function). m_error becomes the mean squared residual
  // per coordinate in mm^2. False, nothing changed, for a null or wrongly sized h, a null
  // camera, an unknown distance measure or a fit that did not converge. The optimizer's
  // exceptions pass through (e.g. a point mapped to infinity).
  bool Optimize(Matrix* h, const t_ListFCorr& correspondences, PerspectiveCamera* camera0,
                PerspectiveCamera* camera1, const ModelHMatrixSettings* settings);
};

class CameraEstimatorRadDistHMatrix : public PlainEstimator {
 public:
  // Estimates the two cameras' coefficients from the identity homography in stages: K3
  // alone, then, when a K5 flag is set, K5 alone and both; each stage starts where the
  // previous one ended. With m_limit set, a coefficient beyond its limit is set back to
  // its value before the call. Returns the last stage's result; m_error is not written.
  bool Optimize(PerspectiveCamera* camera0, PerspectiveCamera* camera1,
                const t_ListFCorr& correspondences);
  // The same on the correspondences the iterator yields.
  bool Optimize(PerspectiveCamera* camera0, PerspectiveCamera* camera1,
                FeatureCorrespondenceIterator iterator);

  bool m_limit = false;
  double m_max_k3 = 1e-5;  // largest accepted |K3|, pixels^-2
  double m_max_k5 = 1e-9;  // largest accepted |K5|, pixels^-4
  ModelHMatrixSettings m_settings;
};
