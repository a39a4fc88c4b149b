// In-place selection of the k-th smallest of n doubles.
#ifndef KALVEX_FOUNDATION_NUMERIC_SELECT_KTH_H_
#define KALVEX_FOUNDATION_NUMERIC_SELECT_KTH_H_

// Reorders values[0 … n−1] so that values[k] is the k-th smallest (0-based),
// the elements before it are not greater and those after it not smaller.
// A k outside 0 … n−1 leaves the values as they are.
void SelectKthSmallest(double* values, int n, int k);

#endif  // KALVEX_FOUNDATION_NUMERIC_SELECT_KTH_H_
