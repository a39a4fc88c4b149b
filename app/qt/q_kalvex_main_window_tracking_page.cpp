// The tracking page's settings controls: feature mode, detector, key frames, camera motion
// and the locator tool.
#include "app/qt/q_kalvex_main_window.h"

void qKalvexMainWindow::handleFeatureButtonClick(int mode) {
  m_tracking_sw->setCurrentIndex(mode);
  m_feature_mode = mode;
}

void qKalvexMainWindow::handleAutomaticFeatureSettingsChange() {}

void qKalvexMainWindow::handleAutomaticFeatureSetDefaults() {}

void qKalvexMainWindow::handleAutomaticFeaturePreview() {}

void qKalvexMainWindow::handleManualFeatureSettingsChange() {}

void qKalvexMainWindow::handleConsistencyCheckChange() {}

void qKalvexMainWindow::handleCameraPropertyChange() {}

void qKalvexMainWindow::handleKeyFrameSelectionModeChange() {}

void qKalvexMainWindow::handleInitialKeyFrameChanged() {}

void qKalvexMainWindow::handleLocatorGoupBoxChecked(bool /*on*/) {}

void qKalvexMainWindow::handleSnapLocatorToCornerClicked() {}

void qKalvexMainWindow::handleTrackingSettingsChanged() {}

void qKalvexMainWindow::updateFeatureSliders() {}
