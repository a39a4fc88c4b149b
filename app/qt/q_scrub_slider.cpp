#include "app/qt/q_scrub_slider.h"

#include <QMouseEvent>
#include <QWheelEvent>

qScrubSlider::qScrubSlider(QWidget* parent) : QSlider(parent), m_timer(new QTimer(this)) {
  m_timer->setInterval(m_interval);
  connect(m_timer, &QTimer::timeout, this, &qScrubSlider::updateTransformedValue);
}

qScrubSlider::~qScrubSlider() = default;

void qScrubSlider::updateTransformedValue() {
  m_transformed_value += value() * m_gain;
  if (m_transformed_value >= m_max_value) m_transformed_value = m_max_value;
  if (m_transformed_value <= m_min_value) m_transformed_value = m_min_value;
  Q_EMIT transformedValueChanged(m_transformed_value);
}

void qScrubSlider::mousePressEvent(QMouseEvent* event) {
  QSlider::mousePressEvent(event);
  m_timer->start();
}

void qScrubSlider::mouseReleaseEvent(QMouseEvent* event) {
  QSlider::mouseReleaseEvent(event);
  m_timer->stop();
  // The handle springs back; the accumulated value stays.
  setValue(0);
}

void qScrubSlider::wheelEvent(QWheelEvent* event) {
  event->ignore();
}
