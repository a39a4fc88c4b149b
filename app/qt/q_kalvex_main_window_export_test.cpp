// The export page, driven by its buttons with the save dialogs answered by a script.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch_run.h"
#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "export/file_io.h"
#include "export/writer_support.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_flags.h"
#include "interaction/controller.h"
#include "interaction/tracker_job_for_test.h"
#include "interaction/undo_stack.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

// Answers the page's dialogs: each file dialog takes the next name ("" cancels), each
// message box is recorded and closed with OK.
class ScriptedExportDialogs : public qDialogRunner {
 public:
  struct DialogSeen {
    QString title;
    QStringList filters;
    QString default_suffix;
    bool save = false;
    QString directory;
  };

  std::deque<QString> names;
  QString walk_to;  // where the user goes before closing a file dialog
  std::vector<DialogSeen> dialogs;
  std::vector<std::string> boxes;  // "title: text"

  QString runFileDialog(QFileDialog& dialog) override {
    dialogs.push_back({dialog.windowTitle(), dialog.nameFilters(), dialog.defaultSuffix(),
                       dialog.acceptMode() == QFileDialog::AcceptSave,
                       dialog.directory().absolutePath()});
    if (!walk_to.isEmpty()) dialog.setDirectory(walk_to);
    EXPECT_FALSE(names.empty()) << "unexpected file dialog " << dialog.windowTitle().toStdString();
    if (names.empty()) return QString();
    const QString name = names.front();
    names.pop_front();
    return name;
  }
  int runMessageBox(QMessageBox& box) override {
    boxes.push_back((box.windowTitle() + QStringLiteral(": ") + box.text()).toStdString());
    return QMessageBox::Ok;
  }
};

// A finished job: the frames, tracks and points of TrackerJobData, each frame with a
// camera of its own along a path, all of them part of the solved reconstruction.
class SolvedTracker : public qCTracker {
 public:
  explicit SolvedTracker(const kxtest::TempDir& dir) {
    data.Fill(*this, dir, 16, 12);
    FeatureMap::ImageList solved;
    for (const SharedPtr<FeatureImage>& image : GetImageList()) {
      const double k = image->GetImageIndex();
      image->Set({100.0 + 20.0 * k, -50.0 + 3.0 * k, 2000.0 - 10.0 * k}, {0, 0, 1}, {700, 0, 0},
                 {0, 636.3636363636364, 0}, 16, 12, 0.0, 0.05, 0.055, 0.0, 0, nullptr);
      SetCameraPTRF(*image, 0.5 + 0.02 * k, -0.3 + 0.01 * k, 0.08, 35.0 + k);
      image->SetMeanSquaredError(0.04);
      solved.push_back(image);
    }
    m_fmap->SetImageList(solved);
  }

  kxtest::TrackerJobData data;
};

// Every file of a folder with its bytes; the folder is emptied.
std::map<std::string, std::string> TakeFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files[entry.path().filename().string()] = bytes.str();
  }
  for (const auto& file : files) std::filesystem::remove(folder + "/" + file.first);
  return files;
}

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// The points the next export writes: not excluded from it.
int ExportedPoints(uic::MetaCTracker& tracker) {
  int n = 0;
  for (const SharedPtr<FeaturePoint3D>& p : tracker.GetFeatureMap()->GetFPoint3DList()) {
    if (p && !p->TestFlags(FP3D_FLAG_NO_EXPORT)) ++n;
  }
  return n;
}

// A format offered and the save dialog it must ask with.
struct Format {
  int code;
  const char* title;
  const char* filter;
  const char* suffix;
};

class ExportPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qExtras::writeAutoCheckForUpdates(false);
    // Both roads stamp the same moment into their headers.
    SetCreationTimeForTest(1700000000);
  }
  static void TearDownTestSuite() { SetCreationTimeForTest(0); }

  ExportPageTest() {
    qExtras::setDialogRunner(&dialogs);
    tracker = new SolvedTracker(job_dir);
    controller->SetCTracker(tracker);
    window.enableProjectWidgets();
    std::filesystem::create_directory(out);
  }
  ~ExportPageTest() override {
    qExtras::setDialogRunner(nullptr);
    UIDRegistry::Instance().SelectTypeRange(false, 0, 0xFFFF);
    ClearUndoStack();
  }

  // Chooses the format, answers the save dialog with name and presses Save.
  void Export(bool three_d, int code, const std::string& name) {
    ASSERT_TRUE(selectComboByInt(three_d ? window.m_export_format_cb : window.m_export_format_2d_cb,
                                 code, false));
    dialogs.names.push_back(Q(name));
    QAbstractButton* save = three_d ? window.m_export_save_pb : window.m_export_save_2d_pb;
    ASSERT_TRUE(save->isEnabled());
    save->click();
    EXPECT_TRUE(dialogs.names.empty()) << "no dialog for code " << code;
  }

  // Exports f, the combo's item at index, to name through the page, checks the dialog
  // it asked with and takes the files written.
  std::map<std::string, std::string> ExportFormatAt(bool three_d, int index, const Format& f,
                                                    const std::string& name) {
    const QComboBox* combo = three_d ? window.m_export_format_cb : window.m_export_format_2d_cb;
    EXPECT_EQ(combo->itemData(index).toInt(), f.code) << "combo order";
    const size_t asked = dialogs.dialogs.size();
    Export(three_d, f.code, name);
    EXPECT_EQ(dialogs.dialogs.size(), asked + 1);
    if (dialogs.dialogs.size() == asked + 1) {
      const ScriptedExportDialogs::DialogSeen& seen = dialogs.dialogs.back();
      EXPECT_EQ(seen.title.toStdString(), f.title);
      EXPECT_EQ(seen.filters, QStringList({QString::fromUtf8(f.filter), "All Files (*)"}));
      EXPECT_EQ(seen.default_suffix.toStdString(), f.suffix);
      EXPECT_TRUE(seen.save);
    }
    return TakeFiles(out);
  }

  kxtest::TempDir job_dir;
  kxtest::TempDir out_dir;
  const std::string out = out_dir.File("out");
  ScriptedExportDialogs dialogs;
  qKalvexMainWindow window;
  uic::Controller* controller = uic::Controller::Instance();
  SolvedTracker* tracker;
};

