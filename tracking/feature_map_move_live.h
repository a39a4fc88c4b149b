// FeatureMapMoveLive: the forward-only free-motion map. It builds the reconstruction frame
// by frame with the free-motion engine it shares with FeatureMapMove (start, outlier
// elimination, key-frame search, resection, point update, windowed adjustment) and has
// no end of run: FinalEstimation and Refinement change nothing and succeed. Frames that
// never join the reconstruction keep the cameras they had.
//
// Its settings are the free-motion defaults with a fixed focal length (m_estimate_focal
// 0); there is no setter, so the key-frame and point-update blocks keep their own
// defaults. The pool holds one; no configuration makes it current, and the manager finds
// it by its type.
//
// Threads and failures: as FeatureMapMove.
#pragma once

#include "tracking/feature_map_move.h"

class FeatureMapMoveLive : public FeatureMapMove {
 public:
  // The free-motion defaults with a fixed focal length.
  FeatureMapMoveLive();
  ~FeatureMapMoveLive() override;

  // The settings stay as constructed.
  void SetParameter(const Parameter&) = delete;

  // Nothing to finish: true, nothing changed.
  bool FinalEstimation() override { return true; }
  bool Refinement() override { return true; }
};
