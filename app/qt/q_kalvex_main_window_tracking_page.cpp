// The tracking page's settings controls: feature mode, detector, key frames, camera motion
// and the locator tool.
//
// Every settings control edits a copy of the controller's TrackingSettings and hands it back
// with SetTrackingSettings; the controller's notification then shows the stored values in
// the widgets with their signals blocked, so that nothing is written twice.
#include <QCheckBox>
#include <QMessageBox>
#include <QSignalBlocker>
#include <cmath>

#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "features/optical_flow_correlator.h"
#include "foundation/runtime/notify.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "tracking/maps/feature_map_move.h"

namespace {

constexpr int kLocatorFlags = 0x4800;

// A stored fraction (0..1) as the slider's percent: 0.374 shows 37, 0.375 shows 38.
int Percent(double fraction) {
  return int(std::trunc(fraction * 100 + 0.5));
}

// Sets the slider without running its change slot.
void SetQuietly(QAbstractSlider* slider, int value) {
  const QSignalBlocker blocker(slider);
  slider->setValue(value);
}

// The track editing part of the controller: its flag word carries the refine bit.
uic::FPointTrackEdit* TrackEdit(uic::Controller* controller) {
  return controller;
}

// The refine (snap to corner) flag from a check box: set only when the box is checked and
// the main viewer shows a frame, whose corners are computed first; cleared otherwise.
void ApplySnapToCorner(uic::Controller* controller, uic::ViewerBase* viewer, const QCheckBox* box) {
  uic::FPointTrackEdit* edit = TrackEdit(controller);
  FeatureImage* image = viewer != nullptr ? viewer->GetFImage() : nullptr;
  if (box->isChecked() && image != nullptr) {
    edit->UpdateFoerstnerFeatures(image);
    edit->SetFlags(uic::FPointTrackEdit::kRefine);
  } else {
    edit->ClearFlags(uic::FPointTrackEdit::kRefine);
  }
}

// The tracker's free-motion map, whose parameter block holds the key-frame selection.
FeatureMapMove* FreeMotionMap(uic::Controller* controller) {
  uic::MetaCTracker* tracker = controller->GetCTracker();
  return tracker != nullptr ? tracker->GetFreeMotionMap() : nullptr;
}

}  // namespace

void qKalvexMainWindow::handleFeatureButtonClick(int mode) {
  uic::ViewerBase* viewer = mainViewer();
  if (viewer == nullptr) return;
  uic::MetaCTracker* tracker = m_controller->GetCTracker();

  // Manual tracking starts from no automatic features, automatic tracking from no manual
  // ones: switching discards them, so the user is asked first.
  const bool loses_features =
      tracker != nullptr && mode != m_feature_mode &&
      ((mode == 1 && tracker->HasFPoints2D()) || (mode == 0 && tracker->HasManualFPoints()));
  if (loses_features) {
    QMessageBox box;
    box.setWindowTitle(tr("Warning"));
    box.setText(tr("Current feature points will be lost"));
    box.setInformativeText(tr("Do you want to continue?"));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Yes);
    box.setIcon(QMessageBox::Question);
    box.setStyleSheet(qExtras::platformStyleSheet());
    if (box.exec() != QMessageBox::Yes) {
      (mode == 1 ? m_automatic_features_pb : m_manual_features_pb)->setChecked(true);
      return;
    }
  }

  if (m_locator_gb->isChecked()) {
    m_locator_gb->setChecked(false);
    handleLocatorGoupBoxChecked(false);
  }
  m_tracking_sw->setCurrentIndex(mode);
  m_feature_mode = mode;

  // Features are discarded only where the user sees the switch: the tracking page on
  // screen. The form opens on that page, so its index alone would also clear during
  // construction.
  if (!m_toolbox_tracking_page->isVisible() || tracker == nullptr) return;
  if (mode == 1) {
    tracker->ClearAllFPointsAndResetFMap(CameraTrackingManager::kClearAutoFeatures);
    setupTrackingPageView();
    TrackEdit(m_controller)->SetCreationMode(uic::FPointTrackEdit::eSingleFeature);
    viewer->SetEditMode(uic::ViewerBase::eEditManualFeatures);
  } else {
    tracker->ClearAllFPointsAndResetFMap(CameraTrackingManager::kClearManualFeatures);
    setupTrackingPageView();
    viewer->SetEditMode(uic::ViewerBase::eEditAutoFeatures);
  }
}

