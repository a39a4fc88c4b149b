// The export page of the main window: the solved camera path with its 3D points, or 2D
// feature data, written through the export service in the chosen format; which 3D points
// go out and how many; the two sub-pages; the undistorted-image dialog.
//
// The export service reports a file it cannot write by throwing (after logging the
// reason). Nothing of it reaches the event loop: every export call is contained here, and
// the user is told which file was not written and why.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSignalBlocker>
#include <cerrno>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "export/file_io.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/split_path.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_point.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"

namespace {

// One export code and the save dialog it asks with.
struct ExportFormat {
  int code;
  const char* title;
  const char* filter;
  const char* suffix;  // the dialog's default suffix; the 3D export also completes names
};

// The 3D formats of the format combo (its item data is the code).
constexpr ExportFormat k3DFormats[] = {
    {1, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Text File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Text Files (*.txt);;All Files (*)"), "txt"},
    {2, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save 3ds MAXScript File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "3ds MAXScript Files (*.ms);;All Files (*)"), "ms"},
    {4, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Maya Script File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Maya Script Files (*.ma);;All Files (*)"), "ma"},
    {5, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Blender Python File 2.4x"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Blender Python Files (*.py);;All Files (*)"), "py"},
    {6, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Blender Python File 2.5x"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Blender Python Files (*.py);;All Files (*)"), "py"},
    {7, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Blender Python File 2.61"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Blender Python Files (*.py);;All Files (*)"), "py"},
    {8, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save LightWave File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "LightWave Files (*.lws);;All Files (*)"), "lws"},
    {3, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Softimage XSI File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Softimage XSI Files (*.xsi);;All Files (*)"), "xsi"},
    {15, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Collada File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Collada Files (*.dae);;All Files (*)"), "dae"},
    {19, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Houdini Clip File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Houdini Clip Files (*.clip);;All Files (*)"), "clip"},
    {20, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Houdini Script File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Houdini Script Files (*.cmd);;All Files (*)"), "cmd"},
    {24, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Modo Script File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Modo Script Files (*.pl);;All Files (*)"), "pl"},
};

// The 2D formats. The per-image point files propose their own suffix under the ft2d
// filter, as they always have.
constexpr int kAfterEffects2D = 23;
constexpr ExportFormat k2DFormats[] = {
    {kAfterEffects2D, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save After Effects 2D File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "After Effects 2D Files (*.txt);;All Files (*)"),
     "txt"},
    {13, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Pelmar FPoint2D File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Kalvex ft2d Files (*.ft2d);;All Files (*)"), "q2d"},
    {14, QT_TRANSLATE_NOOP("qKalvexMainWindow", "Save Kalvex ft2d File"),
     QT_TRANSLATE_NOOP("qKalvexMainWindow", "Kalvex ft2d Files (*.ft2d);;All Files (*)"), "ft2d"},
};

// The point-choice mode that exports the locators only; the limit does not apply to it.
constexpr int kExportLocatorsOnly = 4;

// Display flags of the two sub-pages: the 3D page colours the points by their export
// state, the 2D page shows the features.
constexpr int kShowExportView = 0x20;
constexpr int kShowFeatures =
    uic::ViewerBase::eShowAutoFeatures | uic::ViewerBase::eShowUserFeatures;

// Unchecking the limit exports every point, however many the map holds.
constexpr int kNoPointLimit = std::numeric_limits<int>::max();

QString Tr(const char* text) {
  return QCoreApplication::translate("qKalvexMainWindow", text);
}

// Who logs that an export cannot start (the 2D export names another method for an
// unknown code, as it always has).
struct StartTexts {
  const char* method;
  const char* unknown_code_method;
};

// The format chosen in combo, when there is a tracker to export and the combo's code is
// one of table's; null (logged) otherwise.
const ExportFormat* ChosenFormat(const uic::MetaCTracker* tracker, const QComboBox* combo,
                                 std::span<const ExportFormat> table, const StartTexts& texts) {
  if (tracker == nullptr) {
    Notify(2, "%s: ctrack mgr not set", texts.method);
    return nullptr;
  }
  int code = 0;
  if (!currentComboInt(&code, combo)) {
    Notify(2, "%s: can't get current save type from combo box.", texts.method);
    return nullptr;
  }
  for (const ExportFormat& format : table) {
    if (format.code == code) return &format;
  }
  Notify(2, "%s: unkown format %d", texts.unknown_code_method, code);
  return nullptr;
}

void ShowError(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, Tr("Error"), text, QMessageBox::Ok, parent);
  qExtras::runMessageBox(box);
}

// The save dialog of format: the chosen name, or empty (logged). The dialog's place is
// remembered only when a name was chosen.
QString AskForExportFile(QWidget* parent, const ExportFormat& format) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QString::fromLatin1(format.suffix));
  const QString name =
      qExtras::runRememberedFileDialog(dialog, Tr(format.title), Tr(format.filter));
  if (name.isEmpty()) {
    // The 2D export has always reported a cancel with the same words.
    Notify(2, "qKalvexMainWindow::exportCameraTrack3D: file name not set");
    return QString();
  }
  qExtras::writeFileDialogSettings(dialog.directory().absolutePath(), dialog.sidebarUrls());
  return name;
}

// A chosen name as the export service takes it: directory and file, an empty part null.
struct ExportPath {
  explicit ExportPath(const QString& name) {
    SplitPath(QFile::encodeName(name).constData(), &directory, &file);
    Notify(5, "qKalvexMainWindow::exportCameraTrack3D: path \"%s\" file \"%s\"",
           directory.empty() ? "(null)" : directory.c_str(),
           file.empty() ? "(null)" : file.c_str());
  }
  const char* Directory() const { return directory.empty() ? nullptr : directory.c_str(); }
  const char* File() const { return file.empty() ? nullptr : file.c_str(); }

  std::string directory, file;
};

// Runs one export. Whatever it throws stays here: the failure is logged and shown with
// the file's name; a format the service does not write is shown as not supported.
void RunExport(QWidget* parent, const QString& name, int code, const std::function<bool()>& write) {
  std::string failure;
  bool unsupported = false;
  errno = 0;
  try {
    if (write()) return;
    unsupported = true;
  } catch (const char* text) {
    failure = text != nullptr ? text : "unknown failure";
  } catch (const std::exception& error) {
    failure = error.what();
  } catch (...) {
    failure = "unknown failure";
  }
  QString reason;
  if (unsupported) {
    failure = "not supported";
    reason = Tr("The format (export type %1) is not supported.").arg(code);
  } else {
    // The service says only that it failed; the system's reason is still in errno.
    if (errno != 0) failure += std::string(" (") + std::strerror(errno) + ")";
    reason = QString::fromUtf8(failure.c_str());
  }
  Notify(2, "qKalvexMainWindow: export of \"%s\" (type %d) failed: %s",
         QFile::encodeName(name).constData(), code, failure.c_str());
  ShowError(parent, Tr("Export failed: \"%1\"\n\n%2").arg(QDir::toNativeSeparators(name), reason));
}

// Keeps at most n 3D points for export (one undoable step) and shows the result.
void LimitExportedPoints(uic::Controller* controller, int n) {
  uic::MetaCTracker* tracker = controller->GetCTracker();
  if (tracker == nullptr) return;
  tracker->LimitNumFPoint3DExport(n);
  if (uic::ViewerBase* viewer = controller->GetMainViewer()) viewer->Redraw();
}

}  // namespace

