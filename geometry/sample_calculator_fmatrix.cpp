#include "geometry/sample_calculator_fmatrix.h"

#include <cmath>
#include <iostream>

#include "foundation/numeric/root_solver.h"
#include "foundation/runtime/notify.h"

namespace {

double Det3(const double* r0, const double* r1, const double* r2) {
  return r0[0] * (r1[1] * r2[2] - r1[2] * r2[1]) - r0[1] * (r1[0] * r2[2] - r1[2] * r2[0]) +
         r0[2] * (r1[0] * r2[1] - r1[1] * r2[0]);
}

}  // namespace

bool ParameterSetFMatrix::Offsets(const CorrEl& e, double& dx0, double& dy0, double& dx1,
                                  double& dy1) const {
  const double* f = m_fmatrix.m;
  // Epipolar line of x0 in the second image (F x0') and of x1 in the first (F^T x1').
  const double a1 = f[0] * e.x0 + f[1] * e.y0 + f[2];
  const double b1 = f[3] * e.x0 + f[4] * e.y0 + f[5];
  const double c1 = f[6] * e.x0 + f[7] * e.y0 + f[8];
  const double a0 = f[0] * e.x1 + f[3] * e.y1 + f[6];
  const double b0 = f[1] * e.x1 + f[4] * e.y1 + f[7];
  const double n0 = a0 * a0 + b0 * b0;
  const double n1 = a1 * a1 + b1 * b1;
  // A vanishing line would give inf or NaN; report it as far off instead.
  if (n0 == 0.0 || n1 == 0.0) return false;
  const double eps = e.x1 * a1 + e.y1 * b1 + c1;
  const double s0 = eps / n0;
  const double s1 = eps / n1;
  dx0 = s0 * a0 * m_xscale;
  dy0 = s0 * b0 * m_yscale;
  dx1 = s1 * a1 * m_xscale;
  dy1 = s1 * b1 * m_yscale;
  return true;
}

void SampleCalculatorFMatrix::EpipolarRow(const CorrEl& e, double* row) {
  row[0] = e.x1 * e.x0;
  row[1] = e.x1 * e.y0;
  row[2] = e.x1;
  row[3] = e.y1 * e.x0;
  row[4] = e.y1 * e.y0;
  row[5] = e.y1;
  row[6] = e.x0;
  row[7] = e.y0;
  row[8] = 1.0;
}

void SampleCalculatorFMatrix::CalcParameter(const std::vector<CorrEl*>& sample) {
  m_parameter_sets.clear();
  if (sample.size() != 7) {
    Notify(2, "SampleCalculatorFMatrix::CalcParameter:bad no. of parameters: %d (expect 7)",
           static_cast<int>(sample.size()));
    return;
  }
  m_A.Resize(7, 9);
  for (uint32_t i = 0; i < 7; ++i) EpipolarRow(*sample[i], m_A.Row(i));
  m_M.MultiplyAtB(m_A, m_A);
  if (!m_V.SymmetricEigen(m_d, m_M)) return;

  // The two-dimensional null space: eigenvectors of the two eigenvalues smallest in
  // magnitude.
  uint32_t ia = 0;
  for (uint32_t i = 1; i < 9; ++i)
    if (std::fabs(m_d[i]) < std::fabs(m_d[ia])) ia = i;
  uint32_t ib = ia == 0 ? 1 : 0;
  for (uint32_t i = 0; i < 9; ++i)
    if (i != ia && std::fabs(m_d[i]) < std::fabs(m_d[ib])) ib = i;
  double fb[9], dd[9];
  for (uint32_t k = 0; k < 9; ++k) {
    fb[k] = m_V(k, ib);
    dd[k] = m_V(k, ia) - fb[k];
  }

  // det(Fb + l D) is multilinear in the rows: the coefficient of l^k sums the
  // determinants with k rows taken from D and the others from Fb.
  const double* b[3] = {fb, fb + 3, fb + 6};
  const double* d[3] = {dd, dd + 3, dd + 6};
  const double c3 = Det3(d[0], d[1], d[2]);
  const double c2 = Det3(b[0], d[1], d[2]) + Det3(d[0], b[1], d[2]) + Det3(d[0], d[1], b[2]);
  const double c1 = Det3(d[0], b[1], b[2]) + Det3(b[0], d[1], b[2]) + Det3(b[0], b[1], d[2]);
  const double c0 = Det3(b[0], b[1], b[2]);
  double roots[4];
  const int n = SolveCubic(roots, c3, c2, c1, c0, false);
  for (int i = 0; i < n && i < 3; ++i) {
    // A repeated root (a degenerate cubic or an exact double root) would repeat a set.
    if (i > 0 && roots[i] == roots[i - 1]) continue;
    ParameterSetFMatrix& set = m_sets[m_parameter_sets.size()];
    for (int k = 0; k < 9; ++k) set.m_fmatrix.m[k] = fb[k] + roots[i] * dd[k];
    m_parameter_sets.push_back(&set);
  }
}

void SampleCalculatorFMatrix::Print() const {
  std::cout << "\no_SampleCalculatorFMatrix:" << std::endl;
  for (int i = 0; i < 3; ++i) {
    std::cout << "F-matrix " << i << " : " << std::endl;
    PrintMatrix3x3(m_sets[i].m_fmatrix.m);
    std::cout << std::endl;
  }
}
