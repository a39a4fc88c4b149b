// Delaunay triangulation of 2D points, the faces of a triangle mesh made from selected 3D
// points once they are projected onto a plane.
//
// The triangulation is the dual of the Voronoi diagram: each point's cell is cut out of a
// large bounding triangle by the perpendicular bisectors to the points that can reach it
// (found through a 2-d tree, so the work grows as n log n), and each cell corner between
// two real neighbours is one triangle. The bounding triangle is equilateral around the
// points' mean with circumradius 200 R (R: the largest distance from the mean to a point),
// so a triangle whose circumcentre lies outside it (at least 100 R out: a sliver along a
// nearly straight stretch of the hull) is not produced. Exactly co-circular points (the
// corners of a square) give one of the equally valid triangulations, chosen by rounding.
//
// Everything is single-threaded and local to one call; memory exhaustion throws
// std::bad_alloc with nothing leaked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "foundation/numeric/fixed_vector.h"

// Three point numbers (positions in the input vector).
struct PointTriangle {
  uint32_t a, b, c;
  bool operator==(const PointTriangle&) const = default;
};

// A triangle key packs three 21-bit point numbers.
inline constexpr size_t kMaxTriangulationPoints = size_t{1} << 21;

// Triangulates `points` (taken by value: the routine works on its own copy). Returns 0 and
// replaces `triangles` with the Delaunay triangles, each clockwise for a y-up frame (the z
// component of (p_b − p_a) × (p_c − p_b) is below 0; a degenerate one, with 0, is listed as
// (smallest, largest, middle)), sorted by largest, then middle, then smallest point number.
// Points all on one line give no triangles and 0; coincident points do not cut each other's
// cells, so each of them forms triangles with the same neighbours; a point with a NaN or
// infinite coordinate joins no triangle. Fewer than 3 points give −1, more than
// kMaxTriangulationPoints −2, and `triangles` is left as it was.
int BuildTriangleMeshFromPoints(std::vector<PointTriangle>& triangles,
                                std::vector<vm::Vector2> points);

// The Voronoi cell of one point (its site): a ring of corner records in one growable
// buffer. Record r's edge runs from r to next(r) along the bisector to point
// `neighbour`, or along the bounding triangle when that is −1. Record 0 is never in the
// ring; removed records are reused (most recently freed first) before the buffer grows.
class VoronoiCell {
 public:
  struct Record {
    int32_t previous = 0;
    int32_t next = 0;
    int32_t neighbour = -1;
    double x = 0.0;
    double y = 0.0;
  };

  VoronoiCell();

  // The ring b0 → b1 → b2 in records 1, 2, 3 (head 1), every neighbour −1; earlier
  // records are forgotten but their storage is kept. The radius is left to the caller.
  void ResetToTriangle(const vm::Vector2& b0, const vm::Vector2& b1, const vm::Vector2& b2);
  // Links a new record between `record` and its next; returns its number.
  int32_t InsertAfter(int32_t record, const vm::Vector2& position, int32_t neighbour);
  // Unlinks the record (keeping its own next link, so a walk may go on from it) and frees
  // it; the head moves on when it was the head.
  void Remove(int32_t record);
  // radius = the largest distance from `site` to a ring corner.
  void UpdateRadius(const vm::Vector2& site);

  int32_t Head() const { return head_; }
  const Record& operator[](int32_t record) const { return records_[record]; }
  double Radius() const { return radius_; }
  void SetRadius(double radius) { radius_ = radius; }
  // Records in the buffer, record 0 included (for checking the reuse of freed records).
  size_t BufferRecords() const { return used_; }

 private:
  std::vector<Record> records_;  // grows by doubling; records_[0] unused
  size_t used_ = 1;              // records handed out so far, record 0 included
  std::vector<int32_t> free_;
  int32_t head_ = 0;
  double radius_ = 0.0;
};

// Cuts `cell`, the cell of site `p`, down to the half-plane strictly nearer p than q, the
// new edge carrying `q_number`. Nothing changes when the bisector cannot reach the cell
// (|q − p| / 2 above the cell's radius) or does not cross its ring (q = p among them).
// Updates the radius after a cut.
void ClipCellByBisector(const vm::Vector2& q, VoronoiCell& cell, const vm::Vector2& p,
                        int32_t q_number);
