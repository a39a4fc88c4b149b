#include "optimise/camera_estimator_raxes_k_known_fpoint3d.h"

#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_flags.h"
#include "geometry/corr_el.h"
#include "optimise/camera_estimator_known_fpoint3d.h"
#include "optimise/known_fpoint3d_model.h"

namespace {

using V3 = PanTiltRollRotation::V3;

unsigned PerImage(bool estimate_focal) {
  return estimate_focal ? 4u : 3u;
}

// R^T t: the offset t, given in the camera's axes, in world axes.
V3 ToWorld(const PanTiltRollRotation::M3& r, const V3& t) {
  V3 out;
  for (int j = 0; j < 3; ++j) out[j] = r[j] * t[0] + r[3 + j] * t[1] + r[6 + j] * t[2];
  return out;
}

}  // namespace

void ModelRAxesKKnownFPoint3DData::SetData(const std::vector<FeatureImage*>& images,
                                           bool estimate_focal, const double* centre) {
  m_samples.clear();
  m_estimate_focal = estimate_focal;
  m_num_cameras = static_cast<unsigned>(images.size());
  if (centre != nullptr) {
    for (int k = 0; k < 3; ++k) m_centre[k] = centre[k];
  }
  for (size_t k = 0; k < images.size(); ++k) {
    const FeatureImage* image = images[k];
    const CorrElMapper mapper(*image);
    for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D()) {
      if (!feature->TestCorrespondenceFlags(FCORR_SUPPORT_ROTATION | FCORR_SUPPORT_FREEMOVE)) {
        continue;
      }
      const SharedPtr<FeaturePoint3D>& point = feature->GetFPoint3D();
      if (!point || point->TestFlags(FP3D_FLAG_REMOVED)) continue;
      CorrEl element;
      mapper.MapFeaturePoint2D(*feature, element);
      m_samples.push_back({image, static_cast<int>(k), element.x0, element.y0, point});
    }
  }
}

void ModelRAxesKKnownFPoint3DData::SetInitialParameters(const std::vector<FeatureImage*>& images) {
  const unsigned stride = PerImage(m_estimate_focal);
  m_start_vector.assign(3 + stride * images.size(), 0.0);
  if (!images.empty()) {
    const vm::Vector3& c = images[0]->GetC();
    m_start_vector[0] = c.x - m_centre[0];
    m_start_vector[1] = c.y - m_centre[1];
    m_start_vector[2] = c.z - m_centre[2];
  }
  for (size_t k = 0; k < images.size(); ++k) {
    double* block = m_start_vector.data() + 3 + stride * k;
    GetCameraAngles(*images[k], block[0], block[1], block[2]);
    if (m_estimate_focal) block[3] = images[k]->GetFocalLength();
  }
  for (double& value : m_start_vector) {
    if (value == 0.0) value = 1e-16;
  }
}

unsigned ModelRAxesKKnownFPoint3DData::GetNumberOfParameters() const {
  if (m_start_vector.size() < 6) {
    Notify(2,
           "ModelRAxesKKnownFPoint3DData::GetNumberOfParameters: bad no. of parameters %d, missing "
           "call of SetInitialParameters()",
           static_cast<int>(m_start_vector.size()));
  }
  return static_cast<unsigned>(m_start_vector.size());
}

void ModelRAxesKKnownFPoint3DData::GetModelInput(unsigned i,
                                                 ModelRAxesKKnownFPoint3DInput& out) const {
  const RAxesKSample& s = m_samples[i];
  out.point = s.point.Get();
  if (out.point == nullptr) {
    Notify(2, "ModelRAxesKKnownFPoint3DData::GetModelInput: no 3D point set");
  } else if (out.point->GetCS() == FeaturePoint3D::eSpherical) {
    Notify(2, "ModelRAxesKKnownFPoint3DData::GetModelInput: coordinate sytem not cartesian");
  }
  out.camera = s.camera;
  out.image = s.image;
  out.num_cameras = &m_num_cameras;
  out.estimate_focal = &m_estimate_focal;
  out.centre = m_centre;
}

void ModelRAxesKKnownFPoint3DData::GetMeasurement(unsigned i, double out[2]) const {
  out[0] = m_samples[i].x;
  out[1] = m_samples[i].y;
}

