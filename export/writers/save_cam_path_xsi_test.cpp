#include "export/writers/save_cam_path_xsi.h"

#include <gtest/gtest.h>

#include <string>

#include "export/writers/writer_golden_for_test.h"

namespace {

// The lines of the curve whose head line contains `head`, up to its closing brace.
std::string Curve(const std::string& text, const std::string& head) {
  const size_t at = text.find(head);
  if (at == std::string::npos) return "";
  const size_t end = text.find("}\n", at);
  return text.substr(at, end - at);
}

class SaveCamPathXsiTest : public kxtest::WriterTest<SaveCamPathXsi> {
 protected:
  SaveCamPathXsiTest() { file_name_ = "scene.xsi"; }  // the path is written into the file

  // As the dispatcher sets the writer up, with the given frame numbering.
  std::string WriteTurned(const SaveCamPath::CameraList& cameras, int numbering = 1) {
    return Write(cameras, {}, [&](SaveCamPathXsi& writer) {
      writer.SetCoordinateMode(1);
      writer.SetFileIndexNumbering(numbering);
    });
  }
};

TEST_F(SaveCamPathXsiTest, GoldenFile) {
  // Through Save, which turns the solve about X as the dispatcher asks.
  kxtest::ExpectGoldenFile(
      [&] {
        SaveCamPathXsi writer(dir_.path().c_str(), file_name_);
        writer.SetCoordinateMode(1);
        writer.SetFileIndexNumbering(1);
        SaveCamPath::FeaturePointList points;
        for (const vm::Vector3& p : kxtest::EightPoints()) {
          points.push_back(
              SharedPtr<FeaturePoint3D>::Make(p.x, p.y, p.z, FeaturePoint3D::eCartesian));
        }
        EXPECT_TRUE(writer.Save(kxtest::GoldenCameras(), points));
      },
      dir_.File(file_name_), "scene.xsi");
}

TEST_F(SaveCamPathXsiTest, FramesCountFromTheFirstFileAndKeysCountTheCameras) {
  const struct {
    std::vector<int> indices;
    int numbering;
    const char* range;
    int first_key;
  } cases[] = {
      {{10, 11, 12}, 1, "100,102,", 100},
      {{10, 11, 12}, 0, "0,2,", 0},
      // Every second image: the scene's range spans the images, the curves hold three keys.
      {{0, 2, 4}, 1, "100,104,", 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    SaveCamPath::CameraList cameras = kxtest::GoldenCameras();
    for (size_t k = 0; k < cameras.size(); ++k) cameras[k]->SetImageIndex(c.indices[k]);
    const std::string text = WriteTurned(cameras, c.numbering);
    EXPECT_NE(text.find(std::string("\"FRAMES\",\n    ") + c.range + "\n"), std::string::npos);
    for (const char* head : {"-POSITION-XYZ {", "-INTEREST-XYZ {", "-ROLL {", "-FOV {",
                             "up_vector-TRANSLATION-XYZ {"}) {
      SCOPED_TRACE(head);
      const std::string curve = Curve(text, head);
      const std::string indent =
          std::string(head).rfind("up_vector", 0) == 0 ? "            " : "        ";
      std::string frames = "\"LINEAR\",\n";
      const size_t at = curve.find(frames);
      ASSERT_NE(at, std::string::npos);
      const size_t count = curve.find(indent + "3,\n", at);
      ASSERT_NE(count, std::string::npos);
      size_t line = count + indent.size() + 3;
      for (int k = 0; k < 3; ++k) {
        const std::string key = indent + std::to_string(c.first_key + k) + ",";
        EXPECT_EQ(curve.substr(line, key.size()), key);
        line = curve.find('\n', line) + 1;
      }
      EXPECT_EQ(curve.substr(line), indent);  // the closing brace follows
    }
  }
}

TEST_F(SaveCamPathXsiTest, RollAndFieldOfView) {
  // After the half turn an upright camera looks along -z with its image-down axis along -y.
  const SaveCamPath::CameraList upright = {
      kxtest::TurnedCamera(0, 1, 180, 0, 180, {12.345, -50, 300}, 35, 720, 576, 0.01, 0.01)};
  std::string text = WriteTurned(upright);
  EXPECT_NE(text.find("        1,1.234500,-5.000000,30.000000,\n"), std::string::npos);
  EXPECT_NE(Curve(text, "-ROLL {").find("        1,0.000000,\n"), std::string::npos);
  // The vertical angle of view, the near and far planes.
  EXPECT_NE(text.find(";\n    9.408053;\n    0.100000;\n    1000.000000;\n"), std::string::npos);

  // Rolled by 30 degrees either way: the camera block keeps the sign, the curve (the angle
  // between the image-down axis and -y) does not.
  for (double roll : {30.0, -30.0}) {
    SCOPED_TRACE(roll);
    text = WriteTurned({kxtest::TurnedCamera(0, 1, 180, 0, 180 + roll, {0, 0, 0}, 35)});
    EXPECT_NE(text.find(roll > 0 ? ";;\n    30.000000;\n" : ";;\n    -30.000000;\n"),
              std::string::npos);
    EXPECT_NE(Curve(text, "-ROLL {").find("        1,30.000000,\n"), std::string::npos);
  }

  // No focal length: 180 degrees.
  SaveCamPath::CameraList flat = upright;
  flat[0]->Set(flat[0]->GetC(), flat[0]->GetA(), {0, 0, 0}, {0, 0, 0}, 720, 576, 0.0, 0.01, 0.01,
               0.0, 0, nullptr);
  EXPECT_EQ(SaveCamPathXsi::GetFieldOfView(*flat[0]), 180.0);
}

}  // namespace
