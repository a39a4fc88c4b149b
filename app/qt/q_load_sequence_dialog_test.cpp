#include "app/qt/q_load_sequence_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <deque>
#include <string>
#include <vector>

#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "interaction/controller.h"
#include "interaction/sequence_property.h"
#include "interaction/undo_stack.h"
#include "testing/temp_dir.h"

namespace {

class ChooseFile : public qDialogRunner {
 public:
  std::deque<QString> files;
  QString runFileDialog(QFileDialog&) override {
    if (files.empty()) return QString();
    const QString file = files.front();
    files.pop_front();
    return file;
  }
  int runMessageBox(QMessageBox&) override { return QMessageBox::No; }
};

class LoadSequenceDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qExtras::setDialogRunner(&chooser_);
    ClearUndoStack();
    controller_->SetCTracker(new qCTracker());
    controller_->SetModified(false);
  }
  void TearDown() override {
    qExtras::setDialogRunner(nullptr);
    ClearUndoStack();
  }
  // Grey 8 x 6 frames frame<n>.pgm for each number.
  void WriteFrames(const std::vector<int>& numbers) {
    for (int n : numbers) {
      kxtest::WriteFile(dir_.File("frame" + std::to_string(n) + ".pgm"),
                        "P5\n8 6\n255\n" + std::string(48, char(n)));
    }
  }
  void Browse(const std::string& file) {
    chooser_.files = {QString::fromStdString(dir_.File(file))};
    dialog_.m_load_sequence_pb->click();
  }
  QPushButton* Ok() { return dialog_.buttonBox->button(QDialogButtonBox::Ok); }
  uic::MetaCTracker& Tracker() { return *controller_->GetCTracker(); }

  uic::Controller* controller_ = uic::Controller::Instance();
  ChooseFile chooser_;
  kxtest::TempDir dir_;
  qLoadSequenceDialog dialog_{nullptr};
};

std::vector<int> Range(int first, int last) {
  std::vector<int> numbers;
  for (int n = first; n <= last; ++n) numbers.push_back(n);
  return numbers;
}

TEST_F(LoadSequenceDialogTest, BrowseFillsTheFieldsAndTheRangeKeepsStartBelowEnd) {
  WriteFrames(Range(10, 59));
  EXPECT_FALSE(Ok()->isEnabled());
  Browse("frame30.pgm");
  EXPECT_TRUE(Ok()->isEnabled());
  EXPECT_EQ(dialog_.m_sequence_path_le->text().toStdString(), dir_.path());
  EXPECT_EQ(dialog_.m_file_mask_le->text(), QStringLiteral("frame10.pgm"));
  EXPECT_EQ(dialog_.m_total_number_of_images_le->text(), QStringLiteral("50"));
  EXPECT_EQ(dialog_.m_start_frame_sb->value(), 10);
  EXPECT_EQ(dialog_.m_end_frame_sb->value(), 59);
  dialog_.m_start_frame_sb->setValue(20);
  EXPECT_EQ(dialog_.m_total_number_of_images_le->text(), QStringLiteral("40"));
  EXPECT_EQ(dialog_.m_end_frame_sb->minimum(), 21);
  dialog_.m_end_frame_sb->setValue(25);
  EXPECT_EQ(dialog_.m_start_frame_sb->maximum(), 24);
  dialog_.m_start_frame_sb->setValue(40);  // above the end: held below it
  EXPECT_LT(dialog_.m_start_frame_sb->value(), dialog_.m_end_frame_sb->value());
  EXPECT_FALSE(dialog_.m_image_label->pixmap().isNull());

  // A browse that finds nothing leaves OK disabled: the old list is not loaded again.
  chooser_.files = {QString()};
  dialog_.m_load_sequence_pb->click();
  EXPECT_FALSE(Ok()->isEnabled());
}

