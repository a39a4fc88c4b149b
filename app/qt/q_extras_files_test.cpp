#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "app/qt/settings_location_for_test.h"
#include "interaction/controller.h"
#include "interaction/tracker_job_for_test.h"
#include "interaction/undo_stack.h"

namespace {

// Answers the dialogs from a script and records what each one showed.
class ScriptedDialogs : public qDialogRunner {
 public:
  struct FileDialogSeen {
    QString title;
    QStringList filters;
    QString directory;
    QList<QUrl> places;
    bool save = false;
    QString default_suffix;
    bool own_dialog = false;
    bool styled = false;
  };
  struct BoxSeen {
    QString title, text, informative, detailed;
    QMessageBox::StandardButtons buttons;
    int default_button = 0;
  };

  std::deque<QString> files;  // the files chosen, in order ("" cancels)
  std::deque<int> answers;    // the buttons pressed, in order
  // Where the user walks to, and the side bar left, before closing a file dialog.
  QString walk_to;
  QList<QUrl> places_left;
  std::vector<FileDialogSeen> file_dialogs;
  std::vector<BoxSeen> boxes;

  QString runFileDialog(QFileDialog& dialog) override {
    FileDialogSeen seen;
    seen.title = dialog.windowTitle();
    seen.filters = dialog.nameFilters();
    seen.directory = dialog.directory().absolutePath();
    seen.places = dialog.sidebarUrls();
    seen.save = dialog.acceptMode() == QFileDialog::AcceptSave;
    seen.default_suffix = dialog.defaultSuffix();
    seen.own_dialog = dialog.testOption(QFileDialog::DontUseNativeDialog);
    seen.styled = !dialog.styleSheet().isEmpty();
    file_dialogs.push_back(seen);
    if (!walk_to.isEmpty()) dialog.setDirectory(walk_to);
    if (!places_left.isEmpty()) dialog.setSidebarUrls(places_left);
    EXPECT_FALSE(files.empty()) << "unexpected file dialog " << seen.title.toStdString();
    if (files.empty()) return QString();
    const QString file = files.front();
    files.pop_front();
    return file;
  }
  int runMessageBox(QMessageBox& box) override {
    EXPECT_FALSE(box.styleSheet().isEmpty());
    BoxSeen seen{box.windowTitle(),     box.text(), box.informativeText(), box.detailedText(),
                 box.standardButtons(), 0};
    if (box.defaultButton() != nullptr)
      seen.default_button = box.standardButton(box.defaultButton());
    boxes.push_back(seen);
    EXPECT_FALSE(answers.empty()) << "unexpected message box " << seen.text.toStdString();
    if (answers.empty()) return QMessageBox::Cancel;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

QString Q(const std::string& utf8) {
  return QString::fromUtf8(utf8.c_str());
}

// A folder whose name is not ASCII, inside dir.
std::string NonAsciiFolder(const kxtest::TempDir& dir) {
  const std::string path = dir.File("Aufnahmen-Müller/日本");
  std::filesystem::create_directories(std::filesystem::path(path));
  return path;
}

class FileActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qExtras::setDialogRunner(&dialogs);
    extras->setProjectPath(QString());
    ReplaceTracker(new qCTracker());
    controller->SetModified(false);
  }
  void TearDown() override {
    qExtras::setDialogRunner(nullptr);
    ClearUndoStack();
  }

  void ReplaceTracker(uic::MetaCTracker* tracker) {
    ClearUndoStack();
    controller->SetCTracker(tracker);
  }
  // The current tracker gets a job of four frames in frames_.
  void GiveCurrentTrackerAJob() {
    job_.Fill(*controller->GetCTracker(), frames_, 16, 12);
    ASSERT_EQ(controller->GetCTracker()->GetImageList().size(), 4u);
  }
  // A project file of a job of four frames in frames_.
  std::string WriteProject(const std::string& path) {
    kxtest::TrackerJobData data;
    uic::MetaCTracker tracker;
    data.Fill(tracker, frames_, 16, 12);
    EXPECT_TRUE(tracker.SaveProject(path.c_str(), true));
    ClearUndoStack();
    return path;
  }

