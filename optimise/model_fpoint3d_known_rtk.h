#pragma once

// One 3D point refined against cameras whose rotation, translation and intrinsics are
// known and fixed (OptimizerLM, see optimizer_lm.h), and the tests a point update needs
// around it: a start value, the parallax of the views, the mean and largest image error.
//
// A sample is one observation: the feature's position in mm on the sensor about the
// principal point, lens distortion removed (x0, y0 of a CorrEl), and the camera that saw
// it. The measurement of a sample is its (x0, y0).
//
// A Cartesian point (coordinate system 1) has the parameters x, y, z (world units); a
// direction point (coordinate system 0) the parameters pan and tilt (radians), seen from
// the cameras' common centre as the direction (sin pan, -tan tilt, cos pan).

#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"
#include "geometry/corr_el.h"
#include "optimise/optimizer_lm.h"

struct ModelFPoint3DKnownRTKInput {
  const PerspectiveCamera* camera = nullptr;
  int coordinate_system = FeaturePoint3D::eCartesian;
};

class ModelFPoint3DKnownRTKData {
 public:
  // Empties the observations; the parameters stay.
  void Clear();
  // Stores the start flag (set: the linear two-view start, else the pan/tilt/roll
  // family's), maps the feature's position through camera (mm about the principal point,
  // undistorted) and appends sample, camera and feature. A feature linking a 3D point sets
  // the coordinate system to that point's. camera must outlive the data's use.
  void AddObservation(const SharedPtr<FeaturePoint2D>& feature, const PerspectiveCamera* camera,
                      int start_flag);
  void SetCoordinateSystem(int coordinate_system) { m_coordinate_system = coordinate_system; }
  // The coordinate system and the parameters from point: (x, y, z) for a Cartesian point,
  // (x, y) = (pan, tilt) for a direction. False (level 2) for any other system.
  bool SetInitialParameters(const FeaturePoint3D& point);
  // A Cartesian start from the two views whose centres are farthest apart. False (logged)
  // for a direction point, fewer than two views, or a failed two-view construction.
  bool CalculateInitialParams();
  // True when those two views see the observation with a parallax above threshold pixels
  // (measured against a point at infinite depth). False (level 3) with fewer than two.
  bool CheckMinDist(double threshold) const;
  // The distances in pixels between x projected by each camera (distortion included) and
  // the feature's position: their mean (CheckMeanError), or each of them (CheckMaxError),
  // at most limit. True without observations; a camera that cannot project x counts as an
  // infinite distance.
  bool CheckMeanError(const vm::Vector3& x, double limit) const;
  bool CheckMaxError(const vm::Vector3& x, double limit) const;

  // 3 for a Cartesian point, 2 otherwise.
  unsigned GetNumberOfParameters() const {
    return m_coordinate_system == FeaturePoint3D::eCartesian ? 3u : 2u;
  }
  unsigned GetNumberOfSamples() const { return static_cast<unsigned>(m_samples.size()); }
  const std::vector<double>& GetStartVector() const { return m_parameters; }
  void GetModelInput(unsigned i, ModelFPoint3DKnownRTKInput& out) const;
  void GetMeasurement(unsigned i, double out[2]) const;

  std::vector<double> m_parameters = std::vector<double>(3, 0.0);
  std::vector<CorrEl> m_samples;
  std::vector<const PerspectiveCamera*> m_cameras;
  std::vector<SharedPtr<FeaturePoint2D>> m_features;
  int m_start_flag = 0;
  int m_coordinate_system = FeaturePoint3D::eCartesian;

 private:
  bool FarthestPair(size_t& a, size_t& b) const;
  // Distance in pixels of observation i from x projected; infinite when it fails.
  double ImageDistance(size_t i, const vm::Vector3& x) const;
};

class ModelFPoint3DKnownRTK : public ModelWithGradient<ModelFPoint3DKnownRTKInput, 2>,
                              public Model<ModelFPoint3DKnownRTKInput, 2> {
 public:
  const char* GetMyClassName() const override { return "o_ModelFPoint3DKnownRTK"; }
  // Cartesian: (u, v) = (sx (h0 / h2 - xp), sy (h1 / h2 - yp)) with h = P (X, 1), P the
  // camera's projection matrix and (xp, yp) its principal point in pixels. Direction:
  // (u, v) = f (r0.d, r1.d) / (r2.d) with r the rows of the camera's rotation; a tilt
  // whose cosine is exactly 0 takes 1e-20 in its place (level 2). Exact gradients. False
  // for a point on the camera's focal plane and, after a level-2 line, for an unknown
  // coordinate system.
  bool ComputeWithGradient(const ModelFPoint3DKnownRTKInput& input,
                           const std::vector<double>& parameters, ModelOutput out[2],
                           int mode) const;
};

class OptimizerLM_FPoint3DKnownRTK
    : public OptimizerLM<ModelFPoint3DKnownRTK, ModelFPoint3DKnownRTKData> {};
