#include "optimise/camera_estimator_rad_dist_known_fpoint3d.h"

#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_flags.h"
#include "geometry/corr_el.h"
#include "optimise/camera_estimator_known_fpoint3d.h"
#include "optimise/camera_parameter_mask.h"

void ModelRadDistKnownFPoint3DData::SetCamera(const PerspectiveCamera& camera) {
  m_camera = camera;
  GetCameraParameters(camera, m_camera_values);
  m_start_vector.assign(1, camera.GetDistortionCoefficients()[0]);
  if (m_estimate_k5) m_start_vector.push_back(camera.GetDistortionCoefficients()[1]);
  if (m_estimate_camera) {
    m_start_vector.insert(m_start_vector.end(), m_camera_values, m_camera_values + 9);
  }
}

void ModelRadDistKnownFPoint3DData::SetData(const std::vector<SharedPtr<FeaturePoint2D>>& features,
                                            const PerspectiveCamera& camera, bool estimate_k5,
                                            bool estimate_camera) {
  m_samples.clear();
  m_estimate_k5 = estimate_k5;
  m_estimate_camera = estimate_camera;
  SetCamera(camera);
  // The distorted positions about the principal point, the centre the camera's lens
  // distortion is taken about; the model predicts in the same frame.
  m_camera.SetDistortion(0.0, 0.0, m_camera.GetRdDim(), m_camera.GetDistortionModel());
  const CorrElMapper mapper(m_camera);
  for (const SharedPtr<FeaturePoint2D>& feature : features) {
    if (!feature) continue;
    const SharedPtr<FeaturePoint3D>& point = feature->GetFPoint3D();
    if (!point || point->TestFlags(FP3D_FLAG_REMOVED)) continue;
    CorrEl element;
    mapper.MapFeaturePoint2D(*feature, element);
    m_samples.push_back({element.x0, element.y0, point});
  }
}

void ModelRadDistKnownFPoint3DData::GetModelInput(unsigned i,
                                                  ModelRadDistKnownFPoint3DInput& out) const {
  const FPoint3DSample& s = m_samples[i];
  out.x = s.x;
  out.y = s.y;
  out.point = s.point.Get();
  out.camera = &m_camera;
  out.camera_values = m_camera_values;
  out.estimate_k5 = m_estimate_k5;
  out.estimate_camera = m_estimate_camera;
}

void ModelRadDistKnownFPoint3DData::GetMeasurement(unsigned i, double out[2]) const {
  (void)i;
  out[0] = 0.0;
  out[1] = 0.0;
}

bool ModelRadDistKnownFPoint3D::ComputeWithGradient(const ModelRadDistKnownFPoint3DInput& input,
                                                    const std::vector<double>& parameters,
                                                    ModelOutput out[2], int mode) const {
  const size_t first_camera = input.estimate_k5 ? 2 : 1;
  const size_t n = first_camera + (input.estimate_camera ? 9 : 0);
  if (parameters.size() != n) {
    Notify(2, "ModelRadDistKnownFPoint3D::ComputeWithGradient: bad number of parameters: %d",
           static_cast<int>(parameters.size()));
    return false;
  }
  if (input.point == nullptr || input.camera == nullptr || input.camera_values == nullptr) {
    return false;
  }
  const int cs = input.point->GetCS();
  if (cs != FeaturePoint3D::eCartesian && cs != FeaturePoint3D::eSpherical) {
    Notify(2,
           "ModelRadDistKnownFPoint3D::ComputeWithGradient: unsupported coordinate system type: %d",
           cs);
    return false;
  }

  // The projection is the resection model's, taken about the camera's principal point
  // (an estimated principal point moves it from there).
  ModelKnownFPoint3DInput projection;
  projection.point = input.point;
  std::vector<double> camera_parameters;
  double principal[2] = {0.0, 0.0};
  if (input.estimate_camera) {
    projection.m_parameter_mask = kCamAllParameters;
    camera_parameters.assign(parameters.begin() + long(first_camera), parameters.end());
    principal[0] = input.camera_values[7];
    principal[1] = input.camera_values[8];
  } else {
    for (int k = 0; k < 7; ++k) projection.fixed[k] = input.camera_values[k];
  }
  ModelOutput projected[2];
  if (!ModelKnownFPoint3D().ComputeWithGradient(projection, camera_parameters, projected, mode)) {
    return false;
  }

  const double k3 = parameters[0];
  const double k5 =
      input.estimate_k5 ? parameters[1] : input.camera->GetDistortionCoefficients()[1];
  const double r2 = input.x * input.x + input.y * input.y;
  const double s = 1.0 + k3 * r2 + k5 * r2 * r2;
  const double measured[2] = {input.x, input.y};
  for (int j = 0; j < 2; ++j) {
    out[j].value = projected[j].value - principal[j] - s * measured[j];
    out[j].gradient.assign(n, 0.0);
    out[j].gradient[0] = -r2 * measured[j];
    if (input.estimate_k5) out[j].gradient[1] = -r2 * r2 * measured[j];
    for (size_t k = 0; k < camera_parameters.size(); ++k) {
      out[j].gradient[first_camera + k] = projected[j].gradient[k];
    }
  }
  return true;
}

bool CameraEstimatorRadDistKnownFPoint3D::Optimize(
    PerspectiveCamera* camera, const std::vector<SharedPtr<FeaturePoint2D>>& features,
    bool estimate_k5, bool estimate_camera) {
  if (camera == nullptr) {
    Notify(2, "CameraEstimatorRadDistKnownFPoint3D::Optimize: camera == NULL");
    return false;
  }
  m_pixel_size_x = camera->GetPixelSizeX();
  m_pixel_size_y = camera->GetPixelSizeY();
  OptimizerLM_RadDistKnownFPoint3D optimizer;
  std::vector<SharedPtr<FeaturePoint2D>> with_point;
  for (const SharedPtr<FeaturePoint2D>& feature : features) {
    if (feature && feature->GetFPoint3D()) with_point.push_back(feature);
  }
  if (with_point.empty()) {
    Notify(2, "CameraEstimatorRadDistKnownFPoint3D::Optimize: 2D feature point list empty");
    return false;
  }
  if (camera->GetRdDim() != 0) {
    Notify(
        2,
        "CameraEstimatorRadDistKnownFPoint3D::Optimize: dimension of radial distortion not in mm");
  }
  optimizer.m_data.SetData(with_point, *camera, estimate_k5, estimate_camera);
  optimizer.m_data.SetCamera(*camera);
  if (!optimizer.Optimize()) {
    Notify(2, "CameraEstimatorRadDistKnownFPoint3D::OptimizeCamera: failed !");
    return false;
  }
  m_error += optimizer.m_chisq / static_cast<double>(optimizer.m_num_samples);

  const std::vector<double>& result = optimizer.m_param_vector;
  const double k3 = result[0];
  const double k5 = estimate_k5 ? result[1] : camera->GetDistortionCoefficients()[1];
  Notify(5, "CameraEstimatorRadDistKnownFPoint3D::OptimizeCamera: estimate k3=%e, k5=%e", k3, k5);
  camera->SetDistortion(k3, k5, camera->GetRdDim(), camera->GetDistortionModel());
  if (estimate_camera) {
    double value[9];
    const size_t i = estimate_k5 ? 2 : 1;
    for (int k = 0; k < 9; ++k) value[k] = result[i + size_t(k)];
    value[7] /= m_pixel_size_x;  // mm to pixels
    value[8] /= m_pixel_size_y;
    SetCameraFromParameters(*camera, value);
  }
  return true;
}
