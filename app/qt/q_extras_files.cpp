// The project and sequence file actions of qExtras.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>
#include <memory>

#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/product_info.h"
#include "image/image_list.h"
#include "image/packed_string_list.h"
#include "interaction/controller.h"
#include "interaction/undo_stack.h"

namespace {

constexpr int kStatusMilliseconds = 2000;

qDialogRunner default_runner;
qDialogRunner* runner = &default_runner;

// While it lives, the log's warnings are kept (and still reach the log's output): the
// project reader says why a file could not be read only there.
class WarningCapture : public NotifyOutputFunction {
 public:
  WarningCapture() : previous_(NotifyContext::GetOutputFunction()) {
    NotifyContext::SetOutputFunction(this);
  }
  ~WarningCapture() override { NotifyContext::SetOutputFunction(previous_); }
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

  void Output(const SharedPtr<NotifyMessage>& message) override {
    if (message->level == 2) {
      lines_ << QString::fromUtf8(message->text, message->length).trimmed();
    }
    if (previous_ != nullptr) previous_->Output(message);
  }
  QString Text() const { return lines_.join(QLatin1Char('\n')); }

 private:
  NotifyOutputFunction* previous_;
  QStringList lines_;
};

// Some image of the tracker names a file that is not there (the project's images moved).
bool AnyImageMissing(uic::MetaCTracker& tracker) {
  for (const auto& image : tracker.GetImageList()) {
    if (image && !QFileInfo::exists(QFile::decodeName(image->GetFileName()))) return true;
  }
  return false;
}

std::string Utf8(const QString& text) {
  return text.toUtf8().toStdString();
}

}  // namespace

QString qDialogRunner::runFileDialog(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted) return QString();
  return dialog.selectedFiles().value(0);
}

int qDialogRunner::runMessageBox(QMessageBox& box) {
  return box.exec();
}

void qExtras::setDialogRunner(qDialogRunner* dialog_runner) {
  runner = dialog_runner != nullptr ? dialog_runner : &default_runner;
}

qExtras::qExtras() : QObject(nullptr), m_controller(uic::Controller::Instance()) {}

qExtras* qExtras::instance() {
  static qExtras* const extras = new qExtras();
  return extras;
}

void qExtras::prepareFileDialog(QFileDialog& dialog, const QString& caption, const QString& filter,
                                bool remembered) {
  dialog.setWindowTitle(caption);
  dialog.setNameFilter(filter);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setStyleSheet(platformStyleSheet());
  if (!remembered) return;
  dialog.setDirectory(readFileDialogDirectory());
  const QList<QUrl> places = readFileDialogSidebarUrls();
  if (!places.isEmpty()) dialog.setSidebarUrls(places);
}

QString qExtras::runFileDialog(QFileDialog& dialog, bool remembered) {
  const QString file = runner->runFileDialog(dialog);
  if (remembered) writeFileDialogSettings(dialog.directory().absolutePath(), dialog.sidebarUrls());
  return file;
}

QString qExtras::runRememberedFileDialog(QFileDialog& dialog, const QString& caption,
                                         const QString& filter) {
  prepareFileDialog(dialog, caption, filter, true);
  return runFileDialog(dialog, false);
}

int qExtras::runMessageBox(QMessageBox& box) {
  box.setStyleSheet(platformStyleSheet());
  return runner->runMessageBox(box);
}

QString qExtras::chooseSequenceFile(bool remembered) {
  QFileDialog dialog;
  prepareFileDialog(
      dialog, QFileDialog::tr("Select Input Files"),
      QFileDialog::tr("Images (*.jpg *.jpeg *.png *.gif *.cin *.dpx *.ppm *.pgm *.pnm *.tga "
                      "*.tiff *.tif *.bmp);;Video (*.avi *.mov *.mkv *.mpg *.mpeg *.wmv *.m1v "
                      "*.m2v *.mp4 *.ts *.mts);;All Files (*)"),
      remembered);
  if (!remembered) dialog.setDirectory(QStringLiteral("."));
  return runFileDialog(dialog, remembered);
}

