#include "foundation/numeric/root_solver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

struct Case {
  const char* name;
  std::vector<double> coef;  // below the leading 1, highest power first
  bool forced;
  std::vector<double> want;
  double tol;
};

int Solve(double* roots, const std::vector<double>& k, bool forced) {
  switch (k.size()) {
    case 2:
      return SolveQuadraticMonic(roots, k[0], k[1], forced);
    case 3:
      return SolveCubicMonic(roots, k[0], k[1], k[2], forced);
    default:
      return SolveQuarticMonic(roots, k[0], k[1], k[2], k[3], forced);
  }
}

TEST(RootSolver, TableOfPolynomials) {
  const Case cases[] = {
      {"x²−3x+2", {-3, 2}, false, {1, 2}, 0},
      {"x²+1", {0, 1}, false, {}, 0},
      {"x²+1 forced", {0, 1}, true, {0, 0}, 0},
      {"x²−2x+1", {-2, 1}, false, {1, 1}, 0},
      {"(x−1)(x−2)(x−3)", {-6, 11, -6}, false, {1, 2, 3}, 1e-15},
      {"(x−1)³", {-3, 3, -1}, false, {1, 1, 1}, 0},
      {"x³−x", {0, -1, 0}, false, {-1, 0, 1}, 0},
      {"x³+x", {0, 1, 0}, false, {0, 0, 0}, 0},
      {"x³+x+1", {0, 1, 1}, false, {-0.6823278038280193}, 1e-15},
      {"x³+x+1 forced", {0, 1, 1}, true, {0, 0, 0}, 0},
      {"(x−1)²(x+2)", {0, -3, 2}, false, {-2, 1, 1}, 1e-15},
      {"(x+1)²(x−2)", {0, -3, -2}, false, {-1, -1, 2}, 1e-15},
      {"x(x−1e-3)(x−1)", {-1.001, 0.001, 0}, false, {0, 1e-3, 1}, 1e-15},
      {"x³ with a far root", {-1000.5, 500, 0}, false, {0, 0.5, 1000}, 1e-12},
      {"(x−1)(x−2)(x−3)(x−4)", {-10, 35, -50, 24}, false, {1, 2, 3, 4}, 1e-14},
      {"x⁴+1", {0, 0, 0, 1}, false, {}, 0},
      {"x⁴+1 forced", {0, 0, 0, 1}, true, {0, 0, 0, 0}, 0},
      {"x⁴−1", {0, 0, 0, -1}, false, {-1, 1}, 1e-15},
      {"x⁴", {0, 0, 0, 0}, false, {0, 0, 0, 0}, 0},
      {"(x²−1)²", {0, -2, 0, 1}, false, {-1, -1, 1, 1}, 1e-7},
      {"(x²+1)(x−1)(x−3)", {-4, 4, -4, 3}, false, {1, 3}, 1e-14},
      {"(x−0.1)(x−0.2)(x−5)(x−6)", {-11.3, 33.32, -9.22, 0.6}, false, {0.1, 0.2, 5, 6}, 1e-12},
      {"(x+6)(x+5)(x+0.2)(x+0.1)", {11.3, 33.32, 9.22, 0.6}, false, {-6, -5, -0.2, -0.1}, 1e-12},
      {"(x−1)(x−1.01)(x+9)(x+10)", {16.99, 52.82, -161.71, 90.9}, false, {-10, -9, 1, 1.01}, 1e-10},
  };
  for (const Case& c : cases) {
    double roots[4] = {NAN, NAN, NAN, NAN};
    const int n = Solve(roots, c.coef, c.forced);
    ASSERT_EQ(n, static_cast<int>(c.want.size())) << c.name;
    for (int i = 0; i < n; ++i) EXPECT_NEAR(roots[i], c.want[i], c.tol) << c.name << " root " << i;
  }
}

