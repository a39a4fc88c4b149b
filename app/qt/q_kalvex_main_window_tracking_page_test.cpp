#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <functional>
#include <string>
#include <tuple>

#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "features/optical_flow_correlator.h"
#include "interaction/controller.h"
#include "interaction/tracker_job_for_test.h"
#include "testing/log_capture.h"
#include "tracking/maps/feature_map_move.h"

namespace {

// Answers every modal message box with answer and keeps what it asked.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton answer) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      ++asked;
      title = box->windowTitle();
      text = box->text() + QStringLiteral("|") + box->informativeText();
      box->button(answer)->click();
    });
    timer_.start();
  }

  int asked = 0;
  QString title;
  QString text;

 private:
  QTimer timer_;
};

// The settings the page edits, for comparing whole sets.
auto EditedFields(const TrackingSettings& s) {
  return std::make_tuple(s.m_max_corners, s.m_density, s.m_sensitivity, s.m_feature_subpel_type,
                         s.m_consistency_check, s.m_camera_motion_constraint,
                         s.m_perform_final_refinement);
}

int ComboInt(const QComboBox* combo) {
  int value = -1;
  currentComboInt(&value, combo);
  return value;
}

class TrackingPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qExtras::writeAutoCheckForUpdates(false); }

  TrackingPageTest() {
    tracker = new qCTracker;
    controller->SetCTracker(tracker);
    // The viewer may still show a frame of the tracker an earlier test left behind.
    window.m_viewer->SetFImage(SharedPtr<FeatureImage>());
    window.handleAutomaticFeatureSetDefaults();
    // The pages' controls take clicks only once a project is there.
    window.enableProjectWidgets();
  }
  ~TrackingPageTest() override { ClearUndoStack(); }

  // The job's frames and tracks; the features of `manual_tracks` first tracks are manual.
  void FillJob(int manual_tracks) {
    job.Fill(*tracker, dir, 16, 12);
    for (int t = 0; t < manual_tracks; ++t) {
      for (const SharedPtr<FeaturePoint2D>& f : job.tracks[size_t(t)]) {
        f->SetFlags(FP2D_FLAG_MANUAL);
      }
    }
  }
  // Counts the manual and the automatic 2D features of every frame.
  std::pair<int, int> CountFeatures() {
    int manual = 0, automatic = 0;
    for (const SharedPtr<FeatureImage>& image : tracker->GetImageList()) {
      for (const SharedPtr<FeaturePoint2D>& f : image->GetFPoints2D()) {
        (f->TestFlags(FP2D_FLAG_MANUAL) ? manual : automatic)++;
      }
    }
    return {manual, automatic};
  }
  FeatureCorrelatorOpticalFlow* OpticalFlow() {
    return dynamic_cast<FeatureCorrelatorOpticalFlow*>(tracker->m_correlator.Get());
  }

  qKalvexMainWindow window;
  uic::Controller* controller = uic::Controller::Instance();
  qCTracker* tracker;
  kxtest::TempDir dir;
  kxtest::TrackerJobData job;
};

TEST_F(TrackingPageTest, EachControlWritesItsSetting) {
  struct Case {
    const char* control;
    std::function<void(qKalvexMainWindow&)> change;
    std::function<double(const TrackingSettings&)> field;
    double expected;
  };
  const Case cases[] = {
      {"max slider", [](auto& w) { w.m_automatic_feature_max_sld->setValue(700); },
       [](auto& s) { return s.m_max_corners; }, 700},
      {"density slider", [](auto& w) { w.m_automatic_feature_density_sld->setValue(37); },
       [](auto& s) { return s.m_density; }, 0.37},
      {"sensitivity slider", [](auto& w) { w.m_automatic_feature_sensitivity_sld->setValue(80); },
       [](auto& s) { return s.m_sensitivity; }, 0.8},
      {"type combo", [](auto& w) { selectComboByInt(w.m_automatic_feature_type_cb, 1, false); },
       [](auto& s) { return s.m_feature_subpel_type; }, 1},
      {"consistency combo", [](auto& w) { selectComboByInt(w.m_consistency_check_cb, 3, false); },
       [](auto& s) { return s.m_consistency_check; }, 3},
      {"camera-motion combo",
       [](auto& w) { selectComboByInt(w.m_camera_motion_constraint_cb, 1, false); },
       [](auto& s) { return s.m_camera_motion_constraint; }, 1},
  };
  for (const Case& c : cases) {
    c.change(window);
    EXPECT_DOUBLE_EQ(c.field(*controller->GetTrackingSettings()), c.expected) << c.control;
  }
  // The detector controls reach the current correlator at once.
  ASSERT_NE(OpticalFlow(), nullptr);
  EXPECT_EQ(OpticalFlow()->GetParameter().m_corner_count, 700u);
  EXPECT_TRUE(OpticalFlow()->GetParameter().m_subpixel);
}

