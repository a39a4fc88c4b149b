#include "app/qt/q_export_undist_images.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <map>
#include <vector>

#include "app/qt/q_extras.h"
#include "export/undistorted_image_export.h"
#include "foundation/runtime/notify.h"
#include "image/image_cache.h"
#include "image/image_file_io.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "platform/thread.h"
#include "tracking/job/camera_tracking_manager.h"

namespace {

qDialogRunner default_runner;

QString FromLocal(const std::string& name) {
  return QFile::decodeName(QByteArray::fromStdString(name));
}

}  // namespace

qExportUndistImages::qExportUndistImages(QWidget* window)
    : QDialog(window), m_runner(&default_runner) {
  setObjectName(QStringLiteral("ExportUndistImages"));
  setWindowTitle(tr("Export Undistorted Images"));
  resize(417, 205);
  auto* outer = new QGridLayout(this);
  outer->setObjectName(QStringLiteral("gridLayout_2"));
  auto* group = new QGroupBox(tr("Options"), this);
  group->setObjectName(QStringLiteral("groupBox"));
  auto* grid = new QGridLayout(group);
  grid->setObjectName(QStringLiteral("gridLayout"));
  auto label = [&](const char* name, const QString& text, int row) {
    auto* l = new QLabel(text, group);
    l->setObjectName(QLatin1String(name));
    if (row < 3) l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(l, row, 0);
  };
  label("label_4", tr("Directory:"), 0);
  m_directory_le = new QLineEdit(group);
  m_directory_le->setObjectName(QStringLiteral("m_directory_le"));
  m_directory_le->setToolTip(tr("Output directory"));
  grid->addWidget(m_directory_le, 0, 1);
  m_browse_pb = new QPushButton(tr("Browse"), group);
  m_browse_pb->setObjectName(QStringLiteral("m_browse_pb"));
  m_browse_pb->setToolTip(tr("Browse directory tree"));
  grid->addWidget(m_browse_pb, 0, 2);
  label("label", tr("Base Name:"), 1);
  m_base_name_le = new QLineEdit(group);
  m_base_name_le->setObjectName(QStringLiteral("m_base_name_le"));
  m_base_name_le->setToolTip(tr("Base filename (number of frame will be appended as suffix)"));
  grid->addWidget(m_base_name_le, 1, 1, 1, 2);
  label("label_3", tr("Format:"), 2);
  m_exportformat_cb = new QComboBox(group);
  m_exportformat_cb->setObjectName(QStringLiteral("m_exportformat_cb"));
  m_exportformat_cb->setToolTip(tr("Choose export format"));
  grid->addWidget(m_exportformat_cb, 2, 1, 1, 2);
  label("label_2", tr("Resulting file mask:"), 3);
  m_filemask_le = new QLineEdit(group);
  m_filemask_le->setObjectName(QStringLiteral("m_filemask_le"));
  m_filemask_le->setReadOnly(true);
  m_filemask_le->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  grid->addWidget(m_filemask_le, 3, 1, 1, 2);
  outer->addWidget(group, 0, 0, 1, 3);
  m_progress_prog = new QProgressBar(this);
  m_progress_prog->setObjectName(QStringLiteral("m_progress_prog"));
  m_progress_prog->setValue(0);
  m_progress_prog->setTextVisible(false);
  m_progress_prog->setToolTip(tr("Export progress"));
  m_progress_prog->setStyleSheet(qExtras::platformStyleSheet());
  outer->addWidget(m_progress_prog, 1, 0);
  m_export_pb = new QPushButton(tr("Export"), this);
  m_export_pb->setObjectName(QStringLiteral("m_export_pb"));
  m_export_pb->setEnabled(false);
  m_export_pb->setToolTip(tr("Start exporting the image sequence"));
  outer->addWidget(m_export_pb, 1, 1);
  m_close_pb = new QPushButton(tr("Close"), this);
  m_close_pb->setObjectName(QStringLiteral("m_close_pb"));
  m_close_pb->setToolTip(tr("Close export window"));
  outer->addWidget(m_close_pb, 1, 2);

  m_exportformat_cb->clear();
  m_exportformat_cb->addItem(QIcon(), tr("TGA"), 0);
  m_exportformat_cb->addItem(QIcon(), tr("PPM"), 1);
  m_exportformat_cb->addItem(QIcon(), tr("PNG"), 2);

  connect(m_browse_pb, &QPushButton::pressed, this, &qExportUndistImages::browseButtonPressed);
  connect(m_close_pb, &QPushButton::pressed, this, &QWidget::close);
  connect(m_export_pb, &QPushButton::pressed, this, &qExportUndistImages::exportButtonPressed);
  connect(m_directory_le, &QLineEdit::textChanged, this, &qExportUndistImages::updateFilemaskLabel);
  connect(m_base_name_le, &QLineEdit::textChanged, this, &qExportUndistImages::updateFilemaskLabel);
  connect(m_exportformat_cb, &QComboBox::currentIndexChanged, this,
          &qExportUndistImages::updateFilemaskLabel);
  connect(this, &qExportUndistImages::progressStatusChanged, this,
          &qExportUndistImages::setProgressStatus);

  m_directory_le->setText(QStringLiteral("."));
  m_base_name_le->setText(QStringLiteral("undist"));
  updateFilemaskLabel();
}

