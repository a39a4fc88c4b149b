// 2D tracks along rendered 1280x720 sequences with exactly known cameras (a
// free-motion dolly, a tripod pan, and the dolly with barrel distortion), side by
// side with OpenCV's goodFeaturesToTrack and calcOpticalFlowPyrLK.
//
// Seeded at truth: OpenCV's corners of frame k (up to 1000), each tracked from its
// true position into frame k + 1 by both trackers under one set-up (21x21 windows, 3
// levels at subsampling 2, 30 iterations to 0.01 px), and by ours with the program's
// defaults. "steps lost" counts failures among points whose window fits in both
// frames; the step error is the distance to the true position of the kept ones.
// Chained: the corners of frame 0 are tracked frame to frame, each tracker from its
// own last estimate; a track is lost in view when it fails while its point's window
// still fits in the next frame (a point that leaves view or is hidden ends its track
// without a loss).
// The correlators run the way the program runs them (frames read through the image
// cache, pyramids, tracking, replenishing up to 1000 features): tracks lost while
// their point is in view and the time per frame step at 1 and 2 threads, against
// OpenCV doing the same work (its pyramid, LK, goodFeaturesToTrack with a mask to
// refill).
// bench-peer: libopencv-dev
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "features/feature_correlator_hbm.h"
#include "features/feature_image.h"
#include "features/image_pyramid.h"
#include "features/optical_flow_correlator.h"
#include "features/pyramid_tracker.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/worker_pool.h"
#include "image/filter_kernel.h"
#include "image/image_cache.h"
#include "image/packed_string_list.h"
#include "testing/synthetic_sequence.h"

namespace {

constexpr int kFrames = 30;
constexpr int kCorners = 1000;

struct Shot {
  const char* name;
  synthetic::Shot shot;
  double distortion;
};
const Shot kShots[] = {{"free-motion dolly", synthetic::Shot::kFreeMotion, 0.0},
                       {"tripod pan", synthetic::Shot::kTripodPan, 0.0},
                       {"dolly with distortion", synthetic::Shot::kFreeMotion, -0.08}};

// A shot's sequence with its frames rendered once.
struct Rendered {
  std::unique_ptr<synthetic::Sequence> sequence;
  std::vector<cv::Mat> frames;
};

const Rendered& Frames(int shot) {
  static std::map<int, Rendered> cache;
  Rendered& r = cache[shot];
  if (!r.sequence) {
    synthetic::SequenceOptions o;
    o.shot = kShots[shot].shot;
    o.distortion = kShots[shot].distortion;
    o.frames = kFrames;
    r.sequence = std::make_unique<synthetic::Sequence>(o);
    for (int k = 0; k < kFrames; ++k) {
      synthetic::Image im = r.sequence->Render(k);
      r.frames.push_back(cv::Mat(im.height, im.width, CV_8UC1, im.pixels.data()).clone());
    }
  }
  return r;
}

// The true position in frame k of what frame j shows at (x, y); false when hidden,
// outside, or its window (half size hw) does not fit in frame k.
bool TrueStep(const synthetic::Sequence& s, int j, double x, double y, int k, int hw, double* tx,
              double* ty) {
  synthetic::Vec3 X;
  if (!s.Backproject(j, x, y, &X) || !s.Truth(k, X, tx, ty)) return false;
  return *tx >= hw + 1 && *ty >= hw + 1 && *tx <= s.Width() - hw - 2 && *ty <= s.Height() - hw - 2;
}

// One tracker configuration: ours or OpenCV, window, levels, subsampling, iterations.
struct Setup {
  const char* name;
  bool opencv;
  int window, levels, subsampling, iterations;
};

// Ours: pyramids of every frame for one set-up.
struct OurPyramids {
  std::vector<std::unique_ptr<ImagePyramid[]>> p;
  OurPyramids(const Rendered& r, const Setup& s) {
    OpticalFlowParameter par;
    FilterKernel smoothing, gradient;
    smoothing.SetSigma(par.m_smoothing_sigma);
    gradient.SetFilter(FilterKernel::kDerivative, 0.8f);
    for (const cv::Mat& m : r.frames) {
      Array<unsigned char, 1> lum(m.cols, m.rows);
      for (int y = 0; y < m.rows; ++y)
        std::copy(m.ptr<uint8_t>(y), m.ptr<uint8_t>(y) + m.cols,
                  lum.Plane(0).data + size_t(y) * lum.Stride());
      p.emplace_back(new ImagePyramid[3]);
      ComputeTrackerPyramids(lum.Plane(0), s.levels, s.subsampling, smoothing, gradient,
                             &p.back()[0], &p.back()[1], &p.back()[2]);
    }
  }
  TrackerPyramids Views(int k) { return TrackerPyramidViews(p[k][0], p[k][1], p[k][2]); }
};

// Tracks pts from frame j to k; ok[i] and out[i] receive the result.
void TrackStep(const Setup& s, const Rendered& r, OurPyramids* ours, int j, int k,
               const std::vector<cv::Point2f>& pts, std::vector<cv::Point2f>* out,
               std::vector<uchar>* ok, std::map<int, long>* statuses = nullptr) {
  out->assign(pts.size(), cv::Point2f(-1, -1));
  ok->assign(pts.size(), 0);
  if (pts.empty()) return;
  if (s.opencv) {
    std::vector<float> err;
    cv::calcOpticalFlowPyrLK(
        r.frames[j], r.frames[k], pts, *out, *ok, err, cv::Size(s.window, s.window), s.levels - 1,
        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, s.iterations, 0.01));
    return;
  }
  OpticalFlowParameter p;
  p.m_window_width = p.m_window_height = uint32_t(s.window);
  p.m_max_iterations = uint32_t(s.iterations);
  PyramidTracker tracker;
  tracker.Setup(ours->Views(j), ours->Views(k), p, uint32_t(s.subsampling), uint32_t(s.levels));
  for (const cv::Point2f& q : pts) tracker.Items().push_back({q.x, q.y, 1.0f, nullptr});
  tracker.TrackFeatureList();
  for (size_t i = 0; i < pts.size(); ++i) {
    const TrackItem& it = tracker.Items()[i];
    (*ok)[i] = it.status == 0.0f;
    (*out)[i] = cv::Point2f(it.x, it.y);
    if (statuses != nullptr && it.status != 0.0f) ++(*statuses)[int(it.status)];
  }
}

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

