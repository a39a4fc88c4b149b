// AutoCalibADQ: upgrades a projective reconstruction (the cameras of the feature images
// and the 3D points they see) to a metric one through the absolute dual quadric.
//
// The upgrade is a search. For 27 focal-length guesses (factors 0.3 ... 2.9 of an
// approximate focal length) and 60 weights of the focal constraint it solves the weighted
// linear equations of the dual quadric Q, factors Q into a rectifying 4x4 transform T and
// keeps the T whose calibration matrices come closest to zero skew, unit aspect ratio and
// a centred principal point. The cameras become P T, turned so that the first camera has
// the identity rotation; the points follow through the inverse transform; when most
// points lie behind their cameras the scene is mirrored.
//
// All or nothing: the new cameras and points are computed and checked first and written
// only when the whole result is sound. On a soft failure (no quadric estimate at all, a
// calibration matrix with a zero focal element, a singular transform) nothing changes and
// MetricUpgrade returns false after a level-2 line. Bad input is thrown as a const char*
// text before anything changes:
//   "AutoCalibADQ::MetricUpgrade: at least 2 views are needed"
//   "AutoCalibADQ::MetricUpgrade: zero pixel size"
//   "AutoCalibADQ::MetricUpgrade: Frobenius test zero"
//
// Projection matrices are those of GetProjectionMatrixFromCamera (image-centred pixels,
// no distortion). The image list must hold no null entries (null points are passed
// over). Runs on the calling thread; the images and points must not change meanwhile.
//
// Absolute dual quadric: B. Triggs, "Autocalibration and the absolute quadric", CVPR
// 1997; with a varying focal length: M. Pollefeys et al., IJCV 32(1), 1999.
#pragma once

#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/shared_ptr.h"

class FeatureImage;
class FeaturePoint3D;

class AutoCalibADQ {
 public:
  // Factors 0.3f ... 3.0f in steps of 0.1f, T the identity, best cost 1e32.
  AutoCalibADQ();

  // T = identity, best cost = 1e32.
  void Reset();

  // The whole upgrade (see above). focal35 is a 35 mm-equivalent focal length; 0 or less
  // takes the normal focal length of the first camera. Changes C, A, H, V of every image
  // (pixel size and distortion kept) and x, y, z of every point. True on success.
  bool MetricUpgrade(const std::vector<SharedPtr<FeatureImage>>& images,
                     const std::vector<SharedPtr<FeaturePoint3D>>& points, double focal35);

  // One linear estimate for one focal guess, over the cameras' projection matrices
  // normalised by the guessed calibration (K^-1 P). Updates T and the best cost when some
  // weight gives a cheaper transform. With two views a weight whose rank condition has no
  // real root is skipped.
  void EstimateDualQuadric(const std::vector<Matrix3x4>& normalised);

  // The two-view choice: among the real roots lambda of det(qb + lambda (qa - qb)) = 0,
  // the quadric whose diagonal magnitudes best match its three largest singular values.
  // False, and chosen untouched, when there is no real root. Throws the Frobenius text
  // when a candidate images to zero in some view.
  static bool ChooseQuadricOnPencil(const Matrix4x4& qa, const Matrix4x4& qb,
                                    const std::vector<Matrix3x4>& views, Matrix4x4& chosen);

  // The share of the listed points (neither removed nor protected) that lie behind, or
  // on the image plane of, the first listed image whose features see them; 0 when nothing
  // is counted. Uses FP3D_FLAG_TEMP_MARK and clears it on every listed point.
  static double GetShareBehind(const std::vector<SharedPtr<FeatureImage>>& images,
                               const std::vector<SharedPtr<FeaturePoint3D>>& points);

  const Matrix4x4& GetTransform() const { return m_transform; }
  double GetBestCost() const { return m_best_cost; }

  float m_min_focal_factor;
  float m_max_focal_factor;
  float m_focal_factor_step;

 private:
  Matrix4x4 m_transform;
  double m_best_cost;
};