qExportUndistImages::~qExportUndistImages() {
  if (m_worker) {
    m_stop.store(1);
    m_worker->Join();
  }
}

bool qExportUndistImages::isExporting() const {
  return m_worker != nullptr;
}

void qExportUndistImages::setDialogRunner(qDialogRunner* runner) {
  m_runner = runner != nullptr ? runner : &default_runner;
}

std::string qExportUndistImages::outputName(int number) const {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%0*d", m_digits, number);
  return m_directory + "/" + m_base_name + digits + "." + m_extension;
}

void qExportUndistImages::updateFilemaskLabel() {
  m_directory = QFile::encodeName(m_directory_le->text()).toStdString();
  m_base_name = QFile::encodeName(m_base_name_le->text()).toStdString();
  int choice = 0;
  if (currentComboInt(&choice, m_exportformat_cb)) {
    static const struct {
      const char* extension;
      int format;
    } kFormats[] = {{"tga", ImageFileIO::kWriteTGA},
                    {"ppm", ImageFileIO::kWritePNM},
                    {"png", ImageFileIO::kWritePNG}};
    if (choice >= 0 && choice < 3) {
      m_extension = kFormats[choice].extension;
      m_format = kFormats[choice].format;
    }
  }
  m_filemask_le->setText(m_base_name_le->text() + QString(m_digits, QLatin1Char('#')) +
                         QLatin1Char('.') + QString::fromLatin1(m_extension.c_str()));
  m_export_pb->setEnabled(!m_directory_le->text().isEmpty() && m_format != 0 &&
                          !m_base_name_le->text().isEmpty());
}

void qExportUndistImages::browseButtonPressed() {
  QFileDialog dialog(this);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
  dialog.setStyleSheet(qExtras::platformStyleSheet());
  const QString chosen = m_runner->runFileDialog(dialog);
  if (chosen.isEmpty()) return;
  const QString path = QFileInfo(chosen).absoluteFilePath();
  if (path.isEmpty()) return;
  m_directory_le->setText(path);
  m_directory_le->setCursorPosition(0);
}

void qExportUndistImages::exportButtonPressed() {
  uic::MetaCTracker* tracker = uic::Controller::Instance()->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "qExportUndistImages::exportButtonPressed: camera tracking manager not set");
    return;
  }
  startSaving(tracker);
}

int qExportUndistImages::showBox(int icon, const QString& title, const QString& text, int buttons,
                                 int fallback) {
  QMessageBox box(QMessageBox::Icon(icon), title, text,
                  QMessageBox::StandardButtons(QMessageBox::StandardButton(buttons)), this);
  box.setDefaultButton(QMessageBox::StandardButton(fallback));
  box.setStyleSheet(qExtras::platformStyleSheet());
  return m_runner->runMessageBox(box);
}

