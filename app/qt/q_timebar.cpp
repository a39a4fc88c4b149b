#include "app/qt/q_timebar.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QEasingCurve>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVariant>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "app/qt/q_extras.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/worker_pool.h"
#include "interaction/controller.h"
#include "interaction/sequence_property.h"

// The icons live in a static library: their registration must be referenced.
static void InitTimebarResources() {
  Q_INIT_RESOURCE(timebar);
}

namespace {

// Puts value into a spin box only where it differs, so that the box's change slot does
// not echo the value back.
void MirrorValue(QSpinBox* box, int value) {
  if (box->value() != value) box->setValue(value);
}

}  // namespace

qTimebar::qTimebar(QWidget* parent)
    : QWidget(parent), m_time_line(1000), m_controller(uic::Controller::Instance()) {
  InitTimebarResources();
  setupUi(this);

  connect(m_current_frame_sb, &QSpinBox::valueChanged, this, &qTimebar::setCurrentFrame);
  connect(m_start_frame_sb, &QSpinBox::valueChanged, this, &qTimebar::setStartFrame);
  connect(m_end_frame_sb, &QSpinBox::valueChanged, this, &qTimebar::setEndFrame);
  connect(m_start_frame_pb, &QPushButton::clicked, this, &qTimebar::updateStartFrame);
  connect(m_end_frame_pb, &QPushButton::clicked, this, &qTimebar::updateEndFrame);
  connect(m_goto_start_frame_pb, &QPushButton::clicked, this, &qTimebar::gotoStartFrame);
  connect(m_goto_end_frame_pb, &QPushButton::clicked, this, &qTimebar::gotoEndFrame);
  connect(m_goto_prev_frame_pb, &QPushButton::clicked, this, &qTimebar::gotoPrevFrame);
  connect(m_goto_next_frame_pb, &QPushButton::clicked, this, &qTimebar::gotoNextFrame);
  connect(m_play_backward_pb, &QPushButton::clicked, this, &qTimebar::playBackward);
  connect(m_play_forward_pb, &QPushButton::clicked, this, &qTimebar::playForward);
  connect(&m_time_line, &QTimeLine::frameChanged, this, &qTimebar::setCurrentFrame);
  connect(&m_time_line, &QTimeLine::finished, this, &qTimebar::finishPlaying);
  connect(m_show_error_bar_cb, &QCheckBox::stateChanged, this,
          &qTimebar::handleShowErrorBarCheckboxChange);
  m_controller->m_global_data_changed.Connect(this, &qTimebar::handleGlobalDataChanged);
  m_controller->m_current_frame_changed.Connect(this, &qTimebar::handleCurrentFrameChanged);
  m_controller->m_sequence_changed.Connect(this, &qTimebar::setFrameRate);

  m_menu.setStyleSheet(qExtras::platformStyleSheet());
  setSequenceRange(0, 1);
  // Qt 6's default curve eases in and out: playback must advance evenly.
  m_time_line.setEasingCurve(QEasingCurve::Linear);
  m_time_line.setUpdateInterval(40);
  updateTimeLine();
}

qTimebar::~qTimebar() = default;

// ---- the controller's notifications

void qTimebar::handleGlobalDataChanged() {
  Notify(5, "qTimebar::handleGlobalDataChanged: called");
}

void qTimebar::handleCurrentFrameChanged() {
  Notify(5, "qTimebar::handleCurrentFrameChanged: called");
  const int first = m_controller->GetStartFrame();
  const int last = m_controller->GetEndFrame();
  // A start or end box that changes sets the controller again (the same value), whose
  // notification comes back here with the boxes equal and sets the range before the box's
  // slot recomputes the duration.
  MirrorValue(m_current_frame_sb, m_controller->GetCurrentFrame());
  MirrorValue(m_start_frame_sb, first);
  MirrorValue(m_end_frame_sb, last);
  m_time_line.setFrameRange(first, last);
}

void qTimebar::setFrameRate() {
  const double rate = m_controller->GetSequenceProperty().m_frame_rate;
  if (rate <= 0.0) {
    Notify(2, "qTimebar::setFrameRate: bad frame rate %f", rate);
  } else {
    m_frame_rate = rate;
    Notify(5, "qTimebar::setFrameRate: set frame rate %f", rate);
    updateTimeLine();
  }
  if (m_controller->GetCTracker() != nullptr) {
    setSequenceRange(0, m_controller->GetNumberOfImages() - 1);
    m_timeline->ResetZoomX();
    m_timeline->Redraw();
  }
}

