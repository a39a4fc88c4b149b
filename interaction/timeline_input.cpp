// The input side of the timeline: clicks, drags, releases, wheel steps and keys, the
// selection of curve points and the edits of mask key frames, and the controller's
// notifications.
#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/runtime/notify.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_point.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/timeline_base.h"
#include "interaction/undo_commands.h"
#include "interaction/undo_stack.h"
#include "tracking/objects/vertex_object.h"

namespace uic {

namespace {

constexpr double kZoomOut = 0.8910643389351172;
constexpr double kZoomIn = 1.12225341796875;
constexpr double kZoomMin = 1e-5;
constexpr double kZoomMax = 10000.0;

bool HasKeyAt(const VertexObject& object, int frame) {
  for (const Vertex& v : object.GetVertices()) {
    if (v.FindKeyIndex(frame) >= 0) return true;
  }
  return false;
}

// The frame nearest to `to` that a key at `from` reaches without landing on or passing
// another key of the object: moving onto a key would overwrite its positions.
int StopBeforeOtherKey(const VertexObject& object, int from, int to) {
  const int step = to > from ? 1 : -1;
  int frame = from;
  while (frame != to && !HasKeyAt(object, frame + step)) frame += step;
  return frame;
}

// One zoom step: the limits, then the snap to a whole number (or its reciprocal) when that
// lies within half a step, then the pan that keeps the centre pixel on the same place.
void ZoomStep(double factor, double& zoom, int& origin, int size) {
  const double old = zoom;
  double next = old * factor;
  if (next < kZoomMin || next > kZoomMax) return;
  const double snap = next >= 1.0 ? std::ceil(next - 0.5) : 1.0 / std::ceil(1.0 / next - 0.5);
  const double root = std::sqrt(factor);
  const double a = next * root, b = next / root;
  if (snap >= std::min(a, b) && snap <= std::max(a, b)) next = snap;
  const double d = (size / 2 - origin) / old * (next - old);
  origin -= static_cast<int>(std::lround(d));
  zoom = next;
}

}  // namespace

int TimelineBase::FrameFromX(int x) {
  const int n = NumImages();
  if (n <= 0) return -1;
  const double f = std::trunc((x - m_x0) / m_zoom_x + 0.5);
  return static_cast<int>(std::clamp(f, 0.0, double(n - 1)));
}

void TimelineBase::KeyPressEvent(int key) {
  if (key != m_key) m_key = key;
}

void TimelineBase::KeyReleaseEvent(int) {
  m_key = 0;
}

int TimelineBase::SelectKeyframes(TimelineRect r) {
  Notify(5, "TimelineBase::SelectKeyframes:");
  if (r.frame0 > r.frame1) std::swap(r.frame0, r.frame1);
  if (r.value0 > r.value1) std::swap(r.value0, r.value1);
  if (!m_curves.empty() && m_curves.front().style == eCurveStyleKeyFrames) {
    if (r.frame0 == r.frame1) {
      r.frame0 -= 5.0 / m_zoom_x;
      r.frame1 += 5.0 / m_zoom_x;
    }
    if (r.value0 == r.value1) {
      if (m_compact) {
        // A compact strip draws key marks over its full height: any row hits them.
        r.value0 = std::numeric_limits<double>::lowest();
        r.value1 = std::numeric_limits<double>::max();
      } else {
        // The mark stands 50 pixels above its point.
        r.value0 = r.value1 - 50.0 / m_zoom_y;
      }
    }
  } else {
    if (r.frame0 == r.frame1) {
      r.frame0 -= 4.0 / m_zoom_x;
      r.frame1 += 4.0 / m_zoom_x;
    }
    if (r.value0 == r.value1) {
      r.value0 -= 4.0 / m_zoom_y;
      r.value1 += 4.0 / m_zoom_y;
    }
  }
  for (size_t c = 0; c < m_curves.size(); ++c) {
    const std::vector<TimelineCurvePoint>& points = m_curves[c].points;
    for (size_t j = 0; j < points.size(); ++j) {
      const TimelineCurvePoint& p = points[j];
      if (!(r.frame0 < p.frame && p.frame < r.frame1 && r.value0 < p.value && p.value < r.value1))
        continue;
      const KeyRef key{static_cast<int>(c), static_cast<int>(j)};
      if (!m_selected_keys.erase(key)) m_selected_keys.insert(key);
    }
  }
  const int n = static_cast<int>(m_selected_keys.size());
  Notify(5, "TimelineBase::Select: %d keyframes selected", n);
  return n;
}

void TimelineBase::MouseClickEvent(int button, int x, int y) {
  Notify(5, "TimelineBase::MouseClickEvent coords %d %d button %c", x, y, '0' + button);
  m_last_x = static_cast<int16_t>(x);
  m_last_y = static_cast<int16_t>(y);
  m_button = static_cast<uint8_t>(button);
  if (button != 1) return;
  const double u = (x - m_x0) / m_zoom_x;
  const double v = -(y - m_y0) / m_zoom_y;
  m_band_rect = {u, v, u, v};
  if (IsCtrlDown()) {
    m_rubber_band.Init(x, -y, 0);
    m_band_active |= 1;
    return;
  }
  if (!IsShiftDown()) EmptySelection();
  if (SelectKeyframes(m_band_rect) == 0) {
    const int frame = FrameFromX(x);
    Notify(5, "TimelineBase::MouseClickEvent: controller -> setting frame %d", frame);
    m_controller->SetCurrentFrame(frame, false);
  }
  Redraw();
}

void TimelineBase::MouseDragEvent(int button, int x, int y) {
  m_drag_dx = static_cast<int16_t>(x - m_last_x);
  m_drag_dy = static_cast<int16_t>(y - m_last_y);
  m_last_x = static_cast<int16_t>(x);
  m_last_y = static_cast<int16_t>(y);

  if (button == 1 && !m_selected_keys.empty()) {
    const bool key_curves = !m_curves.empty() && m_curves.front().style == eCurveStyleKeyFrames;
    MetaCTracker* tracker = Tracker();
    const std::set<KeyRef> keys = m_selected_keys;  // notifications below may empty it
    for (const KeyRef& key : keys) {
      TimelineCurvePoint* point = SelectedPoint(key);
      if (point == nullptr) continue;
      if (!key_curves) {
        // Display only: nothing goes back to the tracker.
        point->value -= m_drag_dy / m_zoom_y;
        continue;
      }
      VertexObject* object = FindVertexObject(m_curves[size_t(key.first)].param);
      if (object == nullptr || tracker == nullptr) continue;
      const int from = static_cast<int>(point->frame);
      const double wanted = std::trunc((x - m_x0) / m_zoom_x + 0.5);
      const int first = m_controller->GetStartFrame(), last = m_controller->GetEndFrame();
      int target =
          static_cast<int>(std::clamp(wanted, double(first), double(std::max(first, last))));
      target = StopBeforeOtherKey(*object, from, target);
      Notify(5, "TimelineBase::MouseDragEvent: move curve coord. from %ld to %d", long(from),
             target);
      if (target != from && HasKeyAt(*object, from)) {
        // One undo step for the whole drag, recorded before its first change.
        if (!m_key_moved) PushCommand(new VertexObjectPoolCmd(&tracker->GetVertexObjectPool(), 1));
        if (object->MoveKeyframe(from, target) > 0) {
          m_key_moved = true;
          m_controller->SetModified(true);
        }
      }
      point->frame = static_cast<uint32_t>(target);
    }
    // Told once the points are done: a receiver may change the selection, which rebuilds
    // the curves and empties the set the loop above walks.
    if (m_key_moved) {
      m_controller->UpdateViewers();
      m_controller->EmitObjectPoolChanged();
    }
    Redraw();
    return;
  }
  if (button == 1 && IsCtrlDown()) {
    m_band_rect.frame1 = (x - m_x0) / m_zoom_x;
    m_band_rect.value1 = -(y - m_y0) / m_zoom_y;
    m_rubber_band.Update(x, -y);
    RedrawRect(m_rubber_band, 1);
    return;
  }
  if (button == 1) {
    m_controller->SetCurrentFrame(FrameFromX(x), false);
    Redraw();
    return;
  }
  if (button == 2 && (m_drag_dx != 0 || m_drag_dy != 0)) {
    m_x0 += m_drag_dx;
    m_y0 += m_drag_dy;
    Redraw();
  }
}

void TimelineBase::MouseReleaseEvent(int button, int x, int y) {
  m_button = 0;
  m_last_x = static_cast<int16_t>(x);
  m_last_y = static_cast<int16_t>(y);
  if (m_key_moved && !m_curves.empty() && m_curves.front().style == eCurveStyleKeyFrames) {
    Notify(5, "TimelineBase::MouseReleaseEvent: key moved");
  }
  m_key_moved = false;  // the next drag records its own undo step
  if (button != 1 || !IsCtrlDown()) return;
  m_band_rect.frame1 = (x - m_x0) / m_zoom_x;
  m_band_rect.value1 = -(y - m_y0) / m_zoom_y;
  m_rubber_band.Update(x, -y);
  m_band_active &= ~1;
  RedrawRect(m_rubber_band, 1);
  if (!IsShiftDown()) EmptySelection();
  if (SelectKeyframes(m_band_rect) > 0) Redraw();
}

void TimelineBase::MouseWheelEvent(int step, int, int) {
  m_button = static_cast<uint8_t>(step);
  double factor;
  if (step == 4) {
    factor = kZoomOut;
  } else if (step == 5) {
    factor = kZoomIn;
  } else {
    return;
  }
  if (IsShiftDown()) {
    ZoomY(factor);
  } else {
    ZoomX(factor);
  }
  Redraw();
}

void TimelineBase::ZoomX(double factor) {
  ZoomStep(factor, m_zoom_x, m_x0, GetWidth());
}

void TimelineBase::ZoomY(double factor) {
  ZoomStep(factor, m_zoom_y, m_y0, GetHeight());
}

void TimelineBase::RemoveSelectedKeyframes() {
  Notify(5, "TimelineBase::RemoveSelectedKeyframes: %d keyframes",
         static_cast<int>(m_selected_keys.size()));
  if (m_curves.empty() || m_curves.front().style != eCurveStyleKeyFrames) return;
  MetaCTracker* tracker = Tracker();
  if (tracker == nullptr) return;
  // Collect first: the undo record below copies the pool, and the removal must not read
  // points through a selection that a rebuild has emptied.
  std::vector<std::pair<int, int>> keys;  // (object id, frame)
  for (const KeyRef& key : m_selected_keys) {
    const TimelineCurvePoint* point = SelectedPoint(key);
    if (point != nullptr) keys.push_back({m_curves[size_t(key.first)].param, int(point->frame)});
  }
  bool recorded = false, removed = false;
  for (const auto& [uid, frame] : keys) {
    VertexObject* object = FindVertexObject(uid);
    if (object == nullptr || !HasKeyAt(*object, frame)) continue;
    if (!recorded) {
      PushCommand(new VertexObjectPoolCmd(&tracker->GetVertexObjectPool(), 2));
      recorded = true;
      object = FindVertexObject(uid);
      if (object == nullptr) continue;
    }
    removed |= object->RemoveKeyframe(frame) > 0;
  }
  if (!removed) return;
  m_controller->SetModified(true);
  UpdateKeyframeCurve();
  m_controller->UpdateViewers();
  m_controller->EmitObjectPoolChanged();
}

void TimelineBase::ToggleCurve(int ident) {
  Notify(5, "TimelineBase::ToggleCurve: toggle curve handler called - curve ident: %d", ident);
  for (TimelineCurve& curve : m_curves) {
    if (curve.ident != ident) continue;
    Notify(5, "TimelineBase::ToggleCurve: found curve - toggling visibility");
    curve.flags ^= TimelineCurve::kVisible;
  }
  Redraw();
}

void TimelineBase::ResetZoom() {
  ResetZoomX();
  ResetZoomY();
}

void TimelineBase::HandleSelectionChanged() {
  Notify(5, "TimelineBase::HandleSelectionChanged: called");
  UIDRegistry& registry = UIDRegistry::Instance();
  std::vector<UIDBase*> features;
  if (registry.CollectSelected(features, UID_TYPE_FEATURE_POINT_2D, UID_TYPE_FEATURE_POINT_2D)) {
    std::vector<FeaturePoint2D*> list;
    for (UIDBase* o : features) {
      if (auto* f = dynamic_cast<FeaturePoint2D*>(o)) list.push_back(f);
    }
    UpdateFPoint2DCurve(list);
    return;
  }
  std::vector<UIDBase*> points;
  if (registry.CollectSelected(points, UID_TYPE_FEATURE_POINT_3D, UID_TYPE_FEATURE_POINT_3D)) {
    std::vector<FeaturePoint3D*> list;
    for (UIDBase* o : points) {
      if (auto* p = dynamic_cast<FeaturePoint3D*>(o)) list.push_back(p);
    }
    UpdateFPoint3DCurve(list);
    return;
  }
  std::vector<UIDBase*> objects, vertices;
  const int num_objects =
      registry.CollectSelected(objects, UID_TYPE_VERTEX_OBJECT, UID_TYPE_VERTEX_OBJECT);
  const int num_vertices = registry.CollectSelected(vertices, UID_TYPE_VERTEX, UID_TYPE_VERTEX);
  if (num_objects == 1 || num_vertices > 0) {
    UpdateKeyframeCurve();
    return;
  }
  std::vector<UIDBase*> any, type30;
  const int num_any = registry.CollectSelected(any, 1, 39);
  const int num_type30 = registry.CollectSelected(type30, 30, 30);
  if (num_any == 0 || num_type30 == 1) {
    ClearCurves();
    Redraw();
  }
}

void TimelineBase::RebuildCurves() {
  if (m_curves.empty()) return;
  const int ident = m_curves.front().ident;
  int group = ident;
  if (ident >= eCurveGroupCameraCentre && ident <= eCurveCameraZ) group = eCurveGroupCameraCentre;
  if (ident >= eCurveGroupCameraAngles && ident <= eCurveRoll) group = eCurveGroupCameraAngles;
  UpdateCurves(group);
}

void TimelineBase::HandleGlobalDataChanged() {
  Notify(5, "TimelineBase::HandleGlobalDataChanged: called");
  RebuildCurves();
  Redraw();
}

}  // namespace uic
