// Plane fit to selected 3D points: the plane through them, two in-plane axes that make the
// points' bounding rectangle small, and that rectangle, for the fitted plane objects and for
// the plane coordinates of a triangle mesh built without a camera image.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"

class FeaturePoint3D;
class NHSObject_Rect;

struct PlaneFit {
  vm::Vector3 centre;   // of the bounding rectangle, in the plane through the points' mean
  Matrix3x3 rotation;   // columns: first in-plane axis a, second b, normal a × b (unit)
  double half_size[2];  // half the rectangle's extent along a and along b
};

// Fits the plane to the points' positions (x, y, z; the coordinate system is not read):
//   0  success;
//  -1  fewer than 3 points;
//  -4  exactly 3 points spanning no plane (two coincide, or all on one line).
// On a failure `fit` is left untouched. Three points give the plane through them with a
// along p0 − p1; more give the least-squares plane (eigenvectors of the scatter matrix:
// a, b of the two largest spreads, the normal of the smallest). Four or more points on one
// line or one spot are not refused; the rotation stays orthonormal and right-handed.
// The in-plane axes are then turned in 16 steps of π/32 (0 to 84.375 degrees); the turn
// whose bounding rectangle has the smallest area wins (the first on a tie), so the area
// is within that quantisation of the true minimum. Finally a is made the axis nearer the
// world x axis and b the one nearer y (swapping the half sizes with them), a.x ≥ 0 and
// b.y ≥ 0. No allocation; the name is the historical one (no randomness is involved).
int fit_plane_random_sampling(const std::vector<const FeaturePoint3D*>& points, PlaneFit& fit);

// A new rectangle (colour, orientation 0, corners ±half sizes) placed by the fit of the
// points: translation the centre, rotation the fit's, so its local x, y plane is the fitted
// plane. Logs the point count at level 5. Null when the fit fails. Unnamed and unattached:
// the caller owns it.
NHSObject_Rect* gen_approx_plane(const std::vector<const FeaturePoint3D*>& points, uint32_t color);
