#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <deque>
#include <string>
#include <vector>

#include "app/qt/q_ctracker.h"
#include "app/qt/q_extras.h"
#include "app/qt/q_kalvex_main_window.h"
#include "foundation/runtime/notify.h"
#include "interaction/controller.h"
#include "interaction/tracker_job_for_test.h"
#include "testing/temp_dir.h"
#include "tracking/storage/project_job_for_test.h"

namespace {

// A tracker whose run never gets a thread: it stays "running" until stopped, so the
// window's side of a run can be driven by hand.
class IdleTracker : public qCTracker {
 protected:
  bool CreateTrackingThread() override { return true; }
};

// A map whose measured error is the given RMSE.
class RmseMap : public kxtest::ProjectMapForTest {
 public:
  explicit RmseMap(double rmse) { m_rmse = rmse; }
};

// Keeps the log lines at debug level while it lives.
class LogCapture : public NotifyOutputFunction {
 public:
  LogCapture() : level_(NotifyContext::GetNotifyLevel()) {
    NotifyContext::SetOutputFunction(this);
    NotifyContext::SetNotifyLevel(5);
  }
  ~LogCapture() override {
    NotifyContext::SetNotifyLevel(level_);
    NotifyContext::SetOutputFunction(&NotifyContext::Instance());
  }
  void Output(const SharedPtr<NotifyMessage>& message) override { text += message->text; }
  bool Has(const char* part) const { return text.find(part) != std::string::npos; }

  std::string text;

 private:
  int level_;
};

class TrackingRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qExtras::writeAutoCheckForUpdates(false); }

  TrackingRunTest() {
    tracker = new IdleTracker;
    controller->SetCTracker(tracker);
    window.connectTrackerSignals();
  }
  ~TrackingRunTest() override {
    if (tracker->IsTracking()) tracker->StopTracking();
  }

  qKalvexMainWindow window;
  uic::Controller* controller = uic::Controller::Instance();
  IdleTracker* tracker;
};

