#include "foundation/numeric/root_solver.h"

#include <algorithm>
#include <cmath>

namespace {

struct Cubic {
  double a, b, c;
  double f(double x) const { return ((x + a) * x + b) * x + c; }
  double df(double x) const { return (3.0 * x + 2.0 * a) * x + b; }
};

struct Quartic {
  double a, b, c, d;
  double f(double x) const { return (((x + a) * x + b) * x + c) * x + d; }
  double df(double x) const { return ((4.0 * x + 3.0 * a) * x + 2.0 * b) * x + c; }
};

template <class P>
double Polish(const P& p, double x0, bool restart, int limit) {
  const double r0 = p.f(x0);
  double start = x0;
  const bool restarted = restart && std::fabs(r0 * p.df(0.0)) > std::fabs(p.df(x0) * p.f(0.0));
  if (restarted) start = 0.0;
  double x = start;
  double fx = p.f(x);
  const double d0 = p.df(x);
  if (d0 == 0.0) return start;
  double step = fx / d0;
  for (int evaluated = 1;; ++evaluated) {
    const double y = x - step;
    const double dy = p.df(y);
    if (dy == 0.0) break;
    const double fy = p.f(y);
    const double next = fy / dy;
    // The limit-th candidate is never taken.
    if (!(std::fabs(next) < std::fabs(step)) || evaluated >= limit) break;
    x = y;
    fx = fy;
    step = next;
  }
  const double result = std::fabs(fx) < std::fabs(r0) ? x : start;
  if (!restarted) return result;
  // A shorter step from 0 does not mean that 0 lies in a root's basin: the
  // guarded iteration may stop at once and leave 0, or a point near a
  // critical point, which is no root at all. Polish from x0 as well; the
  // restart's result stands unless its own Newton step is large against the
  // distance between the two results (a converged root has a step at the
  // rounding level).
  const double plain = Polish(p, x0, false, limit);
  const double last_step = p.f(result) / p.df(result);
  return std::fabs(last_step) > 1e-3 * std::fabs(result - plain) ? plain : result;
}

// Two roots of x² + p·x + q; a discriminant ≤ 0 gives −p/2 twice.
void QuadraticPair(double* out, double p, double q) {
  SolveQuadraticMonic(out, p, q, true);
}

// Half the negated second derivative of the quartic at s.
double NegHalfCurvature(const Quartic& p, double s) {
  return -(6.0 * s * s + 3.0 * p.a * s + p.b);
}

// √(f / q) for a critical value f and curvature term q of the same sign. A
// degenerate critical point (q = 0, or a sign flipped by rounding) would give
// NaN or infinity; it falls back to the unit offset instead.
double Offset(double f, double q) {
  const double ratio = f / q;
  return (ratio >= 0.0 && std::isfinite(ratio)) ? std::sqrt(ratio) : 1.0;
}

// The two cubic rules differ only in how often a monotonic cubic's triple
// root counts; the quartic takes the rule for its critical points and for
// the cubic it deflates to.
using CubicSolver = int (*)(double*, double, double, double, bool);

// Divides the quartic by (x − r), solves the cubic and inserts r in order.
int DeflateQuartic(double* roots, const Quartic& p, double r, bool forced, CubicSolver cubic_of) {
  const double a2 = p.a + r;
  const double b2 = a2 * r + p.b;
  const double c2 = b2 * r + p.c;
  double cubic[3];
  const int n = cubic_of(cubic, a2, b2, c2, forced);
  int k = 0, j = 0;
  while (j < n && cubic[j] <= r) roots[k++] = cubic[j++];
  roots[k++] = r;
  while (j < n) roots[k++] = cubic[j++];
  return n + 1;
}

}  // namespace

double PolishCubicRoot(double x0, double a, double b, double c, bool restart) {
  return Polish(Cubic{a, b, c}, x0, restart, 60);
}

