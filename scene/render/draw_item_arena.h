// DrawItemArena: the draw items one pool item records in a frame, back to back in one
// growing byte buffer, and their row index.
//
// The row index (SortByRows) takes the rows in pairs (2p, 2p + 1). For each pair and
// each kind (opaque, translucent) the entries form three groups in this order: items that
// cover only row 2p, items that cover both, items that cover only row 2p + 1; row 2p's
// entries are the first two groups and row 2p + 1's the last two, so an item spanning
// both rows is stored once. Within a group entries keep the order the items were made in,
// which is the order they are drawn in (it decides ties of equal depth).
//
// The buffers are kept from frame to frame (Reset only forgets the items) and freed by
// Release or the destructor. Growing throws std::bad_alloc when memory runs out or the
// buffer would pass 2 GB (entries are 32-bit offsets); the arena then keeps what it had.
// One thread writes an arena while items are recorded; any number read it afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "scene/render/draw_item.h"

// Cache-line aligned: arenas sit side by side in the render context and are written by
// different threads at once.
class alignas(64) DrawItemArena {
 public:
  static constexpr std::size_t kFirstCapacity = 16384;

  DrawItemArena() = default;
  ~DrawItemArena() { Release(); }
  DrawItemArena(DrawItemArena&& other) noexcept;
  DrawItemArena& operator=(DrawItemArena&& other) noexcept;
  DrawItemArena(const DrawItemArena&) = delete;
  DrawItemArena& operator=(const DrawItemArena&) = delete;

  // size bytes at the end of the used part (aligned for any item). Grows the buffer to
  // 16384 bytes, then by doubling, keeping its contents.
  void* Allocate(std::size_t size);

  // Makes an item in the arena.
  template <class Item, class... Args>
  Item* Add(Args&&... args) {
    static_assert(alignof(Item) <= kRecordAlign);
    constexpr std::size_t size = RecordSize(sizeof(Item));
    Item* item = new (Allocate(size)) Item(std::forward<Args>(args)...);
    item->record_size = static_cast<std::uint32_t>(size);
    return item;
  }

  // Forgets the items; the buffers stay.
  void Reset() { used_ = 0; }
  // Builds the row index over rows 0 .. rows − 1.
  void SortByRows(int rows);
  // Frees both buffers and forgets everything.
  void Release();

  // The entries (byte offsets of items) of one row and kind, in drawing order; empty for
  // rows outside the index.
  struct Entries {
    const std::int32_t* begin = nullptr;
    const std::int32_t* end = nullptr;
  };
  Entries RowEntries(int row, bool translucent) const;
  const NHSDrawItem& ItemAt(std::int32_t offset) const {
    return *reinterpret_cast<const NHSDrawItem*>(items_ + offset);
  }

  std::size_t Used() const { return used_; }
  std::size_t Capacity() const { return item_capacity_; }
  std::size_t IndexCapacity() const { return index_capacity_; }

  // Item records are rounded to this, so every record starts aligned.
  static constexpr std::size_t kRecordAlign = alignof(std::max_align_t);
  static constexpr std::size_t RecordSize(std::size_t bytes) {
    return (bytes + kRecordAlign - 1) & ~(kRecordAlign - 1);
  }

 private:
  unsigned char* items_ = nullptr;
  std::int32_t* index_ = nullptr;
  std::size_t item_capacity_ = 0;   // bytes
  std::size_t index_capacity_ = 0;  // bytes
  std::size_t used_ = 0;            // bytes of items
  int indexed_rows_ = 0;
  std::vector<std::int32_t> counts_;  // per pair and group, reused by SortByRows
};