// ---- range and clock

void qTimebar::updateTimeLine() {
  const int start = m_time_line.startFrame();
  const int end = m_time_line.endFrame();
  if (start >= end) {
    Notify(2, "qTimebar::updateTimeLine: frame range [%d, %d]", start, end);
    return;
  }
  if (m_frame_rate <= 0.0) {
    Notify(2, "qTimebar::updateTimeLine: invalid frame rate %f", m_frame_rate);
    return;
  }
  // QTimeLine refuses a zero duration: very high rates and speeds keep 1 ms; very long
  // slow ones stop at the longest it holds.
  const double duration = std::trunc((end - start) * 1000.0 / (m_play_speed * m_frame_rate));
  m_time_line.setDuration(int(std::clamp(duration, 1.0, double(INT_MAX))));
  m_time_line.setUpdateInterval(int(std::max(1.0, std::trunc(1000.0 / m_frame_rate))));
}

void qTimebar::setSequenceRange(int start, int end) {
  Notify(5, "qTimebar::setSequenceRange: start,end (%d,%d) index ", start, end);
  if (end < start) {
    Notify(2, "qTimebar::setSequenceRange: start > end index (%d > %d)", start, end);
    return;
  }
  m_start_frame_sb->setRange(start, end);
  m_start_frame_sb->setValue(start);
  m_end_frame_sb->setRange(start, end);
  m_end_frame_sb->setValue(end);
  m_current_frame_sb->setValue(std::clamp(m_current_frame_sb->value(), start, end));
  m_current_frame_sb->setRange(start, end);
  m_time_line.setFrameRange(start, end);
  updateTimeLine();
}

// ---- slots

void qTimebar::setCurrentFrame(int frame) {
  Notify(5, "qTimebar::setCurrentFrame: controller -> setting frame %d", frame);
  m_controller->SetCurrentFrame(frame, false);
  // The frame cache loads the next frame while this one is shown; with one thread the
  // prefetch would compete with the display.
  if (WorkerPool::GetNumberOfThreads() < 2) return;
  if (m_play_forward_pb->isChecked()) {
    m_controller->PrefetchFrame(frame + 1);
  } else if (m_play_backward_pb->isChecked()) {
    m_controller->PrefetchFrame(frame - 1);
  }
}

void qTimebar::setStartFrame(int frame) {
  m_controller->SetStartFrame(frame);
  updateTimeLine();
}

void qTimebar::setEndFrame(int frame) {
  m_controller->SetEndFrame(frame);
  updateTimeLine();
}

void qTimebar::updateStartFrame() {
  setStartFrame(m_controller->GetCurrentFrame());
}

void qTimebar::updateEndFrame() {
  setEndFrame(m_controller->GetCurrentFrame());
}

void qTimebar::play(bool on, QTimeLine::Direction direction) {
  const bool forward = direction == QTimeLine::Forward;
  m_play_forward_pb->setChecked(forward && on);
  m_play_backward_pb->setChecked(!forward && on);
  // Stopped while it is placed: a running clock placed at its end would finish (and
  // release the button) in the middle of this.
  m_time_line.stop();
  m_time_line.setDirection(direction);
  // The time of the current frame at this speed: the duration is divided by the speed.
  const int offset = m_controller->GetCurrentFrame() - m_time_line.startFrame();
  m_time_line.setCurrentTime(int(std::trunc(1000.0 * offset / (m_frame_rate * m_play_speed))));
  if (on) m_time_line.resume();
}

void qTimebar::playForward(bool on) {
  play(on, QTimeLine::Forward);
}

void qTimebar::playBackward(bool on) {
  std::fprintf(stderr, "qTimebar::playBackward: state %ld\n", long(on));
  play(on, QTimeLine::Backward);
}

void qTimebar::finishPlaying() {
  switch (m_play_mode) {
    case kOnce:
      m_play_forward_pb->setChecked(false);
      m_play_backward_pb->setChecked(false);
      break;
    case kBounce:
      m_time_line.toggleDirection();
      m_time_line.start();
      break;
    default:  // Loop repeats without end and never finishes
      break;
  }
}

void qTimebar::gotoStartFrame() {
  setCurrentFrame(m_controller->GetStartFrame());
}

