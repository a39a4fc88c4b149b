#include "interaction/timeline_base.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "tracking/maps/feature_map_move.h"
#include "tracking/objects/vertex_object.h"

namespace uic {

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr uint32_t kFrameMarkColor = 0xff666666;
constexpr uint32_t kKeyFillColor = 0xffbbbbbb;
constexpr uint32_t kKeyOutlineColor = 0xff444444;
constexpr uint32_t kUnknownCurveColor = 0xff008000;
constexpr uint32_t kObjectRangeColor = 0xffffff00;

// The frames of the current free-motion map's key-frame pair. Before a pair is found the
// keys name no image of the map's list: they give no frame.
std::vector<int> SolverKeyFrames(MetaCTracker& tracker) {
  std::vector<int> frames;
  SharedPtr<FeatureMap> map = tracker.GetFeatureMap();
  auto* move = dynamic_cast<FeatureMapMove*>(map.Get());
  if (move == nullptr) return frames;
  std::vector<int> keys;
  move->GetKeyFramePair(keys);
  const auto& list = move->GetFImageList();
  for (int key : keys) {
    if (key >= 0 && key < static_cast<int>(list.size()) && list[size_t(key)]) {
      frames.push_back(list[size_t(key)]->GetImageIndex());
    }
  }
  return frames;
}

}  // namespace

TimelineBase::TimelineBase()
    : m_background(ViewColors().color), m_controller(Controller::Instance()) {
  SetSize(640, 200);
  CurveTransform();
  m_controller->m_global_data_changed.Connect(this, &TimelineBase::HandleGlobalDataChanged);
  m_controller->m_current_frame_changed.Connect(this, &TimelineBase::Redraw);
  m_controller->m_selection_changed.Connect(this, &TimelineBase::HandleSelectionChanged);
}

TimelineBase::~TimelineBase() = default;

void TimelineBase::RedrawRect(const RubberBand&, int) {
  Redraw();
}

MetaCTracker* TimelineBase::Tracker() const {
  return m_controller ? m_controller->GetCTracker() : nullptr;
}

int TimelineBase::NumImages() const {
  MetaCTracker* tracker = Tracker();
  return tracker ? static_cast<int>(tracker->GetImageList().size()) : 0;
}

VertexObject* TimelineBase::FindVertexObject(int uid) const {
  if (uid <= 0) return nullptr;
  UIDBase* object = UIDRegistry::Instance().GetObject(uid);
  if (object == nullptr || object->GetUIDType() != UID_TYPE_VERTEX_OBJECT) return nullptr;
  return dynamic_cast<VertexObject*>(object);
}

TimelineCurvePoint* TimelineBase::SelectedPoint(const KeyRef& key) {
  if (key.first < 0 || key.first >= static_cast<int>(m_curves.size())) return nullptr;
  std::vector<TimelineCurvePoint>& points = m_curves[size_t(key.first)].points;
  if (key.second < 0 || key.second >= static_cast<int>(points.size())) return nullptr;
  return &points[size_t(key.second)];
}

// ---- buffer

void TimelineBase::SetSize(int width, int height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  const int old_width = static_cast<int>(m_view.width);
  const int old_height = static_cast<int>(m_view.height);
  const int dx = std::abs(width - old_width) / 2;
  const int dy = std::abs(height - old_height) / 2;
  m_x0 += width > old_width ? dx : -dx;
  m_y0 += height > old_height ? dy : -dy;
  if (width != old_width || height != old_height) {
    const uint32_t stride = (uint32_t(width) + 3u) & ~3u;
    m_buffer.Allocate(uint64_t(stride) * uint32_t(height));
    m_view = ArrayMap<uint32_t>(m_buffer.data, stride, uint32_t(width), uint32_t(height));
  }
  m_painter.SetTarget(m_view);
}

// ---- transforms

void TimelineBase::CurveTransform() {
  PainterTarget& t = m_painter.Target();
  t.offset_x = m_x0 - 0.5;
  t.offset_y = m_y0 - 0.5;
  t.scale_x = m_zoom_x;
  t.scale_y = -m_zoom_y;
}

void TimelineBase::PixelTransform() {
  OriginAt(0.0, 0.0);
}

void TimelineBase::FramePixelTransform() {
  PainterTarget& t = m_painter.Target();
  t.offset_x = m_x0 - 0.5;
  t.scale_x = m_zoom_x;
  t.offset_y = 0.0;
  t.scale_y = 1.0;
}

