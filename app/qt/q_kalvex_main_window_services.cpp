// The main window's services outside the tool box: interface language, update check,
// help, tray icon, closing and quitting, and the viewer's keys.
#include "app/qt/q_kalvex_main_window_services.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "foundation/runtime/product_info.h"
#include "interaction/controller.h"

namespace {

bool (*tray_answer)() = nullptr;

QString VersionText() {
  return QString::fromStdString(ProductInfo::GetVersionString());
}

// The keys the viewer needs whatever widget of the window has the focus: its tool keys
// and the Control modifier.
bool IsViewerKey(const QKeyEvent* event) {
  const int key = event->key();
  return key == Qt::Key_1 || key == Qt::Key_2 || key == Qt::Key_3 || key == Qt::Key_Control;
}

// A viewer key goes straight to the viewer's handler of its kind (sent through the
// application, a key the viewer ignored would climb back up to the window); false for any
// other key.
bool ForwardToViewer(QWidget* viewer, QKeyEvent* event) {
  if (!IsViewerKey(event)) return false;
  static_cast<QObject*>(viewer)->event(event);
  event->accept();
  return true;
}

}  // namespace

bool trayAvailable() {
  return tray_answer != nullptr ? tray_answer() : QSystemTrayIcon::isSystemTrayAvailable();
}

void setTrayAvailableAnswer(bool (*answer)()) {
  tray_answer = answer;
}

void qKalvexMainWindow::handleUILanguageChange() {
  int language = 0;
  if (!currentComboInt(&language, m_ui_language_cb)) return;
  qExtras::writeUiLanguage(language);
  // The translators are installed at start-up: the texts change with the next start.
  m_language_changed_info_l->setText(tr("Please restart Kalvex to apply changes"));
}

void qKalvexMainWindow::handleAutomaticallyCheckForUpdatesClicked() {
  qExtras::writeAutoCheckForUpdates(m_automatically_check_for_updates_cb->isChecked());
}

void qKalvexMainWindow::handleManuallyCheckForUpdatesClicked() {
  m_extras->checkForUpdates(true);
}

void qKalvexMainWindow::handleUpdateAvailableTriggered(QString version) {
  setWindowTitle(tr("Kalvex %1 --- (Update to Kalvex %2 available)").arg(VersionText(), version));
}

void qKalvexMainWindow::handleHelpButtonClick() {
  const QString dir = QCoreApplication::applicationDirPath();
  switch (qExtras::readUiLanguage()) {
    case 1:
      QDesktopServices::openUrl(QUrl::fromLocalFile(dir + "/help/en/Kalvex_Help_en.html"));
      break;
    case 2:
      QDesktopServices::openUrl(QUrl::fromLocalFile(dir + "/help/de/Kalvex_Help_de.html"));
      break;
    default:
      break;
  }
}

void qKalvexMainWindow::createTrayIcon() {
  if (m_tray_icon != nullptr) return;
  m_tray_icon = new QSystemTrayIcon(QIcon(QStringLiteral(":/resource/1_sequence.xpm")));
  auto* quit = new QAction(QStringLiteral("Quit"), m_tray_icon);
  connect(quit, &QAction::triggered, this, &qKalvexMainWindow::trayQuit);
  auto* show_hide = new QAction(QStringLiteral("Show/Hide Window"), m_tray_icon);
  connect(show_hide, &QAction::triggered, this, &qKalvexMainWindow::trayShowHide);
  // The window owns the menu so that it goes with the window; the icon only shows it.
  auto* menu = new QMenu(this);
  menu->addAction(show_hide);
  menu->addSeparator();
  menu->addAction(quit);
  m_tray_icon->setContextMenu(menu);
  // The icon object always exists (the run's result balloons use it); it is shown only
  // where the desktop has a tray.
  if (QSystemTrayIcon::isSystemTrayAvailable()) m_tray_icon->show();
}

void qKalvexMainWindow::trayShowHide() {
  if (isVisible()) {
    hide();
    return;
  }
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
}

void qKalvexMainWindow::trayQuit() {
  // No question and code 0, but never with the tracking thread still running: ending the
  // process under it races the static destructors. Replacing the controller's tracker
  // destroys the old one, which stops its run and joins the thread (also a run stopped
  // earlier whose thread has not been joined yet). main then tears down in order.
  if (m_controller->GetCTracker() != nullptr) m_controller->SetCTracker(new qCTracker);
  if (m_tray_icon != nullptr) m_tray_icon->hide();
  QCoreApplication::exit(0);
}

void qKalvexMainWindow::handleUseTrayIconCBChange() {
  qExtras::writeUseTrayIcon(m_use_tray_icon_cb->isChecked());
}

void qKalvexMainWindow::handleTrayIconActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::DoubleClick) trayShowHide();
}

void qKalvexMainWindow::keyPressEvent(QKeyEvent* event) {
  if (event != nullptr && !ForwardToViewer(m_viewer, event)) QMainWindow::keyPressEvent(event);
}

void qKalvexMainWindow::keyReleaseEvent(QKeyEvent* event) {
  if (event != nullptr && !ForwardToViewer(m_viewer, event)) QMainWindow::keyReleaseEvent(event);
}

void qKalvexMainWindow::closeEvent(QCloseEvent* event) {
  if (event == nullptr) return;
  if (m_extras->askToSaveProject() == QMessageBox::Cancel) {
    event->ignore();
    return;
  }
  event->accept();
  if (m_tray_icon != nullptr) m_tray_icon->hide();
}

void qKalvexMainWindow::changeEvent(QEvent* event) {
  if (event == nullptr) return;
  // Hidden only where a tray exists: without one, nothing could show the window again.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && qExtras::readUseTrayIcon() &&
      m_tray_icon != nullptr && trayAvailable()) {
    QTimer::singleShot(0, this, &QWidget::hide);
  }
  QMainWindow::changeEvent(event);
}
