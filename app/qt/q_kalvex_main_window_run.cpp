// Tracking run control of the main window: Track, Stop and Refine, the running state,
// progress and remaining time, following the processed frame, and the end of a run with
// its result, quality bar and, in batch mode, the exports.
#include <QApplication>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QStringList>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/batch_frame_check.h"
#include "app/batch_run.h"
#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/split_path.h"
#include "image/image_cache.h"
#include "interaction/controller.h"
#include "interaction/tracking_quality.h"
#include "tracking/maps/feature_map.h"

namespace {

constexpr qint64 kDayMs = 24LL * 60 * 60 * 1000;

// A run's result box: no parent, the platform style sheet, modal.
void ShowResultBox(QMessageBox::Icon icon, const QString& text, const QPixmap& pixmap) {
  QMessageBox box;
  box.setIcon(icon);
  if (!pixmap.isNull()) box.setIconPixmap(pixmap);
  box.setText(text);
  box.setStyleSheet(qExtras::platformStyleSheet());
  box.exec();
}

}  // namespace

QString qKalvexMainWindow::clockText(qint64 milliseconds) {
  const qint64 of_day = ((milliseconds % kDayMs) + kDayMs) % kDayMs;
  return QTime(0, 0).addMSecs(int(of_day)).toString(QStringLiteral("hh:mm:ss"));
}

QString qKalvexMainWindow::remainingTimeText(int percent, qint64 elapsed_ms) {
  if (percent <= 0) return tr("N/A");
  const qint64 per_percent = elapsed_ms / percent;
  return tr("Time remaining: ") + clockText((100 - percent) * per_percent) + tr(" (Total: ") +
         clockText(100 * per_percent) + tr(")");
}

int qKalvexMainWindow::qualityPercent(double quality) {
  return int(quality * 100 + 0.5);
}

QImage qKalvexMainWindow::drawQualityBar(int start, int end, double scale,
                                         const std::function<double(int)>& mean_squared_error) {
  if (end < start) return QImage();
  const int step = (end - start) / 200 + 1;
  // One column per step, the last frame's included.
  const int width = (end - start) / step + 1;
  QImage image(width, 32, QImage::Format_RGB32);
  image.fill(QColor(80, 80, 80));
  for (int frame = start, x = 0; frame <= end; frame += step, ++x) {
    const double mse = mean_squared_error(frame);
    // Frames without a solved camera store a negative error.
    if (!(mse > 0.0)) continue;
    const double v = scale > 0.0 ? std::clamp(std::sqrt(mse) / scale, 0.0, 1.0) : 1.0;
    const int g = int(v * 255);
    const QRgb colour = qRgb(g, 255 - g, 0);
    for (int y = int(v * 32); y < 32; ++y) image.setPixel(x, y, colour);
  }
  QPainter painter(&image);
  painter.setPen(QColor(50, 50, 50));
  painter.drawLine(0, 0, width - 1, 0);
  return image;
}

void qKalvexMainWindow::setupTrackingPageView() {
  uic::ViewerBase* viewer = mainViewer();
  if (viewer == nullptr) return;
  uic::ViewerState state = viewer->GetViewerState();
  state.m_mode = 0;
  state.m_flags = 0x2F01;
  viewer->SetViewerState(state);
  viewer->SetEditMode(m_automatic_features_pb->isChecked() ? uic::ViewerBase::eEditAutoFeatures
                                                           : uic::ViewerBase::eEditManualFeatures);
  m_controller->EmitViewerModeChanged();
}