void TimelineBase::OriginAt(double px, double py) {
  PainterTarget& t = m_painter.Target();
  t.offset_x = px;
  t.offset_y = py;
  t.scale_x = 1.0;
  t.scale_y = 1.0;
}

// ---- curves

void TimelineBase::SetCurve(const TimelineCurve& curve) {
  Notify(5, "TimelineBase::SetCurve: ");
  EmptySelection();
  m_curves.clear();
  m_curves.push_back(curve);
  ResetZoomY();
}

void TimelineBase::ClearCurves() {
  EmptySelection();
  m_curves.clear();
}

void TimelineBase::UpdateCurves(int ident) {
  MetaCTracker* tracker = Tracker();
  if (tracker == nullptr) {
    Notify(5, "TimelineBase::SetCurves: tracker not set");
    return;
  }
  const auto& images = tracker->GetImageList();
  // One line curve of a per-image value.
  auto build = [&](int id, int style, auto value_of) {
    TimelineCurve curve(id, style, 0);
    for (const SharedPtr<FeatureImage>& image : images) {
      if (!image) continue;
      double value = 0.0;
      if (value_of(*image, value)) curve.AddPoint(uint32_t(image->GetImageIndex()), value);
    }
    return curve;
  };
  auto centre = [&](int axis) {
    return build(eCurveCameraX + axis, eCurveStyleLine, [axis](FeatureImage& image, double& v) {
      const vm::Vector3& c = image.GetC();
      v = axis == 0 ? c.x : axis == 1 ? c.y : c.z;
      return true;
    });
  };
  auto angle = [&](int axis) {
    return build(eCurvePan + axis, eCurveStyleLine, [axis](FeatureImage& image, double& v) {
      double angles[3];
      GetCameraAngles(image, angles[0], angles[1], angles[2]);
      v = angles[axis] * kDegreesPerRadian;
      return true;
    });
  };
  // A group: its first curve replaces the list, the other two join it.
  auto three = [&](auto make) {
    SetCurve(make(0));
    m_curves.push_back(make(1));
    m_curves.push_back(make(2));
  };

  switch (ident) {
    case eCurveSolverKeyFrames: {
      TimelineCurve curve(eCurveSolverKeyFrames, eCurveStyleKeyFrames, 0);
      for (int frame : SolverKeyFrames(*tracker)) {
        Notify(5, "TimelineBase::UpdateKeyframeCurve: sequence key found at: %d", frame);
        curve.AddPoint(uint32_t(frame), 0.0);
      }
      // Appended to the other curves, but replacing an earlier key-frame curve, so that
      // rebuilding on every data change does not pile up copies.
      EmptySelection();
      std::erase_if(m_curves,
                    [](const TimelineCurve& c) { return c.ident == eCurveSolverKeyFrames; });
      if (!curve.points.empty()) m_curves.push_back(curve);
      break;
    }
    case eCurveFocalLength:
      SetCurve(build(ident, eCurveStyleLine, [](FeatureImage& image, double& v) {
        v = image.GetFocalLength();
        return true;
      }));
      break;
    case eCurveGroupCameraCentre:
      three(centre);
      break;
    case eCurveCameraX:
    case eCurveCameraY:
    case eCurveCameraZ:
      SetCurve(centre(ident - eCurveCameraX));
      break;
    case eCurveGroupCameraAngles:
      three(angle);
      break;
    case eCurvePan:
    case eCurveTilt:
    case eCurveRoll:
      SetCurve(angle(ident - eCurvePan));
      break;
    case eCurveError:
      Notify(5, "TimelineBase::UpdateCurves: stats rmse");
      SetCurve(build(ident, eCurveStyleErrorBars, [](FeatureImage& image, double& v) {
        const double mse = image.GetMeanSquaredError();
        if (!(mse >= 0.0)) return false;  // not estimated
        v = std::sqrt(mse);
        return true;
      }));
      break;
    case eNumFPoint2D:
      Notify(5, "TimelineBase::UpdateCurves: eNumFPoint2D");
      SetCurve(build(ident, eCurveStyleLine, [](FeatureImage& image, double& v) {
        v = double(image.GetFPoints2D().size());
        return true;
      }));
      break;
    case eNumFCorrespondence:
      Notify(5, "TimelineBase::UpdateCurves: eNumFCorrespondence:");
      SetCurve(build(ident, eCurveStyleLine, [](FeatureImage& image, double& v) {
        int n = 0;
        for (const SharedPtr<FeaturePoint2D>& f : image.GetFPoints2D()) {
          if (!f) continue;
          const auto& next = f->GetSuccessor();
          const auto& prev = f->GetPredecessor();
          if ((next && (next->GetFlags() & 0x61) != 0) || (prev && (prev->GetFlags() & 0x61) != 0))
            ++n;
        }
        v = n;
        return true;
      }));
      break;
    case eNumCurrentFPoint3D:
      Notify(5, "TimelineBase::UpdateCurves: eNumCurrentFPoint3D:");
      SetCurve(build(ident, eCurveStyleLine, [](FeatureImage& image, double& v) {
        int n = 0;
        for (const SharedPtr<FeaturePoint2D>& f : image.GetFPoints2D()) {
          if (f && f->GetFPoint3D() &&
              !f->GetFPoint3D()->TestFlags(FP3D_FLAG_REMOVED | FP3D_FLAG_LOCATOR))
            ++n;
        }
        v = n;
        return true;
      }));
      break;
    default:
      break;
  }
  ResetZoomY();
}

