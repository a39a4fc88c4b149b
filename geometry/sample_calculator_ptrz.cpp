#include "geometry/sample_calculator_ptrz.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>

#include "foundation/numeric/root_solver.h"

namespace {

constexpr double kDegree = 57.29577951308232;

// True when n / d overflows: |n| > |d| and |d / n| < 1e-38.
bool Overflows(double n, double d) {
  return std::abs(n) > std::abs(d) && std::abs(d / n) < 1e-38;
}

double Det3(const double m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
         m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

}  // namespace

SampleCalculatorPTRZ::SampleCalculatorPTRZ()
    : m_parameter(15, 1e-6, 1000.0, 6.283185307179586, 3, 4, 5) {}

void SampleCalculatorPTRZ::ZoomQuadratic(double F, const double* p0, const double* p1,
                                         const double* q0, const double* q1, double coeffs[3]) {
  // Each sample i gives, for a small rotation w of its predicted ray (x, y, F) and a new
  // focal length L F, two equations linear in w (X, Y its target):
  //   X y wx - (X x + L F^2) wy + L F y wz = F (L x - X)
  //   (Y y + L F^2) wx - Y x wy - L F x wz = F (L y - Y)
  // The determinant of the 4x4 augmented system of both samples is F^4 L^2 q(L) with
  //   q(L) = F^2 |d|^2 L^2
  //          - ((F^2 + p0.p1) (Q.d) + k (S x d)) L
  //          + (q0.d)(q1.d) - k (q0 x q1) + k (k (q0.q1) - (q0 x q1)(p0.p1)) / F^2,
  // d = p0 - p1, Q = q0 - q1, S = q0 + q1, k = p0 x p1, a x b = a.x b.y - a.y b.x.
  const double dx = p0[0] - p1[0], dy = p0[1] - p1[1];
  const double k = p0[0] * p1[1] - p1[0] * p0[1];
  const double pp = p0[0] * p1[0] + p0[1] * p1[1];
  const double qd = (q0[0] - q1[0]) * dx + (q0[1] - q1[1]) * dy;
  const double sd = (q0[0] + q1[0]) * dy - (q0[1] + q1[1]) * dx;
  const double q0d = q0[0] * dx + q0[1] * dy, q1d = q1[0] * dx + q1[1] * dy;
  const double qq = q0[0] * q1[0] + q0[1] * q1[1];
  const double qx = q0[0] * q1[1] - q1[0] * q0[1];
  const double F2 = F * F;
  coeffs[0] = F2 * (dx * dx + dy * dy);
  coeffs[1] = -(F2 + pp) * qd - k * sd;
  coeffs[2] = q0d * q1d - k * qx + k * (k * qq - qx * pp) / F2;
}

double SampleCalculatorPTRZ::Residual(const double* predictions, const CorrEl& e0,
                                      const CorrEl& e1) const {
  const double sx = m_current_camera.GetPixelSizeX(), sy = m_current_camera.GetPixelSizeY();
  const double a = (e0.x1 - predictions[0]) / sx, b = (e0.y1 - predictions[1]) / sy;
  const double c = (e1.x1 - predictions[2]) / sx, d = (e1.y1 - predictions[3]) / sy;
  return std::sqrt(0.5 * (a * a + b * b + c * c + d * d));
}

void SampleCalculatorPTRZ::CalcParameter(const std::vector<CorrEl*>& sample) {
  m_parameter_sets.clear();
  m_solutions.clear();
  if (sample.size() != 2) {
    std::fprintf(stderr,
                 "o_ParameterSetPTZCamera::CalcParameter: parameter list len should be 2\n");
    return;
  }
  SearchSolutions(*sample[0], *sample[1]);
  for (ParameterSetPTRZ& solution : m_solutions) m_parameter_sets.push_back(&solution);
}

void SampleCalculatorPTRZ::SearchSolutions(const CorrEl& e0, const CorrEl& e1) {
  const Parameter& par = m_parameter;
  // Ordered by residual; a multimap keeps insertion order among equal residuals, so the
  // search (and the sampler around it) repeats exactly.
  std::multimap<double, Node> open;
  {
    Node start{{e0.x0, e0.y0, e1.x0, e1.y0}, ParameterSetPTRZ(m_current_camera), 0.0, 1e38, 1, 0};
    start.residual = Residual(start.predictions, e0, e1);
    open.emplace(start.residual, std::move(start));
  }
  const double targets[4] = {e0.x1, e0.y1, e1.x1, e1.y1};
  while (!open.empty()) {
    Node n = std::move(open.begin()->second);
    open.erase(open.begin());

    bool known = false;
    for (const ParameterSetPTRZ& s : m_solutions)
      known = known || s.IsSimilar(n.hypothesis, 0.01, 0.01);
    if (known) continue;
    if (n.residual < par.m_accept_residual) {
      m_solutions.push_back(n.hypothesis);
      if (static_cast<int>(m_solutions.size()) >= par.m_max_solutions) open.clear();
      continue;
    }
    if (n.steps >= par.m_max_steps) continue;
    n.bad_steps = n.residual >= n.previous_residual ? n.bad_steps + 1 : 0;
    if (n.bad_steps >= par.m_max_bad_steps) continue;

    // Expansion.
    const double F = n.hypothesis.m_zoom * n.hypothesis.m_ref_camera.GetFocalLength();
    double coeffs[3];
    ZoomQuadratic(F, n.predictions, n.predictions + 2, targets, targets + 2, coeffs);
    double roots[4];
    const int found = SolveQuadratic(roots, coeffs[0], coeffs[1], coeffs[2], false);
    double kept[2];
    int num_kept = 0;
    for (int i = 0; i < found && num_kept < 2; ++i) {
      const double l = roots[i];
      if (l > 0.0 && l >= 1.0 / par.m_max_zoom_step && l <= par.m_max_zoom_step)
        kept[num_kept++] = l;
    }
    if (num_kept == 2) {
      auto nearness = [](double l) { return 1.0 - std::min(l, 1.0 / l); };
      if (nearness(kept[1]) < nearness(kept[0])) std::swap(kept[0], kept[1]);
      if (n.steps >= par.m_single_root_step) num_kept = 1;
    }
    for (int r = 0; r < num_kept; ++r) {
      const double L = kept[r];
      // The first three equations: X and Y of sample 0, X of sample 1.
      double m[3][3], rhs[3];
      for (int i = 0; i < 2; ++i) {
        const double x = n.predictions[2 * i], y = n.predictions[2 * i + 1];
        const double X = targets[2 * i], Y = targets[2 * i + 1];
        const int row = 2 * i;
        m[row][0] = X * y;
        m[row][1] = -(X * x + L * F * F);
        m[row][2] = L * F * y;
        rhs[row] = F * (L * x - X);
        if (row + 1 < 3) {
          m[row + 1][0] = Y * y + L * F * F;
          m[row + 1][1] = -Y * x;
          m[row + 1][2] = -L * F * x;
          rhs[row + 1] = F * (L * y - Y);
        }
      }
      const double det = Det3(m);
      double w[3];
      bool solvable = true;
      for (int c = 0; c < 3 && solvable; ++c) {
        double mc[3][3];
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j) mc[i][j] = j == c ? rhs[i] : m[i][j];
        const double numerator = Det3(mc);
        if (Overflows(numerator, det))
          solvable = false;
        else
          w[c] = numerator / det;
      }
      if (!solvable) continue;
      const double pan = -w[1], tilt = -w[0], roll = -w[2];
      const double limit = par.m_max_angle_step;
      if (std::abs(pan) > limit || std::abs(tilt) > limit || std::abs(roll) > limit) continue;

      Node child = n;
      child.hypothesis.SetPTRZ(pan, tilt, roll, L);
      if (!child.hypothesis.MapPoint(e0.x0, e0.y0, child.predictions[0], child.predictions[1]) ||
          !child.hypothesis.MapPoint(e1.x0, e1.y0, child.predictions[2], child.predictions[3]))
        continue;
      child.previous_residual = n.residual;
      child.residual = Residual(child.predictions, e0, e1);
      child.steps = n.steps + 1;
      open.emplace(child.residual, std::move(child));
    }
  }
}

bool SampleCalculatorPTRZ::MakeCorrEl(const SharedPtr<FeatureCorrespondence>& corr, CorrEl& out) {
  if (!corr || !corr->GetFirst() || !corr->GetSecond()) return false;
  CorrElFromCorrespondenceIcsCp builder(m_current_camera);
  return builder(corr, out);
}

void SampleCalculatorPTRZ::Print() const {
  std::cout << "SampleCalculatorPTRZ: ";
  for (size_t i = 0; i < m_solutions.size(); ++i) {
    double pan = 0, tilt = 0, roll = 0, zoom = 0;
    m_solutions[i].GetPTRZ(&pan, &tilt, &roll, &zoom);
    std::cout << i << ": "
              << "\tpan[deg] = " << pan * kDegree << "\ttilt[deg] = " << tilt * kDegree
              << "\troll[deg] = " << roll * kDegree << "\tzoom = " << zoom << std::endl;
  }
}
