#include "app/qt/q_kalvex_main_window.h"

qKalvexMainWindow::qKalvexMainWindow(QWidget* parent) : QMainWindow(parent) {
  setupUi(this);
}

qKalvexMainWindow::~qKalvexMainWindow() = default;