void TimelineBase::UpdateFPoint2DCurve(const std::vector<FeaturePoint2D*>& features) {
  if (m_compact) return;
  EmptySelection();
  m_curves.clear();
  for (FeaturePoint2D* feature : features) {
    if (feature == nullptr) continue;
    FeaturePoint2D* begin = FindTrackEnd(feature, true);
    Notify(5, "TimelineBase::UpdateFPoint2DCurve: track begin in image %ld",
           long(begin->GetImage() ? begin->GetImage()->GetImageIndex() : -1));
    TimelineCurve xs(eCurveFeatureX), ys(eCurveFeatureY);
    for (FeaturePoint2D* f = begin; f != nullptr;) {
      if (f->GetImage() != nullptr) {
        const uint32_t frame = uint32_t(f->GetImage()->GetImageIndex());
        xs.AddPoint(frame, f->x);
        ys.AddPoint(frame, f->y);
      }
      const auto& next = f->GetSuccessor();
      f = next ? next->GetSecond().Get() : nullptr;
    }
    if (!xs.points.empty()) m_curves.push_back(std::move(xs));
    if (!ys.points.empty()) m_curves.push_back(std::move(ys));
  }
  ResetZoomY();
  Redraw();
}

void TimelineBase::UpdateFPoint3DCurve(const std::vector<FeaturePoint3D*>& points) {
  MetaCTracker* tracker = Tracker();
  if (tracker == nullptr) return;
  EmptySelection();
  m_curves.clear();
  const uint32_t first = uint32_t(tracker->GetFrameStart());
  const uint32_t last = uint32_t(tracker->GetFrameEnd());
  for (FeaturePoint3D* point : points) {
    if (point == nullptr || point->GetCS() != FeaturePoint3D::eCartesian) continue;
    const double coords[3] = {point->x, point->y, point->z};
    for (int axis = 0; axis < 3; ++axis) {
      TimelineCurve curve(eCurvePointX + axis);
      curve.AddPoint(first, coords[axis]);
      curve.AddPoint(last, coords[axis]);
      m_curves.push_back(std::move(curve));
    }
  }
  ResetZoomY();
  Redraw();
}

void TimelineBase::UpdateKeyframeCurve() {
  EmptySelection();
  m_curves.clear();
  std::vector<UIDBase*> selected;
  UIDRegistry::Instance().CollectSelected(selected, UID_TYPE_VERTEX_OBJECT, UID_TYPE_VERTEX_OBJECT);
  if (selected.empty()) return;
  auto* object = dynamic_cast<VertexObject*>(selected.front());
  if (object == nullptr) return;
  Notify(5,
         "TimelineBase::UpdateKeyframeCurve: analyzing mask with uid %d, start index %ld, end "
         "index %ld",
         object->GetUID(), long(object->GetStartIndex()), long(object->GetEndIndex()));
  TimelineCurve curve(eCurveVertexKeyFrames, eCurveStyleKeyFrames, object->GetUID());
  for (const Vertex& vertex : object->GetVertices()) {
    for (int k = 0; k < vertex.GetNumKeys(); ++k) {
      int frame = 0;
      vertex.GetKey(k, &frame, nullptr);
      Notify(5, "TimelineBase::UpdateKeyframeCurve: key found at: %d", frame);
      curve.AddPoint(uint32_t(frame), 0.0);
    }
  }
  if (!curve.points.empty()) m_curves.push_back(std::move(curve));
  ResetZoomY();
  Redraw();
}

