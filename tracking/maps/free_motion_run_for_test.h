// Free camera motion through a synthetic point cloud with exactly known cameras, solved
// by the free-motion map, for its end-to-end tests and its accuracy benchmark. The
// synthetic correlator projects the scene (points 4 to 12 m about the first camera, in
// every direction) with each frame's true camera, optionally with Gaussian noise and
// outliers; the map then runs its per-frame stages and the final estimation, as the
// tracking manager does. SolveErrors compares the solved cameras with the truth after
// the similarity transform that fits the centres best.
#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "features/feature_correlator_syn.h"
#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/tracks/feature_flags.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_fmatrix.h"
#include "optimise/bundle_adjuster_sparse.h"
#include "optimise/camera_estimator_ptrz.h"
#include "optimise/camera_parameter_mask.h"
#include "tracking/maps/feature_map_move.h"
#include "tracking/maps/sphere_pan_for_test.h"

namespace kxtest {

struct FreeMotionOptions {
  int frames = 120;
  int points = 4000;         // scene points (about 6 % in view)
  double noise = 0.0;        // standard deviation of a feature position (pixels)
  double outliers = 0.0;     // share of displaced features (up to 15 px) in half the frames
  double focal_start = 1.3;  // the cameras' focal length before the solve, relative to truth
  bool reverse = false;      // image indices decrease along the frame list
  // The sampler's threshold mode and inlier distance or sigma, as a user sets them: mode 0
  // with 0.8 px is the default configuration (meant for about 0.26 px of noise).
  int threshold_mode = 0;
  double threshold = 0.8;
  double sigma = 0.3;
  // The point update's largest reprojection error (pixels): the default 1 px suits about
  // 0.26 px of noise, like the sampler's default.
  double max_map_error = 1.0;
  int ba_limit = FeatureMapMove::eNever;
  int estimate_focal = 1;
  // The key-frame pair: manual (first, second) when second > 0, else the automatic search.
  // On exact tracks every correspondence is an F-inlier and the automatic criterion asks
  // for an inlier share below m_max_inlier_ratio: no pair is accepted while tracking, only
  // the last chance at the end of the run takes one.
  int first_key = 0;
  int second_key = 0;
};

struct SolveErrors {
  bool solved = false;            // every stage succeeded
  int frames_solved = 0;          // frames in the reconstructed list
  double centre_rel = 0.0;        // largest aligned centre error relative to the path length
  double angle_deg = 0.0;         // largest aligned camera-axis error (degrees)
  double focal_rel = 0.0;         // largest relative focal-length error of any camera
  double first_pose = 0.0;        // first camera against the map camera: centre (mm) + axes
  double depth_in_focal = 0;      // mean of the smaller half of the depths, in focal lengths
  double rmse = 0.0;              // the map's RMSE (pixels)
  double outliers_flagged = 0.0;  // share of the planted outliers left without support
};

inline vm::Vector3 Unit(const vm::Vector3& v) {
  return v * (1.0 / std::sqrt(v.Dot(v)));
}

// Turns the camera by angle (radians) about axis through its centre.
inline void RotateAboutCentre(PerspectiveCamera& camera, const vm::Vector3& axis, double angle) {
  const vm::Vector3 c = camera.GetC();
  Matrix4x4 m;
  m.SetRotation(Unit(axis), angle);
  const vm::Vector3 rc{m[0][0] * c.x + m[0][1] * c.y + m[0][2] * c.z,
                       m[1][0] * c.x + m[1][1] * c.y + m[1][2] * c.z,
                       m[2][0] * c.x + m[2][1] * c.y + m[2][2] * c.z};
  m[0][3] = c.x - rc.x;
  m[1][3] = c.y - rc.y;
  m[2][3] = c.z - rc.z;
  camera.Transform(m);
}

// Frame k of n, from the synthetic reference camera: a handheld walk sideways and forward (about 43
// mm per frame) with a bob, panning up to 20 degrees, tilting up to 8 and rolling up to 3, so that
// the rotation axes vary as self-calibration needs.
inline void FreeMotionCamera(int k, int n, PerspectiveCamera& camera) {
  SetSyntheticReferenceCamera(camera);
  const double t = n > 1 ? double(k) / double(n - 1) : 0.0;
  const vm::Vector3 h0 = Unit(camera.H0()), v0 = Unit(camera.V0()), a0 = camera.GetA();
  const vm::Vector3 c =
      camera.GetC() + h0 * (40.0 * k) + a0 * (15.0 * k) + v0 * (300.0 * std::sin(2.0 * M_PI * t));
  constexpr double kDeg = M_PI / 180.0;
  RotateAboutCentre(camera, v0, 20.0 * kDeg * std::sin(M_PI * t));
  RotateAboutCentre(camera, camera.H0(), 8.0 * kDeg * std::sin(2.0 * M_PI * t));
  RotateAboutCentre(camera, camera.GetA(), 3.0 * kDeg * std::sin(3.0 * M_PI * t));
  SetCameraCentre(camera, c);
}

// Largest angle (degrees) between the axes of a and b, after b's axes are turned by r.
inline double AxisAngleDeg(const PerspectiveCamera& a, const PerspectiveCamera& b,
                           const Matrix3x3& r) {
  const auto turn = [&r](const vm::Vector3& v) {
    return vm::Vector3{r[0][0] * v.x + r[0][1] * v.y + r[0][2] * v.z,
                       r[1][0] * v.x + r[1][1] * v.y + r[1][2] * v.z,
                       r[2][0] * v.x + r[2][1] * v.y + r[2][2] * v.z};
  };
  double worst = 0.0;
  const vm::Vector3 axes_a[3] = {Unit(a.H0()), Unit(a.V0()), a.GetA()};
  const vm::Vector3 axes_b[3] = {Unit(b.H0()), Unit(b.V0()), b.GetA()};
  for (int i = 0; i < 3; ++i) {
    // atan2 keeps small angles exact, where acos of the dot product would not.
    const vm::Vector3 b = turn(axes_b[i]);
    const vm::Vector3 cross{axes_a[i].y * b.z - axes_a[i].z * b.y,
                            axes_a[i].z * b.x - axes_a[i].x * b.z,
                            axes_a[i].x * b.y - axes_a[i].y * b.x};
    const double angle = std::atan2(std::sqrt(cross.Dot(cross)), axes_a[i].Dot(b));
    worst = std::max(worst, angle * 180.0 / M_PI);
  }
  return worst;
}

// The similarity (rotation r, scale, centroids) that maps solved centres onto true ones
// best in least squares (Umeyama); returns the largest remaining centre distance.
inline double AlignSimilarity(const std::vector<vm::Vector3>& solved,
                              const std::vector<vm::Vector3>& truth, Matrix3x3& r) {
  const size_t n = solved.size();
  vm::Vector3 ms{0, 0, 0}, mt{0, 0, 0};
  for (size_t i = 0; i < n; ++i) {
    ms = ms + solved[i];
    mt = mt + truth[i];
  }
  ms = ms * (1.0 / double(n));
  mt = mt * (1.0 / double(n));
  Matrix3x3 cov;
  for (double& v : cov.m) v = 0.0;
  double var = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const vm::Vector3 a = solved[i] - ms, b = truth[i] - mt;
    const double av[3] = {a.x, a.y, a.z}, bv[3] = {b.x, b.y, b.z};
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 3; ++col) cov[row][col] += bv[row] * av[col];
    }
    var += a.Dot(a);
  }
  Matrix3x3 u, v;
  double s[3];
  u.SVD(s, v, cov);
  const auto det = [](const Matrix3x3& m) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
           m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  const double d = det(u) * det(v) < 0 ? -1.0 : 1.0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r[i][j] = u[i][0] * v[j][0] + u[i][1] * v[j][1] + u[i][2] * v[j][2] * d;
    }
  }
  const double scale = (s[0] + s[1] + s[2] * d) / var;
  double worst = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const vm::Vector3 a = solved[i] - ms;
    const vm::Vector3 m{r[0][0] * a.x + r[0][1] * a.y + r[0][2] * a.z,
                        r[1][0] * a.x + r[1][1] * a.y + r[1][2] * a.z,
                        r[2][0] * a.x + r[2][1] * a.y + r[2][2] * a.z};
    const vm::Vector3 e = m * scale + mt - truth[i];
    worst = std::max(worst, std::sqrt(e.Dot(e)));
  }
  return worst;
}

