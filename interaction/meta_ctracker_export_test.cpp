#include <gtest/gtest.h>

#include <string>

#include "interaction/meta_ctracker.h"
#include "interaction/tracker_job_for_test.h"
#include "scene/objects/primitives.h"
#include "testing/log_capture.h"

namespace {

// The tracker hands its own scene to the writers of user objects.
TEST(MetaCTrackerExportTest, ExportsTheTrackersSceneObjects) {
  kxtest::LogCapture quiet(2);
  kxtest::TrackerJob job;
  auto* box = new NHSObject_Cuboid;
  UIDRegistry::Instance().SetName(box->GetUID(), "Crate");
  job.tracker.GetScene().AddChild(box);
  ASSERT_TRUE(job.tracker.ExportCameraPath(job.dir.path().c_str(), "scene.dae", 15));
  EXPECT_NE(kxtest::ReadText(job.dir.File("scene.dae")).find("<geometry id=\"Crate-geom\">"),
            std::string::npos);
  ASSERT_TRUE(job.tracker.ExportCameraPath(job.dir.path().c_str(), "scene.scn", 9));
  EXPECT_NE(kxtest::ReadText(job.dir.File("scene.scn")).find("\nName Crate\n"), std::string::npos);
}

}  // namespace