// ---- fitting the view

bool TimelineBase::GetCurvesBoundingRectangle(TimelineRect* rect) const {
  if (rect == nullptr || m_curves.empty()) {
    Notify(2, "TimelineBase::GetCurvesBoundingRectangle: rectangle NULL or empty curve list");
    return false;
  }
  uint32_t min_frame = 0xFFFFFFFFu, max_frame = 0;
  double min_value = std::numeric_limits<double>::max();
  double max_value = std::numeric_limits<double>::lowest();
  bool any = false;
  for (const TimelineCurve& curve : m_curves) {
    for (const TimelineCurvePoint& p : curve.points) {
      any = true;
      min_frame = std::min(min_frame, p.frame);
      max_frame = std::max(max_frame, p.frame);
      min_value = std::min(min_value, p.value);
      max_value = std::max(max_value, p.value);
    }
  }
  if (!any) {
    Notify(2, "TimelineBase::GetCurvesBoundingRectangle: can't get min/max");
    return false;
  }
  *rect = {double(min_frame), min_value, double(max_frame), max_value};
  return true;
}

void TimelineBase::ResetZoomX() {
  m_x0 = kAxisWidth;
  m_zoom_x = 50.0;
  const int width = GetWidth();
  TimelineRect r;
  const int n = NumImages();
  if (!m_curves.empty() && GetCurvesBoundingRectangle(&r) && r.frame1 - r.frame0 >= 0.01) {
    Notify(5, "TimelineBase::ResetZoomX: min: %f,%f, max: %f,%f", r.frame0, r.value0, r.frame1,
           r.value1);
    m_zoom_x = (width - kAxisWidth) / (r.frame1 - r.frame0) * 0.9;
    m_x0 = 51 - static_cast<int>(m_zoom_x * r.frame0);
  } else if (n > 0 && width > kAxisWidth) {
    const int first = m_controller->GetStartFrame();
    int count = m_controller->GetEndFrame() + 1 - first;
    if (count <= 0) count = n;
    m_zoom_x = double(width - kAxisWidth) / count;
    m_x0 = static_cast<int>(kAxisWidth - first * m_zoom_x) + 3;
  }
  Notify(5, "TimelineBase::ResetZoomX: zoom x %f, x0 %ld", m_zoom_x, long(m_x0));
  Redraw();
}

void TimelineBase::ResetZoomY() {
  const int height = GetHeight();
  m_y0 = height - kLabelBand;
  m_zoom_y = 1.0;
  TimelineRect r;
  if (!m_curves.empty() && GetCurvesBoundingRectangle(&r) && r.value1 - r.value0 >= 0.0) {
    double span = r.value1 - r.value0;
    if (span < 0.01) span = 1.0;
    if (m_compact) {
      m_zoom_y = 0.9 / span * 179.0;
      m_y0 = static_cast<int>(m_zoom_y * r.value0) + 174;
    } else {
      m_zoom_y = (height - kLabelBand) / span * 0.9;
      m_y0 = static_cast<int>(m_zoom_y * r.value0) - 5 + (height - kLabelBand);
    }
  } else {
    Notify(2, "TimelineBase::ResetZoomY: can't get bounding rectangle of current curves");
  }
  Redraw();
}

// ---- drawing

void TimelineBase::Repaint() {
  const int width = static_cast<int>(m_view.width);
  const int height = static_cast<int>(m_view.height);
  if (width <= 0 || height <= 0) return;
  m_painter.SetTarget(0, 0, width, height, m_view);
  m_painter.Clear(NumImages() > 0 ? m_colors.color : m_colors.background);
  CurveTransform();
  m_compact = height < kCompactHeight;
  for (size_t i = 0; i < m_curves.size(); ++i) {
    if (m_curves[i].IsVisible()) DrawCurve(m_curves[i], static_cast<int>(i));
  }
  if (m_compact && m_show_rmse_band) DrawCompactModeRMSE();
  DrawFrameMarks();
  DrawCurrentFrameMarker();
  DrawFrameAxis();
  if (!m_compact) DrawValueAxis();
  if (IsBandActive()) DrawRubberBand();
  CurveTransform();
}

