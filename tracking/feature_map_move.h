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

#include "features/image_list_error.h"
#include "foundation/runtime/shared_ptr.h"

class FeatureImage;

class FeatureMapMove {
 public:
  // The reprojection error of an image list (see ImageListMSE).
  static double GetMSE(const std::vector<SharedPtr<FeatureImage>>& images, bool pixels,
                       bool verbose) {
    return ImageListMSE(images, pixels, verbose);
  }
};