void SeededAndChained(int shot, const Setup& s) {
  const Rendered& r = Frames(shot);
  const synthetic::Sequence& seq = *r.sequence;
  std::unique_ptr<OurPyramids> ours;
  if (!s.opencv) ours = std::make_unique<OurPyramids>(r, s);
  const int hw = s.window / 2;
  // Seeded at truth.
  long steps = 0, lost = 0;
  std::vector<double> errors;
  std::map<int, long> statuses;
  for (int k = 0; k + 1 < kFrames; ++k) {
    std::vector<cv::Point2f> corners, pts, out;
    std::vector<uchar> ok;
    cv::goodFeaturesToTrack(r.frames[k], corners, kCorners, 0.01, 10.0);
    std::vector<cv::Point2d> truth;
    for (const cv::Point2f& c : corners) {
      double tx, ty;
      if (c.x < hw + 1 || c.y < hw + 1 || c.x > seq.Width() - hw - 2 ||
          c.y > seq.Height() - hw - 2 || !TrueStep(seq, k, c.x, c.y, k + 1, hw, &tx, &ty))
        continue;
      pts.push_back(c);
      truth.emplace_back(tx, ty);
    }
    TrackStep(s, r, ours.get(), k, k + 1, pts, &out, &ok, &statuses);
    for (size_t i = 0; i < pts.size(); ++i) {
      ++steps;
      if (!ok[i]) {
        ++lost;
        continue;
      }
      errors.push_back(std::hypot(out[i].x - truth[i].x, out[i].y - truth[i].y));
    }
  }
  // Chained from frame 0.
  std::vector<cv::Point2f> corners;
  cv::goodFeaturesToTrack(r.frames[0], corners, kCorners, 0.01, 10.0);
  std::vector<synthetic::Vec3> points;
  std::vector<cv::Point2f> pts;
  for (const cv::Point2f& c : corners) {
    synthetic::Vec3 X;
    if (c.x < hw + 1 || c.y < hw + 1 || c.x > seq.Width() - hw - 2 || c.y > seq.Height() - hw - 2 ||
        !seq.Backproject(0, c.x, c.y, &X))
      continue;
    points.push_back(X);
    pts.push_back(c);
  }
  const size_t tracks = pts.size();
  size_t lost_in_view = 0, drifted = 0;
  std::vector<int> alive(tracks, 1);
  for (int k = 0; k + 1 < kFrames; ++k) {
    std::vector<cv::Point2f> out;
    std::vector<uchar> ok;
    TrackStep(s, r, ours.get(), k, k + 1, pts, &out, &ok);
    for (size_t i = 0; i < tracks; ++i) {
      if (!alive[i]) continue;
      double tx, ty;
      const bool in_view = seq.Truth(k + 1, points[i], &tx, &ty) && tx >= hw + 1 && ty >= hw + 1 &&
                           tx <= seq.Width() - hw - 2 && ty <= seq.Height() - hw - 2;
      if (!in_view) {
        alive[i] = 0;
        continue;
      }
      if (!ok[i]) {
        alive[i] = 0;
        ++lost_in_view;
        continue;
      }
      if (std::hypot(out[i].x - tx, out[i].y - ty) > 2.0) {
        alive[i] = 0;
        ++drifted;
        continue;
      }
      pts[i] = out[i];
    }
  }
  std::printf(
      "  %-22s steps lost %5.1f %% of %6ld, error median %.3f px, 95th %.3f px; "
      "tracks lost in view %5.1f %%, drifted >2 px %4.1f %% of %zu\n",
      s.name, 100.0 * double(lost) / double(std::max(1L, steps)), steps, Percentile(errors, 0.5),
      Percentile(errors, 0.95), 100.0 * double(lost_in_view) / double(std::max<size_t>(1, tracks)),
      100.0 * double(drifted) / double(std::max<size_t>(1, tracks)), tracks);
  if (!statuses.empty()) {
    std::printf("    steps lost by status:");
    for (const auto& [status, count] : statuses)
      std::printf(" %s %.1f %%", TrackStatusName(status),
                  100.0 * double(count) / double(std::max(1L, steps)));
    std::printf("\n");
  }
}

// ---- the correlators the way the program runs them ----

class CacheOwner : public FeatureImageOwner {
 public:
  ImageCache* GetImageCache() override { return &cache; }
  ImageCache cache;
};

