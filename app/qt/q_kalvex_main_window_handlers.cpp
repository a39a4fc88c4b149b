// The main window's project, frame and selection handlers and the project widgets.
#include "app/qt/q_kalvex_main_window.h"

void qKalvexMainWindow::handleSelectionChange() {}

void qKalvexMainWindow::handleCurrentFrameChange() {}

void qKalvexMainWindow::handleObjectPoolChange() {}

void qKalvexMainWindow::handleNewProjectButtonClick() {}

void qKalvexMainWindow::handleOpenProjectButtonClick() {}

void qKalvexMainWindow::handleSaveProjectButtonClick() {}

void qKalvexMainWindow::handleSaveProjectAsButtonClick() {}

void qKalvexMainWindow::handleUndoStackChange(bool /*changed*/) {}

void qKalvexMainWindow::handleNeedSave() {}

void qKalvexMainWindow::handleNextFrameShortcutTriggered() {}

void qKalvexMainWindow::handlePreviousFrameShortcutTriggered() {}

void qKalvexMainWindow::updateSequenceWidgets() {}

void qKalvexMainWindow::updateStatusInfo() {}

void qKalvexMainWindow::enableProjectWidgets() {
  m_save_project_as_tb->setEnabled(true);
  for (int page = 1; page < m_toolbox->count(); ++page) {
    setToolboxPageEnabled(m_toolbox->widget(page), true);
  }
}

void qKalvexMainWindow::disableProjectWidgets() {
  m_save_project_as_tb->setEnabled(false);
  for (int page = 1; page < m_toolbox->count(); ++page) {
    setToolboxPageEnabled(m_toolbox->widget(page), false);
  }
  m_mask_properties_gb->hide();
}