double PolishQuarticRoot(double x0, double a, double b, double c, double d, bool restart) {
  return Polish(Quartic{a, b, c, d}, x0, restart, 80);
}

int SolveQuadraticMonic(double* roots, double a, double b, bool forced) {
  const double D = a * a - 4.0 * b;
  if (D > 0.0) {
    const double s = std::sqrt(D);
    roots[0] = -(a + s) / 2.0;
    roots[1] = (s - a) / 2.0;
    return 2;
  }
  if (!forced && D != 0.0) return 0;
  roots[0] = roots[1] = -a / 2.0;
  return 2;
}

int SolveCubicMonic(double* roots, double a, double b, double c, bool forced) {
  const Cubic p{a, b, c};
  auto polish = [&](double x0, bool restart) { return PolishCubicRoot(x0, a, b, c, restart); };
  const double E = a * a - 3.0 * b;
  if (E <= 0.0) {
    // Monotonic: at most an inflection point touching zero.
    const double g = -a / 3.0;
    const double fg = p.f(g);
    if (forced || fg == 0.0) {
      roots[0] = roots[1] = roots[2] = g;
      return 3;
    }
    roots[0] = polish(fg > 0.0 ? g - 1.0 : g + 1.0, true);
    return 1;
  }
  const double e = std::sqrt(E);
  const double h = -(a + e) / 3.0;  // local maximum
  const double m = (e - a) / 3.0;   // local minimum
  const double fh = p.f(h), fm = p.f(m);
  if (fh <= 0.0) {
    if (forced || fh == 0.0) {
      roots[0] = roots[1] = h;
      roots[2] = -2.0 * h - a;
      return 3;
    }
    roots[0] = polish(m + e, true);
    return 1;
  }
  if (fm >= 0.0) {
    if (forced || fm == 0.0) {
      roots[0] = -2.0 * m - a;
      roots[1] = roots[2] = m;
      return 3;
    }
    roots[0] = polish(h - e, true);
    return 1;
  }
  // Three roots.
  if (fh < -0.1 * fm) {
    const double t = std::sqrt(fh / (-3.0 * h - a));
    roots[0] = polish(h - t, h > 0.0);
    roots[1] = polish(h + t, h < 0.0 && 0.0 < m);
    roots[2] = polish(-(roots[0] + roots[1] + a), m < 0.0);
    return 3;
  }
  if (0.1 * fh > -fm) {
    const double t = std::sqrt(fm / (-3.0 * m - a));
    roots[1] = polish(m - t, h < 0.0 && 0.0 < m);
    roots[2] = polish(m + t, m < 0.0);
    roots[0] = polish(-(roots[1] + roots[2] + a), h > 0.0);
    return 3;
  }
  const double left = 2.0 * h - m, right = 2.0 * m - h;
  if (std::fabs(right) <= std::fabs(left)) {
    const double r = polish(right, m < 0.0);
    if (SolveQuadraticMonic(roots, a + r, (a + r) * r + b, forced) == 0) {
      roots[0] = r;
      return 1;
    }
    roots[2] = r;
    return 3;
  }
  const double r = polish(left, h > 0.0);
  roots[0] = r;
  return SolveQuadraticMonic(roots + 1, a + r, (a + r) * r + b, forced) == 0 ? 1 : 3;
}

