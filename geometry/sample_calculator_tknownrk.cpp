#include "geometry/sample_calculator_tknownrk.h"

#include <cmath>
#include <iostream>

#include "foundation/runtime/notify.h"

namespace {

// One axis of a translation from how the two elements moved along it (from p to r and
// from p2 to r2): both towards lower values makes t positive, both towards higher values
// negative; opposite directions make the hypothesis degenerate.
void SignFromMotion(double p, double r, double p2, double r2, double& t, bool& degenerate) {
  if (r < p && r2 < p2) {
    if (t < 0.0) t = -t;
  } else if (r > p && r2 > p2) {
    if (t > 0.0) t = -t;
  } else if ((r < p && r2 > p2) || (r > p && r2 < p2)) {
    degenerate = true;
  }
}

}  // namespace

double ParameterSetTKnownRK::GetSquaredError(const CorrEl& e) const {
  if (degenerate) return 1e6;
  const double x0 = e.x0, y0 = e.y0, x1 = e.x1, y1 = e.y1;
  const double f2 = f * f;
  const double N = ((y1 * y0 + f2) * tx + ty * y1 * x0) * x1 + tz * f * x1 * x1 -
                   ty * x1 * x1 * y0 - tz * f * x1 * x0 - tx * f2 * x0 - tz * f * y1 * y0 -
                   tx * y1 * y1 * x0 - ty * f2 * y0 + (tz * y1 + ty * f) * f * y1;
  const double D = f2 * x1 * x1 - 2.0 * y1 * x1 * y0 * x0 - 2.0 * f2 * x1 * x0 + f2 * y0 * y0 -
                   2.0 * f2 * y1 * y0 + (x0 * x0 + y1 * y1) * f2 + x1 * x1 * y0 * y0 +
                   y1 * y1 * x0 * x0;
  double px = x0, py = y0;
  // D is 0 only when the element did not move; (x0, y0) then is its own prediction.
  if ((tx != 0.0 || ty != 0.0 || tz != 0.0) && D != 0.0) {
    const double m = -N / D;
    if (!(m < 0.0)) {
      px = f * (m * x0 - tx) / (m * f + tz);
      py = f * (m * y0 - ty) / (m * f + tz);
    }
  }
  const double dy = (py - y1) / sy;
  const double dx = (px - x1) / sx;
  return dy * dy + dx * dx;
}

SharedPtr<ParameterSet> ParameterSetTKnownRK::Clone() const {
  return SharedPtr<ParameterSetTKnownRK>::Make(*this);
}

void ParameterSetTKnownRK::SetRefCamera(const PerspectiveCamera& camera) {
  f = camera.GetFocalLength();
  sx = camera.GetPixelSizeX();
  sy = camera.GetPixelSizeY();
  std::cout << "ParameterSetTKnownRK::SetRefCamera: FocalLength is set to: " << f
            << "mm == " << std::endl;
}

void SampleCalculatorTKnownRK::CalcParameter(const std::vector<CorrEl*>& sample) {
  m_parameter_sets.clear();
  ParameterSetTKnownRK& s1 = m_sets[0];
  s1.degenerate = false;
  if (sample.size() != 2) {
    Notify(2, "o_ParameterSetPTZCamera::CalcParameter: parameter list len should be 2");
    s1.degenerate = true;
    return;
  }
  const double P = sample[0]->x0, Q = sample[0]->y0, R = sample[0]->x1, S = sample[0]->y1;
  const double P2 = sample[1]->x0, Q2 = sample[1]->y0, R2 = sample[1]->x1, S2 = sample[1]->y1;

  // The epipole: the two flow lines meet there (homogeneous cross products).
  const double la[3] = {Q - S, R - P, P * S - Q * R};
  const double lb[3] = {Q2 - S2, R2 - P2, P2 * S2 - Q2 * R2};
  const double ex = la[1] * lb[2] - la[2] * lb[1];
  const double ey = la[2] * lb[0] - la[0] * lb[2];
  const double ew = la[0] * lb[1] - la[1] * lb[0];
  if (ew != 0.0) {
    const double gx = -(ex / ew) / s1.f;
    const double gy = (ey / ew) / s1.f;
    const double n = std::sqrt(1.0 / (gx * gx + gy * gy + 1.0));
    s1.tx = n * gx;
    s1.ty = n * gy;
    s1.tz = n;
    s1.k = n;
  } else {
    // Parallel flow lines: the epipole lies at infinity and the translation in the image
    // plane (the limit of the above, which would give 0 x inf).
    // Both elements on one line, or one that did not move, fix no epipole at all.
    const double len = std::sqrt(ex * ex + ey * ey);
    s1.tx = len > 0.0 ? -ex / len : 0.0;
    s1.ty = len > 0.0 ? ey / len : 0.0;
    s1.tz = 0.0;
    s1.k = 0.0;
    if (len == 0.0) s1.degenerate = true;
  }

  // Signs from the direction the elements moved in.
  SignFromMotion(P, R, P2, R2, s1.tx, s1.degenerate);
  SignFromMotion(Q, S, Q2, S2, s1.ty, s1.degenerate);

  ParameterSetTKnownRK& s2 = m_sets[1];
  s2 = s1;
  s2.tz = -s1.tz;
  s2.k = -s1.k;
  m_parameter_sets.push_back(&s1);
  m_parameter_sets.push_back(&s2);

  // Small motions: signed differences, so a large move in the growing direction still
  // counts as small.
  ParameterSetTKnownRK& s3 = m_sets[2];
  const double dxa = P - R, dxb = P2 - R2, dya = Q - S, dyb = Q2 - S2;
  if (dxa < 0.5 && dxb < 0.5 && dya < 0.5 && dyb < 0.5) {
    s3.tx = s3.ty = s3.tz = 0.0;
    s3.k = 1.0;
    m_parameter_sets.push_back(&s3);
  } else if (dya < 0.5 && dyb < 0.5) {
    s3.tx = (P < R && R2 > P2) ? -1.0 : 1.0;
    s3.ty = s3.tz = 0.0;
    s3.k = 1.0;
    m_parameter_sets.push_back(&s3);
  } else if (dxa < 0.5 && dxb < 0.5) {
    s3.tx = s3.tz = 0.0;
    s3.ty = (S > Q && S2 > Q2) ? -1.0 : 1.0;
    s3.k = 1.0;
    m_parameter_sets.push_back(&s3);
  }
}

void SampleCalculatorTKnownRK::Print() const {
  const ParameterSetTKnownRK& s = m_sets[0];
  std::cout << "SampleCalculatorTKnownRK:" << std::endl
            << "dx " << s.tx << ", dy " << s.ty << ", dz " << s.tz << ", k " << s.k << std::endl;
}
