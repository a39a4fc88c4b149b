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
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
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

  // Orders the singular values s of a decomposition U diag(s) V^T decreasing and moves
  // the columns of U and V with them; values that cannot be ordered (NaN) go last, with
  // a level-2 line. Returns how many ordered values have magnitude below 1e-16.
  static int SortSVDSolution(Matrix3x3& u, double s[3], Matrix3x3& v);
  // e: right null vector (M e ~ 0), e2: left null vector (e2^T M ~ 0), both unit length
  // from the decomposition with decreasing singular values. Always true.
  static bool GetEpipoles(const Matrix3x3& m, vm::Vector3& e, vm::Vector3& e2);
  // The rotation nearest (unit-quaternion closed form) to cof(E) - [t]x E, with cof the
  // untransposed cofactor matrix: R for E = [t]x R and unit t.
  static void RotationFromEMatrix(Matrix3x3& r, const Matrix3x3& e, const vm::Vector3& t);

  // The relative camera pair of this matrix with an approximate focal length
  // (focal_prior: 35 mm-equivalent in mm, <= 0 for the reference's normal focal length).
  // possibility 1..4 picks the sign of E (3, 4 negate) and of the baseline (odd ones
  // negate). reference becomes K1 [I | 0] at the origin looking along +z, second
  // K2 [Q | t] with Q = lambda [e']x E + e' v^T closest to I and t = +-e'/|e'|; K holds
  // the approximate focal length and each camera's own principal point (the elements are
  // about it). Each keeps its pixel size and distortion. Returns how many elements
  // triangulate (no depth test), 0 when det Q <= 0.
  int RectifyCAHVtoFMatrix(PerspectiveCamera& reference, PerspectiveCamera& second, int possibility,
                           double focal_prior) const;
  // Tries the four possibilities on copies and keeps the first with the largest count,
  // then scales the baseline to focal length (mm) * |frame_distance| * 0.2. True when
  // some element triangulated.
  bool RectifyCAHVtoFMatrixUnknownK(int frame_distance, PerspectiveCamera& camera1,
                                    PerspectiveCamera& camera2, double focal_prior) const;
  // The second camera of type 1..4 (signs of t and E) with the reference's calibration
  // and a 1 mm baseline; the reference does not change. False with no elements, or when
  // more than half the elements fail either cheirality test.
  bool RectifyCAHVtoEMatrix(const PerspectiveCamera& reference, PerspectiveCamera& second,
                            int type) const;
  // Runs the four types, each from the cameras the previous passing type left, scaling
  // a passing baseline as RectifyCAHVtoFMatrixUnknownK does. True only when exactly one
  // type passes; with several the cameras hold the last passing one.
  bool RectifyCAHVtoFMatrixKnownK(int frame_distance, PerspectiveCamera& camera1,
                                  PerspectiveCamera& camera2) const;

  double m[9];  // row-major f0..f8
  double m_sx = 1.0;
  double m_sy = 1.0;
  std::vector<CorrEl> m_vecCorr;
};

// Linear estimate of a fundamental matrix from its elements (mm about the principal
// points, used as they are: no normalising transform).
class EstimatorFMatrix {
 public:
  // As FMatrix::SetCorrespondences, without pixel sizes.
  void SetCorrespondences(const t_ListFCorr& correspondences, const PerspectiveCamera& camera1,
                          const PerspectiveCamera& camera2);
  void SetCorrespondences(const std::vector<CorrEl>& elements) { m_vecCorr = elements; }

  // Least-squares F from at least eight elements with rank 2 enforced (smallest singular
  // value zeroed) into out's matrix. False, out unchanged, for fewer than eight elements
  // or when the linear system has no solution.
  bool NormalizedEightPointAlgorithm(FMatrix& out) const;

  std::vector<CorrEl> m_vecCorr;
};
