#include "scene/objects/point_triangulation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace {

using vm::Vector2;
using Triple = std::array<uint32_t, 3>;

double Cross(const Vector2& u, const Vector2& v) {
  return u.x * v.y - u.y * v.x;
}

Triple Sorted(Triple t) {
  std::sort(t.begin(), t.end());
  return t;
}

std::set<Triple> AsSet(const std::vector<PointTriangle>& triangles) {
  std::set<Triple> out;
  for (const PointTriangle& t : triangles) out.insert(Sorted({t.a, t.b, t.c}));
  return out;
}

// Every triangle runs clockwise for a y-up frame, and they come sorted by largest, then
// middle, then smallest point number.
void ExpectClockwiseAndOrdered(const std::vector<PointTriangle>& triangles,
                               const std::vector<Vector2>& points) {
  Triple last{};
  for (size_t i = 0; i < triangles.size(); ++i) {
    const PointTriangle& t = triangles[i];
    EXPECT_LT(Cross(points[t.b] - points[t.a], points[t.c] - points[t.b]), 0.0) << i;
    const Triple s = Sorted({t.a, t.b, t.c});
    const Triple key{s[2], s[1], s[0]};
    if (i > 0) {
      EXPECT_LT(last, key) << i;
    }
    last = key;
  }
}

TEST(BuildTriangleMeshFromPoints, SmallSets) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    std::vector<Vector2> points;
    std::vector<Triple> triangles;  // point numbers of each, ascending
  } cases[] = {
      {"three points", {{0, 0}, {1, 0}, {0, 1}}, {{0, 1, 2}}},
      {"four points, the short diagonal", {{0, 0}, {2, 0}, {0, 2}, {3, 3}}, {{0, 1, 2}, {1, 2, 3}}},
      {"collinear", {{0, 0}, {1, 2}, {2, 4}, {3, 6}, {-5, -10}}, {}},
      {"all at one place", {{1, 1}, {1, 1}, {1, 1}}, {}},
      // Its circumcentre lies 5000 away, beyond the bounding triangle (200 R, R = 1).
      {"a sliver with a far circumcentre", {{-1, 0}, {0, 1e-4}, {1, 0}}, {}},
      // Coincident points do not cut each other: both pair up with the same neighbours.
      {"coincident points", {{0, 0}, {2, 0}, {1, 2}, {1, 2}}, {{0, 1, 2}, {0, 1, 3}}},
      // A point that cannot be placed joins no triangle; the others are triangulated.
      {"a point without a position", {{0, 0}, {nan, 1}, {1, 0}, {0, 1}}, {{0, 2, 3}}},
  };
  for (const Case& c : cases) {
    std::vector<PointTriangle> triangles{{7, 7, 7}};
    ASSERT_EQ(BuildTriangleMeshFromPoints(triangles, c.points), 0) << c.what;
    std::set<Triple> want(c.triangles.begin(), c.triangles.end());
    EXPECT_EQ(AsSet(triangles), want) << c.what;
    EXPECT_EQ(triangles.size(), c.triangles.size()) << c.what;
    std::vector<Vector2> finite = c.points;
    for (Vector2& v : finite) v.x = std::isnan(v.x) ? 0.0 : v.x;
    ExpectClockwiseAndOrdered(triangles, finite);
  }
}

TEST(BuildTriangleMeshFromPoints, ThreePointsListClockwiseWhicheverWayTheyCome) {
  std::vector<PointTriangle> triangles;
  ASSERT_EQ(BuildTriangleMeshFromPoints(triangles, {{0, 0}, {1, 0}, {0, 1}}), 0);
  EXPECT_EQ(triangles, (std::vector<PointTriangle>{{0, 2, 1}}));
  ASSERT_EQ(BuildTriangleMeshFromPoints(triangles, {{0, 0}, {0, 1}, {1, 0}}), 0);
  EXPECT_EQ(triangles, (std::vector<PointTriangle>{{0, 1, 2}}));
}

TEST(BuildTriangleMeshFromPoints, RefusedCountsLeaveTheOutputAlone) {
  const std::vector<PointTriangle> before{{1, 2, 3}, {4, 5, 6}};
  std::vector<PointTriangle> triangles = before;
  EXPECT_EQ(BuildTriangleMeshFromPoints(triangles, {}), -1);
  EXPECT_EQ(BuildTriangleMeshFromPoints(triangles, {{0, 0}, {1, 1}}), -1);
  EXPECT_EQ(triangles, before);
  std::vector<Vector2> too_many(kMaxTriangulationPoints + 1);
  EXPECT_EQ(BuildTriangleMeshFromPoints(triangles, std::move(too_many)), -2);
  EXPECT_EQ(triangles, before);
}

