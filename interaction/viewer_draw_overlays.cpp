// What tracking knows about the current frame, drawn over it: feature markers coloured by
// state with their track histories and error ellipses, anchors with their residuals and
// paths, and the lines from features to their projected 3D points.
#include <cmath>
#include <numbers>

#include "foundation/runtime/notify.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_mapper.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/viewer_base.h"
#include "scene/display_settings.h"

namespace uic {

namespace {

constexpr uint32_t kSupportedLink = 0x01 | 0x20 | 0x40;
constexpr uint32_t kDimmed = 0x26FFFFFFu;
constexpr uint32_t kHalfAlpha = 0x80FFFFFFu;
constexpr double kOverlayWidth = 1.5;

bool Supported(const SharedPtr<FeatureCorrespondence>& link) {
  return link && (link->GetFlags() & kSupportedLink) != 0;
}

bool IsSelected(const UIDBase& object) {
  return (object.GetUIDFlags() & UID_FLAG_SELECTED) != 0;
}

bool LacksLivePoint(const FeaturePoint2D& f) {
  const SharedPtr<FeaturePoint3D>& p = f.GetFPoint3D();
  return !p || p->TestFlags(FP3D_FLAG_REMOVED);
}

bool AnyFeatureSelected() {
  std::vector<UIDBase*> selected;
  return UIDRegistry::Instance().CollectSelected(selected, UID_TYPE_FEATURE_POINT_2D,
                                                 UID_TYPE_FEATURE_POINT_2D) > 0;
}

// The point as a world position: a direction point 10 focal lengths (mm) from the camera.
vm::Vector3 CartesianPoint(const FeaturePoint3D& p, const PerspectiveCamera& camera) {
  if (p.GetCS() == FeaturePoint3D::eCartesian) return vm::Vector3{p.x, p.y, p.z};
  return camera.GetC() + SphericalDirection(p.x, p.y) * (10.0 * camera.GetFocalLength());
}

// The pixel of world point x in camera when it lies in front of it.
bool ProjectVisible(const PerspectiveCamera& camera, const vm::Vector3& x, bool inside,
                    PainterPoint& out) {
  double depth = 0.0;
  return camera.ProjectPoint(x, out.x, out.y, depth, inside) && depth > 0.0;
}

}  // namespace

bool ViewerBase::HasLive3DPoint(const FeatureImage::FeatureList& list) {
  for (const SharedPtr<FeaturePoint2D>& f : list) {
    if (f && !LacksLivePoint(*f)) return true;
  }
  return false;
}

PainterPoint ViewerBase::ShownPosition(const FeatureImage* image, double x, double y) const {
  PainterPoint p{x, y};
  const bool undistort = !m_states.empty() && (m_states.back().m_flags & eShowUndistorted) != 0;
  if (!undistort || image == nullptr || !m_results_readable) return p;
  image->Undistort(x, y, p.x, p.y, false);
  return p;
}

PainterPoint ViewerBase::ShownPosition(const FeaturePoint2D& f) const {
  return ShownPosition(f.GetImage(), f.x, f.y);
}

void ViewerBase::DrawPolyline(const std::vector<vm::Vector3>& points, bool closed, double width,
                              uint32_t colour) {
  if (points.size() < 2) return;
  std::vector<PainterPoint> xy;
  xy.reserve(points.size());
  for (const vm::Vector3& p : points) xy.push_back({p.x, p.y});
  m_painter.DrawPolyline(xy.data(), int(xy.size()), closed, width, colour, true);
}

void ViewerBase::DrawCornerBrackets(double x, double y, double c, double width, uint32_t colour) {
  // Sizes are view pixels: the arms go through the mapping's scale.
  const PainterTarget& t = m_painter.Target();
  const double cx = c / t.scale_x, cy = c / t.scale_y;
  for (int sx = -1; sx <= 1; sx += 2) {
    for (int sy = -1; sy <= 1; sy += 2) {
      const double px = x + sx * cx, py = y + sy * cy;
      m_painter.DrawLine(px, py, x + sx * cx / 2, py, width, colour);
      m_painter.DrawLine(px, py, px, y + sy * cy / 2, width, colour);
    }
  }
}

void ViewerBase::DrawDiamond(double x, double y, double c, double width, uint32_t colour) {
  const PainterTarget& t = m_painter.Target();
  const double cx = c / t.scale_x, cy = c / t.scale_y;
  const PainterPoint p[4] = {{x, y - cy}, {x + cx, y}, {x, y + cy}, {x - cx, y}};
  m_painter.DrawPolyline(p, 4, true, width, colour, false);
}

void ViewerBase::DrawFeatureMarker(double width, const FeaturePoint2D& f, uint32_t colour) {
  const PainterPoint at = ShownPosition(f);
  if (f.TestFlags(FP2D_FLAG_MANUAL)) {
    if (!f.TestFlags(FP2D_FLAG_CLICKED_FRAME)) colour &= kHalfAlpha;
    DrawCornerBrackets(at.x, at.y, 6.0, width, colour);
  }
  DrawMarker(at.x, at.y, 5.0, 5.0, width, colour);
}

void ViewerBase::DrawAnchorMarker(double width, const FeaturePoint2D& f, uint32_t colour) {
  if (!f.TestFlags(FP2D_FLAG_CLICKED_FRAME)) colour &= kHalfAlpha;
  const PainterPoint at = ShownPosition(f);
  DrawMarker(at.x, at.y, 4.0, 4.0, width, colour);
  DrawDiamond(at.x, at.y, 7.0, width, colour);
}

void ViewerBase::DrawTrackPolyline(const FeaturePoint2D& f, int back, int forward, double width,
                                   uint32_t colour) {
  std::vector<PainterPoint> before, path;
  const FeaturePoint2D* p = &f;
  for (int i = 0; i < back && p->GetPredecessor() && p->GetPredecessor()->GetFirst(); ++i) {
    p = p->GetPredecessor()->GetFirst().Get();
    before.push_back(ShownPosition(*p));
  }
  path.assign(before.rbegin(), before.rend());
  path.push_back(ShownPosition(f));
  p = &f;
  for (int i = 0; i < forward && p->GetSuccessor() && p->GetSuccessor()->GetSecond(); ++i) {
    p = p->GetSuccessor()->GetSecond().Get();
    path.push_back(ShownPosition(*p));
  }
  if (path.size() >= 2) {
    m_painter.DrawPolyline(path.data(), int(path.size()), false, width, colour, true);
  }
}

void ViewerBase::DrawTrackSegments(const FeaturePoint2D& f, int back, int forward, double width,
                                   uint32_t supported, uint32_t other) {
  const FeaturePoint2D* p = &f;
  for (int i = 0; i < forward && p->GetSuccessor() && p->GetSuccessor()->GetSecond(); ++i) {
    const FeaturePoint2D* q = p->GetSuccessor()->GetSecond().Get();
    const PainterPoint a = ShownPosition(*p), b = ShownPosition(*q);
    m_painter.DrawLine(a.x, a.y, b.x, b.y, width, Supported(p->GetSuccessor()) ? supported : other);
    p = q;
  }
  p = &f;
  for (int i = 0; i < back && p->GetPredecessor() && p->GetPredecessor()->GetFirst(); ++i) {
    const FeaturePoint2D* q = p->GetPredecessor()->GetFirst().Get();
    const PainterPoint a = ShownPosition(*p), b = ShownPosition(*q);
    m_painter.DrawLine(a.x, a.y, b.x, b.y, width,
                       Supported(p->GetPredecessor()) ? supported : other);
    p = q;
  }
}

void ViewerBase::DrawErrorEllipse(const FeaturePoint2D& f, double width, uint32_t colour) {
  if (f.TestFlags(FP2D_FLAG_MANUAL)) return;
  const Matrix2x2 e = f.GetErrorEllipseAxes();
  const double s = DisplaySettings::Get().marker_circle_radius;
  const PainterPoint at = ShownPosition(f);
  PainterPoint p[10];
  for (int k = 0; k < 10; ++k) {
    const double a = k * 2.0 * std::numbers::pi / 10.0;
    const double u = s * std::cos(a), v = s * std::sin(a);
    p[k] = {at.x + e[0][0] * u + e[0][1] * v, at.y + e[1][0] * u + e[1][1] * v};
  }
  m_painter.DrawPolyline(p, 10, true, width, colour, true);
}

void ViewerBase::DrawAnchorPath(const FeaturePoint2D& anchor, int back, int forward, double width,
                                uint32_t colour) {
  std::vector<PainterPoint> before, path;
  const auto add = [this](const FeaturePoint2D& a, std::vector<PainterPoint>& out) {
    const FeatureImage* image = a.GetImage();
    const SharedPtr<FeaturePoint3D>& point = a.GetFPoint3D();
    PainterPoint q;
    if (image != nullptr && point &&
        ProjectVisible(*image, CartesianPoint(*point, *image), false, q))
      out.push_back(ShownPosition(image, q.x, q.y));
  };
  const FeaturePoint2D* p = &anchor;
  for (int i = 0; i < back && p->GetPredecessor() && p->GetPredecessor()->GetFirst(); ++i) {
    p = p->GetPredecessor()->GetFirst().Get();
    add(*p, before);
  }
  path.assign(before.rbegin(), before.rend());
  add(anchor, path);
  p = &anchor;
  for (int i = 0; i < forward && p->GetSuccessor() && p->GetSuccessor()->GetSecond(); ++i) {
    p = p->GetSuccessor()->GetSecond().Get();
    add(*p, path);
  }
  if (path.size() >= 2) {
    m_painter.DrawPolyline(path.data(), int(path.size()), false, width, colour, true);
  }
}

void ViewerBase::DrawAnchorResidual(const FeaturePoint2D& anchor, double width, uint32_t colour) {
  const FeatureImage* image = anchor.GetImage();
  const SharedPtr<FeaturePoint3D>& point = anchor.GetFPoint3D();
  PainterPoint q;
  if (image == nullptr || !point ||
      !ProjectVisible(*image, CartesianPoint(*point, *image), true, q))
    return;
  const PainterPoint at = ShownPosition(anchor), shown = ShownPosition(image, q.x, q.y);
  m_painter.DrawLine(at.x, at.y, shown.x, shown.y, width, colour);
}

void ViewerBase::DrawFPoints() {
  if (!m_image) return;
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::DrawFPoints: tracking manager not set!");
    return;
  }
  const ViewerState* state = CurrentState();
  if (state == nullptr) return;
  const DisplaySettings& ds = DisplaySettings::Get();
  const uint32_t alone = ds.SlotColor(DS_SLOT_FEATURE_ALONE);
  const uint32_t tracked = ds.SlotColor(DS_SLOT_FEATURE_TRACKED);
  const uint32_t unsupported = ds.SlotColor(DS_SLOT_FEATURE_UNSUPPORTED);
  const uint32_t no_point = ds.SlotColor(DS_SLOT_FEATURE_NO_POINT);
  const uint32_t selected = ds.SlotColor(DS_SLOT_SELECTION);
  const uint32_t track = ds.SlotColor(DS_SLOT_TRACK);
  const uint32_t track_other = ds.SlotColor(DS_SLOT_TRACK_UNSUPPORTED);
  const int flags = state->m_flags;
  const FeatureImage::FeatureList& list = m_image->GetFPoints2D();
  const bool mark3d = tracker->GetFeatureMap() && HasLive3DPoint(list);
  const bool dim = AnyFeatureSelected();

