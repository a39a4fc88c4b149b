// Enumeration of index combinations: every k-subset of {0, .., n-1} in lexicographic order,
// as the plane fit's exhaustive sampling visits them.
#ifndef KALVEX_FOUNDATION_NUMERIC_COMBINATION_H_
#define KALVEX_FOUNDATION_NUMERIC_COMBINATION_H_

#include <cstdint>

// Advances idx[0..k-1] (strictly increasing, each in 0 .. n-1) to the next k-subset and
// returns true; false when idx holds the last one (n-k, .., n-1) or k is 0. After false
// the indices are left part-advanced: start again from 0, 1, .., k-1. Starting there, the
// calls visit every subset once.
bool NextCombination(int32_t* idx, int32_t k, int32_t n);

#endif  // KALVEX_FOUNDATION_NUMERIC_COMBINATION_H_
