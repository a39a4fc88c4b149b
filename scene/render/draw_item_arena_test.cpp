#include "scene/render/draw_item_arena.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Items are named by their left edge.
int Name(const DrawItemArena& arena, std::int32_t offset) {
  return static_cast<int>(static_cast<const NHSDrawItem_SpanSeg&>(arena.ItemAt(offset)).left_x);
}

// The marker centres (used as names) of a row's entries.
std::vector<int> Names(const DrawItemArena& arena, int row, bool translucent) {
  std::vector<int> names;
  const DrawItemArena::Entries e = arena.RowEntries(row, translucent);
  for (const std::int32_t* it = e.begin; it != e.end; ++it) names.push_back(Name(arena, *it));
  return names;
}

constexpr ItemColor kTranslucent = 1032ull << 48;

void AddNamed(DrawItemArena& arena, int name, int first, int end, ItemColor c = 0) {
  arena.Add<NHSDrawItem_SpanSeg>(first, end, name, 0.5, name + 1.0, 0.5, 0.0, 0.0, 0.0, 0.0, 0.0,
                                 c);
}

TEST(DrawItemArena, GrowsByDoublingAndKeepsItsItems) {
  DrawItemArena arena;
  EXPECT_EQ(arena.Capacity(), 0u);
  std::vector<std::size_t> capacities;
  int n = 0;
  while (arena.Used() < 40000) {
    AddNamed(arena, n++, 0, 1);
    if (capacities.empty() || capacities.back() != arena.Capacity()) {
      capacities.push_back(arena.Capacity());
    }
  }
  EXPECT_EQ(capacities, (std::vector<std::size_t>{16384, 32768, 65536}));
  const std::size_t record = DrawItemArena::RecordSize(sizeof(NHSDrawItem_SpanSeg));
  for (int i = 0; i < n; ++i) EXPECT_EQ(Name(arena, static_cast<std::int32_t>(i * record)), i);

  // A new frame reuses the buffer.
  arena.Reset();
  AddNamed(arena, 7, 0, 1);
  EXPECT_EQ(arena.Capacity(), 65536u);
  // A request past what 32-bit offsets reach fails without touching the arena.
  EXPECT_THROW(arena.Allocate(std::size_t{1} << 31), std::bad_alloc);
  EXPECT_EQ(arena.Capacity(), 65536u);
  EXPECT_EQ(Name(arena, 0), 7);
  arena.Release();
  EXPECT_EQ(arena.Capacity(), 0u);
  EXPECT_EQ(arena.Used(), 0u);
}

TEST(DrawItemArena, RowIndexGroupsPairsAndKeepsDrawOrderWithinGroups) {
  DrawItemArena arena;
  AddNamed(arena, 1, 0, 4);  // both rows of pairs 0 and 1
  AddNamed(arena, 2, 1, 3);  // only row 1 of pair 0, only row 2 of pair 1
  AddNamed(arena, 3, 0, 1);  // only row 0
  AddNamed(arena, 4, 2, 3, kTranslucent);
  AddNamed(arena, 5, -5, 1);  // clipped to row 0
  AddNamed(arena, 6, 3, 9);   // clipped to row 3
  AddNamed(arena, 7, 2, 2);   // empty: left out
  AddNamed(arena, 8, 0, 4);   // both, after 1
  arena.SortByRows(4);
  // Within a pair, items on the even row alone come before those on both rows.
  EXPECT_EQ(Names(arena, 0, false), (std::vector<int>{3, 5, 1, 8}));
  EXPECT_EQ(Names(arena, 1, false), (std::vector<int>{1, 8, 2}));
  EXPECT_EQ(Names(arena, 2, false), (std::vector<int>{2, 1, 8}));
  EXPECT_EQ(Names(arena, 3, false), (std::vector<int>{1, 8, 6}));
  EXPECT_EQ(Names(arena, 2, true), (std::vector<int>{4}));
  EXPECT_TRUE(Names(arena, 3, true).empty());
  EXPECT_TRUE(Names(arena, 4, false).empty());

  // An odd row count: the last pair has no odd row, and every item on row 2 is in its
  // even-only group, in draw order.
  arena.SortByRows(3);
  EXPECT_EQ(Names(arena, 2, false), (std::vector<int>{1, 2, 8}));
  EXPECT_TRUE(Names(arena, 3, false).empty());
}

}  // namespace