TEST_F(TrackingPageTest, StoredSettingsAreShownWithoutBeingWrittenAgain) {
  selectComboByInt(window.m_consistency_check_cb, 1, false);
  struct Case {
    const char* field;
    std::function<void(TrackingSettings&)> store;
    std::function<int(qKalvexMainWindow&)> shown;
    int expected;
  };
  const Case cases[] = {
      {"max corners", [](auto& s) { s.m_max_corners = 1200; },
       [](auto& w) { return w.m_automatic_feature_max_sld->value(); }, 1200},
      {"density 0.374", [](auto& s) { s.m_density = 0.374; },
       [](auto& w) { return w.m_automatic_feature_density_sld->value(); }, 37},
      {"density 0.375", [](auto& s) { s.m_density = 0.375; },
       [](auto& w) { return w.m_automatic_feature_density_sld->value(); }, 38},
      {"sensitivity", [](auto& s) { s.m_sensitivity = 0.2; },
       [](auto& w) { return w.m_automatic_feature_sensitivity_sld->value(); }, 20},
      {"type", [](auto& s) { s.m_feature_subpel_type = 1; },
       [](auto& w) { return ComboInt(w.m_automatic_feature_type_cb); }, 1},
      {"camera motion", [](auto& s) { s.m_camera_motion_constraint = 1; },
       [](auto& w) { return ComboInt(w.m_camera_motion_constraint_cb); }, 1},
      {"final refinement", [](auto& s) { s.m_perform_final_refinement = false; },
       [](auto& w) { return int(w.m_final_refinement_cb->isChecked()); }, 0},
      // Not read back: the combo keeps the user's choice.
      {"consistency", [](auto& s) { s.m_consistency_check = 2; },
       [](auto& w) { return ComboInt(w.m_consistency_check_cb); }, 1},
  };
  for (const Case& c : cases) {
    TrackingSettings settings = *controller->GetTrackingSettings();
    c.store(settings);
    controller->SetTrackingSettings(settings);
    EXPECT_EQ(c.shown(window), c.expected) << c.field;
    // Quiet: showing the value did not round it into the store.
    EXPECT_EQ(EditedFields(*controller->GetTrackingSettings()), EditedFields(settings)) << c.field;
  }
}

TEST_F(TrackingPageTest, DefaultResetsEveryControlAndSetting) {
  window.m_automatic_feature_max_sld->setValue(400);
  window.m_automatic_feature_density_sld->setValue(10);
  window.m_automatic_feature_sensitivity_sld->setValue(90);
  selectComboByInt(window.m_automatic_feature_type_cb, 1, false);
  selectComboByInt(window.m_consistency_check_cb, 2, false);
  selectComboByInt(window.m_camera_motion_constraint_cb, 1, false);
  TrackingSettings changed = *controller->GetTrackingSettings();
  changed.m_perform_final_refinement = false;
  controller->SetTrackingSettings(changed);

  window.m_automatic_feature_default_tb->click();

  EXPECT_EQ(EditedFields(*controller->GetTrackingSettings()), EditedFields(TrackingSettings()));
  EXPECT_EQ(window.m_automatic_feature_max_sld->value(), 1000);
  EXPECT_EQ(window.m_automatic_feature_density_sld->value(), 50);
  EXPECT_EQ(window.m_automatic_feature_sensitivity_sld->value(), 50);
  EXPECT_EQ(ComboInt(window.m_automatic_feature_type_cb), 0);
  EXPECT_EQ(ComboInt(window.m_camera_motion_constraint_cb), 0);
  EXPECT_TRUE(window.m_final_refinement_cb->isChecked());
  // The consistency check returns to "No Check" in the settings: the combo says so too.
  EXPECT_EQ(window.m_consistency_check_cb->currentText(), QStringLiteral("No Check"));
  EXPECT_EQ(OpticalFlow()->GetParameter().m_corner_count, 1000u);
}

