// Test and benchmark helper: a scene node that draws fixed primitives, given in its own
// coordinates, through whatever renderer walks it, and counts how often it was drawn.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "foundation/numeric/point_transform.h"
#include "scene/objects/nhs_object.h"
#include "scene/render/element_render.h"

namespace kxtest {

class ShapeNode : public NHSObject {
 public:
  struct Polygon {
    vm::Vector3 points[4];
    int n;  // 3 or 4
    std::uint32_t color;
    bool one_sided;
    bool textured;  // with the node's texture and uv
    double uv[6];
  };
  struct Line {
    vm::Vector3 a, b;
    double width;
    std::uint32_t color;
  };
  struct Marker {
    vm::Vector3 p;
    unsigned shape;
    double size;
    std::uint32_t color;
  };

  ShapeNode() : NHSObject(NHS_TYPE_POLY_MESH) {}
  void Hide() { SetUIDFlags(GetUIDFlags() | UID_FLAG_HIDDEN); }

  void Draw(NHSElementRender& r, const Matrix3x4& M) const override {
    draws.fetch_add(1, std::memory_order_relaxed);
    vm::Vector3 a, b;
    for (const Polygon& p : polygons) {
      vm::Vector3 v[4];
      for (int k = 0; k < p.n; ++k) TransformPoint(v[k], M, p.points[k]);
      r.DrawPolygon(v, p.n, p.color, GetUID(), p.one_sided, nullptr, p.textured ? texture : nullptr,
                    p.textured ? p.uv : nullptr);
    }
    for (const Line& l : lines) {
      r.DrawLine(TransformPoint(a, M, l.a), TransformPoint(b, M, l.b), l.width, l.color, 0);
    }
    for (const Marker& m : markers) {
      r.DrawMarker(TransformPoint(a, M, m.p), m.shape, m.size, m.color, 0);
    }
  }

  std::vector<Polygon> polygons;
  std::vector<Line> lines;
  std::vector<Marker> markers;
  const NHSTexture* texture = nullptr;
  mutable std::atomic<int> draws{0};
};

}  // namespace kxtest
