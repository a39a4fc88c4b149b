#include "interaction/tracking_message_ring.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "interaction/tracking_quality.h"
#include "testing/log_capture.h"
#include "tracking/job/camera_tracking_pool.h"

namespace uic {
namespace {

struct RecordingTarget : TrackingMessageTarget {
  void EmitProgress() override { calls.push_back("progress"); }
  void TrackingFinished() override { calls.push_back("finished"); }
  void ResetCorrelator() override { calls.push_back("reset"); }
  void EmitTrackingMessage(int code) override { calls.push_back("msg" + std::to_string(code)); }
  void SetSceneData() override { calls.push_back("scene"); }
  std::vector<std::string> calls;
};

TEST(TrackingMessageRingTest, SeventeenPushesKeepTheLastSixteenOldestFirst) {
  TrackingMessageRing ring;
  for (int code = 1; code <= 17; ++code) ring.Post(code);
  EXPECT_EQ(ring.Pending(), 16);
  for (int code = 2; code <= 17; ++code) EXPECT_EQ(ring.Take(), code);
  EXPECT_EQ(ring.Take(), 0);
  // The ring goes on working after it wrapped.
  ring.Post(5);
  ring.Post(2);
  EXPECT_EQ(ring.Take(), 5);
  EXPECT_EQ(ring.Take(), 2);
}

TEST(TrackingMessageRingTest, DrainHandlesAStoppedRunInOrder) {
  kxtest::LogCapture log(2);
  TrackingMessageRing ring;
  RecordingTarget target;
  EXPECT_EQ(HandleTrackingMessages(ring, target), 0);  // empty: at once
  EXPECT_TRUE(target.calls.empty());

  for (int code : {7, 2, 3, 5, 6, 8, 1, 4}) ring.Post(code);
  EXPECT_EQ(HandleTrackingMessages(ring, target), 0);
  EXPECT_EQ(target.calls, (std::vector<std::string>{"scene", "msg5", "finished", "reset", "msg5",
                                                    "progress", "msg4"}));
  EXPECT_TRUE(log.Has("bad message type 6"));
  EXPECT_TRUE(log.Has("bad message type 8"));
  EXPECT_EQ(ring.Pending(), 0);
}

TEST(TrackingMessageRingTest, PushesFromAnotherThreadAreNotLost) {
  TrackingMessageRing ring;
  RecordingTarget target;
  int taken = 0;
  std::thread producer([&] {
    for (int i = 0; i < 2000; ++i) {
      while (ring.Pending() == TrackingMessageRing::kSize) std::this_thread::yield();
      ring.Post(4);
    }
  });
  while (taken < 2000) {
    const int code = ring.Take();
    if (code != 0) {
      EXPECT_EQ(code, 4);
      ++taken;
    }
  }
  producer.join();
  EXPECT_EQ(ring.Take(), 0);
}

TEST(TrackingMessageRingTest, CorrelatorResetHandsTheCorrelatorToTheMapAgain) {
  CameraTrackingPool pool;
  pool.m_fmap->SetCorrelatorTemplate(nullptr);
  ResetCurrentCorrelator(pool);
  EXPECT_EQ(pool.m_fmap->GetCorrelatorTemplate(), pool.m_correlator);
  pool.m_correlator = nullptr;
  ResetCurrentCorrelator(pool);  // nothing to reset
}

TEST(TrackingQualityTest, MeasuresAndTrackLengthMoments) {
  EXPECT_EQ(GetTrackQuality(0.0), 1.0);
  EXPECT_EQ(GetTrackQuality(1.0), 0.5);
  EXPECT_EQ(GetTrackQuality(-1.0), 0.0001);
  EXPECT_EQ(GetErrorScaleForImageWidth(720), 1.0);
  EXPECT_EQ(GetErrorScaleForImageWidth(1920), 2.0);
  EXPECT_DOUBLE_EQ(GetErrorScaleForImageWidth(1320), 1.5);

  // Lengths 2, 4, 9: mean 5, sample variance 13.
  TrackLengthMoments m = GetTrackLengthMoments(15, 101, 3);
  EXPECT_DOUBLE_EQ(m.mean, 5.0);
  EXPECT_DOUBLE_EQ(m.stddev, std::sqrt(13.0));
  m = GetTrackLengthMoments(7, 49, 1);
  EXPECT_EQ(m.mean, 7.0);
  EXPECT_EQ(m.stddev, 0.0);
  m = GetTrackLengthMoments(0, 0, 0);
  EXPECT_EQ(m.mean, 0.0);
  m = GetTrackLengthMoments(3, 4.4999999, 2);  // rounding below zero
  EXPECT_EQ(m.stddev, 0.0);

  kxtest::LogCapture log(5);
  LogTrackLengthStats("eWith3DPoints", 3, 2, 9, 15, 101);
  EXPECT_TRUE(
      log.Has("MetaCTracker::TrackingFinished: FeatureTrackLengthStats(eWith3DPoints) "
              "num/min/max/mean/stddev 3 2.000000 9.000000 5.000000 3.605551"));
}

}  // namespace
}  // namespace uic