TEST(TrackingRunText, RemainingTimeFollowsTheRateSoFar) {
  struct Case {
    int percent;
    qint64 elapsed_ms;
    const char* text;
  };
  const Case cases[] = {
      {25, 10000, "Time remaining: 00:00:30 (Total: 00:00:40)"},
      {0, 5000, "N/A"},
      {100, 7200000, "Time remaining: 00:00:00 (Total: 02:00:00)"},
      // A run of 100 hours shows its hours of the day: 99 h remaining read 03.
      {1, 3600000, "Time remaining: 03:00:00 (Total: 04:00:00)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(qKalvexMainWindow::remainingTimeText(c.percent, c.elapsed_ms).toStdString(), c.text)
        << c.percent << "% after " << c.elapsed_ms << " ms";
  }
}

TEST(TrackingRunText, QualityIsTheRoundedPercentage) {
  EXPECT_EQ(qKalvexMainWindow::qualityPercent(0.5), 50);  // RMSE 1 pixel
  EXPECT_EQ(qKalvexMainWindow::qualityPercent(0.6667), 67);
  EXPECT_EQ(qKalvexMainWindow::qualityPercent(0.0001), 0);  // no result
}

TEST(QualityBar, EveryFrameOfTheRangeHasAColumnInside) {
  // 1001 frames: step 6, so frames 0, 6, ..., 996 give 167 columns; the last one too.
  std::vector<int> asked;
  const QImage bar = qKalvexMainWindow::drawQualityBar(0, 1000, 1.0, [&](int frame) {
    asked.push_back(frame);
    return 0.25;  // 0.5 pixels: half height, half red
  });
  ASSERT_EQ(bar.width(), 167);
  ASSERT_EQ(bar.height(), 32);
  ASSERT_EQ(asked.size(), 167u);
  EXPECT_EQ(asked.back(), 996);
  for (int x = 0; x < bar.width(); ++x) {
    ASSERT_EQ(bar.pixel(x, 31), qRgb(127, 128, 0)) << x;
    ASSERT_EQ(bar.pixel(x, 16), qRgb(127, 128, 0)) << x;
    ASSERT_EQ(bar.pixel(x, 15), qRgb(80, 80, 80)) << x;
    ASSERT_EQ(bar.pixel(x, 0), qRgb(50, 50, 50)) << x;
  }
}

TEST(QualityBar, UnsolvedFramesStayGreyAndLargeErrorsClamp) {
  const QImage one = qKalvexMainWindow::drawQualityBar(7, 7, 1.0, [](int) { return -1.0; });
  ASSERT_EQ(one.width(), 1);
  EXPECT_EQ(one.pixel(0, 31), qRgb(80, 80, 80));

  // 0.9 pixels: a short, mostly red bar; 10 pixels clamp to the full error, no bar at all.
  const QImage bars = qKalvexMainWindow::drawQualityBar(
      0, 3, 1.0, [](int frame) { return frame == 3 ? 100.0 : 0.81; });
  ASSERT_EQ(bars.width(), 4);
  EXPECT_EQ(bars.pixel(0, 31), qRgb(229, 26, 0));
  EXPECT_EQ(bars.pixel(0, 28), qRgb(229, 26, 0));
  EXPECT_EQ(bars.pixel(0, 27), qRgb(80, 80, 80));
  EXPECT_EQ(bars.pixel(3, 31), qRgb(80, 80, 80));

  EXPECT_TRUE(qKalvexMainWindow::drawQualityBar(5, 4, 1.0, [](int) { return 1.0; }).isNull());
}

TEST_F(TrackingRunTest, ProgressShowsThePercentAndTheTimeLeft) {
  window.updateTrackingProgress(0);
  EXPECT_EQ(window.m_tracking_progress->value(), 0);
  EXPECT_EQ(window.m_time_remaining_l->text(), QStringLiteral("N/A"));
  window.disableGuiWhileTracking(true);
  window.updateTrackingProgress(40);
  EXPECT_EQ(window.m_tracking_progress->value(), 40);
  EXPECT_TRUE(window.m_time_remaining_l->text().startsWith(QStringLiteral("Time remaining: ")));
  window.disableGuiWhileTracking(false);
  EXPECT_TRUE(window.m_time_remaining_l->text().isEmpty());
}

TEST_F(TrackingRunTest, ManualTrackPassesTheCheckBoxInACopy) {
  TrackingSettings stored = *controller->GetTrackingSettings();
  stored.m_perform_final_refinement = true;
  controller->SetTrackingSettings(stored);
  window.m_final_refinement_cb->setChecked(false);
  window.m_tracking_sw->setCurrentIndex(1);
  controller->SetModified(false);

  window.handleTrackButtonClick();

  ASSERT_TRUE(tracker->IsTracking());
  EXPECT_FALSE(tracker->GetRunSettings().m_perform_final_refinement);
  EXPECT_TRUE(controller->GetTrackingSettings()->m_perform_final_refinement);
  // A manual run tracks the tagged features: no automatic 2D step.
  ASSERT_FALSE(tracker->GetStepList().empty());
  EXPECT_EQ(tracker->GetStepList().front().mask & uic::eStepAuto2D, 0);
  EXPECT_TRUE(window.m_tracking_running);
  EXPECT_TRUE(controller->IsModified());
  EXPECT_EQ(window.m_tracking_buttons_sw->currentWidget(), window.m_stop_tracking_page);
  EXPECT_FALSE(window.m_feature_tracking_gb->isEnabled());
  EXPECT_FALSE(window.m_toolbox->isItemEnabled(0));
  EXPECT_FALSE(window.m_toolbox_sequence_page->isEnabled());
  // The tracking page's view.
  EXPECT_EQ(window.m_viewer->GetViewerState().m_mode, 0);
  EXPECT_EQ(window.m_viewer->GetViewerState().m_flags, 0x2F01);
}

TEST_F(TrackingRunTest, StopLogsOnlyWhenARunIsStopped) {
  {
    LogCapture log;
    window.handleTrackStopButtonClick();
    EXPECT_FALSE(log.Has("tracking STOPPED"));
  }
  window.handleTrackButtonClick();
  ASSERT_TRUE(tracker->IsTracking());
  LogCapture log;
  window.handleTrackStopButtonClick();
  EXPECT_TRUE(log.Has("qMainWin::startTracking: tracking STOPPED"));
  EXPECT_FALSE(tracker->IsTracking());
  EXPECT_FALSE(window.m_tracking_running);
  EXPECT_EQ(window.m_tracking_buttons_sw->currentWidget(), window.m_start_tracking_page);
  EXPECT_TRUE(window.m_toolbox_sequence_page->isEnabled());
  EXPECT_FALSE(window.m_feature_tracking_gb->testAttribute(Qt::WA_ForceDisabled));
}

TEST_F(TrackingRunTest, RefineStopsARunningRunWithoutTheStopLine) {
  window.handleTrackButtonClick();
  ASSERT_TRUE(tracker->IsTracking());
  LogCapture log;
  window.handleRefinementButtonClick();
  EXPECT_FALSE(tracker->IsTracking());
  EXPECT_FALSE(log.Has("STOPPED"));
  EXPECT_FALSE(window.m_tracking_running);
  EXPECT_TRUE(window.m_toolbox->isItemEnabled(0));

  // Idle, it refines with the stored settings.
  window.handleRefinementButtonClick();
  EXPECT_TRUE(tracker->IsTracking());
  EXPECT_EQ(tracker->GetStepList().size(), 1u);
}

TEST_F(TrackingRunTest, TheViewersMenuRunsTheSameControls) {
  window.m_viewer->m_start_tracking_requested.Emit();
  EXPECT_TRUE(tracker->IsTracking());
  window.m_viewer->m_stop_tracking_requested.Emit();
  EXPECT_FALSE(tracker->IsTracking());
  window.m_viewer->m_start_refinement_requested.Emit();
  EXPECT_TRUE(tracker->IsTracking());
  EXPECT_EQ(tracker->GetStepList().size(), 1u);
}

TEST_F(TrackingRunTest, AResultSetsTheRoundedQualityAndTheResultView) {
  kxtest::TempDir dir;
  kxtest::TrackerJobData job;
  job.Fill(*tracker, dir, 16, 12);
  tracker->m_fmap = SharedPtr<RmseMap>::Make(1.0);
  for (const SharedPtr<FeatureImage>& image : tracker->GetImageList()) {
    image->SetMeanSquaredError(0.25);
  }
  window.m_viewer->PushViewerState(uic::ViewerState{});
  window.disableGuiWhileTracking(true);
  window.m_tracking_running = true;

  window.finishTracking();

  EXPECT_EQ(window.m_tracking_progress->value(), 50);
  EXPECT_EQ(window.m_viewer->GetViewerState().m_flags, (0x1F026CF & ~0xAE10) | 0x14E);
  EXPECT_FALSE(window.m_tracking_running);
  EXPECT_FALSE(window.m_locator_gb->testAttribute(Qt::WA_ForceDisabled));
  EXPECT_EQ(window.m_quality_pixmap.width(), job.kFrames);
  EXPECT_EQ(window.m_tracking_buttons_sw->currentWidget(), window.m_start_tracking_page);
}

TEST_F(TrackingRunTest, BatchEndNeverWaitsAndFailsWithoutAResult) {
  // A visible window would show a box; a batch run must not wait for anyone.
  window.show();
  bool box_seen = false;
  QTimer watchdog;
  watchdog.setInterval(50);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      box_seen = true;
      modal->close();
    }
  });
  watchdog.start();

  window.startBatchTracking(std::string());
  ASSERT_TRUE(window.m_batch_mode);
  ASSERT_TRUE(tracker->IsTracking());
  tracker->StopTracking();
  window.finishTracking();

  EXPECT_FALSE(box_seen);
  // No camera path: a failure, not the success the end of a run used to report.
  EXPECT_EQ(window.batchExitCode(), 1);
  window.hide();
}

}  // namespace

