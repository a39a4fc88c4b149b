// The sequence and lens-distortion pages of the main window, and the tool-box page change.
#include "app/qt/q_kalvex_main_window.h"

void qKalvexMainWindow::handleSequencePropertyChange() {}

void qKalvexMainWindow::handleToolboxPageChange(int /*page*/) {}

void qKalvexMainWindow::handleLoadImagesButtonClick() {}

void qKalvexMainWindow::handleRadialDistortionWidgetChange() {}

void qKalvexMainWindow::handleRadialDistortionSpinboxChange() {}

void qKalvexMainWindow::clearRadialDistortionWidgets() {}

void qKalvexMainWindow::addReferenceLine() {}

void qKalvexMainWindow::deleteAllReferenceLines() {}
