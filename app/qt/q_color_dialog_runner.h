// The colour choice of the window's swatch buttons: a modal QColorDialog with the platform
// style sheet, run through a replaceable runner so that tests (and scripted runs) can
// answer it without a modal loop.
//
// Interface thread only.
#pragma once

#include <QColor>

class QWidget;

class qColorDialogRunner {
 public:
  virtual ~qColorDialogRunner() = default;
  // The colour chosen, starting from initial; an invalid colour when cancelled.
  virtual QColor getColor(const QColor& initial, QWidget* parent);
};

// The runner every colour choice goes through; null restores the default (the dialog).
// Not owned.
void setColorDialogRunner(qColorDialogRunner* runner);
// Asks through the current runner; an invalid colour when cancelled.
QColor chooseColor(const QColor& initial, QWidget* parent);
