#pragma once

// The seven-point fundamental matrix: a minimal solver for the random sampler and its
// hypothesis.
//
// Elements are in mm on the sensor about the principal point of the current camera (both
// positions), lens distortion removed (MapTwoViewCorrEl). A hypothesis F satisfies
// (x1, y1, 1) F (x0, y0, 1)^T = 0; its residuals are in pixels through the reference
// camera's scales.

#include <vector>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/tracks/bit_mask.h"
#include "geometry/fmatrix.h"
#include "geometry/parameter_set.h"
#include "geometry/sample_calculator.h"

// The residual is the symmetric epipolar distance in pixels^2: (|d0|^2 + |d1|^2) / 4,
// with d0 the offset of (x0, y0) from the epipolar line F^T x1 and d1 that of (x1, y1)
// from F x0 (weighted: with the features' inverse covariances). A vanishing line gives
// 1e38.
class ParameterSetFMatrix : public PairOffsetParameterSet<ParameterSetFMatrix>, public BitMask {
 public:
  // The two offsets in pixels; false for a vanishing epipolar line.
  bool Offsets(const CorrEl& e, double& dx0, double& dy0, double& dx1, double& dy1) const;

  FMatrix m_fmatrix;  // only its matrix is used
};

// Sample size 7, threshold factor 6.63; one hypothesis per distinct real root of the
// cubic det(Fb + l (Fa - Fb)) = 0, in ascending order of l (1 to 3).
class SampleCalculatorFMatrix : public SampleCalculator, public BitMask {
 public:
  int GetSampleSize() const override { return 7; }
  double GetThresholdFactor() const override { return 6.63; }
  // Fa, Fb: eigenvectors of A^T A (rows (x1 x0, x1 y0, x1, y1 x0, y1 y0, y1, x0, y0, 1))
  // for the eigenvalues smallest and second smallest in magnitude. The sets are not
  // normalised.
  void CalcParameter(const std::vector<CorrEl*>& sample) override;
  // Both positions through the current camera.
  bool MakeCorrEl(const SharedPtr<FeatureCorrespondence>& corr, CorrEl& out) override {
    return MapTwoViewCorrEl(m_current_camera, corr, out);
  }
  // All three embedded matrices, whatever the last sample gave.
  void Print() const override;
  void InitCameraChanged() override { SetScales(m_init_camera); }
  void CurrentCameraChanged() override { SetScales(m_current_camera); }

  // Row i of the fundamental-matrix system for element e (nine values).
  static void EpipolarRow(const CorrEl& e, double* row);

 private:
  void SetScales(const PerspectiveCamera& camera) {
    for (ParameterSetFMatrix& set : m_sets) set.SetScales(camera);
  }

  ParameterSetFMatrix m_sets[3];
  Matrix m_A, m_M, m_V;  // scratch of CalcParameter
  Vector m_d;
};
