#include "features/feature_correlator_hbm.h"

namespace {

constexpr int kBlockSize = 8;

void ScalePosition(BlockMatchPosition& p, double s) {
  p.source_x *= s;
  p.source_y *= s;
  p.target_x *= s;
  p.target_y *= s;
}

int MatchOnLevel(BlockMatchPosition& p, const HBMLevelImages::Level& l, int range, int iterations) {
  return MatchBlockSAD(p, l.source, l.target, l.stride, l.width, l.height, kBlockSize, kBlockSize,
                       range, range, iterations);
}

}  // namespace

void TrackFeatureJob(void* /*context*/, void* item) {
  TrackFeatureItem& it = *static_cast<TrackFeatureItem*>(item);
  const HBMLevelImages& im = *it.images;
  BlockMatchPosition& p = it.position;
  ScalePosition(p, 0.25);
  it.result = MatchOnLevel(p, im.level[2], 8, 0);
  ScalePosition(p, 4.0);
  if (it.result < 0) return;
  ScalePosition(p, 0.5);
  it.result = MatchOnLevel(p, im.level[1], 2, 0);
  ScalePosition(p, 2.0);
  if (it.result < 0) return;
  it.result = MatchOnLevel(p, im.level[0], 2, 15);
}
