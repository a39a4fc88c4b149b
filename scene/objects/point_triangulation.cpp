#include "scene/objects/point_triangulation.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace {

constexpr int kKeyBits = 21;
constexpr uint64_t kKeyMask = (uint64_t{1} << kKeyBits) - 1;

uint64_t TriangleKey(uint32_t a, uint32_t b, uint32_t c) {
  if (a > b) std::swap(a, b);
  if (b > c) std::swap(b, c);
  if (a > b) std::swap(a, b);
  return uint64_t{a} | uint64_t{b} << kKeyBits | uint64_t{c} << (2 * kKeyBits);
}

double Cross(const vm::Vector2& u, const vm::Vector2& v) {
  return u.x * v.y - u.y * v.x;
}

// Sorts the keys ascending: eleven bits per pass, a pass skipped when every key has the
// same digit there (the top digits of small meshes).
void SortKeys(std::vector<uint64_t>& keys) {
  constexpr int kDigitBits = 11;
  constexpr size_t kBuckets = size_t{1} << kDigitBits;
  std::vector<uint64_t> other(keys.size());
  std::vector<size_t> count(kBuckets);
  for (int shift = 0; shift < 3 * kKeyBits; shift += kDigitBits) {
    std::fill(count.begin(), count.end(), 0);
    for (uint64_t k : keys) ++count[(k >> shift) & (kBuckets - 1)];
    if (count[(keys[0] >> shift) & (kBuckets - 1)] == keys.size()) continue;
    size_t at = 0;
    for (size_t& c : count) at += std::exchange(c, at);
    for (uint64_t k : keys) other[count[(k >> shift) & (kBuckets - 1)]++] = k;
    keys.swap(other);
  }
}

}  // namespace

VoronoiCell::VoronoiCell() : records_(16) {}

void VoronoiCell::ResetToTriangle(const vm::Vector2& b0, const vm::Vector2& b1,
                                  const vm::Vector2& b2) {
  records_[1] = {3, 2, -1, b0.x, b0.y};
  records_[2] = {1, 3, -1, b1.x, b1.y};
  records_[3] = {2, 1, -1, b2.x, b2.y};
  used_ = 4;
  free_.clear();
  head_ = 1;
}

int32_t VoronoiCell::InsertAfter(int32_t record, const vm::Vector2& position, int32_t neighbour) {
  int32_t r;
  if (!free_.empty()) {
    r = free_.back();
    free_.pop_back();
  } else {
    if (used_ == records_.size()) records_.resize(2 * records_.size());
    r = static_cast<int32_t>(used_++);
  }
  const int32_t next = records_[record].next;
  records_[r] = {record, next, neighbour, position.x, position.y};
  records_[record].next = r;
  records_[next].previous = r;
  return r;
}

void VoronoiCell::Remove(int32_t record) {
  const Record& gone = records_[record];
  records_[gone.previous].next = gone.next;
  records_[gone.next].previous = gone.previous;
  if (head_ == record) head_ = gone.next;
  free_.push_back(record);
}

void VoronoiCell::UpdateRadius(const vm::Vector2& site) {
  double largest = 0.0;
  int32_t r = head_;
  do {
    const Record& v = records_[r];
    const double dx = v.x - site.x, dy = v.y - site.y;
    largest = std::max(largest, dx * dx + dy * dy);
    r = v.next;
  } while (r != head_);
  radius_ = std::sqrt(largest);
}