void TimelineBase::VisibleFrames(double& first, double& last) {
  first = std::ceil(-m_x0 / m_zoom_x);
  last = std::min((double(m_view.width) - m_x0 - 1.0) / m_zoom_x, double(NumImages()));
}

void TimelineBase::GridStep(double first, double last, int& step, double& start) {
  // Callers make sure last > first, so the span is positive and bounded by the images.
  const long m = static_cast<long>(std::ceil(last) - first) / 30;
  step = static_cast<int>(m + 1);
  start = m >= 1 ? std::floor(first / step) * step : first;
}

void TimelineBase::DrawCurve(const TimelineCurve& curve, int index) {
  uint32_t colour = TimelineCurveColor(curve.ident);
  if (colour == 0 && curve.ident != eCurveVertexKeyFrames) {
    Notify(2, "TimelineBase::DrawCurve: unknown curve ident %d", curve.ident);
    colour = kUnknownCurveColor;
  }
  const uint32_t selection = DisplaySettings::Get().SlotColor(DS_SLOT_SELECTION);
  const double height = m_view.height;
  auto pixel_x = [&](double f) { return m_zoom_x * f + m_x0 - 0.5; };
  auto pixel_y = [&](double v) { return -m_zoom_y * v + m_y0 - 0.5; };

  if (m_compact) {
    if (curve.style != eCurveStyleKeyFrames) return;
    for (size_t j = 0; j < curve.points.size(); ++j) {
      const bool selected = IsSelected(index, static_cast<int>(j));
      OriginAt(pixel_x(curve.points[j].frame), 0.0);
      m_painter.FillRect(-5, 0, 10, height, kKeyFillColor);
      m_painter.DrawRect(-5, 0, 5, height, 1.0, selected ? selection : kKeyOutlineColor, 0, 0);
    }
    CurveTransform();
    return;
  }

  double first, last;
  VisibleFrames(first, last);
  // An empty (or reversed) window is not dense: no division by a frame count of 0.
  const double count = std::ceil(last) - first;
  const bool dense = count >= 1.0 && count <= m_view.width &&
                     static_cast<int>(m_view.width) / static_cast<int>(count) >= 20;

  CurveTransform();
  if (curve.style != eCurveStyleKeyFrames && curve.points.size() >= 2) {
    std::vector<PainterPoint> line;
    line.reserve(curve.points.size());
    for (const TimelineCurvePoint& p : curve.points) line.push_back({double(p.frame), p.value});
    m_painter.DrawPolyline(line.data(), static_cast<int>(line.size()), false, 1.5, colour, false);
  }

  // The key frames of a mask or line: a yellow outline of the object's frame range a few
  // pixels above the key row, so the user sees which frames the keys may move in.
  if (curve.ident == eCurveVertexKeyFrames) {
    if (VertexObject* object = FindVertexObject(curve.param)) {
      FramePixelTransform();
      const double f0 = object->GetStartIndex() - 0.01;
      const double f1 = object->GetEndIndex() + 0.01;
      const double y20 = pixel_y(0.0) - 20.0, y24 = pixel_y(0.0) - 24.0;
      m_painter.DrawLine(f0, y20, f1, y20, 1.0, kObjectRangeColor);
      m_painter.DrawLine(f0, y24, f1, y24, 1.0, kObjectRangeColor);
      m_painter.DrawLine(f0, y20, f0, y24, 1.0, kObjectRangeColor);
      m_painter.DrawLine(f1, y20, f1, y24, 1.0, kObjectRangeColor);
      CurveTransform();
    }
  }

  for (size_t j = 0; j < curve.points.size(); ++j) {
    const TimelineCurvePoint& p = curve.points[j];
    const bool selected = IsSelected(index, static_cast<int>(j));
    if (curve.style == eCurveStyleErrorBars) {
      m_painter.DrawLine(p.frame, p.value, p.frame, 0.0, 3.0,
                         TimelineRmseColor(p.value, RmseColorWidth()));
    }
    if (curve.style == eCurveStyleKeyFrames) {
      OriginAt(pixel_x(p.frame), pixel_y(p.value));
      m_painter.FillRect(-5, -50, 10, 50, kKeyFillColor);
      m_painter.DrawRect(-5, -50, 5, 0, 1.5, selected ? selection : kKeyOutlineColor, 0, 0);
      CurveTransform();
    } else if (selected || dense) {
      m_painter.FillCircle(p.frame, p.value, 2.0, selected ? selection : colour);
    }
  }
}

