#include "export/writers/save_cam_path_truespace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "export/writers/caligari_chunks_for_test.h"
#include "export/writers/user_objects_for_test.h"
#include "export/writers/writer_fixture_for_test.h"
#include "export/writers/writer_golden_for_test.h"
#include "image/image_cache.h"
#include "testing/log_capture.h"

namespace {

using kxtest::CaligariChunk;

// The body of a chunk (after its header line).
std::string Body(const std::string& text, const CaligariChunk& chunk) {
  const size_t start = text.find('\n', chunk.begin) + 1;
  return text.substr(start, chunk.end - start);
}

// The numbers of the line that starts with `label` in `text`.
std::vector<double> LineNumbers(const std::string& text, const std::string& label) {
  std::vector<double> values;
  const size_t at = text.find("\n" + label);
  if (at == std::string::npos) return values;
  const char* p = text.c_str() + at + 1 + label.size();
  for (char* end = nullptr;; p = end) {
    const double v = std::strtod(p, &end);
    if (end == p || *p == '\n') break;
    values.push_back(v);
  }
  return values;
}

class SaveCamPathTruespaceTest : public testing::Test {
 protected:
  std::string Write(const SaveCamPath::CameraList& cameras, const SaveCamPath::PointList& points,
                    const NHSObject* scene = nullptr, double fps = 25.0,
                    ImageCache* cache = nullptr) {
    SaveCamPathTruespace writer(dir_.path().c_str(), "scene.scn");
    writer.SetFramesPerSecond(fps);
    writer.SetSceneObjects(scene);
    writer.SetImageCache(cache);
    EXPECT_TRUE(writer.Export(cameras, points));
    return kxtest::ReadText(dir_.File("scene.scn"));
  }
  // A cache whose frames 0 .. 12 are the one picture named `name` in the folder (a name
  // may hold backslashes here, as a Windows path does).
  void FillCache(ImageCache& cache, const std::string& name) {
    const std::string path = dir_.File(name);
    kxtest::WriteFile(path, "P5\n8 8\n255\n" + std::string(64, 'a'));
    PackedStringListPtr list;
    list.Allocate();
    for (int i = 0; i < 13; ++i) list->Append(path.c_str(), i);
    ASSERT_EQ(cache.SetImageList(list, -1, -1), 0);
  }
  kxtest::ReleaseVersion product_;
  kxtest::TempDir dir_;
};

TEST_F(SaveCamPathTruespaceTest, GoldenFileAndChunkSizes) {
  kxtest::UserObjectScene objects;
  ImageCache cache;
  FillCache(cache, "shot_0001.pgm");
  kxtest::ExpectGoldenFile(
      [&] { Write(kxtest::ThreeCameras(), kxtest::FourPoints(), &objects.scene, 25.0, &cache); },
      dir_.File("scene.scn"), "truespace.scn");

  const std::string text = kxtest::ReadText(dir_.File("scene.scn"));
  const std::vector<CaligariChunk> chunks = kxtest::WalkChunks(text);
  std::string kinds;
  for (const CaligariChunk& c : chunks) kinds += c.kind + ' ';
  // Six meshes: the hidden box is left out, the rectangle under the cylinder is written.
  std::string meshes;
  for (int i = 0; i < 6; ++i) meshes += "PolH Unit Mat1 ";
  EXPECT_EQ(kinds, "Scen ROpt Chan Came Unit Chan Chan Chan Bone Bone Bone Bone " + meshes);
  EXPECT_EQ(text.substr(32, 47), "Scen V0.08 Id 105229124 Parent 0 Size 00000014\n");
  // Each mesh its own ids, its unit and material under it.
  for (unsigned long n = 0; n < 6; ++n) {
    const CaligariChunk* polh = &chunks[12 + 3 * n];
    EXPECT_EQ(polh->id, 105759709 + n);
    EXPECT_EQ(polh[1].parent, polh->id);
    EXPECT_EQ(polh[1].id, 105859709 + n);
    EXPECT_EQ(polh[2].parent, polh->id);
    EXPECT_EQ(polh[2].id, 105959709 + n);
  }
  EXPECT_NE(Body(text, chunks[2])
                .find("\ntime 0 acc 0 background: 13shot_0001.pgm flags 1 \n"
                      "\trgb 0.3,0.3,0.3 alpha 0 \n"),
            std::string::npos);
}

TEST_F(SaveCamPathTruespaceTest, ObjectsTheirNamesAndTransforms) {
  kxtest::UserObjectScene objects;
  const std::string text = Write(kxtest::ThreeCameras(), {}, &objects.scene);
  const std::vector<CaligariChunk> chunks = kxtest::WalkChunks(text);
  std::vector<std::string> polh;
  for (const CaligariChunk& c : chunks) {
    if (c.kind == "PolH") polh.push_back(Body(text, c));
  }
  ASSERT_EQ(polh.size(), 6u);
  // Scene order (newest first): the mesh over its root's vertices, the rectangle under the
  // cylinder (unnamed: named by its number), the photo, the box and its cone, the rectangle.
  const char* names[] = {"Poly", "polh_1", "My Photo", "Box", "Box", "polh_5"};
  for (size_t k = 0; k < 6; ++k) EXPECT_EQ(polh[k].find(std::string("Name ") + names[k]), 0u);
  EXPECT_EQ(text.find("Hidden"), std::string::npos);

  // The shared vertices, placed by the mesh root.
  EXPECT_NE(polh[0].find("World Vertices 4\n0 0 0\n10 0 0\n10 10 0\n0 10 0\n"), std::string::npos);
  EXPECT_EQ(LineNumbers(polh[0], "center "), (std::vector<double>{0, -25, -0}));
  // A single quad is written twice, the second time turned over.
  const std::string quad =
      "Faces 2\nFace verts 4 flags 0 mat 0\n<0,0> <1,1> <3,2> <2,3> \n"
      "Face verts 4 flags 0 mat 0\n<2,0> <3,1> <1,2> <0,3> \n";
  EXPECT_NE(polh[5].find(quad), std::string::npos) << polh[5];

  // The cone under the box: the box's turn applied to the cone's offset.
  const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
  const double x = -100 + c * 25 + s * 15, y = 40, z = 500 - s * 25 + c * 15;
  const std::string& cone = polh[4];
  EXPECT_NE(cone.find("World Vertices 9\n"), std::string::npos);
  const size_t rows = cone.find("Transform\n") + 10;
  const std::vector<double> expected[3] = {
      {-0.5 * c, 0, -0.5 * s, -0.5 * x}, {0.5 * s, 0, -0.5 * c, -0.5 * z}, {0, -0.5, 0, -0.5 * y}};
  const char* p = cone.c_str() + rows;
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < 4; ++k) {
      char* end = nullptr;
      // Six significant digits.
      EXPECT_NEAR(std::strtod(p, &end), expected[r][k],
                  1e-6 * std::max(1.0, std::fabs(expected[r][k])))
          << r << ',' << k;
      p = end;
    }
  }
  const std::vector<double> center = LineNumbers(cone, "center ");
  ASSERT_EQ(center.size(), 3u);
  EXPECT_NEAR(center[0], 0.5 * x, 1e-4);
  EXPECT_NEAR(center[1], 0.5 * z, 1e-3);
  EXPECT_EQ(center[2], -0.5 * y);
  EXPECT_NE(cone.find("\nFaces 9\nFace verts 8 flags 0 mat 0\n"
                      "<1,0> <2,1> <3,2> <4,3> <5,0> <6,1> <7,2> <8,3> \n"),
            std::string::npos);
}

