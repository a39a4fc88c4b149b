#pragma once

// The four-point homography: a minimal solver for the random sampler and its hypothesis.
//
// Elements are in mm on the sensor about the principal point of the init camera, lens
// distortion removed (MapTwoViewCorrEl). The hypothesis H maps the first position to the
// second, x1 ~ H x0; its residuals are in pixels through the reference camera's scales.

#include <cstdint>
#include <vector>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"

#include "geometry/fmatrix.h"
#include "geometry/parameter_set.h"
#include "geometry/sample_calculator.h"

class ParameterSetHMatrix : public PairOffsetParameterSet<ParameterSetHMatrix> {
 public:
  // Squared symmetric transfer error in pixels^2: (ex0^2 + ey0^2 + ex1^2 + ey1^2) / 4,
  // with e1 the offset of x1 from H x0 and e0 that of x0 from G x1. 1e38, with a level-2
  // line on every call, when the inverse was never computed or a point maps to infinity.
  // The weighted residual weighs the same offsets with the features' inverse covariances.
  double SquareDistanceGeometricLeftandRight(const CorrEl& element) const {
    return GetSquaredError(element);
  }
  // G = H^-1 (the identity for an exactly singular H); the inverse becomes valid.
  void ComputeInverse();
  // H = (h0, h1, h2; h3, h4, h5; h6, h7, 1) from the eight unknowns of the system.
  void SetFromSolution(const Vector& h);
  // The transfer offsets in pixels; false (message logged) under the guards.
  bool Offsets(const CorrEl& e, double& ex0, double& ey0, double& ex1, double& ey1) const;

  HMatrix2D m_hmatrix;                          // only its matrix is used
  double m_G[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // row-major H^-1
  bool m_inverse_valid = false;
};

// Sample size 4, threshold factor 9.21; always one hypothesis for a sample of four.
class SampleCalculatorHMatrix : public SampleCalculator {
 public:
  int GetSampleSize() const override { return 4; }
  double GetThresholdFactor() const override { return 9.21; }
  // The 8x8 system with h33 = 1, two rows per element; a singular system (a zero pivot)
  // gives the identity.
  void CalcParameter(const std::vector<CorrEl*>& sample) override;
  // Both positions through the init camera.
  bool MakeCorrEl(const SharedPtr<FeatureCorrespondence>& corr, CorrEl& out) override {
    return MapTwoViewCorrEl(m_init_camera, corr, out);
  }
  void Print() const override;
  void InitCameraChanged() override { m_set.SetScales(m_init_camera); }

  // Rows 2i and 2i + 1 of the system A h = b, h = (h11, h12, h13, h21, h22, h23, h31,
  // h32), h33 = 1, for element e: (x0, y0, 1, 0, 0, 0, -x1 x0, -x1 y0 | x1) and
  // (0, 0, 0, x0, y0, 1, -y1 x0, -y1 y0 | y1). Also the least-squares homography of
  // guided matching.
  static void HomographyRows(const CorrEl& e, uint32_t i, Matrix& A, Vector& b);

 private:
  ParameterSetHMatrix m_set;
  Matrix m_A;  // scratch of CalcParameter
  Vector m_b, m_h;
};
