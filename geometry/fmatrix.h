// The two-view records: a homography (HMatrix2D) or a fundamental matrix (FMatrix)
// together with the correspondence elements it was fitted to, and their error measures
// in pixels. The sampler's homography and fundamental-matrix hypotheses carry them, the
// key-frame selection compares them, and the rectification routines turn a fundamental
// matrix into a relative pair of cameras.
//
// Conventions for an element (x0, y0, x1, y1), in mm on the sensor about the principal
// point with lens distortion removed (the mapper's defaults): a homography maps
// (x0, y0, 1) to (x1, y1, 1) up to scale; a fundamental matrix satisfies
// (x1, y1, 1) F (x0, y0, 1)^T = 0. Dividing by m_sx, m_sy gives pixels.
#pragma once

#include <vector>

#include "features/feature_correlator.h"
#include "foundation/camera/perspective_camera.h"
#include "geometry/corr_el.h"

class HMatrix2D {
 public:
  // The identity, pixel sizes 1.0 and no elements.
  HMatrix2D() : m{1, 0, 0, 0, 1, 0, 0, 0, 1} {}

  // Replaces the elements with the mapped correspondences (those the mapper accepts),
  // using a mapper on the two cameras with its default settings, and takes camera1's
  // pixel size.
  void SetCorrespondences(const t_ListFCorr& correspondences, const PerspectiveCamera& camera1,
                          const PerspectiveCamera& camera2);

  // Symmetric transfer error, mean per coordinate in pixels^2; 1e16 for no elements
  // or a point mapped to infinity, 1e10 when the inverse maps one there.
  double GetMSESymmetricDistance() const;

  double m[9];  // row-major h0..h8
  double m_sx = 1.0;
  double m_sy = 1.0;
  std::vector<CorrEl> m_vecCorr;
};

class FMatrix {
 public:
  // The identity, pixel sizes 1.0 and no elements.
  FMatrix() : m{1, 0, 0, 0, 1, 0, 0, 0, 1} {}

  // As HMatrix2D::SetCorrespondences.
  void SetCorrespondences(const t_ListFCorr& correspondences, const PerspectiveCamera& camera1,
                          const PerspectiveCamera& camera2);
  void SetMatrix(const double values[9]) {
    for (int i = 0; i < 9; ++i) m[i] = values[i];
  }

  // Symmetric epipolar distance, mean per coordinate in pixels^2; 1e32 for no elements,
  // 1e34 / 1e36 for a degenerate epipolar line in the first / second image.
  double GetMSESymmetricEpipolarDistance() const;

  double m[9];  // row-major f0..f8
  double m_sx = 1.0;
  double m_sy = 1.0;
  std::vector<CorrEl> m_vecCorr;
};
