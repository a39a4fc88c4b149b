#include "scene/objects/subdivision.h"

#include <algorithm>
#include <cstring>
#include <utility>

uint16_t GetMidpointVertex(int& next, vm::Vector3* vertices, uint16_t* table, int a, int b) {
  if (b < a) std::swap(a, b);
  uint16_t* pairs = table + static_cast<size_t>(a) * kMidpointEntries;
  uint16_t* free_pair = nullptr;
  for (int i = 0; i < kMidpointEntries; i += 2) {
    if (pairs[i] == kNoMidpoint) {
      free_pair = pairs + i;
      break;
    }
    if (pairs[i] == b) return pairs[i + 1];
  }
  const uint16_t m = static_cast<uint16_t>(next++);
  vertices[m] = vertices[a] + vertices[b];
  if (free_pair != nullptr) {
    free_pair[0] = static_cast<uint16_t>(b);
    free_pair[1] = m;
  }
  return m;
}

int SubdivideTriangles(uint16_t* triangles, int m, vm::Vector3* vertices, int vertex_count,
                       uint16_t* table) {
  std::fill_n(table, static_cast<size_t>(vertex_count) * kMidpointEntries, kNoMidpoint);
  std::memmove(triangles + 9 * m, triangles, sizeof(uint16_t) * 3 * m);
  int next = vertex_count;
  for (int i = 0; i < m; ++i) {
    const uint16_t* t = triangles + 9 * m + 3 * i;
    const uint16_t a = t[0], b = t[1], c = t[2];
    const uint16_t ab = GetMidpointVertex(next, vertices, table, a, b);
    const uint16_t bc = GetMidpointVertex(next, vertices, table, b, c);
    const uint16_t ca = GetMidpointVertex(next, vertices, table, c, a);
    const uint16_t out[12] = {a, ab, ca, ab, bc, ca, ab, b, bc, ca, bc, c};
    std::memcpy(triangles + 12 * i, out, sizeof out);
  }
  return next;
}
