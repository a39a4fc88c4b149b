// Picking and area selection in the 3D scene view.
//
// Selection reuses the drawing code: the selection renderers implement NHSElementRender
// with hit tests instead of draw items, and the scene is walked with the ordinary scene
// walk, so whatever an object draws (with its pick id: the id of the object, of a 3D
// point or of a gizmo part) is what can be picked. Pick id 0 never hits.
//
// Every selector projects like the software renderer of a RenderContext (its view matrix
// and principal point; sample factor 1, near distance 1), onto screen coordinates
// (u, v) = image position − the selector's origin, in buffer pixels whose centres lie at
// integer + 0.5. The depth value of a view depth z is s = focal / max(z, 1): larger is
// nearer. ScaleAtDepth and ScaleFocal are the software renderer's, so objects that size
// themselves in pixels (the gizmo) draw the same shapes for both.
//
// - Point selector (PickObjectAt): the element under the pixel. A marker hits within its
//   shape widened by one pixel (r = size + 1: square |u|, |v| < r; diamond |u| + |v| < r;
//   octagon u² + v² < r²; cross |u| or |v| ≤ r / 4), a line within width / 2 + 1 of the
//   segment, a polygon when it covers the pixel centre (even-odd rule; a one-sided polygon
//   seen from its back never). Of several hits a gizmo part beats everything else; among
//   equals the nearest wins and on an exact tie the first drawn stays. A locked element
//   is returned as 0 and so hides what lies behind it, as it does on the screen.
// - Area selectors (circle, rectangle, lasso): only centres and vertices count, marker
//   sizes and line widths do not. Circle: a marker within the radius, a line passing
//   within it, a polygon that holds the centre. Rectangle and lasso: a marker inside, a
//   line with both ends inside, a polygon with every (near-clipped) vertex inside.
//   Locked and unregistered ids are never collected.
// Markers nearer than the near distance are not drawn and so are never hit.
//
// Everything runs on the interface thread while the scene does not change. A degenerate
// view matrix or a null root selects nothing. The hit set of the area selectors is
// guarded by a spin lock, so their Draw calls may come from several threads; the point
// selector's best hit is not guarded.
#pragma once

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/spin_lock.h"
#include "scene/render/element_render.h"
#include "scene/render/render_projection.h"

class RenderContext;
class UIDBase;

// What every selector shares: the projection onto screen coordinates around its origin,
// scratch room for clipped outlines, and the walk.
class NHSElementRender_SelectBase : public NHSElementRender {
 public:
  double ScaleAtDepth(double z) override;
  void ScaleFocal(double factor) override;

  const RenderProjection& Projection() const { return projection_; }

 protected:
  // Sets the projection up for the context's view with (u, v) = 0 at the buffer position
  // (origin_x, origin_y). False for a degenerate view matrix.
  bool SetupProjection(const RenderContext& context, double origin_x, double origin_y);
  // Walks the scene from root with the projection's view matrix.
  void Walk(const NHSObject& root);
  // The near-clipped, projected outline of a polygon that may be seen (n ≥ 3 and, when
  // one-sided, facing the viewer); null when there is none. count gets its length (≥ 3).
  const ScreenPoint* ClipFacingPolygon(const vm::Vector3* points, int n, bool one_sided,
                                       const vm::Vector3* normal, int& count);

  RenderProjection projection_;

 private:
  Matrix3x4 view_;
  std::vector<ScreenPoint> clip_;
};

// The element nearest to the viewer under one pixel.
class NHSElementRender_PointSelect : public NHSElementRender_SelectBase {
 public:
  void DrawMarker(const vm::Vector3& p, unsigned shape, double size, std::uint32_t color,
                  std::uint32_t pick_id) override;
  void DrawLine(const vm::Vector3& a, const vm::Vector3& b, double width, std::uint32_t color,
                std::uint32_t pick_id) override;
  void DrawPolygon(const vm::Vector3* points, int n, std::uint32_t color, std::uint32_t pick_id,
                   bool one_sided, const vm::Vector3* normal, const NHSTexture* texture,
                   const double* uv) override;

  // Walks the scene for the pixel (x, y) of the context's buffer and returns the best
  // pick id (0 when nothing was hit), locked or not.
  std::uint32_t Pick(const RenderContext& context, const NHSObject& root, double x, double y);
  // Keeps the hit when it beats the best so far (see the top of the file). Ids that are
  // not registered are ignored.
  void RecordHit(std::uint32_t id, double depth);

  std::uint32_t BestId() const { return best_id_; }
  double BestDepth() const { return best_depth_; }

 private:
  double best_depth_ = 0.0;
  std::uint32_t best_id_ = 0;
  bool best_gizmo_ = false;
};

