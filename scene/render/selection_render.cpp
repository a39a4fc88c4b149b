#include "scene/render/selection_render.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "foundation/runtime/uid_registry.h"
#include "scene/objects/nhs_object.h"
#include "scene/render/render_context.h"
#include "tracking/objects/point_in_polygon.h"

namespace {

// The point of the segment p–q nearest to the screen origin, with its depth value
// interpolated along the segment.
ScreenPoint NearestToOrigin(const ScreenPoint& p, const ScreenPoint& q) {
  const double dx = q.x - p.x, dy = q.y - p.y;
  const double g = dx * dx + dy * dy;
  const double t = g > 0.0 ? -(p.x * dx + p.y * dy) / g : 0.0;
  if (t >= 1.0) return q;
  if (t > 0.0) return {p.x + t * dx, p.y + t * dy, p.s + t * (q.s - p.s)};
  return p;
}

// Whether the outline holds the screen origin (even-odd rule), and the depth value there:
// interpolated between the outline's crossings of v = 0 nearest to the origin on either
// side (depth values are affine on the screen for a planar polygon).
bool DepthAtOrigin(const ScreenPoint* o, int m, double& depth) {
  if (!IsPointInPolygon(o, static_cast<std::size_t>(m), 0.0, 0.0)) return false;
  // Inside, an odd number of crossings lies left of the origin and so at least one right.
  double left_u = -std::numeric_limits<double>::infinity(), left_s = 0.0;
  double right_u = std::numeric_limits<double>::infinity(), right_s = 0.0;
  const ScreenPoint* a = &o[m - 1];
  for (int i = 0; i < m; ++i) {
    const ScreenPoint& b = o[i];
    if ((a->y <= 0.0) != (b.y <= 0.0)) {  // the same half-open rule as the inside test
      const double t = a->y / (a->y - b.y);
      const double u = a->x + t * (b.x - a->x), s = a->s + t * (b.s - a->s);
      if (u < 0.0) {
        if (u > left_u) left_u = u, left_s = s;
      } else if (u < right_u) {
        right_u = u, right_s = s;
      }
    }
    a = &b;
  }
  depth = left_s + (right_s - left_s) * -left_u / (right_u - left_u);
  return true;
}

UIDBase* Registered(std::uint32_t id) {
  return UIDRegistry::Instance().GetObject(static_cast<std::int32_t>(id));
}

}  // namespace

// ---- shared

double NHSElementRender_SelectBase::ScaleAtDepth(double z) {
  return projection_.ScaleAtDepth(z);
}

void NHSElementRender_SelectBase::ScaleFocal(double factor) {
  projection_.focal *= factor;
}

bool NHSElementRender_SelectBase::SetupProjection(const RenderContext& context, double origin_x,
                                                  double origin_y) {
  // A 1 × 1 target whose sample 0 has its centre at the origin: the set-up places it at
  // buffer position 0.5, so the principal point moves by origin − 0.5.
  const double* pp = context.GetPrincipalPoint();
  const double shifted[2] = {pp[0] - origin_x + 0.5, pp[1] - origin_y + 0.5};
  projection_ = RenderProjection{};
  return projection_.Setup(view_, context.GetRenderView(), shifted, 0, 0, 1, 1);
}

void NHSElementRender_SelectBase::Walk(const NHSObject& root) {
  RenderSubtree(view_, root);
}

const ScreenPoint* NHSElementRender_SelectBase::ClipFacingPolygon(const vm::Vector3* points, int n,
                                                                  bool one_sided,
                                                                  const vm::Vector3* normal,
                                                                  int& count) {
  if (n < 3) return nullptr;
  const bool back = points[1].Dot(FaceNormal(points, normal)) >= 0.0;
  if (one_sided && back) return nullptr;
  if (clip_.size() < 2 * static_cast<std::size_t>(n)) clip_.resize(2 * static_cast<std::size_t>(n));
  // Not ClipPolygon: its test against the 1 × 1 target would keep only outlines that
  // reach the selection origin, and an area holds polygons anywhere inside it.
  count = projection_.ClipOutline(clip_.data(), points, n, back);
  return count >= 3 ? clip_.data() : nullptr;
}

// ---- point selector

std::uint32_t NHSElementRender_PointSelect::Pick(const RenderContext& context,
                                                 const NHSObject& root, double x, double y) {
  best_depth_ = 0.0;
  best_id_ = 0;
  best_gizmo_ = false;
  if (!SetupProjection(context, x + 0.5, y + 0.5)) return 0;
  Walk(root);
  return best_id_;
}

