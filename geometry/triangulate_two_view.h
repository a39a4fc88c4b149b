// Linear triangulation of one 3D point seen by two cameras.
#pragma once

#include "foundation/camera/perspective_camera.h"

// The world point whose projections through camera0 and camera1 are (x0, y0) and
// (x1, y1), each in mm on its sensor about that camera's principal point with lens
// distortion removed (the elements' convention; the principal point is added back before
// the image-centred projection matrices are used, so off-centre principal points
// triangulate right). The unit null vector of A^T A, with A the four linear conditions of
// the two projection matrices, is divided by its homogeneous weight. A zero weight (rays
// meeting at infinity) gives (0, 0, 0) and false. No depth sign is tested.
bool TriangulateTwoViewLinear(double out[3], const PerspectiveCamera* camera0,
                              const PerspectiveCamera* camera1, double x0, double y0, double x1,
                              double y1);
