// Hierarchical block matching of 2D features: the per-feature job that matches an
// 8x8 block of the colour frames at quarter, half and full resolution and refines the
// last match to sub-pixel accuracy.
//
// Positions are in full-resolution pixel units (pixel i centred at i). A job reads only
// its HBMLevelImages (shared, read-only while jobs run) and writes only its own item, so
// jobs of one frame step run in parallel without locks.
#pragma once

#include <cstdint>

#include "features/block_match_kernels.h"

// One comparison (source frame -> target frame) at three resolutions: level 0 full size,
// level 1 half size, level 2 quarter size. Width and height of level l are the full
// frame's shifted right by l; source and target share the level's row stride (pixels).
struct HBMLevelImages {
  struct Level {
    const uint32_t* source = nullptr;
    const uint32_t* target = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
  };
  Level level[3];
};

// One feature to track: the level images, source and target positions (the target is
// the estimate, refined level by level) and the result (negative: lost, see
// MatchBlockSAD).
struct TrackFeatureItem {
  const HBMLevelImages* images = nullptr;
  BlockMatchPosition position;
  int32_t result = -1;
};

// Worker-pool item function (context unused, item a TrackFeatureItem): quarter level
// with a search of +-8, half level +-2, full level +-2 with up to 15 refinement steps;
// a coarser failure ends the job. The item's result is that of the last level run.
void TrackFeatureJob(void* context, void* item);