struct Run {
  double lost_in_view = 0.0;  // share of tracks whose point was still in view
  double median_length = 0.0;
  double drift = 0.0;    // median distance of a track's last feature to the truth
  double step_ms = 0.0;  // median frame step
  size_t tracks = 0;
  // FNV-1a over the bits of every feature position and its link, frame by frame: a
  // change of any result shows as a different digest.
  uint64_t digest = 14695981039346656037ull;
  void Mix(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int b = 0; b < 8; ++b) digest = (digest ^ ((bits >> (8 * b)) & 0xFF)) * 1099511628211ull;
  }
  // Single steps of features whose point stays in view: lost share and the distance of
  // the kept ones to where the feature's own point went.
  long steps = 0, steps_lost = 0;
  std::vector<double> step_errors;
  // The same for steps whose neighbourhood does not move as one: some point within
  // 7.5 px (the block matcher's refinement reads that far) moves more than 1 px unlike
  // the feature's own point, or is hidden in the next frame (depth edges, steep
  // surfaces). No single translated block or window follows those exactly.
  long uneven_steps = 0, uneven_lost = 0, uneven_gross = 0;
  static bool Uneven(const synthetic::Sequence& seq, int k, double x, double y, double tx,
                     double ty) {
    for (int j = -3; j <= 3; ++j) {
      for (int i = -3; i <= 3; ++i) {
        synthetic::Vec3 Y;
        double ux, uy;
        const double px = x + 2.5 * i, py = y + 2.5 * j;
        if (!seq.Backproject(k, px, py, &Y) || !seq.Truth(k + 1, Y, &ux, &uy)) return true;
        if (std::hypot((ux - px) - (tx - x), (uy - py) - (ty - y)) > 1.0) return true;
      }
    }
    return false;
  }
  void AddStep(const synthetic::Sequence& seq, int k, double x, double y, bool kept, double nx,
               double ny) {
    synthetic::Vec3 X;
    double tx, ty;
    if (!seq.Backproject(k, x, y, &X) || !seq.Truth(k + 1, X, &tx, &ty) || tx < 12 || ty < 12 ||
        tx > seq.Width() - 13 || ty > seq.Height() - 13)
      return;
    ++steps;
    const bool uneven = Uneven(seq, k, x, y, tx, ty);
    uneven_steps += uneven;
    if (!kept) {
      ++steps_lost;
      uneven_lost += uneven;
      return;
    }
    step_errors.push_back(std::hypot(nx - tx, ny - ty));
    uneven_gross += uneven && step_errors.back() > 2.0;
  }
};

// The frames of a shot as the program reads them: written as files, listed in an image
// cache, one feature image per frame (cleared and removed again at the end).
struct Rig {
  std::string dir;
  CacheOwner owner;
  std::vector<SharedPtr<FeatureImage>> images;
  Rig(const Rendered& r, const char* name) {
    const synthetic::Sequence& seq = *r.sequence;
    dir = std::string("/tmp/kx_bench_") + name + "_" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    PackedStringListPtr list;
    list.Allocate();
    for (int k = 0; k < kFrames; ++k) {
      const std::string path = dir + "/f" + std::to_string(k) + ".pgm";
      std::ofstream out(path, std::ios::binary);
      out << "P5\n" << seq.Width() << " " << seq.Height() << "\n255\n";
      for (int y = 0; y < seq.Height(); ++y)
        out.write(reinterpret_cast<const char*>(r.frames[k].ptr<uint8_t>(y)), seq.Width());
      list->Append(path.c_str(), 0);
    }
    owner.cache.SetImageList(list, -1, -1);
    for (int k = 0; k < kFrames; ++k) {
      images.push_back(SharedPtr<FeatureImage>::Make(&owner));
      FeatureImage& image = *images.back();
      image.SetImageIndex(k);
      image.Set(image.GetC(), image.GetA(), image.GetH(), image.GetV(), seq.Width(), seq.Height(),
                0.0, image.GetPixelSizeX(), image.GetPixelSizeY(), 0.0, 0,
                image.GetDistortionModel());
    }
  }
  ~Rig() {
    for (auto& image : images) image->ClearFPoints2D();
    std::filesystem::remove_all(dir);
  }
};

