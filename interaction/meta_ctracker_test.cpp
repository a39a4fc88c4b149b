#include "interaction/meta_ctracker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "foundation/tracks/feature_flags.h"
#include "testing/log_capture.h"
#include "tracking/maps/feature_map_move.h"

namespace uic {
namespace {

// ---- the step programs

struct StepCase {
  const char* name;
  MetaCTracker::Program program;
  int direction;
  bool outliers;
  bool refinement;
  std::vector<TrackingStep> expected;
};

std::vector<StepCase> StepCases() {
  using M = MetaCTracker;
  const auto fwd = &M::pre_manual_fp_track_forward;
  const auto rev = &M::pre_manual_fp_track_reverse;
  const auto reset = &M::post_manual_fp_track_reset;
  const auto cam = &M::pre_camera_tracking_reset;
  return {
      {"auto_plain", M::eAutomatic, 0, false, false, {{0x33, false, nullptr, nullptr, 2}}},
      {"auto_outliers", M::eAutomatic, 0, true, false, {{0x3B, false, nullptr, nullptr, 2}}},
      {"auto_refine", M::eAutomatic, 0, false, true, {{0x73, false, nullptr, nullptr, 2}}},
      {"auto_both", M::eAutomatic, 0, true, true, {{0x7B, false, nullptr, nullptr, 2}}},
      {"auto_reverse", M::eAutomatic, 1, true, false, {{0x3B, true, nullptr, nullptr, 2}}},
      {"auto_two_passes",
       M::eAutomatic,
       2,
       true,
       true,
       {{0x03, false, nullptr, nullptr, 1},
        {0x04, true, rev, reset, 1},
        {0x78, false, cam, nullptr, 1}}},
      {"auto_two_passes_plain",
       M::eAutomatic,
       2,
       false,
       false,
       {{0x03, false, nullptr, nullptr, 1},
        {0x04, true, rev, reset, 1},
        {0x30, false, cam, nullptr, 1}}},
      {"auto_unknown_direction", M::eAutomatic, 3, true, true, {}},
      {"manual",
       M::eManual,
       0,
       true,
       false,
       {{0x04, false, fwd, reset, 1}, {0x04, true, rev, reset, 1}, {0x38, false, cam, nullptr, 1}}},
      {"refinement_only", M::eRefinementOnly, 0, true, true, {{0x40, false, nullptr, nullptr, 0}}},
  };
}

class StepListTest : public ::testing::TestWithParam<StepCase> {};

TEST_P(StepListTest, ProgramMatchesTheSettings) {
  const StepCase& c = GetParam();
  TrackingSettings settings;
  settings.m_auto_fp2d_track_direction = c.direction;
  settings.m_perform_outlier_elimination = c.outliers;
  settings.m_perform_final_refinement = c.refinement;
  const std::vector<TrackingStep> steps = MetaCTracker::BuildStepList(c.program, settings);
  ASSERT_EQ(steps.size(), c.expected.size());
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(steps[i].mask, c.expected[i].mask);
    EXPECT_EQ(steps[i].reverse, c.expected[i].reverse);
    EXPECT_EQ(steps[i].pre, c.expected[i].pre);
    EXPECT_EQ(steps[i].post, c.expected[i].post);
    EXPECT_EQ(steps[i].display_kind, c.expected[i].display_kind);
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, StepListTest, ::testing::ValuesIn(StepCases()),
                         [](const ::testing::TestParamInfo<StepCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- the thread, with the engine replaced

// A tracker of `frames` images whose engine calls are recorded; a frame may throw or stop
// the run, and a frame may hold the thread until the test lets it go.
class FakeTracker : public MetaCTracker {
 public:
  explicit FakeTracker(int frames) {
    m_init_camera = std::make_unique<PerspectiveCamera>();
    for (int i = 0; i < frames; ++i) {
      auto image = SharedPtr<FeatureImage>::Make(this);
      image->SetImageIndex(i);
      m_image_list.push_back(image);
    }
    SetFrameRange(0, frames - 1, 1);
    m_message_signal.Connect(this, &FakeTracker::OnMessage);
  }
  ~FakeTracker() override { StopAndJoin(); }

  void SetNoInitCamera() { m_init_camera.reset(); }
  void OnStopTracking() override {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
  }

  void ComputeFrame(unsigned index, int mask) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      computed.emplace_back(int(index), mask);
      if (int(index) == hold_at && mask == hold_mask) {
        held = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released || !IsTracking(); });
      }
    }
    if (int(index) == stop_at && mask == stop_mask) StopTracking();
    if (int(index) == throw_at && mask == throw_mask) throw_();
  }
  void ComputeFinalEstimation() override {
    ++finals;
    if (final_throws) throw "no cameras";
  }
  void ComputeRefinement() override { ++refinements; }
  bool CreateTrackingThread() override {
    if (fail_thread) return false;
    return MetaCTracker::CreateTrackingThread();
  }
  void SendTrackingMsgItems() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ended = true;
    changed_.notify_all();
  }
  void TrackingFinished() override {
    events.push_back("finished");
    MetaCTracker::TrackingFinished();
  }
  void OnMessage(const MetaCTracker&, MessageType type) {
    events.push_back("data changed " + std::to_string(int(type)));
  }

  // Waits for the end of the run and drains the ring as the interface thread does.
  void FinishRun() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return ended; });
    }
    TrackingMsgHandler(this);
  }
  void WaitUntilHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return held; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released = true;
    changed_.notify_all();
  }
  std::vector<int> FramesWithFlag8() {
    std::vector<int> out;
    for (auto& image : GetImageList()) {
      if (image->TestFlags(FIMAGE_FLAG_NOT_PROCESSED)) out.push_back(image->GetImageIndex());
    }
    return out;
  }
  std::vector<int> FramesOfMask(int mask) {
    std::vector<int> out;
    for (auto& [index, m] : computed) {
      if (m == mask) out.push_back(index);
    }
    return out;
  }

  std::vector<std::pair<int, int>> computed;
  std::vector<std::string> events;
  int finals = 0, refinements = 0;
  int throw_at = -1, throw_mask = 0;
  std::function<void()> throw_;
  int stop_at = -1, stop_mask = 0;
  int hold_at = -1, hold_mask = 0;
  bool held = false, released = false, ended = false;
  bool final_throws = false, fail_thread = false;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

