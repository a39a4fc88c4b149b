#include "interaction/timeline_base.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/runtime/uid_registry.h"
#include "interaction/controller_job_for_test.h"
#include "interaction/timeline_for_test.h"
#include "scene/display_settings.h"
#include "testing/log_capture.h"
#include "tracking/objects/vertex_object_pool.h"

namespace uic {
namespace {

using kxtest::ControllerJob;
using kxtest::Curve;
using kxtest::TestTimeline;
using Texts = std::vector<std::string>;

constexpr uint32_t kEmptyBackground = 0x505050;
constexpr uint32_t kSequenceBackground = 0xa0a0a0;
constexpr uint32_t kAxisLine = 0x666666;

uint32_t Rgb(uint32_t argb) {
  return argb & 0xffffff;
}

TEST(TimelineCurveTest, AddPointReplacesTheValueAtAFrame) {
  TimelineCurve c(eCurveFocalLength);
  EXPECT_EQ(c.flags, 3u);
  EXPECT_EQ(c.AddPoint(4, 1.0), 1);
  EXPECT_EQ(c.AddPoint(2, 2.0), 2);
  EXPECT_EQ(c.AddPoint(4, 3.0), 2);
  EXPECT_EQ(c.points[0].frame, 4u);
  EXPECT_EQ(c.points[0].value, 3.0);
}

TEST(TimelineCurveTest, RmseColourRunsFromGreenToRedOverTheImageScale) {
  EXPECT_EQ(TimelineRmseColor(0.0, 720), 0xff00ff00u);
  EXPECT_EQ(TimelineRmseColor(1.0, 720), 0xffff0000u);
  EXPECT_EQ(TimelineRmseColor(7.0, 720), 0xffff0000u);
  EXPECT_EQ(TimelineRmseColor(-1.0, 720), 0xff00ff00u);
  EXPECT_EQ(TimelineRmseColor(0.5, 720), 0xff7f8000u);
  EXPECT_EQ(TimelineRmseColor(1.0, 1920), 0xff7f8000u);  // scale 2 for 1920 pixels
}

TEST(TimelineBaseTest, SizeMovesTheOriginByHalfTheChange) {
  kxtest::FramesJob frames(0);
  TestTimeline t;
  EXPECT_EQ(t.GetBuffer().width, 640u);
  EXPECT_EQ(t.GetBuffer().height, 200u);
  EXPECT_EQ(t.GetBuffer().stride, 640u);
  EXPECT_EQ(t.GetX0(), 320);
  EXPECT_EQ(t.GetY0(), 100);
  const uint32_t* pixels = t.GetBuffer().data;
  t.SetSize(640, 200);  // same size: nothing moves, same buffer
  EXPECT_EQ(t.GetBuffer().data, pixels);
  EXPECT_EQ(t.GetX0(), 320);
  t.SetSize(650, 190);
  EXPECT_EQ(t.GetX0(), 325);
  EXPECT_EQ(t.GetY0(), 95);
  t.SetSize(641, 190);
  EXPECT_EQ(t.GetX0(), 321);
  EXPECT_EQ(t.GetBuffer().stride, 644u);
}

TEST(TimelineBaseTest, BoundingRectangleTakesEveryPointAndSkipsEmptyCurves) {
  kxtest::FramesJob frames(0);
  TestTimeline t;
  kxtest::LogCapture log;
  TimelineRect r;
  EXPECT_FALSE(t.GetCurvesBoundingRectangle(&r));
  EXPECT_TRUE(log.Has("rectangle NULL or empty curve list"));
  t.Add(Curve(eCurveFocalLength, 0, {}));
  EXPECT_FALSE(t.GetCurvesBoundingRectangle(&r));
  EXPECT_TRUE(log.Has("can't get min/max"));
  t.Add(Curve(eCurvePan, 0, {{7, -3.5}, {2, -1.25}}));
  t.Add(Curve(eCurveTilt, 0, {{0xFFFFFFF0u, -2.0}}));  // frames compare unsigned
  t.Curves()[2].flags = 1;                             // hidden curves count too
  t.Add(Curve(eCurveRoll, 0, {}));                     // a trailing empty curve
  ASSERT_TRUE(t.GetCurvesBoundingRectangle(&r));
  EXPECT_EQ(r.frame0, 2.0);
  EXPECT_EQ(r.frame1, double(0xFFFFFFF0u));
  EXPECT_EQ(r.value0, -3.5);
  EXPECT_EQ(r.value1, -1.25);
  EXPECT_FALSE(t.GetCurvesBoundingRectangle(nullptr));
}

TEST(TimelineBaseTest, ResetZoomFitsTheCurvesOrFallsBackToTheTrackingRange) {
  kxtest::FramesJob frames(10);
  Controller::Instance()->SetStartFrame(2);
  Controller::Instance()->SetEndFrame(6);
  TestTimeline t;
  t.SetSize(448, 221);
  // All-negative values fit: y0 = trunc(zoom_y * min) - 5 + (h - 21).
  t.SetCurve(Curve(eCurvePan, 0, {{10, -8.0}, {30, -4.0}}));
  EXPECT_DOUBLE_EQ(t.GetZoomY(), 200.0 / 4.0 * 0.9);
  EXPECT_EQ(t.GetY0(), int(45.0 * -8.0) - 5 + 200);
  t.ResetZoomX();
  EXPECT_DOUBLE_EQ(t.GetZoomX(), 400.0 / 20.0 * 0.9);
  EXPECT_EQ(t.GetX0(), 51 - 180);
  // One frame only (span < 0.01): the tracking range 2 .. 6 fills the width; one value
  // (span < 0.01) counts as span 1.
  t.SetCurve(Curve(eCurveSolverKeyFrames, 1, {{4, 3.0}}));
  EXPECT_DOUBLE_EQ(t.GetZoomY(), 200.0 * 0.9);
  EXPECT_EQ(t.GetY0(), int(180.0 * 3.0) - 5 + 200);
  t.ResetZoomX();
  EXPECT_DOUBLE_EQ(t.GetZoomX(), 400.0 / 5);
  EXPECT_EQ(t.GetX0(), int(48 - 2 * 80.0) + 3);
  // No curves: the reset values stay.
  t.ClearCurves();
  kxtest::LogCapture log;
  t.ResetZoomY();
  EXPECT_EQ(t.GetZoomY(), 1.0);
  EXPECT_EQ(t.GetY0(), 200);
  EXPECT_TRUE(log.Has("can't get bounding rectangle of current curves"));
}

TEST(TimelineBaseTest, WithoutASequenceOnlyTheAxesAreDrawn) {
  kxtest::FramesJob frames(0);
  TestTimeline t;
  t.SetSize(200, 100);
  t.SetView(10.0, 1.0, 0, 50);
  t.Paint();
  EXPECT_EQ(t.Pixel(120, 40), kEmptyBackground);
  EXPECT_EQ(t.Pixel(30, 5), kSequenceBackground);    // the value axis area
  EXPECT_EQ(t.Pixel(120, 90), kSequenceBackground);  // the label band
  for (int y = 5; y < 75; ++y) {
    ASSERT_EQ(t.Pixel(47, y), kAxisLine) << y;
    ASSERT_EQ(t.Pixel(48, y), kAxisLine) << y;
  }
  for (int x = 50; x < 200; ++x) {
    ASSERT_EQ(t.Pixel(x, 78), kAxisLine) << x;
    ASSERT_EQ(t.Pixel(x, 79), kAxisLine) << x;
  }
  // No labels, ticks, marker or grid: nothing but the three colours.
  EXPECT_TRUE(t.texts.empty());
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 200; ++x) {
      const uint32_t p = t.Pixel(x, y);
      ASSERT_TRUE(p == kEmptyBackground || p == kAxisLine || p == kSequenceBackground)
          << x << "," << y << " " << std::hex << p;
    }
  }
  // A curve survives the loss of the sequence: the empty frame window (no frame at all)
  // must not be divided by, and the single point is neither dense nor selected.
  t.Add(Curve(eCurveFocalLength, 0, {{3, 0.0}}));
  t.SetView(20.0, 1.0, 0, 50);
  t.Paint();
  EXPECT_EQ(t.Pixel(59, 49), kEmptyBackground);
}

