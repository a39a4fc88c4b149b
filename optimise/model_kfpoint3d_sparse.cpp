#include "optimise/model_kfpoint3d_sparse.h"

#include <bit>
#include <cmath>
#include <unordered_map>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/notify.h"
#include "geometry/corr_el.h"

namespace {

// World-to-camera rotation M = (Ry(pan) Rx(tilt) Rz(roll))^T and its derivatives with
// respect to pan and tilt, row by row.
struct Rotation {
  double m[3][3];
  double d_pan[3][3];
  double d_tilt[3][3];

  Rotation(double p, double t, double r) {
    const double sp = std::sin(p), cp = std::cos(p);
    const double st = std::sin(t), ct = std::cos(t);
    const double sr = std::sin(r), cr = std::cos(r);
    const double rows[3][3] = {{sr * sp * st + cr * cp, sr * ct, sr * st * cp - sp * cr},
                               {sp * st * cr - sr * cp, cr * ct, st * cr * cp + sr * sp},
                               {sp * ct, -st, cp * ct}};
    const double pan[3][3] = {{sr * cp * st - cr * sp, 0.0, -sr * st * sp - cp * cr},
                              {cp * st * cr + sr * sp, 0.0, -st * cr * sp + sr * cp},
                              {cp * ct, 0.0, -sp * ct}};
    const double tilt[3][3] = {{sr * sp * ct, -sr * st, sr * ct * cp},
                               {sp * ct * cr, -cr * st, ct * cr * cp},
                               {-sp * st, -ct, -cp * st}};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        m[i][j] = rows[i][j];
        d_pan[i][j] = pan[i][j];
        d_tilt[i][j] = tilt[i][j];
      }
    }
  }
};

void Apply(const double m[3][3], const double d[3], double out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = m[i][0] * d[0] + m[i][1] * d[1] + m[i][2] * d[2];
}

// The pinhole projection x = f q1/q3, y = f q2/q3 of q = M d and the derivative of (x, y)
// for a change dq of q.
struct Projection {
  double f;
  double q[3];
  double x;
  double y;

  void Derivative(const double dq[3], double& dx, double& dy) const {
    const double s = f / (q[2] * q[2]);
    dx = s * (dq[0] * q[2] - q[0] * dq[2]);
    dy = s * (dq[1] * q[2] - q[1] * dq[2]);
  }
};

// Camera block of one observation: the free parameters in block order, the others from
// the stored camera values.
struct CameraValues {
  double pan, tilt, roll, centre[3], f;
};

const double* CameraBlock(const ModelRKFPoint3DSparseInput& in, const std::vector<double>& a) {
  return a.data() + static_cast<size_t>(in.camera_index) * in.parameters_per_camera;
}

const double* PointBlock(const ModelRKFPoint3DSparseInput& in, const std::vector<double>& a) {
  return a.data() + static_cast<size_t>(in.number_of_cameras) * in.parameters_per_camera +
         static_cast<size_t>(in.point_index) * in.parameters_per_point;
}

// Reads pan, tilt, roll, (centre x, y, z when with_centre) and f in block order.
CameraValues ReadCamera(const ModelRKFPoint3DSparseInput& in, const double* block,
                        const double* stored_centre) {
  CameraValues v{in.pan, in.tilt, in.roll, {0.0, 0.0, 0.0}, in.focal_length};
  if (stored_centre)
    for (int i = 0; i < 3; ++i) v.centre[i] = stored_centre[i];
  int n = 0;
  if (in.mask & kCamPan) v.pan = block[n++];
  if (in.mask & kCamTilt) v.tilt = block[n++];
  if (in.mask & kCamRoll) v.roll = block[n++];
  if (stored_centre) {
    if (in.mask & kCamCentreX) v.centre[0] = block[n++];
    if (in.mask & kCamCentreY) v.centre[1] = block[n++];
    if (in.mask & kCamCentreZ) v.centre[2] = block[n++];
  }
  if (in.mask & kCamFocal) v.f = block[n++];
  return v;
}

void SizeResult(ModelOutput result[2], int size) {
  for (int r = 0; r < 2; ++r) result[r].gradient.assign(static_cast<size_t>(size), 0.0);
}

