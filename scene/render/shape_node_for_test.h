// Test and benchmark helper: a scene node that draws fixed primitives, given in its own
// coordinates, through whatever renderer walks it, whole or in parts, and counts the parts drawn.
// Every primitive carries the node's id as its pick id.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
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

  explicit ShapeNode(uint16_t type = NHS_TYPE_POLY_MESH) : NHSObject(type) {}
  void Hide() { SetNodeFlags(UID_FLAG_HIDDEN, true); }

  // Polygons, then lines, then markers; in parts of part_size primitives when it is set.
  void Draw(NHSElementRender& r, const Matrix3x4& M) const override {
    draws.fetch_add(DrawParts(), std::memory_order_relaxed);
    DrawRange(r, M, 0, Count());
  }
  int DrawParts() const override {
    return part_size > 0 && Count() > 0 ? static_cast<int>((Count() + part_size - 1) / part_size)
                                        : 1;
  }
  void DrawPart(NHSElementRender& r, const Matrix3x4& M, int part) const override {
    draws.fetch_add(1, std::memory_order_relaxed);
    if (part_size <= 0) return DrawRange(r, M, 0, Count());
    const std::size_t first = static_cast<std::size_t>(part) * part_size;
    DrawRange(r, M, first, std::min(Count(), first + part_size));
  }

  std::vector<Polygon> polygons;
  std::vector<Line> lines;
  std::vector<Marker> markers;
  const NHSTexture* texture = nullptr;
  int part_size = 0;  // primitives per draw part; 0: one part
  // Parts drawn (Draw counts all of them).
  mutable std::atomic<int> draws{0};

 private:
  std::size_t Count() const { return polygons.size() + lines.size() + markers.size(); }

  // Primitives first .. end − 1 of the sequence polygons, lines, markers.
  void DrawRange(NHSElementRender& r, const Matrix3x4& M, std::size_t first,
                 std::size_t end) const {
    vm::Vector3 a, b;
    for (std::size_t i = first; i < end; ++i) {
      if (i < polygons.size()) {
        const Polygon& p = polygons[i];
        vm::Vector3 v[4];
        for (int k = 0; k < p.n; ++k) TransformPoint(v[k], M, p.points[k]);
        r.DrawPolygon(v, p.n, p.color, GetUID(), p.one_sided, nullptr,
                      p.textured ? texture : nullptr, p.textured ? p.uv : nullptr);
      } else if (i < polygons.size() + lines.size()) {
        const Line& l = lines[i - polygons.size()];
        r.DrawLine(TransformPoint(a, M, l.a), TransformPoint(b, M, l.b), l.width, l.color,
                   GetUID());
      } else {
        const Marker& m = markers[i - polygons.size() - lines.size()];
        r.DrawMarker(TransformPoint(a, M, m.p), m.shape, m.size, m.color, GetUID());
      }
    }
  }
};

}  // namespace kxtest