// Dots: a single point draws no line; its dot appears when at least 20 pixels fall on a
// frame (or when it is selected).
TEST(TimelineBaseTest, SinglePointsShowADotOnlyWhenDenseOrSelected) {
  kxtest::FramesJob frames(30);
  struct Case {
    double zoom;
    bool selected;
    bool dot;
  } cases[] = {{20.0, false, true}, {19.0, false, false}, {19.0, true, true}};
  for (const Case& c : cases) {
    TestTimeline t;
    t.SetSize(400, 100);
    t.SetView(c.zoom, 1.0, 0, 40);
    t.Add(Curve(eCurveFocalLength, 0, {{5, 0.0}, {9, 0.0}}));
    t.Curves()[0].points.resize(1);
    if (c.selected) t.SelectKeyframes({5, 0, 5, 0});
    t.Paint();
    const int x = int(c.zoom * 5);  // pixel column of frame 5 (centre x - 0.5)
    const uint32_t want =
        c.dot ? Rgb(c.selected ? DisplaySettings::Get().SlotColor(DS_SLOT_SELECTION) : 0xff202020)
              : kSequenceBackground;
    EXPECT_EQ(t.Pixel(x, 39), want) << c.zoom << " " << c.selected;
    EXPECT_EQ(t.Pixel(x + 10, 39), kSequenceBackground) << "no line";
  }
}

