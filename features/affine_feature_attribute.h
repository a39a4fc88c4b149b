// AffineFeatureAttribute: the optical-flow tracker's appearance record of one 2D
// track, held by SharedPtr and shared by every feature of the track (attached as the
// feature's attribute). It keeps the window taken where the track's attribute was
// created (intensity, x- and y-gradient around the feature, side
// m_affine_window_size + 2), the affine map the consistency check keeps refining
// from frame to frame, and a history of snapshots, one per tracked step.
//
// Changed by one thread at a time: the tracker job that owns the track's item
// during a run, the correlator's calling thread otherwise.
#pragma once

#include <cstdint>
#include <vector>

#include "features/picture.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"

class AffineFeatureAttribute : public FeatureAttribute, public SharedBlockMarker {
 public:
  struct Snapshot {
    double reference_x, reference_y;
    double matrix[4];
    int32_t current_frame;
  };

  // A window picture of side × side × 3 (contents not initialised), reference
  // (-1, -1), identity matrix, frame indices -1, empty history. Throws "memory
  // allocation failed".
  explicit AffineFeatureAttribute(uint32_t side);

  // The feature's position inside the window picture ((side + 2) / 2 once taken).
  double reference_x = -1.0;
  double reference_y = -1.0;
  // Window offsets to image offsets: x' = a11 i + a12 j, y' = a21 i + a22 j.
  double matrix[4] = {1.0, 0.0, 0.0, 1.0};
  // Frame index of the newest feature sharing the attribute.
  int32_t current_frame = -1;
  std::vector<Snapshot> history;
  // Band 0 intensity, band 1 x-gradient, band 2 y-gradient.
  CPicture<float> window;
  // Frame index where the window was taken; -1 until then.
  int32_t window_frame = -1;

  // Appends the current reference, matrix and frame index to the history.
  void TakeSnapshot();
};

// The feature's attribute when it is an AffineFeatureAttribute, else null.
AffineFeatureAttribute* GetAffineFeatureAttribute(const FeaturePoint2D& feature);
