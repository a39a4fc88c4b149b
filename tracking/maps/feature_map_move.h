// FeatureMapMove: the feature map of a freely moving camera. It reconstructs the camera
// path and the 3D points of a tracking job frame by frame (outlier elimination, camera
// resection, point updates, bundle adjustment), then runs the final estimation and the
// refinement, and keeps the reconstruction's reprojection error as its RMSE.
//
// GetMSE is the reprojection-error measure behind every "RMSE %f [pel]" message of the
// solver; it is static, so stages outside the map (key-frame selection, point updates)
// measure any image list with it.
//
// With m_free_move 0 the embedded pure-rotation map runs Init, OutlierElimination and
// CameraEstimation on this map's frames with this map's components, and this map's point
// list follows the embedded map's points.
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
#include "tracking/maps/feature_map.h"
#include "tracking/maps/feature_map_sphere.h"

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
  // Extends the reconstruction by the newest frame (IncrementalBundleAdjust); tells the
  // observer (3, image index). False (level 2) with fewer than 2 frames or when the
  // incremental step fails.
  bool CameraEstimation() override;

  // ---- incremental reconstruction
  // One step of the incremental reconstruction for the newest frame. Until a key-frame
  // pair exists the pair is searched from m_key1 to the newest frame; a found pair is
  // triangulated (at least 7 points, else false), adjusted with the chosen adjuster, and
  // the frames after its first key frame are resected one by one, update the points and
  // are adjusted in the window of m_ba_limit (frames between the key frames are placed
  // before the second one). A search that gives up on its start frame switches to the
  // rotation-only state. Afterwards each call treats only the newest frame. The
  // adjustment never frees the intrinsics; with a focal length or principal point to
  // estimate the cameras are free projection matrices. With final set, a search that
  // finds no pair gives the remaining frames rotation-only cameras. False (level 2) with
  // fewer than 2 frames or an unknown m_optMethod (0 and 2 to 5 are accepted).
  bool IncrementalBundleAdjust(bool final);
  // The rotation-only state: the frames not yet reconstructed, up to m_rotation_end, get
  // pan/tilt/roll/zoom cameras from the embedded pure-rotation map (their supported
  // links gain FCORR_SUPPORT_ROTATION); then, unless final, the pair is searched again
  // and a found pair is triangulated (no adjustment) and ends the state.
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

  // ---- final estimation, refinement, scale and alignment
  // Turns the incremental reconstruction into the final metric result: completes the
  // frames before the first key frame by reverse resection (frames already reconstructed
  // are kept as they are), takes over the Cartesian points of the embedded pure-rotation
  // map (each point once; its index becomes its list position), runs the final
  // adjustment and, when focal length or principal point are estimated, the metric
  // upgrade, a resection of every camera and the metric adjustment; then removes points
  // behind the cameras, scales so that typical depths are five focal lengths, aligns the
  // first reconstructed camera to the map camera and stores the RMSE. With an empty
  // reconstructed list, two or more frames and a valid Cartesian point it refines: every
  // frame is taken as reconstructed (the state becomes e3DProjectionState so the list
  // stays). Without a point (no key-frame pair was ever accepted) the last incremental
  // pass gives every frame a rotation-only camera instead (RotationOnlyResult).
  // True when a result was produced; states 0 and 2 end after the points were taken
  // over, with true (the rotation-only result). False (logged) for too few points
  // (< 7) or frames (< 2), a wrong m_optMethod in refine mode, and a metric upgrade that
  // failed or threw: the projective result is then left as it was, neither scaled nor
  // aligned. A user's stop inside an adjustment counts as a failed adjustment and the
  // stage goes on. m_free_move 0: the pure-rotation map's final estimation (see
  // AdoptSphereResult).
  bool FinalEstimation() override;
  // One more metric adjustment of the reconstructed list (the adjuster by m_optMethod: 0
  // interleaved, 3 to 5 subset, else sparse), then the alignment to the map camera and
  // the RMSE. The map's observer is the free-motion sparse optimiser's observer for the
  // call and is reset on every way out, a thrown error included. False without frames or
  // points, when the adjustment failed or the user stopped it (the alignment and the
  // RMSE still follow). m_free_move 0: the pure-rotation map's refinement.
  bool Refinement() override;
  // Map RMSE := sqrt(GetMSE(reconstructed list, pixels, quiet)).
  void GetMSE() override;
  // Whether the last final estimation ended with the rotation-only result: no key-frame
  // pair was accepted, so the cameras carry rotations and zoom but no translation.
  bool RotationOnlyResult() const override { return m_rotation_only_result; }
  // Scales the cameras of images (their centres about the first camera's centre C0, as
  // it was before) and every Cartesian point of points (removed ones too; covariances by
  // scale^2) by scale. Scale 0.0 asks for the scale that puts the mean of the smaller
  // half of the observed depths (|depth| of every observation of a valid Cartesian
  // point) at five focal lengths of the first camera, negated when more observations lie
  // behind their cameras than in front. Returns the scale applied; 0.0 when nothing was
  // changed: no observation, or no usable scale (zero, infinite or NaN; level 2).
  static double SearchAndApplyOptimalScaleFactor(
      const std::vector<SharedPtr<FeatureImage>>& images,
      const std::vector<SharedPtr<FeaturePoint3D>>& points, double scale);
  // Flags removed every valid, unprotected Cartesian point observed by images at a depth
  // <= 0 in the observing camera; returns how many (each point once).
  static long RemoveFPoint3DBehindCamera(const std::vector<SharedPtr<FeatureImage>>& images);
  // Moves the reconstructed cameras and every Cartesian point rigidly so that the first
  // reconstructed camera takes the reference's centre and axes. Frames outside the
  // reconstructed list stay. An empty list: level 2, nothing changed.
  void AlignEstimationToCamera(const PerspectiveCamera& reference);

 protected:
  // Shots of at most kFocalSearchMaxFrames reconstructed frames with one focal length
  // (m_estimate_focal 1): the metric upgrade's focal length is poorly determined when the
  // camera turns little, and no later adjustment frees it. Searches the focal length
  // whose metric adjustment (poses and points, focal length held) reprojects best: a
  // scan in steps of 15 % about the current value, widened while the best lies at an end,
  // then parabolic steps in log focal length. Each trial adjusts every
  // FocalSearchStride-th frame only (the error's minimum over the focal length barely
  // moves, its cost falls with the frames). The trials only choose: the reconstruction
  // stays as it came, every camera resected at the best focal length found (the current
  // one when none reprojects better), for the refinement to adjust. Returns the number of
  // adjustments run; 0 when the shot is longer or has no points.
  int SearchFocalLength();
  // The step between the frames a trial of the focal-length search adjusts: about
  // kFocalSearchTrialFrames frames, at most kFocalSearchMaxStride apart so that the tracks
  // still join them (0 for a shot longer than kFocalSearchMaxFrames: no search).
  static size_t FocalSearchStride(size_t frames);
  static constexpr size_t kFocalSearchTrialFrames = 30;
  static constexpr size_t kFocalSearchMaxStride = 4;
  static constexpr size_t kFocalSearchMaxFrames =
      2 * kFocalSearchTrialFrames * kFocalSearchMaxStride;
  // The adjuster family m_optMethod names, decoded here alone: 0 interleaved, 2 sparse,
  // 3 to 5 sparse with the subset adjuster for the refinement. The incremental and
  // refine-mode stages reject an unknown method; the refinement runs it as sparse.
  enum class AdjusterMethod { kInterleave, kSparse, kSparseSubsetRefinement, kUnknown };
  AdjusterMethod DecodeOptMethod() const;
  // The adjuster Refinement runs (not stored in m_bundle_adjuster).
  virtual BundleAdjuster* RefinementAdjuster();
  // With m_free_move 0 the embedded pure-rotation map carries the run; after its final
  // stages the map takes its points and RMSE as its own.
  void AdoptSphereResult();

  // ---- collaborators of the incremental reconstruction (tests replace them)
  // The key-frame search over the frame list (FMapMove::SearchKeyFrame).
  virtual int SearchKeyFramePair(int first, int second, bool force);
  // The first accepted key-frame pair, or null.
  virtual const KeyFrameSelect::KeyFrame* AcceptedKeyFrame() const;
  // Triangulates the pair's correspondences over images (at least 2 observations).
  virtual void TriangulateKeyFrame(const KeyFrameSelect::KeyFrame& key, const ImageList& images,
                                   bool unlimited_chain);
  // Updates the points from the supported tracks entering image (m_min_views
  // observations, the key-frame partners added while before_keyframe).
  virtual void UpdateFramePoints(const SharedPtr<FeatureImage>& image, bool before_keyframe);
  // Resects the frame at list position p (ForwardCameraResectioning).
  virtual bool ResectFrame(int p, bool estimate_projective);
  // Adjusts the key-frame pair: m_bundle_adjuster over m_incremental_list, all images.
  // A user's stop passes as the thrown iteration number.
  virtual bool AdjustKeyFramePair();
  // The windowed adjustment after a frame (BundleAdjust).
  virtual bool AdjustWindow();

  // Whether the rotation-only state gives the frames not yet reconstructed pan/tilt/roll/
  // zoom cameras; without it they get no camera and stay out of the reconstructed list.
  virtual bool RotationOnlyCameras() const { return true; }

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
  bool m_rotation_only_result = false;
  // Carries the cameras while the motion is a pure rotation (m_free_move 0, and the
  // rotation-only state of the incremental reconstruction).
  FeatureMapSphere m_fmap_sphere;

 private:
  // m_free_move 0: the embedded map runs the stages on this map's frames with this map's
  // components, and this map's point list follows its points.
  void LendToSphere();
  void TakeSpherePoints();
  // stage(m_fmap_sphere) between the two.
  template <class Stage>
  bool OnSphere(Stage stage) {
    LendToSphere();
    const bool r = stage(m_fmap_sphere);
    TakeSpherePoints();
    return r;
  }
  // The list position of image in m_fimage_list, or -1.
  int PositionOf(const FeatureImage* image) const;
  void LogRMSE(const char* text, const ImageList& images) const;
};
