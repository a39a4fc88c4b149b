#include "app/qt/q_export_undist_images.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/qt/q_extras.h"
#include "export/undistorted_image_export.h"
#include "image/image_cache.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_stack.h"
#include "testing/temp_dir.h"

namespace {

// Answers the message boxes from a script and records them.
class ScriptedBoxes : public qDialogRunner {
 public:
  struct Seen {
    QString title, text;
  };
  std::deque<int> answers;
  std::vector<Seen> seen;
  int runMessageBox(QMessageBox& box) override {
    seen.push_back({box.windowTitle(), box.text()});
    if (answers.empty()) return QMessageBox::Ok;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  return std::filesystem::exists(std::filesystem::path(path));
}

int CountFiles(const std::string& folder) {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

// A tracker holding count grey frames of 32 x 24 numbered from first_number on.
class ExportDialogTest : public ::testing::Test {
 protected:
  void Load(int count, int first_number, int width = 32, int height = 24) {
    auto list = SharedPtr<PackedStringList>::Make();
    for (int k = 0; k < count; ++k) {
      const std::string path = frames_.File("frame" + std::to_string(first_number + k) + ".pgm");
      std::string pixels(size_t(width * height), char(0));
      for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = char((i * 7 + size_t(k) * 13) & 255);
      kxtest::WriteFile(
          path, "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" + pixels);
      list->Append(path.c_str(), first_number + k);
    }
    ASSERT_EQ(tracker_.SetSequence(list), 0);
  }
  void TearDown() override { ClearUndoStack(); }

  // Sets the dialog's fields; folder and base are UTF-8.
  void Fill(const std::string& folder, const std::string& base, int format_index) {
    dialog_.m_directory_le->setText(QString::fromUtf8(folder.c_str()));
    dialog_.m_base_name_le->setText(QString::fromUtf8(base.c_str()));
    dialog_.m_exportformat_cb->setCurrentIndex(format_index);
  }
  // Lets the export's queued reports arrive until it has ended.
  void WaitForEnd() {
    QElapsedTimer timer;
    timer.start();
    while (dialog_.isExporting() && timer.elapsed() < 120000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ASSERT_FALSE(dialog_.isExporting());
    QCoreApplication::processEvents();
  }

  kxtest::TempDir frames_, out_;
  uic::MetaCTracker tracker_;
  ScriptedBoxes boxes_;
  qExportUndistImages dialog_{nullptr};
  void SetUp() override { dialog_.setDialogRunner(&boxes_); }
};

TEST_F(ExportDialogTest, MaskAndExportButtonFollowTheFields) {
  EXPECT_EQ(dialog_.m_directory_le->text(), QStringLiteral("."));
  EXPECT_EQ(dialog_.m_base_name_le->text(), QStringLiteral("undist"));
  EXPECT_EQ(dialog_.m_exportformat_cb->currentText(), QStringLiteral("TGA"));
  EXPECT_EQ(dialog_.m_filemask_le->text(), QStringLiteral("undist#####.tga"));
  EXPECT_TRUE(dialog_.m_export_pb->isEnabled());
  dialog_.m_exportformat_cb->setCurrentIndex(2);
  EXPECT_EQ(dialog_.m_filemask_le->text(), QStringLiteral("undist#####.png"));
  dialog_.m_directory_le->clear();
  EXPECT_FALSE(dialog_.m_export_pb->isEnabled());
  dialog_.m_directory_le->setText(QStringLiteral("."));
  dialog_.m_base_name_le->clear();
  EXPECT_FALSE(dialog_.m_export_pb->isEnabled());
}

// The range's frames are named after their files' numbers; '%' and non-ASCII characters in
// the folder and base name are plain characters; every format's files equal those of the
// export called directly with the same inputs.
TEST_F(ExportDialogTest, WritesTheRangeLikeTheDirectExport) {
  Load(30, 100);
  tracker_.SetFrameRange(10, 19, 1);
  const std::string folder = out_.File("Aufnahmen-Müller %s%n");
  std::filesystem::create_directories(std::filesystem::path(folder));
  const std::string base = "un%ddist%n";
  const char* extensions[] = {"tga", "ppm", "png"};
  const int formats[] = {2, 1, 4};
  for (int f = 0; f < 3; ++f) {
    SCOPED_TRACE(extensions[f]);
    boxes_.seen.clear();
    Fill(folder, base, f);
    dialog_.startSaving(&tracker_);
    WaitForEnd();
    ASSERT_EQ(boxes_.seen.size(), 1u);
    EXPECT_EQ(boxes_.seen[0].title, QStringLiteral("Finished"));
    EXPECT_EQ(boxes_.seen[0].text, QStringLiteral("Exporting of undistorted images successful"));

    // The same job, run directly.
    const std::string direct = out_.File(std::string("direct_") + extensions[f]);
    std::filesystem::create_directories(std::filesystem::path(direct));
    UndistortJob job;
    job.source_cache = tracker_.GetImageCache();
    job.image_list = tracker_.GetImageCache()->GetFileList();
    job.output_names = PackedStringListPtr::Make();
    for (int number = 110; number <= 119; ++number) {
      job.output_names->Append((direct + "/" + std::to_string(number)).c_str(), number);
    }
    job.first = 10;
    job.last = 19;
    job.parameters = std::make_unique<std::vector<RadialDistortionParameters>>(30);
    for (unsigned k = 0; k < 30; ++k)
      tracker_.GetRadialDistortionParameter(&(*job.parameters)[k], k);
    job.format = formats[f];
    ASSERT_EQ(ExportUndistortedImages(job), 0);
    for (int number = 110; number <= 119; ++number) {
      const std::string name =
          folder + "/" + base + "00" + std::to_string(number) + "." + extensions[f];
      EXPECT_EQ(dialog_.outputName(number), name);
      ASSERT_TRUE(Exists(name)) << name;
      EXPECT_EQ(Bytes(name), Bytes(direct + "/" + std::to_string(number)));
    }
  }
  EXPECT_EQ(CountFiles(folder), 30);
}

// A second start during an export changes nothing; declining to overwrite writes nothing.
TEST_F(ExportDialogTest, SecondStartAndDeclinedOverwrite) {
  Load(6, 0, 320, 240);
  tracker_.SetFrameRange(0, 5, 1);
  Fill(out_.path(), "a", 0);
  dialog_.startSaving(&tracker_);
  ASSERT_TRUE(dialog_.isExporting());
  Fill(out_.path(), "b", 0);
  dialog_.startSaving(&tracker_);
  WaitForEnd();
  EXPECT_EQ(CountFiles(out_.path()), 6);
  EXPECT_TRUE(Exists(out_.File("a00005.tga")));

  Fill(out_.path(), "a", 0);
  const auto before = std::filesystem::last_write_time(out_.File("a00000.tga"));
  boxes_.seen.clear();
  boxes_.answers = {QMessageBox::No};
  dialog_.startSaving(&tracker_);
  EXPECT_FALSE(dialog_.isExporting());
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(
      boxes_.seen[0].text,
      QString::fromStdString("File already \"" + out_.File("a00000.tga") + "\" exists\nContinue?"));
  EXPECT_EQ(std::filesystem::last_write_time(out_.File("a00000.tga")), before);
}

// Frames past the list's end would share the number 0: refused before anything is written.
TEST_F(ExportDialogTest, CollidingNamesAreRefused) {
  Load(4, 1);
  tracker_.SetFrameRange(2, 6, 1);
  Fill(out_.path(), "undist", 0);
  dialog_.startSaving(&tracker_);
  EXPECT_FALSE(dialog_.isExporting());
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].title, QStringLiteral("Export refused"));
  EXPECT_TRUE(boxes_.seen[0].text.contains(QStringLiteral("undist00000.tga")));
  EXPECT_EQ(CountFiles(out_.path()), 0);
}

// A stop after the first frame: one file, and the end says stopped.
TEST_F(ExportDialogTest, StopHalfWaySaysStopped) {
  Load(8, 0);
  tracker_.SetFrameRange(0, 7, 1);
  Fill(out_.path(), "s", 0);
  QObject::connect(
      &dialog_, &qExportUndistImages::progressStatusChanged, &dialog_,
      [this](unsigned) { dialog_.requestStop(); }, Qt::DirectConnection);
  dialog_.startSaving(&tracker_);
  WaitForEnd();
  EXPECT_EQ(CountFiles(out_.path()), 1);
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].title, QStringLiteral("Stopped"));
  EXPECT_TRUE(boxes_.seen[0].text.contains(QStringLiteral("1 of 8")));
}