TEST(RootSolver, PolishRules) {
  // An exact root is returned unchanged.
  EXPECT_EQ(PolishCubicRoot(2.0, -6, 11, -6, false), 2.0);
  EXPECT_EQ(PolishQuarticRoot(3.0, -10, 35, -50, 24, true), 3.0);
  // f′(start) = 0 returns the start: x³ − 3x + 1 at x = 1.
  EXPECT_EQ(PolishCubicRoot(1.0, 0, -3, 1, false), 1.0);
  // x³ + x − 0.001 from 50: with restart the iteration starts at 0 and is
  // already close; without it Newton walks down from 50.
  const double small = 0.000999999000003;
  EXPECT_NEAR(PolishCubicRoot(50.0, 0, 1, -0.001, true), small, 1e-17);
  EXPECT_NEAR(PolishCubicRoot(50.0, 0, 1, -0.001, false), small, 1e-17);
  // A start whose first step does not shrink is returned as it is.
  EXPECT_EQ(PolishCubicRoot(0.0, 0, -1, 5, false), 0.0);
  // A converging polish is accurate to rounding.
  const double r = PolishCubicRoot(1.3, 0, -2, 0, false);
  EXPECT_NEAR(r, std::sqrt(2.0), 1e-15);
  // NaN input ends without looping and falls back to the start.
  EXPECT_EQ(PolishQuarticRoot(1.0, NAN, 0, 0, 0, false), 1.0);
  // A restart that does not beat the residual at the start polishes from the
  // start instead of returning 0: (x + 4.6)(x² + 2x + 5) from −3.5.
  const double k = 4.6;
  const double root = PolishCubicRoot(-3.5, 2 + k, 5 + 2 * k, 5 * k, true);
  EXPECT_NEAR(root, -k, 1e-14);
}

// Roots of random polynomials built from known real roots, with and without
// a complex pair.
TEST(RootSolver, RandomPolynomialsFromKnownRoots) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  auto spread = [](std::vector<double> r) {
    std::sort(r.begin(), r.end());
    for (size_t i = 1; i < r.size(); ++i)
      if (r[i] - r[i - 1] < 0.05) return false;
    return true;
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<double> r = {u(rng), u(rng), u(rng), u(rng)};
    if (!spread(r)) continue;
    // Cubic with three roots.
    {
      std::vector<double> w(r.begin(), r.begin() + 3);
      std::sort(w.begin(), w.end());
      const double a = -(w[0] + w[1] + w[2]);
      const double b = w[0] * w[1] + w[0] * w[2] + w[1] * w[2];
      const double c = -w[0] * w[1] * w[2];
      double roots[3];
      ASSERT_EQ(SolveCubicMonic(roots, a, b, c, false), 3);
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(roots[i], w[i], 1e-9);
      // One real root and a complex pair (x − r)(x² + 2x + 5).
      const double x = r[3];
      ASSERT_EQ(SolveCubicMonic(roots, 2 - x, 5 - 2 * x, -5 * x, false), 1);
      EXPECT_NEAR(roots[0], x, 1e-9);
    }
    // Quartic with four roots.
    {
      std::sort(r.begin(), r.end());
      const double a = -(r[0] + r[1] + r[2] + r[3]);
      const double b =
          r[0] * r[1] + r[0] * r[2] + r[0] * r[3] + r[1] * r[2] + r[1] * r[3] + r[2] * r[3];
      const double c =
          -(r[0] * r[1] * r[2] + r[0] * r[1] * r[3] + r[0] * r[2] * r[3] + r[1] * r[2] * r[3]);
      const double d = r[0] * r[1] * r[2] * r[3];
      double roots[4];
      ASSERT_EQ(SolveQuarticMonic(roots, a, b, c, d, false), 4);
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(roots[i], r[i], 1e-8);
      // Two real roots and a complex pair (x − r0)(x − r3)(x² − x + 3).
      const double s = r[0] + r[3], p = r[0] * r[3];
      // (x² − s x + p)(x² − x + 3)
      const double qa = -s - 1, qb = 3 + s + p, qc = -3 * s - p, qd = 3 * p;
      ASSERT_EQ(SolveQuarticMonic(roots, qa, qb, qc, qd, false), 2);
      EXPECT_NEAR(roots[0], r[0], 1e-8);
      EXPECT_NEAR(roots[1], r[3], 1e-8);
    }
  }
}

