#pragma once

// Scalar helpers shared by the matrix decompositions (singular values, symmetric
// eigenvalues).

#include <cmath>

namespace numeric {

// √(a² + b²) without overflow.
inline double Pythag(double a, double b) {
  double absa = std::fabs(a), absb = std::fabs(b);
  if (absa > absb) {
    double t = absb / absa;
    return absa * std::sqrt(1.0 + t * t);
  }
  if (absb == 0.0) return 0.0;
  double t = absa / absb;
  return absb * std::sqrt(1.0 + t * t);
}

// |a| with the sign of b (b ≥ 0 gives +).
inline double Sign(double a, double b) {
  return b >= 0.0 ? std::fabs(a) : -std::fabs(a);
}

}  // namespace numeric