namespace {

int QuarticRoots(CubicSolver cubic_of, double* roots, double a, double b, double c, double d,
                 bool forced) {
  const Quartic p{a, b, c, d};
  auto polish = [&](double x0, bool restart) { return PolishQuarticRoot(x0, a, b, c, d, restart); };
  // Critical points: the roots of f′/4.
  const int nc = cubic_of(roots, 0.75 * a, 0.5 * b, 0.25 * c, false);
  // A single minimum s below zero: one root polished from the side away
  // from the mean of the roots, then the cubic that remains.
  auto from_single_minimum = [&](double s, double fs) {
    const double qs = NegHalfCurvature(p, s);
    const double t = qs < 0.0 ? std::sqrt(fs / qs) : 1.0;
    const double o = s + 0.25 * a;
    const double x0 = o >= 0.0 ? s + std::max(o, t) : s - std::max(-o, t);
    return DeflateQuartic(roots, p, polish(x0, true), forced, cubic_of);
  };
  if (nc == 1) {
    const double s = roots[0];
    const double fs = p.f(s);
    if (fs >= 0.0) {
      if (forced) {
        roots[0] = roots[1] = roots[2] = roots[3] = s;
        return 4;
      }
      if (fs != 0.0) return 0;
      roots[0] = roots[1] = s;
      return 2;
    }
    return from_single_minimum(s, fs);
  }
  if (nc != 3) return 0;

  const double s1 = roots[0], s2 = roots[1], s3 = roots[2];
  const double f1 = p.f(s1), f2 = p.f(s2), f3 = p.f(s3);
  if (f2 > 0.0) {
    if (f1 < 0.0 && -f1 < 0.1 * f2) {
      // The left minimum lies close to zero.
      const double t = Offset(f1, NegHalfCurvature(p, s1));
      roots[0] = polish(s1 - t, s1 > 0.0);
      roots[1] = polish(s1 + t, s1 < 0.0 && 0.0 < s2);
      if (f3 >= 0.0) {
        if (!forced && f3 != 0.0) return 2;
        roots[2] = roots[3] = s3;
        return 4;
      }
      const double pp = a + roots[0] + roots[1];
      const double qq = b - roots[0] * roots[1] + pp * (roots[0] + roots[1]);
      QuadraticPair(roots + 2, pp, qq);
      return 4;
    }
    if (f1 < -10.0 * f2 && f3 < -10.0 * f2) {
      // Both minima deep: two roots close to the maximum.
      const double t = Offset(f2, NegHalfCurvature(p, s2));
      const double r1 = polish(s2 - t, false);
      const double r2 = polish(s2 + t, false);
      const double pp = a + r1 + r2;
      const double qq = b - r1 * r2 + pp * (r1 + r2);
      double outer[2];
      QuadraticPair(outer, pp, qq);
      roots[0] = outer[0];
      roots[1] = r1;
      roots[2] = r2;
      roots[3] = outer[1];
      return 4;
    }
    if (f3 < 0.0 && -f3 < 0.1 * f2) {
      // The right minimum lies close to zero.
      const double t = Offset(f3, NegHalfCurvature(p, s3));
      const double r1 = polish(s3 - t, s2 < 0.0 && 0.0 < s3);
      const double r2 = polish(s3 + t, s3 < 0.0);
      if (f1 >= 0.0) {
        if (!forced && f1 != 0.0) {
          roots[0] = r1;
          roots[1] = r2;
          return 2;
        }
        roots[0] = roots[1] = s1;
      } else {
        const double pp = a + r1 + r2;
        const double qq = b - r1 * r2 + pp * (r1 + r2);
        QuadraticPair(roots, pp, qq);
      }
      roots[2] = r1;
      roots[3] = r2;
      return 4;
    }
  }
  if (f3 <= f1) {
    if ((forced && f1 >= 0.0) || f1 == 0.0) {
      roots[0] = roots[1] = s1;
      QuadraticPair(roots + 2, 2.0 * s1 + a, 3.0 * s1 * s1 + 2.0 * a * s1 + b);
      return 4;
    }
    if (f3 >= 0.0) {
      if (f3 != 0.0) return 0;
      roots[0] = roots[1] = s3;
      return 2;
    }
  } else {
    if ((forced && f3 >= 0.0) || f3 == 0.0) {
      QuadraticPair(roots, 2.0 * s3 + a, 3.0 * s3 * s3 + 2.0 * a * s3 + b);
      roots[2] = roots[3] = s3;
      return 4;
    }
    if (f1 >= 0.0) {
      if (f1 != 0.0) return 0;
      roots[0] = roots[1] = s1;
      return 2;
    }
  }
  // A triple critical point is a single minimum: starting the outer root
  // from 2·s3 − s2 would start on it, where the slope is zero, and the
  // deflation would then divide by a point that is not a root.
  if (s1 == s3) return from_single_minimum(s2, f2);
  // One outer root first, then the cubic that remains. Of two sides that
  // both hold roots the start of smaller magnitude is used; a minimum above
  // zero has no root beside it, so then the other side is the only choice.
  const double right = 2.0 * s3 - s2, left = 2.0 * s1 - s2;
  const bool use_right = f1 >= 0.0 || (f3 < 0.0 && std::fabs(right) <= std::fabs(left));
  const double r = use_right ? polish(right, s3 < 0.0) : polish(left, s1 > 0.0);
  return DeflateQuartic(roots, p, r, forced, cubic_of);
}

// One Newton step per root on k[0]·x^n + … + k[n]. A step that raises the
// residual is not taken: at a reported complex pair's real part, or at a
// double root, the slope may be almost zero and the step huge. Roots that
// close together may swap under a step; the order is then restored.
void NewtonStepEach(double* roots, int count, const double* k, int degree) {
  for (int i = 0; i < count; ++i) {
    const double x = roots[i];
    double f = k[0], df = 0.0;
    for (int j = 1; j <= degree; ++j) {
      df = df * x + f;
      f = f * x + k[j];
    }
    if (df == 0.0) continue;
    const double y = x - f / df;
    double fy = k[0];
    for (int j = 1; j <= degree; ++j) fy = fy * y + k[j];
    if (std::fabs(fy) <= std::fabs(f)) roots[i] = y;
  }
  std::sort(roots, roots + count);
}

}  // namespace