// Values and camera columns shared by both models; returns the next free column.
int CameraColumns(const ModelRKFPoint3DSparseInput& in, const Rotation& rot, const Projection& pr,
                  const double d[3], bool with_centre, ModelOutput result[2]) {
  int n = 0;
  double dq[3];
  auto put = [&](double dx, double dy) {
    result[0].gradient[n] = dx;
    result[1].gradient[n] = dy;
    ++n;
  };
  double dx, dy;
  if (in.mask & kCamPan) {
    Apply(rot.d_pan, d, dq);
    pr.Derivative(dq, dx, dy);
    put(dx, dy);
  }
  if (in.mask & kCamTilt) {
    Apply(rot.d_tilt, d, dq);
    pr.Derivative(dq, dx, dy);
    put(dx, dy);
  }
  if (in.mask & kCamRoll) put(pr.y, -pr.x);
  if (with_centre) {
    const unsigned bits[3] = {kCamCentreX, kCamCentreY, kCamCentreZ};
    for (int j = 0; j < 3; ++j) {
      if (!(in.mask & bits[j])) continue;
      const double column[3] = {rot.m[0][j], rot.m[1][j], rot.m[2][j]};
      pr.Derivative(column, dx, dy);
      put(-dx, -dy);
    }
  }
  // x / f without dividing by f, which may be 0.
  if (in.mask & kCamFocal) put(pr.q[0] / pr.q[2], pr.q[1] / pr.q[2]);
  return n;
}

bool Finite(const ModelOutput result[2]) {
  return std::isfinite(result[0].value) && std::isfinite(result[1].value);
}

// The pinhole value of ray d for one camera and the gradient's camera columns; the caller
// adds its point columns from column next on, through rot and pr.
struct Ray {
  Rotation rot;
  Projection pr;
  int next = 0;

  explicit Ray(const CameraValues& cam) : rot(cam.pan, cam.tilt, cam.roll), pr{cam.f, {}, 0, 0} {}

  // False when the ray lies in the focal plane (zero depth).
  bool Project(const ModelRKFPoint3DSparseInput& in, const double d[3], bool with_centre,
               ModelOutput result[2]) {
    Apply(rot.m, d, pr.q);
    if (pr.q[2] == 0.0) return false;
    pr.x = pr.f * pr.q[0] / pr.q[2];
    pr.y = pr.f * pr.q[1] / pr.q[2];
    SizeResult(result, in.parameters_per_camera + in.parameters_per_point);
    result[0].value = pr.x;
    result[1].value = pr.y;
    next = CameraColumns(in, rot, pr, d, with_centre, result);
    return true;
  }
};

int CountBits(unsigned mask) {
  return std::popcount(mask);
}

}  // namespace

// ---------------------------------------------------------------- data

void ModelKFPoint3DDataSparse::Clear() {
  m_fpoint3d_list.clear();
  m_parameters.clear();
  m_measurements.clear();
  m_focal_lengths.clear();
  m_angles.clear();
  m_number_parameters = 0;
  m_number_cameras = 0;
  m_number_rejected = 0;
}