  for (const SharedPtr<FeaturePoint2D>& fp : list) {
    if (!fp) continue;
    const FeaturePoint2D& f = *fp;
    const bool user = f.TestFlags(FP2D_FLAG_MANUAL);
    if ((flags & (user ? eShowUserFeatures : eShowAutoFeatures)) == 0) continue;
    uint32_t colour = alone;
    if (f.GetPredecessor() || f.GetSuccessor()) {
      colour = Supported(f.GetPredecessor()) || Supported(f.GetSuccessor()) ? tracked : unsupported;
    }
    if (mark3d && LacksLivePoint(f)) colour = no_point;
    const bool is_selected = IsSelected(f);
    if (is_selected) colour = selected;
    if ((flags & eShowHistory) != 0) {
      const uint32_t mask = dim && !is_selected ? kDimmed : 0xFFFFFFFFu;
      const uint32_t a = track & mask, b = track_other & mask;
      if (a == b) {
        DrawTrackPolyline(f, state->m_history_before, state->m_history_after, kOverlayWidth, a);
      } else {
        DrawTrackSegments(f, state->m_history_before, state->m_history_after, kOverlayWidth, a, b);
      }
    }
    DrawFeatureMarker(kOverlayWidth, f, colour);
    if ((flags & eShowEllipses) != 0) DrawErrorEllipse(f, kOverlayWidth, colour);
  }
}