  uic::Controller* controller = uic::Controller::Instance();
  qExtras* extras = qExtras::instance();
  kxtest::TempSettingsLocation settings_;
  kxtest::TempDir dir_;
  kxtest::TempDir frames_;
  kxtest::TrackerJobData job_;
  ScriptedDialogs dialogs;
};

TEST_F(FileActionsTest, SaveWithoutAPathAsksForOneAndCancelChangesNothing) {
  controller->SetModified(true);
  dialogs.files = {""};
  EXPECT_FALSE(extras->saveProject());
  ASSERT_EQ(dialogs.file_dialogs.size(), 1u);
  const auto& seen = dialogs.file_dialogs[0];
  EXPECT_EQ(seen.title, QStringLiteral("Save As..."));
  EXPECT_EQ(seen.filters, (QStringList{QStringLiteral("Project Files (*.kpz)"),
                                       QStringLiteral("All Files (*)")}));
  EXPECT_TRUE(seen.save);
  EXPECT_EQ(seen.default_suffix, QStringLiteral("kpz"));
  EXPECT_TRUE(seen.own_dialog);
  EXPECT_TRUE(seen.styled);
  EXPECT_TRUE(controller->IsModified());
  EXPECT_TRUE(extras->projectPath().isEmpty());
}

// The suffix test is case-sensitive; the project is written (in a folder named outside
// ASCII), becomes the project path and is no longer modified.
TEST_F(FileActionsTest, SaveAsAppendsTheSuffixAndWrites) {
  GiveCurrentTrackerAJob();
  const std::string folder = NonAsciiFolder(dir_);
  struct Case {
    std::string chosen, written;
  };
  for (const Case& c :
       {Case{"shot", "shot.kpz"}, Case{"shot.KPZ", "shot.KPZ.kpz"}, Case{"take.kpz", "take.kpz"}}) {
    SCOPED_TRACE(c.chosen);
    controller->SetModified(true);
    dialogs.files = {Q(folder + "/" + c.chosen)};
    EXPECT_TRUE(extras->saveProjectAs());
    const std::string written = folder + "/" + c.written;
    EXPECT_EQ(extras->projectPath(), Q(written));
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(written)));
    EXPECT_FALSE(controller->IsModified());
  }
  uic::MetaCTracker reread;
  EXPECT_TRUE(reread.LoadProject(QFile::encodeName(extras->projectPath()).constData()));
  EXPECT_EQ(reread.GetImageList().size(), 4u);
}

TEST_F(FileActionsTest, FailedSaveKeepsTheFlagAndTheOldPath) {
  GiveCurrentTrackerAJob();
  const QString old_path = Q(dir_.File("old.kpz"));
  extras->setProjectPath(old_path);
  controller->SetModified(true);
  dialogs.files = {Q(dir_.File("missing-folder/new.kpz"))};
  dialogs.answers = {QMessageBox::Ok};
  EXPECT_FALSE(extras->saveProjectAs());
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Kalvex"));
  EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Saving project failed\n"));
  EXPECT_TRUE(controller->IsModified());
  EXPECT_EQ(extras->projectPath(), old_path);
}

