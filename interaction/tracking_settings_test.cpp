#include "interaction/tracking_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "features/feature_correlator_hbm.h"
#include "features/feature_correlator_syn.h"
#include "features/optical_flow_correlator.h"
#include "features/track_file_correlator.h"
#include "interaction/sequence_property.h"
#include "testing/log_capture.h"

namespace {

// One field of the records: its default, and a change that moves it off the default.
struct FieldCase {
  const char* name;
  double expected;
  std::function<double(const TrackingSettings&)> get;
  std::function<void(TrackingSettings&)> change;
};

#define KX_FIELD(field, value, changed)                                                         \
  FieldCase {                                                                                   \
#field, double(value),                                                                      \
        [](const TrackingSettings& s) { return double(s.field); }, [](TrackingSettings &        \
                                                                      s) { s.field = changed; } \
  }

TEST(TrackingSettingsTest, DefaultsAndIndependentCopies) {
  const FieldCase cases[] = {
      KX_FIELD(m_density, 0.5, 0.9),
      KX_FIELD(m_sensitivity, 0.5, 0.1),
      KX_FIELD(m_max_corners, 1000, 20),
      KX_FIELD(m_match_win_width, 9, 15),
      KX_FIELD(m_match_win_height, 9, 15),
      KX_FIELD(m_preview, false, true),
      KX_FIELD(m_low_pass, 0.5, 0.25),
      KX_FIELD(m_feature_subpel_type, 0, 1),
      KX_FIELD(m_auto_fp2d_track_direction, 0, 2),
      KX_FIELD(m_manual_fp2d_track_direction, 2, 0),
      KX_FIELD(m_consistency_check, 0, 3),
      KX_FIELD(m_perform_outlier_elimination, true, false),
      KX_FIELD(m_max_mapping_error, 1.0, 2.5),
      KX_FIELD(m_prior_focal_length, -1.0, 35.0),
      KX_FIELD(m_camera_motion_constraint, 0, 1),
      KX_FIELD(m_focal_length_constraint, 1, 4),
      KX_FIELD(m_camera_track_direction, 0, 1),
      KX_FIELD(m_perform_final_refinement, true, false),
      KX_FIELD(m_refinement_method, 3, 1),
      KX_FIELD(m_refine_flags, 0x7E002, 0),
      KX_FIELD(m_bundle_max_iter, -1, 50),
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TrackingSettings defaults;
    EXPECT_EQ(c.get(defaults), c.expected);

    TrackingSettings copy(defaults);
    c.change(copy);
    EXPECT_NE(c.get(copy), c.expected);
    EXPECT_EQ(c.get(defaults), c.expected);  // the copy is its own value

    TrackingSettings assigned;
    assigned = copy;
    EXPECT_EQ(c.get(assigned), c.get(copy));
    // Copying one record of the set takes that record's fields only.
    uic::AutoFeatureSettings auto_feature = copy;
    static_cast<uic::AutoFeatureSettings&>(assigned) = auto_feature;
    EXPECT_EQ(c.get(assigned), c.get(copy));
  }
}

TEST(TrackingSettingsTest, SequencePropertyDefaultsAndCopies) {
  const uic::SequenceProperty defaults;
  EXPECT_EQ(defaults.m_interlacing, 0);
  EXPECT_EQ(defaults.m_image_aspect, 4.0 / 3.0);
  EXPECT_EQ(defaults.m_sensor_aspect, 4.0 / 3.0);
  EXPECT_EQ(defaults.m_width, 0);
  EXPECT_EQ(defaults.m_height, 0);
  EXPECT_EQ(defaults.m_sensor_width, 0.2);
  EXPECT_EQ(defaults.m_sensor_height, 0.2);
  EXPECT_EQ(defaults.m_pixel_aspect, 1.0);
  EXPECT_EQ(defaults.m_sensor_diagonal, 16.0);
  EXPECT_EQ(defaults.m_frame_rate, 25.0);
  EXPECT_FALSE(defaults.m_anamorphic);
  EXPECT_EQ(defaults.m_num_frames, 0);

  uic::SequenceProperty copy = defaults;
  copy.m_width = 1920;
  copy.m_anamorphic = true;
  EXPECT_EQ(defaults.m_width, 0);
  EXPECT_FALSE(defaults.m_anamorphic);
}

TEST(TrackingSettingsTest, DumpOfDefaults) {
  testing::internal::CaptureStderr();
  TrackingSettings().Dump();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "LensCalibrationSettings:\n--PolygonMaskSettings:\n--AutoFeatureSettings:\n"
            "m_density 0.500000,  m_sensitivity 0.500000, m_max_corners 1000, "
            "m_match_win_width 9, m_match_win_height 9\n"
            "m_preview 0,  m_low_pass 0.500000, m_feature_subpel_type 0\n"
            "m_auto_fp2d_track_direction 0, m_manual_fp2d_track_direction 2\n"
            "CameraSettings:\n"
            "m_perform_outlier_elimination 1, m_max_mapping_error 1.000000 pel,  "
            "m_camera_motion_constraint 0\n"
            "m_focal_length_constraint 1, m_camera_track_direction 0\n"
            "Prior Camera: prior 35mm equiv. focal length -1.000000 [mm]\n"
            "RefinementSettings:\n"
            "m_perform_final_refinement 1, m_refinement_method 3, m_refine_flags 516098, "
            "m_bundle_max_iter -1\n");
}