void qTimebar::gotoEndFrame() {
  setCurrentFrame(m_controller->GetEndFrame());
}

void qTimebar::gotoPrevFrame() {
  const int frame = m_controller->GetCurrentFrame();
  const int first = m_controller->GetStartFrame();
  // Unsigned: a current frame of -1 (none yet) counts as past the end.
  setCurrentFrame(unsigned(frame) > unsigned(first) ? frame - 1 : m_controller->GetEndFrame());
}

void qTimebar::gotoNextFrame() {
  const int next = m_controller->GetCurrentFrame() + 1;
  setCurrentFrame(unsigned(next) > unsigned(m_controller->GetEndFrame())
                      ? m_controller->GetStartFrame()
                      : next);
}

QVariant qTimebar::senderProperty(const char* name) const {
  const QObject* action = sender();
  return action != nullptr ? action->property(name) : QVariant();
}

void qTimebar::setPlayMode() {
  bool ok = false;
  const int mode = senderProperty("play_mode").toInt(&ok);
  if (!ok) return;
  m_play_mode = mode;
  if (mode == kOnce || mode == kBounce) {
    m_time_line.setLoopCount(1);
  } else if (mode == kLoop) {
    m_time_line.setLoopCount(0);
  }
}

void qTimebar::setPlaySpeed() {
  bool ok = false;
  const double speed = senderProperty("play_speed").toDouble(&ok);
  // A speed of 0 or below would give no duration at all.
  if (!ok || !(speed > 0.0)) return;
  m_play_speed = speed;
  updateTimeLine();
}

void qTimebar::handleShowErrorBarCheckboxChange(int state) {
  m_timeline->SetShowRmseBand(state == Qt::Checked);
  m_timeline->Redraw();
}

// ---- events

void qTimebar::contextMenuEvent(QContextMenuEvent* event) {
  m_menu.clear();
  // The speed submenu of the last opening (and its actions) goes with it.
  for (QMenu* old : m_menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) delete old;
  static const char* const kModes[] = {QT_TR_NOOP("Once"), QT_TR_NOOP("Loop"),
                                       QT_TR_NOOP("Bounce")};
  for (int mode = 0; mode < 3; ++mode) {
    auto* action = new QAction(tr(kModes[mode]), &m_menu);
    action->setProperty("play_mode", mode);
    connect(action, &QAction::triggered, this, &qTimebar::setPlayMode);
    m_menu.addAction(action);
  }
  m_menu.addSeparator();
  QMenu* speeds = m_menu.addMenu(QStringLiteral("Play Speed"));
  static const struct {
    const char* text;
    double speed;
  } kSpeeds[] = {{QT_TR_NOOP("x0.1"), 0.1}, {QT_TR_NOOP("x0.2"), 0.2}, {QT_TR_NOOP("x0.4"), 0.4},
                 {QT_TR_NOOP("x0.8"), 0.8}, {QT_TR_NOOP("x1.0"), 1.0}, {QT_TR_NOOP("x2.0"), 2.0},
                 {QT_TR_NOOP("x4.0"), 4.0}, {QT_TR_NOOP("x8.0"), 8.0}};
  for (const auto& s : kSpeeds) {
    auto* action = new QAction(tr(s.text), speeds);
    action->setProperty("play_speed", s.speed);
    connect(action, &QAction::triggered, this, &qTimebar::setPlaySpeed);
    speeds->addAction(action);
  }
  runMenu(m_menu, event->globalPos());
}

void qTimebar::runMenu(QMenu& menu, const QPoint& global) {
  menu.exec(global);
}

void qTimebar::resizeEvent(QResizeEvent*) {
  Notify(5, "qTimebar::resizeEvent: called");
}

// ---- helpers for the main window

void setSliderValue(QAbstractSlider* slider, int value, bool block) {
  if (block) slider->blockSignals(true);
  slider->setValue(value);
  if (block) slider->blockSignals(false);
}

void setButtonChecked(QAbstractButton* button, bool checked, bool block) {
  if (block) button->blockSignals(true);
  button->setChecked(checked);
  if (block) button->blockSignals(false);
}

void setLineEditText(QLineEdit* line_edit, const QString& text, bool block) {
  if (block) line_edit->blockSignals(true);
  line_edit->setText(text);
  if (block) line_edit->blockSignals(false);
}