void qKalvexMainWindow::handleAutomaticFeatureSettingsChange() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) return;
  TrackingSettings settings = *m_controller->GetTrackingSettings();
  settings.m_max_corners = m_automatic_feature_max_sld->value();
  settings.m_density = m_automatic_feature_density_sld->value() * 0.01;
  settings.m_sensitivity = m_automatic_feature_sensitivity_sld->value() * 0.01;
  currentComboInt(&settings.m_feature_subpel_type, m_automatic_feature_type_cb);
  settings.UpdateCorrelatorParameter(tracker->m_correlator.Get());
  m_controller->SetTrackingSettings(settings);
}

void qKalvexMainWindow::handleAutomaticFeatureSetDefaults() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) return;
  const TrackingSettings defaults;
  // The consistency combo is shown here too: it is not read back on every change, and the
  // defaults reset its setting.
  selectComboByInt(m_consistency_check_cb, defaults.m_consistency_check, true);
  defaults.UpdateCorrelatorParameter(tracker->m_correlator.Get());
  m_controller->SetTrackingSettings(defaults);
  // Every control, also while the controller's notification is not connected yet.
  handleTrackingSettingsChanged();
}

void qKalvexMainWindow::handleAutomaticFeaturePreview() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  uic::ViewerBase* viewer = mainViewer();
  if (tracker == nullptr || tracker->m_correlator.Get() == nullptr || viewer == nullptr ||
      viewer->GetFImage() == nullptr) {
    return;
  }
  setupTrackingPageView();
  if (auto* optical_flow =
          dynamic_cast<FeatureCorrelatorOpticalFlow*>(tracker->m_correlator.Get())) {
    optical_flow->PreviewFeatures(viewer->GetFImage());
  } else {
    Notify(2, "qMainWin::handleAutomaticFeaturePreview: preview only for ofl implemented");
  }
  viewer->Update();
}

void qKalvexMainWindow::handleManualFeatureSettingsChange() {
  ApplySnapToCorner(m_controller, mainViewer(), m_manual_feature_snap_checkb);
}

void qKalvexMainWindow::handleConsistencyCheckChange() {
  TrackingSettings settings = *m_controller->GetTrackingSettings();
  currentComboInt(&settings.m_consistency_check, m_consistency_check_cb);
  m_controller->SetTrackingSettings(settings);
}

void qKalvexMainWindow::handleCameraPropertyChange() {
  TrackingSettings settings = *m_controller->GetTrackingSettings();
  currentComboInt(&settings.m_camera_motion_constraint, m_camera_motion_constraint_cb);
  m_controller->SetTrackingSettings(settings);
}

void qKalvexMainWindow::handleKeyFrameSelectionModeChange() {
  FeatureMapMove* map = FreeMotionMap(m_controller);
  if (map == nullptr) return;
  FeatureMapMove::Parameter parameter = map->GetParameter();
  int method = 0;
  if (!currentComboInt(&method, m_key_frame_selection_mode_cb)) return;
  parameter.m_keyframe_parameter.m_method = method;
  map->SetParameter(parameter);

  if (method == 0) {
    m_second_key_frame_sb->setEnabled(true);
    // A minimum left from an earlier, larger first key frame would clamp the new pair.
    const int second = m_first_key_frame_sb->value() + 1;
    m_second_key_frame_sb->setMinimum(second);
    m_second_key_frame_sb->setValue(second);
  } else if (method == 5) {
    m_second_key_frame_sb->setEnabled(false);
    m_first_key_frame_sb->setMaximum(m_controller->GetNumberOfImages());
  }
}

