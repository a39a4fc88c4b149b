#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>

#include <chrono>
#include <cstdio>
#include <thread>

#include "foundation/tracks/feature_flags.h"
#include "image/packed_string_list.h"
#include "interaction/tracker_job_for_test.h"
#include "interaction/viewer_draw_for_test.h"
#include "interaction/viewer_for_test.h"
#include "scene/display_settings.h"
#include "testing/log_capture.h"
#include "testing/synthetic_sequence.h"
#include "testing/temp_dir.h"
#include "tracking/storage/project_job_for_test.h"

namespace {

using kxtest::Link;
using uic::ViewerBase;

uint32_t Slot(int slot) {
  return DisplaySettings::Get().SlotColor(slot) & 0x00FFFFFFu;
}

// Frames 0, 1 and 2 of 80 x 40 pixels without owner, drawn at zoom 1 in an 80 x 40 view,
// the tracker only for the guards.
struct OverlayFixture : testing::Test {
  OverlayFixture() {
    for (int k = 0; k < 3; ++k) {
      auto image = SharedPtr<FeatureImage>::Make();
      image->SetImageIndex(k);
      image->SetPixelSize(0.01, 0.01);
      PerspectiveCamera camera;
      camera.SetAll({0, 0, 0}, {0, 0, 1}, {1000, 0, 0.5}, {0, 1000, 0.5}, 80, 40, 0.01, 0.01, none,
                    none, nullptr);
      image->CopyFrom(camera, false);
      images.push_back(image);
    }
    viewer.Resize(80, 40);
    EXPECT_EQ(viewer.SetFImage(images[1]), 0);
    viewer.m_zoom = 1.0;
    viewer.m_offset_x = viewer.m_offset_y = 0;
    // The label goes to the text hook, off the pixels.
    viewer.m_overlay_options.m_widget_text = true;
  }
  ~OverlayFixture() override {
    UIDRegistry::Instance().SelectTypeRange(false, 0, 0xFFFF);
    for (auto& image : images) image->ClearFPoints2D();
  }
  SharedPtr<FeaturePoint2D> Add(int k, double x, double y, uint32_t flags = 0) {
    auto f = SharedPtr<FeaturePoint2D>::Make(images[size_t(k)].Get(), x, y);
    f->SetFlags(flags);
    images[size_t(k)]->AddFPoint2D(f);
    return f;
  }
  void Draw(int flags) {
    viewer.m_states.back().m_flags = flags;
    viewer.Redraw();
  }

