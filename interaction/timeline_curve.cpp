#include "interaction/timeline_curve.h"

#include "scene/display_settings.h"

namespace uic {

int TimelineCurve::AddPoint(uint32_t frame, double value) {
  for (TimelineCurvePoint& p : points) {
    if (p.frame == frame) {
      p.value = value;
      return static_cast<int>(points.size());
    }
  }
  points.push_back({frame, value});
  return static_cast<int>(points.size());
}

uint32_t TimelineCurveColor(int ident) {
  const DisplaySettings& ds = DisplaySettings::Get();
  switch (ident) {
    case eCurveNone:
      return 0xff000000;
    case eCurveFocalLength:
      return 0xff202020;
    case eCurveCameraX:
    case eCurvePan:
      return 0xff800000;
    case eCurveCameraY:
    case eCurveTilt:
      return 0xff008000;
    case eCurveCameraZ:
    case eCurveRoll:
      return 0xff000080;
    case eCurveError:
      return ds.SlotColor(DS_SLOT_POINT_IN_IMAGE);
    case eCurveFeatureX:
    case eCurvePointX:
      return 0xffff0000;
    case eCurveFeatureY:
    case eCurvePointY:
      return 0xff00ff00;
    case eCurvePointZ:
      return 0xff0000ff;
    case eNumFPoint2D:
      return ds.SlotColor(DS_SLOT_FEATURE_TRACKED);
    case eNumFCorrespondence:
      return ds.SlotColor(DS_SLOT_TRACK);
    case eNumCurrentFPoint3D:
      return ds.SlotColor(DS_SLOT_POINT_SEEN);
    default:
      return 0;
  }
}

uint32_t TimelineRmseColor(double error, double image_width) {
  const double scale = 1.0 + (image_width - 720.0) / 1200.0;
  double s = scale != 0.0 ? error / scale : 1.0;
  if (!(s >= 0.0)) s = 0.0;  // NaN too
  if (s > 1.0) s = 1.0;
  const uint32_t k = static_cast<uint32_t>(s * 255.0);
  return 0xff000000u + k * 0x10000u + (255u - k) * 0x100u;
}

}  // namespace uic
