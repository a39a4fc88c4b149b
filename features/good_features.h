// Good-features corner search of the optical-flow correlator
// (FeatureCorrelatorOpticalFlow::CornerDetector): scans one horizontal band of an
// image's level-0 gradients, scores every pixel by the structure matrix summed over
// the tracking window, and keeps the accepted pixels as candidates sorted best
// first. The correlator merges the bands' candidates (SelectGoodFeatures).
//
// Also the mask helpers of the selection: the even-odd scan-line fill of a polygon
// into the occupancy mask and the minimum-distance square around a feature.
//
// A detector reads the parameter block, the borders, the gradient levels and the
// mask, and writes only its own candidate lists, so detectors of different bands
// run in parallel; nothing may change what they read while they run.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "features/optical_flow_parameter.h"
#include "foundation/numeric/array.h"
#include "foundation/runtime/worker_pool.h"

struct CornerCandidate {
  int16_t x, y;         // pixel position (window centre)
  float gxx, gxy, gyy;  // window sums of gx², gx·gy, gy²
  // Σx·gx², Σx·gx·gy, Σy·gx·gy, Σy·gy² with each sample's own pixel position; 0
  // unless sub-pixel positions are asked for.
  float sx1, sx2, sy1, sy2;
};

class GoodFeaturesDetector : public js::Job {
 public:
  // (score, candidate index); the sorted list ends with this sentinel.
  using ScoredIndex = std::pair<float, int32_t>;
  static constexpr ScoredIndex kSentinel{-1.0f, 0};

  GoodFeaturesDetector();

  // What the scan reads: the parameter block and the border values (not owned,
  // read when the scan runs), the occupancy mask (non-zero: no corner) and level 0
  // of the x- and y-gradient pyramids, all of one size.
  void SetData(const OpticalFlowParameter* parameter, const int32_t* border_x,
               const int32_t* border_y, const ArrayMap<bool>& mask,
               const ArrayMap<float>& gradient_x, const ArrayMap<float>& gradient_y);
  // The band to scan: columns and rows, both ends inclusive (clipped by the scan).
  void SetBand(int32_t x_from, int32_t x_to, int32_t y_from, int32_t y_to);

  // The scan: x from max(x from, mx) to min(x to, width - mx), y likewise with my,
  // mx = max(border x, window width / 2), my likewise; an end whose window would
  // read outside the image moves in by one. Accepted pixels become candidates;
  // the pairs are sorted by decreasing score and end with the sentinel.
  void Work();
  void Run() override { Work(); }

  const std::vector<CornerCandidate>& Candidates() const { return candidates_; }
  const std::vector<ScoredIndex>& Scores() const { return scores_; }

 private:
  const OpticalFlowParameter* parameter_ = nullptr;
  const int32_t* border_x_ = nullptr;
  const int32_t* border_y_ = nullptr;
  ArrayMap<bool> mask_;
  ArrayMap<float> gradient_x_;
  ArrayMap<float> gradient_y_;
  int32_t x_from_ = 0, x_to_ = -1, y_from_ = 0, y_to_ = -1;
  std::vector<CornerCandidate> candidates_;
  std::vector<ScoredIndex> scores_;
  // Scratch of the scan: per-column sums over the window rows, the ring of row
  // products, the row's window sums and smaller eigenvalues, the sort's keys.
  std::vector<double> column_sums_;
  std::vector<double> ring_;
  std::vector<double> row_sums_;
  std::vector<double> e_;
  std::vector<uint64_t> sort_scratch_;
};

// Sets the mask to 1 in [x - d, x + d] × [y - d, y + d], clipped to the mask.
void MarkMinDistance(const ArrayMap<bool>& mask, int32_t x, int32_t y, int32_t d);

// Even-odd scan-line fill of the polygon (x, y pairs, at least 3 vertices) into the
// mask: on every row k between the vertices' rows (row of y: trunc(y) + 1 clamped
// to 0..height), the pixels strictly right of the integer part of one crossing and
// up to the integer part of the next get `value` (or-mode: OR it in).
void FillPolygonMask(const std::vector<std::pair<double, double>>& vertices,
                     const ArrayMap<bool>& mask, bool value, bool or_mode);
