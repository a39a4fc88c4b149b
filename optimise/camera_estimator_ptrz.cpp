#include "optimise/camera_estimator_ptrz.h"

#include <cmath>

#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/notify.h"

namespace {

constexpr double kDegree = 57.29577951308232;

// Steps 1 and 2 of the result camera: pose and size of `pose`, pixel size, distortion
// coefficients, per-pixel flag and principal point of `intrinsics`, lens model Poly3.
void SetPoseWithIntrinsics(PerspectiveCamera& result, const PerspectiveCamera& pose,
                           const PerspectiveCamera& intrinsics) {
  const double* k = intrinsics.GetDistortionCoefficients();
  result.Set(pose.GetC(), pose.GetA(), pose.GetH(), pose.GetV(), pose.GetWidth(), pose.GetHeight(),
             k[0], intrinsics.GetPixelSizeX(), intrinsics.GetPixelSizeY(), k[1],
             intrinsics.GetRdDim(), Poly3);
  result.SetCenterPointX(intrinsics.GetCenterPointX());
  result.SetCenterPointY(intrinsics.GetCenterPointY());
}

// Steps 4 to 6: the turned camera's rotation, made exactly orthonormal, placed at the
// init camera's centre; the result restarts from the init camera (as `restart` sets it)
// and is moved there.
template <class Restart>
void PlaceAtInitCentre(PerspectiveCamera& result, const PerspectiveCamera& init, Restart restart) {
  Matrix4x4 r = result.GetCameraToWorldMatrix();
  vm::Vector3 axis;
  const double angle = r.GetAxisAngle(axis);
  r.SetRotation(axis, angle);
  const vm::Vector3& c = init.GetC();
  r[0][3] = c.x;
  r[1][3] = c.y;
  r[2][3] = c.z;
  restart(result);
  Matrix4x4 t;
  t.Multiply(r, init.GetWorldToCameraMatrix());
  result.Transform(t);
}

}  // namespace

// ---- CameraEstimatorPTRZ

template <class Optimizer>
void CameraEstimatorPTRZ<Optimizer>::SetCorrespondences(FeatureCorrespondenceIterator iterator,
                                                        PerspectiveCamera* a,
                                                        PerspectiveCamera* b) {
  m_optimizer.m_data.SetCorrespondences(iterator, a != nullptr ? a : &m_previous_camera,
                                        b != nullptr ? b : &m_previous_camera);
}

template <class Optimizer>
bool CameraEstimatorPTRZ<Optimizer>::Run(PerspectiveCamera* result) {
  if (!m_optimizer.Optimize()) {
    Notify(0, "CameraEstimatorPTRZ::Run failed !");
    return false;
  }
  m_error = m_optimizer.m_chisq / m_optimizer.m_num_samples;
  if (result == nullptr) return true;
  const std::vector<double>& p = m_optimizer.m_param_vector;
  SetPoseWithIntrinsics(*result, m_previous_camera, m_current_camera);
  SetCameraPTRZ(*result, p[0], p[1], p[2], p[3]);
  PlaceAtInitCentre(*result, m_init_camera, [this](PerspectiveCamera& c) {
    SetPoseWithIntrinsics(c, m_init_camera, m_current_camera);
  });
  result->SetFocalLength(m_previous_camera.GetFocalLength() * p[3]);
  return true;
}

// ---- CameraEstimatorRT

template <class Optimizer>
void CameraEstimatorRT<Optimizer>::SetCorrespondences(const t_ListFCorr& list, PerspectiveCamera* a,
                                                      PerspectiveCamera* b) {
  m_optimizer.m_data.SetCorrespondences(list, a != nullptr ? a : &m_previous_camera,
                                        b != nullptr ? b : &m_previous_camera);
}

template <class Optimizer>
void CameraEstimatorRT<Optimizer>::SetCorrespondences(FeatureCorrespondenceIterator iterator,
                                                      PerspectiveCamera* a, PerspectiveCamera* b) {
  m_optimizer.m_data.SetCorrespondences(iterator, a != nullptr ? a : &m_previous_camera,
                                        b != nullptr ? b : &m_previous_camera);
}

template <class Optimizer>
bool CameraEstimatorRT<Optimizer>::Run(PerspectiveCamera* result) {
  if (!m_optimizer.Optimize()) {
    Notify(0, "CameraEstimatorRT::Run failed !");
    return false;
  }
  m_error = m_optimizer.m_chisq / m_optimizer.m_num_samples;
  if (result == nullptr) return true;
  const std::vector<double>& p = m_optimizer.m_param_vector;
  result->CopyFrom(m_previous_camera, false);
  SetCameraPTRZ(*result, p[0], p[1], p[2], 1.0);
  PlaceAtInitCentre(*result, m_init_camera,
                    [this](PerspectiveCamera& c) { c.CopyFrom(m_init_camera, false); });
  result->SetFocalLength(m_previous_camera.GetFocalLength());
  return true;
}

// ---- CameraEstimatorPTRZF

template <class Optimizer>
void CameraEstimatorPTRZF<Optimizer>::SetCorrespondences(const t_ListFCorr& list,
                                                         PerspectiveCamera* a,
                                                         PerspectiveCamera* b) {
  if (&list != &m_corrs) m_corrs = list;
  if (a != nullptr) m_first_camera = a;
  if (b != nullptr) m_second_camera = b;
  // A camera never given: the previous camera stands in, so no null camera is read.
  m_optimizer.m_data.SetCorrespondences(
      m_corrs, m_first_camera != nullptr ? m_first_camera : &m_previous_camera,
      m_second_camera != nullptr ? m_second_camera : &m_previous_camera);
}

