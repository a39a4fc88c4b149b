#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QIcon>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTimer>
#include <QToolBox>
#include <QToolButton>
#include <cmath>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "app/qt/q_scrub_slider.h"
#include "app/qt/q_timebar.h"
#include "foundation/runtime/product_info.h"
#include "foundation/tracks/feature_flags.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/sequence_property.h"
#include "interaction/tracker_job_for_test.h"
#include "interaction/undo_stack.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

// Answers file dialogs and message boxes from scripts and records the boxes.
class ScriptedDialogs : public qDialogRunner {
 public:
  std::deque<QString> files;
  std::deque<int> answers;
  std::vector<QString> titles, texts;
  QString runFileDialog(QFileDialog&) override {
    if (files.empty()) return QString();
    const QString file = files.front();
    files.pop_front();
    return file;
  }
  int runMessageBox(QMessageBox& box) override {
    titles.push_back(box.windowTitle());
    texts.push_back(box.text());
    if (answers.empty()) return QMessageBox::Cancel;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

struct Counter : HasSlots {
  int count = 0;
  void Count() { ++count; }
};

const char* const kInterlacingQuestion =
    "This changes the sequence settings.\nCurrent estimated camera tracking results will be "
    "deleted!";

// The combo item whose value is value.
int ItemOf(const QComboBox* combo, double value) {
  for (int i = 0; i < combo->count(); ++i) {
    if (std::abs(combo->itemData(i).toDouble() - value) < 1e-9) return i;
  }
  ADD_FAILURE() << "no item " << value;
  return -1;
}

class SequencePagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qExtras::writeAutoCheckForUpdates(false); }
  void SetUp() override {
    qExtras::setDialogRunner(&dialogs_);
    controller_->SetModified(false);
    window_ = std::make_unique<qKalvexMainWindow>();
  }
  void TearDown() override {
    window_.reset();
    qExtras::setDialogRunner(nullptr);
    ClearUndoStack();
  }
  // count frames of width x height through the controller: every viewer shows frame 0.
  void Load(int count, int width = 32, int height = 24) {
    ASSERT_EQ(controller_->SetSequence(kxtest::WritePgmFrames(frames_, count, width, height)), 0);
  }
  uic::MetaCTracker& Tracker() { return *controller_->GetCTracker(); }
  const uic::SequenceProperty& Stored() { return controller_->GetSequenceProperty(); }
  // Stores a property on the tracker behind the window's back: the widgets keep what they
  // showed, as after a change the window was not told about.
  void StoreQuietly(double aspect, double rate) {
    uic::SequenceProperty property = Stored();
    property.m_image_aspect = aspect;
    property.m_sensor_aspect = aspect;
    property.m_frame_rate = rate;
    Tracker().SetSequenceProperty(property);
  }

  uic::Controller* controller_ = uic::Controller::Instance();
  kxtest::TempDir frames_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<qKalvexMainWindow> window_;
};

