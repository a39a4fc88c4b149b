#include "optimise/camera_estimator_known_fpoint3d.h"

#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"

namespace {

std::vector<SharedPtr<FeaturePoint2D>> Usable(
    const std::vector<SharedPtr<FeaturePoint2D>>& features) {
  std::vector<SharedPtr<FeaturePoint2D>> out;
  for (const SharedPtr<FeaturePoint2D>& feature : features) {
    if (feature && UsableForResection(*feature)) out.push_back(feature);
  }
  return out;
}

}  // namespace

void SetCameraFromParameters(PerspectiveCamera& camera, const double value[9]) {
  PerspectiveCamera turned;
  NormalizeCameraPose(turned);
  SetCameraPTRZ(turned, value[0], value[1], value[2], 1.0);
  camera.SetAll(vm::Vector3{value[3], value[4], value[5]}, turned.GetA(), turned.GetH(),
                turned.GetV(), camera.GetWidth(), camera.GetHeight(), camera.GetPixelSizeX(),
                camera.GetPixelSizeY(), camera.GetDistortionCoefficients(),
                camera.GetFurtherValues(), camera.GetDistortionModel());
  camera.SetFocalLength(value[6]);
  camera.SetCenterPointX(value[7]);
  camera.SetCenterPointY(value[8]);
}

bool CameraEstimatorKnownFPoint3D::Optimize(PerspectiveCamera* camera,
                                            const std::vector<SharedPtr<FeaturePoint2D>>& features,
                                            const uint32_t* mask) {
  if (camera == nullptr) {
    Notify(2, "CameraEstimatorKnownFPoint3D::Optimize: camera == NULL");
    return false;
  }
  m_pixel_size_x = camera->GetPixelSizeX();
  m_pixel_size_y = camera->GetPixelSizeY();
  OptimizerLM_KnownFPoint3D optimizer;
  optimizer.m_nMaxIterations = 100;
  optimizer.m_nMaxBadIterations = 8;
  const std::vector<SharedPtr<FeaturePoint2D>> usable = Usable(features);
  if (usable.empty()) {
    Notify(2,
           "CameraEstimatorKnownFPoint3D::Optimize: can't get 2D features with 3D point, size of "
           "input list %ld",
           static_cast<long>(features.size()));
    return false;
  }
  const uint32_t no_mask = 0;
  optimizer.m_data.SetData(usable, *camera, mask != nullptr ? mask : &no_mask);
  if (!optimizer.Optimize()) {
    Notify(2, "CameraEstimatorKnownFPoint3D::Optimize: failed !");
    return false;
  }
  m_error += optimizer.m_chisq / static_cast<double>(optimizer.m_num_samples);

  // Unestimated parameters keep the camera's values.
  double value[9];
  GetCameraAngles(*camera, value[0], value[1], value[2]);
  const vm::Vector3 c = camera->GetC();
  value[3] = c.x;
  value[4] = c.y;
  value[5] = c.z;
  value[6] = camera->GetFocalLength();
  value[7] = camera->GetCenterPointX();
  value[8] = camera->GetCenterPointY();
  const uint32_t bits = optimizer.m_data.m_parameter_mask;
  size_t next = 0;
  for (int b = 0; b < 9; ++b) {
    if ((bits & kKnownFPoint3DParameterBits[b]) == 0) continue;
    value[b] = optimizer.m_param_vector[next++];
    if (b == 7) value[b] /= m_pixel_size_x;  // mm to pixels
    if (b == 8) value[b] /= m_pixel_size_y;
  }

  SetCameraFromParameters(*camera, value);
  return true;
}

bool CameraEstimatorPMatKnownFPoint3D::Optimize(
    PerspectiveCamera* camera, const std::vector<SharedPtr<FeaturePoint2D>>& features) {
  if (camera == nullptr) {
    Notify(2, "CameraEstimatorPMatKnownFPoint3D::Optimize: camera == NULL");
    return false;
  }
  m_pixel_size_x = camera->GetPixelSizeX();
  m_pixel_size_y = camera->GetPixelSizeY();
  OptimizerLM_PMatKnownFPoint3D optimizer;
  optimizer.m_nMaxIterations = 100;
  optimizer.m_nMaxBadIterations = 8;
  const std::vector<SharedPtr<FeaturePoint2D>> usable = Usable(features);
  if (usable.empty()) {
    Notify(2,
           "CameraEstimatorPMatKnownFPoint3D::Optimize: can't get 2D features of %d with 3D point",
           static_cast<int>(features.size()));
    return false;
  }
  optimizer.m_data.SetData(usable, *camera);
  if (!optimizer.Optimize()) {
    Notify(2, "CameraEstimatorPMatKnownFPoint3D::Optimize: failed !");
    return false;
  }
  m_error += optimizer.m_chisq / static_cast<double>(optimizer.m_num_samples);

  Matrix3x4 p;
  for (int i = 0; i < 12; ++i) p.m[i] = optimizer.m_param_vector[size_t(i)];
  // The conversion resets the further distortion coefficients; the lens stays as it was.
  double k[4], further[2];
  for (int i = 0; i < 4; ++i) k[i] = camera->GetDistortionCoefficients()[i];
  for (int i = 0; i < 2; ++i) further[i] = camera->GetFurtherValues()[i];
  GetCameraFromProjectionMatrix(p, *camera);
  camera->SetAll(camera->GetC(), camera->GetA(), camera->GetH(), camera->GetV(), camera->GetWidth(),
                 camera->GetHeight(), camera->GetPixelSizeX(), camera->GetPixelSizeY(), k, further,
                 camera->GetDistortionModel());
  return true;
}
