// qScrubSlider: a spring-loaded jog slider. While the handle is held, every 50 ms the
// handle's deflection times the gain (5) is added to an accumulated value limited to
// [-2000, 2000], and transformedValueChanged announces the value after every tick (also
// when it did not change). Releasing the handle springs it back to 0 and stops the ticks;
// the accumulated value stays. The wheel never moves the handle.
//
// The slider's own range, orientation and tool tip belong to its owner, which may also
// read and write m_transformed_value directly (for example to clear it).
// Interface thread only.
#pragma once

#include <QSlider>
#include <QTimer>

class qScrubSlider : public QSlider {
  Q_OBJECT

 public:
  explicit qScrubSlider(QWidget* parent = nullptr);
  ~qScrubSlider() override;

  QTimer* m_timer;                   // the accumulation clock (child of the slider)
  double m_gain = 5.0;               // accumulated units per handle unit and tick
  double m_transformed_value = 0.0;  // the accumulated value
  double m_max_value = 2000.0;
  double m_min_value = -2000.0;
  int m_interval = 50;  // ms between ticks

 Q_SIGNALS:
  void transformedValueChanged(double value);

 public Q_SLOTS:
  // One tick: add value() * gain, limit, announce.
  void updateTransformedValue();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
};