TEST(TimelineBaseTest, GridAndLabelsStepByThreeOverSixtyOddFrames) {
  kxtest::FramesJob frames(100);
  TestTimeline t;
  t.SetSize(640, 100);
  t.SetView(10.0, 1.0, -100, 50);  // frames 10 .. 73.9 visible: m = 64 / 30 = 2
  t.Paint();
  Texts labels;
  for (const auto& text : t.texts) labels.push_back(text.text);
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.front(), "15");  // 9 and 12 fall under the value axis
  EXPECT_EQ(labels.back(), "72");
  EXPECT_EQ(labels.size(), 20u);
  for (const auto& text : t.texts) {
    EXPECT_EQ(std::stoi(text.text) % 3, 0) << text.text;
    EXPECT_EQ(text.x, 10.0 * std::stoi(text.text) - 100);
    EXPECT_EQ(text.y, 78.0);
  }
  // A grid line at frame 18 (pixel 79.5), none at frame 19.
  EXPECT_NE(t.Pixel(79, 40), kSequenceBackground);
  EXPECT_EQ(t.Pixel(89, 40), kSequenceBackground);
  EXPECT_EQ(t.Pixel(99, 40), kSequenceBackground);
}

// The value axis: the smallest step of the 1/2.5/5 series that gives fewer than ten
// ticks, the label precision by span.
TEST(TimelineBaseTest, ValueAxisSearchesTheTickStep) {
  kxtest::FramesJob frames(10);
  struct Case {
    double low, high;
    Texts labels;
  } cases[] = {
      {0.0, 100.0, {"125", "100", "75", "50", "25", "0"}},
      {1.0, 1.05, {"1.0600", "1.0500", "1.0400", "1.0300", "1.0200", "1.0100", "1.0000"}},
      {0.0, 0.012, {"0.0150", "0.0125", "0.0100", "0.0075", "0.0050", "0.0025", "0.0000"}},
      {-0.002, 0.0, {"1.25", "1.00", "0.75", "0.50", "0.25", "0.00"}},  // span below 0.01: 1
  };
  for (const Case& c : cases) {
    TestTimeline t;
    t.SetSize(300, 200);
    t.SetCurve(Curve(eCurveRoll, 0, {{1, c.low}, {2, c.high}}));
    t.Paint();
    EXPECT_EQ(t.TextsAt(15), c.labels) << c.high;
  }
}

TEST(TimelineBaseTest, CompactModeDrawsOnlyKeyMarksAndShiftedLabels) {
  kxtest::FramesJob frames(10);
  TestTimeline t;
  t.SetSize(300, 30);
  t.SetView(20.0, 1.0, 20, 10);
  t.Add(Curve(eCurveFocalLength, 0, {{1, 0.0}, {8, 30.0}}));
  t.Add(Curve(eCurveSolverKeyFrames, 1, {{4, 0.0}}));
  t.Paint();
  EXPECT_TRUE(t.IsCompact());
  EXPECT_EQ(t.TextsAt(15), Texts{});
  ASSERT_FALSE(t.texts.empty());
  EXPECT_EQ(t.texts[0].text, "0");
  EXPECT_EQ(t.texts[0].x, 20.0 + 6);
  EXPECT_EQ(t.texts[0].y, 30.0 - 12 - 5);
  // The key mark covers the full height at frame 4 (pixel 99.5); no line of curve 2.
  EXPECT_EQ(t.Pixel(97, 15), 0xbbbbbbu);
  EXPECT_EQ(t.Pixel(97, 25), 0xbbbbbbu);
  EXPECT_EQ(t.Pixel(150, 20), kSequenceBackground);
}

