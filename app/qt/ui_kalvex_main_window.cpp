#include "app/qt/ui_kalvex_main_window.h"

#include <QMainWindow>

void Ui_KalvexMainWindow::setupUi(QMainWindow* window) {
  retranslateUi(window);
}

void Ui_KalvexMainWindow::retranslateUi(QMainWindow*) {}