void NHSElementRender_PointSelect::RecordHit(std::uint32_t id, double depth) {
  const UIDBase* object = Registered(id);
  if (object == nullptr) return;
  const bool gizmo = object->GetUIDType() == UID_TYPE_GIZMO_HANDLE;
  // A gizmo part wins over anything else, whatever its depth: it is drawn on top.
  if ((gizmo && !best_gizmo_) || (gizmo == best_gizmo_ && depth > best_depth_)) {
    best_depth_ = depth;
    best_id_ = id;
    best_gizmo_ = gizmo;
  }
}

void NHSElementRender_PointSelect::DrawMarker(const vm::Vector3& p, unsigned shape, double size,
                                              std::uint32_t, std::uint32_t pick_id) {
  if (pick_id == 0 || !(p.z >= projection_.near_distance)) return;
  const ScreenPoint q = projection_.Project(p);
  const double r = size + 1.0, u = std::fabs(q.x), v = std::fabs(q.y);
  if (!(u < r) || !(v < r)) return;
  bool hit = false;
  switch (shape) {
    case 0:
      hit = true;
      break;  // square
    case 1:
      hit = u + v < r;
      break;  // diamond
    case 2:
      hit = u * u + v * v < r * r;
      break;  // octagon
    case 3:
      hit = u <= r / 4 || v <= r / 4;
      break;  // cross
    default:
      break;
  }
  if (hit) RecordHit(pick_id, q.s);
}

void NHSElementRender_PointSelect::DrawLine(const vm::Vector3& a, const vm::Vector3& b,
                                            double width, std::uint32_t, std::uint32_t pick_id) {
  ScreenPoint p, q;
  if (pick_id == 0 || !projection_.ClipSegment(p, q, a, b)) return;
  const ScreenPoint n = NearestToOrigin(p, q);
  const double reach = width / 2 + 1.0;
  if (n.x * n.x + n.y * n.y < reach * reach) RecordHit(pick_id, n.s);
}

void NHSElementRender_PointSelect::DrawPolygon(const vm::Vector3* points, int n, std::uint32_t,
                                               std::uint32_t pick_id, bool one_sided,
                                               const vm::Vector3* normal, const NHSTexture*,
                                               const double*) {
  if (pick_id == 0) return;
  int m = 0;
  const ScreenPoint* o = ClipFacingPolygon(points, n, one_sided, normal, m);
  double depth = 0.0;
  if (o != nullptr && DepthAtOrigin(o, m, depth)) RecordHit(pick_id, depth);
}

// ---- area selectors

bool NHSElementRender_MultiSelectBase::Run(const RenderContext& context, const NHSObject& root,
                                           double origin_x, double origin_y) {
  hits_.clear();
  if (!SetupProjection(context, origin_x, origin_y)) return false;
  Walk(root);
  return true;
}

void NHSElementRender_MultiSelectBase::AddHit(std::uint32_t id) {
  const UIDBase* object = Registered(id);
  if (object == nullptr || (object->GetUIDFlags() & UID_FLAG_LOCKED)) return;
  std::lock_guard<js::SpinLock> hold(lock_);
  hits_.insert(id);
}

int NHSElementRender_MultiSelectBase::ApplySelection(bool select) {
  UIDRegistry& registry = UIDRegistry::Instance();
  int changed = 0;
  for (const std::uint32_t id : hits_) {
    const auto uid = static_cast<std::int32_t>(id);
    if (registry.GetObject(uid) == nullptr || registry.IsSelected(uid) == select) continue;
    registry.SetSelected(uid, select);
    ++changed;
  }
  return changed;
}

int NHSElementRender_MultiSelectBase::CollectHits(std::vector<UIDBase*>& out) {
  for (const std::uint32_t id : hits_) {
    if (UIDBase* object = Registered(id)) out.push_back(object);
  }
  return static_cast<int>(hits_.size());
}

void NHSElementRender_MultiSelectBase::DrawMarker(const vm::Vector3& p, unsigned, double,
                                                  std::uint32_t, std::uint32_t pick_id) {
  if (pick_id == 0 || !(p.z >= projection_.near_distance)) return;
  const ScreenPoint q = projection_.Project(p);
  if (Contains(q.x, q.y)) AddHit(pick_id);
}

