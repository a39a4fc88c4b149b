#include "scene/render/draw_item_arena.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

// Offsets into the item buffer are 32-bit.
constexpr std::size_t kMaxItemBytes = std::numeric_limits<std::int32_t>::max();

}  // namespace

DrawItemArena::DrawItemArena(DrawItemArena&& other) noexcept
    : items_(std::exchange(other.items_, nullptr)),
      index_(std::exchange(other.index_, nullptr)),
      item_capacity_(std::exchange(other.item_capacity_, 0)),
      index_capacity_(std::exchange(other.index_capacity_, 0)),
      used_(std::exchange(other.used_, 0)),
      indexed_rows_(std::exchange(other.indexed_rows_, 0)),
      counts_(std::move(other.counts_)) {}

DrawItemArena& DrawItemArena::operator=(DrawItemArena&& other) noexcept {
  if (this != &other) {
    Release();
    items_ = std::exchange(other.items_, nullptr);
    index_ = std::exchange(other.index_, nullptr);
    item_capacity_ = std::exchange(other.item_capacity_, 0);
    index_capacity_ = std::exchange(other.index_capacity_, 0);
    used_ = std::exchange(other.used_, 0);
    indexed_rows_ = std::exchange(other.indexed_rows_, 0);
    counts_ = std::move(other.counts_);
  }
  return *this;
}

void* DrawItemArena::Allocate(std::size_t size) {
  if (size > kMaxItemBytes - used_) throw std::bad_alloc();
  const std::size_t need = used_ + size;
  if (need > item_capacity_) {
    std::size_t capacity = item_capacity_ == 0 ? kFirstCapacity : item_capacity_ * 2;
    while (capacity < need) capacity *= 2;
    if (capacity > kMaxItemBytes) capacity = kMaxItemBytes;
    void* grown = std::realloc(items_, capacity);
    if (grown == nullptr) throw std::bad_alloc();
    items_ = static_cast<unsigned char*>(grown);
    item_capacity_ = capacity;
  }
  void* at = items_ + used_;
  used_ = need;
  return at;
}

void DrawItemArena::SortByRows(int rows) {
  indexed_rows_ = 0;
  if (rows <= 0) return;
  const std::size_t pairs = (static_cast<std::size_t>(rows) + 1) / 2;
  // Six groups per pair: opaque only-even, both, only-odd, then the same translucent.
  counts_.assign(6 * pairs, 0);

  // Calls visit(group) for every group the item's clamped rows fall in.
  auto for_each_group = [&](const NHSDrawItem& item, auto&& visit) {
    int first = std::max<int>(0, item.first_row);
    const int end = std::min<int>(rows, item.end_row);
    if (first >= end) return;
    const std::size_t k = IsTranslucent(item.color) ? 3 : 0;
    if (first & 1) {
      visit(6 * static_cast<std::size_t>(first / 2) + k + 2);
      ++first;
    }
    for (int p = first / 2; p < end / 2; ++p) visit(6 * static_cast<std::size_t>(p) + k + 1);
    if (end & 1) visit(6 * static_cast<std::size_t>(end / 2) + k);
  };

  std::size_t entries = 0;
  for (std::size_t off = 0; off < used_;) {
    const NHSDrawItem& item = ItemAt(static_cast<std::int32_t>(off));
    for_each_group(item, [&](std::size_t g) {
      ++counts_[g];
      ++entries;
    });
    off += item.record_size;
  }

  const std::size_t ints = 8 * pairs + entries;
  if (ints > std::numeric_limits<std::int32_t>::max()) throw std::bad_alloc();
  const std::size_t need = ints * sizeof(std::int32_t);
  if (need > index_capacity_) {
    std::size_t capacity = 1;
    while (capacity <= need / 2) capacity *= 2;  // the largest power of two not above need
    capacity *= 2;
    void* fresh = std::malloc(capacity);
    if (fresh == nullptr) throw std::bad_alloc();
    std::free(index_);
    index_ = static_cast<std::int32_t*>(fresh);
    index_capacity_ = capacity;
  }

  // The table, and the counters turned into write positions.
  std::int32_t at = static_cast<std::int32_t>(8 * pairs);
  for (std::size_t p = 0; p < pairs; ++p) {
    std::int32_t* table = index_ + 8 * p;
    for (std::size_t k = 0; k < 2; ++k) {
      std::int32_t* c = counts_.data() + 6 * p + 3 * k;
      const std::int32_t only_even = c[0], both = c[1], only_odd = c[2];
      table[2 * k] = at;                                        // row 2p begin
      table[2 * k + 1] = at + only_even + both;                 // row 2p end
      table[4 + 2 * k] = at + only_even;                        // row 2p + 1 begin
      table[4 + 2 * k + 1] = at + only_even + both + only_odd;  // row 2p + 1 end
      c[0] = at;
      c[1] = at + only_even;
      c[2] = at + only_even + both;
      at += only_even + both + only_odd;
    }
  }
  for (std::size_t off = 0; off < used_;) {
    const NHSDrawItem& item = ItemAt(static_cast<std::int32_t>(off));
    for_each_group(item,
                   [&](std::size_t g) { index_[counts_[g]++] = static_cast<std::int32_t>(off); });
    off += item.record_size;
  }
  indexed_rows_ = rows;
}

DrawItemArena::Entries DrawItemArena::RowEntries(int row, bool translucent) const {
  if (row < 0 || row >= indexed_rows_) return {};
  const std::int32_t* table =
      index_ + 8 * static_cast<std::size_t>(row / 2) + 4 * (row & 1) + 2 * (translucent ? 1 : 0);
  return {index_ + table[0], index_ + table[1]};
}

void DrawItemArena::Release() {
  std::free(index_);
  std::free(items_);
  index_ = nullptr;
  items_ = nullptr;
  item_capacity_ = index_capacity_ = used_ = 0;
  indexed_rows_ = 0;
  counts_.clear();
  counts_.shrink_to_fit();
}