void ClipCellByBisector(const vm::Vector2& q, VoronoiCell& cell, const vm::Vector2& p,
                        int32_t q_number) {
  const vm::Vector2 d = q - p;
  const double radius = cell.Radius();
  if (d.SquaredLength() / 4.0 > radius * radius) return;
  const double h = ((p + q) * 0.5).Dot(d);
  // Corner v is inside when v · d < h: strictly nearer p than q.
  int32_t exit = 0, entry = 0;
  const int32_t head = cell.Head();
  int32_t r = head;
  bool inside = cell[r].x * d.x + cell[r].y * d.y < h;
  do {
    const int32_t next = cell[r].next;
    const bool next_inside = cell[next].x * d.x + cell[next].y * d.y < h;
    if (inside && !next_inside) exit = r;
    if (!inside && next_inside) entry = r;
    inside = next_inside;
    r = next;
  } while (r != head);
  if (exit == 0 || entry == 0) return;

  const auto crossing = [&](int32_t from) {
    const VoronoiCell::Record& a = cell[from];
    const VoronoiCell::Record& b = cell[a.next];
    const double ad = a.x * d.x + a.y * d.y;
    const double t = (h - ad) / (b.x * d.x + b.y * d.y - ad);
    return vm::Vector2{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
  };
  const int32_t first_outside = cell[exit].next;
  const vm::Vector2 x = crossing(exit);
  const vm::Vector2 y = crossing(entry);
  cell.InsertAfter(exit, x, q_number);
  const int32_t y_record = cell.InsertAfter(entry, y, cell[entry].neighbour);
  for (r = first_outside; r != y_record;) {
    const int32_t next = cell[r].next;
    cell.Remove(r);
    r = next;
  }
  cell.UpdateRadius(p);
}

namespace {

// A point of the tree: its position and its number in the caller's vector.
struct TreePoint {
  double x, y;
  uint32_t number;
};

// A 2-d tree over the points: each node splits its box's wider side at the median, down to
// leaves of at most kLeafPoints points. A cell's candidates come from it: a point can cut
// the cell only when it is no farther from some corner v than the site is, so a node whose
// box lies outside every such corner circle is passed over. The circles all pass through
// the site, which keeps the search near the site for a closed cell and along a thin band
// of the hull for one that reaches the bounding triangle.
class PointTree {
 public:
  static constexpr uint32_t kLeafPoints = 8;

  explicit PointTree(std::vector<TreePoint> points) : points_(std::move(points)) {
    nodes_.reserve(4 * (points_.size() / kLeafPoints + 1));
    nodes_.push_back({});
    Build(0, 0, static_cast<uint32_t>(points_.size()));
  }

  const std::vector<TreePoint>& Points() const { return points_; }

  // Cuts the cell of site p by every point that can cut it, nearer boxes first.
  void CutCell(const vm::Vector2& p, VoronoiCell& cell) const {
    uint32_t stack[128];
    int depth = 0;
    stack[depth++] = 0;
    while (depth > 0) {
      const Node& node = nodes_[stack[--depth]];
      if (!MayCut(node, p, cell)) continue;
      if (node.first_child == 0) {
        for (uint32_t i = node.begin; i < node.end; ++i) {
          const TreePoint& q = points_[i];
          ClipCellByBisector({q.x, q.y}, cell, p, static_cast<int32_t>(q.number));
        }
        continue;
      }
      const uint32_t a = node.first_child, b = a + 1;
      const bool a_nearer = BoxDistance2(nodes_[a], p) <= BoxDistance2(nodes_[b], p);
      stack[depth++] = a_nearer ? b : a;
      stack[depth++] = a_nearer ? a : b;
    }
  }

 private:
  struct Node {
    double min_x = 0, min_y = 0, max_x = 0, max_y = 0;
    uint32_t begin = 0, end = 0;
    uint32_t first_child = 0;  // 0: a leaf; else the children are first_child and next
  };

  static double BoxDistance2(const Node& node, const vm::Vector2& v) {
    const double dx = std::max({node.min_x - v.x, 0.0, v.x - node.max_x});
    const double dy = std::max({node.min_y - v.y, 0.0, v.y - node.max_y});
    return dx * dx + dy * dy;
  }

  static bool MayCut(const Node& node, const vm::Vector2& p, const VoronoiCell& cell) {
    // Farther than twice the radius: the clip's own first test would reject every point.
    const double r = cell.Radius();
    if (BoxDistance2(node, p) > 4.0 * r * r) return false;
    // The corner circles, a little widened so that rounding never drops a point the
    // clip's own test would take.
    const int32_t head = cell.Head();
    int32_t i = head;
    do {
      const VoronoiCell::Record& v = cell[i];
      const double dx = v.x - p.x, dy = v.y - p.y;
      if (BoxDistance2(node, {v.x, v.y}) <= (dx * dx + dy * dy) * (1.0 + 1e-9)) return true;
      i = v.next;
    } while (i != head);
    return false;
  }

  void Build(uint32_t index, uint32_t begin, uint32_t end) {
    Node node;
    node.begin = begin;
    node.end = end;
    node.min_x = node.max_x = points_[begin].x;
    node.min_y = node.max_y = points_[begin].y;
    for (uint32_t i = begin; i < end; ++i) {
      node.min_x = std::min(node.min_x, points_[i].x),
      node.max_x = std::max(node.max_x, points_[i].x);
      node.min_y = std::min(node.min_y, points_[i].y),
      node.max_y = std::max(node.max_y, points_[i].y);
    }
    if (end - begin > kLeafPoints) {
      const uint32_t middle = begin + (end - begin) / 2;
      const bool by_x = node.max_x - node.min_x >= node.max_y - node.min_y;
      std::nth_element(
          points_.begin() + begin, points_.begin() + middle, points_.begin() + end,
          [by_x](const TreePoint& a, const TreePoint& b) { return by_x ? a.x < b.x : a.y < b.y; });
      node.first_child = static_cast<uint32_t>(nodes_.size());
      nodes_.resize(nodes_.size() + 2);
      nodes_[index] = node;
      Build(node.first_child, begin, middle);
      Build(node.first_child + 1, middle, end);
    } else {
      nodes_[index] = node;
    }
  }

  std::vector<TreePoint> points_;
  std::vector<Node> nodes_;
};

}  // namespace

int BuildTriangleMeshFromPoints(std::vector<PointTriangle>& triangles,
                                std::vector<vm::Vector2> points) {
  const size_t n = points.size();
  if (n < 3) return -1;
  if (n > kMaxTriangulationPoints) return -2;

  // A point without a finite position has no place in the mesh; it joins no triangle.
  std::vector<TreePoint> placed;
  placed.reserve(n);
  vm::Vector2 c;
  for (size_t i = 0; i < n; ++i) {
    const vm::Vector2& v = points[i];
    if (!std::isfinite(v.x) || !std::isfinite(v.y)) continue;
    placed.push_back({v.x, v.y, static_cast<uint32_t>(i)});
    c += v;
  }
  triangles.clear();
  if (placed.empty()) return 0;
  c *= 1.0 / static_cast<double>(placed.size());
  double largest = 0.0;
  for (const TreePoint& v : placed)
    largest = std::max(largest, (vm::Vector2{v.x, v.y} - c).SquaredLength());
  const double b = 100.0 * std::sqrt(largest);
  const vm::Vector2 bounding[3] = {
      {c.x, c.y - 2.0 * b}, {c.x - 1.732051 * b, c.y + b}, {c.x + 1.732051 * b, c.y + b}};

  const PointTree tree(std::move(placed));
  VoronoiCell cell;
  std::vector<uint64_t> keys;
  keys.reserve(6 * n);
  // Sites in the tree's order, so that consecutive cells read the same nodes.
  for (const TreePoint& site : tree.Points()) {
    const vm::Vector2 p{site.x, site.y};
    cell.ResetToTriangle(bounding[0], bounding[1], bounding[2]);
    double radius = 0.0;
    for (const vm::Vector2& corner : bounding) radius = std::max(radius, (corner - p).Length());
    cell.SetRadius(radius);
    tree.CutCell(p, cell);

    // The corner at next(r) lies between the edges of neighbour(r) and neighbour(next(r)).
    const int32_t head = cell.Head();
    int32_t r = head;
    do {
      const VoronoiCell::Record& edge = cell[r];
      const int32_t n1 = edge.neighbour, n2 = cell[edge.next].neighbour;
      if (n1 >= 0 && n2 >= 0 && n1 != n2) {
        keys.push_back(
            TriangleKey(site.number, static_cast<uint32_t>(n1), static_cast<uint32_t>(n2)));
      }
      r = edge.next;
    } while (r != head);
  }

  // Each triangle is found from up to three cells: one entry per distinct key, ascending.
  if (!keys.empty()) SortKeys(keys);
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  triangles.reserve(keys.size());
  for (uint64_t key : keys) {
    const uint32_t i0 = static_cast<uint32_t>(key & kKeyMask);
    const uint32_t i1 = static_cast<uint32_t>(key >> kKeyBits & kKeyMask);
    const uint32_t i2 = static_cast<uint32_t>(key >> (2 * kKeyBits));
    if (Cross(points[i1] - points[i0], points[i2] - points[i1]) < 0.0) {
      triangles.push_back({i0, i1, i2});
    } else {
      triangles.push_back({i0, i2, i1});
    }
  }
  return 0;
}
