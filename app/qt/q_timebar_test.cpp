#include "app/qt/q_timebar.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QThread>
#include <algorithm>
#include <string>
#include <vector>

#include "app/qt/q_timeline.h"
#include "image/image_cache.h"
#include "interaction/timeline_for_test.h"
#include "testing/log_capture.h"
#include "testing/pool_threads.h"

namespace {

uic::Controller& C() {
  return *uic::Controller::Instance();
}

// The bar with a context menu that does not block: it records the entries (submenus by
// title, then their entries) and triggers the one named by `choose`.
class ProbeTimebar : public qTimebar {
 public:
  QString choose;
  QStringList shown;

 protected:
  void runMenu(QMenu& menu, const QPoint&) override {
    shown.clear();
    Walk(menu);
  }

 private:
  void Walk(QMenu& menu) {
    for (QAction* action : menu.actions()) {
      if (action->isSeparator()) continue;
      shown << action->text();
      EXPECT_FALSE(action->isCheckable()) << action->text().toStdString();
      if (action->menu() != nullptr) {
        Walk(*action->menu());
      } else if (action->text() == choose) {
        action->trigger();
      }
    }
  }
};

void Choose(ProbeTimebar& bar, const QString& entry) {
  bar.choose = entry;
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
  QApplication::sendEvent(&bar, &event);
}

// Every current frame the controller takes, a repeat of the same frame once.
class FrameRecorder : public HasSlots {
 public:
  FrameRecorder() { C().m_current_frame_changed.Connect(this, &FrameRecorder::Frame); }
  void Frame() {
    if (frames.empty() || frames.back() != C().GetCurrentFrame()) {
      frames.push_back(C().GetCurrentFrame());
    }
  }
  std::vector<int> frames;
};

// Runs the bar's clock as its timer does, without waiting: each tick adds the update
// interval to the time elapsed since the clock (re)started. QTimeLine::setCurrentTime
// counts loops afresh on each call, so a tick is handed over as the time within the loop,
// plus one whole loop on the tick that crosses into the next one (the clock then shows the
// end frame, wraps or finishes, as its own timer makes it do).
void Drive(qTimebar& bar, int ticks) {
  QTimeLine& clock = bar.m_time_line;
  const int d = clock.duration();
  int restarts = 0;
  QObject guard;
  QObject::connect(&clock, &QTimeLine::finished, &guard, [&restarts] { ++restarts; });
  auto elapsed_now = [&clock, d] {
    return clock.direction() == QTimeLine::Forward ? clock.currentTime() : d - clock.currentTime();
  };
  int elapsed = elapsed_now(), seen = 0;
  for (int i = 0; i < ticks && clock.state() == QTimeLine::Running; ++i) {
    const int loop = elapsed / d;
    elapsed += clock.updateInterval();
    const int within = elapsed % d + (elapsed / d != loop ? d : 0);
    clock.setCurrentTime(clock.direction() == QTimeLine::Forward ? within : d - within);
    if (restarts != seen) {  // Bounce started again from the other end
      seen = restarts;
      elapsed = elapsed_now();
    }
  }
}

// A controller tracker with n frames and the bar showing it (range 0 .. n-1, 25 fps).
class TimebarTest : public ::testing::Test {
 protected:
  explicit TimebarTest(int frames = 9) : job_(frames) {
    C().EmitSequenceChanged();  // as the window does once a sequence is shown
  }
  void SetRange(int first, int last) {
    C().SetStartFrame(first);
    C().SetEndFrame(last);
  }

