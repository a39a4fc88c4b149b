// The export page of the main window.
#include "app/qt/q_kalvex_main_window.h"

void qKalvexMainWindow::handleExportButtonClick() {}

void qKalvexMainWindow::exportCameraTrack3D() {}

void qKalvexMainWindow::handleExportButton2dClick() {}

void qKalvexMainWindow::handleExportLimitGroupClick(bool /*checked*/) {}

void qKalvexMainWindow::handleExportPointLimitSliderChange() {}

void qKalvexMainWindow::handleExportUndistortedButtonClick() {}

void qKalvexMainWindow::handleExportPageButtonClicked(int /*page*/) {}

void qKalvexMainWindow::handleExportOptionsChange() {}