TEST(TimelineBaseTest, MarksTheCurrentFrameAndTheTrackingRange) {
  kxtest::FramesJob frames(10);
  Controller::Instance()->SetStartFrame(2);
  Controller::Instance()->SetEndFrame(7);
  Controller::Instance()->SetCurrentFrame(5, false);
  TestTimeline t;
  t.SetSize(300, 100);
  t.SetView(20.0, 1.0, 60, 50);
  t.Paint();
  // Frame f sits at pixel 20 f + 59.5: range lines at 99.5 and 199.5, the marker at 159.5.
  EXPECT_EQ(t.Pixel(159, 40), 0xff0000u);
  EXPECT_EQ(t.Pixel(99, 40), 0x008000u);
  EXPECT_EQ(t.Pixel(199, 40), 0x008000u);
  EXPECT_EQ(t.Pixel(103, 2), 0x008000u);  // the start triangle points into the range
  EXPECT_EQ(t.Pixel(95, 2), kSequenceBackground);
  EXPECT_EQ(t.Pixel(195, 2), 0x008000u);         // the end triangle too
  EXPECT_EQ(t.Pixel(159, 100 - 23), 0xff0000u);  // the wedge above the label band
}

TEST(TimelineBaseTest, CurvesOfTheTrackingJob) {
  ControllerJob job;  // frames 0 .. 3, six tracks over all of them
  TestTimeline t;
  struct Case {
    int ident;
    std::vector<int> idents;
    double value;  // at every frame
  } cases[] = {
      {eNumFPoint2D, {eNumFPoint2D}, 6.0},
      {eNumFCorrespondence, {eNumFCorrespondence}, 6.0},
      {eNumCurrentFPoint3D, {eNumCurrentFPoint3D}, 4.0},  // one removed, one a locator
      {eCurveGroupCameraCentre, {4, 5, 6}, -1.0},
      {eCurveGroupCameraAngles, {8, 9, 10}, -1.0},
      {eCurveTilt, {9}, -1.0},
  };
  for (const Case& c : cases) {
    t.UpdateCurves(c.ident);
    ASSERT_EQ(t.GetCurves().size(), c.idents.size()) << c.ident;
    for (size_t i = 0; i < c.idents.size(); ++i) {
      const TimelineCurve& curve = t.GetCurves()[i];
      EXPECT_EQ(curve.ident, c.idents[i]);
      ASSERT_EQ(curve.points.size(), 4u) << c.ident;
      for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(curve.points[k].frame, k);
        if (c.value >= 0) {
          EXPECT_EQ(curve.points[k].value, c.value) << c.ident;
        }
      }
    }
  }
  // Tracks of a selected feature: x and y along the whole track.
  t.UpdateFPoint2DCurve({job.tracks[2][1].Get()});
  ASSERT_EQ(t.GetCurves().size(), 2u);
  EXPECT_EQ(t.GetCurves()[0].ident, eCurveFeatureX);
  EXPECT_EQ(t.GetCurves()[0].points.size(), 4u);
  EXPECT_EQ(t.GetCurves()[0].points[3].value, 1.0 + 2 + 0.75);
  EXPECT_EQ(t.GetCurves()[1].points[3].value, 5.0);
  // A Cartesian point: three constant curves over the range.
  t.UpdateFPoint3DCurve({job.points[3].Get()});
  ASSERT_EQ(t.GetCurves().size(), 3u);
  EXPECT_EQ(t.GetCurves()[2].ident, eCurvePointZ);
  EXPECT_EQ(t.GetCurves()[2].points.size(), 2u);
  EXPECT_EQ(t.GetCurves()[2].points[1].frame, 3u);
  EXPECT_EQ(t.GetCurves()[2].points[1].value, 7.0);
}

