// Euler angles of a rotation held in the upper-left 3x3 block of a row-major
// 4x4 matrix (16 doubles), by order code.
//
// Order code 17: rotating axes Y, then X, then Z (pan, tilt, roll of a camera
// whose viewing axis is Z). Angles in radians.
#ifndef KALVEX_FOUNDATION_NUMERIC_EULER_ANGLES_H_
#define KALVEX_FOUNDATION_NUMERIC_EULER_ANGLES_H_

inline constexpr int kEulerOrderYXZRotating = 17;

// Writes the three angles of order code `order` to angles[0..2]. Returns false
// and writes zeros for an order code this build does not know.
bool RotationToEulerAngles(const double* m16, int order, double* angles);

#endif  // KALVEX_FOUNDATION_NUMERIC_EULER_ANGLES_H_
