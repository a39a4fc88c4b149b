#include "app/qt/q_timeline.h"

qTimeline::qTimeline(QWidget* parent) : QWidget(parent) {}

qTimeline::~qTimeline() = default;

void qTimeline::DrawText(double, double, const std::string&) {}

void qTimeline::Redraw() {
  repaint();
}
