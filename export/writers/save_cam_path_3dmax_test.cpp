#include "export/writers/save_cam_path_3dmax.h"

#include <gtest/gtest.h>

#include <string>

#include "export/writers/writer_golden_for_test.h"
#include "testing/log_capture.h"

namespace {

using SaveCamPath3DMaxTest = kxtest::WriterTest<SaveCamPath3DMax>;

TEST_F(SaveCamPath3DMaxTest, GoldenFile) {
  ExpectGolden("scene.ms");
}

TEST_F(SaveCamPath3DMaxTest, KeysAtImageIndicesCommentsNameTheFiles) {
  // One camera at image 0 whose file is number 100.
  const std::string text =
      Write({kxtest::TurnedCamera(0, 100, 0, 0, 0, {1, 2, 3}, 35, 720, 576, 0.01, 0.01)}, {});
  EXPECT_NE(text.find("animationRange = interval 0f 0f\n"), std::string::npos);
  EXPECT_NE(text.find("-- use input image with frame number (100) as environment map\n"
                      "at time 0f c.rotation = (matrix3 [1.000000,-0.000000,-0.000000] "
                      "[0.000000,-1.000000,0.000000] [0.000000,-0.000000,-1.000000] "
                      "[0,0,0]).rotationpart \n"
                      "at time 0f c.position = [1.000000,2.000000,3.000000] \n"
                      "at time 0f c.fov = 11.745257\n"),
            std::string::npos)
      << text;
  // No points: no point section, the closing lines stay.
  EXPECT_EQ(text.substr(text.find(")\n")), ")\n\nroot.rotation = eulerAngles -90 -180 -180\n\n");
}

TEST_F(SaveCamPath3DMaxTest, PointNamesGrowBeyondFiveDigits) {
  const std::string text = Write(kxtest::GoldenCameras(), SaveCamPath::PointList(100000));
  EXPECT_NE(text.find("name:\"fp3d_auto_00001\" parent:$TORBANE_FP3D_cloud\n"), std::string::npos);
  EXPECT_NE(text.find("name:\"fp3d_auto_100000\" parent:$TORBANE_FP3D_cloud\n\n"),
            std::string::npos);
}

}  // namespace
