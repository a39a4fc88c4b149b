#include "foundation/camera/radial_distortion.h"

#include <cmath>

namespace {

// Above this, 1 - k x has no real root of d (1 + k d^2) = r (the cubic's
// discriminant bound 31/27 as the double it rounds to).
constexpr double kNoSolutionBound = 1.1481481481481481;
constexpr int kMaxPasses = 40;
constexpr double kTolerance = 1e-8;

// Newton on d (1 + k3 d^2 + k5 d^4) = r, starting from the first-order guess.
double PolyInverse(double x, double k3, double k5) {
  const double r = std::sqrt(x);
  const double c = 1.0 - k3 * x - k5 * x * x;
  if (c >= kNoSolutionBound) return kRadialDistortionFailure;
  double d = (c < 0.5) ? r * 0.5 : c * r;
  for (int pass = 1; pass <= kMaxPasses; ++pass) {
    const double d2 = d * d;
    const double e = d * (1.0 + k3 * d2 + k5 * d2 * d2) - r;
    if (pass == kMaxPasses) return kRadialDistortionFailure;
    d -= e / (1.0 + 3.0 * k3 * d2 + 5.0 * k5 * d2 * d2);
    if (std::fabs(e) <= kTolerance) break;
  }
  return d / r;
}

double TangentBranch(double xs) {
  if (xs < 4e-8) return 1.0 + 8.333333333333332 * xs;
  const double y = 5.0 * std::sqrt(xs);
  if (y > 1.5625) return 77.15;  // tan(y)/y at the cap, just below pi/2
  return std::tan(y) / y;
}

double ArcTangentBranch(double xs) {
  if (xs < 4e-8) return 1.0 - 8.333333333333332 * xs;
  const double y = 5.0 * std::sqrt(xs);
  return std::atan(y) / y;
}

double EquisolidTangentBranch(double xs) {
  if (xs < 4e-8) return 1.0 + 9.375 * xs;
  const double y = 5.0 * std::sqrt(xs);
  if (y > 1.40625) return 63.316;
  return std::tan(2.0 * std::asin(y * 0.5)) / y;
}

double EquisolidSineBranch(double xs) {
  if (xs < 4e-8) return 1.0 - 9.375 * xs;
  const double y = 5.0 * std::sqrt(xs);
  return 2.0 * std::sin(std::atan(y) * 0.5) / y;
}

constexpr RadialDistortionFunction kModels[kNumRadDistTypes] = {Poly3, Poly5, Fisheye,
                                                                FisheyeEquisolid, Poly4};

}  // namespace

double Poly3(double r2, const double* k, bool inverse) {
  if (!inverse) return 1.0 + k[0] * r2;
  if (r2 <= 0.0 || k[0] == 0.0) return 1.0;
  return PolyInverse(r2, k[0], 0.0);
}

double Poly5(double r2, const double* k, bool inverse) {
  if (!inverse) return 1.0 + k[0] * r2 + k[1] * r2 * r2;
  if (r2 <= 0.0) return 1.0;
  return PolyInverse(r2, k[0], k[1]);
}

double Fisheye(double r2, const double* k, bool inverse) {
  const double xs = std::fabs(k[0]) * r2;
  const bool tangent = (k[0] >= 0.0) != inverse;
  return tangent ? TangentBranch(xs) : ArcTangentBranch(xs);
}

double FisheyeEquisolid(double r2, const double* k, bool inverse) {
  const double xs = std::fabs(k[0]) * r2;
  const bool tangent = (k[0] >= 0.0) != inverse;
  return tangent ? EquisolidTangentBranch(xs) : EquisolidSineBranch(xs);
}

double Poly4(double r2, const double* k, bool inverse) {
  const double b = k[0];
  if (b == 0.0 || r2 <= 0.0) return 1.0;
  const double b2 = b * b;
  const double a1 = k[1] / b2;
  const double a2 = k[2] / (b2 * b);
  const double a3 = k[3] / (b2 * b2);
  const double r = std::sqrt(r2);
  if (!inverse) return 1.0 + a1 * r + a2 * r * r + a3 * r * r * r;
  if (r <= kTolerance) return 1.0;
  double s = 0.0;
  for (int pass = 1; pass <= kMaxPasses; ++pass) {
    const double f = s + a1 * s * s + a2 * s * s * s + a3 * s * s * s * s - r;
    if (pass == kMaxPasses) break;
    const double fp = 1.0 + 2.0 * a1 * s + 3.0 * a2 * s * s + 4.0 * a3 * s * s * s;
    if (fp == 0.0) break;
    s -= f / fp;
    if (std::fabs(f) <= kTolerance) break;
  }
  return s / r;
}

RadialDistortionFunction GetRadialDistortionFunction(int id) {
  if (id < 0 || id >= kNumRadDistTypes) return Poly3;
  return kModels[id];
}

int GetRadDistType(RadialDistortionFunction f) {
  for (int i = 0; i < kNumRadDistTypes; ++i) {
    if (kModels[i] == f) return i;
  }
  return -1;
}
