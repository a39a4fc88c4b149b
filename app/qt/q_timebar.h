// qTimebar: the playback bar under the viewer: the current-frame spin box, the tracking
// range (Start/End buttons and spin boxes), the Show Error Bar switch, six transport
// buttons and, below them, the curve timeline `m_timeline` (a qTimeline). The form is
// timebar.ui (Ui::Timebar).
//
// Playback runs on a QTimeLine whose frame range is the tracking range: it interpolates
// linearly from the first to the last frame over
//   duration = trunc((last - first) * 1000 / (speed * rate)) ms
// and emits frameChanged every trunc(1000 / rate) ms; each frame becomes the controller's
// current frame (with two or more worker threads the next frame in the playing direction
// is prefetched). Play starts from the current frame: its time into the range is
// trunc(1000 * (frame - first) / (rate * speed)) ms, so it starts there at every speed.
// Modes: Once stops at the end and releases the play button, Loop repeats forever,
// Bounce turns round at each end. The context menu chooses the mode and the speed
// (x0.1 .. x8.0).
//
// The bar follows the controller: its current-frame notification (also sent for range
// changes) updates the spin boxes where they differ and the time line's range, its
// sequence notification takes the sequence's frame rate and resets the range to the whole
// sequence. Bad ranges and rates are logged (level 2) and change nothing.
//
// Interface thread only.
#pragma once

#include <QMenu>
#include <QTimeLine>
#include <QVariant>
#include <QWidget>

#include "app/qt/ui_timebar.h"
#include "foundation/runtime/signal.h"

class QAbstractButton;
class QAbstractSlider;
class QLineEdit;
class QString;
namespace uic {
class Controller;
}

class qTimebar : public QWidget, public Ui::Timebar, public HasSlots {
  Q_OBJECT

 public:
  enum PlayMode { kOnce = 0, kLoop = 1, kBounce = 2 };

  // No parent: the owner's layout adopts the bar. Range 0..1, 25 fps, speed 1, Once.
  explicit qTimebar(QWidget* parent = nullptr);
  ~qTimebar() override;

  // Duration and update interval from the time line's frame range, the rate and the
  // speed; an empty range or a rate <= 0 is logged and keeps the old values.
  void updateTimeLine();
  // The three spin boxes' ranges become [start, end] (the current frame clamped into it),
  // the start and end boxes show start and end, and the time line plays that range. The
  // boxes' changes reach the controller. end < start is logged and changes nothing.
  void setSequenceRange(int start, int end);
  // The controller's sequence changed: its frame rate (<= 0 is logged and the old rate
  // kept), then, with a tracker, the range becomes the whole sequence and the timeline's
  // frame axis is reset.
  void setFrameRate();
  // The controller's current frame or range changed.
  void handleCurrentFrameChanged();

  // The playback clock, its mode (PlayMode), frames per second and speed factor.
  QTimeLine m_time_line;
  int m_play_mode = kOnce;
  double m_frame_rate = 25.0;
  double m_play_speed = 1.0;

 public Q_SLOTS:
  void setCurrentFrame(int frame);
  void setStartFrame(int frame);
  void setEndFrame(int frame);
  void updateStartFrame();
  void updateEndFrame();
  void playBackward(bool on);
  void playForward(bool on);
  void finishPlaying();
  void gotoStartFrame();
  void gotoEndFrame();
  void gotoPrevFrame();
  void gotoNextFrame();
  // Read the sending action's "play_mode" (int) and "play_speed" (double) properties.
  void setPlayMode();
  void setPlaySpeed();
  void handleShowErrorBarCheckboxChange(int state);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

  // Opens the menu at global; tests replace it so that no menu loop runs.
  virtual void runMenu(QMenu& menu, const QPoint& global);

  uic::Controller* m_controller;
  QMenu m_menu;

 private:
  void handleGlobalDataChanged();
  // The property of the action that sent the running slot; invalid without a sender.
  QVariant senderProperty(const char* name) const;
  // Shared by both play buttons: direction, start time, then resume or stop.
  void play(bool on, QTimeLine::Direction direction);
};

// Set a widget's value, check state or text; with block the widget's signals are blocked
// for the change and unblocked afterwards (not restored to what they were).
void setSliderValue(QAbstractSlider* slider, int value, bool block);
void setButtonChecked(QAbstractButton* button, bool checked, bool block);
void setLineEditText(QLineEdit* line_edit, const QString& text, bool block);