Run RunCorrelator(int shot, bool hbm, int threads) {
  const Rendered& r = Frames(shot);
  const synthetic::Sequence& seq = *r.sequence;
  Rig rig(r, "tracks");
  CacheOwner& owner = rig.owner;
  std::vector<SharedPtr<FeatureImage>>& images = rig.images;
  WorkerPool::SetNumberOfThreads(threads);
  std::unique_ptr<FeatureCorrelatorOpticalFlow> c(hbm ? new FeatureCorrelatorHBM
                                                      : new FeatureCorrelatorOpticalFlow);
  FeatureCorrelatorOpticalFlow::Parameter p = c->GetParameter();
  p.m_corner_count = kCorners;
  c->SetParameter(p);
  c->SetSharedBuffer(SharedPtr<SharedWorkBuffer>::Make(3 * threads));
  std::vector<double> times;
  for (int k = 0; k + 1 < kFrames; ++k) {
    // Keep the frames decoded: the step is timed, not the file reading.
    owner.cache.GetImage(k);
    owner.cache.GetImage(k + 1);
    c->SetFeatureImages(images[k].Get(), images[k + 1].Get());
    const auto start = std::chrono::steady_clock::now();
    c->Compute();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  // Walk every track from its first feature.
  Run run;
  size_t lost = 0;
  std::vector<double> lengths, drift;
  for (int k = 0; k < kFrames; ++k)
    for (const SharedPtr<FeaturePoint2D>& f : images[k]->GetFPoints2D()) {
      if (f->GetPredecessor()) continue;
      synthetic::Vec3 X;
      if (!seq.Backproject(k, f->x, f->y, &X)) continue;
      ++run.tracks;
      int length = 1;
      const FeaturePoint2D* cur = f.Get();
      int frame = k;
      while (cur->GetSuccessor()) {
        cur = cur->GetSuccessor()->GetSecond().Get();
        ++frame;
        ++length;
      }
      lengths.push_back(length);
      double tx, ty;
      if (length >= 2 && seq.Truth(frame, X, &tx, &ty))
        drift.push_back(std::hypot(cur->x - tx, cur->y - ty));
      if (frame + 1 < kFrames && seq.Truth(frame + 1, X, &tx, &ty) && tx >= 12 && ty >= 12 &&
          tx <= seq.Width() - 13 && ty <= seq.Height() - 13)
        ++lost;
    }
  for (int k = 0; k + 1 < kFrames; ++k)
    for (const SharedPtr<FeaturePoint2D>& f : images[k]->GetFPoints2D()) {
      const FeaturePoint2D* next =
          f->GetSuccessor() ? f->GetSuccessor()->GetSecond().Get() : nullptr;
      run.AddStep(seq, k, f->x, f->y, next != nullptr, next ? next->x : 0.0, next ? next->y : 0.0);
    }
  for (int k = 0; k < kFrames; ++k)
    for (const SharedPtr<FeaturePoint2D>& f : images[k]->GetFPoints2D()) {
      const FeaturePoint2D* next =
          f->GetSuccessor() ? f->GetSuccessor()->GetSecond().Get() : nullptr;
      run.Mix(k);
      run.Mix(f->x);
      run.Mix(f->y);
      run.Mix(next ? next->x : -1.0);
      run.Mix(next ? next->y : -1.0);
    }
  run.lost_in_view = double(lost) / double(std::max<size_t>(1, run.tracks));
  run.median_length = Percentile(lengths, 0.5);
  run.drift = Percentile(drift, 0.5);
  run.step_ms = Percentile(times, 0.5);
  return run;
}

// OpenCV doing a frame step's work: pyramid of the new frame, LK of the current
// points (21x21, 3 levels), refill with goodFeaturesToTrack under a mask.
Run RunOpenCV(int shot, int threads, int window, int levels) {
  const Rendered& r = Frames(shot);
  const synthetic::Sequence& seq = *r.sequence;
  cv::setNumThreads(threads);
  std::vector<cv::Point2f> pts;
  std::vector<synthetic::Vec3> points;
  std::vector<int> born;
  std::vector<double> times, lengths;
  Run run;
  size_t lost = 0;
  std::vector<cv::Mat> previous;
  std::vector<std::array<double, 6>> pending;
  cv::buildOpticalFlowPyramid(r.frames[0], previous, cv::Size(window, window), levels - 1);
  auto refill = [&](int k, const cv::Mat& frame) {
    if (int(pts.size()) >= kCorners) return;
    cv::Mat mask(frame.size(), CV_8UC1, cv::Scalar(255));
    for (const cv::Point2f& q : pts) cv::circle(mask, q, 10, cv::Scalar(0), -1);
    std::vector<cv::Point2f> fresh;
    cv::goodFeaturesToTrack(frame, fresh, kCorners - int(pts.size()), 0.01, 10.0, mask);
    for (const cv::Point2f& q : fresh) {
      pts.push_back(q);
      synthetic::Vec3 X{};
      seq.Backproject(k, q.x, q.y, &X);
      points.push_back(X);
      born.push_back(k);
    }
  };
  refill(0, r.frames[0]);
  for (int k = 0; k + 1 < kFrames; ++k) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<cv::Mat> next;
    cv::buildOpticalFlowPyramid(r.frames[k + 1], next, cv::Size(window, window), levels - 1);
    std::vector<cv::Point2f> out;
    std::vector<uchar> ok;
    std::vector<float> err;
    if (!pts.empty())
      cv::calcOpticalFlowPyrLK(
          previous, next, pts, out, ok, err, cv::Size(window, window), levels - 1,
          cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 30, 0.01));
    std::vector<cv::Point2f> kept;
    std::vector<synthetic::Vec3> kept_points;
    std::vector<int> kept_born;
    for (size_t i = 0; i < pts.size(); ++i) {
      const bool kept_i = !pts.empty() && ok[i] && out[i].x >= 0 && out[i].y >= 0 &&
                          out[i].x < seq.Width() && out[i].y < seq.Height();
      // Scored after the loop: the ray casting is not part of the step.
      pending.push_back({double(k), pts[i].x, pts[i].y, kept_i ? 1.0 : 0.0, kept_i ? out[i].x : 0.0,
                         kept_i ? out[i].y : 0.0});
      if (ok[i] && out[i].x >= 0 && out[i].y >= 0 && out[i].x < seq.Width() &&
          out[i].y < seq.Height()) {
        kept.push_back(out[i]);
        kept_points.push_back(points[i]);
        kept_born.push_back(born[i]);
        continue;
      }
      ++run.tracks;
      lengths.push_back(k - born[i] + 1);
      double tx, ty;
      if (seq.Truth(k + 1, points[i], &tx, &ty) && tx >= 12 && ty >= 12 && tx <= seq.Width() - 13 &&
          ty <= seq.Height() - 13)
        ++lost;
    }
    pts.swap(kept);
    points.swap(kept_points);
    born.swap(kept_born);
    refill(k + 1, r.frames[k + 1]);
    previous.swap(next);
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  for (const auto& q : pending) run.AddStep(seq, int(q[0]), q[1], q[2], q[3] != 0.0, q[4], q[5]);
  for (int b : born) lengths.push_back(kFrames - b);
  run.tracks += pts.size();
  run.lost_in_view = double(lost) / double(std::max<size_t>(1, run.tracks));
  run.median_length = Percentile(lengths, 0.5);
  run.step_ms = Percentile(times, 0.5);
  return run;
}