uic::MetaCTracker* qExtras::trackerToReplace() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) return nullptr;
  // Without images there is nothing worth asking about.
  if (!tracker->GetImageList().empty() && askToSaveProject() == QMessageBox::Cancel) {
    return nullptr;
  }
  return tracker;
}

int qExtras::askToSaveProject() {
  if (!m_controller->IsModified()) return 0;
  QMessageBox box;
  box.setWindowTitle(QStringLiteral("Warning"));
  box.setText(tr("Current project data will be lost."));
  box.setInformativeText(tr("Do you want to save your project?"));
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  box.setDefaultButton(QMessageBox::Yes);
  box.setIcon(QMessageBox::Question);
  const int answer = runMessageBox(box);
  // Going on after a save that did not happen would lose the work the user meant to keep.
  if (answer == QMessageBox::Yes && !saveProject()) return QMessageBox::Cancel;
  return answer;
}

bool qExtras::saveProject() {
  if (m_project_path.isEmpty()) return saveProjectAs();
  return saveProjectTo(m_project_path);
}

bool qExtras::saveProjectTo(const QString& path) {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "qExtras::saveProject: tracking manager not set!");
    return false;
  }
  const QByteArray name = QFile::encodeName(path);
  Notify(5, "qMainWin::saveProject: save %s project file \"%s\"!", "ascii", name.constData());
  const char* error = "the file could not be written";
  try {
    if (tracker->SaveProject(name.constData(), true)) {
      m_controller->SetStatusText(Utf8(tr("Save project: ") + path), kStatusMilliseconds);
      m_controller->SetModified(false);
      return true;
    }
  } catch (const char* text) {
    error = text;
  }
  Notify(2, "qMainWin::saveProject: \"%s\"\nfailed with error: %s", name.constData(), error);
  const std::string& product = ProductInfo::GetProductName();
  QMessageBox box(QMessageBox::Warning,
                  product.empty() ? QStringLiteral("unknown") : QString::fromStdString(product),
                  tr("Saving project failed\n"), QMessageBox::Ok);
  box.setInformativeText(path);
  runMessageBox(box);
  return false;
}

bool qExtras::saveProjectAs() {
  QFileDialog dialog;
  prepareFileDialog(dialog, QFileDialog::tr("Save As..."),
                    QFileDialog::tr("Project Files (*.kpz);;All Files (*)"), true);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("kpz"));
  QString file = runFileDialog(dialog, true);
  if (file.isEmpty()) return false;
  appendMissingSuffix(QStringLiteral("kpz"), file);
  // The project keeps its old file until the new one was written.
  if (!saveProjectTo(file)) return false;
  m_project_path = file;
  return true;
}

