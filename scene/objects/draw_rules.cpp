#include "scene/objects/draw_rules.h"

#include <utility>

#include "scene/objects/nhs_object.h"

SurfaceColors GetSurfaceColors(uint32_t color, bool selected) {
  if (!selected) return {color, 0};
  uint32_t fill;
  if ((color >> 24) == 0xff) {
    fill = (color & 0xffffff) | 0x7f000000;
  } else {
    fill = (color & 0xff000000) | (0x808080 + ((color >> 1) & 0x7f7f7f));
  }
  return {fill, color | 0xff000000};
}

bool IsSelected(const NHSObject& object) {
  return (object.GetUIDFlags() & UID_FLAG_SELECTED) != 0;
}

uint32_t PickId(const NHSObject& object) {
  return static_cast<uint32_t>(object.GetUID());
}

SurfaceColors GetSurfaceColors(const NHSObject& object) {
  return GetSurfaceColors(object.GetColor(), IsSelected(object));
}

int32_t* EdgeSlotTable::Block(int a) const {
  if (a < 0 || static_cast<size_t>(a) + 1 > slots_.size() / kSlots) return nullptr;
  return slots_.data() + static_cast<size_t>(a) * kSlots;
}

bool EdgeSlotTable::AddEdgeOnce(int a, int b) {
  if (b < a) std::swap(a, b);
  int32_t* block = Block(a);
  if (block == nullptr) return true;
  for (int i = 0; i < kSlots; ++i) {
    if (block[i] == b) return false;
    if (block[i] == -1) {
      block[i] = b;
      return true;
    }
  }
  return true;
}

bool EdgeSlotTable::AddEdge(int a, int b) {
  if (b < a) std::swap(a, b);
  int32_t* block = Block(a);
  if (block == nullptr) return false;
  for (int i = 0; i < kSlots; ++i) {
    if (block[i] == -1) {
      block[i] = b;
      return true;
    }
  }
  return false;
}

int EdgeSlotTable::CountEdge(int a, int b) const {
  if (b < a) std::swap(a, b);
  const int32_t* block = Block(a);
  if (block == nullptr) return 0;
  int n = 0;
  for (int i = 0; i < kSlots && block[i] != -1; ++i) n += block[i] == b;
  return n;
}