// How well an 8 x 8 block at (x, y) of the source pins a translation: the smaller over the
// larger eigenvalue of its slope products (green channel, the refinement's last
// smoothing). Near 0 on an edge, where the block may slide along it.
double BlockShape(const HBMLevelImages::Level& l, double x, double y) {
  int16_t gx[256], gy[256];
  ResampleBlock8(l.source, l.stride, l.width, l.height, gx, 32, 8, 8, x - 3.5, y - 3.5, true, false,
                 -0.8);
  ResampleBlock8(l.source, l.stride, l.width, l.height, gy, 32, 8, 8, x - 3.5, y - 3.5, false, true,
                 -0.8);
  double a = 0.0, b = 0.0, c = 0.0;
  for (int q = 1; q < 256; q += 4) {
    a += double(gx[q]) * gx[q];
    b += double(gx[q]) * gy[q];
    c += double(gy[q]) * gy[q];
  }
  const double m = 0.5 * (a + c), d = std::sqrt(0.25 * (a - c) * (a - c) + b * b);
  return m + d > 0.0 ? (m - d) / (m + d) : 0.0;
}

// Why the block matcher loses features that stay in view (part d): the first pass of
// each lost feature's job (quarter, half, full level from the correlator's start) is run
// again level by level, with its distance to the truth after each level, whether the
// refinement also fails from the truth's own block, and the quarter-level costs there.
void DiagnoseHBM(int shot) {
  const Rendered& r = Frames(shot);
  const synthetic::Sequence& seq = *r.sequence;
  Rig rig(r, "diag");
  CacheOwner& owner = rig.owner;
  std::vector<SharedPtr<FeatureImage>>& images = rig.images;
  WorkerPool::SetNumberOfThreads(1);
  FeatureCorrelatorHBM c;
  FeatureCorrelatorOpticalFlow::Parameter p = c.GetParameter();
  p.m_corner_count = kCorners;
  c.SetParameter(p);
  c.SetSharedBuffer(SharedPtr<SharedWorkBuffer>::Make(3));
  std::map<std::string, long> causes;
  long tracked[2] = {0, 0}, lostn[2] = {0, 0};
  std::vector<double> err_q[2], err_h[2], err_f[2];
  // Jobs as the correlator runs them: their errors, the cross-check's disagreements.
  std::vector<double> err_ok[2], err_apart_own, err_apart_pred, err_apart_cost;
  long apart = 0, apart_own_closer = 0, pred_failed = 0;
  std::vector<double> err_pred_failed_own;
  struct Guarded {
    double error, ratio;
    bool retried;
    double distinct = 0.0;  // apart: kept cost over the other estimate's
  };
  std::vector<Guarded> guards[4];
  std::vector<double> shape[2];  // the 8 x 8 block's BlockShape: kept, lost
  const int w = seq.Width(), h = seq.Height();
  for (int k = 0; k + 1 < kFrames; ++k) {
    ImageCacheEntryPtr ec = owner.cache.GetImage(k), ed = owner.cache.GetImage(k + 1);
    std::vector<SharedPtr<FeaturePoint2D>> before = images[k]->GetFPoints2D();
    c.SetFeatureImages(images[k].Get(), images[k + 1].Get());
    c.Compute();
    const size_t qs = ec->bgra.stride / 4;
    std::vector<uint32_t> qc(qs * (h / 4) + 1), qd(qs * (h / 4) + 1);
    HalveImageRGBA(qc.data(), int(qs), ec->half_bgra.data, int(ec->half_bgra.stride), w / 2, h / 2);
    HalveImageRGBA(qd.data(), int(qs), ed->half_bgra.data, int(ed->half_bgra.stride), w / 2, h / 2);
    HBMLevelImages li;
    li.level[0] = {ec->bgra.data, ed->bgra.data, w, h, int32_t(ec->bgra.stride)};
    li.level[1] = {ec->half_bgra.data, ed->half_bgra.data, w / 2, h / 2,
                   int32_t(ec->half_bgra.stride)};
    li.level[2] = {qc.data(), qd.data(), w / 4, h / 4, int32_t(qs)};
    HBMLevelImages le;
    ImageCacheEntryPtr ee;
    std::vector<uint32_t> qe(qs * (h / 4) + 1);
    if (k > 0) {
      ee = owner.cache.GetImage(k - 1);
      HalveImageRGBA(qe.data(), int(qs), ee->half_bgra.data, int(ee->half_bgra.stride), w / 2,
                     h / 2);
      le.level[0] = {ee->bgra.data, ed->bgra.data, w, h, int32_t(ec->bgra.stride)};
      le.level[1] = {ee->half_bgra.data, ed->half_bgra.data, w / 2, h / 2,
                     int32_t(ec->half_bgra.stride)};
      le.level[2] = {qe.data(), qd.data(), w / 4, h / 4, int32_t(qs)};
    }
    HBMMotionField field;
    for (const SharedPtr<FeaturePoint2D>& f : before)
      if (f->GetPredecessor())
        field.Add(f->x, f->y, f->x - f->GetPredecessor()->GetFirst()->x,
                  f->y - f->GetPredecessor()->GetFirst()->y);
    for (const SharedPtr<FeaturePoint2D>& f : before) {
      synthetic::Vec3 X;
      double tx, ty;
      if (!seq.Backproject(k, f->x, f->y, &X) || !seq.Truth(k + 1, X, &tx, &ty) || tx < 12 ||
          ty < 12 || tx > w - 13 || ty > h - 13)
        continue;
      const FeaturePoint2D* pred = nullptr;
      if (f->GetPredecessor()) pred = f->GetPredecessor()->GetFirst().Get();
      const int kind = pred != nullptr ? 1 : 0;
      ++tracked[kind];
      // Own job, level by level.
      double sx, sy;
      double mdx = 0.0, mdy = 0.0;
      HBMPredictedStart(f->x, f->y, pred, w, h, &sx, &sy);
      if (pred == nullptr && field.Predict(f->x, f->y, &mdx, &mdy))
        HBMMovedStart(f->x, f->y, mdx, mdy, w, h, &sx, &sy);
      BlockMatchPosition pos{f->x, f->y, sx, sy};
      {
        TrackFeatureItem own{&li, pos, -1};
        TrackFeatureJob(nullptr, &own);
        const double eo = std::hypot(own.position.target_x - tx, own.position.target_y - ty);
        if (own.result >= 0) err_ok[kind].push_back(eo);
        // The kept estimate's cost over its block's texture, by cross-check outcome.
        auto guard = [&](int outcome, double gx, double gy, double err, bool retried) {
          const int tex = HBMBlockTexture(li.level[0], f->x, f->y);
          const int cost = HBMMatchCost(li.level[0], f->x, f->y, gx, gy);
          guards[outcome].push_back({err, double(cost) / double(std::max(1, tex)), retried});
        };
        if (own.result >= 0 && (pred == nullptr || k == 0))
          guard(0, own.position.target_x, own.position.target_y, eo, own.retried);
        if (pred != nullptr && k > 0 && own.result >= 0) {
          TrackFeatureItem pj{&le, {pred->x, pred->y, sx, sy}, -1};
          TrackFeatureJob(nullptr, &pj);
          if (pj.result < 0) {
            ++pred_failed;
            err_pred_failed_own.push_back(eo);
            guard(2, own.position.target_x, own.position.target_y, eo, own.retried);
          } else {
            const double ep = std::hypot(pj.position.target_x - tx, pj.position.target_y - ty);
            const double dd = std::hypot(pj.position.target_x - own.position.target_x,
                                         pj.position.target_y - own.position.target_y);
            if (dd > 1.0) {
              ++apart;
              if (eo < ep) ++apart_own_closer;
              err_apart_own.push_back(eo);
              err_apart_pred.push_back(ep);
              // The estimate where the feature's block matches better.
              const bool pred_better = HBMMatchCost(li.level[0], f->x, f->y, pj.position.target_x,
                                                    pj.position.target_y) <
                                       HBMMatchCost(li.level[0], f->x, f->y, own.position.target_x,
                                                    own.position.target_y);
              const double cx = pred_better ? pj.position.target_x : own.position.target_x;
              const double cy = pred_better ? pj.position.target_y : own.position.target_y;
              err_apart_cost.push_back(std::hypot(cx - tx, cy - ty));
              const bool own_kept = cx == own.position.target_x && cy == own.position.target_y;
              guard(3, cx, cy, std::hypot(cx - tx, cy - ty), own_kept ? own.retried : pj.retried);
              // The other estimate's cost: how distinct the choice was.
              const double ox = own_kept ? pj.position.target_x : own.position.target_x;
              const double oy = own_kept ? pj.position.target_y : own.position.target_y;
              const int other = HBMMatchCost(li.level[0], f->x, f->y, ox, oy);
              const int kept_cost = HBMMatchCost(li.level[0], f->x, f->y, cx, cy);
              guards[3].back().distinct = double(kept_cost) / double(std::max(1, other));
            } else {
              const double mx = 0.5 * (own.position.target_x + pj.position.target_x);
              const double my = 0.5 * (own.position.target_y + pj.position.target_y);
              guard(1, mx, my, std::hypot(mx - tx, my - ty), own.retried || pj.retried);
            }
          }
        }
      }
      auto lvl = [&](int l, int range, int it) {
        const double s = 1.0 / (1 << l);
        pos.source_x *= s;
        pos.source_y *= s;
        pos.target_x *= s;
        pos.target_y *= s;
        const HBMLevelImages::Level& L = li.level[l];
        const int res = MatchBlockSAD(pos, L.source, L.target, L.stride, L.width, L.height, 8, 8,
                                      range, range, it);
        pos.source_x /= s;
        pos.source_y /= s;
        pos.target_x /= s;
        pos.target_y /= s;
        return res;
      };
      int res = lvl(2, 8, 0);
      auto qcost = [&](double cx,
                       double cy) {  // quarter-level SAD of the block centred near (cx, cy) full px
        const HBMLevelImages::Level& L = li.level[2];
        uint32_t tpl[64], blk[64];
        ResampleBlock6(L.source, L.stride, L.width, L.height, tpl, 8, 8, 8, f->x / 4 - 3.5,
                       f->y / 4 - 3.5, 1.0);
        const int bx = int(std::floor(cx / 4 - 3.5 + 0.5)),
                  by = int(std::floor(cy / 4 - 3.5 + 0.5));
        CopyBlockWindow(L.target, L.stride, L.width, L.height, bx, by, 8, 8, blk);
        return int(SumAbsDiffBGRA(tpl, blk, 64));
      };
      const int cost_found = qcost(pos.target_x, pos.target_y), cost_truth = qcost(tx, ty);
      const double eq = std::hypot(pos.target_x - tx, pos.target_y - ty);
      double eh = -1, ef = -1;
      std::string cause;
      if (res < 0) {
        cause = "quarter outside";
      } else {
        res = lvl(1, 2, 0);
        eh = std::hypot(pos.target_x - tx, pos.target_y - ty);
        if (res < 0) {
          cause = "half outside";
        } else {
          res = lvl(0, 2, 0);
          ef = std::hypot(pos.target_x - tx, pos.target_y - ty);
          if (res < 0) {
            cause = "full outside";
          } else {
            BlockMatchPosition q = pos;
            res = RefineBlockSubPixel(q, li.level[0].source, li.level[0].target, li.level[0].stride,
                                      w, h, 8, 8, 15);
            if (res < 0) cause = res == -3 ? "refine >2px" : "refine singular";
            // From the truth's integer block: does refinement itself fail?
            BlockMatchPosition t{f->x, f->y, std::floor(tx) + 0.5, std::floor(ty) + 0.5};
            const int rt = RefineBlockSubPixel(t, li.level[0].source, li.level[0].target,
                                               li.level[0].stride, w, h, 8, 8, 15);
            if (res < 0) cause += rt < 0 ? " (also from truth)" : " (ok from truth)";
          }
        }
      }
      const bool lost = !f->GetSuccessor();
      shape[lost].push_back(BlockShape(li.level[0], f->x, f->y));
      if (!lost) continue;
      ++lostn[kind];
      if (cause.empty()) cause = "cross-check";
      if (ef > 1.5 && cause.rfind("refine", 0) == 0) {
        cause += eq > 3 ? " [quarter off]" : eh > 2 ? " [half off]" : " [full off]";
      }
      ++causes[std::string(kind ? "pred: " : "new:  ") + cause];
      static int shown = 0;
      if (std::getenv("KX_DIAG_SHOW") && shown < 40 &&
          cause.find("quarter off") != std::string::npos) {
        ++shown;
        std::printf(
            "      k %d f (%.1f %.1f) truth (%.2f %.2f) start (%.2f %.2f) eq %.2f eh %.2f ef %.2f  "
            "quarter SAD found %d truth %d\n",
            k, f->x, f->y, tx, ty, sx, sy, eq, eh, ef, cost_found, cost_truth);
      }
      err_q[kind].push_back(eq);
      if (eh >= 0) err_h[kind].push_back(eh);
      if (ef >= 0) err_f[kind].push_back(ef);
    }
  }
  for (int kind : {0, 1})
    std::printf(
        "  %s: %ld tracked, %.1f %% lost; lost ones off the truth after quarter %.2f, half %.2f, "
        "full %.2f px (medians)\n",
        kind ? "with predecessor" : "new", tracked[kind],
        100.0 * double(lostn[kind]) / double(std::max(1L, tracked[kind])),
        Percentile(err_q[kind], 0.5), Percentile(err_h[kind], 0.5), Percentile(err_f[kind], 0.5));
  for (const auto& [cause, n] : causes) std::printf("    %-50s %ld\n", cause.c_str(), n);
  for (int l : {0, 1}) {
    std::printf(
        "  %s features: block shape (smaller over larger slope energy) 10th %.3f median %.3f;",
        l ? "lost" : "kept", Percentile(shape[l], 0.1), Percentile(shape[l], 0.5));
    for (double t : {0.05, 0.1, 0.2}) {
      const auto n =
          std::count_if(shape[l].begin(), shape[l].end(), [&](double v) { return v < t; });
      std::printf(" < %.2f: %.1f %%", t,
                  100.0 * double(n) / double(std::max<size_t>(1, shape[l].size())));
    }
    std::printf("\n");
  }
  for (int kind : {0, 1})
    std::printf("  %s jobs: %zu tracked, error median %.3f 95th %.3f px\n",
                kind ? "with predecessor" : "new", err_ok[kind].size(),
                Percentile(err_ok[kind], 0.5), Percentile(err_ok[kind], 0.95));
  std::printf("  predecessor job failed %ld: own error median %.3f 95th %.3f\n", pred_failed,
              Percentile(err_pred_failed_own, 0.5), Percentile(err_pred_failed_own, 0.95));
  std::printf(
      "  estimates apart > 1 px %ld, own closer %ld; error median/95th own %.3f/%.3f, "
      "predecessor %.3f/%.3f, kept (lower cost) %.3f/%.3f\n",
      apart, apart_own_closer, Percentile(err_apart_own, 0.5), Percentile(err_apart_own, 0.95),
      Percentile(err_apart_pred, 0.5), Percentile(err_apart_pred, 0.95),
      Percentile(err_apart_cost, 0.5), Percentile(err_apart_cost, 0.95));
  // What a guard on the kept estimate's cost over its block's texture (or on the job's
  // first pass) would keep of each cross-check outcome.
  const char* outcome[4] = {"no predecessor", "confirmed", "predecessor failed", "apart"};
  for (int o = 0; o < 4; ++o) {
    std::vector<double> ratios;
    for (const Guarded& g : guards[o]) ratios.push_back(g.ratio);
    std::printf("  %-18s %5zu kept, cost/texture median %.2f 95th %.2f;", outcome[o],
                guards[o].size(), Percentile(ratios, 0.5), Percentile(ratios, 0.95));
    for (double t : {0.25, 0.5, 0.75, 1.0, 1.5, 2.0, 1e9}) {
      long n = 0, gross = 0;
      for (const Guarded& g : guards[o])
        if (g.ratio <= t) {
          ++n;
          gross += g.error > 2.0;
        }
      std::printf(" <=%g: %ld/%ld", t < 1e8 ? t : 0.0, gross, n);
    }
    long n = 0, gross = 0;
    for (const Guarded& g : guards[o])
      if (!g.retried) {
        ++n;
        gross += g.error > 2.0;
      }
    std::printf("; first pass: %ld/%ld (gross/kept)\n", gross, n);
    std::printf("    retried:");
    for (double t : {0.25, 0.5, 0.75, 1.0, 1.5, 2.0, 1e9}) {
      long m = 0, mg = 0;
      for (const Guarded& g : guards[o])
        if (g.retried && g.ratio <= t) {
          ++m;
          mg += g.error > 2.0;
        }
      std::printf(" <=%g: %ld/%ld", t < 1e8 ? t : 0.0, mg, m);
    }
    std::printf("\n");
    if (o != 3) continue;
    std::printf("    apart, kept cost over the other's and cost/texture <= 1:");
    for (double t : {0.25, 0.5, 0.75, 1.0}) {
      long m = 0, mg = 0, m1 = 0, mg1 = 0;
      for (const Guarded& g : guards[o]) {
        if (g.distinct > t) continue;
        ++m;
        mg += g.error > 2.0;
        if (g.ratio <= 1.0) {
          ++m1;
          mg1 += g.error > 2.0;
        }
      }
      std::printf(" <=%g: %ld/%ld, %ld/%ld", t, mg, m, mg1, m1);
    }
    std::printf("\n");
  }
}