  kxtest::FramesJob job_;
  ProbeTimebar bar_;
};

TEST_F(TimebarTest, FormHasItsNamesTextsAndSizes) {
  EXPECT_EQ(bar_.objectName(), "Timebar");
  EXPECT_EQ(bar_.minimumHeight(), 65);
  EXPECT_EQ(bar_.maximumHeight(), 250);
  EXPECT_EQ(bar_.m_start_frame_pb->text(), "Start");
  EXPECT_EQ(bar_.m_end_frame_pb->text(), "End");
  EXPECT_EQ(bar_.m_current_frame_sb->suffix(), " F");
  EXPECT_EQ(bar_.m_show_error_bar_cb->text(), "Show Error Bar");
  EXPECT_TRUE(bar_.m_show_error_bar_cb->isChecked());
  EXPECT_TRUE(bar_.m_play_forward_pb->isCheckable());
  EXPECT_TRUE(bar_.m_play_backward_pb->isCheckable());
  EXPECT_FALSE(bar_.m_goto_next_frame_pb->isCheckable());
  EXPECT_EQ(bar_.m_goto_start_frame_pb->toolTip(), "Go to first frame");
  // The icons are our own resources: each button shows one.
  for (QPushButton* b :
       {bar_.m_goto_start_frame_pb, bar_.m_goto_prev_frame_pb, bar_.m_play_backward_pb,
        bar_.m_play_forward_pb, bar_.m_goto_next_frame_pb, bar_.m_goto_end_frame_pb}) {
    EXPECT_FALSE(b->icon().pixmap(16, 16).isNull()) << b->objectName().toStdString();
  }
  // Checked, a play button shows the stop icon.
  for (QPushButton* b : {bar_.m_play_backward_pb, bar_.m_play_forward_pb}) {
    const QImage off = b->icon().pixmap(16, 16, QIcon::Normal, QIcon::Off).toImage();
    const QImage on = b->icon().pixmap(16, 16, QIcon::Normal, QIcon::On).toImage();
    EXPECT_NE(off, on);
    EXPECT_EQ(on,
              bar_.m_play_forward_pb->icon().pixmap(16, 16, QIcon::Normal, QIcon::On).toImage());
  }
  EXPECT_NE(bar_.m_timeline, nullptr);
  EXPECT_EQ(bar_.m_timeline->minimumHeight(), 20);
  EXPECT_EQ(bar_.m_time_line.easingCurve().type(), QEasingCurve::Linear);
}

TEST_F(TimebarTest, SequenceChangeShowsTheWholeSequenceAndItsRate) {
  EXPECT_EQ(bar_.m_start_frame_sb->value(), 0);
  EXPECT_EQ(bar_.m_end_frame_sb->value(), 8);
  EXPECT_EQ(bar_.m_current_frame_sb->maximum(), 8);
  EXPECT_EQ(C().GetStartFrame(), 0);
  EXPECT_EQ(C().GetEndFrame(), 8);
  EXPECT_EQ(bar_.m_time_line.startFrame(), 0);
  EXPECT_EQ(bar_.m_time_line.endFrame(), 8);
  EXPECT_EQ(bar_.m_time_line.duration(), 320);

  job_.tracker->m_frame_rate = 30.0;
  SetRange(2, 5);
  C().EmitSequenceChanged();
  EXPECT_EQ(bar_.m_frame_rate, 30.0);
  EXPECT_EQ(bar_.m_time_line.updateInterval(), 33);
  EXPECT_EQ(C().GetStartFrame(), 0);
  EXPECT_EQ(C().GetEndFrame(), 8);

  // A rate of 0 is refused, but the range is still the whole sequence again.
  job_.tracker->m_frame_rate = 0.0;
  SetRange(3, 4);
  kxtest::LogCapture log(5);
  C().EmitSequenceChanged();
  EXPECT_TRUE(log.Has("qTimebar::setFrameRate: bad frame rate 0.000000")) << log.text;
  EXPECT_EQ(bar_.m_frame_rate, 30.0);
  EXPECT_EQ(C().GetStartFrame(), 0);
  EXPECT_EQ(C().GetEndFrame(), 8);
  EXPECT_EQ(bar_.m_end_frame_sb->value(), 8);
}

TEST_F(TimebarTest, UpdateTimeLineDividesTheRangeByRateAndSpeed) {
  struct Case {
    int start, end;
    double rate, speed;
    int duration, interval;
  };
  const Case cases[] = {
      {0, 100, 25.0, 1.0, 4000, 40},
      {0, 199, 25.0, 8.0, 995, 40},
      {0, 10, 30.0, 1.0, 333, 33},
      {10, 20, 25.0, 0.1, 4000, 40},
      {0, 1, 24.0, 0.4, 104, 41},
      {0, 1, 2000.0, 8.0, 1, 1},  // below a millisecond: the shortest the clock takes
  };
  for (const Case& c : cases) {
    bar_.m_time_line.setFrameRange(c.start, c.end);
    bar_.m_frame_rate = c.rate;
    bar_.m_play_speed = c.speed;
    bar_.updateTimeLine();
    EXPECT_EQ(bar_.m_time_line.duration(), c.duration) << c.end << " x" << c.speed;
    EXPECT_EQ(bar_.m_time_line.updateInterval(), c.interval) << c.end << " x" << c.speed;
  }
}

TEST_F(TimebarTest, UpdateTimeLineLogsABadRangeOrRateAndKeepsTheClock) {
  bar_.m_time_line.setFrameRange(0, 100);
  bar_.updateTimeLine();
  ASSERT_EQ(bar_.m_time_line.duration(), 4000);
  kxtest::LogCapture log(5);
  bar_.m_time_line.setFrameRange(5, 5);
  bar_.updateTimeLine();
  EXPECT_TRUE(log.Has("qTimebar::updateTimeLine: frame range [5, 5]")) << log.text;
  EXPECT_EQ(bar_.m_time_line.duration(), 4000);

  bar_.m_time_line.setFrameRange(0, 50);
  bar_.m_frame_rate = 0.0;
  bar_.updateTimeLine();
  EXPECT_TRUE(log.Has("qTimebar::updateTimeLine: invalid frame rate 0.000000")) << log.text;
  EXPECT_EQ(bar_.m_time_line.duration(), 4000);
  EXPECT_EQ(bar_.m_time_line.updateInterval(), 40);
}

TEST_F(TimebarTest, SetSequenceRangeRefusesAnInvertedRange) {
  kxtest::LogCapture log(5);
  bar_.setSequenceRange(6, 2);
  EXPECT_TRUE(log.Has("qTimebar::setSequenceRange: start > end index (6 > 2)")) << log.text;
  EXPECT_EQ(bar_.m_end_frame_sb->maximum(), 8);
  EXPECT_EQ(C().GetEndFrame(), 8);
}

TEST_F(TimebarTest, RangeButtonsAndBoxesReachTheController) {
  C().SetCurrentFrame(3, false);
  EXPECT_EQ(bar_.m_current_frame_sb->value(), 3);
  bar_.m_start_frame_pb->click();
  EXPECT_EQ(C().GetStartFrame(), 3);
  EXPECT_EQ(bar_.m_start_frame_sb->value(), 3);
  EXPECT_EQ(bar_.m_time_line.duration(), 200);  // 3 .. 8 at 25 fps
  C().SetCurrentFrame(6, false);
  bar_.m_end_frame_pb->click();
  EXPECT_EQ(C().GetEndFrame(), 6);
  EXPECT_EQ(bar_.m_time_line.endFrame(), 6);
  EXPECT_EQ(bar_.m_time_line.duration(), 120);

  bar_.m_end_frame_sb->setValue(7);
  EXPECT_EQ(C().GetEndFrame(), 7);
  bar_.m_current_frame_sb->setValue(5);
  EXPECT_EQ(C().GetCurrentFrame(), 5);

  // A range changed elsewhere plays over the new range at the same rate.
  SetRange(1, 5);
  EXPECT_EQ(bar_.m_start_frame_sb->value(), 1);
  EXPECT_EQ(bar_.m_end_frame_sb->value(), 5);
  EXPECT_EQ(bar_.m_time_line.duration(), 160);
}

TEST_F(TimebarTest, GotoButtonsWrapAroundTheRange) {
  SetRange(2, 6);
  struct Case {
    int from;
    QPushButton* button;
    int to;
  };
  const Case cases[] = {
      {6, bar_.m_goto_next_frame_pb, 2},  {4, bar_.m_goto_next_frame_pb, 5},
      {2, bar_.m_goto_prev_frame_pb, 6},  {4, bar_.m_goto_prev_frame_pb, 3},
      {4, bar_.m_goto_start_frame_pb, 2}, {4, bar_.m_goto_end_frame_pb, 6},
  };
  for (const Case& c : cases) {
    C().SetCurrentFrame(c.from, false);
    c.button->click();
    EXPECT_EQ(C().GetCurrentFrame(), c.to) << c.button->objectName().toStdString() << c.from;
    EXPECT_EQ(bar_.m_current_frame_sb->value(), c.to);
  }
}

TEST_F(TimebarTest, ErrorBarSwitchShowsAndHidesTheBand) {
  struct Access : uic::TimelineBase {
    static bool uic::TimelineBase::*Band() { return &Access::m_show_rmse_band; }
  };
  uic::TimelineBase& timeline = *bar_.m_timeline;
  EXPECT_TRUE(timeline.*Access::Band());
  bar_.m_show_error_bar_cb->setChecked(false);
  EXPECT_FALSE(timeline.*Access::Band());
  bar_.m_show_error_bar_cb->setChecked(true);
  EXPECT_TRUE(timeline.*Access::Band());
}

TEST_F(TimebarTest, MenuOffersTheModesAndSpeedsFreshEachTime) {
  Choose(bar_, "Loop");
  const QStringList entries = {"Once", "Loop", "Bounce", "Play Speed", "x0.1", "x0.2",
                               "x0.4", "x0.8", "x1.0",   "x2.0",       "x4.0", "x8.0"};
  EXPECT_EQ(bar_.shown, entries);
  EXPECT_EQ(bar_.m_play_mode, qTimebar::kLoop);
  EXPECT_EQ(bar_.m_time_line.loopCount(), 0);
  Choose(bar_, "Bounce");
  EXPECT_EQ(bar_.shown, entries);
  EXPECT_EQ(bar_.m_play_mode, qTimebar::kBounce);
  EXPECT_EQ(bar_.m_time_line.loopCount(), 1);
  Choose(bar_, "x4.0");
  EXPECT_EQ(bar_.m_play_speed, 4.0);
  EXPECT_EQ(bar_.m_time_line.duration(), 80);  // 0 .. 8 at 25 fps x4
}

struct PlayCase {
  const char* mode;
  const char* speed;
  bool forward;
  int from;
  int ticks;
  std::vector<int> frames;  // the controller's frames, from the first one
  bool stopped;
};

TEST_F(TimebarTest, PlaybackVisitsTheFramesOfEachModeAndSpeed) {
  const PlayCase cases[] = {
      {"Once", "x1.0", true, 0, 20, {0, 1, 2, 3, 4, 5, 6, 7, 8}, true},
      {"Once", "x1.0", false, 8, 20, {8, 7, 6, 5, 4, 3, 2, 1, 0}, true},
      {"Once", "x2.0", true, 0, 20, {0, 2, 4, 6, 8}, true},
      {"Once", "x2.0", true, 3, 20, {3, 5, 7, 8}, true},  // starts where it is
      {"Once", "x2.0", false, 5, 20, {5, 3, 1, 0}, true},
      {"Loop", "x1.0", true, 5, 7, {5, 6, 7, 8, 0, 1, 2, 3, 4}, false},
      {"Loop", "x2.0", false, 4, 4, {4, 2, 0, 8, 6, 4}, false},
      {"Bounce", "x1.0", true, 5, 9, {5, 6, 7, 8, 7, 6, 5, 4, 3, 2}, false},
      {"Bounce", "x2.0", true, 0, 10, {0, 2, 4, 6, 8, 6, 4, 2, 0, 2, 4}, false},
  };
  for (const PlayCase& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + c.speed +
                 (c.forward ? " forward from " : " back from ") + std::to_string(c.from));
    Choose(bar_, c.mode);
    Choose(bar_, c.speed);
    C().SetCurrentFrame(c.from, false);
    FrameRecorder recorder;
    recorder.frames = {c.from};
    QPushButton* button = c.forward ? bar_.m_play_forward_pb : bar_.m_play_backward_pb;
    button->click();
    EXPECT_TRUE(button->isChecked());
    EXPECT_EQ(C().GetCurrentFrame(), c.from);  // pressing play does not move yet
    Drive(bar_, c.ticks);
    EXPECT_EQ(recorder.frames, c.frames);
    EXPECT_EQ(bar_.m_time_line.state() == QTimeLine::NotRunning, c.stopped);
    EXPECT_EQ(button->isChecked(), !c.stopped);
    if (!c.stopped) button->click();  // stop
    EXPECT_EQ(bar_.m_time_line.state(), QTimeLine::NotRunning);
    EXPECT_FALSE(button->isChecked());
  }
}

