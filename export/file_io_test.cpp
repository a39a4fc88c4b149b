#include "export/file_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/tracks/feature_correspondence.h"
#include "scene/objects/primitives.h"
#include "scene/scene.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"
#include "testing/thrown.h"
#include "tracking/job/camera_tracking_manager.h"

namespace {

using kxtest::Thrown;

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A job of ten images (image index i, file index 100 + i) with two 3D points, frame range
// 3..7 step 2.
class FileIOTest : public ::testing::Test {
 protected:
  FileIOTest() {
    for (int i = 0; i < 10; ++i) {
      auto image = SharedPtr<FeatureImage>::Make(&manager_);
      image->SetImageIndex(i);
      image->SetFileIndex(100 + i);
      manager_.GetImageList().push_back(image);
    }
    manager_.SetFrameRange(3, 7, 2);
    for (double x : {1.0, 2.0}) {
      auto point = SharedPtr<FeaturePoint3D>::Make(x, 0.0, 1000.0, FeaturePoint3D::eCartesian);
      manager_.m_fmap->AddFPoint3D(point);
    }
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  bool Save(int type, const char* file = "out") {
    return FileIO::SaveCameraTrackingManager(&manager_, dir_.path().c_str(), file, type);
  }

  kxtest::TempDir dir_;
  CameraTrackingManager manager_;
};

TEST_F(FileIOTest, CodesWriteOrSayNotSupported) {
  kxtest::LogCapture quiet(2);
  for (int type : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, 16, 19, 20, 21, 24}) {
    SCOPED_TRACE(type);
    kxtest::TempDir dir;
    // A name without '#' for code 10: every image replaces the one file.
    EXPECT_TRUE(FileIO::SaveCameraTrackingManager(&manager_, dir.path().c_str(), "out", type));
    EXPECT_TRUE(std::filesystem::exists(dir.File("out")));
  }
  // Writers not built yet, the codes without a writer and codes outside the table.
  for (int type : {12, 13, 14, 17, 18, 22, 23, 0, 25, -1}) {
    SCOPED_TRACE(type);
    kxtest::LogCapture log(2);
    EXPECT_FALSE(Save(type));
    EXPECT_TRUE(log.Has("type " + std::to_string(type) + " not supported!"));
  }
  EXPECT_TRUE(Files().empty());
}

// The user objects come only from the scene the caller hands over.
TEST_F(FileIOTest, SceneObjectsReachTheWritersOfUserObjects) {
  kxtest::LogCapture quiet(2);
  Scene scene;
  scene.AddChild(new NHSObject_Cuboid);
  struct Case {
    int type;
    const char* file;
    const char* object;  // what the object writes
  } cases[] = {{15, "scene.dae", "<library_geometries>"}, {9, "scene.scn", "PolH V0.08"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    ASSERT_TRUE(Save(c.type, c.file));
    EXPECT_EQ(kxtest::ReadText(dir_.File(c.file)).find(c.object), std::string::npos);
    ASSERT_TRUE(
        FileIO::SaveCameraTrackingManager(&manager_, dir_.path().c_str(), c.file, c.type, &scene));
    EXPECT_NE(kxtest::ReadText(dir_.File(c.file)).find(c.object), std::string::npos);
  }
}

TEST_F(FileIOTest, BlenderCodesChooseTheScriptVersion) {
  kxtest::LogCapture quiet(2);
  struct Case {
    int type;
    const char* mark;  // a line only that version's script has
  } cases[] = {{5, "\nimport Blender\n"},
               {6, "\nvcam.matrix_world = mathutils.Matrix(["},
               {7, "\nvcam.matrix_world = (["}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    ASSERT_TRUE(Save(c.type, "cams.py"));
    EXPECT_NE(kxtest::ReadText(dir_.File("cams.py")).find(c.mark), std::string::npos);
  }
}

TEST_F(FileIOTest, TextExportGetsEveryCameraOfTheRangeAndLogsThePath) {
  kxtest::LogCapture log(4);
  EXPECT_TRUE(Save(1, "cams.txt"));
  const std::string text = kxtest::ReadText(dir_.File("cams.txt"));
  EXPECT_EQ(Count(text, "#timeindex "), 5);  // images 3 to 7, the step not applied
  EXPECT_NE(text.find("#timeindex 103\n"), std::string::npos);
  EXPECT_NE(text.find("#timeindex 107\n"), std::string::npos);
  EXPECT_NE(text.find("# 3D Feature Points"), std::string::npos);
  EXPECT_TRUE(log.Has("\"" + dir_.path() + "/cams.txt\" !"));

  kxtest::LogCapture no_dir(4);
  const std::string path = dir_.File("plain.txt");
  EXPECT_TRUE(FileIO::SaveCameraTrackingManager(&manager_, nullptr, path.c_str(), 1));
  EXPECT_TRUE(no_dir.Has("\"" + path + "\" !"));
}

TEST_F(FileIOTest, DotXsiIsTurnedAboutXAndNumberedFromTheFirstFile) {
  kxtest::LogCapture quiet(2);
  EXPECT_TRUE(Save(3, "scene.xsi"));
  const std::string text = kxtest::ReadText(dir_.File("scene.xsi"));
  EXPECT_NE(text.find("\"FRAMES\",\n    103,107,\n"), std::string::npos);
  EXPECT_NE(text.find("        103,0.000000,0.000000,0.000000,\n"), std::string::npos);
  // The interest point lies along -z: the camera looks along +z in the tracking frame.
  EXPECT_NE(text.find(",-0.100000;;\n"), std::string::npos) << text;
}

TEST_F(FileIOTest, FrameRateReachesTheWritersAsItsDecimalText) {
  kxtest::LogCapture quiet(2);
  manager_.m_fmap->SetFrameRate(29.97f);
  EXPECT_TRUE(Save(21, "scene.fbx"));
  // Image 4 at 29.97 frames per second; 29.97f itself would give 6164318860.
  EXPECT_NE(kxtest::ReadText(dir_.File("scene.fbx")).find("\t6164318719,"), std::string::npos);
}

TEST_F(FileIOTest, FailuresAreReportedAndThrown) {
  kxtest::LogCapture log(2);
  EXPECT_EQ(Thrown([&] { Save(1, nullptr); }),
            "FileIO::SaveCameraTrackingManager: file name not set");
  EXPECT_TRUE(log.Has("type  file name not set"));
  EXPECT_EQ(Thrown([&] { FileIO::Save2DTrack(&manager_, nullptr, nullptr, 14, nullptr); }),
            "FileIO::SaveCameraTrackingManager: file name not set");
  EXPECT_EQ(Thrown([&] { FileIO::SaveCameraTrackingManager(nullptr, nullptr, "x", 1); }),
            "FileIO::SaveCameraTrackingManager: saving failed");
  EXPECT_EQ(Thrown([&] { FileIO::Save2DTrack(nullptr, nullptr, "x", 14, nullptr); }),
            "FileIO::SaveCameraTrackingManager: saving failed");

  // A directory that does not exist.
  const std::string missing = dir_.File("no/such");
  for (int type : {1, 2, 3, 4, 10, 11, 16, 19, 20, 21, 24}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(
        Thrown([&] { FileIO::SaveCameraTrackingManager(&manager_, missing.c_str(), "out", type); }),
        "FileIO::SaveCameraTrackingManager: saving failed");
  }
  EXPECT_EQ(Thrown([&] { FileIO::Save2DTrack(&manager_, missing.c_str(), "t", 14, nullptr); }),
            "FileIO::SaveCameraTrackingManager: saving failed");
  EXPECT_TRUE(log.Has(missing + "/out\" !"));

  // No camera in the range.
  manager_.SetFrameRange(20, 30, 1);
  EXPECT_EQ(Thrown([&] { Save(1); }), "SaveCamPath::Save: empty camera list!");

  // No feature map: nothing written, no throw.
  manager_.m_fmap = nullptr;
  EXPECT_FALSE(Save(1));
  EXPECT_TRUE(log.Has("feature map not set"));
  EXPECT_TRUE(Files().empty());
}

TEST_F(FileIOTest, PerImageFilesVisitTheRangeByTheStepMagnitude) {
  struct Case {
    int first, last, step;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {3, 7, 2, {"cam_0103.cahv", "cam_0105.cahv", "cam_0107.cahv"}},
      {3, 7, -2, {"cam_0103.cahv", "cam_0105.cahv", "cam_0107.cahv"}},
      {8, 9, 0, {"cam_0108.cahv", "cam_0109.cahv"}},  // a step of 0 counts as 1
      {7, 3, 1, {}},
  };
  kxtest::LogCapture log(2);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << ".." << c.last << " by " << c.step);
    for (bool points : {false, true}) {
      kxtest::TempDir dir;
      const std::string templ = dir.File(points ? "cam_####.pts" : "cam_####.cahv");
      if (points) {
        FileIO::SaveCameraTrackingManagerFeaturePoints(&manager_, templ.c_str(), c.first, c.last,
                                                       c.step);
      } else {
        FileIO::SaveCameraTrackingManagerCAHV(&manager_, templ.c_str(), c.first, c.last, c.step);
      }
      std::vector<std::string> names;
      for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        std::string name = e.path().filename().string();
        if (points) name.replace(name.size() - 3, 3, "cahv");
        names.push_back(name);
      }
      std::sort(names.begin(), names.end());
      EXPECT_EQ(names, c.files);
    }
  }
}