namespace {

// At most ten frames by name, then how many more.
QString FrameFaultList(const std::vector<FrameFault>& faults, bool sizes, int width, int height) {
  QStringList lines;
  for (size_t k = 0; k < faults.size() && k < 10; ++k) {
    const FrameFault& fault = faults[k];
    const QString file = QDir::toNativeSeparators(QString::fromStdString(fault.file));
    lines << (sizes ? qKalvexMainWindow::tr("Frame %1 \"%2\" is %3, the sequence %4 x %5.")
                          .arg(fault.number)
                          .arg(file, QString::fromStdString(fault.what))
                          .arg(width)
                          .arg(height)
                    : qKalvexMainWindow::tr("Frame %1 \"%2\": %3")
                          .arg(fault.number)
                          .arg(file, QString::fromStdString(fault.what)));
  }
  if (faults.size() > 10) {
    lines << qKalvexMainWindow::tr("... and %1 more.").arg(int(faults.size()) - 10);
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

bool qKalvexMainWindow::checkSequenceFrames() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  ImageCache* cache = tracker ? tracker->GetImageCache() : nullptr;
  if (cache == nullptr) return true;
  const PackedStringListPtr files = cache->GetFileList();
  // A movie file checks its own frames as it reads them.
  if (!files || cache->GetSourceKind() != 0 || files == m_checked_frames) return true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const SequenceFrameCheck check = CheckSequenceFrames(*files);
  QApplication::restoreOverrideCursor();
  for (const FrameFault& fault : check.unreadable) {
    Notify(2, "frame %d \"%s\" %s", int(fault.number), fault.file.c_str(), fault.what.c_str());
  }
  for (const FrameFault& fault : check.other_size) {
    Notify(2, "frame %d \"%s\" is %s, the sequence %d x %d", int(fault.number), fault.file.c_str(),
           fault.what.c_str(), int(check.width), int(check.height));
  }
  const bool refused = check.width == 0 || !check.other_size.empty();
  if (m_batch_mode) {
    // No one to ask: refused frames end the batch, unreadable ones are logged above.
    if (refused) Notify(2, "the sequence cannot be tracked as one shot; not tracked");
    if (!refused) m_checked_frames = files;
    return !refused;
  }
  if (refused) {
    const QString text =
        check.width == 0
            ? tr("No frame of the sequence can be read. Not tracked.\n\n%1")
                  .arg(FrameFaultList(check.unreadable, false, 0, 0))
            : tr("The sequence has frames of different sizes: one camera cannot have shot "
                 "them. Not tracked.\n\n%1")
                  .arg(FrameFaultList(check.other_size, true, check.width, check.height));
    QMessageBox box(QMessageBox::Critical, tr("Tracking"), text, QMessageBox::Ok, this);
    qExtras::runMessageBox(box);
    return false;
  }
  if (!check.unreadable.empty()) {
    QMessageBox box(QMessageBox::Warning, tr("Tracking"),
                    tr("%n frame(s) of the sequence cannot be read; they would be tracked as "
                       "empty pictures.\n\n%1\n\nTrack anyway?",
                       nullptr, int(check.unreadable.size()))
                        .arg(FrameFaultList(check.unreadable, false, 0, 0)),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    if (qExtras::runMessageBox(box) != QMessageBox::Yes) return false;
  }
  m_checked_frames = files;
  return true;
}

void qKalvexMainWindow::handleTrackButtonClick() {
  setupTrackingPageView();
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) return;
  if (!checkSequenceFrames()) {
    if (m_batch_mode) QTimer::singleShot(0, this, &qKalvexMainWindow::finishBatchRun);
    return;
  }
  Notify(5, "qMainWin::startTracking: tracking STARTED");
  disableGuiWhileTracking(true);
  m_tracking_running = true;
  // The run gets its own copy; the check box is not a stored setting.
  TrackingSettings settings = *m_controller->GetTrackingSettings();
  settings.m_perform_final_refinement = m_final_refinement_cb->isChecked();
  if (m_tracking_sw->currentIndex() == 1) {
    tracker->StartManualTracking(settings);
  } else {
    tracker->StartAutomaticTracking(settings);
  }
  m_controller->SetModified(true);
}

void qKalvexMainWindow::handleTrackStopButtonClick() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr || !tracker->IsTracking()) return;
  Notify(5, "qMainWin::startTracking: tracking STOPPED");
  tracker->StopTracking();
  disableGuiWhileTracking(false);
  m_tracking_running = false;
}

void qKalvexMainWindow::handleRefinementButtonClick() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) return;
  if (tracker->IsTracking()) {
    tracker->StopTracking();
    disableGuiWhileTracking(false);
    m_tracking_running = false;
    return;
  }
  disableGuiWhileTracking(true);
  m_tracking_running = true;
  tracker->StartRefinement(*m_controller->GetTrackingSettings());
}

void qKalvexMainWindow::startBatchTracking(const std::string& project_template) {
  m_batch_mode = true;
  m_batch_project_template = project_template;
  if (m_controller->GetCTracker() == nullptr) {
    // No run would ever end this batch: end it as soon as the event loop runs.
    QTimer::singleShot(0, this, &qKalvexMainWindow::finishBatchRun);
    return;
  }
  handleTrackButtonClick();
}

void qKalvexMainWindow::disableGuiWhileTracking(bool running) {
  for (QWidget* page : {m_toolbox_distortion_page, m_toolbox_export_page, m_toolbox_mask_page,
                        m_toolbox_scene_page, m_toolbox_sequence_page}) {
    setToolboxPageEnabled(page, !running);
  }
  for (QWidget* widget :
       {static_cast<QWidget*>(m_feature_tracking_gb), static_cast<QWidget*>(m_camera_tracking_gb),
        static_cast<QWidget*>(m_visualization_cb), static_cast<QWidget*>(m_final_refinement_cb)}) {
    widget->setEnabled(!running);
  }
  if (running) {
    m_tracking_buttons_sw->setCurrentWidget(m_stop_tracking_page);
    m_run_clock.start();
  } else {
    m_tracking_buttons_sw->setCurrentWidget(m_start_tracking_page);
    m_time_remaining_l->setText(QString());
  }
}

void qKalvexMainWindow::updateTrackingProgress(int percent) {
  m_tracking_progress->setValue(percent);
  m_time_remaining_l->setText(
      remainingTimeText(percent, m_run_clock.isValid() ? m_run_clock.elapsed() : 0));
}

void qKalvexMainWindow::handleTrackingFrameChange(int frame) {
  if (!m_visualization_cb->isChecked()) m_controller->SetCurrentFrame(frame, false);
}