void qKalvexMainWindow::handleInitialKeyFrameChanged() {
  FeatureMapMove* map = FreeMotionMap(m_controller);
  if (map == nullptr) return;
  int method = -1;
  const bool manual = currentComboInt(&method, m_key_frame_selection_mode_cb) && method == 0;
  // The pair stays ordered. The limits come first: a value they clamp runs this slot
  // again, and the block below must not overwrite that with the value from before.
  if (manual) {
    m_first_key_frame_sb->setMaximum(m_second_key_frame_sb->value() - 1);
    m_second_key_frame_sb->setMinimum(m_first_key_frame_sb->value() + 1);
  }
  FeatureMapMove::Parameter parameter = map->GetParameter();
  parameter.m_keyframe_parameter.m_first_keyframe = m_first_key_frame_sb->value();
  if (manual) parameter.m_keyframe_parameter.m_second_keyframe = m_second_key_frame_sb->value();
  map->SetParameter(parameter);
}

void qKalvexMainWindow::handleLocatorGoupBoxChecked(bool on) {
  uic::ViewerBase* viewer = mainViewer();
  if (viewer == nullptr) return;
  uic::ViewerState state = viewer->GetViewerState();
  int edit_mode = uic::ViewerBase::eEditAutoFeatures;
  if (on) {
    state.m_flags |= kLocatorFlags;
    state.m_mode = 0;
    TrackEdit(m_controller)->SetCreationMode(uic::FPointTrackEdit::eAnchorTrack);
    edit_mode = uic::ViewerBase::eEditManualFeatures;
  } else {
    state.m_flags &= ~kLocatorFlags;
    if (m_manual_features_pb->isChecked()) {
      TrackEdit(m_controller)->SetCreationMode(uic::FPointTrackEdit::eSingleFeature);
      edit_mode = uic::ViewerBase::eEditManualFeatures;
    }
  }
  viewer->SetEditMode(edit_mode);
  viewer->PushViewerState(state);
  m_controller->EmitViewerModeChanged();
}

void qKalvexMainWindow::handleSnapLocatorToCornerClicked() {
  ApplySnapToCorner(m_controller, mainViewer(), m_snap_locator_to_corner_cb);
}

void qKalvexMainWindow::handleTrackingSettingsChanged() {
  const TrackingSettings& settings = *m_controller->GetTrackingSettings();
  SetQuietly(m_automatic_feature_max_sld, settings.m_max_corners);
  SetQuietly(m_automatic_feature_density_sld, Percent(settings.m_density));
  SetQuietly(m_automatic_feature_sensitivity_sld, Percent(settings.m_sensitivity));
  selectComboByInt(m_automatic_feature_type_cb, settings.m_feature_subpel_type, true);
  {
    const QSignalBlocker blocker(m_manual_feature_snap_checkb);
    m_manual_feature_snap_checkb->setChecked(
        TrackEdit(m_controller)->TestFlags(uic::FPointTrackEdit::kRefine));
  }
  selectComboByInt(m_camera_motion_constraint_cb, settings.m_camera_motion_constraint, true);
  const QSignalBlocker blocker(m_final_refinement_cb);
  m_final_refinement_cb->setChecked(settings.m_perform_final_refinement);
}

void qKalvexMainWindow::updateFeatureSliders() {
  // Copied first: each slider that changes stores all three sliders, so reading the
  // settings between the steps would give the later sliders their own old values back.
  const TrackingSettings settings = *m_controller->GetTrackingSettings();
  // Not blocked: each change re-applies the settings to the correlator.
  m_automatic_feature_max_sld->setValue(settings.m_max_corners);
  m_automatic_feature_density_sld->setValue(Percent(settings.m_density));
  m_automatic_feature_sensitivity_sld->setValue(Percent(settings.m_sensitivity));
}
