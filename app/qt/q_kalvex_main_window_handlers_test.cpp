#include <gtest/gtest.h>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSlider>
#include <QSpinBox>
#include <QToolBox>
#include <QToolButton>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "app/qt/q_timebar.h"
#include "foundation/runtime/uid_registry.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_stack.h"
#include "testing/temp_dir.h"
#include "tracking/objects/vertex_object.h"

namespace {

// Answers message boxes from a script and records their texts.
class ScriptedBoxes : public qDialogRunner {
 public:
  std::deque<int> answers;
  std::vector<QString> texts;
  int runMessageBox(QMessageBox& box) override {
    texts.push_back(box.text());
    if (answers.empty()) return QMessageBox::No;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

// A main window whose tracker holds count grey 32 x 24 frames.
class WindowHandlersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qExtras::setDialogRunner(&boxes_);
    window_ = std::make_unique<qKalvexMainWindow>();
    controller_ = uic::Controller::Instance();
  }
  void TearDown() override {
    window_.reset();
    qExtras::setDialogRunner(nullptr);
    ClearUndoStack();
  }
  void Load(int count) {
    auto list = SharedPtr<PackedStringList>::Make();
    for (int k = 0; k < count; ++k) {
      const std::string path = frames_.File("frame" + std::to_string(k) + ".pgm");
      kxtest::WriteFile(path, "P5\n32 24\n255\n" + std::string(32 * 24, char(40 + k)));
      list->Append(path.c_str(), k);
    }
    ASSERT_EQ(controller_->SetSequence(list), 0);
  }

