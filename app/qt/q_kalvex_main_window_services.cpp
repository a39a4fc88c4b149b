// The main window's services outside the tool box: interface language, update check,
// help, tray icon, closing and the viewer's keys.
#include <QCloseEvent>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>

#include "app/qt/q_kalvex_main_window.h"

void qKalvexMainWindow::handleUILanguageChange() {}

void qKalvexMainWindow::handleAutomaticallyCheckForUpdatesClicked() {}

void qKalvexMainWindow::handleManuallyCheckForUpdatesClicked() {}

void qKalvexMainWindow::handleUpdateAvailableTriggered(QString /*version*/) {}

void qKalvexMainWindow::handleHelpButtonClick() {}

void qKalvexMainWindow::createTrayIcon() {
  // The run's result balloons need the icon; its menu comes with the tray service.
  if (m_tray_icon == nullptr) {
    m_tray_icon = new QSystemTrayIcon(QIcon(QStringLiteral(":/resource/1_sequence.xpm")));
  }
}

void qKalvexMainWindow::trayShowHide() {}

void qKalvexMainWindow::trayQuit() {}

void qKalvexMainWindow::handleUseTrayIconCBChange() {}

void qKalvexMainWindow::handleTrayIconActivated(QSystemTrayIcon::ActivationReason /*reason*/) {}

void qKalvexMainWindow::keyPressEvent(QKeyEvent* event) {
  QMainWindow::keyPressEvent(event);
}

void qKalvexMainWindow::keyReleaseEvent(QKeyEvent* event) {
  QMainWindow::keyReleaseEvent(event);
}

void qKalvexMainWindow::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
}

void qKalvexMainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
}
