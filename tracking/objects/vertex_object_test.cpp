#include "tracking/objects/vertex_object.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "testing/log_capture.h"

namespace {

using vm::Vector3;

// An object with one vertex per point, each keyed at `frame`, active on [0, 100].
template <typename T = VertexObject>
T Shape(const std::vector<Vector3>& points, int frame = 0) {
  T object;
  object.SetEndIndex(100);
  for (const Vector3& p : points) object.AddVertex(p, frame);
  return object;
}

TEST(VertexObjectTest, FrameRangeRefusesCrossedBounds) {
  kxtest::LogCapture log(5);
  VertexObject o;
  o.AddVertex({1, 2, 0}, 0);
  o.SetStartIndex(5);
  EXPECT_TRUE(log.Has("VertexObject::SetStartIndex: start > end (5 < 0)"));
  EXPECT_EQ(o.GetStartIndex(), 0);
  o.SetEndIndex(10);
  o.SetStartIndex(5);
  EXPECT_EQ(o.GetStartIndex(), 5);
  o.SetEndIndex(3);
  EXPECT_TRUE(log.Has("VertexObject::SetEndIndex: end < start (3 < 5)"));
  EXPECT_EQ(o.GetEndIndex(), 10);

  struct Case {
    unsigned frame;
    int active;
  };
  for (const Case& c : {Case{4, 0}, Case{5, 1}, Case{10, 1}, Case{11, 0}, Case{~0u, 0}}) {
    SCOPED_TRACE(c.frame);
    EXPECT_EQ(o.IsActiveAt(c.frame), c.active);
  }
  // The bounds compare unsigned: a negative start is never reached.
  o.SetStartIndex(-1);
  EXPECT_EQ(o.IsActiveAt(0), 0);
  EXPECT_FALSE(o.SetIndexRange(4, 2));
  EXPECT_TRUE(log.Has("VertexObject::SetIndexRange: start > end (4 < 2)"));
  EXPECT_EQ(o.GetStartIndex(), -1);
}

TEST(VertexObjectTest, PositionsOnlyForOwnKeyedVerticesInRange) {
  kxtest::LogCapture log(5);
  VertexObject o = Shape({{1, 1, 0}, {2, 2, 0}});
  o.SetStartIndex(10);
  Vertex& first = o.GetVertices().front();
  o.SetVertexPosition(&first, {3, 3, 0}, 20);
  Vertex& keyless = o.GetVertices().emplace_back();
  Vertex foreign;
  foreign.SetKey(15, {9, 9, 9});
  o.SetVertexPosition(&foreign, {0, 0, 0}, 15);
  o.SetVertexPosition(nullptr, {0, 0, 0}, 15);
  EXPECT_TRUE(log.Has("VertexObject::SetVertexPosition: bad vertex, null or not part of object."));
  EXPECT_EQ(foreign.GetNumKeys(), 1);

  Vector3 p;
  EXPECT_FALSE(o.GetVertexPosition(nullptr, &first, 15));
  EXPECT_FALSE(o.GetVertexPosition(&p, &foreign, 15));
  EXPECT_FALSE(o.GetVertexPosition(&p, &keyless, 15));
  EXPECT_FALSE(o.GetVertexPosition(&p, &first, 9));
  ASSERT_TRUE(o.GetVertexPosition(&p, &first, 10));  // between the keys at 0 and 20
  EXPECT_EQ(p, (Vector3{2, 2, 0}));

  std::vector<Vector3> all{{7, 7, 7}};
  EXPECT_EQ(o.GetVertexPositions(all, 5), 0);
  EXPECT_TRUE(all.empty());
  EXPECT_EQ(o.GetVertexPositions(all, 30), 2);  // the keyless vertex is left out
  EXPECT_EQ(all, (std::vector<Vector3>{{3, 3, 0}, {2, 2, 0}}));

  EXPECT_TRUE(o.RemoveVertex(&keyless));
  EXPECT_FALSE(o.RemoveVertex(&foreign));
  EXPECT_EQ(o.GetNumVertices(), 2);
}

TEST(VertexObjectTest, KeyframesMoveAndGo) {
  VertexObject o = Shape({{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, 4);
  o.SetVertexPosition(&o.GetVertices().back(), {0, 8, 0}, 9);
  o.SetVertexPosition(&o.GetVertices().front(), {0, 5, 0}, 6);

  EXPECT_EQ(o.MoveKeyframe(4, 4), 0);
  EXPECT_EQ(o.MoveKeyframe(3, 7), 0);
  // The last vertex's key at 4 replaces its key at 9.
  EXPECT_EQ(o.MoveKeyframe(4, 9), 3);
  for (const Vertex& v : o.GetVertices()) EXPECT_EQ(v.FindKeyIndex(4), -1);
  Vector3 p;
  const Vertex& last = o.GetVertices().back();
  EXPECT_EQ(last.GetNumKeys(), 1);
  EXPECT_EQ(last.GetValue(&p, 9), Vertex::kExactKey);
  EXPECT_EQ(p, (Vector3{3, 0, 0}));
  // The first vertex keeps its key at 6 and now ends at 9.
  EXPECT_EQ(o.GetVertices().front().GetNumKeys(), 2);

  EXPECT_EQ(o.RemoveKeyframe(6), 1);
  EXPECT_EQ(o.RemoveKeyframe(6), 0);
  EXPECT_EQ(o.RemoveKeyframe(9), 3);
  for (const Vertex& v : o.GetVertices()) EXPECT_FALSE(v.HasKeys());
}

TEST(VertexObjectTest, SquareEdgesFollowTheHalfOpenRule) {
  const VertexObject square = Shape({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
  struct Case {
    double x, y;
    bool inside;
  };
  const Case cases[] = {
      {0.5, 0.5, true},   {1.0, 0.5, true},  // right edge
      {0.0, 0.5, false},                     // left edge
      {0.5, 0.0, true},   {0.5, 1.0, false},  {1.5, 0.5, false},
      {-0.5, 0.5, false}, {0.5, -0.1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
    EXPECT_EQ(square.IsInside(c.x, c.y, 0), c.inside);
  }
  // Two keyed points make no area.
  EXPECT_FALSE(Shape({{0, 0, 0}, {1, 1, 0}}).IsInside(0.5, 0.5, 0));
}

// Sunday's winding number: upward crossings of the ray towards +x count +1, downward -1.
// Its parity is the even-odd count, also for self-intersecting polygons.
int WindingNumber(const std::vector<Vector3>& poly, double x, double y) {
  int wn = 0;
  for (size_t i = 0; i < poly.size(); ++i) {
    const Vector3& a = poly[i];
    const Vector3& b = poly[(i + 1) % poly.size()];
    const double side = (b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y);
    if (a.y <= y && b.y > y && side > 0) ++wn;
    if (a.y > y && b.y <= y && side < 0) --wn;
  }
  return wn;
}

// Distance to a segment through the clamped-free projection parameter; < 0 when the
// point does not project onto the segment.
double SegmentDistance(const Vector3& a, const Vector3& b, double x, double y) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double t = ((x - a.x) * dx + (y - a.y) * dy) / (dx * dx + dy * dy);
  if (t < 0 || t > 1) return -1;
  return std::hypot(x - (a.x + t * dx), y - (a.y + t * dy));
}

double EdgeDistance(const std::vector<Vector3>& poly, double x, double y) {
  double best = 1e300;
  for (size_t i = 0; i < poly.size(); ++i) {
    const Vector3& a = poly[i];
    const Vector3& b = poly[(i + 1) % poly.size()];
    const double d = SegmentDistance(a, b, x, y);
    best = std::fmin(
        best, d >= 0 ? d : std::fmin(std::hypot(x - a.x, y - a.y), std::hypot(x - b.x, y - b.y)));
  }
  return best;
}

TEST(VertexObjectTest, RandomPolygonsAgreeWithWindingParity) {
  std::mt19937 rng(31);
  std::uniform_real_distribution<double> coord(-10, 10);
  std::uniform_int_distribution<int> count(3, 12);
  int inside = 0, outside = 0;
  for (int round = 0; round < 200; ++round) {
    std::vector<Vector3> poly(count(rng));
    for (Vector3& p : poly) p = {coord(rng), coord(rng), 0};
    const VertexObject o = Shape(poly);
    for (int k = 0; k < 50; ++k) {
      const double x = coord(rng), y = coord(rng);
      if (EdgeDistance(poly, x, y) < 1e-6) continue;
      const bool want = WindingNumber(poly, x, y) % 2 != 0;
      ASSERT_EQ(o.IsInside(x, y, 0), want) << "round " << round << " at " << x << ", " << y;
      ++(want ? inside : outside);
    }
  }
  EXPECT_GT(inside, 1000);
  EXPECT_GT(outside, 1000);
}

TEST(VertexObjectTest, RandomPolylineDistancesAgreeWithProjection) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> coord(-10, 10);
  std::uniform_int_distribution<int> count(2, 8);
  int none = 0;
  for (int round = 0; round < 200; ++round) {
    std::vector<Vector3> line(count(rng));
    for (Vector3& p : line) p = {coord(rng), coord(rng), 0};
    const VertexObject o = Shape(line);
    for (int k = 0; k < 20; ++k) {
      const double x = coord(rng), y = coord(rng);
      double want = 1e16;
      for (size_t i = 0; i + 1 < line.size(); ++i) {
        const double d = SegmentDistance(line[i], line[i + 1], x, y);
        if (d >= 0) want = std::fmin(want, d);
      }
      none += want == 1e16;
      ASSERT_NEAR(o.GetDistanceToPolyline(x, y, 0), want, 1e-9) << "round " << round;
    }
  }
  EXPECT_GT(none, 0);  // points beyond the ends were met too
}

TEST(VertexObjectTest, DistanceEdgeCases) {
  EXPECT_EQ(Shape({{5, 5, 0}}).GetDistanceToPolyline(5, 5, 0), 1e16);
  EXPECT_EQ(Shape({{0, 0, 0}, {1, 0, 0}}).GetDistanceToPolyline(2, 1, 0), 1e16);
  // A segment of length 0 is as near as its point, not at distance 0 from everything.
  EXPECT_DOUBLE_EQ(Shape({{5, 5, 0}, {5, 5, 0}}).GetDistanceToPolyline(8, 9, 0), 5.0);
  EXPECT_DOUBLE_EQ(Shape({{0, 0, 0}, {0, 0, 0}, {10, 0, 0}}).GetDistanceToPolyline(4, 3, 0), 3.0);
  // Outside the frame range there is no polyline.
  VertexObject late = Shape({{0, 0, 0}, {10, 0, 0}});
  late.SetStartIndex(50);
  EXPECT_EQ(late.GetDistanceToPolyline(4, 3, 0), 1e16);
}

TEST(VertexObjectTest, IdsFollowLifetimeAndCopies) {
  UIDRegistry& registry = UIDRegistry::Instance();
  int32_t object_id = 0, vertex_id = 0;
  {
    PolygonMask mask = Shape<PolygonMask>({{1, 2, 0}, {3, 4, 0}, {5, 6, 0}});
    mask.SetName("hood");
    mask.SetMProp(2);
    mask.SetMHTProp(1);
    mask.SetColor({0.1, 0.2, 0.3, 0.4});
    mask.SetFlags(VERTEX_OBJECT_HAS_COLOR);
    object_id = mask.GetUID();
    const Vertex& first = mask.GetVertices().front();
    vertex_id = first.GetUID();
    EXPECT_EQ(mask.GetUIDType(), UID_TYPE_VERTEX_OBJECT);
    EXPECT_EQ(first.GetUIDType(), UID_TYPE_VERTEX);
    EXPECT_EQ(registry.GetObject(object_id), static_cast<UIDBase*>(&mask));
    EXPECT_EQ(registry.GetObject(vertex_id), static_cast<const UIDBase*>(&first));

    const PolygonMask copy = mask;
    EXPECT_NE(copy.GetUID(), object_id);
    EXPECT_NE(copy.GetVertices().front().GetUID(), vertex_id);
    EXPECT_EQ(registry.GetObject(copy.GetVertices().front().GetUID()),
              static_cast<const UIDBase*>(&copy.GetVertices().front()));
    EXPECT_EQ(copy.GetName(), "hood");
    EXPECT_EQ(copy.GetMProp(), 2);
    EXPECT_EQ(copy.GetMHTProp(), 1);
    EXPECT_EQ(copy.GetColor().b, 0.3);
    EXPECT_EQ(copy.GetFlags(), uint32_t(VERTEX_OBJECT_HAS_COLOR));
    EXPECT_EQ(copy.GetEndIndex(), 100);
    std::vector<Vector3> a, b;
    mask.GetVertexPositions(a, 0);
    copy.GetVertexPositions(b, 0);
    EXPECT_EQ(a, b);

    mask.Clear();
    EXPECT_EQ(mask.GetNumVertices(), 0);
    EXPECT_EQ(mask.GetName(), "");
    EXPECT_EQ(mask.GetEndIndex(), 100);
    EXPECT_EQ(registry.GetObject(vertex_id), nullptr);
  }
  EXPECT_EQ(registry.GetObject(object_id), nullptr);

  const PolygonMask mask;
  const LineStrip line;
  EXPECT_EQ(mask.GetColor().a, 0.5);
  EXPECT_EQ(mask.GetColor().b, 0.5);
  EXPECT_EQ(line.GetColor().r, 0.5);
  EXPECT_EQ(line.GetColor().a, 1.0);
}

}  // namespace
