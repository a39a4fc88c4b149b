// Rasterising one target row from the row indices of a frame's arenas.
//
// For each sample row of the target row (F of them with supersampling, else the row
// itself): the opaque pass and then the translucent pass over every arena in order, each
// entry drawing its span. Before the first entry of a sample row the depth row is
// cleared; after the passes the translucent layers are blended in (with F ≥ 2 a sample
// that no opaque item wrote stands for the target pixel it lies in). With F ≥ 2 only the sample
// rows that had entries enter the pixel's average. A row without entries keeps its pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/render/draw_item_arena.h"

// Row buffers of one rasterising thread, kept from frame to frame.
class RowScratch {
 public:
  // Room for target rows of width pixels at F samples per pixel (width × F ≤ 32767).
  void Fit(int width, int f);

  std::vector<float> depth;            // width × F
  std::vector<std::uint64_t> accum;    // width × F, all 0 between rows
  std::vector<std::uint32_t> samples;  // width × F when F ≥ 2
  std::vector<std::uint32_t> sums;     // 2 × width when F ≥ 2, all 0 between rows
};

// Draws target row y (width pixels at target_row) from the arenas' items; F is the sample
// factor (1 .. 16). Returns whether any item touched the row.
bool RasterTargetRow(const DrawItemArena* arenas, int n_arenas, int y, int f, int width,
                     std::uint32_t* target_row, RowScratch& scratch);
