#include "app/qt/q_color_dialog_runner.h"

#include <QColorDialog>

#include "app/qt/q_extras.h"

namespace {

qColorDialogRunner default_runner;
qColorDialogRunner* runner = &default_runner;

}  // namespace

QColor qColorDialogRunner::getColor(const QColor& initial, QWidget* parent) {
  QColorDialog dialog(initial, parent);
  dialog.setStyleSheet(qExtras::platformStyleSheet());
  return dialog.exec() == QDialog::Accepted ? dialog.selectedColor() : QColor();
}

void setColorDialogRunner(qColorDialogRunner* color_runner) {
  runner = color_runner != nullptr ? color_runner : &default_runner;
}

QColor chooseColor(const QColor& initial, QWidget* parent) {
  return runner->getColor(initial, parent);
}
