#pragma once

// The positions a project file gives cross-referenced objects: a 2D feature stores the
// position of its 3D point in the written point list and of its successor in the next
// frame's written list. Only written (non-null) entries count, so a null handle in a
// list shifts nothing.
//
// The table holds (address, position) pairs sorted by address, so a lookup is a binary
// search and a save stays linear-logarithmic in the number of features.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class PositionTable {
 public:
  PositionTable() = default;
  // Over a list of handles with Get(): the i-th non-null entry gets position i.
  template <class List>
  explicit PositionTable(const List& list) {
    entries_.reserve(list.size());
    int32_t position = 0;
    for (const auto& handle : list) {
      if (handle.Get() != nullptr) entries_.emplace_back(handle.Get(), position++);
    }
    Sort();
  }

  // The position of object, or -1 when it is not in the table (null included).
  int32_t Find(const void* object) const;
  size_t size() const { return entries_.size(); }

 private:
  void Sort();

  std::vector<std::pair<const void*, int32_t>> entries_;
};
