// The angle between two vectors of doubles.
#ifndef KALVEX_FOUNDATION_NUMERIC_VECTOR_ANGLE_H_
#define KALVEX_FOUNDATION_NUMERIC_VECTOR_ANGLE_H_

// The angle in radians (0 … π) between the n-vectors a and b. When either
// has zero length it logs "VectorAngle: vector(s) with zero length" as a
// warning and returns 0. The cosine is clamped to [−1, 1], so (anti)parallel
// vectors give 0 or π even when rounding pushes it past 1.
double VectorAngle(const double* a, const double* b, int n);

#endif  // KALVEX_FOUNDATION_NUMERIC_VECTOR_ANGLE_H_