TrackingSettings Settings(int direction) {
  TrackingSettings settings;
  settings.m_auto_fp2d_track_direction = direction;
  return settings;
}

TEST(TrackingThreadTest, RunsEveryFrameThenFinalAndRefinementInBothDirections) {
  for (int direction : {0, 1}) {
    SCOPED_TRACE(direction);
    FakeTracker tracker(5);
    tracker.StartAutomaticTracking(Settings(direction));
    tracker.FinishRun();
    const std::vector<int> forward{0, 1, 2, 3, 4}, backward{4, 3, 2, 1, 0};
    EXPECT_EQ(tracker.FramesOfMask(0x7B), direction == 0 ? forward : backward);
    EXPECT_EQ(tracker.computed.size(), 5u);
    EXPECT_EQ(tracker.finals, 1);
    EXPECT_EQ(tracker.refinements, 1);
    EXPECT_TRUE(tracker.FramesWithFlag8().empty());
    EXPECT_FALSE(tracker.IsTracking());
    // The final estimation's scene change, then the end of the run.
    EXPECT_EQ(tracker.events, (std::vector<std::string>{"data changed 5", "finished"}));
    EXPECT_EQ(tracker.GetFeatureMap()->GetObserver(), &tracker.GetTrackingCallback());
  }
}