double TimelineBase::RmseColorWidth() {
  MetaCTracker* tracker = Tracker();
  // Without an image the scale is 1 (the 720-pixel reference).
  if (tracker == nullptr || tracker->GetImageList().empty() || !tracker->GetImageList()[0])
    return 720.0;
  return tracker->GetImageList()[0]->GetWidth();
}

void TimelineBase::DrawCompactModeRMSE() {
  Notify(5, "TimelineBase::Repaint: ---> DrawCompactModeRMSE() called");
  MetaCTracker* tracker = Tracker();
  if (tracker == nullptr || !tracker->HasCameraTrackingResult()) return;
  const int start = tracker->GetFrameStart(), end = tracker->GetFrameEnd();
  Notify(5, "TimelineBase::Repaint: ---> DrawCompactModeRMSE() start: %d end: %d", start, end);
  FramePixelTransform();
  const double y = double(m_view.height) - 2.0;
  const double image_width = RmseColorWidth();
  for (const SharedPtr<FeatureImage>& image : tracker->GetImageList()) {
    if (!image) continue;
    const int frame = image->GetImageIndex();
    if (frame < start || frame > end) continue;
    const double error = std::sqrt(std::max(image->GetMeanSquaredError(), 0.0));
    if (error > 0.0) {
      m_painter.DrawLine(frame, y, frame + 1.0, y, 4.0, TimelineRmseColor(error, image_width));
    }
  }
}

void TimelineBase::DrawFrameMarks() {
  MetaCTracker* tracker = Tracker();
  const double height = m_view.height;
  FramePixelTransform();
  if (tracker != nullptr) {
    for (int frame : tracker->GetImageCache()->GetCachedFrames()) {
      m_painter.FillRect(frame - 0.5, 0.0, 1.0, 10.0, kFrameMarkColor);
    }
    for (int frame : SolverKeyFrames(*tracker)) {
      m_painter.FillRect(frame - 0.5, 0.0, 1.0, 10.0, kMarkerColor);
    }
  }

  double first, last;
  VisibleFrames(first, last);
  if (last > first) {
    int step;
    double start;
    GridStep(first, last, step, start);
    for (double f = start; f < last; f += step) {
      if (f >= 0.0) m_painter.DrawLine(f, 0.0, f, height, 0.5, kGridColor);
    }
  }

  if (NumImages() > 0) {
    const double line = m_compact ? 1.5 : 2.5;
    const double size = m_compact ? 5.0 : 10.0;
    const double range[2] = {double(m_controller->GetStartFrame()),
                             double(m_controller->GetEndFrame())};
    for (double f : range) m_painter.DrawLine(f, 0.0, f, height, line, kRangeColor);
    const PainterPoint at_start[3] = {{0, 0}, {size, 0}, {0, size}};
    const PainterPoint at_end[3] = {{0, 0}, {-size, 0}, {0, size}};
    OriginAt(m_zoom_x * range[0] + m_x0 - 0.5, 0.0);
    m_painter.FillPolygon(at_start, 3, kRangeColor);
    OriginAt(m_zoom_x * range[1] + m_x0 - 0.5, 0.0);
    m_painter.FillPolygon(at_end, 3, kRangeColor);
  }
  CurveTransform();
}

void TimelineBase::DrawCurrentFrameMarker() {
  if (NumImages() <= 0) return;
  const double h = m_view.height;
  const double frame = m_controller->GetCurrentFrame();
  FramePixelTransform();
  m_painter.DrawLine(frame, 0.0, frame, h, m_compact ? 1.5 : 2.5, kMarkerColor);
  OriginAt(m_zoom_x * frame + m_x0 - 0.5, 0.0);
  if (m_compact) {
    const PainterPoint wedge[4] = {{-4, h}, {0, h - 5}, {1, h - 5}, {6, h}};
    m_painter.FillPolygon(wedge, 4, kMarkerColor);
  } else {
    const PainterPoint wedge[4] = {{-9, h - 21}, {0, h - 31}, {1, h - 31}, {11, h - 21}};
    m_painter.FillPolygon(wedge, 4, kMarkerColor);
  }
  CurveTransform();
}