TEST_F(ExportPageTest, EveryFormatWritesWhatTheBatchRoadWrites) {
  const Format formats_3d[] = {
      {1, "Save Text File", "Text Files (*.txt)", "txt"},
      {2, "Save 3ds MAXScript File", "3ds MAXScript Files (*.ms)", "ms"},
      {4, "Save Maya Script File", "Maya Script Files (*.ma)", "ma"},
      {5, "Save Blender Python File 2.4x", "Blender Python Files (*.py)", "py"},
      {6, "Save Blender Python File 2.5x", "Blender Python Files (*.py)", "py"},
      {7, "Save Blender Python File 2.61", "Blender Python Files (*.py)", "py"},
      {8, "Save LightWave File", "LightWave Files (*.lws)", "lws"},
      {3, "Save Softimage XSI File", "Softimage XSI Files (*.xsi)", "xsi"},
      {15, "Save Collada File", "Collada Files (*.dae)", "dae"},
      {19, "Save Houdini Clip File", "Houdini Clip Files (*.clip)", "clip"},
      {20, "Save Houdini Script File", "Houdini Script Files (*.cmd)", "cmd"},
      {24, "Save Modo Script File", "Modo Script Files (*.pl)", "pl"},
  };
  ASSERT_EQ(window.m_export_format_cb->count(), int(std::size(formats_3d)));
  for (int i = 0; i < int(std::size(formats_3d)); ++i) {
    const Format& f = formats_3d[i];
    SCOPED_TRACE(f.code);
    const std::string path = out + "/cams." + f.suffix;
    const auto page = ExportFormatAt(true, i, f, path);

    tracker->m_export_list = {{path, f.code}};
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(FinishBatchRun(*tracker, err), kExitOk);
    std::fclose(err);
    const auto batch = TakeFiles(out);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page, batch);
  }
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front();

  // The 2D formats against the export service's own call with the same code: the batch
  // road has none of its own. The After Effects track is the selected feature's, also
  // when a 3D point is selected as well.
  FeaturePoint2D* feature = tracker->data.tracks[2][1].Get();
  UIDRegistry::Instance().SetSelected(tracker->data.points[3]->GetUID(), true);
  UIDRegistry::Instance().SetSelected(feature->GetUID(), true);
  const Format formats_2d[] = {
      {23, "Save After Effects 2D File", "After Effects 2D Files (*.txt)", "txt"},
      // The per-image files propose their own suffix under the ft2d filter.
      {13, "Save Pelmar FPoint2D File", "Kalvex ft2d Files (*.ft2d)", "q2d"},
      {14, "Save Kalvex ft2d File", "Kalvex ft2d Files (*.ft2d)", "ft2d"},
  };
  ASSERT_EQ(window.m_export_format_2d_cb->count(), int(std::size(formats_2d)));
  for (int i = 0; i < int(std::size(formats_2d)); ++i) {
    const Format& f = formats_2d[i];
    SCOPED_TRACE(f.code);
    // No suffix is completed: the name is the file (a template for the per-image files).
    const std::string name = f.code == 13 ? "points####" : "track";
    const auto page = ExportFormatAt(false, i, f, out + "/" + name);

    EXPECT_TRUE(FileIO::Save2DTrack(tracker, out.c_str(), name.c_str(), f.code,
                                    f.code == 23 ? feature : nullptr));
    const auto service = TakeFiles(out);
    ASSERT_EQ(page.size(), f.code == 13 ? size_t(kxtest::TrackerJobData::kFrames) : 1u);
    EXPECT_EQ(page, service);
  }
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front();
}

TEST_F(ExportPageTest, NamesGetTheFormatsSuffixCaseSensitively) {
  std::filesystem::create_directory(out + "/dir");
  struct Case {
    std::string name;
    std::string file;     // written
    std::string printed;  // on the standard output
  };
  const Case cases[] = {
      {out + "/export", out + "/export.ma", out + "/export.ma\n"},
      {out + "/cam.MA", out + "/cam.MA.ma", out + "/cam.MA.ma\n"},
      {out + "/dir/shot.ma", out + "/dir/shot.ma", ""},
      // No directory part: the service gets none and writes in the working directory.
      {"plain.ma", out + "/plain.ma", ""},
  };
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(Q(out)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStdout();
    Export(true, 4, c.name);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_TRUE(std::filesystem::exists(c.file));
  }
  QDir::setCurrent(previous);
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front();
}

TEST_F(ExportPageTest, SaveDialogStartsWhereTheLastExportWent) {
  const std::string elsewhere = out_dir.File("elsewhere");
  std::filesystem::create_directory(elsewhere);
  qExtras::writeFileDialogSettings(Q(out), {});

  // A cancelled dialog logs the missing name, writes nothing and remembers nothing.
  dialogs.walk_to = Q(elsewhere);
  Export(true, 1, "");
  EXPECT_EQ(dialogs.dialogs.back().directory.toStdString(), out);
  EXPECT_EQ(qExtras::readFileDialogDirectory().toStdString(), out);
  EXPECT_TRUE(TakeFiles(out).empty());

  Export(true, 1, elsewhere + "/cams.txt");
  EXPECT_EQ(qExtras::readFileDialogDirectory().toStdString(), elsewhere);
  Export(false, 14, elsewhere + "/tracks.ft2d");
  EXPECT_EQ(dialogs.dialogs.back().directory.toStdString(), elsewhere);
  EXPECT_EQ(TakeFiles(elsewhere).size(), 2u);
}

