#include "scene/display_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"

namespace {

TEST(DisplaySettingsTest, SlotsNameTheirDefaultColours) {
  const uint32_t expected[DisplaySettings::kNumSlots] = {
      0xff00ff00, 0xffff0000, 0xffffffff, 0xffef2929, 0xffffff00, 0xffff0000, 0xff333333,
      0xff0000ff, 0xffaa5500, 0xff0000ff, 0xffffa500, 0xffff00ff, 0xff800080, 0xffff0000,
      0xfff57900, 0xffce5c00, 0xff22ddff, 0xff0000ff, 0xffff0000, 0xff9acd32, 0xffff4500,
      0xff000000, 0xff555753, 0xffffffff, 0xffffff00, 0xffc0c0c0};
  const DisplaySettings& ds = DisplaySettings::Get();
  for (int slot = 0; slot < DisplaySettings::kNumSlots; ++slot) {
    EXPECT_EQ(ds.SlotColor(slot), expected[slot]) << "slot " << slot;
  }
  EXPECT_EQ(ds.SlotColor(-1), 0u);
  EXPECT_EQ(ds.SlotColor(DisplaySettings::kNumSlots), 0u);
}

// The palette's ramps follow rules; a mistyped entry breaks one.
TEST(DisplaySettingsTest, PaletteRamps) {
  const uint32_t* p = DisplaySettings::DefaultPalette();
  EXPECT_EQ(p[70], 0xffffffffu);
  for (int i = 71; i <= 76; ++i) EXPECT_EQ(p[i], p[i - 1] - 0x222222u) << i;
  EXPECT_EQ(p[77], 0xff000000u);
  for (int ramp = 0; ramp < 6; ++ramp) {
    for (int step = 1; step < 8; ++step) {
      const int i = 78 + 8 * ramp + step;
      int moved = 0;
      for (int shift = 0; shift < 24; shift += 8) {
        const int a = (p[i - 1] >> shift) & 0xff, b = (p[i] >> shift) & 0xff;
        if (a != b) {
          EXPECT_EQ(std::abs(a - b), 0x22) << "entry " << i;
          ++moved;
        }
      }
      EXPECT_EQ(moved, 2) << "entry " << i;
      EXPECT_EQ(p[i] >> 24, 0xffu);
    }
  }
  // The Tango, web-colour and ramp ends the slots and the scene view use.
  const std::pair<int, uint32_t> fixed[] = {{0, 0xffe0e0e0},  {25, 0xff000000}, {28, 0xffff0000},
                                            {29, 0xff00ff00}, {30, 0xff0000ff}, {31, 0xfffce94f},
                                            {57, 0xff2e3436}, {69, 0xff40e0d0}, {125, 0xffffee11}};
  for (const auto& [i, c] : fixed) EXPECT_EQ(p[i], c) << i;
}

TEST(DisplaySettingsTest, GetColorKeepsTheDialogArithmetic) {
  DisplaySettings ds;
  ds.color_table[40] = 0x80ff8000;  // alpha nibble 0 reads as opaque
  ds.color_table[41] = 0x07000000;
  struct Case {
    int index;
    ColorRGBA color;
  };
  const Case cases[] = {
      {28, {0.99609375, 0, 0, 0.9375}},
      {40, {0.99609375, 0.5, 0, 1.0}},
      {41, {0, 0, 0, 7 / 16.0}},
      {126, {0, 0, 0, 0}},
      {-1, {0, 0, 0, 0}},
      {125, {0.99609375, 0.9296875, 0.06640625, 0.9375}},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.index);
    const ColorRGBA c = ds.GetColor(t.index);
    EXPECT_EQ(c.r, t.color.r);
    EXPECT_EQ(c.g, t.color.g);
    EXPECT_EQ(c.b, t.color.b);
    EXPECT_EQ(c.a, t.color.a);
  }
}

TEST(DisplaySettingsTest, ResetRestoresEveryField) {
  DisplaySettings ds;
  ds.color_table[130] = 0xff123456;
  ds.color_table[56] = 0;
  ds.color_slots[22] = 3;
  ds.colors_changed = false;
  ds.show_frames_while_tracking = false;
  ds.painter_factor_level = 4;
  ds.point_marker_size = 9;
  ds.marker_circle_radius = 2.0f;
  ds.directories[1] = "/tmp";
  ds.project_save_mode = 1;
  ds.undo_memory_limit = 5;
  ds.Reset();
  EXPECT_EQ(ds.color_table[130], 0u);
  EXPECT_EQ(ds.SlotColor(DS_SLOT_GROUND_GRID), 0xff555753u);
  EXPECT_TRUE(ds.colors_changed);
  EXPECT_TRUE(ds.show_frames_while_tracking);
  EXPECT_EQ(ds.painter_factor_level, 1);
  EXPECT_EQ(ds.point_marker_size, 4);
  EXPECT_EQ(ds.marker_circle_radius, 15.0f);
  EXPECT_EQ(ds.directories[1], "./");
  EXPECT_EQ(ds.project_save_mode, 0);
  EXPECT_EQ(ds.undo_memory_limit, 250000);
}

TEST(DisplaySettingsTest, PointColourRule) {
  const DisplaySettings& ds = DisplaySettings::Get();
  const uint32_t seen = ds.SlotColor(DS_SLOT_POINT_SEEN), plain = ds.SlotColor(DS_SLOT_POINT),
                 removed = ds.SlotColor(DS_SLOT_POINT_REMOVED),
                 locator = ds.SlotColor(DS_SLOT_POINT_PROTECTED),
                 selection = ds.SlotColor(DS_SLOT_SELECTION);
  struct Case {
    uint32_t display_flags;
    uint32_t point_flags;
    bool selected;
    uint32_t color;
  };
  const Case cases[] = {
      // Export view: every point but the removed and the excluded ones, in one colour.
      {0x20, 0, false, plain},
      {0x20, FP3D_FLAG_SEEN | FP3D_FLAG_PROTECTED, false, plain},
      {0x20, FP3D_FLAG_REMOVED, false, 0},
      {0x20 | 0x10, FP3D_FLAG_REMOVED, false, 0},
      {0x20, FP3D_FLAG_NO_EXPORT, true, 0},
      {0x20, 0, true, selection},
      // Otherwise the first state that applies, shown only with its display flag.
      {0x10, FP3D_FLAG_REMOVED | FP3D_FLAG_SEEN, false, removed},
      {0x10, FP3D_FLAG_REMOVED, true, selection},
      {0, FP3D_FLAG_REMOVED, true, 0},
      {0x04 | 0x08, FP3D_FLAG_REMOVED, false, 0},
      {0x40, FP3D_FLAG_PROTECTED | FP3D_FLAG_SEEN, false, locator},
      {0x04, FP3D_FLAG_PROTECTED | FP3D_FLAG_SEEN, false, 0},
      {0x04, FP3D_FLAG_SEEN, false, seen},
      {0x08, FP3D_FLAG_SEEN, false, 0},
      {0x08, FP3D_FLAG_NO_EXPORT, false, plain},
      {0x08, 0, true, selection},
      {0x04, 0, false, 0},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << t.display_flags << " " << t.point_flags << " " << t.selected);
    FeaturePoint3D point(1.0, 2.0, 3.0, FeaturePoint3D::eCartesian);
    point.AssignFlags(t.point_flags);
    UIDRegistry::Instance().SetSelected(point.GetUID(), t.selected);
    EXPECT_EQ(GetObjectDisplayColor(t.display_flags, point), t.color);
  }
}

}  // namespace