TEST(TrackingThreadTest, AnExceptionEndsOnlyThatStepsFrameLoop) {
  struct Case {
    const char* name;
    std::function<void()> raise;
    const char* message;
  };
  const std::vector<Case> cases{
      {"text", [] { throw "no fundamental matrix"; }, "no fundamental matrix"},
      {"std_exception", [] { throw std::runtime_error("bad alloc here"); }, "bad alloc here"},
      {"other", [] { throw 42; }, "unknown exception"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::LogCapture log(2);
    FakeTracker tracker(6);
    tracker.throw_at = 2;
    tracker.throw_mask = 0x03;
    tracker.throw_ = c.raise;
    // The 2D pass fails at frame 2; the reverse and camera passes still run.
    tracker.StartAutomaticTracking(Settings(2));
    tracker.FinishRun();
    EXPECT_EQ(tracker.FramesOfMask(0x03), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(tracker.FramesOfMask(0x04), (std::vector<int>{5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(tracker.FramesOfMask(0x78).size(), 6u);
    EXPECT_TRUE(tracker.FramesWithFlag8().empty());
    EXPECT_TRUE(log.Has("tracking steps (mask) 3 failed for image 2 with message \"" +
                        std::string(c.message) + "\""))
        << log.text;
  }
}

TEST(TrackingThreadTest, FailedFinalEstimationStillReportsTheSceneChange) {
  kxtest::LogCapture log(2);
  FakeTracker tracker(4);
  tracker.final_throws = true;
  tracker.StartAutomaticTracking(Settings(0));
  tracker.FinishRun();
  EXPECT_TRUE(log.Has("final estimation failed with message \"no cameras\"")) << log.text;
  EXPECT_EQ(tracker.refinements, 1);
  EXPECT_EQ(tracker.events, (std::vector<std::string>{"data changed 5", "finished"}));
}

TEST(TrackingThreadTest, StopInTheFirstPassRunsTheNextPassesResetAndUnlocksTheRest) {
  kxtest::LogCapture log(5);
  FakeTracker tracker(6);
  tracker.stop_at = 2;
  tracker.stop_mask = 0x03;
  tracker.StartAutomaticTracking(Settings(2));
  tracker.FinishRun();
  // Frame 2 was computed when the stop came; frame 3 sees it.
  EXPECT_EQ(tracker.FramesOfMask(0x03), (std::vector<int>{0, 1, 2}));
  EXPECT_TRUE(tracker.FramesOfMask(0x04).empty());
  EXPECT_EQ(tracker.finals, 0);
  EXPECT_EQ(tracker.refinements, 0);
  EXPECT_TRUE(tracker.FramesWithFlag8().empty());
  EXPECT_EQ(tracker.GetProgressValue(), 0.0);
  EXPECT_TRUE(tracker.GetTrackingCallback().IsStopRequested());
  // Only the second pass's post-action ran (the first pass has none).
  size_t resets = 0;
  for (const std::string& line : log.lines) {
    if (line.find("post_manual_fp_track_reset: clear to track tag") != std::string::npos) ++resets;
  }
  EXPECT_EQ(resets, 1u);
  EXPECT_EQ(tracker.events, (std::vector<std::string>{"finished", "data changed 5"}));
}

TEST(TrackingThreadTest, StopDuringACombinedStepSkipsTheRefinementButNotTheFinalEstimation) {
  FakeTracker tracker(6);
  tracker.stop_at = 1;
  tracker.stop_mask = 0x7B;
  tracker.StartAutomaticTracking(Settings(0));
  tracker.FinishRun();
  EXPECT_EQ(tracker.FramesOfMask(0x7B), (std::vector<int>{0, 1}));
  EXPECT_EQ(tracker.finals, 1);
  EXPECT_EQ(tracker.refinements, 0);
  EXPECT_TRUE(tracker.FramesWithFlag8().empty());
  EXPECT_EQ(tracker.events,
            (std::vector<std::string>{"data changed 5", "finished", "data changed 5"}));
}

TEST(TrackingThreadTest, RunsThatCannotStartEndAtOnceWithTheFinishedCode) {
  struct Case {
    const char* name;
    int frames;
    bool fail_thread;
    bool no_camera;
    const char* log;
  };
  const std::vector<Case> cases{
      {"one_frame", 1, false, false, nullptr},
      {"thread_not_created", 5, true, false, "the tracking thread could not be created"},
      {"no_initial_camera", 5, false, true, "initial camera not set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::LogCapture log(2);
    FakeTracker tracker(c.frames);
    tracker.fail_thread = c.fail_thread;
    if (c.no_camera) {
      // A run that rebuilds the result makes new initial cameras first; a refinement
      // does not.
      tracker.SetNoInitCamera();
      tracker.StartRefinement(Settings(0));
    } else {
      tracker.StartAutomaticTracking(Settings(0));
    }
    tracker.FinishRun();
    EXPECT_FALSE(tracker.IsTracking());
    EXPECT_TRUE(tracker.computed.empty());
    EXPECT_EQ(tracker.events, (std::vector<std::string>{"finished"}));
    if (c.log) {
      EXPECT_TRUE(log.Has(c.log)) << log.text;
    }
  }
}

TEST(TrackingThreadTest, StartWhileRunningIsRefusedAndDestructionStopsTheRun) {
  kxtest::LogCapture log(2);
  auto tracker = std::make_unique<FakeTracker>(8);
  tracker->hold_at = 3;
  tracker->hold_mask = 0x7B;
  tracker->StartAutomaticTracking(Settings(0));
  tracker->WaitUntilHeld();
  EXPECT_TRUE(tracker->IsTracking());
  tracker->StartManualTracking(Settings(0));
  EXPECT_TRUE(log.Has("start ignored")) << log.text;
  EXPECT_EQ(tracker->GetStepList().size(), 1u);
  // The destructor stops the held run and joins the thread.
  tracker.reset();
}

}  // namespace
}  // namespace uic

namespace uic {
namespace {

TEST(ConfigureTrackingTest, WiresTheComponentsTheSettingsAskFor) {
  struct Case {
    const char* name;
    int motion;
    int focal_constraint;
    bool pure_rotation;
    int estimate_focal;
  };
  const Case cases[] = {
      {"pure_rotation", 1, 1, true, -1},
      {"free_one_focal", 0, 1, false, 1},
      {"free_fixed_focal", 0, 4, false, 0},
      {"free_focal_per_frame", 0, 2, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTracker tracker(5);
    // The pool's own map, as a real job has it.
    tracker.m_fmap = tracker.m_fmap_move;
    TrackingSettings settings;
    settings.m_camera_motion_constraint = c.motion;
    settings.m_focal_length_constraint = c.focal_constraint;
    settings.m_bundle_max_iter = 17;
    tracker.m_outlier_detector = tracker.m_outlier_detector_known_cam;
    tracker.ConfigureTracking(settings);

    auto* move = dynamic_cast<FeatureMapMove*>(tracker.m_fmap_move.Get());
    ASSERT_NE(move, nullptr);
    EXPECT_EQ(move->m_free_move, c.pure_rotation ? 0 : 1);
    EXPECT_EQ(tracker.m_sample_calculator, c.pure_rotation ? tracker.m_sample_calculator_hmatrix
                                                           : tracker.m_sample_calculator_fmatrix);
    EXPECT_EQ(tracker.m_guided_matching, c.pure_rotation ? tracker.m_guided_matching_hmatrix
                                                         : tracker.m_guided_matching_fmatrix);
    // Every configuration makes random sampling current, with the chosen calculator.
    EXPECT_EQ(tracker.m_outlier_detector, tracker.m_rand_sampling);
    EXPECT_EQ(dynamic_cast<RandSampling*>(tracker.m_rand_sampling.Get())->GetSampleCalculator(),
              tracker.m_sample_calculator);
    EXPECT_EQ(move->GetOutlierDetector(), tracker.m_rand_sampling);
    EXPECT_EQ(move->GetCorrelatorTemplate(), tracker.m_correlator);
    EXPECT_EQ(move->GetObserver(), &tracker.GetTrackingCallback());
    if (c.pure_rotation) {
      EXPECT_EQ(move->GetSphereParameter().m_ba_max_iterations, 17);
    } else {
      EXPECT_EQ(move->GetParameter().m_estimate_focal, c.estimate_focal);
      EXPECT_EQ(move->GetParameter().m_ba_max_iter, 17);
    }
  }
}

}  // namespace
}  // namespace uic