// Whatever the coefficients, every reported root is ascending and (nearly)
// annuls the polynomial.
TEST(RootSolver, RandomCoefficientsGiveAscendingRootsWithSmallResiduals) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-10.0, 10.0);
  for (int round = 0; round < 2000; ++round) {
    const double a = u(rng), b = u(rng), c = u(rng), d = u(rng);
    double roots[4];
    const int n3 = SolveCubicMonic(roots, a, b, c, false);
    ASSERT_TRUE(n3 == 1 || n3 == 3);
    for (int i = 0; i < n3; ++i) {
      const double x = roots[i];
      const double scale =
          std::fabs(x * x * x) + std::fabs(a * x * x) + std::fabs(b * x) + std::fabs(c);
      EXPECT_LE(std::fabs(((x + a) * x + b) * x + c), 1e-12 * scale) << a << " " << b << " " << c;
      if (i > 0) {
        EXPECT_LE(roots[i - 1], roots[i]);
      }
    }
    const int n4 = SolveQuarticMonic(roots, a, b, c, d, false);
    ASSERT_TRUE(n4 == 0 || n4 == 2 || n4 == 4);
    for (int i = 0; i < n4; ++i) {
      const double x = roots[i];
      const double scale = x * x * x * x + std::fabs(a * x * x * x) + std::fabs(b * x * x) +
                           std::fabs(c * x) + std::fabs(d);
      EXPECT_LE(std::fabs((((x + a) * x + b) * x + c) * x + d), 1e-11 * scale)
          << a << " " << b << " " << c << " " << d;
      if (i > 0) {
        EXPECT_LE(roots[i - 1], roots[i]);
      }
    }
  }
}

// General forms: lead · Π(x − r) for known real roots, solved with the
// flag clear and with it set.
std::vector<double> Expand(double lead, const std::vector<double>& roots) {
  std::vector<double> k = {lead};
  for (double r : roots) {
    k.push_back(0.0);
    for (size_t i = k.size() - 1; i > 0; --i) k[i] -= r * k[i - 1];
  }
  return k;
}

int SolveGeneral(double* out, const std::vector<double>& k, bool keep_complex) {
  switch (k.size()) {
    case 3:
      return SolveQuadratic(out, k[0], k[1], k[2], keep_complex);
    case 4:
      return SolveCubic(out, k[0], k[1], k[2], k[3], keep_complex);
    default:
      return SolveQuartic(out, k[0], k[1], k[2], k[3], k[4], keep_complex);
  }
}

struct KnownRoots {
  const char* name;
  double lead;
  std::vector<double> roots;  // ascending
};

TEST(PolynomialRoots, GeneralFormsFindKnownRoots) {
  const KnownRoots cases[] = {
      {"quadratic", 3.0, {-2.5, 7.0}},
      {"quadratic, double root", 2.0, {1.5, 1.5}},
      {"quadratic, widely spread", -0.7, {1e-4, 1e4}},
      {"cubic 1, 2, 3", 1.0, {1, 2, 3}},
      {"cubic, scaled", 3.7, {-4.25, 0.5, 6.0}},
      {"cubic, small lead", 1e-6, {-1.0, 0.25, 2.0}},
      {"cubic, double root left", 2.0, {1, 1, 3}},
      {"cubic, double root right", 0.5, {-3, 2, 2}},
      {"cubic, clustered", 1.0, {1.0, 1.001, 1.002}},
      {"cubic, widely spread", 5.0, {-1e3, 1e-3, 1e2}},
      {"quartic 1, 2, 3, 4", 1.0, {1, 2, 3, 4}},
      {"quartic, scaled", -2.3, {-3.5, -0.125, 0.75, 8.0}},
      {"quartic, two double roots", 4.0, {-1, -1, 2, 2}},
      {"quartic, double root and two", 0.25, {-2, -2, 1, 5}},
      {"quartic, clustered pair", 1.5, {-3.0, 0.999, 1.001, 4.0}},
      {"quartic, widely spread", 2.0, {-1e3, -0.01, 1.0, 1e2}},
  };
  for (const KnownRoots& c : cases) {
    for (bool keep : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (keep ? ", keep complex" : ""));
      double out[4] = {NAN, NAN, NAN, NAN};
      const int n = SolveGeneral(out, Expand(c.lead, c.roots), keep);
      ASSERT_EQ(n, static_cast<int>(c.roots.size()));
      for (int i = 0; i < n; ++i)
        EXPECT_NEAR(out[i], c.roots[i], 1e-9 * std::max(1.0, std::fabs(c.roots[i]))) << i;
    }
  }
}