void ViewerBase::DrawAnchors() {
  if (!m_image) return;
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::DrawAnchors: tracking manager not set!");
    return;
  }
  const ViewerState* state = CurrentState();
  if (state == nullptr) return;
  const DisplaySettings& ds = DisplaySettings::Get();
  const uint32_t tracked = ds.SlotColor(DS_SLOT_FEATURE_TRACKED);
  const uint32_t unsupported = ds.SlotColor(DS_SLOT_FEATURE_UNSUPPORTED);
  const uint32_t no_point = ds.SlotColor(DS_SLOT_FEATURE_NO_POINT);
  const uint32_t selected = ds.SlotColor(DS_SLOT_SELECTION);
  const uint32_t path = ds.SlotColor(DS_SLOT_TRACK);
  const uint32_t residual = ds.SlotColor(DS_SLOT_POINT_IN_IMAGE);
  const FeatureImage::FeatureList& list = m_image->GetAnchors();
  const bool mark3d = tracker->GetFeatureMap() && HasLive3DPoint(list);
  const bool dim = AnyFeatureSelected();

  for (const SharedPtr<FeaturePoint2D>& ap : list) {
    if (!ap) continue;
    const FeaturePoint2D& a = *ap;
    uint32_t colour = a.TestFlags(FP2D_FLAG_CLICKED_FRAME) ? tracked : unsupported;
    if (mark3d && LacksLivePoint(a)) colour = no_point;
    const bool is_selected = IsSelected(a);
    if (is_selected) colour = selected;
    if ((state->m_flags & eShowHistory) != 0) {
      DrawAnchorResidual(a, kOverlayWidth, residual);
      DrawAnchorPath(a, state->m_history_before, state->m_history_after, kOverlayWidth,
                     dim && !is_selected ? path & kDimmed : path);
    }
    DrawAnchorMarker(kOverlayWidth, a, colour);
  }
}