bool ModelRAxesKKnownFPoint3D::ComputeWithGradient(const ModelRAxesKKnownFPoint3DInput& input,
                                                   const std::vector<double>& parameters,
                                                   ModelOutput out[2], int mode) const {
  (void)mode;  // values and gradients are always both written
  const unsigned n_cameras = *input.num_cameras;
  const bool focal = *input.estimate_focal;
  const unsigned stride = PerImage(focal);
  const size_t expected = 3 + size_t(stride) * n_cameras;
  if (parameters.size() != expected) {
    Notify(2,
           "ModelRAxesKKnownFPoint3D::ComputeWithGradient: bad number of parameters: %d, should "
           "be %d",
           static_cast<int>(parameters.size()), static_cast<int>(expected));
    return false;
  }
  if (input.image < 0 || unsigned(input.image) >= n_cameras) {
    Notify(2, "ModelRAxesKKnownFPoint3D::ComputeWithGradient: camera index %d >= no. of cameras %d",
           input.image, static_cast<int>(n_cameras));
    return false;
  }
  if (input.point == nullptr) return false;

  const size_t base = 3 + size_t(stride) * unsigned(input.image);
  const PanTiltRollRotation rot(parameters[base], parameters[base + 1], parameters[base + 2]);
  const double f = focal ? parameters[base + 3] : input.camera->GetFocalLength();
  const V3 t{parameters[0], parameters[1], parameters[2]};
  const V3 d{input.point->x - input.centre[0], input.point->y - input.centre[1],
             input.point->z - input.centre[2]};
  // Image 0 turns about its own centre P + T; the others carry T in their own axes.
  const bool first = input.image == 0;
  const V3 turned = first ? V3{d[0] - t[0], d[1] - t[1], d[2] - t[2]} : d;
  V3 xc = PanTiltRollRotation::Apply(rot.r, turned);
  if (!first) {
    for (int k = 0; k < 3; ++k) xc[k] -= t[k];
  }
  const double iz = xc[2] == 0.0 ? 1e-16 : 1.0 / xc[2];
  out[0].value = f * xc[0] * iz;
  out[1].value = f * xc[1] * iz;

  out[0].gradient.assign(parameters.size(), 0.0);
  out[1].gradient.assign(parameters.size(), 0.0);
  auto put = [&](size_t column, const V3& g) {
    PinholeDerivative(f, xc, iz, g, out[0].gradient[column], out[1].gradient[column]);
  };
  for (int k = 0; k < 3; ++k) {
    // A change of T moves xc by minus column k of R_0 (image 0) or minus unit vector k.
    V3 g{0.0, 0.0, 0.0};
    if (first) {
      g = {-rot.r[size_t(k)], -rot.r[size_t(3 + k)], -rot.r[size_t(6 + k)]};
    } else {
      g[k] = -1.0;
    }
    put(size_t(k), g);
  }
  put(base, PanTiltRollRotation::Apply(rot.d_pan, turned));
  put(base + 1, PanTiltRollRotation::Apply(rot.d_tilt, turned));
  put(base + 2, PanTiltRollRotation::Apply(rot.d_roll, turned));
  if (focal) {
    out[0].gradient[base + 3] = xc[0] * iz;
    out[1].gradient[base + 3] = xc[1] * iz;
  }
  return true;
}

bool CameraEstimatorRAxesKKnownFPoint3D::Optimize(const std::vector<FeatureImage*>& images,
                                                  bool estimate_focal,
                                                  const double* rotation_centre) {
  if (images.size() < 2) {
    Notify(2, "CameraEstimatorRAxesKKnownFPoint3D::Optimize: image list < 2");
    return false;
  }
  m_pixel_size_x = images[0]->GetPixelSizeX();
  m_pixel_size_y = images[0]->GetPixelSizeY();
  OptimizerLM_RAxesKKnownFPoint3D optimizer;
  optimizer.m_data.SetData(images, estimate_focal, rotation_centre);
  optimizer.m_data.SetInitialParameters(images);
  if (!optimizer.Optimize()) {
    Notify(2, "CameraEstimatorRAxesKKnownFPoint3D::OptimizeCamera failed !");
    return false;
  }
  m_error += optimizer.m_chisq / static_cast<double>(optimizer.m_num_samples);

  const std::vector<double>& result = optimizer.m_param_vector;
  const double* p = optimizer.m_data.m_centre;
  const V3 t{result[0], result[1], result[2]};
  Notify(5, "CameraEstimatorRAxesKKnownFPoint3D::OptimizeCamera:T0=(%.2f, %.2f, %.2f)", t[0], t[1],
         t[2]);
  const unsigned stride = PerImage(estimate_focal);
  for (size_t k = 0; k < images.size(); ++k) {
    FeatureImage& camera = *images[k];
    const double* block = result.data() + 3 + stride * k;
    const PanTiltRollRotation rot(block[0], block[1], block[2]);
    // The centres the model fitted: P + T for image 0, P + R_k^T T for the others.
    const V3 offset = k == 0 ? t : ToWorld(rot.r, t);
    const double f = estimate_focal ? block[3] : camera.GetFocalLength();
    const double value[9] = {
        block[0], block[1], block[2], p[0] + offset[0], p[1] + offset[1], p[2] + offset[2],
        f,        0.0,      0.0};
    SetCameraFromParameters(camera, value);
    Notify(5,
           "CameraEstimatorRAxesKKnownFPoint3D::OptimizeCamera: p,t,r=(%.2f, %.2f,%.2f) [DEG], "
           "f=%.2f",
           block[0] * 57.29577951308232, block[1] * 57.29577951308232, block[2] * 57.29577951308232,
           f);
  }
  return true;
}
