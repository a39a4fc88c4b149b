#include "export/writers/save_cam_path_maya.h"

#include <gtest/gtest.h>

#include <string>

#include "export/writers/writer_golden_for_test.h"

namespace {

using SaveCamPathMayaTest = kxtest::WriterTest<SaveCamPathMaya>;

TEST_F(SaveCamPathMayaTest, GoldenFile) {
  ExpectGolden("scene.ma");
}

TEST_F(SaveCamPathMayaTest, TimeUnitFollowsTheFrameRate) {
  const struct {
    double fps;
    const char* unit;
  } cases[] = {{25, "pal;"},     {24, "film;"},    {23.99, "film;"}, {23.976, "pal;"},
               {29.97, "ntsc;"}, {30.01, "ntsc;"}, {59.94, "ntsc;"}, {60, "ntsc;"},
               {60.02, "pal;"},  {50, "pal;"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fps);
    const std::string text =
        Write(kxtest::GoldenCameras(), {}, [&](auto& writer) { writer.SetFramesPerSecond(c.fps); });
    EXPECT_NE(text.find(std::string("-a degree -t ") + c.unit + "\n"), std::string::npos);
    // The script node's rate is fixed text.
    EXPECT_NE(text.find(" -animationEndTime 12 -fps 25;\");\n"), std::string::npos);
  }
}

TEST_F(SaveCamPathMayaTest, KeyArraySpansTheKeysWritten) {
  const struct {
    std::vector<int> indices;
    const char* keys;  // the rotate Y curve's key line
  } cases[] = {
      {{10, 11, 12}, "\t setAttr -s 13 \".ktv[10:12]\" 10 -0 11 -20 12 35 ;\n"},
      // Every second image: three keys, so the array holds three, not five.
      {{0, 2, 4}, "\t setAttr -s 3 \".ktv[0:2]\" 0 -0 2 -20 4 35 ;\n"},
  };
  for (const auto& c : cases) {
    SaveCamPath::CameraList cameras = kxtest::GoldenCameras();
    for (size_t k = 0; k < cameras.size(); ++k) cameras[k]->SetImageIndex(c.indices[k]);
    const std::string text = Write(cameras, {});
    const size_t curve = text.find("_rotateY\";\n");
    ASSERT_NE(curve, std::string::npos);
    EXPECT_EQ(text.substr(curve + 11, std::string(c.keys).size()), c.keys);
    EXPECT_NE(text.find("playbackOptions -min " + std::to_string(c.indices[0]) + " -max " +
                        std::to_string(c.indices[2]) + " "),
              std::string::npos);
  }
}

TEST_F(SaveCamPathMayaTest, WithoutPointsTheFileEndsWithThePointComment) {
  const std::string text = Write(kxtest::GoldenCameras(), {});
  EXPECT_EQ(text.substr(text.size() - 22), "\n// 3D feature points\n");
}

}  // namespace