bool qExtras::openProject() {
  uic::MetaCTracker* current = trackerToReplace();
  if (current == nullptr) return false;
  QFileDialog dialog;
  prepareFileDialog(dialog, QFileDialog::tr("Open Project..."),
                    QFileDialog::tr("Project (*.kpz);;All Files (*)"), true);
  const QString file = runFileDialog(dialog, true);
  if (file.isEmpty()) {
    Notify(2, "qExtras::openProject: failed, empty filename");
    return false;
  }
  const QByteArray name = QFile::encodeName(file);
  if (name.isEmpty()) {
    Notify(2, "qExtras::openProject: failed, empty project name");
    return false;
  }
  Notify(5, "qExtras::openProject: open project \"%s\"!", name.constData());

  std::unique_ptr<qCTracker> tracker;
  try {
    tracker = std::make_unique<qCTracker>();
    tracker->CopyParameter(*current);
    tracker->m_num_threads = current->m_num_threads;
    bool loaded = false;
    QString reason;
    {
      WarningCapture warnings;
      loaded = tracker->LoadProject(name.constData());
      reason = warnings.Text();
    }
    // A job whose images moved is opened so that they can be relocated; any other failure
    // keeps the current project.
    if (!loaded && !AnyImageMissing(*tracker)) {
      QMessageBox box(QMessageBox::Warning, tr("Kalvex"), tr("Open project failed\n"),
                      QMessageBox::Ok);
      box.setInformativeText(file);
      box.setDetailedText(reason);
      runMessageBox(box);
      return false;
    }
    if (!tracker->GetImageList().empty()) {
      const char* first = tracker->GetImageList().front()->GetFileName();
      if (!QFileInfo::exists(QFile::decodeName(first))) {
        Notify(2, "qExtras::openProject: unable to load images");
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"),
                        QStringLiteral("Unable to load images!\n\nPlease set new file location!"),
                        QMessageBox::Ok | QMessageBox::Cancel);
        box.setTextFormat(Qt::PlainText);
        const int answer = runMessageBox(box);
        if (answer == QMessageBox::Ok) relocateSequenceImages(tracker.get());
        if (answer == QMessageBox::Cancel) return false;
      }
    } else {
      Notify(2, "qExtras::openProject: no feature image loaded!");
    }

    ClearUndoStack();
    m_controller->SetCTracker(tracker.release());
    m_project_path = file;
    m_controller->SetStatusText(Utf8(tr("Open project: ") + file), kStatusMilliseconds);
    m_controller->EmitSequenceChanged();
    m_controller->SetCurrentFrame(0, false);
    m_controller->EmitCurrentFrameChanged();
    return true;
  } catch (const char* text) {
    Notify(2, "qExtras::openProject: \"%s\"\nfailed with error: %s", name.constData(), text);
    QMessageBox box(QMessageBox::Warning, tr("Kalvex"), tr("Open project failed\n"),
                    QMessageBox::Ok);
    box.setInformativeText(file);
    box.setDetailedText(QString::fromUtf8(text));
    runMessageBox(box);
    return false;
  }
}

void qExtras::relocateSequenceImages(uic::MetaCTracker* tracker) {
  if (tracker == nullptr) return;
  const QString file = chooseSequenceFile(false);
  if (file.isEmpty()) return;
  const QByteArray name = QFile::encodeName(file);
  m_relocation_list = FindSequenceFiles(name.constData(), -1, -1);
  if (m_relocation_list && m_relocation_list->Count() > 0) {
    if (tracker->ChangeFilePath(m_relocation_list) != 0) {
      Notify(2, "qExtras::relocateSequenceImages: the images of \"%s\" were refused",
             name.constData());
    }
    m_controller->EmitSequenceChanged();
  } else {
    Notify(2, "qExtras::loadSequence: can't get image file listof file \"%s\"\n", name.constData());
  }
}

bool qExtras::loadSequence(SharedPtr<PackedStringList>& list) {
  m_project_path.clear();
  if (trackerToReplace() == nullptr) return false;
  const QString file = chooseSequenceFile(true);
  if (file.isEmpty()) {
    Notify(2, "qExtras::loadSequence: failed, empty filename");
    return false;
  }
  const QByteArray name = QFile::encodeName(file);
  if (name.isEmpty()) {
    Notify(2, "qExtras::loadSequence: failed, empty name");
    return false;
  }
  Notify(5, "qExtras::loadSequence: image file list of file \"%s\"\n", name.constData());
  m_sequence_list = FindSequenceFiles(name.constData(), -1, -1);
  if (m_sequence_list && m_sequence_list->Count() > 0) {
    list = m_sequence_list;
    return true;
  }
  Notify(2, "qExtras::loadSequence: can't get image file list of file \"%s\"\n", name.constData());
  return false;
}

void appendMissingSuffix(const QString& suffix, QString& name) {
  if (QFileInfo(name).suffix() == suffix) return;
  name += QLatin1Char('.') + suffix;
  std::printf("%s\n", QFile::encodeName(name).constData());
  std::fflush(stdout);
}