void PrintRun(const char* who, int threads, const Run& r) {
  std::printf(
      "  %-26s %d thread%s: tracks %5zu, lost in view %5.1f %%, median length %4.1f, "
      "step %6.2f ms",
      who, threads, threads == 1 ? " " : "s", r.tracks, 100.0 * r.lost_in_view, r.median_length,
      r.step_ms);
  // A few steps far off hurt a camera solve more than many lost ones.
  const long gross =
      std::count_if(r.step_errors.begin(), r.step_errors.end(), [](double e) { return e > 2.0; });
  std::printf(
      ", steps lost %5.2f %%, gross (> 2 px) %5.2f %% (%ld), step error median %.3f 95th "
      "%.3f px",
      100.0 * double(r.steps_lost) / double(std::max(1L, r.steps)),
      100.0 * double(gross) / double(std::max<size_t>(1, r.step_errors.size())), gross,
      Percentile(r.step_errors, 0.5), Percentile(r.step_errors, 0.95));
  if (r.drift > 0.0) std::printf(", track end off the truth: median %.2f px", r.drift);
  const long even = r.steps - r.uneven_steps;
  std::printf(
      "; even / uneven neighbourhoods: steps %ld / %ld, lost %.2f / %.2f %%, gross %ld / %ld", even,
      r.uneven_steps, 100.0 * double(r.steps_lost - r.uneven_lost) / double(std::max(1L, even)),
      100.0 * double(r.uneven_lost) / double(std::max(1L, r.uneven_steps)), gross - r.uneven_gross,
      r.uneven_gross);
  std::printf(", digest %016llx\n", static_cast<unsigned long long>(r.digest));
}

