// Ui_KalvexMainWindow: the main window's widget tree (names, kinds, texts, ranges).
#pragma once

class QMainWindow;

class Ui_KalvexMainWindow {
 public:
  void setupUi(QMainWindow* window);
  void retranslateUi(QMainWindow* window);
};

namespace Ui {
class KalvexMainWindow : public Ui_KalvexMainWindow {};
}  // namespace Ui