TEST(VoronoiCell, RingEditsReuseFreedRecords) {
  VoronoiCell cell;
  cell.ResetToTriangle({0, -2}, {-2, 1}, {2, 1});
  EXPECT_EQ(cell.Head(), 1);
  EXPECT_EQ(cell[1].next, 2);
  EXPECT_EQ(cell[3].next, 1);
  EXPECT_EQ(cell.InsertAfter(1, {-1, -1}, 7), 4);
  EXPECT_EQ(cell[1].next, 4);
  EXPECT_EQ(cell[4].next, 2);
  EXPECT_EQ(cell[2].previous, 4);
  EXPECT_EQ(cell.InsertAfter(4, {-1.5, 0}, 8), 5);
  // Removing the head moves it on; the most recently freed record comes back first.
  cell.Remove(4);
  cell.Remove(1);
  EXPECT_EQ(cell.Head(), 5);
  EXPECT_EQ(cell[3].next, 5);
  EXPECT_EQ(cell.InsertAfter(5, {0, 0}, 9), 1);
  EXPECT_EQ(cell.InsertAfter(5, {0, 0}, 9), 4);
  EXPECT_EQ(cell.InsertAfter(5, {0, 0}, 9), 6);
  // The buffer doubles past its first records and is kept by the next reset.
  for (int i = 0; i < 40; ++i) cell.InsertAfter(5, {0, 0}, 9);
  const size_t records = cell.BufferRecords();
  EXPECT_EQ(records, 47u);
  cell.ResetToTriangle({0, -2}, {-2, 1}, {2, 1});
  EXPECT_EQ(cell.BufferRecords(), 4u);
  cell.UpdateRadius({0, 0});
  EXPECT_DOUBLE_EQ(cell.Radius(), std::sqrt(5.0));
}

// The corners of the cell ring from its head, with their edges' neighbours.
std::vector<std::pair<Vector2, int32_t>> Ring(const VoronoiCell& cell) {
  std::vector<std::pair<Vector2, int32_t>> out;
  int32_t r = cell.Head();
  do {
    out.push_back({{cell[r].x, cell[r].y}, cell[r].neighbour});
    r = cell[r].next;
  } while (r != cell.Head() && out.size() < 100);
  return out;
}

TEST(ClipCellByBisector, CutsToTheSideOfTheSite) {
  // A square cell (0, 0) .. (4, 4) around site (1, 2), made from a triangle ring.
  const auto square = [] {
    VoronoiCell cell;
    cell.ResetToTriangle({0, 0}, {0, 4}, {4, 4});
    cell.InsertAfter(3, {4, 0}, -1);
    cell.UpdateRadius({1, 2});
    return cell;
  };
  VoronoiCell cell = square();
  // The bisector to (3, 2) is x = 2: the corners at x = 4 leave the ring.
  ClipCellByBisector({3, 2}, cell, {1, 2}, 5);
  const std::vector<std::pair<Vector2, int32_t>> want = {
      {{0, 0}, -1}, {{0, 4}, -1}, {{2, 4}, 5}, {{2, 0}, -1}};
  std::vector<std::pair<Vector2, int32_t>> ring = Ring(cell);
  std::rotate(ring.begin(), std::find(ring.begin(), ring.end(), want[0]), ring.end());
  EXPECT_EQ(ring, want);
  EXPECT_DOUBLE_EQ(cell.Radius(), std::sqrt(5.0));

  // Unchanged: a bisector beyond the radius, one that misses the ring, the site itself.
  for (const Vector2& q : {Vector2{9, 2}, Vector2{7.5, 2}, Vector2{1, 2}}) {
    VoronoiCell untouched = square();
    const double radius = untouched.Radius();
    ClipCellByBisector(q, untouched, {1, 2}, 6);
    EXPECT_EQ(Ring(untouched), Ring(square())) << q.x;
    EXPECT_EQ(untouched.Radius(), radius) << q.x;
  }
}

// qhull's Delaunay triangulation of the points (qdelaunay Qt i), or false when it is not
// installed or fails.
bool QhullTriangles(const std::vector<Vector2>& points, std::set<Triple>& out) {
  const char* qdelaunay = "/usr/bin/qdelaunay";
  if (::access(qdelaunay, X_OK) != 0) return false;
  kxtest::TempDir dir;
  {
    std::ofstream in(dir.File("in.txt"));
    in.precision(17);
    in << "2\n" << points.size() << "\n";
    for (const Vector2& p : points) in << p.x << " " << p.y << "\n";
  }
  const std::string command = std::string(qdelaunay) + " Qt i < '" + dir.File("in.txt") + "' > '" +
                              dir.File("out.txt") + "'";
  if (std::system(command.c_str()) != 0) return false;
  std::ifstream result(dir.File("out.txt"));
  size_t count = 0;
  result >> count;
  for (size_t i = 0; i < count; ++i) {
    Triple t{};
    result >> t[0] >> t[1] >> t[2];
    out.insert(Sorted(t));
  }
  return static_cast<bool>(result) && out.size() == count;
}

// The circumcentre's distance from the points' mean, in units of R (the largest distance
// from the mean to a point).
double CircumcentreDistance(const Triple& t, const std::vector<Vector2>& points) {
  Vector2 c;
  for (const Vector2& p : points) c += p;
  c *= 1.0 / static_cast<double>(points.size());
  double r = 0.0;
  for (const Vector2& p : points) r = std::max(r, (p - c).Length());
  const Vector2 a = points[t[0]], b = points[t[1]] - a, d = points[t[2]] - a;
  const double den = 2.0 * Cross(b, d);
  const Vector2 o{a.x + (d.y * b.SquaredLength() - b.y * d.SquaredLength()) / den,
                  a.y + (b.x * d.SquaredLength() - d.x * b.SquaredLength()) / den};
  return (o - c).Length() / r;
}