void qExportUndistImages::startSaving(CameraTrackingManager* manager) {
  if (m_worker) {
    Notify(3, "qExportUndistImages::startSaving: thread already started");
    return;
  }
  m_manager = manager;
  if (manager == nullptr) return;
  ImageCache* cache = manager->GetImageCache();
  PackedStringListPtr input = cache->GetFileList();
  if (!input) return;
  const int first = manager->GetFrameStart();
  const int last = manager->GetFrameEnd();

  // Interlaced sequences of two frames per file, and ranges past the list's end, would give
  // several frames the same number: refused, so that no frame silently overwrites another.
  auto names = PackedStringListPtr::Make();
  std::map<std::string, int> frame_of_name;
  QString existing;
  for (int i = 0; i <= last - first; ++i) {
    const int position = first + i;
    const int number =
        position >= 0 && position < input->Count() ? input->GetEntryNumber(position) : 0;
    const std::string name = outputName(number);
    const auto [it, fresh] = frame_of_name.emplace(name, position);
    if (!fresh) {
      showBox(QMessageBox::Warning, tr("Export refused"),
              tr("The frames %1 and %2 would both be written to \"%3\".\nNothing was written.")
                  .arg(it->second)
                  .arg(position)
                  .arg(FromLocal(name)),
              QMessageBox::Ok, QMessageBox::Ok);
      return;
    }
    if (existing.isEmpty() && QFileInfo::exists(FromLocal(name))) existing = FromLocal(name);
    names->Append(name.c_str(), number);
  }
  if (!existing.isEmpty() &&
      showBox(QMessageBox::Question, tr("Overwrite"),
              tr("File already \"%1\" exists\nContinue?").arg(existing),
              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
    return;
  }

  m_input_list = input;
  m_output_names = names;
  m_first_frame = first;
  m_last_frame = last;
  // The records are read here, on the interface thread, so the worker never touches the
  // tracker's images.
  auto parameters =
      std::make_unique<std::vector<RadialDistortionParameters>>(manager->GetImageList().size());
  for (size_t k = 0; k < parameters->size(); ++k) {
    manager->GetRadialDistortionParameter(&(*parameters)[k], unsigned(k));
  }
  m_job = std::make_unique<UndistortJob>();
  m_job->source_cache = cache;
  m_job->output_names = m_output_names;
  m_job->image_list = m_input_list;
  m_job->first = m_first_frame;
  m_job->last = m_last_frame;
  m_job->parameters = std::move(parameters);
  m_job->format = m_format;
  m_job->direct = 0;
  m_job->stop = &m_stop;
  m_job->progress = &qExportUndistImages::Progress;
  m_job->context = this;

  m_stop.store(0);
  m_written = 0;
  m_worker = std::make_unique<platform::Thread>();
  if (!m_worker->Start(&qExportUndistImages::Work, this)) {
    Notify(2, "qExportUndistImages::startSaving: the export thread could not be started");
    m_worker.reset();
    m_job.reset();
  }
}

void qExportUndistImages::Work(void* dialog) {
  ExportUndistortedImages(*static_cast<qExportUndistImages*>(dialog)->m_job);
}

void qExportUndistImages::Progress(void* dialog, int value) {
  auto* self = static_cast<qExportUndistImages*>(dialog);
  if (value <= 100) self->m_written.fetch_add(1);
  Q_EMIT self->progressStatusChanged(unsigned(value));
}

void qExportUndistImages::setProgressStatus(unsigned value) {
  if (value > 100) {
    // A report of an export already ended (stopped by closing) finds no worker.
    if (m_worker) finishExport(value, false);
    value = 0;
  }
  m_progress_prog->setValue(int(value));
}

void qExportUndistImages::finishExport(unsigned end_value, bool stopped) {
  if (stopped) m_stop.store(1);
  m_worker->Join();
  m_worker.reset();
  m_job.reset();
  if (stopped) {
    // Its reports still queued belong to the export just ended.
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    m_progress_prog->setValue(0);
  }
  const int frames = m_last_frame - m_first_frame + 1;
  const int written = m_written.load();
  if (end_value == unsigned(kUndistortFailed)) {
    const int failed = written < m_output_names->Count() ? written : -1;
    const QString name = failed >= 0 ? FromLocal(m_output_names->GetEntryName(failed)) : QString();
    showBox(QMessageBox::Warning, tr("Export failed"),
            tr("Exporting of undistorted images failed at frame %1: \"%2\" could not be made "
               "(the log says why).\n%3 of %4 images were written.")
                .arg(m_first_frame + written)
                .arg(name)
                .arg(written)
                .arg(frames),
            QMessageBox::Ok, QMessageBox::Ok);
  } else if (stopped || m_stop.load() != 0) {
    showBox(QMessageBox::Information, tr("Stopped"),
            tr("Exporting of undistorted images stopped.\n%1 of %2 images were written.")
                .arg(written)
                .arg(frames),
            QMessageBox::Ok, QMessageBox::Ok);
  } else {
    showBox(QMessageBox::Information, tr("Finished"),
            tr("Exporting of undistorted images successful"), QMessageBox::Ok, QMessageBox::Ok);
  }
}

void qExportUndistImages::closeEvent(QCloseEvent* event) {
  if (m_worker) finishExport(0, true);
  QDialog::closeEvent(event);
}