TEST_F(FileIOTest, PerImageRangeBeyondTheImagesThrowsAndKeepsEarlierFiles) {
  kxtest::LogCapture log(2);
  const std::string templ = dir_.File("c_##.cahv");
  EXPECT_EQ(
      Thrown([&] { FileIO::SaveCameraTrackingManagerCAHV(&manager_, templ.c_str(), 8, 11, 1); }),
      "save CAHV bad image index");
  EXPECT_TRUE(log.Has("can't get image with index 10 !"));
  EXPECT_EQ(Files(), (std::vector<std::string>{"c_108.cahv", "c_109.cahv"}));
  EXPECT_EQ(Thrown([&] {
              FileIO::SaveCameraTrackingManagerFeaturePoints(&manager_, templ.c_str(), -1, 0, 1);
            }),
            "save 2D feature points bad image index");
  EXPECT_EQ(Thrown([&] { FileIO::SaveCameraTrackingManagerCAHV(&manager_, nullptr, 0, 1, 1); }),
            "FileIO::SaveCameraTrackingManagerCAHV: file template == NULL!");
  CameraTrackingManager empty;
  EXPECT_EQ(Thrown([&] { FileIO::SaveCameraTrackingManagerCAHV(&empty, templ.c_str(), 0, 1, 1); }),
            "FileIO::SaveCameraTrackingManagerCAHV: empty cam_list");
}