TEST_F(SaveCamPathTruespaceTest, RenderOptionsChannelsAndPoints) {
  struct Case {
    const char* name;
    SaveCamPath::CameraList cameras;
    double fps;
    std::vector<std::string> present, absent;
  } cases[] = {
      {"24 frames", kxtest::ThreeCameras(), 24.0, {"\nBase framerate 4\n"}, {}},
      {"30 frames", kxtest::ThreeCameras(), 30.0, {"\nBase framerate 2\n"}, {}},
      {"29.97 frames",
       kxtest::ThreeCameras(),
       29.97,
       {"\nBase framerate 1\n", "\nName CameraTranslation\n",
        "\ntime 0 acc 0 t 0 c 0 b 0 position -50.25 1000 -0\n"},
       {}},
      // Turning about a point within 1e-4 of the origin: no translation channel.
      {"pure rotation",
       {kxtest::PosedCamera(0, 0, {1e-5, 0, -2e-5}, 10, 5, 2, 35, 1920, 1080, 0.0125, 0.01375),
        kxtest::PosedCamera(1, 1, {0, 0, 0}, 20, -15, -7, 36, 1920, 1080, 0.0125, 0.01375)},
       25.0,
       {"\nBase framerate 1\n", "\nPixel aspect 0.909091\n", "\nName CameraRotation\n"},
       {"CameraTranslation", "BackgroundImage"}},
      {"focal length 0",
       {kxtest::PosedCamera(0, 0, {1, 2, 3}, 0, 0, 0, 0.0, 1920, 1080, 0.0125, 0.01375)},
       25.0,
       {"\ntime 0 acc 0 t 0 c 0 b 0 size 5.47097e+16 5.47097e+16 1\n"},
       {}},
      // The upright camera (looking along +z, y down) is turned by 90 degrees about x.
      {"upright",
       {kxtest::PosedCamera(0, 0, {1, 2, 3}, 0, 0, 0, 35, 1920, 1080, 0.0125, 0.01375)},
       25.0,
       {"\ntime 0 acc 0 t 0 c 0 b 0 orientation 0.707107 -0.707107 0 0\n",
        "\ntime 0 acc 0 t 0 c 0 b 0 size 1.14857 0.710679 1\n"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = Write(c.cameras, {{1, 2, 3}}, nullptr, c.fps);
    kxtest::WalkChunks(text);
    for (const std::string& part : c.present) EXPECT_NE(text.find(part), std::string::npos) << part;
    for (const std::string& part : c.absent) EXPECT_EQ(text.find(part), std::string::npos) << part;
    // The point as a bone at (-x/2, -z/2, -y/2).
    EXPECT_NE(text.find("Name Point_0\ncenter -0.5 -1.5 -1\n"), std::string::npos);
    EXPECT_NE(text.find("Transform\n1 0 0 -0.5\n0 1 0 -1.5\n0 0 1 -1\n0 0 0 1\n"),
              std::string::npos);
  }
}

TEST_F(SaveCamPathTruespaceTest, BackgroundNamesLoseTheirFolder) {
  for (const char* path : {"D:\\seq\\img0001.pgm", "img0001.pgm"}) {
    SCOPED_TRACE(path);
    ImageCache cache;
    FillCache(cache, path);
    const std::string text = Write(kxtest::ThreeCameras(), {}, nullptr, 25.0, &cache);
    EXPECT_NE(text.find("\ntime 2 acc 0 background: 11img0001.pgm flags 1 \n"), std::string::npos);
    EXPECT_NE(text.find("\nFieldrender flags 0\n"), std::string::npos);
  }
}

// The shared failures are in writer_failures_test.cpp.
TEST_F(SaveCamPathTruespaceTest, ChunkTooLargeForItsSizeFieldFails) {
  kxtest::LogCapture log(5);
  // A chunk beyond the eight digits of its size field (a sparse file).
  SaveCamPathTruespace writer(dir_.path().c_str(), "big.scn");
  std::ofstream out(dir_.File("big.scn"), std::ios::binary);
  writer.BeginChunk(out, "PolH", 0.08, 1, 2);
  out.seekp(100000000, std::ios::cur);
  out << '\n';
  EXPECT_FALSE(writer.EndChunk(out));
  EXPECT_TRUE(log.Has("too large"));
  writer.BeginChunk(out, "Unit", 0.01, 3, 1);
  out << "Units 2\n";
  EXPECT_TRUE(writer.EndChunk(out));
}

}  // namespace
