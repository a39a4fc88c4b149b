// ReducedCameraSystem: the symmetric positive definite camera system N a = b that a
// bundle adjustment is left with once the points are eliminated, stored by its lower
// envelope and solved by Cholesky factorisation in place.
//
// The unknowns come in blocks of equal size, one per camera. Row block c holds the
// columns from block FirstBlock(c) to the diagonal: two cameras couple only when they
// see a common point, so a sequence whose points live over a few neighbouring frames
// gives a narrow band and memory and work linear in the frames; cameras that all see
// each other give the dense lower triangle (half of a dense matrix). The factorisation
// never fills outside the envelope.
//
// Callers fill the rows through Row(r); different block rows may be filled by different
// threads. Factor spreads its work over the worker pool and gives the same result for
// every thread count; Solve runs on the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Matrix;

class ReducedCameraSystem {
 public:
  // blocks camera blocks of block_size unknowns in their given order; first_block[c] <= c
  // is the first coupled block of row block c. Keeps the storage when the structure is
  // unchanged.
  void SetStructure(int blocks, int block_size, const std::vector<int>& first_block);
  // The structure from the coupling itself: block b couples with neighbours[start[b] ..
  // start[b + 1]) (each pair listed from both sides). The blocks keep their order or take
  // the reverse Cuthill-McKee order, whichever leaves the factorisation less work: a
  // sequence that closes on itself (an orbit) or cameras in no particular order would
  // otherwise spread the envelope over the whole triangle.
  void SetCoupling(int blocks, int block_size, const std::vector<int>& start,
                   const std::vector<int>& neighbours);
  // Multiply-adds of factorising the envelope SetCoupling would choose for this coupling,
  // without storing anything.
  static double FactorWork(int block_size, const std::vector<int>& start,
                           const std::vector<int>& neighbours);
  // Where block b sits in the system (rows Position(b) * BlockSize() on): b itself unless
  // SetCoupling reordered.
  int Position(int block) const {
    return position_.empty() ? block : position_[static_cast<size_t>(block)];
  }

  int Blocks() const { return blocks_; }
  int BlockSize() const { return block_size_; }
  int Size() const { return blocks_ * block_size_; }
  int FirstBlock(int block_row) const { return first_block_[static_cast<size_t>(block_row)]; }
  // Stored elements (the envelope's lower triangle, diagonal included).
  size_t StoredElements() const { return values_.size(); }

  // Row r of the lower envelope holds columns RowStart(r) .. r; Row(r)[c - RowStart(r)]
  // is column c.
  int RowStart(int r) const { return row_start_[static_cast<size_t>(r)]; }
  double* Row(int r) { return values_.data() + row_offset_[static_cast<size_t>(r)]; }
  const double* Row(int r) const { return values_.data() + row_offset_[static_cast<size_t>(r)]; }
  // Zeroes the stored elements of one block row.
  void ZeroBlockRow(int block_row);

  // In-place Cholesky N = L L^T. False when a pivot is not positive (N not positive
  // definite, e.g. singular); the contents are then undefined.
  bool Factor();
  // After Factor: b = N^-1 b (b has Size() entries).
  void Solve(double* b) const;
  // The full symmetric matrix of the stored lower envelope (zeros outside it).
  void ToDense(Matrix& out) const;

 private:
  // The columns before r0 of rows [begin, end) of the panel starting at r0.
  void FactorOuter(int begin, int end, int r0);

  int blocks_ = 0;
  int block_size_ = 0;
  std::vector<int> first_block_;
  std::vector<int> position_;  // block -> place in the system; empty: the given order
  std::vector<int> row_start_;
  std::vector<size_t> row_offset_;
  std::vector<double> values_;
};
