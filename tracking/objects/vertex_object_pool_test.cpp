#include "tracking/objects/vertex_object_pool.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/log_capture.h"

namespace {

using vm::Vector3;

// Drawn vertices as the tools hand them over: each keyed at frame 0.
std::vector<Vertex> Drawn(const std::vector<Vector3>& points) {
  std::vector<Vertex> vertices(points.size());
  for (size_t i = 0; i < points.size(); ++i) vertices[i].SetKey(0, points[i]);
  return vertices;
}

std::vector<Vector3> PositionsAt(const VertexObject& o, int frame) {
  std::vector<Vector3> out;
  o.GetVertexPositions(out, unsigned(frame));
  return out;
}

const Vertex* Nth(const VertexObject& o, int n) {
  return &*std::next(o.GetVertices().begin(), n);
}

TEST(VertexObjectPoolTest, PolygonMasksNeedThreeVerticesAndTakeFrameZero) {
  kxtest::LogCapture log(5);
  VertexObjectPool pool;
  EXPECT_EQ(pool.AddPolygonMask(100, Drawn({{0, 0, 0}, {1, 0, 0}}), 7), nullptr);
  EXPECT_TRUE(log.Has("VertexObjectPool::AddPolygonMask: less than 3 polygon vertices"));
  EXPECT_TRUE(pool.GetPolygonMasks().empty());

  std::vector<Vertex> given = Drawn({{0, 0, 0}, {4, 0, 0}, {0, 4, 0}});
  given[1].SetKey(10, {9, 9, 0});  // only its value at frame 0 is taken
  PolygonMask* mask = pool.AddPolygonMask(100, given, 7);
  ASSERT_NE(mask, nullptr);
  EXPECT_EQ(mask, &pool.GetPolygonMasks().back());
  EXPECT_EQ(mask->GetStartIndex(), 0);
  EXPECT_EQ(mask->GetEndIndex(), 99);
  EXPECT_EQ(mask->GetColor().b, 0.5);
  int frame = 0;
  for (const Vertex& v : mask->GetVertices()) {
    EXPECT_EQ(v.GetNumKeys(), 1);
    EXPECT_TRUE(v.GetKey(0, &frame, nullptr));
    EXPECT_EQ(frame, 7);
  }
  EXPECT_EQ(PositionsAt(*mask, 50), (std::vector<Vector3>{{0, 0, 0}, {4, 0, 0}, {0, 4, 0}}));

  PolygonMask* empty_range = pool.AddPolygonMask(0, given, 0);
  ASSERT_NE(empty_range, nullptr);
  EXPECT_TRUE(log.Has("VertexObject::SetIndexRange: start > end (0 < -1)"));
  EXPECT_EQ(empty_range->GetStartIndex(), 0);
  EXPECT_EQ(empty_range->GetEndIndex(), 0);
  EXPECT_EQ(pool.GetPolygonMasks().size(), 2u);
}

TEST(VertexObjectPoolTest, LineStripRanges) {
  struct Case {
    int start, end;
    int want_start, want_end;
    bool refused;
  };
  const Case cases[] = {
      {-1, -1, 12, 12, false}, {3, -1, 3, 12, false}, {-1, 20, 12, 20, false},
      {2, 9, 2, 9, false},     {8, 3, 0, 0, true},
  };
  VertexObjectPool pool;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << ", " << c.end);
    kxtest::LogCapture log(5);
    LineStrip* line = pool.AddLineStrip(Drawn({{0, 0, 0}, {5, 5, 0}}), 12, c.start, c.end);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->GetStartIndex(), c.want_start);
    EXPECT_EQ(line->GetEndIndex(), c.want_end);
    EXPECT_EQ(log.Has("VertexObject::SetIndexRange: start > end (8 < 3)"), c.refused);
    EXPECT_EQ(line->GetColor().r, 0.5);
  }
  kxtest::LogCapture log(5);
  EXPECT_EQ(pool.AddLineStrip(Drawn({{0, 0, 0}}), 0, 0, 0), nullptr);
  EXPECT_TRUE(log.Has("VertexObjectPool::AddLineStrip: less than 2  vertices"));
}

TEST(VertexObjectPoolTest, InsertedVertexSplitsTheNearestEdge) {
  struct Case {
    const char* name;
    Vector3 point;
    int index;  // of the new vertex in the list
  };
  const Case cases[] = {
      {"bottom edge", {5, 0.5, 0}, 1},
      {"right edge", {9.5, 5, 0}, 2},
      {"left edge", {0.5, 5, 0}, 0},  // before the first: between the last and the first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VertexObjectPool pool;
    PolygonMask* mask =
        pool.AddPolygonMask(100, Drawn({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}), 0);
    // A second key moves the square by (5, 0) at frame 10.
    for (Vertex& v : mask->GetVertices()) {
      Vector3 p;
      v.GetValue(&p, 0);
      v.SetKey(10, p + Vector3{5, 0, 0});
    }
    const std::vector<Vector3> before = PositionsAt(*mask, 0);
    ASSERT_EQ(pool.InsertMaskVertex(c.point, 0), 0);
    ASSERT_EQ(mask->GetNumVertices(), 5);

    std::vector<Vector3> want = before;
    want.insert(want.begin() + c.index, c.point);
    EXPECT_EQ(PositionsAt(*mask, 0), want);
    // Elsewhere it moves like the vertex it was inserted before.
    Vector3 at10;
    ASSERT_TRUE(mask->GetVertexPosition(&at10, Nth(*mask, c.index), 10));
    EXPECT_EQ(at10, (c.point + Vector3{5, 0, 0}));
    EXPECT_NE(Nth(*mask, c.index)->GetUID(), Nth(*mask, c.index + 1)->GetUID());
  }

  kxtest::LogCapture log(5);
  VertexObjectPool pool;
  pool.AddLineStrip(Drawn({{0, 0, 0}, {5, 5, 0}}), 0, -1, -1);
  EXPECT_EQ(pool.InsertMaskVertex({1, 1, 0}, 0), -1);
  EXPECT_TRUE(log.Has("VertexObjectPool::InsertMaskVertex: no vertex list found"));
}

