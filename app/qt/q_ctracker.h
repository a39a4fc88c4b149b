// qCTracker: the tracker the interface creates, a uic::MetaCTracker that is also a Qt
// object on the interface thread. It turns the tracking thread's three calls (show a frame,
// report progress, messages are waiting) into Qt signals and a posted event, so that all
// interface work happens on the interface thread, and announces the end of a run.
//
// Threads: SetDesiredFrame and SendProgressMsg emit on the tracking thread; receivers on
// the interface thread connect with the automatic type and so run queued. SendTrackingMsgItems
// posts a qTrackingMsgEvent to this object; its delivery (customEvent, interface thread)
// drains the message ring once, which runs TrackingFinished for the end of the run. Queued
// signals and the posted event share the interface thread's event queue, so every frame and
// progress report of a run is delivered before its end is handled. The object must live on
// the interface thread (it is created there).
//
// Lifetime: owned by the controller's global state once handed to it. Destroying it stops a
// run and joins the thread before the Qt object goes; events still queued for it are
// dropped by Qt.
#pragma once

#include <QEvent>
#include <QObject>

#include "interaction/meta_ctracker.h"

// The "messages are waiting" event: the handler to call with the tracker on the interface
// thread.
class qTrackingMsgEvent : public QEvent {
 public:
  using Handler = int (*)(uic::MetaCTracker*);

  qTrackingMsgEvent(Handler handler, uic::MetaCTracker* tracker);

  // The one event type of every tracking-message event of the process, registered with Qt
  // on first use (any thread). One type for all runs: Qt's range of user types is small.
  static QEvent::Type RegisteredType();

  Handler m_handler;
  uic::MetaCTracker* m_tracker;
};

class qCTracker : public QObject, public uic::MetaCTracker {
  Q_OBJECT

 public:
  qCTracker();
  ~qCTracker() override;

  // Tracking thread: emit frameChanged(frame).
  void SetDesiredFrame(int frame) override;
  // Tracking thread: emit progressBarChanged with the percentage ProgressPercent(fraction).
  void SendProgressMsg(double fraction) override;
  // Tracking thread: posts a qTrackingMsgEvent {TrackingMsgHandler, this} to this object.
  void SendTrackingMsgItems() override;
  // Interface thread, from the ring's code 2: logs the undo stack's size, closes the run
  // (MetaCTracker::TrackingFinished joins the thread), then emits trackingFinishedSignal.
  void TrackingFinished() override;

  // trunc(fraction x 100 + 0.5): 0.99 gives 99, 0.125 gives 13.
  static int ProgressPercent(double fraction);

 Q_SIGNALS:
  void trackingFinishedSignal();
  void frameChanged(int frame);
  void progressBarChanged(int percent);

 protected:
  // Interface thread: a qTrackingMsgEvent with a handler and a tracker calls the handler.
  void customEvent(QEvent* event) override;
};
