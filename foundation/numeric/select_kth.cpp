#include "foundation/numeric/select_kth.h"

#include <utility>

// Hoare's selection: partition around values[k] and keep the side holding k.
void SelectKthSmallest(double* values, int n, int k) {
  if (k < 0 || k >= n) return;  // no such rank: reading values[k] would overrun
  int left = 0, right = n - 1;
  while (left < right) {
    const double pivot = values[k];
    int i = left, j = right;
    do {
      while (values[i] < pivot) ++i;
      while (pivot < values[j]) --j;
      if (i <= j) {
        std::swap(values[i], values[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j < k) left = i;
    if (k < i) right = j;
  }
}