int SolveQuarticMonic(double* roots, double a, double b, double c, double d, bool forced) {
  return QuarticRoots(SolveCubicMonic, roots, a, b, c, d, forced);
}

int SolveMonicQuadratic(double* out, double a, double b, bool keep_complex) {
  return SolveQuadraticMonic(out, a, b, keep_complex);
}

int SolveQuadratic(double* out, double a, double b, double c, bool keep_complex) {
  if (a == 0.0) {
    if (b == 0.0) return 0;
    out[0] = out[1] = -c / b;
    return 2;
  }
  const int n = SolveMonicQuadratic(out, b / a, c / a, keep_complex);
  const double k[] = {a, b, c};
  NewtonStepEach(out, n, k, 2);
  return n;
}

int SolveMonicCubic(double* out, double a, double b, double c, bool keep_complex) {
  const int n = SolveCubicMonic(out, a, b, c, keep_complex);
  // Without two critical points there is one real root; an inflection point
  // that touches zero is that root, reported once.
  if (!keep_complex && n == 3 && a * a - 3.0 * b <= 0.0) return 1;
  return n;
}

int SolveCubic(double* out, double a, double b, double c, double d, bool keep_complex) {
  if (a == 0.0) return SolveQuadratic(out, b, c, d, false);
  const int n = SolveMonicCubic(out, b / a, c / a, d / a, keep_complex);
  const double k[] = {a, b, c, d};
  NewtonStepEach(out, n, k, 3);
  return n;
}

int SolveMonicQuartic(double* out, double a, double b, double c, double d, bool keep_complex) {
  return QuarticRoots(SolveMonicCubic, out, a, b, c, d, keep_complex);
}

int SolveQuartic(double* out, double a, double b, double c, double d, double e, bool keep_complex) {
  if (a == 0.0) return SolveCubic(out, b, c, d, e, keep_complex);
  const int n = SolveMonicQuartic(out, b / a, c / a, d / a, e / a, keep_complex);
  const double k[] = {a, b, c, d, e};
  NewtonStepEach(out, n, k, 4);
  return n;
}