// The key frames of a selected mask are drawn (with its frame range outlined) and named on
// the value axis.
TEST(TimelineBaseTest, AMaskKeyCurveIsDrawnAndNamed) {
  ControllerJob job;
  VertexObject& mask = job.tracker->GetVertexObjectPool().GetPolygonMasks().front();
  for (Vertex& v : mask.GetVertices()) v.SetKey(2, {0.0, 0.0, 0.0});
  UIDRegistry::Instance().SetSelected(mask.GetUID(), true);
  TestTimeline t;
  t.SetSize(300, 100);
  t.UpdateKeyframeCurve();
  ASSERT_EQ(t.GetCurves().size(), 1u);
  const TimelineCurve& curve = t.GetCurves()[0];
  EXPECT_EQ(curve.ident, eCurveVertexKeyFrames);
  EXPECT_EQ(curve.param, mask.GetUID());
  ASSERT_EQ(curve.points.size(), 2u);  // frames 0 and 2, one point per frame
  EXPECT_EQ(curve.points[1].frame, 2u);
  t.SetView(40.0, t.GetZoomY(), 60, 70);
  t.Paint();
  EXPECT_EQ(t.TextsAt(15), Texts{"mask"});
  // Frame 2 at pixel 139.5: grey fill inside the mark, dark outline at its sides.
  EXPECT_EQ(t.Pixel(141, 50), 0xbbbbbbu);
  EXPECT_EQ(t.Pixel(134, 50), 0x444444u);
  EXPECT_EQ(t.Pixel(170, 50), kSequenceBackground);
  // The yellow range outline runs 20 and 24 pixels above the key row across frames 0 .. 3.
  EXPECT_EQ(t.Pixel(160, 69 - 20), 0xffff00u);
  EXPECT_EQ(t.Pixel(160, 69 - 24), 0xffff00u);
  EXPECT_EQ(t.Pixel(160, 69 - 22), kSequenceBackground);
  UIDRegistry::Instance().SetSelected(mask.GetUID(), false);
}

// Error bars coloured by size, the compact strip's error band, and the rubber band.
TEST(TimelineBaseTest, ErrorBarsTheCompactErrorBandAndTheRubberBand) {
  ControllerJob job;  // 16-pixel-wide images: the colour scale is 1 + (16 - 720) / 1200
  job.tracker->GetImageList()[1]->SetMeanSquaredError(0.0);
  job.tracker->GetImageList()[2]->SetMeanSquaredError(0.01);
  const uint32_t colour = Rgb(TimelineRmseColor(0.1, 16));
  TestTimeline t;
  t.SetSize(300, 100);
  t.UpdateCurves(eCurveError);
  ASSERT_EQ(t.GetCurves().size(), 1u);
  ASSERT_EQ(t.GetCurves()[0].points.size(), 2u);  // frames 1 and 2: the others have no error
  EXPECT_DOUBLE_EQ(t.GetCurves()[0].points[1].value, 0.1);
  t.SetView(40.0, t.GetZoomY(), 60, t.GetY0());
  t.Paint();
  EXPECT_EQ(t.Pixel(138, 40), colour);  // the bar at frame 2 (pixel 139.5)

  t.KeyPressEvent(TimelineBase::kKeyCtrl);
  t.MouseClickEvent(1, 200, 20);
  t.MouseDragEvent(1, 260, 60);
  t.KeyReleaseEvent(0);
  t.Paint();
  const uint32_t edge = t.Pixel(199, 40);
  EXPECT_TRUE(edge == 0xffffff || edge == 0) << std::hex << edge;
  const uint32_t inside = t.Pixel(230, 40);
  EXPECT_LT(inside & 0xff, kSequenceBackground & 0xff);
  EXPECT_GT(inside & 0xff, 0x80u);

  t.SetSize(300, 30);
  t.SetView(40.0, 1.0, 60, 20);
  t.SetShowRmseBand(true);
  t.Paint();
  ASSERT_TRUE(t.IsCompact());
  EXPECT_EQ(t.Pixel(160, 28), colour);               // frame 2's error along the bottom
  EXPECT_EQ(t.Pixel(120, 28), kSequenceBackground);  // frame 1 has none
}

}  // namespace
}  // namespace uic
