#include "export/writers/save_cam_path_blender.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "export/writers/writer_fixture_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::FourPoints;
using kxtest::PosedCamera;
using kxtest::ThreeCameras;

class SaveCamPathBlenderTest : public testing::Test {
 protected:
  // Writes the script through Save and returns it with its date masked.
  std::string Write(float version, const SaveCamPath::CameraList& cameras,
                    const SaveCamPath::PointList& points, double fps = 29.97) {
    SaveCamPathBlender writer(dir_.path().c_str(), "cams.py");
    writer.SetVersion(version);
    writer.SetFramesPerSecond(fps);
    EXPECT_TRUE(writer.Export(cameras, points));
    return kxtest::MaskDates(kxtest::ReadText(dir_.File("cams.py")), "# Creation date: ", "\n",
                             "Aaa Aaa dd dd:dd:dd dddd");
  }

  kxtest::ReleaseVersion version_;
  kxtest::TempDir dir_;
};

TEST_F(SaveCamPathBlenderTest, GoldenScripts) {
  struct Case {
    float version;
    const char* golden;
  } cases[] = {{2.4f, "blender24.py"}, {2.5f, "blender25.py"}, {2.6f, "blender26.py"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.golden);
    const std::string golden = kxtest::GoldenText(c.golden);
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(
        kxtest::WriteInBothLocales([&] { return Write(c.version, ThreeCameras(), FourPoints()); }),
        golden);
  }
}

TEST_F(SaveCamPathBlenderTest, VersionChoosesTheScript) {
  // The 2.4x script imports Blender, the 2.5x one sets the default lens, the 2.6x one
  // gives the matrix without a Matrix constructor.
  struct Case {
    float version;
    const char* script;
  } cases[] = {{2.4f, "2.4"},
               {2.49f, "2.4"},
               {0.0f, "2.4"},
               {2.5f, "2.5"},
               {std::numeric_limits<float>::quiet_NaN(), "2.5"},
               {2.51f, "2.6"},
               {2.6f, "2.6"},
               {3.0f, "2.6"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    const std::string text = Write(c.version, ThreeCameras(), {});
    const bool v24 = text.find("\nimport Blender\n") != std::string::npos;
    const bool v25 = text.find("\ndata.lens = 35.0\n") != std::string::npos &&
                     text.find("vcam.matrix_world = mathutils.Matrix([") != std::string::npos;
    const bool v26 = text.find("\nvcam.matrix_world = ([") != std::string::npos &&
                     text.find("data.lens = 35.0") == std::string::npos;
    EXPECT_EQ(std::string(v24 ? "2.4" : v25 ? "2.5" : v26 ? "2.6" : "none"), c.script);
  }
}

TEST_F(SaveCamPathBlenderTest, FramesNamesRatesAndAspect) {
  // Image index 0 is frame 1 of the 2.4x script, c0001 / o0001 named <cam>1; 12344 gives
  // five digits. The bpy scripts key the file indices.
  const std::string v24 =
      Write(2.4f,
            {PosedCamera(0, 100, {0, 0, 0}, 0, 0, 0, 35, 720, 576, 0.01, 0.011),
             PosedCamera(12344, 12444, {0, 0, 0}, 0, 0, 0, 35, 720, 576, 0.01, 0.011)},
            {});
  for (const char* line :
       {"\ncontext.aspectRatioY(110)\n", "\ncontext.startFrame(1)\n", "\ncontext.endFrame(12345)\n",
        "\nc0001 = Camera.New('persp')\n", "\no0001.name = \"TORBANE_cam1\"\n",
        "\nc12345.lens = 155.555556\n", "\nlocx.addBezier((12345,o12345.LocX))\n",
        "\nrotz.addBezier((1,o0001.RotZ*18/3.141593))\n",
        "\n   if o.name[:11]=='TORBANE_cam':\n"}) {
    EXPECT_NE(v24.find(line), std::string::npos) << line;
  }
  const std::string v26 = Write(2.6f, ThreeCameras(), {});
  EXPECT_NE(v26.find("\n#Camera Parameters\nscene.frame_set(100)\n"), std::string::npos);

  struct Rate {
    double fps;
    const char* line;
  } rates[] = {{29.97, "context.framesPerSec(30)"},
               {23.976, "context.framesPerSec(24)"},
               {25.0, "context.framesPerSec(25)"}};
  for (const Rate& r : rates) {
    EXPECT_NE(Write(2.4f, ThreeCameras(), {}, r.fps).find(r.line), std::string::npos) << r.fps;
  }
}

TEST_F(SaveCamPathBlenderTest, DegenerateCamerasStillGiveRunnableScripts) {
  // A pixel width of 0 keeps the aspect 100:100; a camera without a finite lens gets 35.
  kxtest::LogCapture log(2);
  SaveCamPath::CameraList zero_width = ThreeCameras();
  zero_width[0]->SetPixelSize(0.0, 0.01);
  const std::string text = Write(2.5f, zero_width, {});
  EXPECT_NE(text.find("\nrender_settings.pixel_aspect_y = 100\n"), std::string::npos);
  EXPECT_NE(text.find("\nvcam.data.lens = 35.000000\n"), std::string::npos);
  EXPECT_EQ(text.find("inf"), std::string::npos);
  EXPECT_EQ(text.find("nan"), std::string::npos);
  EXPECT_TRUE(log.Has("SaveCamPathBlender::Export2Dot5: pixel size x == 0.0")) << log.text;
  EXPECT_TRUE(log.Has("no finite lens")) << log.text;
}

TEST_F(SaveCamPathBlenderTest, WithoutPointsTheMeshIsStillCreated) {
  const std::string v24 = Write(2.4f, ThreeCameras(), {});
  EXPECT_NE(v24.find("scn.link(ob)\nmesh.update()\n"), std::string::npos);
  EXPECT_NE(v24.find("scene_dummy.makeParent([orender,ob])"), std::string::npos);
  for (float version : {2.5f, 2.6f}) {
    const std::string text = Write(version, ThreeCameras(), {});
    EXPECT_EQ(text.find("# 3D Feature Points"), std::string::npos);
    EXPECT_NE(text.find("mesh.parent = dummy\n"), std::string::npos);
    const std::string end = "vcam.data.keyframe_insert('lens')\n\n";
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
  }
}

}  // namespace
