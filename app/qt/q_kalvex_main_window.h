// qKalvexMainWindow: the program's main window; creates and wires the controller, the
// tracker, the viewer, the timeline and the dialogs.
#pragma once

#include <QMainWindow>

#include "app/qt/ui_kalvex_main_window.h"

class qKalvexMainWindow : public QMainWindow, public Ui::KalvexMainWindow {
  Q_OBJECT

 public:
  explicit qKalvexMainWindow(QWidget* parent = nullptr);
  ~qKalvexMainWindow() override;
};
