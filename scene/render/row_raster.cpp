#include "scene/render/row_raster.h"

#include <algorithm>

#include "scene/render/translucency.h"

void RowScratch::Fit(int width, int f) {
  const std::size_t samples_per_row = static_cast<std::size_t>(width) * f;
  if (depth.size() < samples_per_row) {
    depth.resize(samples_per_row);
    accum.resize(samples_per_row, 0);
  }
  if (f >= 2) {
    if (samples.size() < samples_per_row) samples.resize(samples_per_row);
    if (sums.size() < 2 * static_cast<std::size_t>(width))
      sums.resize(2 * static_cast<std::size_t>(width), 0);
  }
}

namespace {

// Both passes of sample row r into row (colour row width samples long); start() runs
// before the first entry. Returns whether the row had entries.
template <class Start>
bool DrawSampleRow(const DrawItemArena* arenas, int n_arenas, int r, int length,
                   const RowBuffers& row, Start start) {
  bool any = false;
  for (int pass = 0; pass < 2; ++pass) {
    for (int a = 0; a < n_arenas; ++a) {
      const DrawItemArena& arena = arenas[a];
      const DrawItemArena::Entries e = arena.RowEntries(r, pass == 1);
      for (const std::int32_t* it = e.begin; it != e.end; ++it) {
        if (!any) {
          start();
          any = true;
        }
        arena.ItemAt(*it).RasterRow(row, r, length);
      }
    }
  }
  return any;
}

}  // namespace

bool RasterTargetRow(const DrawItemArena* arenas, int n_arenas, int y, int f, int width,
                     std::uint32_t* target_row, RowScratch& scratch) {
  const TranslucencyTable& table = TranslucencyTable::Get();
  float* depth = scratch.depth.data();
  if (f < 2) {
    const RowBuffers row{depth, target_row, scratch.accum.data()};
    const bool any = DrawSampleRow(arenas, n_arenas, y, width, row,
                                   [&] { std::fill(depth, depth + width, 0.0f); });
    if (any) table.ResolveRow(target_row, scratch.accum.data(), width);
    return any;
  }
  const int samples = width * f;
  const RowBuffers row{depth, scratch.samples.data(), scratch.accum.data()};
  int n = 0;
  for (int r = y * f; r < y * f + f; ++r) {
    const bool any = DrawSampleRow(arenas, n_arenas, r, samples, row, [&] {
      std::fill(depth, depth + samples, 0.0f);
      ReplicatePixels(width, scratch.samples.data(), target_row, f);
    });
    if (any) {
      table.DownsampleRow(scratch.sums.data(), scratch.samples.data(), scratch.accum.data(), f,
                          width);
      n += f;
    }
  }
  if (n != 0) AverageSampleSums(scratch.sums.data(), target_row, n, width);
  return n != 0;
}