void NHSElementRender_MultiSelectBase::DrawLine(const vm::Vector3& a, const vm::Vector3& b, double,
                                                std::uint32_t, std::uint32_t pick_id) {
  ScreenPoint p, q;
  if (pick_id == 0 || !projection_.ClipSegment(p, q, a, b)) return;
  if (Contains(p.x, p.y) && Contains(q.x, q.y)) AddHit(pick_id);
}

void NHSElementRender_MultiSelectBase::DrawPolygon(const vm::Vector3* points, int n, std::uint32_t,
                                                   std::uint32_t pick_id, bool one_sided,
                                                   const vm::Vector3* normal, const NHSTexture*,
                                                   const double*) {
  if (pick_id == 0) return;
  int m = 0;
  const ScreenPoint* o = ClipFacingPolygon(points, n, one_sided, normal, m);
  if (o == nullptr) return;
  for (int i = 0; i < m; ++i) {
    if (!Contains(o[i].x, o[i].y)) return;
  }
  AddHit(pick_id);
}

void NHSElementRender_CircleSelect::DrawLine(const vm::Vector3& a, const vm::Vector3& b, double,
                                             std::uint32_t, std::uint32_t pick_id) {
  ScreenPoint p, q;
  if (pick_id == 0 || !projection_.ClipSegment(p, q, a, b)) return;
  const ScreenPoint n = NearestToOrigin(p, q);
  if (Contains(n.x, n.y)) AddHit(pick_id);
}

void NHSElementRender_CircleSelect::DrawPolygon(const vm::Vector3* points, int n, std::uint32_t,
                                                std::uint32_t pick_id, bool one_sided,
                                                const vm::Vector3* normal, const NHSTexture*,
                                                const double*) {
  if (pick_id == 0) return;
  int m = 0;
  const ScreenPoint* o = ClipFacingPolygon(points, n, one_sided, normal, m);
  if (o != nullptr && IsPointInPolygon(o, static_cast<std::size_t>(m), 0.0, 0.0)) AddHit(pick_id);
}

bool NHSElementRender_RectSelect::Run(const RenderContext& context, const NHSObject& root,
                                      double x0, double y0, double x1, double y1) {
  w_ = std::fabs(x1 - x0);
  h_ = std::fabs(y1 - y0);
  return NHSElementRender_MultiSelectBase::Run(context, root, std::min(x0, x1), std::min(y0, y1));
}

bool NHSElementRender_AreaSelect::Contains(double u, double v) const {
  return IsPointInPolygon(lasso_, u, v);
}

// ---- entry points

std::int32_t PickObjectAt(const RenderContext& context, const NHSObject* root, double x, double y) {
  if (root == nullptr) return 0;
  NHSElementRender_PointSelect selector;
  const std::uint32_t id = selector.Pick(context, *root, x, y);
  const UIDBase* object = Registered(id);
  // A locked element in front (the ground grid, say) answers "nothing" rather than
  // handing out what it covers on the screen.
  if (object == nullptr || (object->GetUIDFlags() & UID_FLAG_LOCKED)) return 0;
  return static_cast<std::int32_t>(id);
}

int SelectObjectsInCircle(const RenderContext& context, const NHSObject* root, double cx, double cy,
                          double radius, bool select) {
  if (root == nullptr) return 0;
  NHSElementRender_CircleSelect selector(radius);
  if (!selector.Run(context, *root, cx, cy)) return 0;
  return selector.ApplySelection(select);
}

int SelectObjectsInRectangle(const RenderContext& context, const NHSObject* root, double x0,
                             double y0, double x1, double y1, bool select) {
  if (root == nullptr) return 0;
  NHSElementRender_RectSelect selector;
  if (!selector.Run(context, *root, x0, y0, x1, y1)) return 0;
  return selector.ApplySelection(select);
}

int SelectObjectsInArea(const RenderContext& context, const NHSObject* root,
                        const std::vector<vm::Vector2>& lasso, bool select) {
  if (root == nullptr) return 0;
  NHSElementRender_AreaSelect selector(lasso);
  if (!selector.Run(context, *root)) return 0;
  return selector.ApplySelection(select);
}

int CollectObjectsInRectangle(std::vector<UIDBase*>* out, const RenderContext& context,
                              const NHSObject* root, double x0, double y0, double x1, double y1) {
  if (out == nullptr || root == nullptr) return 0;
  NHSElementRender_RectSelect selector;
  if (!selector.Run(context, *root, x0, y0, x1, y1)) return 0;
  return selector.CollectHits(*out);
}
