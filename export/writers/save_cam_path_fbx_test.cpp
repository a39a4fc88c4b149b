#include "export/writers/save_cam_path_fbx.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>

#include "export/writers/writer_golden_for_test.h"

namespace {

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The camera's take model.
std::string CameraTake(const std::string& text) {
  const size_t at = text.find("\t\tModel: \"Model::Kalvex_Camera\" {\n\t\t\tVersion: 1.1");
  return at == std::string::npos ? "" : text.substr(at, text.find("\nVersion5:", at) - at);
}

using SaveCamPathFBXTest = kxtest::WriterTest<SaveCamPathFBX>;

TEST_F(SaveCamPathFBXTest, GoldenFile) {
  ExpectGolden("scene.fbx");
}

TEST_F(SaveCamPathFBXTest, KeyTimesCountsAndTheTimeLine) {
  const struct {
    const char* name;
    int first_index;
    int cameras;
    double fps;
    const char* first_key;  // the first T X key line
    const char* last_time;
    const char* frame_rate;
  } cases[] = {
      {"100 at 25", 0, 100, 25.0, "0,0.0000000000,L,", "182897185680", "25"},
      {"one camera", 10, 1, 25.0, "18474463200,0.0000000000,L\n", "18474463200", "25"},
      {"from image 10", 10, 3, 25.0, "18474463200,0.0000000000,L,", "22169355840", "25"},
      // The frame rate as a double: t(1) = 1541079680.
      {"29.97", 1, 1, 29.97, "1541079680,0.0000000000,L\n", "1541079680", "30"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SaveCamPath::CameraList cameras;
    for (int k = 0; k < c.cameras; ++k) {
      cameras.push_back(kxtest::TurnedCamera(c.first_index + k, k, 0, 0, 0, {0, 0, 0}, 35));
    }
    const std::string text =
        Write(cameras, {}, [&](auto& writer) { writer.SetFramesPerSecond(c.fps); });
    const std::string last(c.last_time);
    const std::string take = CameraTake(text);
    EXPECT_EQ(Count(take, "KeyCount: " + std::to_string(c.cameras) + "\n"), 6);
    EXPECT_NE(take.find(std::string("Key: \n\t\t\t\t\t\t\t") + c.first_key), std::string::npos);
    // One key line per camera; the last without the trailing comma.
    EXPECT_EQ(Count(take, ",L,\n"), 6 * (c.cameras - 1) + 3);
    EXPECT_EQ(Count(take, ",L\n"), 6 + 3);
    // The time line and the scale keys start at 0 whatever the first image.
    EXPECT_NE(text.find("\t\tLocalTime: 0," + last + "\n\t\tReferenceTime: 0," + last + "\n"),
              std::string::npos);
    EXPECT_EQ(Count(take, "\t\t\t\t\t\t\t0,1.0,L,\n\t\t\t\t\t\t\t" + last + ",1.0,L\n"), 3);
    EXPECT_NE(text.find("TimeLineStopTime: " + last + "\n"), std::string::npos);
    EXPECT_NE(text.find(std::string("FrameRate: \"") + c.frame_rate + "\"\n"), std::string::npos);
  }
}

TEST_F(SaveCamPathFBXTest, KeyValuesAreTheCameraInTheTurnedFrame) {
  // Pan 20, tilt -10, roll 5 at (120.5, -40.25, 300); image 11 at 25 frames per second.
  const std::string take =
      CameraTake(Write({kxtest::TurnedCamera(11, 0, 20, -10, 5, {120.5, -40.25, 300}, 36)}, {}));
  const char* const expected[] = {
      "Channel: \"X\" {\n\t\t\t\t\t\tDefault: 0.000000000000000\n\t\t\t\t\t\tKeyVer: 4005\n"
      "\t\t\t\t\t\tKeyCount: 1\n\t\t\t\t\t\tKey: \n\t\t\t\t\t\t\t20321909520,120.5000000000,L\n",
      "20321909520,40.2500000000,L\n",
      "20321909520,-300.0000000000,L\n",
      "Default: 5.0000000000\n\t\t\t\t\t\tKeyVer: 4005\n\t\t\t\t\t\tKeyCount: 1\n"
      "\t\t\t\t\t\tKey: \n\t\t\t\t\t\t\t20321909520,5.0000000000,L\n",
      "Default: -20.0000000000\n",
      "20321909520,-20.0000000000,L\n",
      "20321909520,-10.0000000000,L\n",
  };
  for (const char* part : expected) EXPECT_NE(take.find(part), std::string::npos) << part;

  // A pan of exactly zero is written negated.
  const std::string upright =
      CameraTake(Write({kxtest::TurnedCamera(0, 0, 0, 0, 0, {0, 0, 0}, 35)}, {}));
  EXPECT_NE(upright.find("Default: -0.0000000000\n"), std::string::npos);
  EXPECT_NE(upright.find("\t0,-0.0000000000,L\n"), std::string::npos);
}

TEST_F(SaveCamPathFBXTest, VertexAndNormalListsWrap) {
  const struct {
    size_t points;
    const char* vertices;
    const char* normals;
  } cases[] = {
      {0, "Vertices: \n\t\tPolygonVertexIndex: ", "Normals: \n\t\t}"},
      {1, "Vertices: 0,1,2\n\t\tPolygonVertexIndex: ", "Normals: 0.0\n\t\t}"},
      {8,
       "Vertices: 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23\n\t\t\n"
       "\t\tPolygonVertexIndex: ",
       "Normals: 0.0,0.0,0.0,0.0,0.0,0.0,0.0\n\t\t,0.0\n\t\t}"},
      {9,
       "Vertices: 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23\n\t\t,24,25,26\n"
       "\t\tPolygonVertexIndex: ",
       "Normals: 0.0,0.0,0.0,0.0,0.0,0.0,0.0\n\t\t,0.0,0.0\n\t\t}"},
      {13, nullptr,
       "Normals: 0.0,0.0,0.0,0.0,0.0,0.0,0.0\n\t\t,0.0,0.0,0.0,0.0,0.0,0.0\n\t\t\n\t\t}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.points);
    SaveCamPath::PointList points;
    for (size_t i = 0; i < c.points; ++i) points.push_back({3.0 * i, 3.0 * i + 1, 3.0 * i + 2});
    const std::string text = Write(kxtest::GoldenCameras(), points);
    if (c.vertices != nullptr) {
      EXPECT_NE(text.find(c.vertices), std::string::npos);
    }
    EXPECT_NE(text.find(c.normals), std::string::npos);
  }
}

TEST_F(SaveCamPathFBXTest, PropertyBlocks) {
  std::ostringstream block;
  SaveCamPathFBX::WriteModelProperties(block);
  EXPECT_EQ(Count(block.str(), "\n"), 69);
  EXPECT_EQ(Count(block.str(), "\n\t\t\tProperty: \""), 68);
  EXPECT_NE(block.str().find("\t\t\tProperty: \"LookAtProperty\", \"object\", \"\"\n"),
            std::string::npos);
  EXPECT_NE(block.str().find("\t\t\tProperty: \"PreferedAngleZ\", \"double\", \"\",0\n"),
            std::string::npos);

  std::ostringstream mesh;
  SaveCamPathFBX::WriteMeshProperties(mesh);
  EXPECT_EQ(Count(mesh.str(), "\t\t\tProperty: \""), 3);

  // Field of view and focal length of the first camera, six significant digits.
  const struct {
    double focal;
    const char* fov_line;
    const char* focal_line;
  } cases[] = {
      {35, "\t\tProperty: \"FieldOfView\", \"FieldOfView\", \"A+\",54.4322\n",
       "\t\tProperty: \"FocalLength\", \"Real\", \"A+\",35\n"},
      {0, "\t\tProperty: \"FieldOfView\", \"FieldOfView\", \"A+\",180\n",
       "\t\tProperty: \"FocalLength\", \"Real\", \"A+\",0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.focal);
    // A 36 mm wide sensor.
    SaveCamPath::CameraList camera = {
        kxtest::TurnedCamera(0, 0, 0, 0, 0, {0, 0, 0}, 35, 3600, 2400, 0.01, 0.01)};
    if (c.focal == 0) {
      camera[0]->Set({0, 0, 0}, {0, 0, 1}, {0, 0, 0}, {0, 0, 0}, 3600, 2400, 0.0, 0.01, 0.01, 0.0,
                     0, nullptr);
    }
    const std::string text = Write(camera, {});
    const size_t model =
        text.find("\tModel: \"Model::Kalvex_Camera\", \"Camera\" {\n\tVersion: 232\n");
    ASSERT_NE(model, std::string::npos);
    const std::string lines = text.substr(model, text.find("\t\tMultiLayer", model) - model);
    EXPECT_NE(lines.find(block.str()), std::string::npos);
    EXPECT_EQ(Count(lines, "\n\t\tProperty: \""), 69);
    EXPECT_NE(lines.find(c.fov_line), std::string::npos);
    EXPECT_NE(lines.find(c.focal_line), std::string::npos);
    // The null and the mesh carry the same block.
    EXPECT_EQ(Count(text, block.str()), 3);
  }
}

// Not a test: writes a two-second path for outside readers to the file named by
// KALVEX_FBX_SAMPLE (scripts/check_fbx_consumer.sh runs it). Camera k (image k, 25 frames
// per second) has pan 30 sin(k / 8), tilt 10 sin(k / 11), roll 5 sin(k / 5) degrees and
// centre (10 k, -2 k, 300 + 5 k) mm; focal length 35 mm.
TEST_F(SaveCamPathFBXTest, DISABLED_WriteSampleForOutsideReaders) {
  const char* path = std::getenv("KALVEX_FBX_SAMPLE");
  ASSERT_NE(path, nullptr);
  SaveCamPath::CameraList cameras;
  for (int k = 0; k < 50; ++k) {
    cameras.push_back(kxtest::TurnedCamera(k, k, 30 * std::sin(k / 8.0), 10 * std::sin(k / 11.0),
                                           5 * std::sin(k / 5.0),
                                           {10.0 * k, -2.0 * k, 300 + 5.0 * k}, 35));
  }
  SaveCamPathFBX writer(nullptr, path);
  EXPECT_TRUE(writer.Export(cameras, kxtest::EightPoints()));
}

}  // namespace
