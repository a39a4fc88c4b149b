// KeyFrameSelect: chooses the key-frame pair from which a free-motion reconstruction
// starts, two images far enough apart for a stable two-view geometry, and gives the pair
// two cameras derived from a robustly estimated fundamental matrix. The pair is either
// named by the user (method 0, ManualKeyFrame) or chosen automatically by one of five
// criteria.
//
// Parameter is the selector's settings, a plain record copied whole; the free-motion map
// keeps one inside its own parameter block and copies it in. KeyFrame is one candidate
// pair: its two images, one new correspondence per track reaching from the first to the
// second, and the two cameras estimated for it. Accepted pairs collect in the key-frame
// list, every evaluated pair in the protocol.
//
// Positions in an image list are list positions; messages print the images' own indices.
// The searches answer with a result code:
//   0  a pair was accepted and appended to the key-frame list; its images carry the
//      pair's cameras
//   1  no pair yet; try again with the next image
//   2  the current pair cannot serve; reset and restart the search from the current image
//   3  as 2, when a forced choice found no pair
//   4  invalid request (positions out of range, too few images, pair not in the list)
// Nothing throws. Runs on the tracking thread: the samplers draw from the process-wide
// sampling generator.
//
// The automatic methods need a trial reconstruction of each candidate pair (point update
// and bundle adjustment, a layer above), so they live in optimise/auto_key_frame.h and
// work on the selector through the protocol and key-frame list accessors below.
//
// The literature of GRIC and the Gibson score: optimise/auto_key_frame.h.
#pragma once

#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_correspondence.h"
#include "geometry/update_fpoint3d_parameter.h"

class FeatureImage;
class FMatrix;

class KeyFrameSelect {
 public:
  // Selection methods (Parameter::m_method).
  enum Method {
    eManual = 0,      // "manual": the pair (m_first_keyframe, m_second_keyframe)
    eCovariance = 1,  // "covariance": smallest expected estimation error, when forced
    eGibson = 2,      // "gibson": smallest Gibson score, when forced
    ePollefeys = 3,   // "pollefeys": correspondences fell below 0.9 of the first F pair's
    eRtco = 4,        // "rtco": first pair with a small third uncertainty measure
    eGric = 5,        // "gric": first pair where GRIC prefers F, with few F inliers
  };

  struct Parameter {
    int m_method = eGric;
    // The owner's focal-length and principal-point estimation modes (0 = fixed); the
    // calibration counts as unknown when either is non-zero.
    int m_estimate_focal = 1;
    int m_estimate_principal = 0;
    // Prior focal length in mm, 35 mm equivalent; <= 0 means none.
    double m_focal_prior = -11.0;
    // When >= 0, a choice is forced once more than this many images lie beyond the
    // owner's reconstructed images.
    int m_max_latency = -1;
    // The manual pair, as list positions.
    int m_first_keyframe = 0;
    int m_second_keyframe = 1;
    // Where the free-motion map starts an automatic search (not read by the selector).
    int m_search_start = -1;
    // Restart threshold on the correspondence count.
    double m_min_corr_ratio = 0.5;
    // GRIC constants: ln(lambda1) weighs n times the model's dimension, ln(lambda2 n) the
    // model's parameter count.
    double m_gric_lambda1 = 8.0;
    double m_gric_lambda2 = 4.0;
    // Carried with the block; the selection does not use it.
    double m_threshold_factor = 2.0;
    // Gibson weights: correspondence loss, homography term, fundamental-matrix term.
    double m_gibson_w1 = 3.0;
    double m_gibson_w2 = 10.0;
    double m_gibson_w3 = 1.0;
    // Settings of the point triangulation in the trial maximum-likelihood step.
    UpdateFPoint3DParameter m_update_parameter;
    // The gric criterion needs an F-inlier share below this.
    double m_max_inlier_ratio = 0.8;
  };

  // One candidate pair. Copies share the images and the correspondence objects and copy
  // the cameras and numbers.
  class KeyFrame {
   public:
    KeyFrame(const SharedPtr<FeatureImage>& first, const SharedPtr<FeatureImage>& second);
    KeyFrame(const KeyFrame&) = default;
    KeyFrame& operator=(const KeyFrame&) = default;
    ~KeyFrame();