void TimelineBase::DrawFrameAxis() {
  const double w = m_view.width, h = m_view.height;
  if (!m_compact) {
    PixelTransform();
    m_painter.FillRect(0, 0, kAxisWidth, h, m_background);
    m_painter.FillRect(0, h - kLabelBand, w, kLabelBand, m_background);
    m_painter.DrawLine(kAxisWidth, 0, kAxisWidth, h - kLabelBand, 2.0, kFrameMarkColor);
    m_painter.DrawLine(kAxisWidth, h - kLabelBand, w, h - kLabelBand, 2.0, kFrameMarkColor);
    CurveTransform();
  }
  double first, last;
  VisibleFrames(first, last);
  if (!(last > first)) return;
  int step;
  double start;
  GridStep(first, last, step, start);
  const double y = m_compact ? h - 12 : h - 22;
  char text[32];
  for (double f = start; f < last; f += step) {
    if (f < 0.0) continue;
    const double x = m_zoom_x * f + m_x0;
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(f));
    if (m_compact) {
      DrawText(x + 6, y - 5, text);
    } else if (x >= kAxisWidth) {
      DrawText(x, y, text);
    }
  }
}

void TimelineBase::DrawValueAxis() {
  if (m_curves.empty()) return;
  const double h = m_view.height;
  const double t0 = -m_y0 / m_zoom_y;
  const double t1 = (h - m_y0 - 1.0) / m_zoom_y;
  const double span = t1 - t0;

  double step = 10000.0;
  bool found = false;
  for (int n = 3; n >= -5 && !found; --n) {
    for (double m : {0.25, 0.5, 1.0}) {
      step = m / std::pow(10.0, n + 1);
      if (span / step < 10.0) {
        found = true;
        break;
      }
    }
  }
  const double magnitude = std::fabs(span);
  const char* format = magnitude < 0.01  ? "%.5f"
                       : magnitude < 0.1 ? "%.4f"
                       : magnitude < 1   ? "%.3f"
                       : magnitude < 10  ? "%.2f"
                       : magnitude < 100 ? "%.1f"
                                         : "%.0f";

  const TimelineCurve& head = m_curves.front();
  if (head.style == eCurveStyleKeyFrames) {
    if (head.param > 0) {
      if (VertexObject* object = FindVertexObject(head.param)) {
        DrawText(15, m_y0 - 30, object->GetName().substr(0, 31));
      }
    }
    return;
  }

  PainterTarget& t = m_painter.Target();
  t.offset_x = 0.0;
  t.scale_x = 1.0;
  t.offset_y = m_y0 - 0.5;
  t.scale_y = -m_zoom_y;
  char text[64];
  // Ticks at whole multiples of the step (no drift from repeated adding); at most one per
  // row, so a huge span cannot make the loop run away.
  const double k0 = std::floor(t0 / step);
  for (int k = 0; k <= static_cast<int>(h) + 1; ++k) {
    const double tick = (k0 + k) * step;
    if (!(tick < t1) || m_zoom_y * tick + m_y0 > h - kLabelBand) break;
    m_painter.DrawLine(kAxisWidth, -tick, kAxisWidth + 6, -tick, 0.5, kGridColor);
    const double value = tick == 0.0 ? 0.0 : -tick;
    std::snprintf(text, sizeof text, format, value);
    DrawText(15, m_zoom_y * tick + m_y0 - 10, text);
  }
  CurveTransform();
}

void TimelineBase::DrawRubberBand() {
  const TimelineRect& r = m_band_rect;
  auto px = [&](double f) { return m_zoom_x * f + m_x0 - 0.5; };
  auto py = [&](double v) { return -m_zoom_y * v + m_y0 - 0.5; };
  const double x0 = std::min(px(r.frame0), px(r.frame1)), x1 = std::max(px(r.frame0), px(r.frame1));
  const double y0 = std::min(py(r.value0), py(r.value1)), y1 = std::max(py(r.value0), py(r.value1));
  PixelTransform();
  if (r.frame1 != r.frame0 && r.value1 != r.value0) {
    m_painter.FillRect(x0, y0, x1 - x0, y1 - y0, 0x20303030);
  }
  m_painter.DrawRect(x0, y0, x1, y1, 1.0, 0xffffffff, 3, 0x5555);
  m_painter.DrawRect(x0, y0, x1, y1, 1.0, 0xff000000, 3, 0xaaaa);
  CurveTransform();
}

}  // namespace uic
