#include "interaction/tracking_settings.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "features/feature_correlator.h"
#include "features/optical_flow_correlator.h"
#include "features/track_file_correlator.h"
#include "foundation/runtime/notify.h"

namespace uic {
namespace {

// trunc(value) saturated to the 32-bit range, so that settings out of their slider range
// give a large value instead of undefined behaviour.
int32_t TruncateToInt(double value) {
  const double t = std::trunc(value);
  if (!(t > std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (t > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(t);
}

}  // namespace

void AutoFeatureSettings::Dump() const {
  std::fprintf(stderr, "AutoFeatureSettings:\n");
  std::fprintf(stderr,
               "m_density %f,  m_sensitivity %f, m_max_corners %d, m_match_win_width %d, "
               "m_match_win_height %d\nm_preview %d,  m_low_pass %f, m_feature_subpel_type "
               "%d\nm_auto_fp2d_track_direction %d, m_manual_fp2d_track_direction %d\n",
               m_density, m_sensitivity, m_max_corners, m_match_win_width, m_match_win_height,
               int(m_preview), m_low_pass, m_feature_subpel_type, m_auto_fp2d_track_direction,
               m_manual_fp2d_track_direction);
}

void AutoFeatureSettings::UpdateCorrelatorParameter(FeatureCorrelator* correlator) const {
  if (correlator == nullptr) {
    Notify(2, "AutoFeatureSettings::UpdateCorrelatorParameter: correlator not set");
    return;
  }
  if (auto* flow = dynamic_cast<FeatureCorrelatorOpticalFlow*>(correlator)) {
    OpticalFlowParameter parameter = flow->GetParameter();
    parameter.m_min_dist = TruncateToInt((1.5 - m_density) * 21.0 + 0.5);
    parameter.m_min_eigenvalue =
        float(std::trunc(100.0 * std::exp((0.5 - m_sensitivity) * 10.0) + 0.5));
    parameter.m_corner_count = uint32_t(m_max_corners);
    parameter.m_window_width = uint32_t(m_match_win_width);
    parameter.m_window_height = uint32_t(m_match_win_height);
    parameter.m_subpixel = m_feature_subpel_type == 1;
    parameter.m_smoothing_sigma = float(m_low_pass * double(1.2f) + 0.2);
    parameter.m_consistency_check = m_consistency_check;
    flow->SetParameter(parameter);
    return;
  }
  if (dynamic_cast<FeatureCorrelatorReadFT2DFile*>(correlator) != nullptr) return;
  // Only the synthetic correlator gets here, and no user path makes it current: report the
  // mismatch without ending the session.
  Notify(2, "AutoFeatureSettings::UpdateCorrelatorParameter: unknown correlator");
}

void AutoFeatureSettings::SetFromCorrelatorParameter(const OpticalFlowParameter& parameter) {
  m_density = 1.5 - double(uint32_t(parameter.m_min_dist)) / 21.0;
  const float log_eigenvalue = float(std::log(double(parameter.m_min_eigenvalue) * 0.01));
  m_sensitivity = 0.5 - double(log_eigenvalue) * 0.1;
  m_max_corners = int32_t(parameter.m_corner_count);
  m_match_win_width = int32_t(parameter.m_window_width);
  m_match_win_height = int32_t(parameter.m_window_height);
  m_consistency_check = parameter.m_consistency_check;
  m_feature_subpel_type = parameter.m_subpixel ? 1 : 0;
  m_low_pass = double(parameter.m_smoothing_sigma) * 0.8333333498901794 - 0.1666666699780359;
}

void CameraSettings::Dump() const {
  std::fprintf(stderr, "CameraSettings:\n");
  std::fprintf(stderr,
               "m_perform_outlier_elimination %d, m_max_mapping_error %f pel,  "
               "m_camera_motion_constraint %d\nm_focal_length_constraint %d, "
               "m_camera_track_direction %d\n",
               int(m_perform_outlier_elimination), m_max_mapping_error, m_camera_motion_constraint,
               m_focal_length_constraint, m_camera_track_direction);
  std::fprintf(stderr, "Prior Camera: prior 35mm equiv. focal length %f [mm]\n",
               m_prior_focal_length);
}

}  // namespace uic

void TrackingSettings::Dump() const {
  std::fprintf(stderr, "LensCalibrationSettings:\n");
  std::fprintf(stderr, "--");
  std::fprintf(stderr, "PolygonMaskSettings:\n");
  std::fprintf(stderr, "--");
  AutoFeatureSettings::Dump();
  CameraSettings::Dump();
  std::fprintf(stderr, "RefinementSettings:\n");
  std::fprintf(stderr,
               "m_perform_final_refinement %d, m_refinement_method %d, m_refine_flags %d, "
               "m_bundle_max_iter %ld\n",
               int(m_perform_final_refinement), m_refinement_method, m_refine_flags,
               long(m_bundle_max_iter));
}
