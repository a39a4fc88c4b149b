#pragma once

// Camera estimators for a camera that turns about its centre: pan, tilt, roll and zoom
// from frame to frame (CameraEstimatorPTRZ), pan, tilt, roll and a direction of motion
// (CameraEstimatorRT), and the focal length of a key-frame pair by a stepwise search
// followed by a five-parameter fit (CameraEstimatorPTRZF).
//
// The result camera is the previous camera turned by the estimated pan (about its
// vertical axis), tilt (horizontal axis) and roll (viewing axis), with the init camera's
// centre and image size, the current camera's pixel size, distortion coefficients,
// per-pixel flag and principal point, the Poly3 lens model, and the previous focal
// length times the zoom. m_error is chi2 per sample in mm^2 (CameraEstimator).
//
// The optimizers' const char* failures reach the caller of Run, except those of single
// focal steps in the search.

#include "features/feature_correlator.h"
#include "features/feature_correspondence_iterator.h"
#include "foundation/camera/perspective_camera.h"
#include "optimise/camera_estimator.h"
#include "optimise/model_ptrz.h"
#include "optimise/model_rt.h"

template <class Optimizer>
class CameraEstimatorPTRZ : public CameraEstimator {
 public:
  using CameraEstimator::SetCorrespondences;
  // The data from the iterator's correspondences between a (earlier end; its focal
  // length is the model's) and b; a null camera is replaced by m_previous_camera.
  void SetCorrespondences(FeatureCorrespondenceIterator iterator, PerspectiveCamera* a,
                          PerspectiveCamera* b) override;
  // Fits pan, tilt, roll, zoom from (0, 0, 0, 1). False when the fit does not converge
  // ("CameraEstimatorPTRZ::Run failed !", level 0; result and m_error unchanged).
  bool Run(PerspectiveCamera* result) override;

  Optimizer m_optimizer;
};

template <class Optimizer>
class CameraEstimatorRT : public CameraEstimator {
 public:
  // The data from the correspondences between a (earlier end; its focal length is the
  // model's) and b; a null camera is replaced by m_previous_camera.
  void SetCorrespondences(const t_ListFCorr& list, PerspectiveCamera* a,
                          PerspectiveCamera* b) override;
  void SetCorrespondences(FeatureCorrespondenceIterator iterator, PerspectiveCamera* a,
                          PerspectiveCamera* b) override;
  // Fits pan, tilt, roll, a, b from zeros. The result is the previous camera (copied
  // whole, distortion included) turned by the three angles, with the init camera's centre
  // and the previous focal length: the direction of motion has no length, so it does not
  // move the centre. False as CameraEstimatorPTRZ::Run ("CameraEstimatorRT::Run failed !").
  bool Run(PerspectiveCamera* result) override;

  Optimizer m_optimizer;
};

template <class Optimizer>
class CameraEstimatorPTRZF : public CameraEstimator {
 public:
  // Keeps a copy of list (list may be the stored list) and the non-null cameras (borrowed:
  // the caller keeps them alive until the run; a camera never given is m_previous_camera),
  // then builds the five-parameter data.
  void SetCorrespondences(const t_ListFCorr& list, PerspectiveCamera* a,
                          PerspectiveCamera* b) override;
  // The iterator's correspondences become the stored list; then the list form.
  void SetCorrespondences(FeatureCorrespondenceIterator iterator, PerspectiveCamera* a,
                          PerspectiveCamera* b) override;
  bool Run(PerspectiveCamera* result) override { return RunFullSearchFwithPTRZ(result); }

  // Fits pan/tilt/roll/zoom at focal lengths from fMin = w / tan 50 deg to fMax =
  // w / tan 2.5 deg (w = half the previous camera's sensor width) in steps of 0.25 % of
  // the range, keeps the step with the strictly smallest error (the smaller f on a tie),
  // then fits all five parameters from it. The result camera has focal length f * zoom;
  // m_previous_camera gets the found f. False (level-2 line) for a null result, an empty
  // range, no successful focal step, or a final fit that does not converge.
  bool RunFullSearchFwithPTRZ(PerspectiveCamera* result);

  // The search range of a previous camera, in mm.
  static void GetFocalSearchRange(const PerspectiveCamera& previous, double& f_min, double& f_max,
                                  double& step);

  Optimizer m_optimizer;
  t_ListFCorr m_corrs;
  PerspectiveCamera* m_first_camera = nullptr;
  PerspectiveCamera* m_second_camera = nullptr;
};

extern template class CameraEstimatorPTRZ<OptimizerLM_PTRZ>;
extern template class CameraEstimatorRT<OptimizerLM_RT>;
extern template class CameraEstimatorPTRZF<OptimizerLM_PTRZF>;