struct FreeMotionRun {
  explicit FreeMotionRun(const FreeMotionOptions& o) : options(o) {
    FeatureCorrelatorSyn::Parameter& p = templ.GetParameter();
    p = FeatureCorrelatorSyn::Parameter(uint32_t(o.points), 4000.0, 12000.0, 0.0, 0.0, 0.0, 0.0,
                                        0.5, 2.0, 0.0, 0.0, o.noise, 50, nullptr, true, false,
                                        false, true, false, false, 0.0, 0.0, 0.0, 0.0, o.outliers,
                                        15.0, 1937);
    templ.Init3DScene();
    for (int k = 0; k < o.frames; ++k) {
      PerspectiveCamera camera;
      FreeMotionCamera(k, o.frames, camera);
      cameras.push_back(camera);
      auto image = SharedPtr<FeatureImage>::Make();
      image->SetImageIndex(o.reverse ? 1000 - k : k);
      image->CopyFrom(camera, false);
      images.push_back(image);
    }
  }
  ~FreeMotionRun() {
    correlators.clear();
    for (auto& image : images) image->ClearFPoints2D();
  }

  // The map's components as a user's configuration gives them: an F-matrix sampler with
  // the options' threshold, the pan/tilt/roll estimator; default map parameters but for
  // the window mode and the focal-length mode.
  void Configure(FeatureMapMove& map) const {
    auto sampler = SharedPtr<RandSampling>::Make();
    RandSampling::Parameter sp;
    sp.m_threshold_mode = options.threshold_mode;
    sp.m_threshold = options.threshold;
    sp.m_sigma = options.sigma;
    sampler->SetParameter(sp);
    sampler->SetSampleCalculator(SharedPtr<SampleCalculatorFMatrix>::Make());
    map.SetOutlierDetector(sampler);
    map.SetCameraEstimator(SharedPtr<CameraEstimatorPTRZ<OptimizerLM_PTRZ>>::Make());
    FeatureMapMove::Parameter p = map.GetParameter();
    p.m_update_parameter.m_max_map_error = options.max_map_error;
    p.m_ba_limit = options.ba_limit;
    p.m_estimate_focal = options.estimate_focal;
    if (options.second_key > 0) {
      p.m_keyframe_parameter.m_method = KeyFrameSelect::eManual;
      p.m_keyframe_parameter.m_first_keyframe = options.first_key;
      p.m_keyframe_parameter.m_second_keyframe = options.second_key;
    }
    map.SetParameter(p);
  }

