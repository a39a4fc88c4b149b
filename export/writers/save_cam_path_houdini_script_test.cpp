#include "export/writers/save_cam_path_houdini_script.h"

#include <gtest/gtest.h>

#include <string>

#include "export/writers/writer_fixture_for_test.h"
#include "testing/temp_dir.h"

namespace {

class SaveCamPathHoudiniScriptTest : public testing::Test {
 protected:
  std::string Write(const SaveCamPath::CameraList& cameras, const SaveCamPath::PointList& points) {
    SaveCamPathHoudiniScript writer(dir_.path().c_str(), "scene.cmd");
    EXPECT_TRUE(writer.Export(cameras, points));
    return kxtest::ReadText(dir_.File("scene.cmd"));
  }
  kxtest::TempDir dir_;
};

TEST_F(SaveCamPathHoudiniScriptTest, GoldenFile) {
  const std::string golden =
      kxtest::ReadText(std::string(KALVEX_SOURCE_DIR) + "/testdata/export/houdini_script.cmd");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(Write(kxtest::PathCameras(), kxtest::PathPoints()), golden);
}

TEST_F(SaveCamPathHoudiniScriptTest, OnlyTheStaticTiltIsBroughtIntoHalfATurn) {
  // 0.1 rad of tilt: the key is 185.73 degrees, the camera line -174.27.
  const std::string text =
      Write({kxtest::PathCamera(4, {0, 0, 0}, 0.0, 5.729577951308232, 0.0)}, {});
  EXPECT_NE(text.find("frange 0 0\n"), std::string::npos);
  EXPECT_NE(text.find(" r (-174.27 "), std::string::npos) << text;
  EXPECT_NE(text.find("chkey -f 0 -v 185.73 TORBANE_cam/rx\n"), std::string::npos) << text;
  EXPECT_NE(text.find("focal (35 ) aperture (36) rOrd ( xyz )\n"), std::string::npos) << text;
  // No points: the keys are followed by the last line.
  EXPECT_EQ(text.substr(text.size() - 16), "chcommit\nopcf /\n");
}

TEST_F(SaveCamPathHoudiniScriptTest, PointsAreLaidOutInRowsOfTen) {
  SaveCamPath::PointList points(25, vm::Vector3{1, 2, 3});
  points[0] = {1234567.0, 999999.4, -2e6};
  const std::string text = Write(kxtest::PathCameras(), points);
  for (const char* line : {
           "opparm FeaturePoint0 t (1.23457e+06 999999 -2e+06 )\n",
           "oplocate -x 0 -y -2 FeaturePoint0\n",
           "oplocate -x 9 -y -2 FeaturePoint9\n",
           "oplocate -x 0 -y -3 FeaturePoint10\n",
           "oplocate -x 4 -y -4 FeaturePoint24\nopwire TORBANE_scene -0 FeaturePoint24\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(text.find("FeaturePoint25"), std::string::npos);
}

}  // namespace
