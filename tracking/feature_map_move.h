// FeatureMapMove: the feature map of a freely moving camera. It reconstructs the camera
// path and the 3D points of a tracking job frame by frame (outlier elimination, camera
// resection, point updates, bundle adjustment), then runs the final estimation and the
// refinement, and keeps the reconstruction's reprojection error as its RMSE.
//
// GetMSE is the reprojection-error measure behind every "RMSE %f [pel]" message of the
// solver; it is static, so stages outside the map (key-frame selection, point updates)
// measure any image list with it.
//
// Runs on the calling thread (the tracking thread during a run) and takes no lock.
#pragma once

#include <vector>

#include "foundation/runtime/shared_ptr.h"

class FeatureImage;

class FeatureMapMove {
 public:
  // Mean squared reprojection error per image coordinate over every observation of a
  // Cartesian, not removed 3D point by a 2D feature of the listed images, projected with
  // the image's camera (lens distortion included). pixels: in pixels^2, else in mm^2 on
  // the image plane (x and the projection scaled by the pixel width, y by the height).
  // Each observation counts as two measurements; points given as directions are only
  // counted. Returns 1e20 for an empty list and 0 when nothing was measured.
  //
  // Writes each image's statistics (mean squared error, numbers of Cartesian and of
  // direction points observed) when the image has at least one measurement; other
  // images keep theirs. verbose: level-5 lines per image, the theoretic residual factor
  // and the number of synthetic outliers (features with flag 1) met. Null entries are
  // skipped.
  static double GetMSE(const std::vector<SharedPtr<FeatureImage>>& images, bool pixels,
                       bool verbose);
};
