// qViewer: the Qt widget of the interactive viewer. It shows the logic's pixel buffer
// without copying it and turns Qt input into the logic's codes.
#pragma once

#include <QWidget>

#include "interaction/viewer.h"

class qViewer : public QWidget, public uic::Viewer {
  Q_OBJECT

 public:
  explicit qViewer(QWidget* parent = nullptr);
  ~qViewer() override;

  void Redraw() override;
  void RedrawRect(const uic::RubberBand& band, int margin) override;
};