void BM_OpticalFlowSequence(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(RunCorrelator(1, false, int(state.range(0))));
}
BENCHMARK(BM_OpticalFlowSequence)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  NotifyContext::SetNotifyLevel(2);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const Setup setups[] = {{"OpenCV 21x21 L3 30it", true, 21, 3, 2, 30},
                          {"ours 21x21 L3 30it", false, 21, 3, 2, 30},
                          {"ours defaults", false, 0, 0, 0, 0}};
  // KX_TRACK_SHOTS picks shots by number (e.g. "1" for the pan alone), KX_TRACK_PARTS
  // the parts: s seeded and chained, c OpenCV and the optical-flow correlator, b the
  // block-matching correlator, d the block matcher's losses by cause (KX_DIAG_SHOW=1
  // prints some of them).
  const char* only = std::getenv("KX_TRACK_SHOTS");
  const char* parts_env = std::getenv("KX_TRACK_PARTS");
  const std::string parts = parts_env != nullptr ? parts_env : "scb";
  for (int shot = 0; shot < 3; ++shot) {
    if (only != nullptr && std::strchr(only, '0' + shot) == nullptr) continue;
    std::printf("\n%s, %d frames 1280x720\n", kShots[shot].name, kFrames);
    for (Setup s : setups) {
      if (parts.find('s') == std::string::npos) break;
      if (s.window == 0) {
        OpticalFlowParameter p;
        uint32_t levels, sub;
        OpticalFlowPyramidDepth(p.m_search_range, p.m_window_width, p.m_window_height, &levels,
                                &sub);
        s.window = int(p.m_window_width);
        s.levels = int(levels);
        s.subsampling = int(sub);
        s.iterations = int(p.m_max_iterations);
      }
      SeededAndChained(shot, s);
    }
    // OpenCV also with our default window and the same coarsest scale.
    OpticalFlowParameter defaults;
    uint32_t levels, sub;
    OpticalFlowPyramidDepth(defaults.m_search_range, defaults.m_window_width,
                            defaults.m_window_height, &levels, &sub);
    const int window = int(defaults.m_window_width);
    const int cv_levels = 1 + int(std::lround(std::log2(double(sub)))) * int(levels - 1);
    char label[64];
    std::snprintf(label, sizeof label, "OpenCV LK %dx%d L%d + refill", window, window, cv_levels);
    for (int threads : {1, 2}) {
      if (parts.find('c') != std::string::npos) {
        PrintRun("OpenCV LK 21x21 L3 + refill", threads, RunOpenCV(shot, threads, 21, 3));
        PrintRun(label, threads, RunOpenCV(shot, threads, window, cv_levels));
        PrintRun("optical-flow correlator", threads, RunCorrelator(shot, false, threads));
      }
      if (parts.find('b') != std::string::npos)
        PrintRun("block-matching correlator", threads, RunCorrelator(shot, true, threads));
    }
    if (parts.find('d') != std::string::npos) DiagnoseHBM(shot);
  }
  return 0;
}
