#include "app/qt/q_viewer.h"

qViewer::qViewer(QWidget* parent) : QWidget(parent) {}

qViewer::~qViewer() = default;

void qViewer::Redraw() {
  update();
}

void qViewer::RedrawRect(const uic::RubberBand&, int) {
  update();
}
