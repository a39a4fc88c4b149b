// Result measures of a tracking run for the interface: the track quality shown as a
// percentage, the error scale of the timeline, and the track-length statistics logged
// when a run ends.
#pragma once

namespace uic {

// 1 / (rmse + 1) for an RMSE in pixels >= 0; 0.0001 for a negative RMSE (no result).
double GetTrackQuality(double rmse);
// (width - 720) / 1200 + 1: error values scale by this for images of that width.
double GetErrorScaleForImageWidth(int width);

// Mean and standard deviation of n track lengths from their sum and sum of squares:
// mean sum / n (0 for n = 0); variance (sum_sq - sum^2 / n) / (n - 1) for n >= 2, else 0,
// raised to 0 when rounding makes it negative.
struct TrackLengthMoments {
  double mean = 0.0;
  double stddev = 0.0;
};
TrackLengthMoments GetTrackLengthMoments(double sum, double sum_sq, long n);

// Logs (level 5) "MetaCTracker::TrackingFinished: FeatureTrackLengthStats(<mode>)
// num/min/max/mean/stddev ..." for one mode ("eAll2DFeatures", "eWith3DPoints").
void LogTrackLengthStats(const char* mode, long n, double min, double max, double sum,
                         double sum_sq);

}  // namespace uic
