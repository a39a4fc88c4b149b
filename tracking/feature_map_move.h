// FeatureMapMove: the feature map of a freely moving camera. It reconstructs the camera
// path and the 3D points of a tracking job frame by frame (outlier elimination, camera
// resection, point updates, bundle adjustment), then runs the final estimation and the
// refinement, and keeps the reconstruction's reprojection error as its RMSE.
//
// GetMSE is the reprojection-error measure behind every "RMSE %f [pel]" message of the
// solver; it is static, so stages outside the map (key-frame selection, point updates)
// measure any image list with it.
//
// Frames are addressed by their position in the frame list; image indices appear only in
// messages, in what the observer is told, and where a neighbour is found by its index.
//
// Runs on the calling thread (the tracking thread during a run) and takes no lock.
// Failures: the stages log (level 2) and return false; Init passes on the precondition
// errors of FeatureMap::Init.
#pragma once

#include <vector>

#include "features/image_list_error.h"
#include "foundation/runtime/shared_ptr.h"
#include "geometry/key_frame_select.h"
#include "geometry/update_fpoint3d_parameter.h"
#include "optimise/bundle_adjuster.h"
#include "optimise/bundle_adjuster_interleave.h"
#include "optimise/bundle_adjuster_sparse.h"
#include "optimise/bundle_adjuster_subset.h"
#include "optimise/update_fpoint3d.h"
#include "tracking/feature_map.h"
#include "tracking/feature_map_sphere.h"

class FeatureImage;

// Unlinks, for every supported link of image towards the previous image, the 3D point of
// its later and then its earlier feature, and clears FCORR_SUPPORT_FREEMOVE on the link.
void clear_freemove_links(SharedPtr<FeatureImage> image);

// Appends to out the supported links of image (direction true: each feature's link to the
// previous image; false: to the next) whose own feature (the image's end) has a 3D point.
// An own feature without a point first takes the other end's point when that one is
// Cartesian. Links with a missing end are skipped.
void generate_fcorr_list_with_3dfp(FeatureImage* image,
                                   std::vector<SharedPtr<FeatureCorrespondence>>& out,
                                   bool direction);

class FeatureMapMove : public FeatureMap {
 public:
  // Window modes of the incremental bundle adjustment (Parameter::m_ba_limit).
  enum BALimit {
    eUnlimited = 0,
    eManualLimit = 1,
    eMinimalLimit = 2,
    eAdaptivLimit = 3,
    eOnlyFinal = 4,
    eNever = 5,
  };
  // States of the incremental reconstruction.
  enum IncrementalState { eInitialisation = 0, e3DProjectionState = 1, e2DProjectionState = 2 };

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

  using FeatureMap::GetMSE;
  // The reprojection error of an image list (see ImageListMSE).
  static double GetMSE(const std::vector<SharedPtr<FeatureImage>>& images, bool pixels,
                       bool verbose) {
    return ImageListMSE(images, pixels, verbose);
  }

  // Free motion on, default parameters, no adjuster chosen, every state zero.
  FeatureMapMove();
  ~FeatureMapMove() override;

  // 1: free camera motion (default); 0: the pure-rotation stages.
  int m_free_move = 1;

  // ---- settings
  // Copies p; the point-update block takes p's focal and principal-point modes, and the
  // key-frame block takes p's focal prior and that point-update block.
  void SetParameter(const Parameter& p);
  const Parameter& GetParameter() const { return m_parameter; }
  // The point-update settings derived by SetParameter.
  const UpdateFPoint3DParameter& GetUpdateParameter() const { return m_update_parameter; }
  const KeyFrameSelect& GetKeyFrameSelect() const { return m_keyframe_select; }
  // Largest standard deviation of a 2D feature position (pixels) the detector implies:
  // for a RandSampling by its threshold mode (0: threshold / sqrt(threshold factor), 1
  // and 2: sigma, other modes 0.3); any other detector 0.3 with a level-2 line.
  static double GetMaxStdDev(const SharedPtr<OutlierDetector>& detector);
  double GetMaxStdDev() const { return m_max_std_dev; }
  // Gives the features of the last image (of every image when there are at most two)
  // the covariance (sigma^2, 0, sigma^2), up to the first feature that already has one.
  static void SetCovarianceMatrices(const std::vector<SharedPtr<FeatureImage>>& images,
                                    double sigma);
  // The settings of the embedded pure-rotation map (copied whole between pools).
  FeatureMapSphere::Parameter& GetSphereParameter() { return m_fmap_sphere.GetParameter(); }
  // Makes the next reconstruction start from scratch: key frames cleared (the protocol
  // kept), first key 0, incremental state eInitialisation.
  void RestartIncremental() {
    m_keyframe_select.Clear();
    m_key1 = 0;
    increm_bun_state = eInitialisation;
  }

