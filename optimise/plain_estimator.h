#pragma once

// What the plain (not pool-exchangeable) estimators share: the resection estimators,
// and the distortion and homography estimators built on the same pattern.
//
// m_error accumulates, over the successful calls of one estimator object, chi2 divided
// by the number of samples of each fit, in the unit that estimator states. The pixel
// sizes are those of the last camera handed in (mm per pixel), so a caller can turn an
// error in mm^2 into pixels^2.
class PlainEstimator {
 public:
  double m_error = 0.0;
  double m_pixel_size_x = 1.0;
  double m_pixel_size_y = 1.0;
};