// The answer to the question decides; a Yes whose save fails or is cancelled counts as
// Cancel, so the caller does not go on and lose the work.
TEST_F(FileActionsTest, AskToSaveAnswers) {
  GiveCurrentTrackerAJob();
  const std::string good = dir_.File("good.kpz");
  const std::string bad = dir_.File("missing-folder/bad.kpz");
  struct Case {
    const char* name;
    bool modified;
    std::string path;  // project path; "" asks for a name (cancelled)
    int answer;
    int result;
    bool saved;
  };
  const std::vector<Case> cases = {
      {"unmodified", false, good, 0, 0, false},
      {"no", true, good, QMessageBox::No, QMessageBox::No, false},
      {"cancel", true, good, QMessageBox::Cancel, QMessageBox::Cancel, false},
      {"yes", true, good, QMessageBox::Yes, QMessageBox::Yes, true},
      {"yes_save_fails", true, bad, QMessageBox::Yes, QMessageBox::Cancel, false},
      {"yes_save_as_cancelled", true, "", QMessageBox::Yes, QMessageBox::Cancel, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(good);
    dialogs.boxes.clear();
    extras->setProjectPath(Q(c.path));
    controller->SetModified(c.modified);
    if (c.answer != 0) dialogs.answers = {c.answer};
    if (c.path == bad) dialogs.answers.push_back(QMessageBox::Ok);  // the failure box
    if (c.path.empty()) dialogs.files = {""};
    EXPECT_EQ(extras->askToSaveProject(), c.result);
    EXPECT_EQ(std::filesystem::exists(good), c.saved);
    EXPECT_EQ(controller->IsModified(), c.modified && !c.saved);
    EXPECT_TRUE(dialogs.answers.empty());
    EXPECT_TRUE(dialogs.files.empty());
    if (!c.modified) continue;
    const auto& box = dialogs.boxes.at(0);
    EXPECT_EQ(box.title, QStringLiteral("Warning"));
    EXPECT_EQ(box.text, QStringLiteral("Current project data will be lost."));
    EXPECT_EQ(box.informative, QStringLiteral("Do you want to save your project?"));
    EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(box.default_button, int(QMessageBox::Yes));
  }
}

TEST_F(FileActionsTest, OpenReplacesTheTrackerAndTakesThePath) {
  const std::string folder = NonAsciiFolder(dir_);
  const std::string project = WriteProject(folder + "/shot.kpz");
  controller->SetModified(true);  // an imageless project is not asked about
  uic::MetaCTracker* before = controller->GetCTracker();
  dialogs.files = {Q(project)};
  EXPECT_TRUE(extras->openProject());
  EXPECT_TRUE(dialogs.boxes.empty());
  ASSERT_EQ(dialogs.file_dialogs.size(), 1u);
  EXPECT_EQ(dialogs.file_dialogs[0].title, QStringLiteral("Open Project..."));
  EXPECT_EQ(dialogs.file_dialogs[0].filters,
            (QStringList{QStringLiteral("Project (*.kpz)"), QStringLiteral("All Files (*)")}));
  EXPECT_NE(controller->GetCTracker(), before);
  EXPECT_NE(dynamic_cast<qCTracker*>(controller->GetCTracker()), nullptr);
  EXPECT_EQ(controller->GetCTracker()->GetImageList().size(), 4u);
  EXPECT_EQ(extras->projectPath(), Q(project));
  EXPECT_EQ(controller->GetCurrentFrame(), 0);
  // The status shows the frame made current after the open message.
  EXPECT_EQ(controller->GetStatusText(), frames_.File("img0000.pgm"));
}

TEST_F(FileActionsTest, OpenStopsBeforeTheDialogOnCancel) {
  GiveCurrentTrackerAJob();
  controller->SetModified(true);
  uic::MetaCTracker* before = controller->GetCTracker();
  dialogs.answers = {QMessageBox::Cancel};
  EXPECT_FALSE(extras->openProject());
  EXPECT_TRUE(dialogs.file_dialogs.empty());
  EXPECT_EQ(controller->GetCTracker(), before);
}

// A file that cannot be read leaves the current project and its path as they were and
// tells the user why.
TEST_F(FileActionsTest, FailedOpenKeepsTheCurrentProject) {
  GiveCurrentTrackerAJob();
  const QString path = Q(dir_.File("current.kpz"));
  extras->setProjectPath(path);
  uic::MetaCTracker* before = controller->GetCTracker();
  const std::string broken = dir_.File("broken.kpz");
  kxtest::WriteFile(broken, "this is not a project\n");
  dialogs.files = {Q(broken)};
  dialogs.answers = {QMessageBox::Ok};
  EXPECT_FALSE(extras->openProject());
  EXPECT_EQ(controller->GetCTracker(), before);
  EXPECT_EQ(extras->projectPath(), path);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, QStringLiteral("Open project failed\n"));
  EXPECT_EQ(dialogs.boxes[0].informative, Q(broken));
  EXPECT_TRUE(dialogs.boxes[0].detailed.contains(QStringLiteral("broken.kpz")))
      << dialogs.boxes[0].detailed.toStdString();
}

