#include "export/writers/save_cam_path_carrara.h"

#include <gtest/gtest.h>

#include <string>

#include "export/writers/writer_fixture_for_test.h"
#include "testing/temp_dir.h"

namespace {

class SaveCamPathCarraraTest : public testing::Test {
 protected:
  std::string Write(const SaveCamPath::PointList& points, double fps = 25.0) {
    SaveCamPathCarrara writer(dir_.path().c_str(), "path.txt");
    writer.SetFramesPerSecond(fps);
    EXPECT_TRUE(writer.Export(kxtest::PathCameras(), points));
    return kxtest::ReadText(dir_.File("path.txt"));
  }
  kxtest::TempDir dir_;
};

TEST_F(SaveCamPathCarraraTest, GoldenFile) {
  const std::string golden =
      kxtest::ReadText(std::string(KALVEX_SOURCE_DIR) + "/testdata/export/carrara.txt");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(Write(kxtest::PathPoints()), golden);
}

TEST_F(SaveCamPathCarraraTest, WithoutPointsEveryBlockIsStillClosed) {
  const std::string text = Write({}, 29.97);
  EXPECT_EQ(text.find("Trak"), std::string::npos);
  EXPECT_NE(text.find("    Rate 30\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 35), "    Zoom {\n      FKey \n    }\n  }\n}\n");
}

}  // namespace