    // Takes full copies of the two images' cameras and collects, for every supported
    // backward link of the second image, one new correspondence (score 0, flags 1) from
    // the track's feature in the first image to the link's later feature. The walk back
    // stops at the first unsupported link, so a track broken between the two images
    // contributes nothing. Returns the number collected; 0 when an image is missing.
    unsigned SearchCorrespondences();
    // Fundamental matrix by MSAC (sigma / 2 as the feature deviation, 20000 / 1000
    // iterations, not adaptive), refitted by the eight-point algorithm on its inliers,
    // then the two cameras by rectification (approximate focal length from focal_prior
    // when the calibration is unknown). Afterwards the support bit of every
    // correspondence marks the inliers. A failed rectification keeps what it left.
    void EstimateCameras(double sigma, bool calibration_unknown, double focal_prior);
    // The pair's fundamental matrix by MSAC on its correspondences with m_camera1 and
    // m_camera2 (sigma / 2 as the feature deviation, 20000 / 1000 iterations, not
    // adaptive). Marks their support bits and returns the inliers; fmatrix takes the best
    // hypothesis' matrix (when there is one) and the inliers, cost the best MSAC cost.
    std::vector<SharedPtr<FeatureCorrespondence>> SampleFMatrix(double sigma, FMatrix& fmatrix,
                                                                double& cost);

    SharedPtr<FeatureImage> m_fimage1;
    SharedPtr<FeatureImage> m_fimage2;
    std::vector<SharedPtr<FeatureCorrespondence>> m_corr_list;
    PerspectiveCamera m_camera1;
    PerspectiveCamera m_camera2;
    double m_spare_value = 0.0;
    int m_num_inliers_f = 0;
    double GRIC_F = 0.0;
    double m_cost_f = 0.0;
    int m_num_inliers_h = 0;
    double GRIC_H = 0.0;
    double m_cost_h = 0.0;
    double gibson_score = 0.0;
    int m_num_fpoint3d = 0;
    // Uncertainty measures of the pair's trial reconstruction; -1.0 = unknown.
    double mean_sigma_3dfp = -1.0;
    double exp_est_error = -1.0;
    double m_rtco_measure = -1.0;
    int m_index = 0;  // position in the key-frame list
  };

  using ImageList = std::vector<SharedPtr<FeatureImage>>;

  // reconstructed: the owner's list of images already in the reconstruction (only its
  // size is read); it must outlive the selector.
  explicit KeyFrameSelect(const ImageList* reconstructed);
  ~KeyFrameSelect();
  KeyFrameSelect(const KeyFrameSelect&) = delete;
  KeyFrameSelect& operator=(const KeyFrameSelect&) = delete;

  const Parameter& GetParameter() const { return m_parameter; }
  void SetParameter(const Parameter& parameter) { m_parameter = parameter; }
  // The feature standard deviation in pixels the samplers use as sigma.
  void SetMaxStdDev(double sigma) { m_std_dev_max = sigma; }
  double GetMaxStdDev() const { return m_std_dev_max; }
  // The calibration counts as unknown when the focal length or the principal point is
  // estimated.
  bool IsCalibrationUnknown() const {
    return m_parameter.m_estimate_focal != 0 || m_parameter.m_estimate_principal != 0;
  }

  const std::vector<KeyFrame>& GetKeyFrameList() const { return m_keyframe_list; }
  const std::vector<KeyFrame>& GetProtocol() const { return m_protocol; }
  // The owner's reconstructed images (may be null).
  const ImageList* GetReconstructedList() const { return m_reconstructed_list; }
  // For the automatic search: records an evaluated pair, and accepts a pair (appended to
  // the key-frame list; its images' cameras are the caller's business).
  void AppendToProtocol(const KeyFrame& pair);
  void AppendKeyFrame(const KeyFrame& pair);
  // Empties the key-frame list and keeps the protocol.
  void Clear();
  // Empties the key-frame list and the protocol.
  void Reset();

  // The user's pair (first, second) of list positions. Formed only while the second is
  // the newest image of list (1 before); needs 7 correspondences (else 4 while no pair
  // was accepted, 2 after). On success every accepted pair is estimated again and its
  // cameras go into its images, each keeping its own distortion. A feature deviation
  // of 0 or less cannot give an inlier threshold: 4 with a level-2 line.
  int ManualKeyFrame(const ImageList& list, int first, int second);

 private:
  Parameter m_parameter;
  std::vector<KeyFrame> m_keyframe_list;
  std::vector<KeyFrame> m_protocol;
  const ImageList* m_reconstructed_list;
  double m_std_dev_max = 0.0;
};