  // Init, then Match, OutlierElimination and CameraEstimation per frame, then the final
  // estimation; false at the first failing stage. Every frame's camera takes the wrong
  // focal length after its features were made (the correlator projects with the camera
  // the image holds at Match).
  bool Track(FeatureMapMove& map) {
    const auto guess = [this](size_t k) {
      images[k]->SetFocalLength(cameras[k].GetFocalLength() * options.focal_start);
    };
    const auto fail = [this](const char* stage, size_t k) {
      failure = std::string(stage) + " failed at frame " + std::to_string(k);
      return false;
    };
    if (!map.Init(images[0])) return fail("Init", 0);
    for (size_t k = 1; k < images.size(); ++k) {
      correlators.push_back(templ.Clone());
      map.SetCorrelatorTemplate(correlators.back());
      images[k]->CopyFrom(cameras[k], false);
      if (!map.Match(images[k])) return fail("Match", k);
      if (k == 1) guess(0);
      guess(k);
      if (!map.OutlierElimination()) return fail("OutlierElimination", k);
      if (!map.CameraEstimation()) return fail("CameraEstimation", k);
    }
    return map.FinalEstimation() || fail("FinalEstimation", images.size());
  }

  // Errors of the solved cameras of map against the truth.
  SolveErrors Compare(const FeatureMapMove& map, const PerspectiveCamera& reference) const {
    return Compare(map.GetIncrementalList(), reference, map.GetRMSE());
  }