  kxtest::TempDir frames_;
  ScriptedBoxes boxes_;
  std::unique_ptr<qKalvexMainWindow> window_;
  uic::Controller* controller_ = nullptr;
};

TEST_F(WindowHandlersTest, ALoadedSequenceFillsTheSequenceWidgetsAndOpensThePages) {
  Load(5);
  window_->updateSequenceWidgets();
  for (int page = 1; page < 6; ++page) EXPECT_TRUE(window_->m_toolbox->isItemEnabled(page)) << page;
  EXPECT_TRUE(window_->m_save_project_as_tb->isEnabled());
  EXPECT_EQ(window_->m_resolution_x_le->text(), "32");
  EXPECT_EQ(window_->m_resolution_y_le->text(), "24");
  EXPECT_EQ(window_->m_format_le->text(), "unknown");
  EXPECT_EQ(window_->m_first_key_frame_sb->maximum(), 5);
  EXPECT_FALSE(window_->m_second_key_frame_sb->isEnabled());

  // The frame-rate box follows the tracker, so a later change of another property can
  // never write a stale rate back.
  uic::SequenceProperty property = controller_->GetSequenceProperty();
  property.m_frame_rate = 30.0;
  controller_->SetSequenceProperty(property);
  window_->updateSequenceWidgets();
  EXPECT_DOUBLE_EQ(window_->m_framerate_dsb->value(), 30.0);
}

TEST_F(WindowHandlersTest, FrameStepsWrapAroundTheTrackingRange) {
  Load(5);
  controller_->SetStartFrame(1);
  controller_->SetEndFrame(3);
  struct Case {
    int from;
    bool next;
    int to;
  };
  for (const Case& c : {Case{1, true, 2}, Case{3, true, 1}, Case{2, false, 1}, Case{1, false, 3}}) {
    controller_->SetCurrentFrame(c.from, true);
    if (c.next) {
      window_->handleNextFrameShortcutTriggered();
    } else {
      window_->handlePreviousFrameShortcutTriggered();
    }
    EXPECT_EQ(controller_->GetCurrentFrame(), c.to) << c.from << (c.next ? " next" : " previous");
  }
}

TEST_F(WindowHandlersTest, NewProjectAsksOnlyWithUnsavedChanges) {
  Load(3);
  controller_->SetModified(true);
  boxes_.answers = {QMessageBox::No};
  window_->handleNewProjectButtonClick();
  ASSERT_EQ(boxes_.texts.size(), 1u);
  EXPECT_EQ(boxes_.texts[0], "Project data will be lost, do you want to continue?");
  EXPECT_EQ(controller_->GetNumberOfImages(), 3) << "No keeps everything";

  boxes_.answers = {QMessageBox::Yes};
  window_->handleNewProjectButtonClick();
  EXPECT_EQ(controller_->GetNumberOfImages(), 0);
  EXPECT_FALSE(controller_->IsModified());
  EXPECT_FALSE(window_->m_toolbox->isItemEnabled(1));
  EXPECT_FALSE(window_->m_undo_tb->isEnabled());
  EXPECT_FALSE(window_->m_redo_tb->isEnabled());

  // Nothing to lose: no question at all.
  Load(2);
  controller_->SetModified(false);
  boxes_.texts.clear();
  window_->handleNewProjectButtonClick();
  EXPECT_TRUE(boxes_.texts.empty());
  EXPECT_EQ(controller_->GetNumberOfImages(), 0);
}

TEST_F(WindowHandlersTest, SaveButtonFollowsTheNeedSaveNotification) {
  EXPECT_FALSE(window_->m_save_project_tb->isEnabled());
  window_->handleNeedSave();
  EXPECT_TRUE(window_->m_save_project_tb->isEnabled());
}

TEST_F(WindowHandlersTest, OneSelectedMaskFillsTheMaskProperties) {
  UIDRegistry& registry = UIDRegistry::Instance();
  registry.SelectTypeRange(false, 0, 0xFFFF);
  // A click selects a mask with its vertices, whose ids may be lower: ids are reused, so
  // masks are made until one gets a higher id than the vertex.
  Vertex corner;
  std::vector<std::unique_ptr<PolygonMask>> masks;
  do {
    masks.push_back(std::make_unique<PolygonMask>());
  } while (masks.back()->GetUID() < corner.GetUID());
  PolygonMask& named = *masks.back();
  named.SetName("caf\xe9");
  named.SetColor(ColorRGBA{1.0, 0.5, 0.0, 0.42});
  PolygonMask unnamed;

  registry.SetSelected(corner.GetUID(), true);
  registry.SetSelected(named.GetUID(), true);
  window_->handleSelectionChange();
  EXPECT_FALSE(window_->m_mask_properties_gb->isHidden());
  EXPECT_EQ(window_->m_mask_name_le->text(), QString::fromLatin1("caf\xe9"));
  EXPECT_EQ(window_->m_mask_transparency_sld->value(), 42);
  EXPECT_EQ(qExtras::buttonColor(window_->m_mask_color_pb), QColor(255, 127, 0));

  // The next mask has no name: its field is empty, not the name seen before.
  registry.SetSelected(named.GetUID(), false);
  registry.SetSelected(unnamed.GetUID(), true);
  window_->handleSelectionChange();
  EXPECT_EQ(window_->m_mask_name_le->text(), "");

  // Two masks are not one mask.
  registry.SetSelected(named.GetUID(), true);
  window_->handleSelectionChange();
  EXPECT_TRUE(window_->m_mask_properties_gb->isHidden());
  registry.SelectTypeRange(false, 0, 0xFFFF);
}

TEST_F(WindowHandlersTest, StatusWithoutAResultShowsTheFrameOnly) {
  Load(4);
  controller_->SetCurrentFrame(2, true);
  window_->updateStatusInfo();
  EXPECT_TRUE(window_->m_status_fileindex_sb->isEnabled());
  EXPECT_EQ(window_->m_status_fileindex_sb->value(), 2);
  EXPECT_EQ(window_->m_status_numimages_sb->value(), 4);
  EXPECT_FALSE(window_->m_status_focal_length_dsb->isEnabled());
  EXPECT_FALSE(window_->m_status_track_quality_dsb->isEnabled());
}

}  // namespace