// Qt's own dialog, run as the program runs it: a name typed into it and Return pressed,
// as a script driving the window under X does.
class TypingUser : public qDialogRunner {
 public:
  explicit TypingUser(QString typed) : typed_(std::move(typed)) {}
  QString runFileDialog(QFileDialog& dialog) override {
    QTimer::singleShot(0, &dialog, [&] {
      auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(edit, nullptr);
      edit->setText(typed_);
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
      QCoreApplication::sendEvent(edit, &press);
    });
    return qDialogRunner::runFileDialog(dialog);
  }

 private:
  QString typed_;
};

TEST_F(ExportPageTest, ARealDialogTakesATypedNameAndAddsTheSuffix) {
  TypingUser user(Q(out + "/typed"));
  qExtras::setDialogRunner(&user);
  for (int code : {1, 15}) {
    ASSERT_TRUE(selectComboByInt(window.m_export_format_cb, code, false));
    testing::internal::CaptureStdout();
    window.m_export_save_pb->click();
    // The dialog completed the name itself: nothing was left to complete or print.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  }
  const auto files = TakeFiles(out);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files.begin()->first, "typed.dae");
  EXPECT_NE(files.begin()->second.find("<COLLADA"), std::string::npos);
  EXPECT_EQ(files.rbegin()->first, "typed.txt");
}

