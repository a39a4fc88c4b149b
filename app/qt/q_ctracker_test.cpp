#include "app/qt/q_ctracker.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/packed_string_list.h"
#include "interaction/tracker_job_for_test.h"
#include "testing/synthetic_sequence.h"
#include "testing/temp_dir.h"

namespace {

// What reached the interface thread, in order: "frame", "progress <percent>", "finished".
struct Received {
  std::vector<std::string> events;
  std::vector<int> frames;
  bool off_thread = false;  // a slot ran on another thread than the interface thread
};

// Connects the bridge's signals as the main window does (automatic type, so the tracking
// thread's emissions run queued here).
void Record(qCTracker* tracker, QObject* context, Received* received) {
  auto on_interface_thread = [received] {
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
      received->off_thread = true;
    }
  };
  QObject::connect(tracker, &qCTracker::frameChanged, context, [=](int frame) {
    on_interface_thread();
    received->events.push_back("frame");
    received->frames.push_back(frame);
  });
  QObject::connect(tracker, &qCTracker::progressBarChanged, context, [=](int percent) {
    on_interface_thread();
    received->events.push_back("progress " + std::to_string(percent));
  });
  QObject::connect(tracker, &qCTracker::trackingFinishedSignal, context, [=] {
    on_interface_thread();
    received->events.push_back("finished");
  });
}

// Runs the event loop until the tracker announces the end of its run; false after
// `seconds` without it.
bool WaitForEnd(qCTracker* tracker, int seconds) {
  QEventLoop loop;
  bool ended = false;
  QObject::connect(tracker, &qCTracker::trackingFinishedSignal, &loop, [&] {
    ended = true;
    loop.quit();
  });
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  return ended;
}

bool WritePgm(const std::string& path, const synthetic::Image& image) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "P5\n%d %d\n255\n", image.width, image.height);
  const size_t n = image.pixels.size();
  const bool written = std::fwrite(image.pixels.data(), 1, n, f) == n;
  return std::fclose(f) == 0 && written;
}

// The bridge counting what its handler and end do.
class CountingTracker : public qCTracker {
 public:
  int drains = 0;
  int ends = 0;
  int pending_after_drain = -1;

 protected:
  void customEvent(QEvent* event) override {
    ++drains;
    qCTracker::customEvent(event);
  }
  void TrackingFinished() override {
    ++ends;
    qCTracker::TrackingFinished();
  }
};

// The bridge over a stand-in engine: every frame reports itself to the run's callback as a
// camera frame; a frame may hold the tracking thread until the run is stopped.
class FakeEngineTracker : public qCTracker {
 public:
  explicit FakeEngineTracker(const kxtest::TempDir& dir, int frames) {
    EXPECT_EQ(SetSequence(kxtest::WritePgmFrames(dir, frames, 8, 8)), 0);
  }
  ~FakeEngineTracker() override { StopAndJoin(); }

  void WaitUntilHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return held_; });
  }
  int hold_at = -1;

 protected:
  void ComputeFrame(unsigned index, int /*mask*/) override {
    GetTrackingCallback().UpdateVisualisation(3, int(index));
    if (int(index) != hold_at) return;
    std::unique_lock<std::mutex> lock(mutex_);
    held_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !IsTracking(); });
  }
  void ComputeFinalEstimation() override {}
  void ComputeRefinement() override {}
  void OnStopTracking() override {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
};

TEST(TrackingBridgeTest, ProgressIsTheRoundedPercentage) {
  struct Case {
    double fraction;
    int percent;
  };
  for (const Case& c : {Case{0.0, 0}, Case{0.125, 13}, Case{0.994, 99}, Case{0.99, 99},
                        Case{0.995, 100}, Case{1.0, 100}}) {
    SCOPED_TRACE(c.fraction);
    EXPECT_EQ(qCTracker::ProgressPercent(c.fraction), c.percent);
  }
}

