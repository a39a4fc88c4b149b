// qTimeline: the Qt shell of the curve timeline; shows the logic's buffer and forwards
// input to it.
#pragma once

#include <QWidget>
#include <string>

#include "interaction/timeline_base.h"

class qTimeline : public QWidget, public uic::TimelineBase {
  Q_OBJECT

 public:
  explicit qTimeline(QWidget* parent = nullptr);
  ~qTimeline() override;

  void DrawText(double x, double y, const std::string& text) override;
  void Redraw() override;
  int GetWidth() override { return width(); }
  int GetHeight() override { return height(); }
};
