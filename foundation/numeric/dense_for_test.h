#pragma once

// Test helpers for the dense matrix and vector: filled from lists, and random orthogonal
// matrices to build inputs with known singular values or eigenvalues.

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <random>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"

namespace kxtest {

// A rows × cols matrix from its elements, row after row.
inline Matrix MakeMatrix(uint32_t rows, uint32_t cols, std::initializer_list<double> values) {
  Matrix M(rows, cols);
  auto it = values.begin();
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t c = 0; c < cols; ++c) M(r, c) = *it++;
  return M;
}

inline Vector MakeVector(std::initializer_list<double> values) {
  Vector v(static_cast<uint32_t>(values.size()));
  uint32_t i = 0;
  for (double x : values) v[i++] = x;
  return v;
}

// Random orthogonal n × n matrix by Gram-Schmidt (twice) on random columns.
inline Matrix RandomOrthogonal(uint32_t n, std::mt19937& rng) {
  std::normal_distribution<double> g;
  Matrix Q(n, n);
  for (uint32_t c = 0; c < n; ++c) {
    for (uint32_t r = 0; r < n; ++r) Q(r, c) = g(rng);
    for (int pass = 0; pass < 2; ++pass)
      for (uint32_t p = 0; p < c; ++p) {
        double dot = 0;
        for (uint32_t r = 0; r < n; ++r) dot += Q(r, p) * Q(r, c);
        for (uint32_t r = 0; r < n; ++r) Q(r, c) -= dot * Q(r, p);
      }
    double norm = 0;
    for (uint32_t r = 0; r < n; ++r) norm += Q(r, c) * Q(r, c);
    norm = std::sqrt(norm);
    for (uint32_t r = 0; r < n; ++r) Q(r, c) /= norm;
  }
  return Q;
}

}  // namespace kxtest
