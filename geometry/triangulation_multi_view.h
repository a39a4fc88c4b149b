// Multi-view triangulation: one 3D point from its observations in any number of views of
// known cameras, with its information matrix, its reprojection errors and a parallax test.
//
// Image quantities are pixels about the image centre, lens distortion removed. Each
// observation carries the inverse covariance W of its position (identity when the feature
// has none) and the view's projection matrix. The point is the linear solution (or a
// given start) refined by damped Gauss-Newton steps on the per-observation weighted
// squared errors e = r^T W r; a step is taken only when the sum of the e decreases.
//
// One object serves many points: Reset, add the observations, read the results. The
// observation buffer starts with room for 128 and doubles when full; it never shrinks.
// Not for concurrent use; keep one object per thread.
#pragma once

#include <cstddef>
#include <memory>

#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/tracks/feature_point.h"

// out = A^-1 for a symmetric 3x3 A, by cofactors over the determinant. A determinant of
// exactly 0 returns false and leaves out as it was. out may be A.
bool InvertSymmetric3x3(const Matrix3x3& a, Matrix3x3& out);

// The pair (a, b), a < b, of the n centres centre_at(0 .. n-1) farthest apart (squared
// distance; scanning a, then b, ascending, a pair replaces the best only when strictly
// farther, so two centres give (0, 1)). False with fewer than two centres.
template <class CentreAt>
bool FarthestCentrePair(size_t n, CentreAt centre_at, size_t& a, size_t& b) {
  if (n < 2) return false;
  a = 0;
  b = 1;
  double best = -1.0;
  for (size_t i = 0; i < n; ++i) {
    const vm::Vector3 ci = centre_at(i);
    for (size_t j = i + 1; j < n; ++j) {
      const double d2 = (centre_at(j) - ci).SquaredLength();
      if (d2 > best) {
        best = d2;
        a = i;
        b = j;
      }
    }
  }
  return true;
}

// Parallax between two views measured against a point at infinite depth: the squared
// pixel distance between (xb, yb) and the image of (xa, ya) under mb ma^-1, where ma and
// mb are the left 3x3 blocks of the views' projection matrices (rows H, V, A) and the
// positions are pixels about the image centre. A mapped point with third coordinate 0 is
// taken without division.
double InfiniteHomographyParallax2(const Matrix3x3& ma, const Matrix3x3& mb, double xa, double ya,
                                   double xb, double yb);

class TriangulationMultiView {
 public:
  TriangulationMultiView();
  ~TriangulationMultiView();
  TriangulationMultiView(const TriangulationMultiView&) = delete;
  TriangulationMultiView& operator=(const TriangulationMultiView&) = delete;

  // Starts a new point: no observations, no start point, not computed, mean squared error
  // 1e16, largest squared error 0. The buffer is kept.
  void Reset();
  unsigned GetNumObservations() const { return num_; }
  unsigned GetCapacity() const { return capacity_; }

  // Start the refinement from X instead of the linear solution.
  void SetPoint(const vm::Vector3& x);
  // Appends the feature's position seen through camera (undistorted pixels about the
  // image centre), its inverse covariance when it has one, and the camera's centre and
  // projection matrix. Does not clear a computed result: Reset before a new point.
  void AddObservation(const FeaturePoint2D& feature, const PerspectiveCamera& camera);
  // The same with the camera of the feature's own image; a null feature or one without
  // an image is ignored.
  void AddFPoint2D(const FeaturePoint2D* feature);

  // Computes the point once per Reset; later calls return the first result. False with
  // fewer than two observations or a linear solution at infinity (the mean squared error
  // then stays 1e16). A point behind a camera is not refused: callers test depths.
  bool Compute();
  // Each computes first when needed.
  vm::Vector3 GetPoint();
  double GetMeanSquaredError();  // pixels^2 over all observations
  double GetMaxSquaredError();   // pixels^2
  // I = sum of J^T W J at the point (its inverse is the point's covariance). False when
  // Compute failed or an observation's projection has third coordinate 0.
  bool GetInformationMatrix(Matrix3x3& out);
  // True when the two views whose centres are farthest apart see the point with a
  // parallax above threshold pixels (InfiniteHomographyParallax2). False with fewer than
  // two observations (level-3 line).
  bool CheckMinDisplacement(double threshold);

 private:
  struct Observation {
    double x, y;
    double w00, w01, w11;
    vm::Vector3 centre;
    Matrix3x4 p;
  };

  void Append(const Observation& o);
  bool LinearStart(vm::Vector3& x) const;
  void Refine();

  vm::Vector3 x_{0.0, 0.0, 0.0};
  double mean_squared_error_ = 1e16;
  double max_squared_error_ = 0.0;
  unsigned num_ = 0;
  unsigned capacity_ = 128;
  std::unique_ptr<Observation[]> observations_;
  bool point_given_ = false;
  bool computed_ = false;
  bool result_ = false;
};