TEST(PolynomialRoots, TripleRootCountsOnlyWithKeepComplex) {
  for (const double lead : {1.0, 4.0, 0.125}) {
    SCOPED_TRACE(lead);
    const std::vector<double> k = Expand(lead, {2, 2, 2});
    double out[4];
    ASSERT_EQ(SolveCubic(out, k[0], k[1], k[2], k[3], false), 1);
    EXPECT_EQ(out[0], 2.0);
    ASSERT_EQ(SolveCubic(out, k[0], k[1], k[2], k[3], true), 3);
    EXPECT_EQ(out[0], 2.0);
    EXPECT_EQ(out[2], 2.0);
  }
}

// The two families share one algorithm; their edge rules differ only where
// a monotonic cubic touches zero at its inflection point, which includes a
// quartic's critical points and its deflated cubic.
struct EdgeCase {
  const char* name;
  std::vector<double> coef;  // monic, below the leading 1
  bool flag;
  std::vector<double> forced_family;
  std::vector<double> keep_complex_family;
};

int SolveKeepComplexFamily(double* out, const std::vector<double>& k, bool keep) {
  switch (k.size()) {
    case 2:
      return SolveMonicQuadratic(out, k[0], k[1], keep);
    case 3:
      return SolveMonicCubic(out, k[0], k[1], k[2], keep);
    default:
      return SolveMonicQuartic(out, k[0], k[1], k[2], k[3], keep);
  }
}

TEST(PolynomialRoots, EdgeRulesOfBothFamilies) {
  const EdgeCase cases[] = {
      {"x²+1", {0, 1}, false, {}, {}},
      {"x²+1 flag", {0, 1}, true, {0, 0}, {0, 0}},
      {"x²−2x+1", {-2, 1}, false, {1, 1}, {1, 1}},
      {"(x−1)²(x−3) flag", {-5, 7, -3}, true, {1, 1, 3}, {1, 1, 3}},
      {"(x−1)²(x−3)", {-5, 7, -3}, false, {1, 1, 3}, {1, 1, 3}},
      {"x³+x+1 flag", {0, 1, 1}, true, {0, 0, 0}, {0, 0, 0}},
      {"(x−2)³", {-6, 12, -8}, false, {2, 2, 2}, {2}},
      {"(x−2)³ flag", {-6, 12, -8}, true, {2, 2, 2}, {2, 2, 2}},
      {"x³+x", {0, 1, 0}, false, {0, 0, 0}, {0}},
      {"x⁴+1 flag", {0, 0, 0, 1}, true, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"x⁴", {0, 0, 0, 0}, false, {0, 0, 0, 0}, {0, 0}},
      {"x⁴+x²", {0, 1, 0, 0}, false, {0, 0, 0, 0}, {0, 0}},
      {"x⁴−1", {0, 0, 0, -1}, false, {-1, 1}, {-1, 1}},
      {"(x−1)²(x−2)(x−4)", {-8, 21, -22, 8}, false, {1, 1, 2, 4}, {1, 1, 2, 4}},
  };
  for (const EdgeCase& c : cases) {
    SCOPED_TRACE(c.name);
    double out[4] = {NAN, NAN, NAN, NAN};
    int n = Solve(out, c.coef, c.flag);
    ASSERT_EQ(n, static_cast<int>(c.forced_family.size()));
    for (int i = 0; i < n; ++i) EXPECT_NEAR(out[i], c.forced_family[i], 1e-12) << i;
    n = SolveKeepComplexFamily(out, c.coef, c.flag);
    ASSERT_EQ(n, static_cast<int>(c.keep_complex_family.size()));
    for (int i = 0; i < n; ++i) EXPECT_NEAR(out[i], c.keep_complex_family[i], 1e-12) << i;
  }
}

// Two roots 5e-8 apart beside a well separated pair: the quadratic left
// after the first pair has a discriminant that rounding may make negative.
// Both slots still hold the nearly double root.
TEST(PolynomialRoots, NearlyDoubleRootAfterAPairFillsBothSlots) {
  const std::vector<double> k = Expand(1.0, {-1.99, -1.49, 3.0, 3.0 + 5e-8});
  const double want[] = {-1.99, -1.49, 3.0, 3.0 + 5e-8};
  for (bool keep : {false, true}) {
    SCOPED_TRACE(keep);
    double a[4] = {NAN, NAN, NAN, NAN}, b[4] = {NAN, NAN, NAN, NAN};
    ASSERT_EQ(SolveQuarticMonic(a, k[1], k[2], k[3], k[4], keep), 4);
    ASSERT_EQ(SolveMonicQuartic(b, k[1], k[2], k[3], k[4], keep), 4);
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(a[i], want[i], 1e-7) << i;
      EXPECT_EQ(b[i], a[i]) << i;
    }
  }
}