TEST_F(ExportPageTest, WithoutImagesThe3DSaveDoesNothingButThe2DDialogOpens) {
  controller->SetCTracker(new qCTracker);
  window.m_export_save_pb->click();
  EXPECT_TRUE(dialogs.dialogs.empty());

  Export(false, 14, "");  // cancelled
  ASSERT_EQ(dialogs.dialogs.size(), 1u);
  EXPECT_EQ(dialogs.dialogs[0].title.toStdString(), "Save Kalvex ft2d File");
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(ExportPageTest, ACodeWithoutASaveDialogIsRefused) {
  struct Case {
    QComboBox* combo;
    QAbstractButton* save;
    int code;
    const char* logged;
  };
  const Case cases[] = {
      {window.m_export_format_cb, window.m_export_save_pb, 17,
       "qKalvexMainWindow::exportCameraTrack3D: unkown format 17"},
      {window.m_export_format_2d_cb, window.m_export_save_2d_pb, 22,
       "qKalvexMainWindow::exportFeatureTrack2D: unkown format 22"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    c.combo->addItem(QStringLiteral("other"), c.code);
    c.combo->setCurrentIndex(c.combo->count() - 1);
    kxtest::LogCapture log(5);
    c.save->click();
    EXPECT_TRUE(log.Has(c.logged)) << log.text;
  }
  EXPECT_TRUE(dialogs.dialogs.empty());
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(ExportPageTest, AfterEffectsNeedsASelectedFeature) {
  // A selected 3D point is no feature.
  UIDRegistry::Instance().SetSelected(tracker->data.points[0]->GetUID(), true);
  ASSERT_TRUE(selectComboByInt(window.m_export_format_2d_cb, 23, false));
  window.m_export_save_2d_pb->click();
  EXPECT_TRUE(dialogs.dialogs.empty());
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0], "Error: Please select any FeaturePoint you want to export!");
}

TEST_F(ExportPageTest, AFailedWriteIsShownAndContained) {
  struct Case {
    bool three_d;
    int code;
    std::string name;
  };
  const Case cases[] = {
      {true, 1, out + "/missing/cams.txt"},
      {true, 15, out + "/missing/scene.dae"},
      {false, 14, out + "/missing/tracks.ft2d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs.boxes.clear();
    Export(c.three_d, c.code, c.name);  // nothing thrown out of the slot
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    const std::string& box = dialogs.boxes[0];
    EXPECT_EQ(box.rfind("Error: Export failed: \"" + c.name + "\"", 0), 0u) << box;
    EXPECT_NE(box.find("No such file or directory"), std::string::npos) << box;
  }
}

TEST_F(ExportPageTest, UncheckingTheLimitExportsEveryPoint) {
  // More points than the slider's maximum: an unchecked limit must not drop any.
  FeatureMap& map = *tracker->GetFeatureMap();
  while (map.GetFPoint3DList().size() < 2500) {
    auto point = SharedPtr<FeaturePoint3D>::Make(1.0, 2.0, 3.0, FeaturePoint3D::eCartesian);
    map.AddFPoint3D(point);
  }
  const int all = int(map.GetFPoint3DList().size());
  ClearUndoStack();
  UndoStack& undo = UndoStack::Instance();
  QSlider* slider = window.m_limit_points_num_sld;

  window.m_limit_points_group->setChecked(true);
  window.handleExportLimitGroupClick(true);
  EXPECT_EQ(undo.NumUndo(), 1);
  slider->setValue(500);
  EXPECT_EQ(window.m_limit_points_num_sb->value(), 500);
  EXPECT_EQ(undo.NumUndo(), 2);
  const int limited = ExportedPoints(*tracker);
  EXPECT_LE(limited, 500);

  // Away from 200: the slider's return applies 200, then the group applies no limit.
  window.m_limit_points_group->setChecked(false);
  window.handleExportLimitGroupClick(false);
  EXPECT_EQ(slider->value(), 200);
  EXPECT_EQ(undo.NumUndo(), 4);
  EXPECT_EQ(ExportedPoints(*tracker), all);
  UndoLastCommand();
  EXPECT_LE(ExportedPoints(*tracker), 200);
  UndoLastCommand();
  EXPECT_EQ(ExportedPoints(*tracker), limited);
  RedoLastCommand();
  RedoLastCommand();
  EXPECT_EQ(ExportedPoints(*tracker), all);

  // At 200 only the no-limit step is taken.
  window.m_limit_points_group->setChecked(true);
  window.handleExportLimitGroupClick(true);
  EXPECT_EQ(undo.NumUndo(), 5);
  window.m_limit_points_group->setChecked(false);
  window.handleExportLimitGroupClick(false);
  EXPECT_EQ(undo.NumUndo(), 6);
  EXPECT_EQ(ExportedPoints(*tracker), all);

  // Locators only: the group is unchecked and disabled, no limit is applied.
  window.m_limit_points_group->setChecked(true);
  window.handleExportLimitGroupClick(true);
  ASSERT_TRUE(selectComboByInt(window.m_export_options_cb, 4, false));
  EXPECT_FALSE(window.m_limit_points_group->isChecked());
  EXPECT_FALSE(window.m_limit_points_group->isEnabled());
  EXPECT_EQ(undo.NumUndo(), 7);
  ASSERT_TRUE(selectComboByInt(window.m_export_options_cb, 0, false));
  EXPECT_TRUE(window.m_limit_points_group->isEnabled());
}

TEST_F(ExportPageTest, SubPagesPushTheirViewAndTheUndistortedDialogOpens) {
  uic::ViewerBase* viewer = window.mainViewer();
  ASSERT_NE(viewer, nullptr);
  const size_t states = viewer->m_states.size();
  window.m_2d_export_page_pb->click();
  EXPECT_EQ(window.m_export_sw->currentIndex(), 1);
  EXPECT_EQ(viewer->GetViewerState().m_flags & 0x620, 0x600);
  window.m_3d_export_page_pb->click();
  EXPECT_EQ(window.m_export_sw->currentIndex(), 0);
  EXPECT_EQ(viewer->GetViewerState().m_flags & 0x620, 0x20);
  window.m_3d_export_page_pb->click();
  EXPECT_EQ(viewer->m_states.size(), states + 3);

  window.m_save_undistorted_pb->click();
  EXPECT_TRUE(window.m_export_undist_dialog.isVisible());
  window.m_export_undist_dialog.close();
}

}  // namespace
