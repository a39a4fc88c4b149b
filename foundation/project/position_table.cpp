#include "foundation/project/position_table.h"

#include <algorithm>
#include <functional>

namespace {

bool AddressLess(const std::pair<const void*, int32_t>& a,
                 const std::pair<const void*, int32_t>& b) {
  return std::less<const void*>()(a.first, b.first);
}

}  // namespace

void PositionTable::Sort() {
  // In place and without extra memory: tables of a large job hold millions of entries.
  std::make_heap(entries_.begin(), entries_.end(), AddressLess);
  std::sort_heap(entries_.begin(), entries_.end(), AddressLess);
}

int32_t PositionTable::Find(const void* object) const {
  if (object == nullptr) return -1;
  auto it = std::lower_bound(entries_.begin(), entries_.end(),
                             std::pair<const void*, int32_t>(object, 0), AddressLess);
  return it != entries_.end() && it->first == object ? it->second : -1;
}
