#include "export/writers/save_cam_path_2d_track.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/tracks/feature_correspondence.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

// Three images of 1920 x 1080 pixels of 0.01 x 0.011 mm with one feature each, linked
// into one track, and a lone feature in a fourth image of square pixels.
class TrackExportTest : public testing::Test {
 protected:
  TrackExportTest() {
    const double positions[4][2] = {{100.5, 200.25}, {101.75, 198}, {1234567.5, 0.001}, {7, 8}};
    for (int i = 0; i < 4; ++i) {
      auto image = SharedPtr<FeatureImage>::Make();
      image->Set({0, 0, 0}, {0, 0, 1}, {1000, 0, 0}, {0, 1000, 0}, 1920, 1080, 0.0, 0.01,
                 i < 3 ? 0.011 : 0.01, 0.0, 0, nullptr);
      image->SetImageIndex(40 + i);
      auto feature = SharedPtr<FeaturePoint2D>::Make(image.Get(), positions[i][0], positions[i][1]);
      image->AddFPoint2D(feature);
      images_.push_back(image);
      features_.push_back(feature);
    }
    Link(features_[0], features_[1]);
    Link(features_[1], features_[2]);
  }
  static void Link(const SharedPtr<FeaturePoint2D>& a, const SharedPtr<FeaturePoint2D>& b) {
    auto link = SharedPtr<FeatureCorrespondence>::Make(a, b);
    a->SetSuccessor(link);
    b->SetPredecessor(link);
  }
  std::string Write(SaveCamPath2DTrack& writer, const SharedPtr<FeaturePoint2D>& feature) {
    EXPECT_TRUE(writer.Save2DTrack(feature));
    return kxtest::ReadText(writer.GetOutputPath());
  }

  kxtest::TempDir dir_;
  std::vector<SharedPtr<FeatureImage>> images_;
  std::vector<SharedPtr<FeaturePoint2D>> features_;
};

TEST_F(TrackExportTest, AMidTrackFeatureWritesTheWholeTrack) {
  SaveCamPathAfterEffects2D after_effects(dir_.path().c_str(), "track.txt");
  EXPECT_EQ(Write(after_effects, features_[1]),
            "Adobe After Effects 6.5 Keyframe Data\n"
            "Units Per Second 25\n"
            "Source Width 1920\n"
            "Source Height 1080\n"
            "Source Pixel Aspect Ratio 0.909091\n"
            "Comp Pixel Aspect Ratio 0.909091\n"
            "Position\n"
            "#Frame\t\tX pixels\t\tY pixels\t\tZ pixels\n"
            "0\t\t\t100.5\t\t\t\t200.25\t\t\t0\n"
            "1\t\t\t101.75\t\t\t198\t\t0\n"
            "2\t\t\t1.23457e+06\t\t\t0.001\t\t0\n");

  SaveCamPathSilhouette silhouette(dir_.path().c_str(), "track.sil");
  silhouette.SetFramesPerSecond(29.97);
  EXPECT_EQ(Write(silhouette, features_[2]),
            "1 Trackers\n"
            "Tracker29.97\n"
            "Color: (0.000000,1.000000,0.000000)\n"
            "Mode: Lum\n"
            "Match Size: 7.000000,7.000000\n"
            "Search Size: 7.000000,7.000000\n"
            "#frame\t\tpos.x\t\tpos.y\t\tmo.x\t\tmo.y\t\tso.x\t\tso.y\n"
            "0\t\t\t100.5\t\t\t200.25\t\t\t0\t\t\t0\t\t\t0\t\t\t0\n"
            "1\t\t\t101.75\t\t198\t\t0\t\t\t0\t\t\t0\t\t\t0\n"
            "2\t\t\t1.23457e+06\t\t0.001\t\t0\t\t\t0\t\t\t0\t\t\t0\n");
}

TEST_F(TrackExportTest, ALoneFeatureIsFrameZero) {
  SaveCamPathAfterEffects2D after_effects(dir_.path().c_str(), "lone.txt");
  const std::string text = Write(after_effects, features_[3]);
  EXPECT_NE(text.find("Source Pixel Aspect Ratio 1\nComp Pixel Aspect Ratio 1\n"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.find("#Frame")),
            "#Frame\t\tX pixels\t\tY pixels\t\tZ pixels\n0\t\t\t7\t\t\t\t8\t\t\t0\n");
  // The camera-path entry writes nothing.
  SaveCamPathSilhouette silhouette(dir_.path().c_str(), "none.sil");
  EXPECT_TRUE(silhouette.Export({}, {}));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("none.sil")));
}

TEST_F(TrackExportTest, LinksLeadingBackIntoTheTrackEndIt) {
  // The last feature's successor points at the middle one again.
  auto back = SharedPtr<FeatureCorrespondence>::Make(features_[2], features_[1]);
  features_[2]->SetSuccessor(back);
  const auto track = SaveCamPath2DTrack::CollectTrack(*features_[1]);
  ASSERT_EQ(track.size(), 3u);
  EXPECT_EQ(track.back(), features_[2].Get());
  features_[2]->SetSuccessor(SharedPtr<FeatureCorrespondence>());
}

TEST_F(TrackExportTest, FailuresAreReported) {
  struct Case {
    const char* name;
    std::string directory;
    SharedPtr<FeaturePoint2D> feature;
    std::string message;
  } cases[] = {
      {"no feature", dir_.path(), SharedPtr<FeaturePoint2D>(),
       "SaveCamPathSilhouette::Export2DTrack: no feature given!"},
      {"no image", dir_.path(), SharedPtr<FeaturePoint2D>::Make(nullptr, 1.0, 2.0),
       "SaveCamPathSilhouette::Export2DTrack: the track's first feature has no image!"},
      {"missing directory", dir_.File("missing"), features_[0],
       "SaveCamPathSilhouette::Export: open file \"" + dir_.File("missing") + "/t.sil\" failed !!"},
      {"full device", "/dev", features_[0],
       "SaveCamPathSilhouette::Export: write file \"/dev/full\" failed !!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SaveCamPathSilhouette writer(c.directory.c_str(), c.directory == "/dev" ? "full" : "t.sil");
    kxtest::LogCapture log(5);
    EXPECT_FALSE(writer.Save2DTrack(c.feature));
    EXPECT_TRUE(log.Has(c.message)) << log.text;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File("t.sil")));
}

}  // namespace