TEST_F(TimebarTest, PlayingOneWayReleasesTheOtherButton) {
  C().SetCurrentFrame(4, false);
  bar_.m_play_forward_pb->click();
  bar_.m_play_backward_pb->click();
  EXPECT_FALSE(bar_.m_play_forward_pb->isChecked());
  EXPECT_TRUE(bar_.m_play_backward_pb->isChecked());
  EXPECT_EQ(bar_.m_time_line.direction(), QTimeLine::Backward);
  EXPECT_EQ(bar_.m_time_line.state(), QTimeLine::Running);
  bar_.m_play_backward_pb->click();
  EXPECT_EQ(bar_.m_time_line.state(), QTimeLine::NotRunning);
}

// True once the frame cache holds frame; gives up after 10 s (the prefetch thread loads it).
bool Cached(int frame) {
  ImageCache& cache = *C().GetCTracker()->GetImageCache();
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 10000) {
    const std::vector<int> frames = cache.GetCachedFrames();
    if (std::find(frames.begin(), frames.end(), frame) != frames.end()) return true;
    QThread::msleep(5);
  }
  return false;
}

TEST_F(TimebarTest, PlayingPrefetchesTheNextFrameInItsDirection) {
  kxtest::PoolThreads threads(2);
  for (bool forward : {true, false}) {
    QPushButton* button = forward ? bar_.m_play_forward_pb : bar_.m_play_backward_pb;
    C().SetCurrentFrame(forward ? 3 : 7, false);
    button->click();
    Drive(bar_, 1);
    ASSERT_EQ(C().GetCurrentFrame(), forward ? 4 : 6);
    EXPECT_TRUE(Cached(5)) << forward;  // after 4 forward, before 6 backward
    button->click();
    C().GetCTracker()->GetImageCache()->ClearCache();
  }
}

