// The data of the curve timeline: one curve is a list of per-frame values with an ident
// (what the values are), a style (how they are drawn) and a visible bit. Plain values, no
// references into the tracking data: a curve is a copy made when it was built.
#pragma once

#include <cstdint>
#include <vector>

namespace uic {

// What a curve shows. The two groups name sets of curves and are never stored as one.
enum TimelineCurveIdent : int {
  eCurveNone = 0,
  eCurveSolverKeyFrames = 1,  // the feature map's key-frame pair, value 0
  eCurveFocalLength = 2,      // mm
  eCurveGroupCameraCentre = 3,
  eCurveCameraX = 4,
  eCurveCameraY = 5,
  eCurveCameraZ = 6,
  eCurveGroupCameraAngles = 7,
  eCurvePan = 8,  // degrees
  eCurveTilt = 9,
  eCurveRoll = 10,
  eCurveError = 11,     // per-frame reprojection error, pixels
  eCurveFeatureX = 12,  // a selected 2D feature along its track, pixels
  eCurveFeatureY = 13,
  eCurvePointX = 14,  // a selected 3D point, constant over the tracking range
  eCurvePointY = 15,
  eCurvePointZ = 16,
  eCurveVertexKeyFrames = 17,  // key frames of the selected mask or line, value 0
  eNumFPoint2D = 18,
  eNumFCorrespondence = 19,
  eNumCurrentFPoint3D = 20,
};

enum TimelineCurveStyle : int {
  eCurveStyleLine = 0,
  eCurveStyleKeyFrames = 1,
  eCurveStyleErrorBars = 2,
};

// Frames are unsigned: the frame comparisons of the timeline treat them so.
struct TimelineCurvePoint {
  uint32_t frame;
  double value;
};

struct TimelineCurve {
  static constexpr uint32_t kVisible = 0x2;

  // Flags 3 (visible), no points. param: the vertex object's id for its key-frame curve.
  explicit TimelineCurve(int ident = eCurveNone, int style = eCurveStyleLine, int param = 0)
      : ident(ident), style(style), param(param) {}

  // Replaces the value of the point at frame, or appends (frame, value); returns the
  // number of points.
  int AddPoint(uint32_t frame, double value);
  bool IsVisible() const { return (flags & kVisible) != 0; }

  uint32_t flags = 3;
  int ident;
  int style;
  int param;
  std::vector<TimelineCurvePoint> points;  // in insertion order
};

// The frame/value box of curve points: {min frame, min value, max frame, max value}.
struct TimelineRect {
  double frame0 = 0.0;
  double value0 = 0.0;
  double frame1 = 0.0;
  double value1 = 0.0;
};

// The colour of a curve ident (0xAARRGGBB); the idents without an entry (1, the groups,
// unknown ones) give 0 and are drawn in 0xff008000 with a warning.
uint32_t TimelineCurveColor(int ident);

// Green at error 0, red at the error scale and beyond: the scale is 1 + (w - 720) / 1200
// for images w pixels wide.
uint32_t TimelineRmseColor(double error, double image_width);

}  // namespace uic
