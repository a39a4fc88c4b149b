#pragma once

// Two-view transfer for a camera that turns (pan, tilt, roll), zooms and may move: where
// a point seen in the first image appears in the second.
//
// Convention: M = Ry(pan) Rx(tilt) Rz(roll) takes directions of the second camera's
// frame into the first camera's frame (the pan/tilt/roll of GetCameraAngles and
// SetCameraPTRZ). Camera 1 sits at the origin looking along +z with focal length f;
// camera 2 sits at T (camera-1 coordinates), is turned by M and has focal length
// zoom * f. Lengths in millimetres, image positions about the principal point on the
// sensor (mm). Pure functions.

#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_vector.h"

// The rows U, V, W of M^T, so that M^T p = (U.p, V.p, W.p).
struct PanTiltRollRows {
  PanTiltRollRows(double pan, double tilt, double roll);
  vm::Vector3 u;
  vm::Vector3 v;
  vm::Vector3 w;
};

// Parameter lambda along r1 = (x0, y0, f) of the closest approach between the ray
// lambda r1 and the ray T + mu M (x1, y1, zoom f). 1e16 for parallel rays.
double TwoViewDepth(double pan, double tilt, double roll, double zoom, const vm::Vector3& T,
                    double f, double x0, double y0, double x1, double y1);

// The second image's x (U) or y (V) of the point TwoViewDepth places on the first ray,
// projected into camera 2. A depth <= 0 counts as infinitely far (only the rotation
// acts). A point on camera 2's focal plane gives 1e16. With T = 0 this is the pure
// pan/tilt/roll/zoom prediction zoom f (U.r1) / (W.r1).
double TwoViewReprojectU(double pan, double tilt, double roll, double zoom, const vm::Vector3& T,
                         double f, double x0, double y0, double x1, double y1);
double TwoViewReprojectV(double pan, double tilt, double roll, double zoom, const vm::Vector3& T,
                         double f, double x0, double y0, double x1, double y1);

// World point of the two-view correspondence (x0, y0) in c1, (x1, y1) in c2 (mm about
// each principal point, undistorted): the closest approach of the two viewing rays.
// False, out unchanged, when that lies at depth <= 0 in c1 (or the rays are parallel
// and no depth exists).
bool TriangulateTwoViewPTR(vm::Vector3& out, const PerspectiveCamera& c1,
                           const PerspectiveCamera& c2, double x0, double y0, double x1, double y1);