TEST(WidgetSetters, BlockTheSignalsOnlyWhenAskedAndUnblockAfter) {
  QSlider slider;
  QPushButton button;
  button.setCheckable(true);
  QLineEdit edit;
  int changes = 0;
  QObject::connect(&slider, &QSlider::valueChanged, [&changes] { ++changes; });
  QObject::connect(&button, &QPushButton::toggled, [&changes] { ++changes; });
  QObject::connect(&edit, &QLineEdit::textChanged, [&changes] { ++changes; });
  setSliderValue(&slider, 7, true);
  setButtonChecked(&button, true, true);
  setLineEditText(&edit, "a", true);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(slider.value(), 7);
  EXPECT_TRUE(button.isChecked());
  EXPECT_EQ(edit.text(), "a");
  EXPECT_FALSE(slider.signalsBlocked() || button.signalsBlocked() || edit.signalsBlocked());
  // Blocked before the call: unblocked afterwards all the same.
  edit.blockSignals(true);
  setLineEditText(&edit, "b", true);
  EXPECT_FALSE(edit.signalsBlocked());
  setSliderValue(&slider, 8, false);
  setButtonChecked(&button, false, false);
  setLineEditText(&edit, "c", false);
  EXPECT_EQ(changes, 3);
}

}  // namespace
