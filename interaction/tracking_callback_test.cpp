#include "interaction/tracking_callback.h"

#include <gtest/gtest.h>

#include <vector>

namespace uic {
namespace {

struct RecordingOwner : TrackingCallbackOwner {
  void SetDesiredFrame(int index) override { frames.push_back(index); }
  void SendProgressMsg(double fraction) override { progress.push_back(fraction); }
  std::vector<int> frames;
  std::vector<double> progress;
};

TEST(TrackingCallbackTest, WeightsAndExpectedWorkForOneHundredFrames) {
  RecordingOwner owner;
  TrackingCallback callback(&owner);
  EXPECT_EQ(callback.GetWeightRefinement(), 3.0);  // until the first reset
  callback.Reset(100);
  callback.AddExpectedWork(0x7B, 100, 20);
  EXPECT_DOUBLE_EQ(callback.GetExpectedWork(), 100 + 150 + 110);
  EXPECT_DOUBLE_EQ(callback.GetWeightCamera(), 1.5);
  EXPECT_DOUBLE_EQ(callback.GetWeightRefinement(), 5.5);

  // Each gate alone.
  const struct {
    int mask;
    double expected;
  } gates[] = {{0x01, 100}, {0x04, 100}, {0x08, 150}, {0x20, 150}, {0x40, 110}, {0x80, 0}};
  for (const auto& g : gates) {
    SCOPED_TRACE(g.mask);
    callback.Reset(100);
    callback.AddExpectedWork(g.mask, 100, 20);
    EXPECT_DOUBLE_EQ(callback.GetExpectedWork(), g.expected);
  }
}

TEST(TrackingCallbackTest, StepTypesAddWorkAndMoveTheShownFrame) {
  const struct {
    int type;
    int display_kind;
    bool shows;
    double work;  // with M = 100
  } cases[] = {
      {0, 1, true, 1.0},  {1, 1, true, 1.0},  {0, 2, false, 1.0},  {3, 2, true, 1.5},
      {4, 2, true, 1.5},  {3, 1, false, 1.5}, {5, 0, false, 5.5},  {5, 2, false, 5.5},
      {2, 1, false, 0.0}, {6, 2, false, 0.0}, {-1, 1, false, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " kind " << c.display_kind);
    RecordingOwner owner;
    TrackingCallback callback(&owner);
    callback.Reset(100);
    callback.SetDisplayKind(c.display_kind);
    callback.UpdateVisualisation(c.type, 42);
    EXPECT_EQ(owner.frames, c.shows ? std::vector<int>{42} : std::vector<int>{});
    EXPECT_DOUBLE_EQ(callback.GetDoneWork(), c.work);
    EXPECT_TRUE(owner.progress.empty());  // nothing expected yet: nothing reported
  }

  RecordingOwner owner;
  TrackingCallback callback(&owner);
  callback.Reset(100);
  callback.SetDisplayKind(1);
  callback.UpdateVisualisation(0, -1);  // no image
  callback.SetShowFrames(false);
  callback.UpdateVisualisation(0, 7);
  EXPECT_TRUE(owner.frames.empty());
}

TEST(TrackingCallbackTest, ProgressStaysBelowOneHundredPercent) {
  RecordingOwner owner;
  TrackingCallback callback(&owner);
  callback.Reset(4);
  callback.AddExpectedWork(0x03, 4, 0);
  for (int i = 0; i < 6; ++i) callback.UpdateVisualisation(0, i);
  EXPECT_EQ(owner.progress, (std::vector<double>{0.25, 0.5, 0.75, 0.99, 0.99, 0.99}));

  // A stage that ended early still counts whole; only the end of the run reaches 1.
  RecordingOwner stages;
  TrackingCallback staged(&stages);
  staged.Reset(4);
  staged.AddExpectedWork(0x03, 4, 0);
  staged.AddExpectedWork(0x40, 4, 20);
  const double frames_share = staged.ExpectedWork(0x03, 4, 0);
  staged.UpdateVisualisation(0, 0);
  staged.CompleteWorkUpTo(frames_share);
  staged.UpdateVisualisation(5, -1);
  staged.CompleteWorkUpTo(staged.GetExpectedWork());
  staged.ReportFinished();
  ASSERT_EQ(stages.progress.size(), 5u);
  EXPECT_DOUBLE_EQ(stages.progress[1], frames_share / staged.GetExpectedWork());
  EXPECT_GT(stages.progress[2], stages.progress[1]);
  EXPECT_EQ(stages.progress[3], 0.99);
  EXPECT_EQ(stages.progress[4], 1.0);

  callback.SetCancel(true);
  EXPECT_TRUE(callback.IsStopRequested());
  callback.Reset(4);
  EXPECT_FALSE(callback.IsStopRequested());
  EXPECT_EQ(callback.GetDisplayKind(), 0);
  EXPECT_EQ(callback.GetDoneWork(), 0.0);
}

}  // namespace
}  // namespace uic
