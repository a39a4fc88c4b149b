#include "geometry/key_frame_select.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "geometry/key_frame_select_for_test.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"

namespace {

using ImageList = KeyFrameSelect::ImageList;

// Exact tracks of every point through every image of a synthetic ring of cameras; the
// links are supported.
struct Sequence {
  Sequence(int images, int points) : scene({.num_points = points, .num_cameras = images}) {
    scene.BuildFeatures();
  }
  ImageList First(int n) const { return ImageList(scene.images.begin(), scene.images.begin() + n); }
  kxtest::SyntheticScene scene;
};

struct RequestCase {
  const char* name;
  int images;
  int points;
  int first, second;
  double sigma;
  int code;
  const char* message;  // expected in the log; empty for none
};

class ManualKeyFrameRequestTest : public testing::TestWithParam<RequestCase> {};

TEST_P(ManualKeyFrameRequestTest, AnswersWithCodeAndMessage) {
  const RequestCase& t = GetParam();
  Sequence sequence(t.images, t.points);
  KeyFrameSelect select(nullptr);
  KeyFrameSelect::Parameter parameter;
  parameter.m_method = KeyFrameSelect::eManual;
  parameter.m_first_keyframe = t.first;
  parameter.m_second_keyframe = t.second;
  select.SetParameter(parameter);
  select.SetMaxStdDev(t.sigma);

  kxtest::LogCapture log(5);
  EXPECT_EQ(select.ManualKeyFrame(sequence.First(t.images), t.first, t.second), t.code);
  if (*t.message) {
    EXPECT_TRUE(log.Has(t.message)) << log.text;
  }
  EXPECT_TRUE(select.GetKeyFrameList().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ManualKeyFrameRequestTest,
    testing::Values(
        RequestCase{"one_image", 1, 10, 0, 0, 0.5, 4,
                    "KeyFrameSelect::ManualKeyFrame: no. of images < 2"},
        RequestCase{"second_not_after_first", 11, 10, 3, 3, 0.5, 4,
                    "KeyFrameSelect::ManualKeyFrame: second keyframe (3) greater than first (3)"},
        RequestCase{"second_beyond_list", 8, 10, 0, 10, 0.5, 4,
                    "KeyFrameSelect::ManualKeyFrame: key frames 0, 10 out of range [0, 8]"},
        RequestCase{"second_not_newest", 12, 10, 0, 10, 0.5, 1, ""},
        RequestCase{"six_tracks", 11, 6, 0, 10, 0.5, 4,
                    "KeyFrameSelect::ManualKeyFrame: ERROR: Manual selected keyframe 10 is not in "
                    "sequence"},
        RequestCase{"no_feature_deviation", 11, 10, 0, 10, 0.0, 4,
                    "KeyFrameSelect::ManualKeyFrame: feature standard deviation 0 not positive"}),
    [](const testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.name); });

TEST(ManualKeyFrameTest, AcceptedPairGivesCamerasThatReprojectTheTracks) {
  Sequence sequence(12, 30);
  const ImageList& all = sequence.scene.images;
  // The second key image has a lens distortion of its own, which it keeps; its features
  // are seen through it.
  all[10]->SetDistortion(2e-4, 0.0, 0, Poly3);
  for (const SharedPtr<FeaturePoint2D>& f : all[10]->GetFPoints2D()) {
    all[10]->Distort(f->x, f->y, f->x, f->y, false);
  }
  KeyFrameSelect select(nullptr);
  select.SetMaxStdDev(0.5);

  ASSERT_EQ(select.ManualKeyFrame(sequence.First(11), 0, 10), 0);
  ASSERT_EQ(select.GetKeyFrameList().size(), 1u);
  const KeyFrameSelect::KeyFrame& pair = select.GetKeyFrameList()[0];
  EXPECT_EQ(pair.m_index, 0);
  EXPECT_EQ(pair.m_fimage1.Get(), all[0].Get());
  EXPECT_EQ(pair.m_fimage2.Get(), all[10].Get());
  EXPECT_EQ(pair.mean_sigma_3dfp, -1.0);
  ASSERT_EQ(pair.m_corr_list.size(), 30u);
  EXPECT_EQ(all[10]->GetDistortionCoefficients()[0], 2e-4);
  for (int i = 0; i < 2; ++i) {
    const PerspectiveCamera& estimated = i == 0 ? pair.m_camera1 : pair.m_camera2;
    const FeatureImage& image = *(i == 0 ? all[0] : all[10]);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ((&image.GetC().x)[k], (&estimated.GetC().x)[k]);
      EXPECT_EQ((&image.GetA().x)[k], (&estimated.GetA().x)[k]);
    }
  }
  for (const SharedPtr<FeatureCorrespondence>& corr : pair.m_corr_list) {
    EXPECT_TRUE(corr->GetFlags() & FCORR_SUPPORT_TRUE);
    EXPECT_EQ(corr->GetFirst()->GetImage(), all[0].Get());
    EXPECT_EQ(corr->GetSecond()->GetImage(), all[10].Get());
    EXPECT_LT(kxtest::ReprojectionError(pair.m_camera1, pair.m_camera2, corr), 1e-3);
  }

  // A later pair without enough tracks: the search restarts.
  for (const SharedPtr<FeaturePoint2D>& f : all[11]->GetFPoints2D()) {
    f->GetPredecessor()->SetFlags(0);
  }
  EXPECT_EQ(select.ManualKeyFrame(all, 5, 11), 2);
  EXPECT_EQ(select.GetKeyFrameList().size(), 1u);

  select.Clear();
  EXPECT_TRUE(select.GetKeyFrameList().empty());
}

TEST(KeyFrameTest, SearchFollowsSupportedLinksOnly) {
  Sequence sequence(6, 8);
  kxtest::SyntheticScene& scene = sequence.scene;
  // Point 2 lost its support between images 2 and 3; point 5's link there carries only a
  // support bit of another estimation.
  scene.features[3][2]->GetPredecessor()->SetFlags(0);
  scene.features[3][5]->GetPredecessor()->SetFlags(FCORR_SUPPORT_FREEMOVE);
  // Point 7's link into the second key image is unsupported.
  scene.features[5][7]->GetPredecessor()->SetFlags(0);

  KeyFrameSelect::KeyFrame pair(scene.images[1], scene.images[5]);
  ASSERT_EQ(pair.SearchCorrespondences(), 5u);
  std::vector<int> seen;
  for (const SharedPtr<FeatureCorrespondence>& corr : pair.m_corr_list) {
    EXPECT_EQ(corr->GetFlags(), FCORR_SUPPORT_TRUE);
    EXPECT_EQ(corr->GetScore(), 0.0f);
    EXPECT_EQ(corr->GetFirst()->GetImage(), scene.images[1].Get());
    for (int i = 0; i < 8; ++i) {
      if (corr->GetSecond().Get() == scene.features[5][i].Get()) {
        EXPECT_EQ(corr->GetFirst().Get(), scene.features[1][i].Get());
        seen.push_back(i);
      }
    }
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 3, 4, 6}));
  // The new links are the pair's own: the tracks are untouched.
  EXPECT_EQ(scene.features[1][0]->GetSuccessor()->GetSecond().Get(), scene.features[2][0].Get());

  KeyFrameSelect::KeyFrame unset(scene.images[1], SharedPtr<FeatureImage>());
  EXPECT_EQ(unset.SearchCorrespondences(), 0u);
}

}  // namespace