void ViewerBase::DrawPoints3D(bool dots, bool lines) {
  if (!dots && !lines) return;
  if (!m_image) {
    Notify(2, "ViewerBase::DrawPoints3D: feature image not set");
    return;
  }
  const DisplaySettings& ds = DisplaySettings::Get();
  const uint32_t dot = ds.SlotColor(DS_SLOT_POINT_SEEN);
  const uint32_t line = ds.SlotColor(DS_SLOT_POINT_IN_IMAGE);
  const uint32_t removed_line = ds.SlotColor(DS_SLOT_POINT_REMOVED);
  const PerspectiveCamera& camera = *m_image;
  for (const SharedPtr<FeaturePoint2D>& fp : m_image->GetFPoints2D()) {
    if (!fp || !fp->GetFPoint3D()) continue;
    const FeaturePoint3D& point = *fp->GetFPoint3D();
    const bool removed = point.TestFlags(FP3D_FLAG_REMOVED);
    PainterPoint q;
    if (!ProjectVisible(camera, CartesianPoint(point, camera), false, q)) continue;
    q = ShownPosition(m_image.Get(), q.x, q.y);
    if (dots) DrawDot(q.x, q.y, 2.0, removed ? dot & 0x40FFFFFFu : dot);
    if (lines) {
      const PainterPoint at = ShownPosition(*fp);
      m_painter.DrawLine(q.x, q.y, at.x, at.y, kOverlayWidth, removed ? removed_line : line);
    }
  }
}

}  // namespace uic
