// The mask-edit and test-scene pages of the main window and the selection-tool menu.
#include "app/qt/q_kalvex_main_window.h"

void qKalvexMainWindow::handleMaskPropertyChange() {}

void qKalvexMainWindow::applyMaskPropertyChanges() {}

void qKalvexMainWindow::handleMaskColorButtonClick() {}

void qKalvexMainWindow::newPolygonMask() {}

void qKalvexMainWindow::handleKeyFrameButtonClick(int /*direction*/) {}

void qKalvexMainWindow::handleObjectColorButtonClick() {}

void qKalvexMainWindow::handleGizmoButtonClick() {}

void qKalvexMainWindow::handleAlignGroundGridButtonClick() {}

void qKalvexMainWindow::handleSelectGroundGridButtonClick() {}

void qKalvexMainWindow::handleViewModeToggleButtonClick() {}

void qKalvexMainWindow::handleMoveModeChange() {}

void qKalvexMainWindow::handleSelectionModeChange(int /*tool*/) {}

void qKalvexMainWindow::handleCameraGroupButtonClick(int /*id*/) {}

void qKalvexMainWindow::handleAddObjectTriggered(int /*entry*/) {}

void qKalvexMainWindow::hideMaskProperties() {}
