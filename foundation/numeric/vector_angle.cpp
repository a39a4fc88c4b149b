#include "foundation/numeric/vector_angle.h"

#include <algorithm>
#include <cmath>

#include "foundation/runtime/notify.h"

double VectorAngle(const double* a, const double* b, int n) {
  // Sums over pairs of elements in two accumulators; an odd last element
  // is added at the end.
  double d0 = 0.0, d1 = 0.0, p0 = 0.0, p1 = 0.0, q0 = 0.0, q1 = 0.0;
  int i = 0;
  for (; i + 1 < n; i += 2) {
    d0 += a[i] * b[i];
    d1 += a[i + 1] * b[i + 1];
    p0 += a[i] * a[i];
    p1 += a[i + 1] * a[i + 1];
    q0 += b[i] * b[i];
    q1 += b[i + 1] * b[i + 1];
  }
  double d = d0 + d1, pa = p0 + p1, pb = q0 + q1;
  if (i < n) {
    d += a[i] * b[i];
    pa += a[i] * a[i];
    pb += b[i] * b[i];
  }
  const double p = pa * pb;
  if (p == 0.0) {
    Notify(2, "VectorAngle: vector(s) with zero length");
    return 0.0;
  }
  return std::acos(std::clamp(d / std::sqrt(p), -1.0, 1.0));
}
