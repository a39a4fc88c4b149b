// The user's choices for a tracking run, as plain records: lens calibration and polygon
// masks (no fields yet), automatic feature detection and 2D tracking, camera solving and
// the final refinement. TrackingSettings joins the five, in that order; the controller
// keeps the current set, the main window edits copies, and every run keeps its own copy.
//
// Records hold no pointers: copies are independent values. The dumps write to stderr with
// plain formatted output (not through the log), so that a batch run shows what it used.
#pragma once

#include <cstdint>

#include "features/optical_flow_parameter.h"
#include "interaction/base_object.h"
#include "optimise/camera_parameter_mask.h"

class FeatureCorrelator;

namespace uic {

class LensCalibrationSettings : public BaseObject {};

class PolygonMaskSettings : public BaseObject {};

class AutoFeatureSettings : public BaseObject {
 public:
  // "AutoFeatureSettings:" and every field but m_consistency_check.
  void Dump() const;

  // Maps the record onto the correlator's parameter block: an optical-flow correlator (the
  // block matcher is one) gets the fields below through SetParameter, every other block
  // field keeps its value. A track-file correlator is left alone. A null correlator or any
  // other type logs a warning and changes nothing.
  //   minimum distance = trunc((1.5 - m_density) * 21 + 0.5)
  //   minimum eigenvalue = trunc(100 * e^((0.5 - m_sensitivity) * 10) + 0.5)
  //   smoothing sigma = m_low_pass * 1.2f + 0.2
  // and the corner count, window, sub-pixel flag (m_feature_subpel_type == 1) and
  // consistency check copied.
  void UpdateCorrelatorParameter(FeatureCorrelator* correlator) const;
  // The inverse, for blocks that were set directly (the command line).
  void SetFromCorrelatorParameter(const OpticalFlowParameter& parameter);

  double m_density = 0.5;      // 0 sparse .. 1 dense: the minimum corner distance
  double m_sensitivity = 0.5;  // the minimum corner eigenvalue
  int32_t m_max_corners = 1000;
  int32_t m_match_win_width = 9;  // tracking window, pixels
  int32_t m_match_win_height = 9;
  bool m_preview = false;
  double m_low_pass = 0.5;  // smoothing before tracking
  int32_t m_feature_subpel_type = 0;
  // 0 forward, 1 backward, 2 forward and then the tagged features backward.
  int32_t m_auto_fp2d_track_direction = 0;
  int32_t m_manual_fp2d_track_direction = 2;
  // 0 none, 1 translation, 2 similarity, 3 affine.
  int32_t m_consistency_check = 0;
};

class CameraSettings : public BaseObject {
 public:
  void Dump() const;

  bool m_perform_outlier_elimination = true;
  double m_max_mapping_error = 1.0;        // pixels
  double m_prior_focal_length = -1.0;      // mm, 35 mm equivalent; negative: none
  int32_t m_camera_motion_constraint = 0;  // 0 free motion, 1 pure rotation
  int32_t m_focal_length_constraint = 1;
  int32_t m_camera_track_direction = 0;
};

class RefinementSettings : public BaseObject {
 public:
  bool m_perform_final_refinement = true;
  int32_t m_refinement_method = 3;
  int32_t m_refine_flags = kCamMaskAdjusterDefault;
  int32_t m_bundle_max_iter = -1;  // iteration limit of the bundle adjustment
};

}  // namespace uic

// The five records of a run, in this order. Fields are reached directly (every field name
// is unique across the records).
class TrackingSettings : public uic::LensCalibrationSettings,
                         public uic::PolygonMaskSettings,
                         public uic::AutoFeatureSettings,
                         public uic::CameraSettings,
                         public uic::RefinementSettings {
 public:
  // Every record in order, the refinement fields last.
  void Dump() const;
};