// Base of the area selectors: the set of ids hit, and what becomes of them.
class NHSElementRender_MultiSelectBase : public NHSElementRender_SelectBase {
 public:
  // Rectangle and lasso rules: the marker's centre, both ends of the line, every vertex
  // of the polygon inside the area (Contains).
  void DrawMarker(const vm::Vector3& p, unsigned shape, double size, std::uint32_t color,
                  std::uint32_t pick_id) override;
  void DrawLine(const vm::Vector3& a, const vm::Vector3& b, double width, std::uint32_t color,
                std::uint32_t pick_id) override;
  void DrawPolygon(const vm::Vector3* points, int n, std::uint32_t color, std::uint32_t pick_id,
                   bool one_sided, const vm::Vector3* normal, const NHSTexture* texture,
                   const double* uv) override;

  // Adds a registered, unlocked id to the hit set; others are ignored. Thread-safe.
  void AddHit(std::uint32_t id);
  // Sets or clears the selected flag of every hit object, in ascending id order, whose
  // flag differs; returns how many changed.
  int ApplySelection(bool select);
  // Appends the hit objects in ascending id order; returns the number of hits.
  int CollectHits(std::vector<UIDBase*>& out);
  const std::set<std::uint32_t>& Hits() const { return hits_; }

 protected:
  // Sets up the projection with the origin given, empties the hit set and walks the scene.
  bool Run(const RenderContext& context, const NHSObject& root, double origin_x, double origin_y);
  // Whether the screen point (u, v) lies inside the area.
  virtual bool Contains(double u, double v) const = 0;

 private:
  js::SpinLock lock_;
  std::set<std::uint32_t> hits_;
};

class NHSElementRender_CircleSelect : public NHSElementRender_MultiSelectBase {
 public:
  explicit NHSElementRender_CircleSelect(double radius) : r2_(radius * radius) {}

  void DrawLine(const vm::Vector3& a, const vm::Vector3& b, double width, std::uint32_t color,
                std::uint32_t pick_id) override;
  void DrawPolygon(const vm::Vector3* points, int n, std::uint32_t color, std::uint32_t pick_id,
                   bool one_sided, const vm::Vector3* normal, const NHSTexture* texture,
                   const double* uv) override;

  bool Run(const RenderContext& context, const NHSObject& root, double cx, double cy) {
    return NHSElementRender_MultiSelectBase::Run(context, root, cx, cy);
  }

 protected:
  bool Contains(double u, double v) const override { return u * u + v * v <= r2_; }

 private:
  double r2_;
};

// The rectangle spanned by two corners given in any order: [min x, max x) × [min y, max y).
class NHSElementRender_RectSelect : public NHSElementRender_MultiSelectBase {
 public:
  bool Run(const RenderContext& context, const NHSObject& root, double x0, double y0, double x1,
           double y1);

 protected:
  bool Contains(double u, double v) const override {
    return u >= 0.0 && u < w_ && v >= 0.0 && v < h_;
  }

 private:
  double w_ = 0.0, h_ = 0.0;
};

// A lasso polygon in buffer positions, even-odd rule; fewer than 3 vertices hold nothing.
class NHSElementRender_AreaSelect : public NHSElementRender_MultiSelectBase {
 public:
  explicit NHSElementRender_AreaSelect(std::vector<vm::Vector2> lasso) : lasso_(std::move(lasso)) {}

  bool Run(const RenderContext& context, const NHSObject& root) {
    return NHSElementRender_MultiSelectBase::Run(context, root, 0.0, 0.0);
  }

 protected:
  bool Contains(double u, double v) const override;

 private:
  std::vector<vm::Vector2> lasso_;
};

// The entry points of the viewer. Positions are buffer positions of the context's
// target buffer; a mouse position (x, y) names the pixel whose centre is (x + 0.5, y + 0.5).

// The id under pixel (x, y): an object, a 3D point or a gizmo part; 0 when nothing is
// there or the nearest element is locked.
std::int32_t PickObjectAt(const RenderContext& context, const NHSObject* root, double x, double y);
// Select (or deselect) what lies in the area; each returns the number of objects whose
// selected flag changed.
int SelectObjectsInCircle(const RenderContext& context, const NHSObject* root, double cx, double cy,
                          double radius, bool select);
int SelectObjectsInRectangle(const RenderContext& context, const NHSObject* root, double x0,
                             double y0, double x1, double y1, bool select);
int SelectObjectsInArea(const RenderContext& context, const NHSObject* root,
                        const std::vector<vm::Vector2>& lasso, bool select);
// Appends the objects in the rectangle to *out in ascending id order without changing any
// selection; returns their number (0, with nothing done, when out is null).
int CollectObjectsInRectangle(std::vector<UIDBase*>* out, const RenderContext& context,
                              const NHSObject* root, double x0, double y0, double x1, double y1);
