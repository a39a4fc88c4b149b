#pragma once

// Models and data of the resection fits (OptimizerLM, see optimizer_lm.h): a camera, or a
// free projection matrix, from 2D features whose 3D points are known. One sample is one
// feature: its measured position (x, y) and its 3D point.
//
// ModelKnownFPoint3D estimates chosen camera parameters. The camera parameter mask picks
// them; in the parameter vector they stand in this order (not the order of the bits):
//   pan 0x4000, tilt 0x2000, roll 0x8000 (radians), centre X 0x10000, Y 0x20000,
//   Z 0x40000 (mm), focal length 0x2, principal point x 0x4, y 0x8 (mm).
// Unselected parameters keep the values of the camera handed to the data. Positions are
// undistorted sensor millimetres, about the principal point when it is fixed and about
// the image centre when it is estimated (either bit 0x4 or 0x8).
//
// ModelPMatKnownFPoint3D fits the twelve entries of a row-major 3x4 projection matrix to
// undistorted image-centred pixel positions.

#include <array>
#include <cstdint>
#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"
#include "optimise/camera_parameter_mask.h"
#include "optimise/optimizer_lm.h"

// The bits in parameter-vector order.
inline constexpr uint32_t kKnownFPoint3DParameterBits[9] = {
    kCamPan,     kCamTilt,  kCamRoll,       kCamCentreX,   kCamCentreY,
    kCamCentreZ, kCamFocal, kCamPrincipalX, kCamPrincipalY};

// The camera rotation of the pan/tilt/roll convention (the angles GetCameraAngles gives
// and SetCameraPTRZ takes): R = Rz(roll) Rx(tilt) Ry(pan), row-major, world to camera
// (rows H0, V0, A), with its derivatives by each angle. Every model of the camera family
// builds its rotation here.
struct PanTiltRollRotation {
  using M3 = std::array<double, 9>;
  using V3 = std::array<double, 3>;

  PanTiltRollRotation(double pan, double tilt, double roll);
  static V3 Apply(const M3& m, const V3& d);

  M3 r;
  M3 d_pan;
  M3 d_tilt;
  M3 d_roll;
};

// The change of the pinhole image position f (xc, yc) / zc for a change g of the camera
// coordinates xc, with iz standing for 1 / zc.
inline void PinholeDerivative(double f, const PanTiltRollRotation::V3& xc, double iz,
                              const PanTiltRollRotation::V3& g, double& du, double& dv) {
  du = f * (g[0] * xc[2] - xc[0] * g[2]) * iz * iz;
  dv = f * (g[1] * xc[2] - xc[1] * g[2]) * iz * iz;
}

// The nine camera parameters of a camera in parameter-vector order: pan, tilt, roll
// (GetCameraAngles, world axes), centre, focal length (mm), principal point (mm,
// sx (A.H), sy (A.V)).
void GetCameraParameters(const PerspectiveCamera& camera, double out[9]);

// A feature takes part in a resection when its 3D point exists and is neither removed
// nor protected.
bool UsableForResection(const FeaturePoint2D& feature);

// One sample: the measured position and the 3D point (kept alive by the sample).
struct FPoint3DSample {
  double x = 0.0;
  double y = 0.0;
  SharedPtr<FeaturePoint3D> point;
};

struct ModelKnownFPoint3DInput {
  const FeaturePoint3D* point = nullptr;
  double fixed[9] = {};  // pan, tilt, roll, X, Y, Z, f, principal point x, y
  uint32_t m_parameter_mask = 0;
};

class ModelKnownFPoint3DData {
 public:
  // Empties the samples; takes *mask when mask is not null; SetCamera; then one sample
  // per usable feature, mapped to mm (distortion removed, about the principal point
  // unless the mask estimates it).
  void SetData(const std::vector<SharedPtr<FeaturePoint2D>>& features,
               const PerspectiveCamera& camera, const uint32_t* mask);
  // Fixed values from the camera (angles as GetCameraAngles gives them, centre, focal
  // length in mm, the principal point in mm when the mask estimates it, else 0) and the
  // start vector: the fixed values of the selected parameters, in parameter order.
  void SetCamera(const PerspectiveCamera& camera);

