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
#include "geometry/key_frame_select.h"
#include "geometry/update_fpoint3d_parameter.h"

class FeatureImage;

class FeatureMapMove {
 public:
  // The map's settings, a plain record always copied whole.
  struct Parameter {
    // 2: the outlier elimination runs the 3D point update for the newest image itself.
    int m_point_update_mode = 0;
    // Bundle adjuster of the incremental and final stages: 0 interleaved, 1 reduced (not
    // accepted by the incremental stage), 2 to 5 sparse.
    int m_optMethod = 3;
    // Window mode of the incremental bundle adjustment: 0 unlimited, 1 manual, 2 minimal,
    // 3 adaptive, 4 only final, 5 never.
    int m_ba_limit = 5;
    // Observations the 3D point update demands while cameras are resected.
    int m_min_views = 3;
    // 0 fixed focal length, 1 one for the sequence, 2 one per frame.
    int m_estimate_focal = 1;
    // Principal-point estimation mode (0 fixed).
    int m_estimate_principal = 0;
    // Newest images adjusted in the manual window mode.
    int m_ba_window = 10;
    // Iteration limit of the sparse adjuster; -1 keeps the adjuster's own.
    int m_ba_max_iter = -1;
    // Prior focal length in mm, 35 mm equivalent; -1.0 means none.
    double m_prior_focal_35mm = -1.0;
    // Keep 3D points behind a camera.
    bool m_keep_points_behind = false;
    // Merge ended and newly started tracks after each resection, within this pixel
    // distance.
    bool m_guided_resectioning = false;
    float m_guided_resectioning_dist = 5.0f;
    KeyFrameSelect::Parameter m_keyframe_parameter;
    UpdateFPoint3DParameter m_update_parameter;
  };

  // The reprojection error of an image list (see ImageListMSE).
  static double GetMSE(const std::vector<SharedPtr<FeatureImage>>& images, bool pixels,
                       bool verbose) {
    return ImageListMSE(images, pixels, verbose);
  }
};
