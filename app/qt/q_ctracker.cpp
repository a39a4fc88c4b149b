#include "app/qt/q_ctracker.h"

#include <QCoreApplication>

#include "foundation/runtime/notify.h"
#include "interaction/undo_stack.h"

qTrackingMsgEvent::qTrackingMsgEvent(Handler handler, uic::MetaCTracker* tracker)
    : QEvent(RegisteredType()), m_handler(handler), m_tracker(tracker) {}

QEvent::Type qTrackingMsgEvent::RegisteredType() {
  static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
  return type;
}

qCTracker::qCTracker() : QObject(nullptr) {}

qCTracker::~qCTracker() {
  // The thread calls this class's overrides: it must be gone before they are.
  StopAndJoin();
}

void qCTracker::SetDesiredFrame(int frame) {
  Notify(5, "qCTracker::SetDesiredFrame: %d", frame);
  Q_EMIT frameChanged(frame);
}

void qCTracker::SendProgressMsg(double fraction) {
  Notify(5, "qCTracker::SendProgressMsg: %lf", fraction);
  Q_EMIT progressBarChanged(ProgressPercent(fraction));
}

int qCTracker::ProgressPercent(double fraction) {
  return int(fraction * 100.0 + 0.5);
}

void qCTracker::SendTrackingMsgItems() {
  Notify(5, "qCTracker::SendTrackingMsgItems:");
  QCoreApplication::postEvent(this, new qTrackingMsgEvent(&MetaCTracker::TrackingMsgHandler, this),
                              Qt::NormalEventPriority);
}

void qCTracker::customEvent(QEvent* event) {
  Notify(5, "qCTracker::customEvent:");
  if (event->type() != qTrackingMsgEvent::RegisteredType()) return;
  auto* message = static_cast<qTrackingMsgEvent*>(event);
  if (message->m_handler && message->m_tracker) {
    Notify(5, "qCTracker::customEvent: call handler");
    message->m_handler(message->m_tracker);
  }
}

void qCTracker::TrackingFinished() {
  Notify(5, "qCTracker::trackingFinished: size of undo stacks %g MB",
         double(UndoStack::Instance().GetSize()) * 0.001);
  MetaCTracker::TrackingFinished();
  Q_EMIT trackingFinishedSignal();
}