  // ---- stages
  // Starts a reconstruction with first (see FeatureMap::Init, whose errors pass) and
  // resets the incremental state.
  bool Init(SharedPtr<FeatureImage>& first) override;
  // Marks the newest frame's links to the previous frame by the outlier detector; manual
  // features keep their links supported. In point-update mode 2 the frame then takes its
  // match camera and the supported tracks into it are triangulated (at least 4
  // observations, new points appended to the point list). False (level 2) without
  // detector or estimator, with fewer than 2 frames or fewer than 7 links.
  bool OutlierElimination() override;
  // The incremental and final solves are not part of this map yet: level-2 line, false.
  bool CameraEstimation() override;
  bool FinalEstimation() override;
  bool Refinement() override;
  // Not measured by this map yet: level-2 line, the RMSE unchanged.
  void GetMSE() override;

  // ---- incremental reconstruction
  // One step of the incremental reconstruction for the newest frame (key-frame search,
  // two-view start, rotation-only fallback, resection, point update, windowed
  // adjustment); with final set, the last call before the final estimation.
  bool IncrementalBundleAdjust(bool final);
  // The rotation-only state: cameras by the embedded pure-rotation map until a key-frame
  // pair exists.
  bool IncrementalBA_2DProjState(bool final);

  // ---- key frames and the reconstructed list
  // Replaces keys by {first key frame, second key frame}.
  void GetKeyFramePair(std::vector<int>& keys) const;
  // Replaces the reconstructed list; returns its size.
  int SetIncrementalList(const std::vector<SharedPtr<FeatureImage>>& images);
  const std::vector<SharedPtr<FeatureImage>>& GetIncrementalList() const {
    return m_incremental_list;
  }

  // ---- camera resection
  // Marks image's 2D-3D links (see generate_fcorr_list_with_3dfp) by a projection-matrix
  // RANSAC started from neighbour's camera: inliers get FCORR_SUPPORT_FREEMOVE and their
  // features go to *out; outliers lose their 3D link (and both support bits unless their
  // point is removed). Returns the number of links examined; 0 (level 2) with fewer than
  // two frames, a null out or fewer than 6 links.
  int ProjectionOutlierDetection(const SharedPtr<FeatureImage>& image, FeatureImage* neighbour,
                                 std::vector<SharedPtr<FeaturePoint2D>>* out, bool direction);
  // Estimates image's camera from its features' 3D points, starting from neighbour's
  // camera (own distortion kept): a free projection matrix when estimate_projective, else
  // the pose. With guided resectioning on, tracks that ended in the image whose index is
  // one less are joined to tracks starting here, and the estimate is repeated while
  // tracks join. False (level 2) only for a null image or fewer than 6 2D-3D links; an
  // estimator failure is logged and the result stays true.
  bool CameraResectioning(const SharedPtr<FeatureImage>& image, FeatureImage* neighbour,
                          bool estimate_projective, bool direction);
  // Resects the frame at list position p from the frame before it; false for the first.
  bool ForwardCameraResectioning(int p, bool estimate_projective);
  // Resects the frame at list position p from the frame after it; false for the last.
  bool ReverseCameraResectioning(int p, bool estimate_projective);

  // ---- adjustment windows
  // Adjusts the newest part of the reconstructed list with the chosen adjuster in the
  // window mode of m_ba_limit. A failed or user-stopped adjustment is logged; returns true.
  bool BundleAdjust();
  // With more than 5000 valid points, keeps a well-distributed subset of n of them (and
  // every protected point) valid and flags the rest removed. images is not consulted.
  void LimitNumFPoint3D(const std::vector<SharedPtr<FeatureImage>>& images, int n);

 protected:
  // Observations of the longest track that made a new 3D point in the last point update
  // (0 when none); the minimal window adjusts that many images.
  virtual int LastLongestNewChain() const { return int(m_update_fpoint3d.GetLongestNewChain()); }

  KeyFrameSelect m_keyframe_select;
  UpdateFPoint3DParameter m_update_parameter;
  // Appends to m_fpoint3d_list under m_fpoint3d_lock.
  UpdateFPoint3D m_update_fpoint3d;
  Parameter m_parameter;
  BundleAdjusterInterleave m_ba_interleave;
  BundleAdjusterSparse m_ba_sparse;
  BundleAdjusterSubset m_ba_subset;
  BundleAdjuster* m_bundle_adjuster = nullptr;  // one of the adjusters above; null at first
  double m_max_std_dev = 0.0;
  std::vector<SharedPtr<FeatureImage>> m_incremental_list;
  bool m_fill_keyframe_gap = false;
  int m_key1 = 0;
  int m_key2 = 0;
  int m_rotation_end = 0;
  int increm_bun_state = 0;
  int m_first_3d_index = 0;
  int adaptiv_skip_frames_counter = 0;
  // Carries the cameras while the motion is a pure rotation (m_free_move 0, and the
  // rotation-only state of the incremental reconstruction).
  FeatureMapSphere m_fmap_sphere;
};