TEST_F(TrackingPageTest, SliderRefreshKeepsEveryStoredValue) {
  TrackingSettings stored = *controller->GetTrackingSettings();
  stored.m_max_corners = 800;
  stored.m_density = 0.3;
  stored.m_sensitivity = 0.7;
  controller->SetTrackingSettings(stored);
  // As after a project load: the store changed, the sliders show something else.
  for (QSlider* slider :
       {window.m_automatic_feature_max_sld, window.m_automatic_feature_density_sld,
        window.m_automatic_feature_sensitivity_sld}) {
    const QSignalBlocker blocker(slider);
    slider->setValue(slider->minimum());
  }

  window.updateFeatureSliders();

  EXPECT_EQ(window.m_automatic_feature_max_sld->value(), 800);
  EXPECT_EQ(window.m_automatic_feature_density_sld->value(), 30);
  EXPECT_EQ(window.m_automatic_feature_sensitivity_sld->value(), 70);
  const TrackingSettings& now = *controller->GetTrackingSettings();
  EXPECT_EQ(now.m_max_corners, 800);
  EXPECT_DOUBLE_EQ(now.m_density, 0.3);
  EXPECT_DOUBLE_EQ(now.m_sensitivity, 0.7);
  EXPECT_EQ(OpticalFlow()->GetParameter().m_corner_count, 800u);
}

TEST_F(TrackingPageTest, FeatureModeSwitchAsksBeforeFeaturesAreLost) {
  struct Case {
    const char* what;
    int manual_tracks;  // of kTracks; -1: no job at all
    int from;
    bool tracking_page;
    QMessageBox::StandardButton answer;
    bool asked;
    int mode_after;
    std::pair<int, int> features_after;  // manual, automatic
  };
  constexpr int kAll = kxtest::TrackerJobData::kTracks * kxtest::TrackerJobData::kFrames;
  constexpr int kOne = kxtest::TrackerJobData::kFrames;
  const Case cases[] = {
      {"no features to manual", -1, 0, true, QMessageBox::Yes, false, 1, {0, 0}},
      {"automatic to manual, cancelled", 0, 0, true, QMessageBox::Cancel, true, 0, {0, kAll}},
      {"automatic to manual", 1, 0, true, QMessageBox::Yes, true, 1, {kOne, 0}},
      {"manual to automatic", 1, 1, true, QMessageBox::Yes, true, 0, {0, kAll - kOne}},
      {"to automatic, no manual features", 0, 1, true, QMessageBox::Yes, false, 0, {0, kAll}},
      {"another page clears nothing", 1, 0, false, QMessageBox::Yes, true, 1, {kOne, kAll - kOne}},
  };
  window.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tracker = new qCTracker;
    controller->SetCTracker(tracker);
    job = kxtest::TrackerJobData();
    if (c.manual_tracks >= 0) FillJob(c.manual_tracks);
    window.m_toolbox->setCurrentIndex(0);
    (c.from == 0 ? window.m_automatic_features_pb : window.m_manual_features_pb)->setChecked(true);
    window.m_tracking_sw->setCurrentIndex(c.from);
    window.m_feature_mode = c.from;
    if (c.tracking_page) window.m_toolbox->setCurrentWidget(window.m_toolbox_tracking_page);

    BoxAnswerer answerer(c.answer);
    (c.from == 0 ? window.m_manual_features_pb : window.m_automatic_features_pb)->click();

    EXPECT_EQ(answerer.asked, int(c.asked));
    if (c.asked) {
      EXPECT_EQ(answerer.title, QStringLiteral("Warning"));
      EXPECT_EQ(answerer.text,
                QStringLiteral("Current feature points will be lost|Do you want to continue?"));
    }
    EXPECT_EQ(window.m_feature_mode, c.mode_after);
    EXPECT_EQ(window.m_tracking_sw->currentIndex(), c.mode_after);
    EXPECT_TRUE((c.mode_after == 0 ? window.m_automatic_features_pb : window.m_manual_features_pb)
                    ->isChecked());
    EXPECT_EQ(CountFeatures(), c.features_after);
    if (c.tracking_page && c.mode_after != c.from) {
      EXPECT_EQ(window.m_viewer->m_edit_mode, c.mode_after == 1 ? 4 : 0);
    }
  }
  window.hide();
}

