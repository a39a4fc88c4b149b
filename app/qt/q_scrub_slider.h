// qScrubSlider: a spring-loaded jog slider whose held deflection accumulates into a value.
#pragma once

#include <QSlider>

class qScrubSlider : public QSlider {
  Q_OBJECT

 public:
  explicit qScrubSlider(QWidget* parent = nullptr);
  ~qScrubSlider() override;
};