// How far the point lying deepest inside the triangle's circumcircle is inside: the
// largest in-circle determinant over the other points, relative to the size of its terms
// (long double; above 0: inside, 0: on the circle).
double DeepestInCircle(const Triple& t, const std::vector<Vector2>& points) {
  const Vector2 &a = points[t[0]], &b = points[t[1]], &c = points[t[2]];
  const long double orientation = (static_cast<long double>(b.x) - a.x) * (c.y - a.y) -
                                  (static_cast<long double>(b.y) - a.y) * (c.x - a.x);
  double deepest = -1.0;
  for (size_t i = 0; i < points.size(); ++i) {
    if (i == t[0] || i == t[1] || i == t[2]) continue;
    const Vector2& d = points[i];
    const long double ax = a.x - static_cast<long double>(d.x),
                      ay = a.y - static_cast<long double>(d.y);
    const long double bx = b.x - static_cast<long double>(d.x),
                      by = b.y - static_cast<long double>(d.y);
    const long double cx = c.x - static_cast<long double>(d.x),
                      cy = c.y - static_cast<long double>(d.y);
    const long double terms[3] = {(ax * ax + ay * ay) * (bx * cy - cx * by),
                                  -(bx * bx + by * by) * (ax * cy - cx * ay),
                                  (cx * cx + cy * cy) * (ax * by - bx * ay)};
    const long double size = std::fabs(terms[0]) + std::fabs(terms[1]) + std::fabs(terms[2]);
    if (size == 0) continue;
    const long double det = (terms[0] + terms[1] + terms[2]) / size;
    deepest = std::max(deepest, static_cast<double>(orientation > 0 ? det : -det));
  }
  return deepest;
}

TEST(BuildTriangleMeshFromPoints, MatchesQhullsDelaunayTriangulation) {
  std::mt19937_64 random(55);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<Vector2> uniform(3000);
  for (Vector2& p : uniform) p = {10.0 * unit(random), 4.0 * unit(random) - 2.0};
  // Tight clusters of very different spread with a few points far between them.
  std::vector<Vector2> clustered;
  const Vector2 centres[] = {{0, 0}, {5, 1}, {1, 7}, {-40, 3}};
  const double spreads[] = {0.01, 0.3, 1.0, 0.001};
  for (int k = 0; k < 4; ++k) {
    for (int i = 0; i < 700; ++i) {
      clustered.push_back(centres[k] + Vector2{normal(random), normal(random)} * spreads[k]);
    }
  }
  for (int i = 0; i < 20; ++i) clustered.push_back({60 * unit(random) - 45, 20 * unit(random)});

  for (const auto* points : {&uniform, &clustered}) {
    std::set<Triple> peer;
    if (!QhullTriangles(*points, peer)) GTEST_SKIP() << "qdelaunay (qhull-bin) is missing";
    std::vector<PointTriangle> triangles;
    ASSERT_EQ(BuildTriangleMeshFromPoints(triangles, *points), 0);
    ExpectClockwiseAndOrdered(triangles, *points);
    const std::set<Triple> ours = AsSet(triangles);
    EXPECT_EQ(ours.size(), triangles.size());
    std::vector<Triple> extra, missing;
    std::set_difference(ours.begin(), ours.end(), peer.begin(), peer.end(),
                        std::back_inserter(extra));
    std::set_difference(peer.begin(), peer.end(), ours.begin(), ours.end(),
                        std::back_inserter(missing));
    // Where the two differ, an in-circle test in long double decides: each triangle of
    // ours that qhull lacks has no point inside its circumcircle (qhull's lifting to the
    // paraboloid loses digits in a tiny cluster far from the origin), and each of qhull's
    // that we lack has one inside or on it, or is a hull sliver whose circumcentre lies
    // beyond the bounding triangle (whose inscribed circle has radius 100 R).
    constexpr double kTolerance = 1e-9;
    for (const Triple& t : extra) {
      EXPECT_LT(DeepestInCircle(t, *points), kTolerance) << t[0] << " " << t[1] << " " << t[2];
    }
    int slivers = 0;
    for (const Triple& t : missing) {
      if (CircumcentreDistance(t, *points) > 99.0) {
        ++slivers;
        continue;
      }
      EXPECT_GT(DeepestInCircle(t, *points), -kTolerance) << t[0] << " " << t[1] << " " << t[2];
    }
    EXPECT_LT(missing.size(), 20u);
    EXPECT_LE(extra.size(), 8u);
    const std::string set = points == &uniform ? "uniform" : "clustered";
    RecordProperty(set + "_hull_slivers_left_out", slivers);
    RecordProperty(set + "_non_delaunay_in_qhull", static_cast<int>(missing.size()) - slivers);
  }
}

}  // namespace