TEST_F(TrackingPageTest, PreviewLeavesTheSettingsAlone) {
  FillJob(0);
  selectComboByInt(window.m_consistency_check_cb, 2, false);
  window.m_automatic_feature_density_sld->setValue(21);
  const auto before = EditedFields(*controller->GetTrackingSettings());

  window.handleAutomaticFeaturePreview();  // no frame shown: nothing at all
  EXPECT_NE(window.m_viewer->GetViewerState().m_flags, 0x2F01);

  window.m_viewer->SetFImage(tracker->GetImageList()[0]);
  window.m_automatic_feature_preview_pb->click();
  EXPECT_EQ(EditedFields(*controller->GetTrackingSettings()), before);
  EXPECT_EQ(window.m_viewer->GetViewerState().m_flags, 0x2F01);  // the tracking page's view

  tracker->m_correlator = tracker->m_correlator_read_ft2d;
  kxtest::LogCapture log(5);
  window.handleAutomaticFeaturePreview();
  EXPECT_TRUE(log.Has("qMainWin::handleAutomaticFeaturePreview: preview only for ofl implemented"));
  EXPECT_EQ(EditedFields(*controller->GetTrackingSettings()), before);
}

TEST_F(TrackingPageTest, SnapToCornerNeedsAShownFrame) {
  FillJob(0);
  uic::FPointTrackEdit* edit = controller;
  // The locator's box can be clicked only inside the checked group.
  window.m_locator_gb->setEnabled(true);
  window.m_locator_gb->setChecked(true);
  for (QCheckBox* box : {window.m_manual_feature_snap_checkb, window.m_snap_locator_to_corner_cb}) {
    SCOPED_TRACE(box->objectName().toStdString());
    window.m_viewer->SetFImage(SharedPtr<FeatureImage>());
    box->click();  // checked before any frame is shown
    EXPECT_FALSE(edit->TestFlags(uic::FPointTrackEdit::kRefine));
    box->click();
    window.m_viewer->SetFImage(tracker->GetImageList()[1]);
    box->click();
    EXPECT_TRUE(edit->TestFlags(uic::FPointTrackEdit::kRefine));
    EXPECT_EQ(edit->GetCachedImageIndex(), tracker->GetImageList()[1]->GetImageIndex());
    box->click();
    EXPECT_FALSE(edit->TestFlags(uic::FPointTrackEdit::kRefine));
  }
  // The manual box shows the flag after a settings change.
  edit->SetFlags(uic::FPointTrackEdit::kRefine);
  controller->SetTrackingSettings(*controller->GetTrackingSettings());
  EXPECT_TRUE(window.m_manual_feature_snap_checkb->isChecked());
  EXPECT_TRUE(edit->TestFlags(uic::FPointTrackEdit::kRefine));
  edit->ClearFlags(uic::FPointTrackEdit::kRefine);
}