// The tracker always gets frame positions: the cut list with the range covering it, or the
// whole list with the range inside it.
TEST_F(LoadSequenceDialogTest, OkLoadsTheRangeOrTheWholeSequence) {
  WriteFrames(Range(10, 59));
  struct Case {
    bool only_range;
    size_t images;
    int start, end;
  };
  for (const Case& c : {Case{true, 10, 0, 9}, Case{false, 50, 10, 19}}) {
    SCOPED_TRACE(c.only_range);
    Browse("frame10.pgm");
    dialog_.m_end_frame_sb->setValue(29);
    dialog_.m_start_frame_sb->setValue(20);
    dialog_.m_only_load_range_cb->setChecked(c.only_range);
    dialog_.m_deinterlacing_mode_cb->setCurrentIndex(0);
    dialog_.accept();
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_EQ(Tracker().GetImageList().size(), c.images);
    EXPECT_EQ(controller_->GetGlobal()->GetStartFrame(), c.start);
    EXPECT_EQ(controller_->GetGlobal()->GetEndFrame(), c.end);
    EXPECT_EQ(controller_->GetCurrentFrame(), c.start);
    dialog_.setResult(0);
  }
}

// Bounds in a gap of the numbering snap to the nearest file; a one-file sequence loads.
TEST_F(LoadSequenceDialogTest, BoundsInAGapSnapToTheNearestFile) {
  WriteFrames({10, 11, 12, 13, 14, 20, 21, 22, 23, 24});
  Browse("frame10.pgm");
  dialog_.m_end_frame_sb->setValue(22);
  dialog_.m_start_frame_sb->setValue(16);  // nearest: 14
  dialog_.m_only_load_range_cb->setChecked(true);
  dialog_.accept();
  ASSERT_EQ(dialog_.result(), QDialog::Accepted);
  ASSERT_EQ(Tracker().GetImageList().size(), 4u);
  EXPECT_EQ(controller_->GetGlobal()->GetEndFrame(), 3);

  PackedStringList list;
  for (int n : {10, 14, 20}) list.Append("x", n);
  EXPECT_EQ(qLoadSequenceDialog::NearestPosition(list, 17), 1);  // a tie: the lower number
  EXPECT_EQ(qLoadSequenceDialog::NearestPosition(list, 18), 2);
  EXPECT_EQ(qLoadSequenceDialog::NearestPosition(list, 99), 2);
  EXPECT_EQ(qLoadSequenceDialog::NearestPosition(PackedStringList(), 5), -1);
}

TEST_F(LoadSequenceDialogTest, OneFileSequenceLoadsWithAndWithoutTheRange) {
  WriteFrames({7});
  for (bool only_range : {false, true}) {
    SCOPED_TRACE(only_range);
    Browse("frame7.pgm");
    dialog_.m_only_load_range_cb->setChecked(only_range);
    dialog_.accept();
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_EQ(Tracker().GetImageList().size(), 1u);
    dialog_.setResult(0);
  }
}

// TGA and TIFF previews come through Qt's image-format plugins; a format Qt cannot read
// shows the text.
TEST_F(LoadSequenceDialogTest, PreviewOfTgaAndTiffOrTheText) {
  // Qt writes no TGA: an uncompressed 24-bit one made by hand.
  std::string tga(18, '\0');
  tga[2] = 2;
  tga[12] = 40;
  tga[14] = 30;
  tga[16] = 24;
  tga += std::string(40 * 30 * 3, char(90));
  // Qt's TGA reader takes only files with the version-2 footer.
  tga += std::string(8, '\0') + "TRUEVISION-XFILE." + std::string(1, '\0');
  QImage picture(40, 30, QImage::Format_RGB32);
  picture.fill(Qt::darkCyan);
  for (const char* suffix : {"tga", "tif"}) {
    SCOPED_TRACE(suffix);
    for (int n : {1, 2}) {
      const std::string name = dir_.File("shot" + std::to_string(n) + "." + suffix);
      if (std::string(suffix) == "tga") {
        kxtest::WriteFile(name, tga);
      } else {
        ASSERT_TRUE(picture.save(QString::fromStdString(name)));
      }
    }
    Browse(std::string("shot1.") + suffix);
    ASSERT_TRUE(Ok()->isEnabled());
    EXPECT_FALSE(dialog_.m_image_label->pixmap().isNull());
  }
  for (int n : {1, 2}) kxtest::WriteFile(dir_.File("scan" + std::to_string(n) + ".dpx"), "SDPX");
  Browse("scan1.dpx");
  EXPECT_EQ(dialog_.m_image_label->text(), QStringLiteral("No preview image available!"));
}

}  // namespace
