// Selecting by click, rectangle, circle and lasso: the pickers of each kind of selectable
// thing (2D features, mask, line and focal-gizmo vertices, the scene's elements), the hit
// tests of the press, and the lock-view anchor taken from a selection.
#include <cmath>
#include <limits>
#include <map>

#include "foundation/runtime/notify.h"
#include "foundation/runtime/uid_registry.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/viewer_base.h"
#include "scene/objects/nhs_object_handle.h"
#include "scene/objects/nhs_object_scene.h"
#include "scene/render/selection_render.h"
#include "scene/scene.h"
#include "tracking/objects/point_in_polygon.h"
#include "tracking/objects/vertex_object_pool.h"

namespace uic {

namespace {

// Flag 8 of a 2D feature: placed by the user, not found by the tracker.
constexpr uint32_t kUserFeature = 0x08;

bool StrictlyInside(const double r[4], double x, double y) {
  return x > r[0] && x < r[2] && y > r[1] && y < r[3];
}

bool IsPointRect(const double rect[4]) {
  return rect[0] == rect[2] && rect[1] == rect[3];
}

double SquaredDistance(double ax, double ay, double bx, double by) {
  return (ax - bx) * (ax - bx) + (ay - by) * (ay - by);
}

// The margin a selection repaints around its band, in view pixels.
int SelectionMargin(double zoom) {
  const double z = zoom == 0.0 ? 1.0 : zoom;
  return static_cast<int>(z * 5.5 + 1.0);
}

// A vertex found by a picker, with its owner (null for a point being drawn) and its
// position as compared.
struct VertexHit {
  Vertex* vertex;
  VertexObject* owner;
  double x, y;
};

}  // namespace

int ViewerBase::CurrentImageIndex() const {
  return m_image ? m_image->GetImageIndex() : m_controller->GetCurrentFrame();
}

double ViewerBase::ViewToImageX(int x) const {
  return (x - m_offset_x + 0.5) / (m_zoom * m_aspect_scale) - 0.5;
}

double ViewerBase::ViewToImageY(int y) const {
  return (y - m_offset_y + 0.5) / m_zoom - 0.5;
}

bool ViewerBase::UndistortedDisplay() {
  const ViewerState* state = CurrentState();
  return state != nullptr && (state->m_flags & eShowUndistorted) != 0 && m_image;
}

void ViewerBase::ToDisplayed(double& x, double& y) {
  if (!UndistortedDisplay()) return;
  double xo = x, yo = y;
  m_image->Undistort(x, y, xo, yo, false);
  x = xo;
  y = yo;
}

void ViewerBase::ToStored(double& x, double& y) {
  if (!UndistortedDisplay()) return;
  double xo = x, yo = y;
  m_image->Distort(x, y, xo, yo, false);
  x = xo;
  y = yo;
}

// ---- 2D features

std::vector<FeaturePoint2D*> ViewerBase::Find2DFeatures(const double rect[4], bool shown_only) {
  std::vector<FeaturePoint2D*> found;
  const ViewerState* state = CurrentState();
  if (!m_image || (shown_only && state == nullptr)) return found;
  const int flags = state ? state->m_flags : 0;
  double r[4];
  NormalizeSelectionRect(r, rect);
  auto take = [&](const FeatureImage::FeatureList& list, bool anchors) {
    for (const SharedPtr<FeaturePoint2D>& f : list) {
      if (!f) continue;
      if (shown_only) {
        const int bit = anchors                      ? eShowAnchors
                        : f->TestFlags(kUserFeature) ? eShowUserFeatures
                                                     : eShowAutoFeatures;
        if ((flags & bit) == 0) continue;
      }
      double x = f->x, y = f->y;
      ToDisplayed(x, y);
      if (StrictlyInside(r, x, y)) found.push_back(f.Get());
    }
  };
  take(m_image->GetFPoints2D(), false);
  take(m_image->GetAnchors(), true);
  if (IsPointRect(rect) && found.size() > 1) {
    FeaturePoint2D* nearest = found[0];
    double best = std::numeric_limits<double>::infinity();
    for (FeaturePoint2D* f : found) {
      double x = f->x, y = f->y;
      ToDisplayed(x, y);
      const double d = SquaredDistance(x, y, rect[0], rect[1]);
      if (d < best) {
        best = d;
        nearest = f;
      }
    }
    found.assign(1, nearest);
  }
  return found;
}

int ViewerBase::Get2DFeaturesWithinRectangle(std::vector<UIDBase*>* out, const double rect[4]) {
  const std::vector<FeaturePoint2D*> found = Find2DFeatures(rect, false);
  if (out != nullptr) out->insert(out->end(), found.begin(), found.end());
  return static_cast<int>(found.size());
}

int ViewerBase::Select2DFeaturesInRectangle(const double rect[4], bool select) {
  const std::vector<FeaturePoint2D*> found = Find2DFeatures(rect, true);
  if (select) {
    for (FeaturePoint2D* f : found) UIDRegistry::Instance().SetSelected(f->GetUID(), true);
  }
  return static_cast<int>(found.size());
}

int ViewerBase::Select2DFeaturesInCircle(double x, double y, double radius) {
  const ViewerState* state = CurrentState();
  if (!m_image || state == nullptr) return 0;
  UIDRegistry& registry = UIDRegistry::Instance();
  const bool deselect = IsShiftDown();
  bool changed = false;
  auto brush = [&](const FeatureImage::FeatureList& list, bool anchors) {
    for (const SharedPtr<FeaturePoint2D>& f : list) {
      if (!f) continue;
      const int bit = anchors                      ? eShowAnchors
                      : f->TestFlags(kUserFeature) ? eShowUserFeatures
                                                   : eShowAutoFeatures;
      if ((state->m_flags & bit) == 0) continue;
      double fx = f->x, fy = f->y;
      ToDisplayed(fx, fy);
      if (!(SquaredDistance(fx, fy, x, y) < radius * radius)) continue;
      const bool selected = registry.IsSelected(f->GetUID());
      if (selected == !deselect) continue;
      registry.SetSelected(f->GetUID(), !deselect);
      changed = true;
    }
  };
  brush(m_image->GetFPoints2D(), false);
  brush(m_image->GetAnchors(), true);
  if (changed) m_controller->EmitSelectionChanged();
  std::vector<UIDBase*> selected;
  return registry.CollectSelected(selected, UID_TYPE_FEATURE_POINT_2D, UID_TYPE_FEATURE_POINT_2D);
}

int ViewerBase::Select2DFeaturesInLasso(const std::vector<vm::Vector2>& polygon, bool select) {
  const ViewerState* state = CurrentState();
  if (!m_image || state == nullptr || (state->m_flags & eShowAutoFeatures) == 0) return 0;
  int count = 0;
  for (const SharedPtr<FeaturePoint2D>& f : m_image->GetFPoints2D()) {
    if (!f || f->TestFlags(kUserFeature)) continue;
    double x = f->x, y = f->y;
    ToDisplayed(x, y);
    const double vx = (x + 0.5) * m_zoom * m_aspect_scale - 0.5 + m_offset_x - m_centre_x;
    const double vy = (y + 0.5) * m_zoom - 0.5 + m_offset_y - m_centre_y;
    if (!IsPointInPolygon(polygon, vx, vy)) continue;
    if (select) UIDRegistry::Instance().SetSelected(f->GetUID(), true);
    ++count;
  }
  return count;
}

// ---- vertices of masks, lines and focal gizmos

int ViewerBase::CollectVertices(std::vector<UIDBase*>* out, const double rect[4], int kind) {
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (!m_image || tracker == nullptr) return 0;
  VertexObjectPool& pool = tracker->GetVertexObjectPool();
  const int frame = CurrentImageIndex();
  double r[4];
  NormalizeSelectionRect(r, rect);
  const bool mask = kind == 0, line = kind == 1;
  const bool drawing =
      (mask && (m_interaction & kInteractionMask)) || (line && (m_interaction & kInteractionLine));
  std::vector<VertexHit> hits;

  // The points being drawn have one key each.
  std::vector<Vertex>* drawn = mask ? &m_mask_points : line ? &m_line_points : nullptr;
  if (drawn != nullptr) {
    for (Vertex& v : *drawn) {
      vm::Vector3 p;
      if (v.GetValue(&p, 0) < 0) continue;
      ToDisplayed(p.x, p.y);
      if (StrictlyInside(r, p.x, p.y)) hits.push_back({&v, nullptr, p.x, p.y});
    }
  }
  std::vector<VertexObject*> objects;
  if (mask) {
    for (PolygonMask& m : pool.GetPolygonMasks()) objects.push_back(&m);
  } else if (line) {
    for (LineStrip& l : pool.GetLineStrips()) objects.push_back(&l);
  } else {
    for (FocalGizmo& g : pool.GetFocalGizmos()) objects.push_back(&g);
  }
  if (!drawing) {
    for (VertexObject* object : objects) {
      for (Vertex& v : object->GetVertices()) {
        vm::Vector3 p;
        if (!object->GetVertexPosition(&p, &v, unsigned(frame))) continue;
        ToDisplayed(p.x, p.y);
        if (StrictlyInside(r, p.x, p.y)) hits.push_back({&v, object, p.x, p.y});
      }
    }
  }
  if (IsPointRect(rect) && hits.size() > 1) {
    const VertexHit* nearest = nullptr;
    double best = std::numeric_limits<double>::infinity();
    for (const VertexHit& h : hits) {
      if (h.owner == nullptr || !h.owner->IsActiveAt(unsigned(frame))) continue;
      const double d = SquaredDistance(h.x, h.y, rect[0], rect[1]);
      if (d < best) {
        best = d;
        nearest = &h;
      }
    }
    std::vector<VertexHit> kept;
    if (nearest != nullptr) kept.push_back(*nearest);
    hits.swap(kept);
  }
  if (hits.empty() && !drawing && (mask || line)) {
    // The whole object under the click; masks and lines are stored as loaded, so the
    // click goes back through the lens model when the display is undistorted.
    double cx = rect[0], cy = rect[1];
    ToStored(cx, cy);
    VertexObject* chosen = nullptr;
    double best = mask ? std::numeric_limits<double>::infinity() : 10.0;
    for (VertexObject* object : objects) {
      if (mask) {
        if (!object->IsInside(cx, cy, frame)) continue;
        std::vector<vm::Vector3> p;
        if (object->GetVertexPositions(p, unsigned(frame)) == 0) continue;
        double x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
        for (const vm::Vector3& q : p) {
          x0 = std::min(x0, q.x);
          x1 = std::max(x1, q.x);
          y0 = std::min(y0, q.y);
          y1 = std::max(y1, q.y);
        }
        const double area = (x1 - x0) * (y1 - y0);
        if (area < best) {
          best = area;
          chosen = object;
        }
      } else {
        if (!object->IsActiveAt(unsigned(frame))) continue;
        const double d = object->GetDistanceToPolyline(cx, cy, frame);
        if (d < best) {
          best = d;
          chosen = object;
        }
      }
    }
    if (chosen != nullptr) {
      for (Vertex& v : chosen->GetVertices()) hits.push_back({&v, chosen, 0.0, 0.0});
    }
  }
  if (out != nullptr) {
    for (const VertexHit& h : hits) {
      out->push_back(h.vertex);
      if (h.owner != nullptr || line) out->push_back(h.owner);
    }
  }
  return static_cast<int>(hits.size());
}

int ViewerBase::SelectVertices(const double rect[4], bool select, int kind) {
  std::vector<UIDBase*> found;
  const int count = CollectVertices(&found, rect, kind);
  if (count > 0 && select) {
    for (UIDBase* entry : found) {
      if (entry != nullptr) UIDRegistry::Instance().SetSelected(entry->GetUID(), true);
    }
  }
  return count;
}

int ViewerBase::GetMaskVerticesWithinRectangle(std::vector<UIDBase*>* out, const double rect[4]) {
  return CollectVertices(out, rect, 0);
}
int ViewerBase::SelectMaskVerticesInRectangle(const double rect[4], bool select) {
  return SelectVertices(rect, select, 0);
}
int ViewerBase::GetLineVerticesWithinRectangle(std::vector<UIDBase*>* out, const double rect[4]) {
  return CollectVertices(out, rect, 1);
}
int ViewerBase::SelectLineVerticesInRectangle(const double rect[4], bool select) {
  return SelectVertices(rect, select, 1);
}
int ViewerBase::GetGizmoVerticesWithinRectangle(std::vector<UIDBase*>* out, const double rect[4]) {
  return CollectVertices(out, rect, 2);
}
int ViewerBase::SelectGizmoVerticesInRectangle(const double rect[4], bool select) {
  return SelectVertices(rect, select, 2);
}

// ---- everything under a band

void ViewerBase::SceneCentre(int& x, int& y) {
  const ViewerState* state = CurrentState();
  if (state != nullptr && state->m_mode == 1) {
    x = GetWidth() / 2;
    y = GetHeight() / 2;
  } else {
    x = m_centre_x;
    y = m_centre_y;
  }
}

int ViewerBase::GetObjectsWithinRectangle(std::vector<UIDBase*>* out, const RubberBand& band,
                                          const double rect[4]) {
  const ViewerState* state = CurrentState();
  if (out == nullptr || state == nullptr) return 0;
  const int flags = state->m_flags;
  int count = 0;
  if (flags & (eShowAutoFeatures | eShowAnchors)) count += Get2DFeaturesWithinRectangle(out, rect);
  if (flags & eShowMasks) count += GetMaskVerticesWithinRectangle(out, rect);
  if (flags & eShowLines) count += GetLineVerticesWithinRectangle(out, rect);
  if (flags & (0x8 | eShowUserObjects)) {
    if (Scene* scene = m_controller->GetScene()) {
      // View pixels: the render context holds the projection centre.
      count += CollectObjectsInRectangle(out, m_render_context, scene, std::max(band.m_min_x, 0),
                                         std::max(band.m_min_y, 0), std::max(band.m_max_x, 0),
                                         std::max(band.m_max_y, 0));
    }
  }
  count += GetGizmoVerticesWithinRectangle(out, rect);
  return count;
}

bool ViewerBase::IsObjectAt(int x, int y) {
  std::vector<UIDBase*> found;
  return CollectAt(found, x, y) > 0;
}

bool ViewerBase::IsSelectedObjectAt(int x, int y) {
  std::vector<UIDBase*> found;
  CollectAt(found, x, y);
  for (const UIDBase* entry : found) {
    if (entry != nullptr && entry->GetUIDType() != UID_TYPE_VERTEX_OBJECT &&
        (entry->GetUIDFlags() & 1) != 0) {
      return true;
    }
  }
  return false;
}

int ViewerBase::CollectAt(std::vector<UIDBase*>& found, int x, int y) {
  RubberBand band;
  band.Init(x, y, 0);
  const double ix = ViewToImageX(x), iy = ViewToImageY(y);
  const double rect[4] = {ix, iy, ix, iy};
  return GetObjectsWithinRectangle(&found, band, rect);
}

// ---- the tools

int ViewerBase::RectangleSelect(const RubberBand& band, const double rect[4], bool select) {
  // Scene elements are picked in view pixels: the render context holds the projection centre.
  const int x0 = std::max(band.m_min_x, 0), y0 = std::max(band.m_min_y, 0);
  const int x1 = std::max(band.m_max_x, 0), y1 = std::max(band.m_max_y, 0);
  const ViewerState* state = CurrentState();
  const int mode = state ? state->m_mode : -1;
  const int flags = state ? state->m_flags : 0;
  int count = 0;
  if (mode == 0) {
    if (flags & (eShowAutoFeatures | eShowUserFeatures | eShowAnchors))
      count += Select2DFeaturesInRectangle(rect, select);
    if (flags & eShowMasks) count += SelectMaskVerticesInRectangle(rect, select);
    if (flags & eShowLines) count += SelectLineVerticesInRectangle(rect, select);
    if (flags & eShowFocalGizmos) count += SelectGizmoVerticesInRectangle(rect, select);
  } else if (mode != 1) {
    Notify(2, "ViewerBase::RectangleSelect: bad view mode %d", mode);
  }
  Scene* scene = m_controller->GetScene();
  if (scene != nullptr && (mode == 0 || mode == 1) && (flags & (0x8 | 0x20 | eShowUserObjects))) {
    if (x0 == x1 || y0 == y1) {
      m_gizmo_handle = 0;
      const int32_t id = PickObjectAt(m_render_context, scene, x0, y0);
      UIDBase* hit = id != 0 ? UIDRegistry::Instance().GetObject(id) : nullptr;
      if (hit != nullptr) {
        ++count;
        const bool handle = hit->GetUIDType() == UID_TYPE_GIZMO_HANDLE;
        if (handle && scene->GetGizmo() != nullptr) {
          m_gizmo_handle = scene->GetGizmo()->PickPart(id);
          m_interaction &= ~(kInteractionRectangle | kInteractionCircle);
        }
        if (select && !handle) {
          scene->SelectObject(0);
          if (!IsShiftDown()) m_controller->DeselectAll(true);
          if (hit->GetUIDType() == UID_TYPE_FEATURE_POINT_3D) {
            UIDRegistry::Instance().SetSelected(id, true);
          } else if (hit->IsSceneObject()) {
            scene->SelectObject(id);
            if (scene->GetGizmo() != nullptr)
              scene->GetGizmo()->SetModes(m_gizmo_rotate, m_gizmo_scale, m_gizmo_translate);
          }
        }
      }
    } else {
      count += SelectObjectsInRectangle(m_render_context, scene, x0, y0, x1, y1, select);
    }
  }
  if (select && count > 0) m_controller->EmitSelectionChanged();
  RedrawRect(m_rubber_band, SelectionMargin(m_zoom));
  return count;
}

int ViewerBase::CircleSelect(const RubberBand& band, const double /*rect*/[4], bool /*select*/) {
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) {
    Notify(2, "ViewerBase::CircleSelect: scene not set");
    return 0;
  }
  const ViewerState* state = CurrentState();
  if (state == nullptr) return 0;
  const double r = band.m_radius;
  const int x = std::max(band.m_max_x, 0), y = std::max(band.m_max_y, 0);
  int margin = 1;
  const bool add = !IsShiftDown();
  if (state->m_mode == 1) {
    SelectObjectsInCircle(m_render_context, scene, x, y, r, add);
  } else if (state->m_mode == 0) {
    std::vector<UIDBase*> selected;
    const int before = UIDRegistry::Instance().CollectSelected(selected, UID_TYPE_FEATURE_POINT_2D,
                                                               UID_TYPE_FEATURE_POINT_2D);
    const int after = Select2DFeaturesInCircle(m_select_rect[2], m_select_rect[3],
                                               m_zoom == 0.0 ? r : r / m_zoom);
    if (after == before) {
      SelectObjectsInCircle(m_render_context, scene, x, y, r, add);
    } else {
      margin = SelectionMargin(m_zoom);
    }
  }
  RedrawRect(band, margin);
  return 1;
}

void ViewerBase::SetLassoPolygon(std::vector<vm::Vector2> polygon) {
  m_lasso = std::move(polygon);
}

int ViewerBase::LassoSelect(bool select) {
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) return 0;
  const ViewerState* state = CurrentState();
  int count = 0;
  if (state != nullptr && state->m_mode == 0 &&
      (state->m_flags & (eShowAutoFeatures | eShowUserFeatures | eShowAnchors))) {
    count = Select2DFeaturesInLasso(m_lasso, select);
  }
  // The lasso is measured from the projection centre; the selection renderer takes view pixels.
  int cx = 0, cy = 0;
  SceneCentre(cx, cy);
  std::vector<vm::Vector2> area = m_lasso;
  for (vm::Vector2& p : area) {
    p.x += cx;
    p.y += cy;
  }
  count += SelectObjectsInArea(m_render_context, scene, area, !IsShiftDown());
  if (select && count > 0) m_controller->EmitSelectionChanged();
  RedrawRect(m_rubber_band, SelectionMargin(m_zoom));
  return count;
}

}  // namespace uic
