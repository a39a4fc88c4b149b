// Real roots of monic polynomials of degree two, three and four:
//   x² + a·x + b,  x³ + a·x² + b·x + c,  x⁴ + a·x³ + b·x² + c·x + d.
//
// The solvers write the roots in ascending order into the caller's array
// (room for 2, 3 or 4 doubles), a multiple root repeated, and return the
// number written. With forced set, a discriminant or an extremum that misses
// zero on the wrong side still yields (multiple) roots; with it clear such
// roots are not reported. No allocation, no failure result.
#ifndef KALVEX_FOUNDATION_NUMERIC_ROOT_SOLVER_H_
#define KALVEX_FOUNDATION_NUMERIC_ROOT_SOLVER_H_

// 0 or 2 roots.
int SolveQuadraticMonic(double* roots, double a, double b, bool forced);
// 1 or 3 roots; every root found is refined by PolishCubicRoot.
int SolveCubicMonic(double* roots, double a, double b, double c, bool forced);
// 0, 2 or 4 roots.
int SolveQuarticMonic(double* roots, double a, double b, double c, double d, bool forced);

// Guarded Newton refinement of a root near x0. With restart set the
// iteration starts from 0 instead when the Newton step from 0 is the shorter
// one. A candidate is taken only while its step keeps shrinking (at most 59
// for the cubic, 79 for the quartic). The result is the last point taken when
// its residual is strictly below that of x0, otherwise the start (x0, or 0
// after a restart).
double PolishCubicRoot(double x0, double a, double b, double c, bool restart);
double PolishQuarticRoot(double x0, double a, double b, double c, double d, bool restart);

// The same solvers as the minimal geometric estimators call them, for monic
// and general coefficients:
//   SolveMonicQuadratic  x² + a·x + b
//   SolveQuadratic       a·x² + b·x + c
//   SolveMonicCubic      x³ + a·x² + b·x + c
//   SolveCubic           a·x³ + b·x² + c·x + d
//   SolveMonicQuartic    x⁴ + a·x³ + b·x² + c·x + d
//   SolveQuartic         a·x⁴ + b·x³ + c·x² + d·x + e
// The roots go into out (room for 4 doubles) in ascending order; the result
// is their number. keep_complex plays the part of forced above, with one
// difference: with it clear, a cubic without two critical points reports its
// one real root once, even where it is a triple root. The quartic finds its
// critical points and solves its deflated cubic under that rule too. Two
// roots of a quartic so close that rounding turns the discriminant of their
// quadratic factor negative are reported as their midpoint, twice.
//
// A zero leading coefficient falls back a degree: SolveQuadratic gives −c/b
// twice (none when b is 0 as well), SolveCubic solves the quadratic without
// keeping complex roots, SolveQuartic solves the cubic with the flag passed
// on. The general forms take one Newton step per root on the given
// coefficients after the monic solve (so badly scaled coefficients gain
// accuracy); a step that would raise the residual, as at a complex pair's
// real part where the slope is almost zero, is not taken.
int SolveMonicQuadratic(double* out, double a, double b, bool keep_complex);
int SolveQuadratic(double* out, double a, double b, double c, bool keep_complex);
int SolveMonicCubic(double* out, double a, double b, double c, bool keep_complex);
int SolveCubic(double* out, double a, double b, double c, double d, bool keep_complex);
int SolveMonicQuartic(double* out, double a, double b, double c, double d, bool keep_complex);
int SolveQuartic(double* out, double a, double b, double c, double d, double e, bool keep_complex);

#endif  // KALVEX_FOUNDATION_NUMERIC_ROOT_SOLVER_H_
