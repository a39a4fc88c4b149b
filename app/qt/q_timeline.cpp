#include "app/qt/q_timeline.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QVariant>
#include <QWheelEvent>
#include <cmath>

#include "app/qt/q_extras.h"
#include "foundation/runtime/notify.h"
#include "interaction/controller.h"

namespace {

// The button code of a press: middle wins over left, so left+middle pans.
int ButtonCode(Qt::MouseButtons buttons) {
  if (buttons & Qt::MiddleButton) return 2;
  if (buttons & Qt::LeftButton) return 1;
  return 0;
}

}  // namespace

qTimeline::qTimeline(QWidget* parent) : QWidget(parent) {
  const ArrayMap<uint32_t> buffer = GetBuffer();
  Notify(5, "qTimeline::qTimeline: Viewer buffer size %ld x %ld\n ", long(buffer.width),
         long(buffer.height));
  m_controller->m_global_data_changed.Connect(this, &qTimeline::handleGlobalDataChanged);
  if (buffer.data == nullptr) {
    Notify(1, "qTimeline::qTimeline: draw buffer NULL");
    return;
  }
  if (buffer.width == 0 || buffer.height == 0) {
    Notify(1, "qTimeline::qTimeline: bad draw buffer size %ux%u", unsigned(buffer.width),
           unsigned(buffer.height));
    return;
  }
  wrapBuffer();
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  m_show_rmse_band = true;
  Redraw();
  m_menu.setStyleSheet(qExtras::platformStyleSheet());
  resize(int(buffer.width), int(buffer.height));
}

qTimeline::~qTimeline() = default;

void qTimeline::wrapBuffer() {
  const ArrayMap<uint32_t> buffer = GetBuffer();
  // Shares the logic's memory: one row is the stride, so the image is that wide.
  m_buffer_image = std::make_unique<QImage>(reinterpret_cast<uchar*>(buffer.data),
                                            int(buffer.stride), int(buffer.height),
                                            qsizetype(buffer.stride) * 4, QImage::Format_RGB32);
}

// ---- the logic's hooks

void qTimeline::DrawText(double x, double y, const std::string& text) {
  m_texts.push_back({int(std::trunc(x)), int(std::trunc(y)), QString::fromLatin1(text)});
}

void qTimeline::Redraw() {
  repaint();
}

void qTimeline::RedrawRect(const uic::RubberBand&, int) {
  Redraw();
}

// ---- slots

void qTimeline::resetZoomX() {
  ResetZoomX();
}

void qTimeline::resetZoomY() {
  ResetZoomY();
}

void qTimeline::toggleCurve(QAction* action) {
  Notify(5, "qTimeline::toggleCurve: toggle curve handler called");
  if (action == nullptr) return;
  bool ok = false;
  const int ident = action->data().toInt(&ok);
  if (ok) ToggleCurve(ident);
}

void qTimeline::reset() {
  ResetZoom();
}

void qTimeline::removeSelectedKeyframes() {
  RemoveSelectedKeyframes();
}

void qTimeline::handleGlobalDataChanged() {
  Notify(5, "qTimeline::handleGlobalDataChanged: called");
}

// ---- events

void qTimeline::paintEvent(QPaintEvent*) {
  m_texts.clear();
  Repaint();
  {
    QPainter painter(this);
    if (m_buffer_image) painter.drawImage(QPoint(0, 0), *m_buffer_image);
  }
  QPainter painter(this);
  for (const Label& label : m_texts)
    painter.drawText(QPoint(label.x - 5, label.y + 15), label.text);
}

void qTimeline::resizeEvent(QResizeEvent* event) {
  const QSize size = event->size();
  if (size.width() == 0 || size.height() == 0) return;
  SetSize(size.width(), size.height());
  wrapBuffer();
}

void qTimeline::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  MouseClickEvent(ButtonCode(event->buttons()), p.x(), p.y());
}

void qTimeline::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  MouseDragEvent(m_button, p.x(), p.y());
}

void qTimeline::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  const int button = m_button;
  m_button = 0;
  MouseReleaseEvent(button, p.x(), p.y());
}

void qTimeline::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  // Horizontal scrolling (and a touchpad's sideways swipe) is no zoom.
  if (delta == 0) {
    event->ignore();
    return;
  }
  const int step = delta < 0 ? 5 : 4;
  m_button = uint8_t(step);
  const QPoint p = event->position().toPoint();
  MouseWheelEvent(step, p.x(), p.y());
}

void qTimeline::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  int code = 0;
  if (!text.isEmpty() && text.at(0).unicode() != 0 && text.at(0).unicode() < 256) {
    code = text.at(0).unicode();
  }
  if (event->modifiers() & Qt::ShiftModifier) code += kKeyShift;
  if (event->modifiers() & Qt::ControlModifier) code += kKeyCtrl;
  KeyPressEvent(code);
  event->accept();
}

void qTimeline::keyReleaseEvent(QKeyEvent* event) {
  KeyReleaseEvent(event->key());
  event->accept();
}

void qTimeline::contextMenuEvent(QContextMenuEvent* event) {
  m_menu.clear();
  auto* action = new QAction(tr("Reset"), this);
  action->setStatusTip(tr("Reset the time line"));
  connect(action, &QAction::triggered, this, &qTimeline::reset);
  m_menu.addAction(action);
  runMenu(m_menu, event->globalPos());
}

void qTimeline::runMenu(QMenu& menu, const QPoint& global) {
  menu.exec(global);
}