TEST_F(TrackingPageTest, KeyFramePairStaysOrdered) {
  FillJob(0);
  FeatureMapMove* map = tracker->GetFreeMotionMap();
  ASSERT_NE(map, nullptr);
  const auto& key = [&]() -> const KeyFrameSelect::Parameter& {
    return map->GetParameter().m_keyframe_parameter;
  };
  window.m_first_key_frame_sb->setValue(3);
  EXPECT_EQ(key().m_first_keyframe, 3);

  selectComboByInt(window.m_key_frame_selection_mode_cb, 0, false);  // Manual
  EXPECT_EQ(key().m_method, 0);
  EXPECT_TRUE(window.m_second_key_frame_sb->isEnabled());
  EXPECT_EQ(window.m_second_key_frame_sb->value(), 4);
  EXPECT_EQ(key().m_second_keyframe, 4);
  EXPECT_EQ(window.m_first_key_frame_sb->maximum(), 3);

  window.m_second_key_frame_sb->setValue(8);
  window.m_first_key_frame_sb->setValue(5);
  EXPECT_EQ(window.m_second_key_frame_sb->minimum(), 6);
  EXPECT_EQ(window.m_first_key_frame_sb->maximum(), 7);
  EXPECT_EQ(std::make_pair(key().m_first_keyframe, key().m_second_keyframe), std::make_pair(5, 8));

  selectComboByInt(window.m_key_frame_selection_mode_cb, 5, false);  // Automatic
  EXPECT_EQ(key().m_method, 5);
  EXPECT_FALSE(window.m_second_key_frame_sb->isEnabled());
  EXPECT_EQ(window.m_first_key_frame_sb->maximum(), kxtest::TrackerJobData::kFrames);
  window.m_first_key_frame_sb->setValue(1);
  EXPECT_EQ(std::make_pair(key().m_first_keyframe, key().m_second_keyframe), std::make_pair(1, 8));

  // Back to manual after a smaller first key frame: the pair follows it.
  selectComboByInt(window.m_key_frame_selection_mode_cb, 0, false);
  EXPECT_EQ(window.m_second_key_frame_sb->value(), 2);
  EXPECT_EQ(key().m_second_keyframe, 2);
}

TEST_F(TrackingPageTest, LocatorToolSetsTheViewAndCreationMode) {
  uic::FPointTrackEdit* edit = controller;
  uic::ViewerBase* viewer = window.m_viewer;
  viewer->PushViewerState(uic::ViewerState{1, 0x1});
  const size_t states = viewer->m_states.size();

  window.m_locator_gb->setChecked(true);
  window.handleLocatorGoupBoxChecked(true);
  EXPECT_EQ(viewer->m_states.size(), states + 1);
  EXPECT_EQ(viewer->GetViewerState().m_flags, 0x4801);
  EXPECT_EQ(viewer->GetViewerState().m_mode, 0);
  EXPECT_EQ(edit->GetCreationMode(), uic::FPointTrackEdit::eAnchorTrack);
  EXPECT_EQ(viewer->m_edit_mode, uic::ViewerBase::eEditManualFeatures);

  // Off in automatic mode: edit mode 0, creation mode left.
  window.m_locator_gb->setChecked(false);
  window.handleLocatorGoupBoxChecked(false);
  EXPECT_EQ(viewer->GetViewerState().m_flags, 0x1);
  EXPECT_EQ(viewer->m_edit_mode, uic::ViewerBase::eEditAutoFeatures);
  EXPECT_EQ(edit->GetCreationMode(), uic::FPointTrackEdit::eAnchorTrack);

  // A feature-mode change turns the tool off; in manual mode single features again.
  window.m_locator_gb->setChecked(true);
  window.handleLocatorGoupBoxChecked(true);
  window.m_manual_features_pb->click();
  EXPECT_FALSE(window.m_locator_gb->isChecked());
  EXPECT_EQ(viewer->GetViewerState().m_flags & 0x4800, 0);
  EXPECT_EQ(edit->GetCreationMode(), uic::FPointTrackEdit::eSingleFeature);
  EXPECT_EQ(viewer->m_edit_mode, uic::ViewerBase::eEditManualFeatures);
}

}  // namespace
