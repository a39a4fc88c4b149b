#pragma once

// Camera resection inside the random sampler: a 3x4 projection matrix from six 2D-3D
// correspondences by the direct linear transform, refined by one damped Gauss-Newton
// step, and the residual of a feature with a known 3D point under such a matrix.
//
// Elements are correspondences into the current image whose later feature links a 3D
// point. x1, y1 are that feature's position in undistorted pixels about the current
// camera's principal point, so P maps world points (mm) to those pixels:
// (u w, v w, w) = P (X, Y, Z, 1).

#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/bit_mask.h"
#include "geometry/corr_el.h"
#include "geometry/parameter_set.h"
#include "geometry/sample_calculator.h"

// One projection-matrix hypothesis.
class ParameterSetProjMatrix : public ParameterSet, public BitMask {
 public:
  ParameterSetProjMatrix();
  // Copies everything but the flag word, which starts at 0.
  ParameterSetProjMatrix(const ParameterSetProjMatrix& other);
  ParameterSetProjMatrix& operator=(const ParameterSetProjMatrix& other) = default;

  // Half the squared reprojection error in pixels^2 of the later feature's 3D point, or
  // of the earlier feature's when the later one has none. 1e38 when neither has a point
  // or the point lies on the matrix's focal plane (w = 0), so such an element is never
  // supported.
  double GetSquaredError(const CorrEl& element) const override;
  // r^T (J S3 J^T + S2)^-1 r with r the reprojection error of the later feature's 3D
  // point (no factor 0.5), J the projection's derivative by the point, S3 the point's
  // and S2 the feature's covariance; a singular weight is replaced by the identity.
  // 1e38 without the later feature's point or with w = 0.
  double GetWeightedSquaredError(const CorrEl& element) const override;
  SharedPtr<ParameterSet> Clone() const override;

  // Pixel position of world point x about the principal point; false when w = 0.
  bool Project(const vm::Vector3& x, double& u, double& v) const;

  Matrix3x4 m_p{};              // row-major projection matrix
  double m_sx = 1.06666666667;  // pixel size of the reference camera
  double m_sy = 1.0;
  PerspectiveCamera m_camera;  // copy of the reference camera
};

// Sample size 6, threshold factor 9.21, at most one hypothesis a sample.
class SampleCalculatorProjMatrix : public SampleCalculator, public BitMask {
 public:
  int GetSampleSize() const override { return 6; }
  double GetThresholdFactor() const override { return 9.21; }
  // DLT over the six elements (in the order given), then one Gauss-Newton step with
  // the normal matrix's diagonal times 1.001, kept only when it lowers the RMS
  // reprojection error. No hypothesis (a level-2 line) for a sample that is not six
  // long or where a later feature lacks its 3D point; none either when the linear
  // solve fails.
  void CalcParameter(const std::vector<CorrEl*>& sample) override;
  // The later feature in undistorted pixels about the current camera's principal point
  // (x0, y0 likewise from the earlier feature). False only for a correspondence with a
  // missing end.
  bool MakeCorrEl(const SharedPtr<FeatureCorrespondence>& corr, CorrEl& out) override;
  // "ProjectionMatrix : " and P, one row a line, on the standard output.
  void Print() const override;
  // Copy the camera and its pixel size into the hypothesis.
  void InitCameraChanged() override;
  void CurrentCameraChanged() override;

  const ParameterSetProjMatrix& GetSet() const { return set_; }

 private:
  ParameterSetProjMatrix set_;
};
