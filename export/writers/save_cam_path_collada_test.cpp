#include "export/writers/save_cam_path_collada.h"

#include <gtest/gtest.h>

#include <string>

#include "export/writers/writer_fixture_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::FourPoints;
using kxtest::PosedCamera;
using kxtest::ThreeCameras;

class SaveCamPathColladaTest : public testing::Test {
 protected:
  std::string Write(const SaveCamPath::CameraList& cameras, const SaveCamPath::PointList& points,
                    double fps = 29.97) {
    SaveCamPathCollada writer(dir_.path().c_str(), "scene.dae");
    writer.SetFramesPerSecond(fps);
    EXPECT_TRUE(writer.Export(cameras, points));
    const std::string text = kxtest::ReadText(dir_.File("scene.dae"));
    const std::string masked =
        kxtest::MaskDates(text, "<created>", "</created>", "dddd-dd-ddTdd:dd:dd");
    return kxtest::MaskDates(masked, "<modified>", "</modified>", "dddd-dd-ddTdd:dd:dd");
  }
  kxtest::TempDir dir_;
};

TEST_F(SaveCamPathColladaTest, GoldenFile) {
  const std::string golden = kxtest::GoldenText("collada.dae");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(kxtest::WriteInBothLocales([&] { return Write(ThreeCameras(), FourPoints()); }),
            golden);
}

TEST_F(SaveCamPathColladaTest, KeysTimesAndDegenerateOptics) {
  struct Case {
    const char* name;
    SaveCamPath::CameraList cameras;
    SaveCamPath::PointList points;
    double fps;
    std::vector<std::string> lines;
  } cases[] = {
      {"one camera",
       {ThreeCameras()[0]},
       {},
       25.0,
       {"<float_array count=\"1\" id=\"Camera-rotateX-input-array\">0.000000 </float_array>",
        "<Name_array count=\"3\" id=\"Camera-translate-interpolation-array\">LINEAR LINEAR "
        "LINEAR </Name_array>",
        // The point cloud without points: its translate and one empty line.
        "<translate>0 0 0</translate>\n\n\t\t\t\t</node>\n"}},
      {"25 frames per second",
       ThreeCameras(),
       {{1, 2, 3}},
       25.0,
       {"-input-array\">0.000000 0.040000 0.080000 </float_array>",
        "<translate>1.000000 -2.000000 -3.000000</translate>"}},
      // Neither a frame rate nor an image height may put "inf" or "nan" into the document.
      {"no frame rate, no image height",
       {PosedCamera(0, 0, {0, 0, 0}, 0, 0, 0, 35, 720, 0, 0.01, 0.01),
        PosedCamera(1, 1, {0, 0, 0}, 0, 0, 0, 35, 720, 0, 0.01, 0.01)},
       {},
       0.0,
       {"-input-array\">0.000000 0.040000 </float_array>",
        "<aspect_ratio>1.000000</aspect_ratio>"}},
      {"focal length 0",
       {PosedCamera(0, 0, {0, 0, 0}, 0, 0, 0, 0.0, 720, 576, 0.01, 0.01)},
       {},
       25.0,
       {"<xfov sid=\"xfov\">180.000000</xfov>",
        "id=\"Camera-xfov-output-array\">180.000000 </float_array>"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::LogCapture quiet(1);
    const std::string text = Write(c.cameras, c.points, c.fps);
    for (const std::string& line : c.lines) {
      EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(text.find("BEZIER"), std::string::npos);
    EXPECT_EQ(text.find("inf"), std::string::npos);
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(text.find("<library_geometries>"), std::string::npos);
  }
}

TEST_F(SaveCamPathColladaTest, NamesAreEscaped) {
  struct Case {
    const char* text;
    const char* escaped;
  } cases[] = {{"Kalvex", "Kalvex"},
               {"", ""},
               {"a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c&apos;"},
               {"&amp;", "&amp;amp;"}};
  for (const Case& c : cases) EXPECT_EQ(XmlEscape(c.text), c.escaped) << c.text;
}

}  // namespace
