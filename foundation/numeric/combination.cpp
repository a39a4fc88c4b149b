#include "foundation/numeric/combination.h"

bool NextCombination(int32_t* idx, int32_t k, int32_t n) {
  int32_t p = k - 1;
  int32_t limit = n;
  if (p < 0) return false;
  // Find the rightmost index that can still move up; each index to its right has one
  // place less room.
  while (++idx[p] >= limit) {
    --p;
    --limit;
    if (p < 0) return false;
  }
  for (int32_t j = p + 1; j < k; ++j) idx[j] = idx[j - 1] + 1;
  return true;
}