  const double none[4] = {0, 0, 0, 0};
  uic::MetaCTracker tracker;
  kxtest::CurrentTracker current{&tracker};
  std::vector<SharedPtr<FeatureImage>> images;
  kxtest::RecordingViewer viewer;
};

constexpr int kFeatures = ViewerBase::eShowAutoFeatures | ViewerBase::eShowUserFeatures;

TEST_F(OverlayFixture, MarkerColourFollowsTheTrackState) {
  const auto isolated = Add(1, 5, 5);
  const auto start = Add(1, 20, 5);
  Link(start, Add(2, 20, 25), 0x20);
  const auto end = Add(1, 35, 5);
  Link(Add(0, 35, 25), end, 0);
  const auto selected = Add(1, 50, 5);
  UIDRegistry::Instance().SetSelected(selected->GetUID(), true);
  Draw(kFeatures);
  EXPECT_EQ(viewer.ImagePixel(5, 5), Slot(DS_SLOT_FEATURE_ALONE));
  EXPECT_EQ(viewer.ImagePixel(20, 5), Slot(DS_SLOT_FEATURE_TRACKED));
  EXPECT_EQ(viewer.ImagePixel(35, 5), Slot(DS_SLOT_FEATURE_UNSUPPORTED));
  EXPECT_EQ(viewer.ImagePixel(50, 5), Slot(DS_SLOT_SELECTION));
  // The marker is a cross of half-size 5 view pixels: its arm ends, not beyond.
  EXPECT_EQ(viewer.ImagePixel(5 + 4, 5), Slot(DS_SLOT_FEATURE_ALONE));
  EXPECT_EQ(viewer.ImagePixel(5 + 6, 5), Slot(DS_SLOT_IMAGE_BACKGROUND));
  EXPECT_EQ(viewer.ImagePixel(5 + 3, 5 + 3), Slot(DS_SLOT_IMAGE_BACKGROUND));

  // Once the frame has a live 3D point, features without one are marked.
  auto point = SharedPtr<FeaturePoint3D>::Make(0.0, 0.0, 1000.0, FeaturePoint3D::eCartesian);
  Add(1, 65, 30)->SetFPoint3D(point);
  Draw(kFeatures);
  EXPECT_EQ(viewer.ImagePixel(20, 5), Slot(DS_SLOT_FEATURE_NO_POINT));
  EXPECT_EQ(viewer.ImagePixel(65, 30), Slot(DS_SLOT_FEATURE_ALONE));
  EXPECT_EQ(viewer.ImagePixel(50, 5), Slot(DS_SLOT_SELECTION));
}

TEST_F(OverlayFixture, UnderTheUndistortedDisplayMarkersSitOnTheUndistortedPicture) {
  images[1]->SetNormalizedK3(0.2);
  Add(1, 15, 8);
  double ux = 0.0, uy = 0.0;
  images[1]->Undistort(15, 8, ux, uy, false);
  // Off both arms of the stored place's cross, so the two places tell apart.
  ASSERT_GT(std::min(std::abs(ux - 15), std::abs(uy - 8)), 0.5);
  Draw(kFeatures | ViewerBase::eShowUndistorted);
  EXPECT_EQ(viewer.ImagePixel(ux, uy), Slot(DS_SLOT_FEATURE_ALONE));
  EXPECT_NE(viewer.ImagePixel(15, 8), Slot(DS_SLOT_FEATURE_ALONE));
  Draw(kFeatures);
  EXPECT_EQ(viewer.ImagePixel(15, 8), Slot(DS_SLOT_FEATURE_ALONE));
}

TEST_F(OverlayFixture, UserFeaturesAloneAndAtHalfAlphaAwayFromTheirClickedFrame) {
  Add(1, 10, 10);
  Add(1, 30, 10, FP2D_FLAG_MANUAL);
  Add(1, 50, 10, FP2D_FLAG_MANUAL | FP2D_FLAG_CLICKED_FRAME);
  Draw(ViewerBase::eShowUserFeatures);
  const uint32_t white = Slot(DS_SLOT_FEATURE_ALONE), background = Slot(DS_SLOT_IMAGE_BACKGROUND);
  EXPECT_EQ(viewer.ImagePixel(10, 10), background);
  EXPECT_EQ(viewer.ImagePixel(50, 10), white);
  const uint32_t half = viewer.ImagePixel(30 + 3, 10);  // an arm: the centre is drawn twice
  EXPECT_NE(half, white);
  EXPECT_NEAR(double(half & 0xFF), (0xFF + 0x33) / 2.0, 3.0);
  // The corner brackets of half-size 6: the corner itself is drawn.
  EXPECT_EQ(viewer.ImagePixel(50 - 5, 10 - 6), white);
}

TEST_F(OverlayFixture, HistoryDirectionsAndDimming) {
  // Tracks across three frames, the middle one shown.
  const auto f = Add(1, 20, 20);
  Link(Add(0, 20, 5), f, 0x01);
  Link(f, Add(2, 20, 35), 0x01);
  const auto g = Add(1, 60, 20);
  Link(Add(0, 60, 5), g, 0x01);
  Link(g, Add(2, 60, 35), 0x01);
  uic::ViewerState& s = viewer.m_states.back();
  s.m_history_before = 0;
  s.m_history_after = 30;
  Draw(kFeatures | ViewerBase::eShowHistory);
  const uint32_t track = Slot(DS_SLOT_TRACK), background = Slot(DS_SLOT_IMAGE_BACKGROUND);
  EXPECT_EQ(viewer.ImagePixel(20, 30), track);
  EXPECT_EQ(viewer.ImagePixel(20, 10), background);

  s.m_history_before = 30;
  UIDRegistry::Instance().SetSelected(f->GetUID(), true);
  Draw(kFeatures | ViewerBase::eShowHistory);
  EXPECT_EQ(viewer.ImagePixel(20, 10), track);
  EXPECT_EQ(viewer.ImagePixel(20, 30), track);
  // The other track fades to alpha 0x26; its marker keeps its colour.
  const uint32_t faded = viewer.ImagePixel(60, 30);
  EXPECT_NEAR(double(faded >> 16), 0x33 + (0xFF - 0x33) * 0x27 / 256.0, 2.0);
  EXPECT_EQ(viewer.ImagePixel(60, 20), Slot(DS_SLOT_FEATURE_TRACKED));
}

TEST_F(OverlayFixture, ErrorEllipsesOnlyForFoundFeatures) {
  Add(1, 20, 20);
  Add(1, 60, 20, FP2D_FLAG_MANUAL | FP2D_FLAG_CLICKED_FRAME);
  Draw(kFeatures | ViewerBase::eShowEllipses);
  // Unit covariance: a ring of the display settings' scale (15) around the feature.
  const double r = DisplaySettings::Get().marker_circle_radius;
  EXPECT_EQ(viewer.ImagePixel(20 + r, 20), Slot(DS_SLOT_FEATURE_ALONE));
  EXPECT_EQ(viewer.ImagePixel(60 + r, 20), Slot(DS_SLOT_IMAGE_BACKGROUND));
}

TEST_F(OverlayFixture, PointLinesAndAnchorResiduals) {
  // A point 1 m ahead projects at the principal point (40, 20).
  auto point = SharedPtr<FeaturePoint3D>::Make(0.0, 0.0, 1000.0, FeaturePoint3D::eCartesian);
  Add(1, 10, 20)->SetFPoint3D(point);
  Draw(ViewerBase::eShow3DLines);
  const uint32_t line = Slot(DS_SLOT_POINT_IN_IMAGE);
  EXPECT_EQ(viewer.ImagePixel(25, 20), line);
  images[1]->ClearFPoints2D();

  // The point behind the camera would project at the principal point too.
  auto behind = SharedPtr<FeaturePoint3D>::Make(0.0, 0.0, -1000.0, FeaturePoint3D::eCartesian);
  for (auto& [x, p] : {std::pair{10.0, point}, std::pair{70.0, behind}}) {
    auto a = SharedPtr<FeaturePoint2D>::Make(images[1].Get(), x, 20.0);
    a->SetFlags(FP2D_FLAG_ANCHOR | FP2D_FLAG_CLICKED_FRAME);
    a->SetFPoint3D(p);
    images[1]->AddAnchor(a);
  }
  Draw(ViewerBase::eShowAnchors | ViewerBase::eShowHistory);
  EXPECT_EQ(viewer.ImagePixel(25, 20), line);
  EXPECT_EQ(viewer.ImagePixel(55, 20), Slot(DS_SLOT_IMAGE_BACKGROUND));
  EXPECT_EQ(viewer.ImagePixel(70, 20), Slot(DS_SLOT_FEATURE_TRACKED));
  images[1]->ClearAnchors();
}

// The anchor path runs through the projections of the track's 3D points, each through its
// own frame's camera: (20, 30), (40, 30) and (60, 30) here.
TEST_F(OverlayFixture, AnchorPathThroughTheTracksProjectedPoints) {
  std::vector<SharedPtr<FeaturePoint2D>> track;
  std::vector<SharedPtr<FeaturePoint3D>> points;
  for (int k = 0; k < 3; ++k) {
    auto a = SharedPtr<FeaturePoint2D>::Make(images[size_t(k)].Get(), 40.0, 10.0);
    a->SetFlags(FP2D_FLAG_ANCHOR | FP2D_FLAG_CLICKED_FRAME);
    points.push_back(
        SharedPtr<FeaturePoint3D>::Make(20.0 * (k - 1), 10.0, 1000.0, FeaturePoint3D::eCartesian));
    a->SetFPoint3D(points.back());
    images[size_t(k)]->AddAnchor(a);
    if (k > 0) Link(track.back(), a, 0x01);
    track.push_back(a);
  }
  uic::ViewerState& s = viewer.m_states.back();
  const uint32_t path = Slot(DS_SLOT_TRACK), background = Slot(DS_SLOT_IMAGE_BACKGROUND);
  struct Case {
    int before, after;
    double far_z;  // of the last anchor's point
    uint32_t left, right;
  } cases[] = {{30, 30, 1000.0, path, path},
               {0, 30, 1000.0, background, path},
               {30, 0, 1000.0, path, background},
               {30, 30, -1000.0, path, background}};  // behind the camera: left out
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.before << " " << c.after << " " << c.far_z);
    s.m_history_before = c.before;
    s.m_history_after = c.after;
    points[2]->z = c.far_z;
    Draw(ViewerBase::eShowAnchors | ViewerBase::eShowHistory);
    EXPECT_EQ(viewer.ImagePixel(30, 30), c.left);
    EXPECT_EQ(viewer.ImagePixel(50, 30), c.right);
  }
  // The residual from the anchor (40, 10) down to its point's projection (40, 30).
  EXPECT_EQ(viewer.ImagePixel(40, 20), Slot(DS_SLOT_POINT_IN_IMAGE));
  for (auto& image : images) image->ClearAnchors();
}

