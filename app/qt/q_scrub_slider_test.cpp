#include "app/qt/q_scrub_slider.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <vector>

namespace {

class ScrubSliderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    slider_.setRange(-50, 50);
    slider_.setOrientation(Qt::Horizontal);
    slider_.resize(200, 20);
    QObject::connect(&slider_, &qScrubSlider::transformedValueChanged,
                     [this](double v) { emitted_.push_back(v); });
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) slider_.updateTransformedValue();
  }
  void Mouse(QEvent::Type type, Qt::MouseButtons held) {
    const QPointF at(100, 10);
    QMouseEvent event(type, at, slider_.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(&slider_, &event);
  }

  qScrubSlider slider_;
  std::vector<double> emitted_;
};

TEST_F(ScrubSliderTest, FullDeflectionReachesTheLimitInEightTicksAndKeepsAnnouncingIt) {
  EXPECT_EQ(slider_.m_timer->interval(), 50);
  slider_.setValue(50);
  Ticks(9);
  const std::vector<double> expected = {250, 500, 750, 1000, 1250, 1500, 1750, 2000, 2000};
  EXPECT_EQ(emitted_, expected);
  slider_.setValue(-50);
  Ticks(17);
  EXPECT_EQ(slider_.m_transformed_value, -2000.0);
  EXPECT_EQ(emitted_.back(), -2000.0);
}

TEST_F(ScrubSliderTest, HandleAtZeroStillAnnouncesTheOwnersValue) {
  slider_.m_transformed_value = 123.0;  // the owner may write it
  Ticks(2);
  EXPECT_EQ(emitted_, (std::vector<double>{123.0, 123.0}));
}

TEST_F(ScrubSliderTest, ReleaseSpringsBackAndStopsButKeepsTheValue) {
  Mouse(QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_TRUE(slider_.m_timer->isActive());
  slider_.setValue(30);
  Ticks(1);
  Mouse(QEvent::MouseButtonRelease, Qt::NoButton);
  EXPECT_FALSE(slider_.m_timer->isActive());
  EXPECT_EQ(slider_.value(), 0);
  EXPECT_EQ(slider_.m_transformed_value, 150.0);
}

TEST_F(ScrubSliderTest, WheelMovesNothing) {
  for (int delta : {120, -120}) {
    QWheelEvent event(QPointF(100, 10), QPointF(100, 10), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&slider_, &event);
  }
  EXPECT_EQ(slider_.value(), 0);
  EXPECT_EQ(slider_.m_transformed_value, 0.0);
  EXPECT_FALSE(slider_.m_timer->isActive());
  EXPECT_TRUE(emitted_.empty());
}

}  // namespace