// Each control of the sequence page writes its own field, and the page refresh shows it.
TEST_F(SequencePagesTest, EachSequenceControlWritesItsFieldAndReadsBack) {
  Load(3);
  window_->updateSequenceWidgets();
  struct Case {
    const char* control;
    std::function<void(qKalvexMainWindow&)> change;
    std::function<bool(const uic::SequenceProperty&)> stored;
    std::function<bool(qKalvexMainWindow&)> shown;
  };
  const Case cases[] = {
      {"aspect",
       [](qKalvexMainWindow& w) {
         w.m_aspect_ratio_cb->setCurrentIndex(ItemOf(w.m_aspect_ratio_cb, 2.35));
       },
       [](const uic::SequenceProperty& p) { return p.m_image_aspect == 2.35; },
       [](qKalvexMainWindow& w) { return w.m_aspect_ratio_cb->currentData().toDouble() == 2.35; }},
      {"frame rate", [](qKalvexMainWindow& w) { w.m_framerate_dsb->setValue(24.0); },
       [](const uic::SequenceProperty& p) { return p.m_frame_rate == 24.0; },
       [](qKalvexMainWindow& w) { return w.m_framerate_dsb->value() == 24.0; }},
      {"interlacing", [](qKalvexMainWindow& w) { w.m_deinterlacing_cb->setCurrentIndex(2); },
       [](const uic::SequenceProperty& p) { return p.m_interlacing == 2; },
       [](qKalvexMainWindow& w) { return w.m_deinterlacing_cb->currentData().toInt() == 2; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    c.change(*window_);
    EXPECT_TRUE(c.stored(Stored()));
    // Other values shown quietly in between, then the refresh from the tracker.
    {
      const QSignalBlocker a(window_->m_aspect_ratio_cb), r(window_->m_framerate_dsb),
          i(window_->m_deinterlacing_cb);
      window_->m_aspect_ratio_cb->setCurrentIndex(0);
      window_->m_framerate_dsb->setValue(60.0);
      window_->m_deinterlacing_cb->setCurrentIndex(4);
    }
    window_->updateSequenceWidgets();
    EXPECT_TRUE(c.shown(*window_));
  }
  EXPECT_TRUE(dialogs_.texts.empty()) << "no results: nothing to ask";
}

TEST_F(SequencePagesTest, TheInterlacingQuestionComesOnlyWithResultsAndCancelKeepsTheMode) {
  kxtest::TrackerJobData job;
  job.Fill(Tracker(), frames_, 16, 12);
  ASSERT_TRUE(Tracker().HasCameraTrackingResult());
  window_->updateSequenceWidgets();

  // The aspect and the frame rate never ask, and keep the results.
  window_->m_aspect_ratio_cb->setCurrentIndex(ItemOf(window_->m_aspect_ratio_cb, 16.0 / 9.0));
  window_->m_framerate_dsb->setValue(50.0);
  EXPECT_TRUE(dialogs_.texts.empty());
  EXPECT_EQ(Stored().m_frame_rate, 50.0);
  EXPECT_TRUE(Tracker().HasCameraTrackingResult());

  dialogs_.answers = {QMessageBox::Cancel};
  window_->m_deinterlacing_cb->setCurrentIndex(1);
  ASSERT_EQ(dialogs_.texts.size(), 1u);
  EXPECT_EQ(dialogs_.texts[0], kInterlacingQuestion);
  EXPECT_EQ(dialogs_.titles[0].toStdString(), ProductInfo::GetProductName());
  EXPECT_EQ(Stored().m_interlacing, 0);
  EXPECT_TRUE(Tracker().HasCameraTrackingResult());
  EXPECT_EQ(window_->m_deinterlacing_cb->currentData().toInt(), 0) << "the refused mode stays";
  EXPECT_EQ(dialogs_.texts.size(), 1u) << "restoring the combo asks nothing";

  dialogs_.answers = {QMessageBox::Ok};
  window_->m_deinterlacing_cb->setCurrentIndex(3);
  EXPECT_EQ(dialogs_.texts.size(), 2u);
  EXPECT_EQ(Stored().m_interlacing, 3);
  EXPECT_FALSE(Tracker().HasCameraTrackingResult());
  EXPECT_EQ(Stored().m_frame_rate, 50.0);

  // Without results the next change applies at once.
  window_->m_deinterlacing_cb->setCurrentIndex(0);
  EXPECT_EQ(dialogs_.texts.size(), 2u);
  EXPECT_EQ(Stored().m_interlacing, 0);
}

// A change of one sequence control never writes what another control happens to show: a
// rate the box cannot hold, a rate or aspect the window was not told about.
TEST_F(SequencePagesTest, AChangeOfOneControlKeepsTheOtherStoredFields) {
  struct Case {
    double rate;
    bool refreshed;  // the page shows the tracker's values (else the widgets are stale)
  };
  const Case cases[] = {{30.0, true},  {30.0, false},  {30000.0 / 1001.0, true},
                        {120.0, true}, {120.0, false}, {23.976, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << (c.refreshed ? " refreshed" : " stale"));
    Load(2, 50, 20);  // 2.5 : 1, no item of the aspect combo
    StoreQuietly(2.5, c.rate);
    if (c.refreshed) window_->updateSequenceWidgets();

    window_->m_deinterlacing_cb->setCurrentIndex(1);
    window_->m_aspect_ratio_cb->setCurrentIndex(
        window_->m_aspect_ratio_cb->currentIndex() == 0 ? 1 : 0);
    EXPECT_EQ(Stored().m_interlacing, 1);
    EXPECT_EQ(Stored().m_frame_rate, c.rate);

    StoreQuietly(2.5, c.rate);
    window_->m_framerate_dsb->setValue(window_->m_framerate_dsb->value() == 12.0 ? 13.0 : 12.0);
    EXPECT_EQ(Stored().m_image_aspect, 2.5) << "the aspect combo has no 2.5 : 1 item";
    EXPECT_NE(Stored().m_frame_rate, c.rate);
  }
}

TEST_F(SequencePagesTest, AnUnchangedPageWritesNothing) {
  Load(2);
  StoreQuietly(4.0 / 3.0, 30000.0 / 1001.0);
  window_->updateSequenceWidgets();
  const kxtest::LogCapture log(5);
  window_->handleSequencePropertyChange();  // every control, as a direct call reads them
  EXPECT_FALSE(log.Has("MetaCTracker::SetSequenceProperty")) << log.text;
  EXPECT_EQ(Stored().m_frame_rate, 30000.0 / 1001.0);
}

struct PageCase {
  int page;
  bool automatic;  // the tracking page's feature button
  int mode, flags, edit;
  size_t pushed;  // entries added to the view-state stack
};

class PageChangeTest : public SequencePagesTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(PageChangeTest, ThePageSetsItsViewAndEditMode) {
  const PageCase& c = GetParam();
  Load(2);
  window_->updateSequenceWidgets();
  qViewer& viewer = *window_->m_viewer;
  ASSERT_EQ(controller_->GetMainViewer(), &viewer);
  window_->handleToolboxPageChange(0);
  viewer.PushViewerState({1, 0x7FFFFFFF, 12, 34});
  const size_t depth = viewer.m_states.size();
  viewer.m_selection_tool = uic::ViewerBase::eSelectionToolLasso;
  window_->m_locator_gb->setChecked(true);
  window_->m_view_mode_toggle_tb->setChecked(true);
  window_->m_2d_export_page_pb->setChecked(true);
  window_->m_export_sw->setCurrentIndex(1);
  (c.automatic ? window_->m_automatic_features_pb : window_->m_manual_features_pb)
      ->setChecked(true);
  Counter announced;
  controller_->m_viewer_mode_changed.Connect(&announced, &Counter::Count);

  window_->handleToolboxPageChange(c.page);

  const uic::ViewerState& state = viewer.GetViewerState();
  EXPECT_EQ(state.m_mode, c.mode);
  EXPECT_EQ(state.m_flags, c.flags);
  EXPECT_EQ(state.m_history_before, 12);
  EXPECT_EQ(state.m_history_after, 34);
  EXPECT_EQ(viewer.m_edit_mode, c.edit);
  // Turning the locator off pushes its own view state and announces it (the tracking page's
  // rule); the page then overwrites that newest state.
  EXPECT_EQ(viewer.m_states.size(), depth + 1 + c.pushed);
  if (c.pushed != 0) {
    // The pushed copy keeps the entry below it untouched.
    EXPECT_EQ(viewer.m_states[depth - 1].m_flags, 0x7FFFFFFF);
    EXPECT_TRUE(window_->m_3d_export_page_pb->isChecked());
    EXPECT_EQ(window_->m_export_sw->currentIndex(), 0);
  }
  EXPECT_EQ(announced.count, 2);
  EXPECT_EQ(viewer.m_selection_tool, uic::ViewerBase::eSelectionToolRectangle);
  EXPECT_FALSE(window_->m_locator_gb->isChecked());
  EXPECT_EQ(window_->m_view_mode_toggle_tb->isChecked(), c.page < 4);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PageChangeTest,
    ::testing::Values(PageCase{0, true, 0, 0x1, 6, 0}, PageCase{1, true, 0, 0x8101, 1, 0},
                      PageCase{2, true, 0, 0x2001, 5, 0}, PageCase{3, true, 0, 0x2F01, 0, 0},
                      PageCase{3, false, 0, 0x2F01, 4, 0}, PageCase{4, true, 1, 0x1F025CF, 2, 0},
                      PageCase{5, true, 0, 0x23, 3, 1}));

TEST_F(SequencePagesTest, TheToolBoxRunsThePageChangeAndOtherIndicesChangeNoView) {
  Load(2);
  window_->updateSequenceWidgets();
  window_->m_toolbox->setCurrentIndex(1);
  EXPECT_EQ(window_->m_viewer->m_edit_mode, uic::ViewerBase::eEditLensDistortion);
  const uic::ViewerState before = window_->m_viewer->GetViewerState();
  window_->handleToolboxPageChange(6);
  EXPECT_EQ(window_->m_viewer->m_edit_mode, uic::ViewerBase::eEditLensDistortion);
  EXPECT_EQ(window_->m_viewer->GetViewerState().m_flags, before.m_flags);
}

TEST_F(SequencePagesTest, TheScrubSliderAndTheBoxSetTheDistortionOfEveryImage) {
  Load(3);
  qScrubSlider& slider = *window_->m_scrub_slider;
  int box_signals = 0;
  QObject::connect(window_->m_radial_dsb, &QDoubleSpinBox::valueChanged,
                   [&box_signals] { ++box_signals; });
  const auto k3_of_every_image = [&](double k) {
    for (const SharedPtr<FeatureImage>& image : Tracker().GetImageList()) {
      const double hw = double(image->GetWidth() / 2), hh = double(image->GetHeight() / 2);
      EXPECT_NEAR(image->GetDistortionCoefficients()[0] * image->GetPixelSizeX() *
                      image->GetPixelSizeY() * (hw * hw + hh * hh),
                  k, 1e-12);
    }
  };

  // Held at full deflection, the slider reaches its limit and stays there.
  slider.setValue(slider.maximum());
  for (int tick = 0; tick < 20; ++tick) slider.updateTransformedValue();
  EXPECT_EQ(slider.m_transformed_value, 2000.0);
  EXPECT_NEAR(controller_->GetNormalizedK3(), 0.2, 1e-12);
  k3_of_every_image(0.2);
  EXPECT_DOUBLE_EQ(window_->m_radial_dsb->value(), 0.2);
  EXPECT_EQ(box_signals, 0) << "the box follows the slider quietly";

  window_->m_radial_dsb->setValue(-0.05);
  EXPECT_NEAR(controller_->GetNormalizedK3(), -0.05, 1e-12);
  k3_of_every_image(-0.05);

  window_->m_radial_clear_tb->click();
  EXPECT_EQ(slider.m_transformed_value, 0.0);
  EXPECT_EQ(window_->m_radial_dsb->value(), 0.0);
  k3_of_every_image(0.0);
  for (const SharedPtr<FeatureImage>& image : Tracker().GetImageList()) {
    EXPECT_FALSE(image->TestFlags(FIMAGE_FLAG_LENS_KEY));
  }
}

TEST_F(SequencePagesTest, ReferenceLinesAddedAndDrawnAreDeletedInOneUndoableStep) {
  Load(2);
  controller_->SetModified(false);
  window_->m_new_reference_line_pb->click();
  window_->m_new_reference_line_pb->click();
  const auto lines = [&] { return Tracker().GetVertexObjectPool().GetLineStrips().size(); };
  EXPECT_EQ(lines(), 2u);
  EXPECT_TRUE(controller_->IsModified());

  // One more drawn by hand on the lens page: two clicks on the frame.
  window_->m_toolbox->setCurrentIndex(1);
  qViewer& viewer = *window_->m_viewer;
  viewer.newReferenceLine();
  for (const QPoint p : {QPoint(4, 5), QPoint(20, 15)}) {
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, QPointF(p), viewer.mapToGlobal(QPointF(p)), Qt::LeftButton,
                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                        Qt::NoModifier);
      QCoreApplication::sendEvent(&viewer, &event);
    }
  }
  EXPECT_EQ(lines(), 3u);

  controller_->SetModified(false);
  window_->m_delete_reference_lines_pb->click();
  EXPECT_TRUE(dialogs_.texts.empty()) << "deleting asks nothing: it can be undone";
  EXPECT_EQ(lines(), 0u);
  EXPECT_TRUE(controller_->IsModified());
  UndoLastCommand();
  EXPECT_EQ(lines(), 3u);
}