TEST_F(FileIOTest, OneCahvFileHoldsEveryCameraOfTheRange) {
  kxtest::LogCapture log(2);
  const std::string path = dir_.File("all.cahv");
  FileIO::SaveCameraTrackingManagerCAHVtxtfile(&manager_, path.c_str(), 5, 11, 2);
  EXPECT_EQ(Count(kxtest::ReadText(path), ";CAHV 1.1\n"), 3);  // 5, 7, 9; 11 is skipped
  EXPECT_TRUE(log.Has("bad image index 11"));

  // Written again, the file starts afresh.
  FileIO::SaveCameraTrackingManagerCAHVtxtfile(&manager_, path.c_str(), 5, 5, 1);
  EXPECT_EQ(Count(kxtest::ReadText(path), ";CAHV 1.1\n"), 1);

  const std::string none = dir_.File("none.cahv");
  FileIO::SaveCameraTrackingManagerCAHVtxtfile(&manager_, none.c_str(), 7, 3, 1);
  EXPECT_FALSE(std::filesystem::exists(none));
}

TEST_F(FileIOTest, TrackFileNumbersFeaturesAndTheirPredecessors) {
  auto& images = manager_.GetImageList();
  auto add = [](const SharedPtr<FeatureImage>& image, double x, double y) {
    auto f = SharedPtr<FeaturePoint2D>::Make(image.Get(), x, y);
    image->AddFPoint2D(f);
    return f;
  };
  auto link = [](const SharedPtr<FeaturePoint2D>& a, const SharedPtr<FeaturePoint2D>& b) {
    auto l = SharedPtr<FeatureCorrespondence>::Make(a, b);
    a->SetSuccessor(l);
    b->SetPredecessor(l);
  };
  add(images[0], 10, 20);
  auto a1 = add(images[0], 30.5, 40.25);
  auto b0 = add(images[1], 11, 21);
  add(images[1], 5, 6);
  auto c0 = add(images[2], 1234567.5, 0.125);
  link(a1, b0);
  link(b0, c0);
  auto anchor = SharedPtr<FeaturePoint2D>::Make(images[1].Get(), 7, 7);
  images[1]->AddAnchor(anchor);

  const std::string path = dir_.File("tracks.ft2d");
  FileIO::SaveFeatureTracksText(&manager_, path.c_str(), 0, 2, 1);
  EXPECT_EQ(kxtest::ReadText(path),
            "0 10 20 -1 0 -1\n"
            "1 30.5 40.25 -1 0 -1\n"
            "0 11 21 1 1 0\n"
            "1 5 6 -1 1 -1\n"
            "0 1.23457e+06 0.125 0 2 1\n");

  // Through the dispatcher with the job's range: images 3, 5, 7 hold no features.
  EXPECT_TRUE(FileIO::Save2DTrack(&manager_, dir_.path().c_str(), "range.ft2d", 14, nullptr));
  EXPECT_EQ(kxtest::ReadText(dir_.File("range.ft2d")), "");

  // The track of one feature, keyed at the feature map's rate; without a feature the
  // export fails.
  manager_.m_fmap->SetFrameRate(29.97f);
  EXPECT_TRUE(FileIO::Save2DTrack(&manager_, dir_.path().c_str(), "b.txt", 23, b0.Get()));
  const std::string keys = kxtest::ReadText(dir_.File("b.txt"));
  EXPECT_NE(keys.find("Units Per Second 29.97\n"), std::string::npos);
  EXPECT_NE(keys.find("\n2\t\t\t1.23457e+06\t\t\t0.125\t\t0\n"), std::string::npos) << keys;
  EXPECT_TRUE(FileIO::Save2DTrack(&manager_, nullptr, dir_.File("c.sil").c_str(), 22, c0.Get()));
  EXPECT_NE(kxtest::ReadText(dir_.File("c.sil")).find("\n0\t\t\t30.5\t\t\t40.25\t"),
            std::string::npos);
  kxtest::LogCapture log(2);
  EXPECT_EQ(Thrown([&] { FileIO::Save2DTrack(&manager_, dir_.path().c_str(), "x", 22, nullptr); }),
            "FileIO::SaveCameraTrackingManager: saving failed");
  EXPECT_TRUE(log.Has("no feature given!"));
  EXPECT_FALSE(FileIO::Save2DTrack(&manager_, dir_.path().c_str(), "x", 15, b0.Get()));
  EXPECT_TRUE(log.Has("type 15 not supported!"));
}

TEST(FileNamesTest, TemplatesAndExtensions) {
  const struct {
    const char* templ;
    int number;
    const char* name;
  } names[] = {
      {"cam_####.cahv", 12, "cam_0012.cahv"},
      {"shot%20/50%_##.cahv", 7, "shot%20/50%_07.cahv"},  // '%' is taken literally
      {"cam.cahv", 12, "cam.cahv"},
      {"a#b#c", 5, "a005c"},  // the run goes from the first to the last '#'
      {"#.pts", 12345, "12345.pts"},
  };
  for (const auto& n : names) {
    EXPECT_EQ(FileIO::NumberedFileName(n.templ, n.number), n.name) << n.templ;
  }
  const struct {
    const char* name;
    const char* base;
    const char* extension;
  } splits[] = {
      {"scene.final.pl", "scene.final", "pl"},
      {"scene", "scene", ""},
      {"dir.v2/scene", "dir", "v2/scene"},
      {"scene.", "scene", ""},
  };
  for (const auto& s : splits) {
    std::string base, extension;
    SplitFileExtension(s.name, &base, &extension);
    EXPECT_EQ(base, s.base) << s.name;
    EXPECT_EQ(extension, s.extension) << s.name;
  }
}

}  // namespace