// Closing during an export stops it and waits for the worker; no success report follows.
TEST_F(ExportDialogTest, CloseDuringExportStopsAndJoins) {
  Load(20, 0, 320, 240);
  tracker_.SetFrameRange(0, 19, 1);
  Fill(out_.path(), "c", 0);
  dialog_.show();
  dialog_.startSaving(&tracker_);
  dialog_.close();
  EXPECT_FALSE(dialog_.isExporting());
  EXPECT_FALSE(dialog_.isVisible());
  QCoreApplication::processEvents();
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].title, QStringLiteral("Stopped"));
  EXPECT_LT(CountFiles(out_.path()), 20);
}

TEST_F(ExportDialogTest, DestroyingDuringExportJoins) {
  Load(20, 0, 320, 240);
  tracker_.SetFrameRange(0, 19, 1);
  auto dialog = std::make_unique<qExportUndistImages>(nullptr);
  dialog->setDialogRunner(&boxes_);
  dialog->m_directory_le->setText(QString::fromStdString(out_.path()));
  dialog->startSaving(&tracker_);
  dialog.reset();
  QCoreApplication::processEvents();
  EXPECT_TRUE(boxes_.seen.empty());
}

// A file that cannot be written ends the export with a failure naming it, never success.
TEST_F(ExportDialogTest, WriteFailureIsShown) {
  Load(3, 0);
  tracker_.SetFrameRange(0, 2, 1);
  Fill(out_.File("missing-folder"), "f", 0);
  dialog_.startSaving(&tracker_);
  WaitForEnd();
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].title, QStringLiteral("Export failed"));
  EXPECT_TRUE(
      boxes_.seen[0].text.contains(QString::fromStdString(out_.File("missing-folder/f00000.tga"))))
      << boxes_.seen[0].text.toStdString();
  EXPECT_FALSE(boxes_.seen[0].text.contains(QStringLiteral("successful")));
}

}  // namespace
