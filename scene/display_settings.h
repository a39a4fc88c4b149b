// DisplaySettings: the one process-wide record of display colours and defaults that the
// scene, the viewers, the timeline, the undo stack and the project saving read.
//
// Colours live in a 256-entry table of 0xAARRGGBB words, filled from a 126-colour default
// palette; each of the 26 colour slots names the table entry one kind of drawn thing uses
// (SlotColor). Whoever changes a slot or a table entry sets colors_changed; the viewer
// re-applies the built-in objects' colours on its next update and clears it.
//
// Threads: written on the interface thread only; the tracking thread and the drawing
// workers read single words of it without a lock.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/numeric/color_rgba.h"

class FeaturePoint3D;

// The undo stack's memory limit by default, in KB.
int32_t DefaultUndoMemoryLimit();

// Colour slots: what each slot colours.
enum : int {
  DS_SLOT_FEATURE_TRACKED = 0,
  DS_SLOT_FEATURE_UNSUPPORTED = 1,
  DS_SLOT_FEATURE_ALONE = 2,
  DS_SLOT_FEATURE_NO_POINT = 3,
  DS_SLOT_TRACK = 4,
  DS_SLOT_TRACK_UNSUPPORTED = 5,
  DS_SLOT_IMAGE_BACKGROUND = 6,
  DS_SLOT_IMAGE_FRAME = 7,
  DS_SLOT_IMAGE_LABEL = 8,
  DS_SLOT_MASK = 9,
  DS_SLOT_VERTEX_MARKER = 10,
  DS_SLOT_SELECTION = 11,
  DS_SLOT_POINT_IN_IMAGE = 12,
  DS_SLOT_REFERENCE_LINE = 13,
  DS_SLOT_REFERENCE_LINE_DRAW = 14,
  DS_SLOT_UNUSED_15 = 15,
  DS_SLOT_POINT_SEEN = 16,
  DS_SLOT_POINT = 17,
  DS_SLOT_POINT_REMOVED = 18,
  DS_SLOT_POINT_PROTECTED = 19,
  DS_SLOT_NEW_OBJECT = 20,
  DS_SLOT_SCENE_BACKGROUND = 21,  // used without its alpha byte
  DS_SLOT_GROUND_GRID = 22,
  DS_SLOT_CAMERA = 23,
  DS_SLOT_CAMERA_TRACK = 24,
  DS_SLOT_SCENE_LABEL = 25,
};

class DisplaySettings {
 public:
  static constexpr int kNumSlots = 26;
  static constexpr int kTableSize = 256;
  static constexpr int kPaletteSize = 126;

  // The record; built on first use (before any window) with Reset's values.
  static DisplaySettings& Get();

  DisplaySettings();
  DisplaySettings(const DisplaySettings&) = delete;
  DisplaySettings& operator=(const DisplaySettings&) = delete;

  // Restores every field to its default: the table from the palette (the rest 0), the
  // slots, the numbers and flags, the directories, the save mode and the undo limit.
  void Reset();

  // A table entry as four doubles in the form the colour dialogs show: red, green and blue
  // are the bytes / 256, alpha is the low four bits of the alpha byte / 16, or 1.0 when
  // those bits are 0 (so 0xff gives 0.9375). Indices outside 0 .. 125 (negative ones
  // included) give four zeros.
  ColorRGBA GetColor(int index) const;

  // The table entry that slot `slot` names; 0 for a slot or a slot value out of range.
  uint32_t SlotColor(int slot) const;

  // The default palette, 126 entries.
  static const uint32_t* DefaultPalette();

  int32_t color_slots[kNumSlots];    // indices into color_table
  uint32_t color_table[kTableSize];  // 0xAARRGGBB
  bool show_frames_while_tracking;
  // The overlay painter's factor: level <= 1 gives 1, 2 or 3 give 2, 4 or more give 4.
  uint8_t painter_factor_level;
  uint8_t point_marker_size;   // pixels
  float marker_circle_radius;  // the image view's circle marker and error ellipses
  bool colors_changed;
  std::string directories[3];
  int32_t project_save_mode;  // 1 binary project files, else text
  int32_t undo_memory_limit;  // KB
};

// The colour of a 3D point under a view's display flag word, 0 when the point is not
// shown. Flag 0x20 (export view) shows every point that is neither removed nor excluded
// from export in slot 17; otherwise the first point state that applies decides: removed
// (slot 18, shown with flag 0x10), protected (slot 19, 0x40), seen in the current image
// (slot 16, 0x04), any other (slot 17, 0x08). A shown point that is selected takes the
// selection colour (slot 11).
uint32_t GetObjectDisplayColor(uint32_t flags, const FeaturePoint3D& point);

// The colour record of the timeline view.
struct ViewColors {
  int32_t flag = 1;
  uint32_t color = 0xffa0a0a0;
  uint32_t background = 0xff505050;
};
