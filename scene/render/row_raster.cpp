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

// Both passes of sample row r into row (colour row length samples long); start() runs
// before the first entry. Returns 0 without entries, else 1, plus 2 when the translucent
// pass had entries.
template <class Start>
int DrawSampleRow(const DrawItemArena* arenas, int n_arenas, int r, int length,
                  const RowBuffers& row, Start start) {
  int drawn = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int a = 0; a < n_arenas; ++a) {
      const DrawItemArena& arena = arenas[a];
      const DrawItemArena::Entries e = arena.RowEntries(r, pass == 1);
      if (e.begin == e.end) continue;
      if (drawn == 0) start();
      drawn |= 1 | 2 * pass;
      for (const std::int32_t* it = e.begin; it != e.end; ++it) {
        arena.ItemAt(*it).RasterRow(row, r, length);
      }
    }
  }
  return drawn;
}

}  // namespace

bool RasterTargetRow(const DrawItemArena* arenas, int n_arenas, int y, int f, int width,
                     std::uint32_t* target_row, RowScratch& scratch) {
  const TranslucencyTable& table = TranslucencyTable::Get();
  float* depth = scratch.depth.data();
  std::uint64_t* accum = scratch.accum.data();
  if (f < 2) {
    const RowBuffers row{depth, target_row, accum};
    const int drawn = DrawSampleRow(arenas, n_arenas, y, width, row,
                                    [&] { std::fill(depth, depth + width, 0.0f); });
    if (drawn & 2) table.ResolveRow(target_row, accum, width);
    return drawn != 0;
  }
  // Samples no opaque item writes are never read: they stand for the target pixel.
  const int samples = width * f;
  const RowBuffers row{depth, scratch.samples.data(), accum};
  int n = 0;
  for (int r = y * f; r < y * f + f; ++r) {
    const int drawn = DrawSampleRow(arenas, n_arenas, r, samples, row,
                                    [&] { std::fill(depth, depth + samples, 0.0f); });
    if (drawn) {
      table.DownsampleRow(scratch.sums.data(), scratch.samples.data(), depth, target_row,
                          drawn & 2 ? accum : nullptr, f, width);
      n += f;
    }
  }
  if (n != 0) AverageSampleSums(scratch.sums.data(), target_row, n, width);
  return n != 0;
}