void ModelKFPoint3DDataSparse::Rebuild(const ImageList& list, const Collect& how) {
  Clear();
  std::unordered_map<const FeaturePoint3D*, int> index_of;
  for (size_t c = 0; c < list.size(); ++c) {
    const FeatureImage& image = *list[c];
    const double sx = image.GetPixelSizeX();
    const double sy = image.GetPixelSizeY();
    for (const SharedPtr<FeaturePoint2D>& feature : image.GetFPoints2D()) {
      if (!feature) continue;
      FeaturePoint3D* point = feature->GetFPoint3D().Get();
      if (!point || point->TestFlags(FP3D_FLAG_REMOVED)) continue;
      if (how.need_support &&
          !feature->TestCorrespondenceFlags(FCORR_SUPPORT_ROTATION | FCORR_SUPPORT_FREEMOVE))
        continue;
      if (point->GetCS() != how.coordinate_system) {
        ++m_number_rejected;
        continue;
      }
      ModelSparseMeasurement m;
      MapImagePoint(feature->x, feature->y, image, how.unit_mode, how.shift_principal_point, true,
                    false, m.x, m.y);
      auto [it, fresh] = index_of.emplace(point, static_cast<int>(m_fpoint3d_list.size()));
      if (fresh) m_fpoint3d_list.push_back(point);
      m.point_index = it->second;
      m.camera_index = static_cast<int>(c);
      if (feature->TestFlags(FP2D_FLAG_COVARIANCE)) {
        const float* w = feature->GetInvCoVariance();
        const double s0 = how.weight_in_mm ? 1.0 / sx : 1.0;
        const double s1 = how.weight_in_mm ? 1.0 / sy : 1.0;
        m.weight_set = 1;
        m.weight[0][0] = w[0] * s0 * s0;
        m.weight[0][1] = m.weight[1][0] = w[1] * s0 * s1;
        m.weight[1][1] = w[2] * s1 * s1;
      }
      m_measurements.push_back(m);
    }
  }
  Notify(5, "%s::SetFImageList: done plus", how.class_name);
  for (const SharedPtr<FeatureImage>& image : list) {
    std::array<double, 3> angles;
    GetCameraAngles(*image, angles[0], angles[1], angles[2]);
    m_focal_lengths.push_back(image->GetFocalLength());
    m_angles.push_back(angles);
  }
  if (how.log_focal_lengths)
    for (double f : m_focal_lengths)
      Notify(5, "%s::SetFImageList:  focal length f = %f", how.class_name, f);
  m_parameters_per_camera = how.parameters_per_camera;
  m_number_cameras = static_cast<int>(list.size());
  m_number_parameters =
      GetNumberOfPoints() * m_parameters_per_point + m_number_cameras * m_parameters_per_camera;
  m_parameters.assign(static_cast<size_t>(m_number_parameters), 0.0);
  Notify(5, "%s::SetFImageList: m_number_measurements=%d", how.class_name,
         GetNumberOfMeasurements());
  Notify(5, "%s::SetFImageList: m_fpoint3d_list.size()=%d", how.class_name, GetNumberOfPoints());
  if (m_number_rejected > 0)
    Notify(5, "%s::SetFImageList: %d 3DFPs rejected because != %s", how.class_name,
           m_number_rejected, how.coordinate_system_name);
  Notify(5, "%s::SetFImageList: fimage_list.size()=%d (%d parameters)", how.class_name,
         m_number_cameras, m_parameters_per_camera);
  Notify(5, "%s::SetFImageList:  number_para=%d", how.class_name,
         m_number_parameters - how.held_parameters);
}

void ModelKFPoint3DDataSparse::FillInput(int i, ModelRKFPoint3DSparseInput& in) const {
  const ModelSparseMeasurement& m = m_measurements[static_cast<size_t>(i)];
  in.mask = m_mask;
  in.held_first_camera = 0;
  in.number_of_cameras = m_number_cameras;
  in.number_of_points = GetNumberOfPoints();
  in.number_of_parameters = m_number_parameters;
  in.camera_index = m.camera_index;
  in.point_index = m.point_index;
  in.parameters_per_camera = m_parameters_per_camera;
  in.parameters_per_point = m_parameters_per_point;
  const size_t c = static_cast<size_t>(m.camera_index);
  in.focal_length = m_focal_lengths[c];
  in.pan = m_angles[c][0];
  in.tilt = m_angles[c][1];
  in.roll = m_angles[c][2];
}

int ModelRKFPoint3DDataSparse::ParametersPerCamera(unsigned mask) {
  return CountBits(mask & (kCamTilt | kCamPan | kCamRoll | kCamFocal));
}