  // Errors of the cameras of the images in solved_list against the truth.
  SolveErrors Compare(const std::vector<SharedPtr<FeatureImage>>& solved_list,
                      const PerspectiveCamera& reference, double rmse) const {
    SolveErrors e;
    e.frames_solved = int(solved_list.size());
    std::vector<vm::Vector3> solved, truth;
    std::vector<size_t> index;
    double length = 0.0;
    for (size_t k = 0; k < images.size(); ++k) {
      if (std::find(solved_list.begin(), solved_list.end(), images[k]) == solved_list.end()) {
        continue;
      }
      solved.push_back(images[k]->GetC());
      truth.push_back(cameras[k].GetC());
      index.push_back(k);
      e.focal_rel = std::max(
          e.focal_rel, std::fabs(images[k]->GetFocalLength() / cameras[k].GetFocalLength() - 1.0));
    }
    for (size_t i = 1; i < truth.size(); ++i)
      length += std::sqrt((truth[i] - truth[i - 1]).Dot(truth[i] - truth[i - 1]));
    if (truth.size() < 3) return e;
    Matrix3x3 r;
    e.centre_rel = AlignSimilarity(solved, truth, r) / length;
    for (size_t i = 0; i < index.size(); ++i) {
      e.angle_deg = std::max(e.angle_deg, AxisAngleDeg(cameras[index[i]], *images[index[i]], r));
    }
    Matrix3x3 identity;
    identity.SetRotationXYZ(0.0, 0.0, 0.0);
    if (!solved_list.empty()) {
      const PerspectiveCamera& first = *solved_list.front();
      const vm::Vector3 d = first.GetC() - reference.GetC();
      e.first_pose = std::sqrt(d.Dot(d)) + AxisAngleDeg(reference, first, identity);
      // Mean of the smaller half of the observed depths, in focal lengths of the first.
      std::vector<double> depths;
      for (const auto& image : solved_list) {
        for (const auto& feature : image->GetFPoints2D()) {
          const FeaturePoint3D* point = feature->GetFPoint3D().Get();
          if (!point || point->GetCS() != FeaturePoint3D::eCartesian ||
              (point->GetFlags() & FP3D_FLAG_REMOVED)) {
            continue;
          }
          depths.push_back(std::fabs((*point - image->GetC()).Dot(image->GetA())));
        }
      }
      std::sort(depths.begin(), depths.end());
      const size_t b = (depths.size() + 1) / 2;
      double sum = 0.0;
      for (size_t i = 0; i < b; ++i) sum += depths[i];
      if (b > 0) e.depth_in_focal = sum / double(b) / first.GetFocalLength();
    }
    // Planted outliers (flag 0x1 on the feature) whose link kept its support.
    int planted = 0, flagged = 0;
    for (const auto& image : images) {
      for (const auto& feature : image->GetFPoints2D()) {
        if (!(feature->GetFlags() & 0x1) || !feature->GetPredecessor()) continue;
        ++planted;
        // Displacements along the epipolar line pass the F test; the resection's projection
        // test then takes the feature's 3D point.
        if (!(feature->GetPredecessor()->GetFlags() & FCORR_SUPPORT_TRUE) ||
            !feature->GetFPoint3D()) {
          ++flagged;
        }
      }
    }
    e.outliers_flagged = planted ? double(flagged) / planted : 1.0;
    e.rmse = rmse;
    e.solved = true;
    return e;
  }

