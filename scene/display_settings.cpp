#include "scene/display_settings.h"

#include <algorithm>

#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"

namespace {

// Entries 31 to 57 are the Tango icon palette, 58 to 69 named web colours, 70 to 77 a grey
// ramp from white to black, and 78 to 125 six ramps of eight steps, each step moving two
// channels by 0x22.
constexpr uint32_t kPalette[DisplaySettings::kPaletteSize] = {
    0xffe0e0e0, 0xff404040, 0xff8080f0, 0xff404040, 0xfff0f0f0, 0xff404050, 0xfff0f0f0, 0xff408060,
    0xff606090, 0xff404050, 0xffe0e0e0, 0xff505050, 0xff000000, 0xff40c0f8, 0xfff0f0f0, 0xff404050,
    0xfff0f0f0, 0xff408060, 0xff606060, 0xff202020, 0xff00e000, 0xfff00000, 0xffffcc66, 0xff99ccff,
    0xff00cc66, 0xff000000, 0xffffffff, 0xffc0c0c0, 0xffff0000, 0xff00ff00, 0xff0000ff, 0xfffce94f,
    0xffedd400, 0xffc4a000, 0xfffcaf3e, 0xfff57900, 0xffce5c00, 0xffe9b96e, 0xffc17d11, 0xff8f5902,
    0xff8ae234, 0xff73d216, 0xff4e9a06, 0xff729fcf, 0xff3465a4, 0xff204a87, 0xffad7fa8, 0xff75507b,
    0xff5c3566, 0xffef2929, 0xffcc0000, 0xffa40000, 0xffeeeeec, 0xffd3d7cf, 0xffbabdb6, 0xff888a85,
    0xff555753, 0xff2e3436, 0xff800000, 0xff008000, 0xff000080, 0xffffff00, 0xffffa500, 0xffff4500,
    0xff800080, 0xff008080, 0xff00ffff, 0xffff6347, 0xff9acd32, 0xff40e0d0, 0xffffffff, 0xffdddddd,
    0xffbbbbbb, 0xff999999, 0xff777777, 0xff555555, 0xff333333, 0xff000000, 0xffff0000, 0xffdd0022,
    0xffbb0044, 0xff990066, 0xff770088, 0xff5500aa, 0xff3300cc, 0xff1100ee, 0xff00ee11, 0xff00cc33,
    0xff00aa55, 0xff008877, 0xff006699, 0xff0044bb, 0xff0022dd, 0xff0000ff, 0xff00ff00, 0xff22dd00,
    0xff44bb00, 0xff669900, 0xff887700, 0xffaa5500, 0xffcc3300, 0xffee1100, 0xffffff00, 0xffddff22,
    0xffbbff44, 0xff99ff66, 0xff77ff88, 0xff55ffaa, 0xff33ffcc, 0xff11ffee, 0xff00ffff, 0xff22ddff,
    0xff44bbff, 0xff6699ff, 0xff8877ff, 0xffaa55ff, 0xffcc33ff, 0xffee11ff, 0xffff00ff, 0xffff22dd,
    0xffff44bb, 0xffff6699, 0xffff8877, 0xffffaa55, 0xffffcc33, 0xffffee11,
};

constexpr int32_t kDefaultSlots[DisplaySettings::kNumSlots] = {
    29, 28, 26, 49,  61, 28, 76, 30, 99, 30, 62, 118, 64,
    28, 35, 36, 111, 30, 28, 68, 63, 25, 56, 26, 61,  27,
};

}  // namespace

int32_t DefaultUndoMemoryLimit() {
  return 250000;
}

DisplaySettings& DisplaySettings::Get() {
  static DisplaySettings settings;
  return settings;
}

DisplaySettings::DisplaySettings() {
  Reset();
}

const uint32_t* DisplaySettings::DefaultPalette() {
  return kPalette;
}

void DisplaySettings::Reset() {
  std::fill(std::begin(color_table), std::end(color_table), 0u);
  std::copy(std::begin(kPalette), std::end(kPalette), color_table);
  std::copy(std::begin(kDefaultSlots), std::end(kDefaultSlots), color_slots);
  show_frames_while_tracking = true;
  painter_factor_level = 1;
  point_marker_size = 4;
  marker_circle_radius = 15.0f;
  colors_changed = true;
  for (std::string& d : directories) d = "./";
  project_save_mode = 0;
  undo_memory_limit = DefaultUndoMemoryLimit();
}

ColorRGBA DisplaySettings::GetColor(int index) const {
  if (static_cast<unsigned>(index) >= static_cast<unsigned>(kPaletteSize)) return {};
  const uint32_t v = color_table[index];
  const uint32_t n = (v >> 24) & 0xf;
  // The colour dialogs show these values; they never reach 1.0 but for alpha.
  return {((v >> 16) & 0xff) / 256.0, ((v >> 8) & 0xff) / 256.0, (v & 0xff) / 256.0,
          n != 0 ? n / 16.0 : 1.0};
}

uint32_t DisplaySettings::SlotColor(int slot) const {
  if (slot < 0 || slot >= kNumSlots) return 0;
  const int32_t index = color_slots[slot];
  return index >= 0 && index < kTableSize ? color_table[index] : 0;
}

uint32_t GetObjectDisplayColor(uint32_t flags, const FeaturePoint3D& point) {
  const DisplaySettings& ds = DisplaySettings::Get();
  const uint32_t state = point.GetFlags();
  uint32_t color;
  if (flags & 0x20) {
    color = state & (FP3D_FLAG_REMOVED | FP3D_FLAG_NO_EXPORT) ? 0 : ds.SlotColor(DS_SLOT_POINT);
  } else if (state & FP3D_FLAG_REMOVED) {
    color = flags & 0x10 ? ds.SlotColor(DS_SLOT_POINT_REMOVED) : 0;
  } else if (state & FP3D_FLAG_PROTECTED) {
    color = flags & 0x40 ? ds.SlotColor(DS_SLOT_POINT_PROTECTED) : 0;
  } else if (state & FP3D_FLAG_SEEN) {
    color = flags & 0x04 ? ds.SlotColor(DS_SLOT_POINT_SEEN) : 0;
  } else {
    color = flags & 0x08 ? ds.SlotColor(DS_SLOT_POINT) : 0;
  }
  if (color != 0 && (point.GetUIDFlags() & UID_FLAG_SELECTED)) {
    color = ds.SlotColor(DS_SLOT_SELECTION);
  }
  return color;
}