// Redraws the image view of every frame while a real tracking run of a small rendered
// sequence changes features, links and points (the thread sanitizer's case).
TEST(TrackingThreadViewerTest, RedrawsWhileARunChangesTheFrames) {
  kxtest::LogCapture log(1);
  synthetic::SequenceOptions o;
  o.width = 320;
  o.height = 240;
  o.frames = 8;
  o.focal = 300.0;
  synthetic::Sequence sequence(o);
  kxtest::TempDir dir;
  auto list = SharedPtr<PackedStringList>::Make();
  for (int k = 0; k < o.frames; ++k) {
    const synthetic::Image frame = sequence.Render(k);
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.pgm", k);
    const std::string path = dir.File(name);
    kxtest::WriteFile(path,
                      "P5\n320 240\n255\n" + std::string(frame.pixels.begin(), frame.pixels.end()));
    list->Append(path.c_str(), k);
  }
  uic::MetaCTracker tracker;
  ASSERT_EQ(tracker.SetSequence(list), 0);
  kxtest::CurrentTracker current(&tracker);
  kxtest::RecordingViewer viewer;
  viewer.m_states.back().m_flags |= ViewerBase::eShowAnchors | ViewerBase::eShow3DLines |
                                    ViewerBase::eShowEllipses | ViewerBase::eShowSceneOverFrame;
  tracker.StartAutomaticTracking(TrackingSettings());
  int redraws = 0;
  for (int k = 0; tracker.IsTracking(); k = (k + 1) % o.frames) {
    viewer.SetFImage(tracker.GetFImage(unsigned(k)));
    viewer.Redraw();
    ++redraws;
  }
  uic::MetaCTracker::TrackingMsgHandler(&tracker);
  EXPECT_GT(redraws, 0);
  // The run did track: the frames have features now, and the view draws them.
  size_t features = 0;
  for (const auto& image : tracker.GetImageList()) features += image->GetFPoints2D().size();
  EXPECT_GT(features, 0u);
}

}  // namespace
