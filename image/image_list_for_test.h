// Test helper: the frame list an image cache takes (ImageCache::SetImageList), from
// file names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/packed_string_list.h"

namespace kxtest {

// The names in order; entry i carries the value i.
inline PackedStringListPtr ListOf(const std::vector<std::string>& names) {
  PackedStringListPtr list;
  list.Allocate();
  for (size_t i = 0; i < names.size(); ++i) list->Append(names[i].c_str(), int32_t(i));
  return list;
}

}  // namespace kxtest
