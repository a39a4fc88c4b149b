// UpdateFPoint3DParameter: the settings of the 3D point update (the triangulation of the
// feature tracks while the cameras are held fixed), a plain record copied whole.
//
// The point update itself lives with the optimisers and names this record as its
// UpdateFPoint3D::Parameter; the record sits here because the key-frame selection and the
// free-motion map carry a copy of it in their own parameter blocks.
#pragma once

struct UpdateFPoint3DParameter {
  // Smallest parallax in pixels a track must show before a new point is made from it.
  double m_min_displacement = 5.0;
  // Largest accepted reprojection error in pixels: the root mean square for acceptance,
  // the largest single error for new points.
  double m_max_map_error = 1.0;
  // The feature map's focal-length and principal-point estimation modes (0 = fixed).
  int m_estimate_focal = 1;
  int m_estimate_principal = 0;
  // Run the older single-threaded update instead of the parallel one.
  bool m_use_old_update = false;
};