template <class Optimizer>
void CameraEstimatorPTRZF<Optimizer>::SetCorrespondences(FeatureCorrespondenceIterator iterator,
                                                         PerspectiveCamera* a,
                                                         PerspectiveCamera* b) {
  m_corrs.clear();
  while (SharedPtr<FeatureCorrespondence> corr = iterator.Next()) m_corrs.push_back(corr);
  SetCorrespondences(m_corrs, a, b);
}

template <class Optimizer>
void CameraEstimatorPTRZF<Optimizer>::GetFocalSearchRange(const PerspectiveCamera& previous,
                                                          double& f_min, double& f_max,
                                                          double& step) {
  const double w = previous.GetWidth() * previous.GetPixelSizeX() * 0.5;
  f_min = w / std::tan(0.8726646259971648);   // 100 degrees horizontal field of view
  f_max = w / std::tan(0.04363323129985824);  // 5 degrees
  step = (f_max - f_min) * 0.0025;
}

template <class Optimizer>
bool CameraEstimatorPTRZF<Optimizer>::RunFullSearchFwithPTRZ(PerspectiveCamera* result) {
  if (result == nullptr) {
    Notify(2, "CameraEstimatorPTRZF::RunFullSearchFwithPTRZ: result == NULL !");
    return false;
  }
  OptimizerLM_PTRZ local;
  local.m_tolerance = m_optimizer.m_tolerance;
  local.m_nMaxIterWithinTolerance = m_optimizer.m_nMaxIterWithinTolerance;
  local.m_nMaxBadIterations = m_optimizer.m_nMaxIterations;
  local.m_nMaxIterations = 300;
  local.m_data.SetCorrespondences(
      m_corrs, m_first_camera != nullptr ? m_first_camera : &m_previous_camera,
      m_second_camera != nullptr ? m_second_camera : &m_previous_camera);

  double f_min = 0.0, f_max = 0.0, step = 0.0;
  GetFocalSearchRange(m_previous_camera, f_min, f_max, step);
  if (f_min > f_max) {
    Notify(2, "CameraEstimatorPTRZF::RunFullSearchFwithPTRZ: max f (%.2f) < min f (%.2f)", f_max,
           f_min);
    return false;
  }

  double best = 1e32;
  bool found = false;
  double kept[5] = {0.0, 0.0, 0.0, 1.0, 0.0};  // pan, tilt, roll, zoom, f
  // step > 0 keeps a degenerate (zero-width) range from looping for ever.
  for (double f = f_min; f < f_max && step > 0.0; f += step) {
    PerspectiveCamera camera = m_previous_camera;
    camera.SetFocalLength(f);
    local.m_data.SetFocalLength(camera);
    try {
      local.m_nMaxIterations = 300;
      if (!local.Optimize()) continue;
    } catch (const char*) {
      Notify(5, "CameraEstimatorPTRZF::RunFullSearchFwithPTRZ: step with f=%g failed, continue", f);
      continue;
    }
    m_error = local.m_chisq / local.m_num_samples;
    if (m_error < best) {
      best = m_error;
      found = true;
      for (int i = 0; i < 4; ++i) kept[i] = local.m_param_vector[i];
      kept[4] = f;
    }
  }
  if (!found) {
    // Without one successful step the final fit would have no start.
    Notify(2, "CameraEstimatorPTRZF::RunFullSearchFwithPTRZ failed !");
    return false;
  }

  const double sx = m_previous_camera.GetPixelSizeX();
  const double sy = m_previous_camera.GetPixelSizeY();
  Notify(5,
         "CameraEstimatorPTRZF::RunFullSearchFwithPTRZ: found init para.: pan %.6f, tilt %.6f, "
         "roll %.6f [DEG], z %.6f [mm], f %.6f [mm], min. RMSE %.6f [pel]",
         kept[0] * kDegree, kept[1] * kDegree, kept[2] * kDegree, kept[3], kept[4],
         std::sqrt(best / (sx * sy)));

  m_optimizer.m_data.SetInitialParameters(kept[0], kept[1], kept[2], kept[3], kept[4]);
  if (!m_optimizer.Optimize()) {
    Notify(2, "CameraEstimatorPTRZF::RunFullSearchFwithPTRZ failed !");
    return false;
  }
  m_error = m_optimizer.m_chisq / m_optimizer.m_num_samples;
  const std::vector<double>& p = m_optimizer.m_param_vector;
  Notify(5,
         "CameraEstimatorPTRZF::RunFullSearchFwithPTRZ: final estimated parameters: \n"
         "pan[deg]:  %f \ntilt[deg]: %f \nroll[deg]: %f \nzoom:      %f \nfocal[mm]: %f \n"
         "mean square dist[pel] = %f",
         p[0] * kDegree, p[1] * kDegree, p[2] * kDegree, p[3], p[4],
         std::sqrt(m_error / (sx * sy)));

  const double zf = p[4] * p[3];
  SetPoseWithIntrinsics(*result, m_previous_camera, m_current_camera);
  SetCameraPTRF(*result, p[0], p[1], p[2], zf);
  m_previous_camera.SetFocalLength(p[4]);
  PlaceAtInitCentre(*result, m_init_camera, [this](PerspectiveCamera& c) {
    SetPoseWithIntrinsics(c, m_init_camera, m_current_camera);
  });
  result->SetFocalLength(zf);
  return true;
}

template class CameraEstimatorPTRZ<OptimizerLM_PTRZ>;
template class CameraEstimatorRT<OptimizerLM_RT>;
template class CameraEstimatorPTRZF<OptimizerLM_PTRZF>;
