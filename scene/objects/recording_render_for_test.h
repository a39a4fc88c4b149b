// Test helper: an element renderer that records what an object draws (markers, lines and
// polygons in view coordinates with their colours and pick ids) instead of drawing it. Its
// projection is a pinhole of focal length `focal` pixels, so ScaleAtDepth and ScaleFocal
// act as a real renderer's do.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <vector>

#include "foundation/numeric/fixed_vector.h"
#include "scene/render/element_render.h"

namespace kxtest {

class RecordingRender : public NHSElementRender {
 public:
  struct Marker {
    vm::Vector3 p;
    unsigned shape;
    double size;
    uint32_t color, id;
  };
  struct Line {
    vm::Vector3 a, b;
    double width;
    uint32_t color, id;
    double focal;  // the focal length it was drawn with
  };
  struct Polygon {
    std::vector<vm::Vector3> points;
    uint32_t color, id;
    bool one_sided;
    vm::Vector3 normal;  // as given, or zero
    const NHSTexture* texture;
    std::vector<double> uv;
  };

  std::vector<Marker> markers;
  std::vector<Line> lines;
  std::vector<Polygon> polygons;
  double focal = 1000.0;

  void DrawMarker(const vm::Vector3& p, unsigned shape, double size, uint32_t color,
                  uint32_t id) override {
    markers.push_back({p, shape, size, color, id});
  }
  void DrawLine(const vm::Vector3& a, const vm::Vector3& b, double width, uint32_t color,
                uint32_t id) override {
    lines.push_back({a, b, width, color, id, focal});
  }
  void DrawPolygon(const vm::Vector3* points, int n, uint32_t color, uint32_t id, bool one_sided,
                   const vm::Vector3* normal, const NHSTexture* texture,
                   const double* uv) override {
    Polygon p{
        {points, points + n}, color, id, one_sided, normal ? *normal : vm::Vector3{}, texture, {}};
    if (texture != nullptr && uv != nullptr) p.uv.assign(uv, uv + 6);
    polygons.push_back(std::move(p));
  }
  double ScaleAtDepth(double z) override { return focal / z; }
  void ScaleFocal(double factor) override { focal *= factor; }

  // Screen length in pixels of a recorded line under the pinhole it was drawn with.
  static double ScreenLength(const Line& l) {
    return std::hypot(l.focal * (l.b.x / l.b.z - l.a.x / l.a.z),
                      l.focal * (l.b.y / l.b.z - l.a.y / l.a.z));
  }

  void Clear() {
    markers.clear();
    lines.clear();
    polygons.clear();
  }

  // Lines that run between the same two points (either way) as an earlier line.
  int DuplicateLines(double tolerance = 1e-9) const {
    int n = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
      for (size_t j = 0; j < i; ++j) {
        const auto& a = lines[i];
        const auto& b = lines[j];
        if ((Near(a.a, b.a, tolerance) && Near(a.b, b.b, tolerance)) ||
            (Near(a.a, b.b, tolerance) && Near(a.b, b.a, tolerance))) {
          ++n;
          break;
        }
      }
    }
    return n;
  }

  // Polygons whose facing value (P0 · N, N the normal given or taken from the first three
  // points) is not below 0: drawn with their back to the viewer.
  int BackFacingPolygons() const {
    int n = 0;
    for (const Polygon& p : polygons) {
      const vm::Vector3 normal = p.normal == vm::Vector3{}
                                     ? (p.points[0] - p.points[1]).Cross(p.points[1] - p.points[2])
                                     : p.normal;
      n += !(p.points[0].Dot(normal) < 0);
    }
    return n;
  }

  static bool Near(const vm::Vector3& a, const vm::Vector3& b, double tolerance) {
    return (a - b).Length() <= tolerance;
  }
};

// A model matrix: identity rotation scaled by s, translation t.
inline Matrix3x4 Translation(double x, double y, double z, double s = 1.0) {
  Matrix3x4 m;
  const double v[12] = {s, 0, 0, x, 0, s, 0, y, 0, 0, s, z};
  std::copy(v, v + 12, m.m);
  return m;
}

}  // namespace kxtest