  // The features of every frame without a map, as Track makes them, each track linked to
  // a 3D point at its true scene position; the images keep their true cameras. Planted
  // outliers lose their point, and a point left with one observation loses it too.
  void MakeTrueTracks() {
    templ.GetParameter().m_s3d = true;  // draws nothing: the same features as Track's
    for (size_t k = 1; k < images.size(); ++k) {
      correlators.push_back(templ.Clone());
      FeatureCorrelator& c = *correlators.back();
      c.SetCamera(*images[k]);
      c.SetFeatureImages(images[k - 1].Get(), images[k].Get());
      c.Compute();
    }
    std::map<const FeaturePoint3D*, int> seen;
    for (const auto& image : images) {
      for (const auto& feature : image->GetFPoints2D()) {
        if (feature->GetFlags() & 0x1) feature->SetFPoint3D(SharedPtr<FeaturePoint3D>());
        if (feature->GetFPoint3D()) ++seen[feature->GetFPoint3D().Get()];
      }
    }
    for (const auto& image : images) {
      for (const auto& feature : image->GetFPoints2D()) {
        const FeaturePoint3D* point = feature->GetFPoint3D().Get();
        if (point && seen[point] < 2) feature->SetFPoint3D(SharedPtr<FeaturePoint3D>());
      }
    }
  }

  FreeMotionOptions options;
  std::string failure;  // the stage that failed, for messages
  FeatureCorrelatorSyn templ;
  std::vector<PerspectiveCamera> cameras;
  std::vector<SharedPtr<FeatureImage>> images;
  std::vector<SharedPtr<FeatureCorrelator>> correlators;
};

// The maximum-likelihood estimate for the observations a run with options o makes: the
// sparse adjuster over every observation but the planted outliers, started from the true
// cameras and points, with no outlier removal. The focal length stays at the truth (focal
// mode 0), is one value for all frames (1: the adjustment with the focal length held,
// searched over the focal length for the least error) or is free per frame (2).
inline SolveErrors MaximumLikelihoodReference(const FreeMotionOptions& o, int focal_mode) {
  FreeMotionRun run(o);
  run.MakeTrueTracks();
  std::vector<std::pair<FeaturePoint3D*, vm::Vector3>> truth;
  {
    std::map<FeaturePoint3D*, bool> listed;
    for (const auto& image : run.images) {
      for (const auto& feature : image->GetFPoints2D()) {
        FeaturePoint3D* point = feature->GetFPoint3D().Get();
        if (point && listed.emplace(point, true).second) truth.emplace_back(point, *point);
      }
    }
  }
  BundleAdjusterSparse adjuster;
  adjuster.GetParameter().m_parameter_mask = focal_mode == 2 ? kCamMaskAdjusterDefault : kCamPose;
  adjuster.GetParameter().m_max_iterations = 50;
  // The error of an adjustment with every focal length at factor times the truth.
  const auto adjust = [&](double factor) {
    for (size_t k = 0; k < run.images.size(); ++k) {
      run.images[k]->CopyFrom(run.cameras[k], false);
      run.images[k]->SetFocalLength(run.cameras[k].GetFocalLength() * factor);
    }
    for (auto& [point, x] : truth) static_cast<vm::Vector3&>(*point) = x;
    adjuster.Run(run.images, 0);
    return adjuster.m_final_rmse;
  };
  if (focal_mode == 1) {
    // Golden-section search: the error is smooth and has one minimum near the truth.
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double a = 0.99, b = 1.01;
    double c = b - g * (b - a), d = a + g * (b - a);
    double fc = adjust(c), fd = adjust(d);
    while (b - a > 1e-6) {
      if (fc < fd) {
        b = d;
        d = c;
        fd = fc;
        c = b - g * (b - a);
        fc = adjust(c);
      } else {
        a = c;
        c = d;
        fc = fd;
        d = a + g * (b - a);
        fd = adjust(d);
      }
    }
    adjust((a + b) / 2.0);
  } else {
    adjust(1.0);
  }
  return run.Compare(run.images, run.cameras.front(), adjuster.m_final_rmse);
}

}  // namespace kxtest
