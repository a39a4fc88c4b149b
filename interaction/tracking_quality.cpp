#include "interaction/tracking_quality.h"

#include <cmath>

#include "foundation/runtime/notify.h"

namespace uic {

double GetTrackQuality(double rmse) {
  return rmse < 0.0 ? 0.0001 : 1.0 / (rmse + 1.0);
}

double GetErrorScaleForImageWidth(int width) {
  return (width - 720) / 1200.0 + 1.0;
}

TrackLengthMoments GetTrackLengthMoments(double sum, double sum_sq, long n) {
  TrackLengthMoments m;
  if (n > 0) m.mean = sum / double(n);
  double variance = 0.0;
  if (n >= 2) variance = (sum_sq - sum * sum / double(n)) / double(n - 1);
  if (!(variance > 0.0)) variance = 0.0;
  m.stddev = std::sqrt(variance);
  return m;
}

void LogTrackLengthStats(const char* mode, long n, double min, double max, double sum,
                         double sum_sq) {
  const TrackLengthMoments m = GetTrackLengthMoments(sum, sum_sq, n);
  Notify(5,
         "MetaCTracker::TrackingFinished: FeatureTrackLengthStats(%s) num/min/max/mean/stddev "
         "%ld %f %f %f %f",
         mode, n, min, max, m.mean, m.stddev);
}

}  // namespace uic