// A real run of a short rendered sequence: the reports of the tracking thread arrive on
// the interface thread, all of them before the end, and the end's event drains the ring
// once (which joins the thread).
TEST(TrackingBridgeTest, RealRunReportsArriveQueuedBeforeItsEnd) {
  synthetic::SequenceOptions options;
  options.width = 320;
  options.height = 180;
  options.frames = 8;
  options.focal = 250.0;
  const synthetic::Sequence sequence(options);
  kxtest::TempDir dir;
  auto list = SharedPtr<PackedStringList>::Make();
  for (int k = 0; k < options.frames; ++k) {
    const std::string path = dir.File("img000" + std::to_string(k) + ".pgm");
    ASSERT_TRUE(WritePgm(path, sequence.Render(k)));
    list->Append(path.c_str(), k);
  }

  QObject context;
  Received received;
  auto tracker = std::make_unique<CountingTracker>();
  ASSERT_EQ(tracker->SetSequence(list), 0);
  Record(tracker.get(), &context, &received);

  TrackingSettings settings;
  settings.m_perform_final_refinement = false;
  tracker->StartAutomaticTracking(settings);
  ASSERT_TRUE(WaitForEnd(tracker.get(), 300));
  QCoreApplication::processEvents();

  EXPECT_FALSE(received.off_thread);
  EXPECT_EQ(tracker->drains, 1);
  EXPECT_EQ(tracker->ends, 1);
  EXPECT_FALSE(tracker->IsTracking());
  ASSERT_GE(received.events.size(), 3u);
  EXPECT_EQ(received.events.back(), "finished");
  EXPECT_EQ(received.events[received.events.size() - 2], "progress 100");
  EXPECT_FALSE(received.frames.empty());
  for (int frame : received.frames) {
    EXPECT_GE(frame, 0);
    EXPECT_LT(frame, options.frames);
  }
  // The run is over: a second start is taken (the thread was joined by the drain).
  tracker->StartAutomaticTracking(settings);
  EXPECT_TRUE(WaitForEnd(tracker.get(), 300));
}

// Many runs in one process share the one registered event type, and each delivers its
// frames and progress before its end.
TEST(TrackingBridgeTest, EveryRunDeliversItsReportsThenItsEnd) {
  kxtest::TempDir dir;
  FakeEngineTracker tracker(dir, 4);
  QObject context;
  Received received;
  Record(&tracker, &context, &received);
  const QEvent::Type type = qTrackingMsgEvent::RegisteredType();
  EXPECT_GE(int(type), int(QEvent::User));
  for (int run = 0; run < 200; ++run) {
    SCOPED_TRACE(run);
    received.events.clear();
    received.frames.clear();
    tracker.StartAutomaticTracking(TrackingSettings());
    ASSERT_TRUE(WaitForEnd(&tracker, 60));
    EXPECT_EQ(received.frames, (std::vector<int>{0, 1, 2, 3}));
    ASSERT_FALSE(received.events.empty());
    EXPECT_EQ(received.events.back(), "finished");
    EXPECT_EQ(std::count(received.events.begin(), received.events.end(), "finished"), 1);
  }
  EXPECT_EQ(qTrackingMsgEvent::RegisteredType(), type);
  EXPECT_FALSE(received.off_thread);
}

// Opening another project destroys the running tracker: the run is stopped and joined
// first, and the end it posted is dropped with the object, never handled.
TEST(TrackingBridgeTest, DestroyingDuringARunStopsAndJoinsFirst) {
  kxtest::TempDir dir;
  auto tracker = std::make_unique<FakeEngineTracker>(dir, 4);
  tracker->hold_at = 1;
  QObject context;
  Received received;
  Record(tracker.get(), &context, &received);
  tracker->StartAutomaticTracking(TrackingSettings());
  tracker->WaitUntilHeld();
  tracker.reset();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(std::count(received.events.begin(), received.events.end(), "finished"), 0);
}

}  // namespace
