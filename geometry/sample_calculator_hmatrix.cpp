#include "geometry/sample_calculator_hmatrix.h"

#include <iostream>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/notify.h"

namespace {

const char kNoInverse[] =
    "ParameterSetHMatrix::SquareDistanceGeometricLeftandRight: inverse H-Matrix not calculated!";
const char kZeroDenominator[] =
    "ParameterSetHMatrix::SquareDistanceGeometricLeftandRight: denominator == 0.0 , returning "
    "large distance!";

}  // namespace

bool ParameterSetHMatrix::Offsets(const CorrEl& e, double& ex0, double& ey0, double& ex1,
                                  double& ey1) const {
  if (!m_inverse_valid) {
    Notify(2, "%s", kNoInverse);
    return false;
  }
  const double* h = m_hmatrix.m;
  const double* g = m_G;
  const double w1 = h[6] * e.x0 + h[7] * e.y0 + h[8];
  const double w0 = g[6] * e.x1 + g[7] * e.y1 + g[8];
  if (w1 == 0.0 || w0 == 0.0) {
    Notify(2, "%s", kZeroDenominator);
    return false;
  }
  ex0 = (e.x0 - (g[0] * e.x1 + g[1] * e.y1 + g[2]) / w0) * m_xscale;
  ey0 = (e.y0 - (g[3] * e.x1 + g[4] * e.y1 + g[5]) / w0) * m_yscale;
  ex1 = (e.x1 - (h[0] * e.x0 + h[1] * e.y0 + h[2]) / w1) * m_xscale;
  ey1 = (e.y1 - (h[3] * e.x0 + h[4] * e.y0 + h[5]) / w1) * m_yscale;
  return true;
}

void ParameterSetHMatrix::ComputeInverse() {
  Matrix3x3 h, g;
  for (int i = 0; i < 9; ++i) h.m[i] = m_hmatrix.m[i];
  g.Invert(h);  // the identity for an exactly singular H
  for (int i = 0; i < 9; ++i) m_G[i] = g.m[i];
  m_inverse_valid = true;
}

void ParameterSetHMatrix::SetFromSolution(const Vector& h) {
  for (int i = 0; i < 8; ++i) m_hmatrix.m[i] = h[i];
  m_hmatrix.m[8] = 1.0;
}

void SampleCalculatorHMatrix::HomographyRows(const CorrEl& e, uint32_t i, Matrix& A, Vector& b) {
  double* r0 = A.Row(2 * i);
  double* r1 = A.Row(2 * i + 1);
  const double row0[8] = {e.x0, e.y0, 1.0, 0.0, 0.0, 0.0, -e.x1 * e.x0, -e.x1 * e.y0};
  const double row1[8] = {0.0, 0.0, 0.0, e.x0, e.y0, 1.0, -e.y1 * e.x0, -e.y1 * e.y0};
  for (int c = 0; c < 8; ++c) {
    r0[c] = row0[c];
    r1[c] = row1[c];
  }
  b[2 * i] = e.x1;
  b[2 * i + 1] = e.y1;
}

void SampleCalculatorHMatrix::CalcParameter(const std::vector<CorrEl*>& sample) {
  m_parameter_sets.clear();
  if (sample.size() != 4) {
    Notify(2, "SampleCalculatorHMatrix::CalcParameter:bad no. of parameters: %d (expect 4)",
           static_cast<int>(sample.size()));
    return;
  }
  m_A.Resize(8, 8);
  m_b.Resize(8);
  for (uint32_t i = 0; i < 4; ++i) HomographyRows(*sample[i], i, m_A, m_b);
  m_h.Resize(8);
  if (m_h.Solve(m_A, m_b)) {
    m_set.SetFromSolution(m_h);
  } else {
    Matrix3x3 identity;
    identity.SetIdentity();
    for (int i = 0; i < 9; ++i) m_set.m_hmatrix.m[i] = identity.m[i];
  }
  m_set.ComputeInverse();
  m_parameter_sets.push_back(&m_set);
}

void SampleCalculatorHMatrix::Print() const {
  std::cout << "\no_SampleCalculatorHMatrix::Print \n";
  PrintMatrix3x3(m_set.m_hmatrix.m);
}