namespace {

TEST_F(TrackingRunTest, BatchProjectTemplateSavesBesideTheImages) {
  kxtest::TempDir dir;
  kxtest::TrackerJobData job;
  job.Fill(*tracker, dir, 16, 12);
  window.startBatchTracking("%path%batch_project.kpz");
  tracker->StopTracking();
  window.finishTracking();
  EXPECT_TRUE(QFile::exists(QString::fromStdString(dir.File("batch_project.kpz"))));
  EXPECT_EQ(qExtras::instance()->projectPath().toStdString(), dir.File("batch_project.kpz"));
  EXPECT_NE(window.batchExitCode(), -1);
  qExtras::instance()->setProjectPath(QString());
}

}  // namespace

namespace {

// Answers each box with the next scripted button (No when the script is out) and keeps
// its text.
class AnsweredBoxes : public qDialogRunner {
 public:
  std::deque<int> answers;
  std::vector<std::string> texts;
  int runMessageBox(QMessageBox& box) override {
    texts.push_back(box.text().toStdString());
    if (answers.empty()) return QMessageBox::No;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

std::string Pgm(int width, int height) {
  return "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" +
         std::string(size_t(width * height), '\x50');
}

// Track reads the frames before a sequence's first run: frames of another size are
// refused, frames that cannot be read are tracked only when the user agrees, and a
// sequence that passed is not read again.
TEST_F(TrackingRunTest, TrackChecksTheFramesOfANewSequenceFirst) {
  struct Case {
    const char* what;
    std::string frame2;  // the third of four 16 x 12 frames
    std::deque<int> answers;
    bool runs;
    const char* box;  // a part of the box's text; "" for no box
  };
  const Case cases[] = {
      {"clean", Pgm(16, 12), {}, true, ""},
      {"another size", Pgm(20, 12), {QMessageBox::Yes}, false, "frames of different sizes"},
      {"truncated, No", Pgm(16, 12).substr(0, 40), {QMessageBox::No}, false, "Track anyway?"},
      {"truncated, Yes", Pgm(16, 12).substr(0, 40), {QMessageBox::Yes}, true, "cannot be read"},
  };
  int sequence = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kxtest::TempDir frames;
    auto list = SharedPtr<PackedStringList>::Make();
    for (int k = 0; k < 4; ++k) {
      const std::string path = frames.File("f" + std::to_string(k) + ".pgm");
      kxtest::WriteFile(path, k == 2 ? c.frame2 : Pgm(16, 12));
      list->Append(path.c_str(), k);
    }
    ASSERT_EQ(controller->SetSequence(list), 0) << ++sequence;
    AnsweredBoxes boxes;
    boxes.answers = c.answers;
    qExtras::setDialogRunner(&boxes);
    window.handleTrackButtonClick();
    EXPECT_EQ(tracker->IsTracking(), c.runs);
    EXPECT_EQ(window.m_tracking_running, c.runs);
    if (*c.box == 0) {
      EXPECT_TRUE(boxes.texts.empty());
    } else {
      ASSERT_EQ(boxes.texts.size(), 1u);
      EXPECT_NE(boxes.texts[0].find(c.box), std::string::npos) << boxes.texts[0];
      EXPECT_NE(boxes.texts[0].find("f2.pgm"), std::string::npos) << boxes.texts[0];
    }
    if (c.runs) {
      // Passed once: the next run of the same sequence starts without reading or asking.
      window.handleTrackStopButtonClick();
      kxtest::WriteFile(frames.File("f1.pgm"), Pgm(8, 8));
      window.handleTrackButtonClick();
      EXPECT_TRUE(tracker->IsTracking());
      EXPECT_EQ(boxes.texts.size(), *c.box == 0 ? 0u : 1u);
      window.handleTrackStopButtonClick();
    }
    qExtras::setDialogRunner(nullptr);
  }
}

}  // namespace