void ModelRKFPoint3DDataSparse::SetFImageList(const ImageList& list, const unsigned* mask) {
  if (mask) m_mask = *mask;
  if (m_mask & (kCamPrincipalX | kCamPrincipalY)) {
    Notify(2,
           "ModelRKFPoint3DDataSparse::SetFImageList: the principal point (mask 0x%x) is not a "
           "parameter of the rotation-only model; the cameras keep theirs",
           m_mask & (kCamPrincipalX | kCamPrincipalY));
    m_mask &= ~(kCamPrincipalX | kCamPrincipalY);
  }
  Rebuild(list,
          {"ModelRKFPoint3DDataSparse", kCorrElMillimetres, true, true, FeaturePoint3D::eSpherical,
           "FeaturePoint3D::eSpherical", true, true, ParametersPerCamera(m_mask), 0});
}

void ModelRKFPoint3DDataSparse::SetInitialParameters(const ImageList& list) {
  const size_t p = static_cast<size_t>(m_parameters_per_camera);
  for (size_t c = 0; c < list.size() && c < static_cast<size_t>(m_number_cameras); ++c) {
    double pan, tilt, roll;
    GetCameraAngles(*list[c], pan, tilt, roll);
    double* block = m_parameters.data() + c * p;
    int n = 0;
    if (m_mask & kCamPan) block[n++] = pan;
    if (m_mask & kCamTilt) block[n++] = tilt;
    if (m_mask & kCamRoll) block[n++] = roll;
    if (m_mask & kCamFocal) block[n++] = list[c]->GetFocalLength();
  }
  double* points = m_parameters.data() + static_cast<size_t>(m_number_cameras) * p;
  for (size_t j = 0; j < m_fpoint3d_list.size(); ++j) {
    points[2 * j] = m_fpoint3d_list[j]->x;
    points[2 * j + 1] = m_fpoint3d_list[j]->y;
  }
}

int ModelRTKFPoint3DDataSparse::ParametersPerCamera(unsigned mask) {
  if (mask & kCamProjectionMatrix) return 12;
  return CountBits(
      mask & (kCamTilt | kCamPan | kCamRoll | kCamCentreX | kCamCentreY | kCamCentreZ | kCamFocal));
}

void ModelRTKFPoint3DDataSparse::SetFImageList(const ImageList& list, const unsigned* mask) {
  if (mask) m_mask = *mask;
  const bool projection = (m_mask & kCamProjectionMatrix) != 0;
  const int per_camera = ParametersPerCamera(m_mask);
  Rebuild(list, {"ModelRTKFPoint3DDataSparse", projection ? kCorrElPixels : kCorrElMillimetres,
                 false, false, FeaturePoint3D::eCartesian, "FeaturePoint3D::eCartesian",
                 !projection, false, per_camera, m_hold_first_camera ? per_camera : 0});
  m_centres.clear();
  for (const SharedPtr<FeatureImage>& image : list) {
    const vm::Vector3& c = image->GetC();
    m_centres.push_back({c.x, c.y, c.z});
  }
}

void ModelRTKFPoint3DDataSparse::SetInitialParameters(const ImageList& list) {
  const size_t p = static_cast<size_t>(m_parameters_per_camera);
  for (size_t c = 0; c < list.size() && c < static_cast<size_t>(m_number_cameras); ++c) {
    const FeatureImage& image = *list[c];
    double* block = m_parameters.data() + c * p;
    if (m_mask & kCamProjectionMatrix) {
      Matrix3x4 pm;
      GetProjectionMatrixFromCamera(image, pm);
      for (int r = 0; r < 3; ++r)
        for (int j = 0; j < 4; ++j) block[4 * r + j] = pm[r][j];
      continue;
    }
    double pan, tilt, roll;
    GetCameraAngles(image, pan, tilt, roll);
    const vm::Vector3& centre = image.GetC();
    int n = 0;
    if (m_mask & kCamPan) block[n++] = pan;
    if (m_mask & kCamTilt) block[n++] = tilt;
    if (m_mask & kCamRoll) block[n++] = roll;
    if (m_mask & kCamCentreX) block[n++] = centre.x;
    if (m_mask & kCamCentreY) block[n++] = centre.y;
    if (m_mask & kCamCentreZ) block[n++] = centre.z;
    if (m_mask & kCamFocal) block[n++] = image.GetFocalLength();
  }
  double* points = m_parameters.data() + static_cast<size_t>(m_number_cameras) * p;
  for (size_t j = 0; j < m_fpoint3d_list.size(); ++j) {
    points[3 * j] = m_fpoint3d_list[j]->x;
    points[3 * j + 1] = m_fpoint3d_list[j]->y;
    points[3 * j + 2] = m_fpoint3d_list[j]->z;
  }
}

