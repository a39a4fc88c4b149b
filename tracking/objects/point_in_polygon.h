// Even-odd test of a point against a closed polygon given by its vertices in order.
//
// Fewer than 3 vertices contain nothing. On the boundary the half-open rule decides: of
// an axis-aligned square, points on the edges at the largest x and at the smallest y are
// inside, on the other two edges outside; so squares that tile the plane share no point.
// Works on any vertex type with x and y members (vm::Vector2, vm::Vector3: z is ignored).
#pragma once

#include <cstddef>
#include <vector>

#include "foundation/numeric/fixed_vector.h"

template <class Point>
bool IsPointInPolygon(const Point* points, std::size_t n, double x, double y) {
  if (n < 3) return false;
  // Count the edges met by the ray running from (x, y) towards smaller x; each edge
  // holds its lower end and not its upper one, so a vertex on the ray counts once.
  bool inside = false;
  const Point* a = &points[n - 1];
  for (std::size_t i = 0; i < n; ++i) {
    const Point& b = points[i];
    if ((a->y <= y) != (b.y <= y)) {
      const double cross_x = a->x + (y - a->y) * (b.x - a->x) / (b.y - a->y);
      if (cross_x < x) inside = !inside;
    }
    a = &b;
  }
  return inside;
}

inline bool IsPointInPolygon(const std::vector<vm::Vector2>& polygon, double x, double y) {
  return IsPointInPolygon(polygon.data(), polygon.size(), x, y);
}