void qKalvexMainWindow::handleExportButtonClick() {
  if (m_controller->GetNumberOfImages() > 0) exportCameraTrack3D();
}

void qKalvexMainWindow::exportCameraTrack3D() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  const ExportFormat* format = ChosenFormat(
      tracker, m_export_format_cb, k3DFormats,
      {"qKalvexMainWindow::exportCameraTrack3D", "qKalvexMainWindow::exportCameraTrack3D"});
  if (format == nullptr) return;
  const int code = format->code;
  QString name = AskForExportFile(this, *format);
  if (name.isEmpty()) return;
  appendMissingSuffix(QString::fromLatin1(format->suffix), name);
  const ExportPath path(name);
  RunExport(this, name, code,
            [&] { return tracker->ExportCameraPath(path.Directory(), path.File(), code); });
}

void qKalvexMainWindow::handleExportButton2dClick() {
  uic::MetaCTracker* tracker = m_controller->GetCTracker();
  const ExportFormat* format = ChosenFormat(
      tracker, m_export_format_2d_cb, k2DFormats,
      {"qKalvexMainWindow::exportCameraTrack2D", "qKalvexMainWindow::exportFeatureTrack2D"});
  if (format == nullptr) return;
  const int code = format->code;
  // The After Effects track is the selected feature's; the others export every track.
  SharedPtr<FeaturePoint2D> feature;
  if (code == kAfterEffects2D) {
    std::vector<UIDBase*> selected;
    if (UIDRegistry::Instance().CollectSelected(selected, UID_TYPE_FEATURE_POINT_2D,
                                                UID_TYPE_FEATURE_POINT_2D) == 0) {
      ShowError(this, tr("Please select any FeaturePoint you want to export!"));
      return;
    }
    // Held while the dialog is open.
    feature = SharedPtr<FeaturePoint2D>::FromPlainPointer(
        dynamic_cast<FeaturePoint2D*>(selected.front()));
    if (!feature) return;
  }
  const QString name = AskForExportFile(this, *format);
  if (name.isEmpty()) return;
  const ExportPath path(name);
  RunExport(this, name, code, [&] {
    return FileIO::Save2DTrack(tracker, path.Directory(), path.File(), code, feature.Get());
  });
}

