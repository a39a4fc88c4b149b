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

}  // namespace
