// The tracker as its sequence's description: new image lists, the description derived from
// the first image, the user's changes, and the export limit.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "interaction/meta_ctracker.h"
#include "interaction/tracker_job_for_test.h"
#include "testing/log_capture.h"

namespace uic {
namespace {

using kxtest::TrackerJob;

// A command that only exists, to see whether the stack was cleared.
struct MarkerCommand : Command {
  void CreateCommand() override {}
  void Undo() override {}
  void Redo() override {}
};

TEST(SequenceTest, TheDescriptionComesFromTheFirstImage) {
  struct Case {
    int width, height;
    double pixel_aspect, image_aspect, frame_rate;
  };
  // A known size takes the table's values; another gets square pixels and width / height
  // in floating point (40 x 32 is 1.25).
  for (const Case& c :
       {Case{720, 576, 576 * (4.0 / 3.0) / 720, 4.0 / 3.0, 25.0}, Case{40, 32, 1.0, 1.25, 30.0}}) {
    kxtest::TempDir dir;
    MetaCTracker tracker;
    tracker.m_frame_rate = 30.0;
    ASSERT_EQ(tracker.SetSequence(kxtest::WritePgmFrames(dir, 2, c.width, c.height)), 0);
    EXPECT_EQ(tracker.m_width, c.width);
    EXPECT_EQ(tracker.m_height, c.height);
    EXPECT_NEAR(tracker.m_image_aspect, c.image_aspect, 1e-12) << c.width;
    EXPECT_NEAR(tracker.m_pixel_aspect, c.pixel_aspect, 1e-9) << c.width;
    EXPECT_EQ(tracker.m_frame_rate, c.frame_rate);
    // The sensor snaps to the image aspect, and the cameras' pixels follow it.
    EXPECT_EQ(tracker.m_sensor_aspect, tracker.m_image_aspect);
    const FeatureImage& image = *tracker.GetImageList()[0];
    EXPECT_NEAR(image.GetSensorWidth() / image.GetSensorHeight(), c.image_aspect, 1e-9);
    EXPECT_EQ(tracker.m_sensor_diagonal, image.GetDiagonalSensorSize());
    EXPECT_EQ(tracker.m_num_frames, 2);
    EXPECT_EQ(tracker.m_interlacing, 0);
  }
  kxtest::LogCapture log(5);
  MetaCTracker tracker;
  EXPECT_EQ(tracker.SetSequence(SharedPtr<PackedStringList>()), 1);
  EXPECT_EQ(tracker.SetSequence(SharedPtr<PackedStringList>::Make()), 1);
  EXPECT_TRUE(log.Has("MetaCTracker::SetSequence: list with image names Null"));
  EXPECT_TRUE(log.Has("MetaCTracker::SetSequence: list with image names empty"));
}

TEST(SequenceTest, OnlyANewInterlacingModeRebuilds) {
  TrackerJob job;
  MetaCTracker& tracker = job.tracker;
  ImageCache& cache = *tracker.GetImageCache();
  SequenceProperty p = tracker;

  // The frame rate alone: no rebuild, the history stays, the map gets it.
  PushCommand(new MarkerCommand);
  p.m_frame_rate = 29.97;
  EXPECT_TRUE(tracker.SetSequenceProperty(p));
  EXPECT_EQ(tracker.GetFeatureMap()->GetFrameRate(), 29.97f);
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 1);
  EXPECT_EQ(tracker.GetImageList()[0]->GetFPoints2D().size(), size_t(TrackerJob::kTracks));
  EXPECT_FALSE(tracker.SetSequenceProperty(p));  // nothing new

  struct Step {
    int mode;
    int field_mode;
    bool top_field_first;
  };
  for (const Step& s : {Step{1, 4, true}, Step{0, 0, true}, Step{4, 5, false}, Step{0, 0, false}}) {
    PushCommand(new MarkerCommand);
    p.m_interlacing = s.mode;
    EXPECT_TRUE(tracker.SetSequenceProperty(p)) << s.mode;
    EXPECT_EQ(cache.GetFieldMode(), s.field_mode) << s.mode;
    EXPECT_EQ(cache.TopFieldFirst(), s.top_field_first) << s.mode;
    EXPECT_EQ(UndoStack::Instance().NumUndo(), 0) << s.mode;
    EXPECT_TRUE(tracker.GetImageList()[0]->GetFPoints2D().empty()) << s.mode;
    EXPECT_TRUE(tracker.GetFeatureMap()->GetFPoint3DList().empty()) << s.mode;
    // Field mode 5 gives two images per file.
    EXPECT_EQ(tracker.GetImageList().size(),
              size_t(TrackerJob::kFrames * (s.field_mode == 5 ? 2 : 1)));
    EXPECT_EQ(tracker.m_num_frames, int(tracker.GetImageList().size()));
  }

  // An unknown mode, negative ones included, is stored and leaves the field mode.
  kxtest::LogCapture log(5);
  for (int mode : {-1, 5}) {
    p.m_interlacing = mode;
    EXPECT_TRUE(tracker.SetSequenceProperty(p));
    EXPECT_EQ(tracker.m_interlacing, mode);
    EXPECT_EQ(cache.GetFieldMode(), 0);
  }
  EXPECT_TRUE(log.Has("MetaCTracker::SetSequenceProperty: unkown deinterlacing method: -1"));
}

TEST(SequenceTest, AspectsFollowTheAnamorphicFlag) {
  TrackerJob job;
  MetaCTracker& tracker = job.tracker;
  const FeatureImage& image = *tracker.GetImageList()[0];
  SequenceProperty p = tracker;

  // Not anamorphic: a new image aspect is the sensor aspect as well.
  p.m_image_aspect = 16.0 / 9.0;
  EXPECT_TRUE(tracker.SetSequenceProperty(p));
  EXPECT_EQ(tracker.m_sensor_aspect, 16.0 / 9.0);
  EXPECT_NEAR(image.GetSensorWidth() / image.GetSensorHeight(), 16.0 / 9.0, 1e-9);
  EXPECT_NEAR(tracker.m_pixel_aspect, (16.0 / 9.0) / (16.0 / 12.0), 1e-9);

  // Anamorphic: the sensor aspect is the record's, the image aspect stays as given.
  p.m_anamorphic = true;
  p.m_image_aspect = 2.0;
  p.m_sensor_aspect = 1.5;
  EXPECT_TRUE(tracker.SetSequenceProperty(p));
  EXPECT_EQ(tracker.m_image_aspect, 2.0);
  EXPECT_EQ(tracker.m_sensor_aspect, 1.5);
  EXPECT_NEAR(image.GetSensorWidth() / image.GetSensorHeight(), 1.5, 1e-9);
}

TEST(SequenceTest, ExportLimitNeedsAMap) {
  kxtest::LogCapture log(5);
  MetaCTracker tracker;
  tracker.m_fmap = nullptr;
  tracker.LimitNumFPoint3DExport(3);
  EXPECT_TRUE(log.Has("MetaCTracker::LimitNumFPoint3DExport: feature map not set!"));
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 0);
}

}  // namespace
}  // namespace uic