void qKalvexMainWindow::showTrayMessage(const QString& title, const QString& text) {
  if (m_tray_icon != nullptr && QSystemTrayIcon::isSystemTrayAvailable()) {
    m_tray_icon->showMessage(title, text, QSystemTrayIcon::Information, 10000);
  } else {
    // No tray to tell it: the log keeps the result.
    Notify(3, "%s: %s", title.toUtf8().constData(),
           QString(text).replace('\n', ' ').toUtf8().constData());
  }
}

void qKalvexMainWindow::finishTracking() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) return;
  uic::ViewerBase* viewer = mainViewer();
  if (tracker->HasCameraTrackingResult()) {
    const SharedPtr<FeatureMap> map = tracker->GetFeatureMap();
    const double quality = uic::GetTrackQuality(map ? map->GetRMSE() : -1.0);
    const int percent = qualityPercent(quality);
    m_tracking_progress->setValue(percent);
    if (viewer != nullptr) {
      // The undistorted frame with the solved scene, without features, masks and lines.
      uic::ViewerState state = viewer->GetViewerState();
      state.m_flags = (state.m_flags & ~0xAE10) | 0x14E;
      viewer->SetViewerState(state);
      viewer->Redraw();
    }
    // The rounded percentage the bar shows, not the number with its stray half.
    const QString quality_text = QString::number(percent);
    if (!m_batch_mode) {
      createQualityPixmap();
      if (isVisible()) {
        ShowResultBox(QMessageBox::NoIcon,
                      tr("Tracking result:\n\nfinished with quality ") + quality_text + "%",
                      m_quality_pixmap);
      }
    } else {
      showTrayMessage(tr("Tracking finished"),
                      tr("Tracking result:\nfinished with quality ") + quality_text + "%");
    }
    m_locator_gb->setEnabled(true);
  } else {
    m_tracking_progress->setValue(0);
    // An unattended batch run never waits for a click.
    if (isVisible() && !m_batch_mode) {
      ShowResultBox(QMessageBox::Warning, tr("Tracking result:\n\nfailed to construct scene"),
                    QPixmap());
    } else {
      showTrayMessage(tr("Tracking finished"), tr("Tracking result:\nfailed to construct scene"));
    }
  }
  disableGuiWhileTracking(false);
  m_tracking_running = false;
  updateStatusInfo();
  Notify(5, "qKalvexMainWindow::finishTracking: finishTracking() called");
  m_controller->SetCurrentFrame(m_controller->GetStartFrame(), false);
  if (viewer != nullptr) viewer->Redraw();
  m_timeline->update();
  if (m_batch_mode) finishBatchRun();
}

void qKalvexMainWindow::finishBatchRun() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  int code = kExitFailed;
  if (tracker == nullptr) {
    Notify(2, "qKalvexMainWindow::finishTracking: camera tracking manager not set");
  } else {
    bool project_saved = true;
    if (!m_batch_project_template.empty()) {
      // "%path%" stands for the folder of the sequence's first image.
      std::string name = m_batch_project_template;
      if (name.compare(0, 6, "%path%") == 0) {
        std::string directory, file;
        const char* first = tracker->GetImageCache()->GetImageFileName(0);
        SplitPath(first != nullptr ? first : "", &directory, &file);
        name = (directory.empty() ? std::string(".") : directory) + "/" + name.substr(6);
      }
      m_extras->setProjectPath(QFile::decodeName(name.c_str()));
      // Saved here, not through the file actions: those ask the user when a save fails.
      project_saved = tracker->SaveProject(name.c_str(), true);
      if (project_saved) {
        m_controller->SetModified(false);
        std::fprintf(stderr, "kalvex: saved the project \"%s\"\n", name.c_str());
      } else {
        std::fprintf(stderr, "kalvex: the project \"%s\" could not be saved\n", name.c_str());
      }
    }
    // The summary, every export (each failure contained and named) and the exit code.
    code = FinishBatchRun(*tracker, stderr);
    if (!project_saved) code = kExitFailed;
  }
  m_batch_exit_code = code;
  // The tracking thread is joined by now (the end of the run joins it before the finished
  // signal): the event loop returns the code and main tears down in order. Outside an event
  // loop (a test) there is nothing to end, and ending one would end the next one at once.
  if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(code);
}

void qKalvexMainWindow::createQualityPixmap() {
  auto* tracker = dynamic_cast<qCTracker*>(m_controller->GetCTracker());
  if (tracker == nullptr) return;
  const int start = m_controller->GetStartFrame();
  const int end = m_controller->GetEndFrame();
  const int images = m_controller->GetNumberOfImages();
  const SharedPtr<FeatureImage> first =
      images > 0 ? tracker->GetFImage(0) : SharedPtr<FeatureImage>();
  const double scale = uic::GetErrorScaleForImageWidth(first ? int(first->GetWidth()) : 0);
  const QImage bar = drawQualityBar(start, end, scale, [&](int frame) {
    if (frame < 0 || frame >= images) return -1.0;
    const SharedPtr<FeatureImage>& image = tracker->GetFImage(unsigned(frame));
    return image ? image->GetMeanSquaredError() : -1.0;
  });
  if (!bar.isNull()) m_quality_pixmap = QPixmap::fromImage(bar);
}