// A project whose frames moved: Cancel keeps the current project; OK lets the user pick a
// frame in the new place, and the job opens with its images renamed there.
TEST_F(FileActionsTest, MovedImagesAreRelocatedOrTheOpenCancelled) {
  const std::string project = WriteProject(dir_.File("moved.kpz"));
  const std::string moved = NonAsciiFolder(dir_);
  for (const auto& entry : std::filesystem::directory_iterator(frames_.path())) {
    std::filesystem::rename(entry.path(), std::filesystem::path(moved) / entry.path().filename());
  }
  uic::MetaCTracker* before = controller->GetCTracker();

  dialogs.files = {Q(project)};
  dialogs.answers = {QMessageBox::Cancel};
  EXPECT_FALSE(extras->openProject());
  EXPECT_EQ(controller->GetCTracker(), before);
  EXPECT_TRUE(extras->projectPath().isEmpty());
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].title, QStringLiteral("Error"));
  EXPECT_EQ(dialogs.boxes[0].text,
            QStringLiteral("Unable to load images!\n\nPlease set new file location!"));
  EXPECT_EQ(dialogs.boxes[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);

  dialogs.files = {Q(project), Q(moved + "/img0002.pgm")};
  dialogs.answers = {QMessageBox::Ok};
  EXPECT_TRUE(extras->openProject());
  ASSERT_EQ(dialogs.file_dialogs.size(), 3u);
  EXPECT_EQ(dialogs.file_dialogs[2].title, QStringLiteral("Select Input Files"));
  EXPECT_EQ(dialogs.file_dialogs[2].directory, QDir::currentPath());
  uic::MetaCTracker* opened = controller->GetCTracker();
  ASSERT_NE(opened, before);
  ASSERT_EQ(opened->GetImageList().size(), 4u);
  EXPECT_EQ(std::string(opened->GetImageList()[0]->GetFileName()), moved + "/img0000.pgm");
  EXPECT_EQ(extras->projectPath(), Q(project));
}

// The directory the user walked to and the side bar are stored also when the dialog was
// cancelled, and the next remembered dialog starts there.
TEST_F(FileActionsTest, DialogStateIsRememberedOnCancel) {
  const std::string folder = NonAsciiFolder(dir_);
  const QList<QUrl> places{QUrl::fromLocalFile(Q(dir_.path())), QUrl::fromLocalFile(Q(folder))};
  dialogs.walk_to = Q(folder);
  dialogs.places_left = places;
  dialogs.files = {""};
  EXPECT_FALSE(extras->openProject());
  EXPECT_EQ(qExtras::readFileDialogDirectory(), Q(folder));
  EXPECT_EQ(qExtras::readFileDialogSidebarUrls(), places);

  dialogs.walk_to.clear();
  dialogs.places_left.clear();
  dialogs.files = {""};
  SharedPtr<PackedStringList> list;
  EXPECT_FALSE(extras->loadSequence(list));
  ASSERT_EQ(dialogs.file_dialogs.size(), 2u);
  EXPECT_EQ(dialogs.file_dialogs[1].title, QStringLiteral("Select Input Files"));
  EXPECT_EQ(dialogs.file_dialogs[1].directory, Q(folder));
  EXPECT_EQ(dialogs.file_dialogs[1].places, places);
}

// Choosing a sequence empties the project path first, even when it ends early; the whole
// numbered sequence of the chosen file is returned.
TEST_F(FileActionsTest, LoadSequenceFindsTheWholeSequence) {
  const std::string folder = NonAsciiFolder(dir_);
  for (int k = 0; k < 3; ++k) {
    kxtest::WriteFile(folder + "/take" + std::to_string(k) + ".pgm", "P5\n2 2\n255\nabcd");
  }
  extras->setProjectPath(Q(dir_.File("old.kpz")));
  dialogs.files = {""};
  SharedPtr<PackedStringList> list;
  EXPECT_FALSE(extras->loadSequence(list));
  EXPECT_TRUE(extras->projectPath().isEmpty());

  dialogs.files = {Q(folder + "/take1.pgm")};
  EXPECT_TRUE(extras->loadSequence(list));
  ASSERT_TRUE(list);
  ASSERT_EQ(list->Count(), 3);
  EXPECT_EQ(std::string(list->GetEntryName(0)), folder + "/take0.pgm");
}

TEST(AppendMissingSuffixTest, CaseSensitiveSuffixOfTheFilePart) {
  struct Case {
    const char* name;
    const char* result;
  };
  for (const Case& c :
       {Case{"shot", "shot.kpz"}, Case{"shot.kpz", "shot.kpz"}, Case{"shot.KPZ", "shot.KPZ.kpz"},
        Case{"dir.kpz/shot", "dir.kpz/shot.kpz"}, Case{"shot.kpz.bak", "shot.kpz.bak.kpz"}}) {
    QString name = QString::fromUtf8(c.name);
    appendMissingSuffix(QStringLiteral("kpz"), name);
    EXPECT_EQ(name.toStdString(), c.result);
  }
}

}  // namespace