void qKalvexMainWindow::handleExportOptionsChange() {
  int mode = 0;
  if (!currentComboInt(&mode, m_export_options_cb)) return;
  m_controller->SetFPoint3DExportMode(mode, 0);
  if (uic::ViewerBase* viewer = mainViewer()) viewer->Redraw();
  const bool locators = mode == kExportLocatorsOnly;
  if (locators) {
    // The last limit stays applied; only the group shows that it no longer counts.
    const QSignalBlocker quiet(m_limit_points_group);
    m_limit_points_group->setChecked(false);
  }
  m_limit_points_group->setEnabled(!locators);
}

void qKalvexMainWindow::handleExportLimitGroupClick(bool checked) {
  if (checked) {
    handleExportPointLimitSliderChange();
    return;
  }
  // The slider returns to its minimum (its change applies that limit when it moved); then
  // every point goes out again, one undoable step.
  m_limit_points_num_sld->setValue(m_limit_points_num_sld->minimum());
  LimitExportedPoints(m_controller, kNoPointLimit);
}

void qKalvexMainWindow::handleExportPointLimitSliderChange() {
  LimitExportedPoints(m_controller, m_limit_points_num_sld->value());
}

void qKalvexMainWindow::handleExportUndistortedButtonClick() {
  m_export_undist_dialog.show();
  m_export_undist_dialog.raise();
}

void qKalvexMainWindow::handleExportPageButtonClicked(int page) {
  uic::ViewerBase* viewer = mainViewer();
  m_export_sw->setCurrentIndex(page);
  if (viewer == nullptr) return;
  uic::ViewerState state = viewer->GetViewerState();
  if (page == 0) {
    state.m_flags = (state.m_flags & ~kShowFeatures) | kShowExportView;
  } else if (page == 1) {
    state.m_flags = (state.m_flags & ~kShowExportView) | kShowFeatures;
  }
  viewer->PushViewerState(state);
}