// A pool with a triangle mask, a quadrilateral mask, a two-point line and a gizmo.
struct PoolWithObjects : testing::Test {
  void SetUp() override {
    triangle = pool.AddPolygonMask(10, Drawn({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}), 0);
    quad = pool.AddPolygonMask(10, Drawn({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}), 0);
    line = pool.AddLineStrip(Drawn({{0, 0, 0}, {5, 5, 0}}), 0, 0, 10);
    gizmo = &pool.GetFocalGizmos().emplace_back();
    for (int i = 0; i < 12; ++i) gizmo->AddVertex({double(i), 0, 0}, 0);
  }
  static UIDBase* Entry(const VertexObject* o, int n) { return const_cast<Vertex*>(Nth(*o, n)); }

  VertexObjectPool pool;
  PolygonMask* triangle = nullptr;
  PolygonMask* quad = nullptr;
  LineStrip* line = nullptr;
  FocalGizmo* gizmo = nullptr;
};

TEST_F(PoolWithObjects, DeleteSelectionRemovesVerticesAndEmptiedObjects) {
  // The triangle's second entry points into a mask the first entry removes.
  const std::vector<UIDBase*> selection = {Entry(triangle, 0), Entry(triangle, 1), quad,
                                           Entry(quad, 2), Entry(gizmo, 3)};
  EXPECT_TRUE(pool.DeleteSelection(selection));
  ASSERT_EQ(pool.GetPolygonMasks().size(), 1u);
  EXPECT_EQ(&pool.GetPolygonMasks().front(), quad);
  EXPECT_EQ(PositionsAt(*quad, 0), (std::vector<Vector3>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}));
  EXPECT_EQ(gizmo->GetNumVertices(), 12);

  EXPECT_TRUE(pool.DeleteSelection({Entry(line, 1)}));
  EXPECT_TRUE(pool.GetLineStrips().empty());
}

TEST_F(PoolWithObjects, DeleteSelectionStopsAtAForeignEntry) {
  UIDBase feature(UID_TYPE_FEATURE_POINT_2D);
  const Vertex* kept = Nth(*quad, 1);
  EXPECT_FALSE(pool.DeleteSelection({Entry(quad, 0), &feature, Entry(quad, 1)}));
  EXPECT_EQ(quad->GetNumVertices(), 3);
  EXPECT_TRUE(quad->HasVertex(kept));
  EXPECT_FALSE(pool.DeleteSelection({nullptr}));
  Vertex loose;  // in no object: handled, nothing removed
  EXPECT_TRUE(pool.DeleteSelection({&loose}));
  EXPECT_EQ(pool.GetPolygonMasks().size(), 2u);
}

TEST_F(PoolWithObjects, FindRemoveAndClear) {
  EXPECT_EQ(pool.FindObjectOfVertex(Nth(*quad, 3)), quad);
  EXPECT_EQ(pool.FindObjectOfVertex(Nth(*line, 0)), line);
  EXPECT_EQ(pool.FindObjectOfVertex(Nth(*gizmo, 11)), gizmo);
  Vertex loose;
  EXPECT_EQ(pool.FindObjectOfVertex(&loose), nullptr);

  UIDRegistry& registry = UIDRegistry::Instance();
  registry.SetSelected(quad->GetUID(), true);
  registry.SetSelected(Nth(*line, 1)->GetUID(), true);
  registry.SetSelected(Nth(*gizmo, 0)->GetUID(), true);
  pool.ClearSelection();
  EXPECT_FALSE(registry.IsSelected(quad->GetUID()));
  EXPECT_FALSE(registry.IsSelected(Nth(*line, 1)->GetUID()));
  EXPECT_FALSE(registry.IsSelected(Nth(*gizmo, 0)->GetUID()));

  const int32_t triangle_id = triangle->GetUID();
  const int32_t corner_id = Nth(*triangle, 0)->GetUID();
  EXPECT_TRUE(pool.RemoveObject(triangle));
  EXPECT_FALSE(pool.RemoveObject(triangle));
  EXPECT_EQ(registry.GetObject(triangle_id), nullptr);
  EXPECT_EQ(registry.GetObject(corner_id), nullptr);

  pool.ClearLineStrips();
  EXPECT_TRUE(pool.GetLineStrips().empty());
  EXPECT_EQ(pool.GetPolygonMasks().size(), 1u);
  EXPECT_TRUE(pool.RemoveObject(gizmo));
  pool.Clear();
  EXPECT_TRUE(pool.GetPolygonMasks().empty());
}

}  // namespace