  unsigned GetNumberOfParameters() const { return unsigned(m_start_vector.size()); }
  unsigned GetNumberOfSamples() const { return unsigned(m_samples.size()); }
  const std::vector<double>& GetStartVector() const { return m_start_vector; }
  // Logs (level 2) a sample without a point; out.point is then null.
  void GetModelInput(unsigned i, ModelKnownFPoint3DInput& out) const;
  void GetMeasurement(unsigned i, double out[2]) const;

  std::vector<double> m_start_vector;
  double m_fixed[9] = {};
  std::vector<FPoint3DSample> m_samples;
  uint32_t m_parameter_mask = 0;
};

class ModelKnownFPoint3D : public ModelWithGradient<ModelKnownFPoint3DInput, 2>,
                           public Model<ModelKnownFPoint3DInput, 2> {
 public:
  const char* GetMyClassName() const override { return "ModelRTKKnownFPoint3D"; }
  // Predicted (u, v) = f (xc, yc) / zc + principal point with (xc, yc, zc) =
  // Rz(roll) Rx(tilt) Ry(pan) d, d = point - centre for a Cartesian point or
  // (sin x, -tan y, cos x) for a direction; exact gradients by the selected parameters.
  // False for a missing point, a parameter vector that does not fit the mask, an
  // unknown coordinate system (logged) or a point on the camera's focal plane (zc = 0).
  bool ComputeWithGradient(const ModelKnownFPoint3DInput& input,
                           const std::vector<double>& parameters, ModelOutput out[2],
                           int mode) const;
};

class OptimizerLM_KnownFPoint3D : public OptimizerLM<ModelKnownFPoint3D, ModelKnownFPoint3DData> {};

struct ModelPMatKnownFPoint3DInput {
  const FeaturePoint3D* point = nullptr;
};

class ModelPMatKnownFPoint3DData {
 public:
  // Empties the samples, SetCamera, then one sample per usable feature in undistorted
  // pixels about the image centre.
  void SetData(const std::vector<SharedPtr<FeaturePoint2D>>& features,
               const PerspectiveCamera& camera);
  // Copies the camera; the start vector becomes its projection matrix (row order).
  void SetCamera(const PerspectiveCamera& camera);

  unsigned GetNumberOfParameters() const { return unsigned(m_start_vector.size()); }
  unsigned GetNumberOfSamples() const { return unsigned(m_samples.size()); }
  const std::vector<double>& GetStartVector() const { return m_start_vector; }
  void GetModelInput(unsigned i, ModelPMatKnownFPoint3DInput& out) const;
  void GetMeasurement(unsigned i, double out[2]) const;

  std::vector<double> m_start_vector = std::vector<double>(12, 0.0);
  PerspectiveCamera m_camera;
  std::vector<FPoint3DSample> m_samples;
};

class ModelPMatKnownFPoint3D : public ModelWithGradient<ModelPMatKnownFPoint3DInput, 2>,
                               public Model<ModelPMatKnownFPoint3DInput, 2> {
 public:
  const char* GetMyClassName() const override { return "ModelPMatKnownFPoint3D"; }
  // (a, b, c) = P (x, y, z, 1) with the point's coordinates taken as Cartesian whatever
  // its type; (u, v) = (a / c, b / c) and the exact gradients. False for a vector that is
  // not 12 long (logged), a missing point or c = 0.
  bool ComputeWithGradient(const ModelPMatKnownFPoint3DInput& input,
                           const std::vector<double>& parameters, ModelOutput out[2],
                           int mode) const;
};

class OptimizerLM_PMatKnownFPoint3D
    : public OptimizerLM<ModelPMatKnownFPoint3D, ModelPMatKnownFPoint3DData> {};