TEST_F(SequencePagesTest, AcceptedLoadShowsTheSequenceAndACancelledOneChangesNothing) {
  const SharedPtr<PackedStringList> files = kxtest::WritePgmFrames(frames_, 4, 40, 20);
  qLoadSequenceDialog& dialog = window_->m_load_sequence_dialog;
  window_->m_tracking_progress->setValue(60);
  window_->m_tracking_progress->setStyleSheet(qExtras::progressBarStyleSheet(1, true));

  QTimer::singleShot(0, &dialog, [&dialog] { dialog.reject(); });
  window_->handleLoadImagesButtonClick();
  EXPECT_TRUE(window_->m_timeline->isHidden());
  EXPECT_EQ(window_->m_tracking_progress->value(), 60);

  dialogs_.files = {QString::fromUtf8(files->GetEntryName(0))};
  QTimer::singleShot(0, &dialog, [&dialog] {
    dialog.m_load_sequence_pb->click();
    dialog.buttonBox->button(QDialogButtonBox::Ok)->click();
  });
  window_->m_load_images_pb->click();
  EXPECT_EQ(controller_->GetNumberOfImages(), 4);
  EXPECT_FALSE(window_->m_timeline->isHidden());
  EXPECT_EQ(window_->m_resolution_x_le->text(), "40");
  EXPECT_TRUE(window_->m_toolbox->isItemEnabled(1));
  EXPECT_EQ(window_->m_tracking_progress->value(), 0);
  EXPECT_EQ(window_->m_tracking_progress->styleSheet(), qExtras::progressBarStyleSheet(1, false));
}

}  // namespace
