// NHSElementRender_SW: the software renderer's primitive stage. Each marker, line and
// polygon is projected and clipped with the renderer's RenderProjection and appended to
// its DrawItemArena as draw items; the pixels are made later, row by row (RenderContext).
// Pick ids are ignored.
//
// Colours: markers are always opaque and written as colour + 0xff000000 (modulo 2^32, so
// the point cloud's palette colour + 0x01000000 keeps its alpha byte). Lines with alpha
// 0xff are opaque, others translucent of weight alpha >> 4 (at least 1). Polygons with
// alpha 0 are flat and opaque (drawn with alpha 0xff), alpha 0xff is opaque and shaded,
// anything else translucent and shaded.
//
// One renderer per thread and frame, over that thread's arena. Arena growth throws
// std::bad_alloc; nothing else fails: geometry behind the near plane, outside the target
// or degenerate makes no items.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "scene/render/draw_item_arena.h"
#include "scene/render/element_render.h"
#include "scene/render/render_projection.h"

class NHSElementRender_SW : public NHSElementRender {
 public:
  // counter: the frame's shared object counter for ClaimObject (may be null when the
  // renderer draws everything it is given). clip_scratch: room for clipped outlines kept
  // by the caller across frames (null: the renderer keeps its own).
  NHSElementRender_SW(DrawItemArena& arena, const RenderProjection& projection,
                      std::atomic<std::int32_t>* counter = nullptr,
                      std::vector<ScreenPoint>* clip_scratch = nullptr);

  void DrawMarker(const vm::Vector3& p, unsigned shape, double size, std::uint32_t color,
                  std::uint32_t pick_id) override;
  void DrawLine(const vm::Vector3& a, const vm::Vector3& b, double width, std::uint32_t color,
                std::uint32_t pick_id) override;
  void DrawPolygon(const vm::Vector3* points, int n, std::uint32_t color, std::uint32_t pick_id,
                   bool one_sided, const vm::Vector3* normal, const NHSTexture* texture,
                   const double* uv) override;
  // focal / (F × max(z, near)).
  double ScaleAtDepth(double z) override;
  void ScaleFocal(double factor) override;

  // Hands out the nodes of a walk that every thread makes over the same tree: called once
  // per visited node (once per part for a node drawn in parts), it says whether this
  // renderer draws it. When this renderer has passed the node it claimed last, it claims
  // the next free index from the shared counter, so each node goes to exactly one
  // thread, one at a time in walk order.
  bool ClaimObject();

  const RenderProjection& Projection() const { return projection_; }

 private:
  DrawItemArena& arena_;
  RenderProjection projection_;
  std::atomic<std::int32_t>* counter_;
  std::int32_t claimed_ = -1;
  std::int32_t running_ = 0;
  std::vector<ScreenPoint> own_clip_;
  std::vector<ScreenPoint>* clip_;  // clipped outline, reused across polygons
};
