#include "scene/objects/draw_rules.h"

#include <gtest/gtest.h>

#include <vector>

#include "scene/objects/serializer.h"
#include "scene/objects/subdivision.h"

namespace {

TEST(SurfaceColors, SelectionHalvesTheFillAndOutlinesOpaque) {
  struct Case {
    uint32_t color;
    bool selected;
    uint32_t fill, outline;
  } cases[] = {
      {0xff336699, false, 0xff336699, 0},         {0x40336699, false, 0x40336699, 0},
      {0xff336699, true, 0x7f336699, 0xff336699},  // opaque: half-transparent fill
      {0x40336699, true, 0x4099b3cc, 0xff336699},  // translucent: halfway to white
      {0x00000000, true, 0x00808080, 0xff000000},
  };
  for (const Case& c : cases) {
    const SurfaceColors s = GetSurfaceColors(c.color, c.selected);
    EXPECT_EQ(s.fill, c.fill) << std::hex << c.color;
    EXPECT_EQ(s.outline, c.outline) << std::hex << c.color;
  }
}

TEST(SurfaceColors, GreyBlendRoundsEachChannelUpTowards0x60) {
  struct Case {
    uint32_t color, grey;
  } cases[] = {
      {0xff000000, 0xff303030}, {0x80ffffff, 0x80b0b0b0}, {0xff616263, 0xff616162},
      {0x12010203, 0x12313132}, {0xffff0060, 0xffb03060},
  };
  for (const Case& c : cases) EXPECT_EQ(GreyBlend(c.color), c.grey) << std::hex << c.color;
}

TEST(EdgeSlotTable, RecordsEachEdgeOnceEitherWay) {
  std::vector<int32_t> slots;
  EdgeSlotTable table(slots);
  table.Reset(8);
  EXPECT_TRUE(table.AddEdgeOnce(5, 2));
  EXPECT_FALSE(table.AddEdgeOnce(2, 5));
  EXPECT_TRUE(table.AddEdge(1, 3));
  EXPECT_TRUE(table.AddEdge(3, 1));
  EXPECT_EQ(table.CountEdge(1, 3), 2);
  EXPECT_EQ(table.CountEdge(2, 5), 1);
  EXPECT_EQ(table.CountEdge(2, 6), 0);
}

TEST(EdgeSlotTable, FullOrTooSmallTablesDrawAgainRatherThanLose) {
  std::vector<int32_t> slots;
  EdgeSlotTable table(slots);
  table.Reset(40);
  for (int b = 1; b <= EdgeSlotTable::kSlots; ++b) ASSERT_TRUE(table.AddEdgeOnce(0, b));
  EXPECT_TRUE(table.AddEdgeOnce(0, 30));  // no room: drawn, not stored
  EXPECT_TRUE(table.AddEdgeOnce(0, 30));
  EXPECT_FALSE(table.AddEdge(0, 30));
  EXPECT_FALSE(table.AddEdgeOnce(0, 16));  // stored ones still found
  // Vertices beyond the table, and negative ones.
  EXPECT_TRUE(table.AddEdgeOnce(40, 41));
  EXPECT_TRUE(table.AddEdgeOnce(-1, 3));
  EXPECT_FALSE(table.AddEdge(40, 41));
  EXPECT_EQ(table.CountEdge(40, 41), 0);
}

TEST(Subdivision, SharedEdgesShareTheirMidpoint) {
  // A tetrahedron: four triangles become sixteen over 4 + 6 vertices.
  std::vector<vm::Vector3> v(10);
  v[0] = {1, 1, 1}, v[1] = {1, -1, -1}, v[2] = {-1, 1, -1}, v[3] = {-1, -1, 1};
  std::vector<uint16_t> tri = {0, 1, 2, 0, 3, 1, 0, 2, 3, 1, 3, 2};
  tri.resize(4 * 12);
  std::vector<uint16_t> table(4 * kMidpointEntries);
  const int n = SubdivideTriangles(tri.data(), 4, v.data(), 4, table.data());
  EXPECT_EQ(n, 10);
  // Midpoints hold the sum of their ends; the first child keeps the parent's corner a.
  EXPECT_EQ(tri[0], 0);
  EXPECT_EQ(v[tri[1]], v[0] + v[1]);
  EXPECT_EQ(v[tri[2]], v[2] + v[0]);
  // (ab, b, bc) of the first triangle.
  EXPECT_EQ(tri[7], 1);
}

TEST(Subdivision, MoreThanEightNeighboursDoNotOverrunTheTable) {
  std::vector<vm::Vector3> v(32, vm::Vector3{1, 0, 0});
  std::vector<uint16_t> table(12 * kMidpointEntries, kNoMidpoint);
  int next = 12;
  for (int b = 1; b <= 10; ++b) GetMidpointVertex(next, v.data(), table.data(), 0, b);
  EXPECT_EQ(next, 22);
  // The first eight are found again; the ninth and tenth were not recorded.
  EXPECT_EQ(GetMidpointVertex(next, v.data(), table.data(), 8, 0), 19);
  EXPECT_EQ(next, 22);
  EXPECT_EQ(GetMidpointVertex(next, v.data(), table.data(), 0, 9), 22);
  EXPECT_EQ(table[kMidpointEntries], kNoMidpoint);  // vertex 1's pairs untouched
}

TEST(SerializerValues, FloatsVectorsAndBlocks) {
  Serializer::Writer w;
  w.PutFloat(0.5);
  w.PutVector2({1.0, -2.0});
  w.PutVector3({3.0, 4.0, 5.25});
  const uint32_t block[] = {7, 8, 9};
  w.PutBlock(block, 3);
  EXPECT_EQ(w.Words(), (std::vector<uint32_t>{0x3f000000, 0x3f800000, 0xc0000000, 0x40400000,
                                              0x40800000, 0x40a80000, 0x00000004, 3, 7, 8, 9}));
  Serializer::Reader r(w.Words());
  EXPECT_EQ(r.ReadFloat(), 0.5);
  EXPECT_EQ(r.ReadVector2(), (vm::Vector2{1.0, -2.0}));
  EXPECT_EQ(r.ReadVector3(), (vm::Vector3{3.0, 4.0, 5.25}));
  const Serializer::Reader::Block b = r.ReadBlock();
  ASSERT_EQ(b.count, 3u);
  EXPECT_EQ(b.words[2], 9u);
  EXPECT_EQ(r.Remaining(), 0u);
}

TEST(SerializerValues, ErrorsOfShortOrWrongData) {
  using Words = std::vector<uint32_t>;
  struct Case {
    Words words;
    int what;  // 0 float, 1 vector2, 2 vector3, 3 block
    int error;
  } cases[] = {
      {{}, 0, Serializer::ERROR_VALUE_PAST_END},
      {{1}, 1, Serializer::ERROR_VALUE_PAST_END},
      {{1, 2}, 2, Serializer::ERROR_VALUE_PAST_END},
      {{Serializer::MakeHeader(3, 0), 0}, 3, Serializer::ERROR_WRONG_KIND},
      {{Serializer::MakeHeader(4, 1), 0}, 3, Serializer::ERROR_BLOCK_SIZE},
      {{Serializer::MakeHeader(4, 0), 3, 1, 2}, 3, Serializer::ERROR_SKIP_PAST_END},
      {{Serializer::MakeHeader(4, 0), 0xffffffff}, 3, Serializer::ERROR_SKIP_PAST_END},
  };
  for (const Case& c : cases) {
    Serializer::Reader r(c.words);
    int error = 0;
    try {
      if (c.what == 0) r.ReadFloat();
      if (c.what == 1) r.ReadVector2();
      if (c.what == 2) r.ReadVector3();
      if (c.what == 3) r.ReadBlock();
    } catch (Serializer::Error e) {
      error = e;
    }
    EXPECT_EQ(error, c.error) << c.what;
  }
}

}  // namespace