void ModelRTKFPoint3DDataSparse::GetModelInput(int i, ModelRTKFPoint3DSparseInput& in) const {
  FillInput(i, in);
  in.held_first_camera = m_hold_first_camera;
  const std::array<double, 3>& c =
      m_centres[static_cast<size_t>(m_measurements[static_cast<size_t>(i)].camera_index)];
  for (int j = 0; j < 3; ++j) in.centre[j] = c[static_cast<size_t>(j)];
}

// ---------------------------------------------------------------- models

bool ModelRKFPoint3DSparse::ComputeWithGradient(const ModelRKFPoint3DSparseInput& in,
                                                const std::vector<double>& a,
                                                ModelOutput result[2]) const {
  const CameraValues cam = ReadCamera(in, CameraBlock(in, a), nullptr);
  const double* point = PointBlock(in, a);
  const double az = point[0];
  const double el = point[1];
  const double d[3] = {std::sin(az), -std::tan(el), std::cos(az)};
  Ray ray(cam);
  if (!ray.Project(in, d, false, result)) return false;
  const Rotation& rot = ray.rot;
  const Projection& pr = ray.pr;
  const int n = ray.next;
  const double cos_el = std::cos(el);
  const double d_az[3] = {std::cos(az), 0.0, -std::sin(az)};
  const double d_el[3] = {0.0, -1.0 / (cos_el * cos_el), 0.0};
  double dq[3];
  Apply(rot.m, d_az, dq);
  pr.Derivative(dq, result[0].gradient[n], result[1].gradient[n]);
  Apply(rot.m, d_el, dq);
  pr.Derivative(dq, result[0].gradient[n + 1], result[1].gradient[n + 1]);
  return Finite(result);
}

bool ModelRTKFPoint3DSparse::ComputeWithGradient(const ModelRTKFPoint3DSparseInput& in,
                                                 const std::vector<double>& a,
                                                 ModelOutput result[2]) const {
  const double* block = CameraBlock(in, a);
  const double* point = PointBlock(in, a);
  if (in.mask & kCamProjectionMatrix) {
    const double X[4] = {point[0], point[1], point[2], 1.0};
    double h[3];
    for (int r = 0; r < 3; ++r)
      h[r] = block[4 * r] * X[0] + block[4 * r + 1] * X[1] + block[4 * r + 2] * X[2] +
             block[4 * r + 3];
    const double w = h[2];
    if (w == 0.0) return false;
    SizeResult(result, 12 + 3);
    result[0].value = h[0] / w;
    result[1].value = h[1] / w;
    std::vector<double>& gx = result[0].gradient;
    std::vector<double>& gy = result[1].gradient;
    for (int j = 0; j < 4; ++j) {
      gx[j] = X[j] / w;
      gy[4 + j] = X[j] / w;
      gx[8 + j] = -h[0] * X[j] / (w * w);
      gy[8 + j] = -h[1] * X[j] / (w * w);
    }
    for (int j = 0; j < 3; ++j) {
      gx[12 + j] = block[j] / w - h[0] * block[8 + j] / (w * w);
      gy[12 + j] = block[4 + j] / w - h[1] * block[8 + j] / (w * w);
    }
    return Finite(result);
  }
  const CameraValues cam = ReadCamera(in, block, in.centre);
  const double d[3] = {point[0] - cam.centre[0], point[1] - cam.centre[1],
                       point[2] - cam.centre[2]};
  Ray ray(cam);
  if (!ray.Project(in, d, true, result)) return false;
  for (int j = 0; j < 3; ++j) {
    const double column[3] = {ray.rot.m[0][j], ray.rot.m[1][j], ray.rot.m[2][j]};
    ray.pr.Derivative(column, result[0].gradient[ray.next + j], result[1].gradient[ray.next + j]);
  }
  return Finite(result);
}