TEST(PolynomialRoots, ZeroLeadFallsBackADegree) {
  double out[4];
  // Linear: −c/b twice; nothing when b is 0 as well.
  ASSERT_EQ(SolveQuadratic(out, 0, 4, -2, false), 2);
  EXPECT_EQ(out[0], 0.5);
  EXPECT_EQ(out[1], 0.5);
  EXPECT_EQ(SolveQuadratic(out, 0, 0, 1, true), 0);
  // The cubic's quadratic never keeps complex roots: 0x³ + x² + 1.
  EXPECT_EQ(SolveCubic(out, 0, 1, 0, 1, true), 0);
  EXPECT_EQ(SolveQuadratic(out, 1, 0, 1, true), 2);
  // The quartic's cubic does: 0x⁴ + (x − 2)³.
  EXPECT_EQ(SolveQuartic(out, 0, 1, -6, 12, -8, false), 1);
  EXPECT_EQ(SolveQuartic(out, 0, 1, -6, 12, -8, true), 3);
  EXPECT_EQ(SolveQuartic(out, 0, 0, 2, -6, 4, false), 2);
  EXPECT_EQ(out[0], 1.0);
  EXPECT_EQ(out[1], 2.0);
}

double Eval(const std::vector<double>& k, double x) {
  double f = 0.0;
  for (double c : k) f = f * x + c;
  return f;
}

// The Newton step on the given coefficients never leaves a root worse than
// the monic solve left it, improves many of them, and is not thrown far off
// where a complex pair's real part sits at a critical point with an almost
// zero slope.
TEST(PolynomialRoots, GeneralFormsStepOnTheGivenCoefficients) {
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> u(-5.0, 5.0);
  std::uniform_real_distribution<double> e(-6.0, 6.0);
  double sum_monic = 0.0, sum_general = 0.0;
  for (int round = 0; round < 500; ++round) {
    const double lead = std::pow(10.0, e(rng)) * (round % 2 ? 1.0 : -1.0);
    const std::vector<double> k = Expand(lead, {u(rng), u(rng), u(rng), u(rng)});
    const std::vector<double> k3 = Expand(lead, {u(rng), u(rng), u(rng)});
    for (bool keep : {false, true}) {
      double monic[4], general[4];
      int n = SolveMonicQuartic(monic, k[1] / k[0], k[2] / k[0], k[3] / k[0], k[4] / k[0], keep);
      ASSERT_EQ(SolveQuartic(general, k[0], k[1], k[2], k[3], k[4], keep), n);
      for (int i = 0; i < n; ++i) {
        const double rm = std::fabs(Eval(k, monic[i])), rg = std::fabs(Eval(k, general[i]));
        EXPECT_LE(rg, rm) << i;
        sum_monic += rm / std::fabs(lead);
        sum_general += rg / std::fabs(lead);
      }
      n = SolveMonicCubic(monic, k3[1] / k3[0], k3[2] / k3[0], k3[3] / k3[0], keep);
      ASSERT_EQ(SolveCubic(general, k3[0], k3[1], k3[2], k3[3], keep), n);
      for (int i = 0; i < n; ++i) {
        const double rm = std::fabs(Eval(k3, monic[i])), rg = std::fabs(Eval(k3, general[i]));
        EXPECT_LE(rg, rm) << i;
        sum_monic += rm / std::fabs(lead);
        sum_general += rg / std::fabs(lead);
      }
    }
    // One real root and a complex pair kept as its real part: every value
    // stays within the bound of the roots' magnitudes.
    const std::vector<double> c = {lead, lead * u(rng), lead * (9.0 + u(rng)), lead * u(rng)};
    const double bound =
        1.0 + std::max({std::fabs(c[1] / c[0]), std::fabs(c[2] / c[0]), std::fabs(c[3] / c[0])});
    double out[4];
    const int n = SolveCubic(out, c[0], c[1], c[2], c[3], true);
    ASSERT_EQ(n, 3);
    for (int i = 0; i < n; ++i) EXPECT_LE(std::fabs(out[i]), bound) << i;
  }
  EXPECT_LT(sum_general, 0.75 * sum_monic);
}

}  // namespace
