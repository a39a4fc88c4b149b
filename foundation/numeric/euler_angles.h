// Euler angles of a rotation held in the upper-left 3x3 block of a row-major
// 4x4 matrix (16 doubles), by order code.
//
// Order codes pack, from bit 0 up: the frame (1 = rotating axes), repetition
// of the first axis, odd parity, and in bits 3 and 4 the first axis (0 = X,
// 1 = Y, 2 = Z). Code 17: rotating axes Y, then X, then Z, that is
// M = Ry(a) Rx(b) Rz(c) (pan, tilt, roll of a camera whose viewing axis is Z).
// Angles in radians; a cosine at or below 1.6e-15 takes the singular branch,
// where the third angle is 0 (for code 17 the pan is 0 and the whole turn about
// the vertical lands in the roll).
#ifndef KALVEX_FOUNDATION_NUMERIC_EULER_ANGLES_H_
#define KALVEX_FOUNDATION_NUMERIC_EULER_ANGLES_H_

inline constexpr int kEulerOrderYXZRotating = 17;

// Writes the three angles of order code `order` to angles[0..2]. Returns false
// and writes zeros for an order code outside 0..31.
bool RotationToEulerAngles(const double* m16, int order, double* angles);

#endif  // KALVEX_FOUNDATION_NUMERIC_EULER_ANGLES_H_