TEST(TrackingSettingsTest, MapsDensityAndSensitivityOntoTheBlock) {
  struct Case {
    double density, sensitivity;
    int32_t min_dist;
    float min_eigenvalue;
  } cases[] = {
      {0.5, 0.5, 21, 100.0f},
      {1.0, 0.6, 11, 37.0f},
      {0.0, 0.4, 32, 272.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "density " << c.density << " sensitivity " << c.sensitivity);
    uic::AutoFeatureSettings settings;
    settings.m_density = c.density;
    settings.m_sensitivity = c.sensitivity;
    FeatureCorrelatorOpticalFlow flow;
    settings.UpdateCorrelatorParameter(&flow);
    EXPECT_EQ(flow.GetParameter().m_min_dist, c.min_dist);
    EXPECT_EQ(flow.GetParameter().m_min_eigenvalue, c.min_eigenvalue);
  }
}

TEST(TrackingSettingsTest, OtherFieldsReachTheBlockAndTheRestStays) {
  uic::AutoFeatureSettings settings;
  settings.m_max_corners = 500;
  settings.m_match_win_width = 11;
  settings.m_match_win_height = 13;
  settings.m_feature_subpel_type = 1;
  settings.m_consistency_check = 3;
  FeatureCorrelatorOpticalFlow flow;
  OpticalFlowParameter before = flow.GetParameter();
  before.m_search_range = 31;  // a field the settings do not own
  flow.SetParameter(before);

  settings.UpdateCorrelatorParameter(&flow);
  const OpticalFlowParameter& after = flow.GetParameter();
  EXPECT_EQ(after.m_corner_count, 500u);
  EXPECT_EQ(after.m_window_width, 11u);
  EXPECT_EQ(after.m_window_height, 13u);
  EXPECT_TRUE(after.m_subpixel);
  EXPECT_EQ(after.m_consistency_check, 3);
  EXPECT_EQ(after.m_smoothing_sigma, float(0.5 * double(1.2f) + 0.2));
  EXPECT_EQ(after.m_smoothing_sigma, 0.8000000238f);
  EXPECT_EQ(after.m_search_range, 31u);
}

TEST(TrackingSettingsTest, DispatchByCorrelatorType) {
  uic::AutoFeatureSettings settings;
  settings.m_density = 1.0;  // minimum distance 11
  FeatureCorrelatorHBM hbm;
  FeatureCorrelatorReadFT2DFile file;
  FeatureCorrelatorSyn syn;
  struct Case {
    const char* name;
    FeatureCorrelator* correlator;
    const char* message;  // the warning, or null for none
  } cases[] = {
      {"block matcher takes the optical-flow path", &hbm, nullptr},
      {"track-file correlator is left alone", &file, nullptr},
      {"null correlator", nullptr,
       "AutoFeatureSettings::UpdateCorrelatorParameter: correlator not set"},
      {"synthetic correlator warns and the process goes on", &syn,
       "AutoFeatureSettings::UpdateCorrelatorParameter: unknown correlator"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::LogCapture log(5);
    settings.UpdateCorrelatorParameter(c.correlator);
    if (c.message != nullptr) {
      EXPECT_TRUE(log.Has(c.message)) << log.text;
    } else {
      EXPECT_FALSE(log.Has("UpdateCorrelatorParameter")) << log.text;
    }
  }
  EXPECT_EQ(hbm.GetParameter().m_min_dist, 11);
}

TEST(TrackingSettingsTest, InverseOfTheDefaultBlockGivesTheDefaults) {
  FeatureCorrelatorOpticalFlow flow;
  uic::AutoFeatureSettings defaults;
  defaults.UpdateCorrelatorParameter(&flow);

  uic::AutoFeatureSettings back;
  back.m_density = back.m_sensitivity = back.m_low_pass = -7.0;
  back.m_max_corners = back.m_match_win_width = back.m_match_win_height = 0;
  back.m_feature_subpel_type = back.m_consistency_check = 5;
  back.SetFromCorrelatorParameter(flow.GetParameter());
  EXPECT_EQ(back.m_density, 0.5);
  EXPECT_NEAR(back.m_sensitivity, 0.5, 1e-7);
  EXPECT_NEAR(back.m_low_pass, 0.5, 1e-7);
  EXPECT_EQ(back.m_max_corners, 1000);
  EXPECT_EQ(back.m_match_win_width, 9);
  EXPECT_EQ(back.m_match_win_height, 9);
  EXPECT_EQ(back.m_feature_subpel_type, 0);
  EXPECT_EQ(back.m_consistency_check, 0);

  // Distances not a multiple of 21 keep their fraction.
  OpticalFlowParameter block;
  block.m_min_dist = 10;
  block.m_subpixel = true;
  back.SetFromCorrelatorParameter(block);
  EXPECT_DOUBLE_EQ(back.m_density, 1.5 - 10.0 / 21.0);
  EXPECT_EQ(back.m_feature_subpel_type, 1);
}

}  // namespace
