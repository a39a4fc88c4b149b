#include "tracking/maps/feature_map_sphere.h"

#include <cmath>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "features/feature_correlator_syn.h"
#include "features/feature_correspondence_iterator.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_mapper.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_fmatrix.h"
#include "optimise/bundle_adjuster_interleave.h"
#include "optimise/bundle_adjuster_sparse.h"
#include "optimise/camera_estimator_ptrz.h"
#include "optimise/camera_estimator_rad_dist_known_fpoint3d.h"
#include "optimise/camera_parameter_mask.h"
#include "optimise/estimator_hmatrix.h"
#include "optimise/optimizer_sparse_lm.h"

namespace {

constexpr double kDeg = 57.29577951308232;

const char* YesNo(bool b) {
  return b ? "true" : "false";
}

void PrintStars() {
  Notify(3, "%s", std::string(54, '*').c_str());
}

}  // namespace

FeatureMapSphere::FeatureMapSphere() {
  Clear();
}

FeatureMapSphere::~FeatureMapSphere() = default;

void FeatureMapSphere::ResetSphere() {
  Reset();
  m_keyframes.clear();
  m_max_displacement = 0.0;
}

void FeatureMapSphere::Clear() {
  ResetSphere();
  m_rmse = 1e16;
}

bool FeatureMapSphere::Init(SharedPtr<FeatureImage>& image) {
  // A new run never starts from the key frames of an earlier one.
  m_keyframes.clear();
  m_max_displacement = 0.0;
  return FeatureMap::Init(image);
}

FeatureImage* FeatureMapSphere::PreviousImage(const FeatureImage* image) const {
  for (size_t i = 1; i < m_fimage_list.size(); ++i) {
    if (m_fimage_list[i].Get() == image) return m_fimage_list[i - 1].Get();
  }
  return nullptr;
}

int FeatureMapSphere::IndexOf(const FeatureImage* image) const {
  return image ? image->GetImageIndex() : -1;
}

bool FeatureMapSphere::OutlierElimination() {
  const int n = static_cast<int>(m_fimage_list.size());
  if (n < 2) {
    Notify(2, "FeatureMapSphere::OutlierElimination: no. of images %d < 2", n);
    return false;
  }
  if (!m_outlier_detector) {
    Notify(2, "FeatureMapSphere::OutlierElimination: no outlier detector has been set");
    return false;
  }
  FeatureImage* prev = m_fimage_list[size_t(n) - 2].Get();
  SharedPtr<FeatureImage> cur = m_fimage_list.back();
  OutlierDetector& det = *m_outlier_detector;
  det.SetCurrentCamera(*prev);
  det.SetCorrespondences(cur->GetFPoints2D(), true);
  det.Run(FCORR_SUPPORT_TRUE | FCORR_SUPPORT_ROTATION);
  cur->SetStatistic(2, det.m_num_supported);
  cur->SetStatistic(3, det.m_num_unsupported);
  if (RunGuidedMatcher(FCORR_SUPPORT_TRUE | FCORR_SUPPORT_ROTATION)) {
    Notify(4, "FeatureMapSphere::OutlierElimination: guided matching succeed");
  }

  // Tracks the user placed by hand are kept whatever the model says.
  long manual = 0, overwrites = 0;
  for (const SharedPtr<FeaturePoint2D>& f : cur->GetFPoints2D()) {
    if (!f || !f->TestFlags(FP2D_FLAG_MANUAL)) continue;
    ++manual;
    const SharedPtr<FeatureCorrespondence>& link = f->GetPredecessor();
    if (link && !(link->GetFlags() & FCORR_SUPPORT_ROTATION)) {
      link->SetFlags(link->GetFlags() | FCORR_SUPPORT_ROTATION);
      ++overwrites;
    }
  }
  if (overwrites > 0) {
    Notify(4,
           "FeatureMapSphere::OutlierEstimation: overwrite support \"rotation\" for %ld of %ld "
           "manual feature points",
           overwrites, manual);
  }
  if (!m_parameter.m_fmatrix_pass) return true;

  auto* ransac = dynamic_cast<RandSampling*>(&det);
  if (!ransac) {
    Notify(2, "FeatureMapSphere::OutlierElimination: no ransac outlier detector!");
    return true;
  }
  SharedPtr<SampleCalculator> kept = ransac->GetSampleCalculator();
  ransac->SetSampleCalculator(SharedPtr<SampleCalculatorFMatrix>::Make());
  struct Restore {
    RandSampling* r;
    SharedPtr<SampleCalculator>& c;
    ~Restore() { r->SetSampleCalculator(c); }
  } restore{ransac, kept};
  if (kept) ransac->SetInitCamera(kept->GetInitCamera());
  ransac->SetCurrentCamera(*prev);
  ransac->SetCorrespondences(cur->GetFPoints2D(), true);
  ransac->Run(FCORR_SUPPORT_FREEMOVE);
  if (RunGuidedMatcher(FCORR_SUPPORT_FREEMOVE)) {
    Notify(4, "FeatureMapSphere::OutlierElimination: guided matching succeed");
  }
  return true;
}

bool FeatureMapSphere::CameraEstimation() {
  Notify(5, "FeatureMapSphere::CameraEstimation:");
  const int n = static_cast<int>(m_fimage_list.size());
  if (n < 2) {
    Notify(2, "FeatureMapSphere::CameraEstimation: no. of images %d < 2", n);
    return false;
  }
  SharedPtr<FeatureImage> cur = GetCurrentFImage();
  Update3DLinks(cur);
  if (m_observer && cur) {
    cur->ClearFlags(FIMAGE_FLAG_NOT_PROCESSED);
    m_observer->UpdateVisualisation(3, cur->GetImageIndex());
  }
  if (m_parameter.m_estimate_focal) return true;
  return EstimateCurrentCamera();
}

bool FeatureMapSphere::EstimateCurrentCamera() {
  SharedPtr<FeatureImage> cur = GetCurrentFImage();
  return EstimateCamera(cur);
}

bool FeatureMapSphere::EstimateCamera(SharedPtr<FeatureImage>& img) {
  const int n = static_cast<int>(m_fimage_list.size());
  if (n < 2) {
    Notify(2, "FeatureMapSphere::EstimateCamera: no. of images %d < 2", n);
    return false;
  }
  if (!img || img == m_fimage_list.front()) return false;
  FeatureImage* prev = PreviousImage(img.Get());
  if (!prev) {
    Notify(2, "FeatureMapSphere::EstimateCamera: couldn't find previous image !");
    return false;
  }
  if (!m_estimator) {
    Notify(2, "FeatureMapSphere::EstimateCamera: no estimator has been set");
    return false;
  }

  if (m_parameter.m_estimate_k3 || m_parameter.m_estimate_k5) {
    CameraEstimatorRadDistHMatrix dist;
    dist.m_limit = m_parameter.m_limit_distortion;
    dist.m_max_k3 = m_parameter.m_max_k3;
    dist.m_max_k5 = m_parameter.m_max_k5;
    dist.m_settings.k3_0 = false;
    dist.m_settings.k3_1 = m_parameter.m_estimate_k3;
    dist.m_settings.k5_0 = false;
    dist.m_settings.k5_1 = m_parameter.m_estimate_k5;
    if (dist.Optimize(prev, img.Get(),
                      FeatureCorrespondenceIterator(img.Get(), FCORR_SUPPORT_ROTATION, true))) {
      Notify(3,
             "FeatureMapSphere::EstimateCamera: lens distortion estimation succeed\n"
             "                                 image no. %d: k3=%e, k5=%e\n"
             "                                 image no. %d  k3=%e, k5=%e",
             IndexOf(prev), prev->GetDistortionCoefficients()[0],
             prev->GetDistortionCoefficients()[1], IndexOf(img.Get()),
             img->GetDistortionCoefficients()[0], img->GetDistortionCoefficients()[1]);
    } else {
      Notify(2, "FeatureMapSphere::EstimateCamera: lens distortion estimation failed !");
      Notify(3,
             "FeatureMapSphere::EstimateCamera: lens distortion set to values of previous "
             "image !");
      img->SetDistortion(prev->GetDistortionCoefficients()[0], prev->GetDistortionCoefficients()[1],
                         img->GetRdDim(), img->GetDistortionModel());
    }
  }

  CameraEstimator& est = *m_estimator;
  est.SetInitCamera(*m_fimage_list.front());
  est.SetPreviousCamera(*prev);
  est.SetCurrentCamera(*img);
  est.SetCorrespondences(FeatureCorrespondenceIterator(img.Get(), FCORR_SUPPORT_ROTATION, true),
                         prev, img.Get());
  const bool ok = est.Run(img.Get());
  if (ok) {
    EstimateParameter(&m_camera, img.Get(), &est);
    img->SetMeanSquaredError(est.GetError(true));
  }
  return ok;
}

bool FeatureMapSphere::Update3DLinks(SharedPtr<FeatureImage>& img) {
  if (!img || m_fimage_list.empty() || img == m_fimage_list.front()) return false;
  FeatureImage* prev = PreviousImage(img.Get());
  if (!prev) {
    Notify(2, "FeatureMapSphere::Update3DLinks: couldn't find previous image !");
    return false;
  }
  int supported = 0, fresh = 0, old = 0, links = 0;
  FeatureCorrespondenceIterator it(img.Get(), FCORR_SUPPORT_ROTATION | FCORR_SUPPORT_FREEMOVE,
                                   true);
  for (SharedPtr<FeatureCorrespondence> c = it.Next(); c; c = it.Next()) {
    ++supported;
    SharedPtr<FeaturePoint2D> earlier = c->GetFirst();
    SharedPtr<FeaturePoint2D> later = c->GetSecond();
    if (!earlier || !later) {
      Notify(2, "FeatureMapSphere::Update3DLinks: corr element feature == NULL !");
      return false;
    }
    if (earlier->GetFPoint3D()) {
      ++old;
    } else {
      SetFeature3D(earlier, prev);
      ++fresh;
    }
    if (m_parameter.m_link_mode != 0) {
      later->SetFPoint3D(earlier->GetFPoint3D());
      ++links;
    }
  }
  if (m_parameter.m_link_mode == 2) {
    Notify(2,
           "FeatureMapSphere::Update3DLinks: update links of outlier feature points (eAll) not "
           "supported anymore, skipping !");
  }
  Notify(4,
         "FeatureMapSphere::Update3DLinks: %d new 3D points, %d old 3D points, link %d 2D points",
         fresh, old, links);
  img->SetStatistic(7, old + fresh);
  if (m_correlator) {
    const int m = static_cast<int>(m_correlator->GetCorrespondences().size());
    if (m == 0) {
      Notify(3, "FeatureMapSphere::Update3DLinks: (supported/input correspondences): (%d/%d).",
             supported, 0);
    } else {
      Notify(3,
             "FeatureMapSphere::Update3DLinks: ratio (supported/input correspondences): %f "
             "(%d/%d).",
             double(supported) / m, supported, m);
    }
  } else {
    Notify(3, "FeatureMapSphere::Update3DLinks: supported correspondences  %d", supported);
  }
  return true;
}

void FeatureMapSphere::SetFeature3D(SharedPtr<FeaturePoint2D>& feature, FeatureImage* camera) {
  if (!feature) {
    Notify(2, "FeatureMapSphere::SetFeature3D: 2D feature point == NULL!");
    return;
  }
  if (!camera) {
    Notify(2, "FeatureMapSphere::SetFeature3D: camera == NULL!");
    return;
  }
  FeaturePoint3D p;
  FeatureMapper(*camera).BackProjectToSphere(*feature, p, false);
  const SharedPtr<FeaturePoint3D>& existing = feature->GetFPoint3D();
  if (existing) {
    // Only the geometry changes: the point keeps its list index, name and flags (a point
    // the user deleted stays deleted).
    existing->x = p.x;
    existing->y = p.y;
    existing->z = p.z;
    existing->SetCS(p.GetCS());
    double covariance[9];
    for (int i = 0; i < 9; ++i) covariance[i] = p.GetCoVariance(i / 3, i % 3);
    existing->SetCoVariance(covariance);
    return;
  }
  auto point = SharedPtr<FeaturePoint3D>::Make(p);
  AddFPoint3D(point);
  feature->SetFPoint3D(point);
}

bool FeatureMapSphere::Update3DFeaturePoints(SharedPtr<FeatureImage>& img) {
  if (!img) return true;
  int features = 0, updates = 0;
  for (SharedPtr<FeaturePoint2D> f : img->GetFPoints2D()) {
    ++features;
    if (!f) continue;
    const SharedPtr<FeatureCorrespondence>& pred = f->GetPredecessor();
    if (pred && (pred->GetFlags() & FCORR_SUPPORT_ROTATION)) continue;
    const SharedPtr<FeatureCorrespondence>& succ = f->GetSuccessor();
    if (succ && (succ->GetFlags() & FCORR_SUPPORT_ROTATION)) {
      SetFeature3D(f, img.Get());
      ++updates;
    }
  }
  Notify(5, "FeatureMapSphere::Update3DFeaturePoints: %d of %d 3D features updated (image no. %d)",
         updates, features, img->GetImageIndex());
  return true;
}

void FeatureMapSphere::EstimateParameter(const PerspectiveCamera* reference, FeatureImage* img,
                                         CameraEstimator* est) {
  if (!reference || !img) return;
  double pan = 0.0, tilt = 0.0, roll = 0.0;
  GetCameraAngles(*img, pan, tilt, roll, reference);
  PrintStars();
  Notify(3, "* FeatureMapSphere::EstimateParameter:");
  Notify(3, "* image: \"%s\"", img->GetFileName());
  Notify(3, "* pan[deg]:   %f", pan * kDeg);
  Notify(3, "* tilt[deg]:  %f", tilt * kDeg);
  Notify(3, "* roll[deg]:  %f", roll * kDeg);
  Notify(3, "* focal[mm]:  %f, zoom: %f", img->GetFocalLength(),
         img->GetFocalLength() / reference->GetFocalLength());
  if (est) {
    Notify(3, "* RMSE [pel]: %f, [mm]: %f", std::sqrt(est->GetError(true)),
           std::sqrt(est->GetError(false)));
  }
  PrintStars();
}

void FeatureMapSphere::PrintCameras(const std::vector<SharedPtr<FeatureImage>>& images) {
  for (const SharedPtr<FeatureImage>& img : images) {
    if (!img) continue;
    double pan = 0.0, tilt = 0.0, roll = 0.0;
    GetCameraAngles(*img, pan, tilt, roll, nullptr);
    Notify(5,
           "FeatureMapSphere: camera index %ld: p=%.3f, t=%.3f, r=%.3f [DEG], f=%.3f [mm] "
           "(cpx,cpy)=(%.2f,%.2f)[pel]",
           long(img->GetImageIndex()), pan * kDeg, tilt * kDeg, roll * kDeg, img->GetFocalLength(),
           img->GetCenterPointX(), img->GetCenterPointY());
  }
}

bool FeatureMapSphere::ConvertToCartesian(unsigned mode) {
  if (m_fimage_list.empty()) return false;
  const FeatureImage& first = *m_fimage_list.front();
  FeatureMapper mapper(first);
  const double d = m_parameter.m_direction_distance;
  for (const SharedPtr<FeatureImage>& img : m_fimage_list) {
    if (!img) continue;
    for (const SharedPtr<FeaturePoint2D>& f : img->GetFPoints2D()) {
      if (!f) continue;
      const SharedPtr<FeaturePoint3D>& p = f->GetFPoint3D();
      const SharedPtr<FeatureCorrespondence>& link = f->GetPredecessor();
      if (!p || p->GetCS() != FeaturePoint3D::eSpherical || !link) continue;
      const bool rot = (link->GetFlags() & FCORR_SUPPORT_ROTATION);
      const bool free = (link->GetFlags() & FCORR_SUPPORT_FREEMOVE);
      if (!rot && !free) continue;
      switch (mode) {
        case 0:
          p->z = d;
          break;
        case 1:
          if (!rot) p->z = first.GetFocalLength() * 100.0;
          break;
        case 2:
          if (free && !rot) p->z = d;
          break;
        case 3:
          if (free) p->z = d * 0.5;
          if (rot) p->z = d * 2.0;
          break;
        case 4:
          p->z = first.GetFocalLength() * 5.0;
          break;
        default:
          break;
      }
      mapper.ToCartesian(*p, p.Get());
    }
  }
  return true;
}

void FeatureMapSphere::UpdateMSE() {
  m_rmse = std::sqrt(BundleAdjuster::GetMSE(m_fimage_list, true));
}

bool FeatureMapSphere::SearchKeyFrame() {
  const int n = static_cast<int>(m_fimage_list.size());
  if (n < 2) {
    Notify(2, "FeatureMapSphere::SearchKeyFrame: no. of images %d < 2", n);
    return false;
  }
  const SharedPtr<FeatureImage>& first = m_fimage_list.front();
  // The first image's rotation-supported features by 3D point, in feature order.
  std::multimap<const FeaturePoint3D*, const SharedPtr<FeaturePoint2D>*> by_point;
  for (const SharedPtr<FeaturePoint2D>& f : first->GetFPoints2D()) {
    if (f && f->GetFPoint3D() && f->GetSuccessor() &&
        (f->GetSuccessor()->GetFlags() & FCORR_SUPPORT_ROTATION)) {
      by_point.emplace(f->GetFPoint3D().Get(), &f);
    }
  }
  for (const SharedPtr<FeatureImage>& img : m_fimage_list) {
    SphereKeyFrame record;
    record.first = first;
    record.later = img;
    double sum = 0.0;
    int tracked = 0;
    for (const SharedPtr<FeaturePoint2D>& g : img->GetFPoints2D()) {
      if (!g || !g->GetFPoint3D() || !g->GetPredecessor() ||
          !(g->GetPredecessor()->GetFlags() & FCORR_SUPPORT_ROTATION)) {
        continue;
      }
      ++tracked;
      auto range = by_point.equal_range(g->GetFPoint3D().Get());
      for (auto it = range.first; it != range.second; ++it) {
        const SharedPtr<FeaturePoint2D>& f = *it->second;
        auto c = SharedPtr<FeatureCorrespondence>::Make(f, g);
        c->SetFlags(f->GetSuccessor()->GetFlags());
        record.correspondences.push_back(c);
        sum += std::hypot(f->x - g->x, f->y - g->y);
      }
    }
    const size_t count = record.correspondences.size();
    record.mean_displacement = count ? sum / double(count) : 0.0;
    record.shared_ratio = tracked ? double(count) / tracked : 0.0;
    Notify(9, "FeatureMapSphere::SearchKeyFrame: mean %f, max %f, ratio %f",
           record.mean_displacement, m_max_displacement, record.shared_ratio);
    if (record.mean_displacement > m_max_displacement) {
      m_max_displacement = record.mean_displacement;
      if (record.mean_displacement > m_parameter.m_min_keyframe_displacement &&
          record.shared_ratio > m_parameter.m_min_keyframe_ratio) {
        Notify(5, "FeatureMapSphere::SearchKeyFrame: displacement %f, ratio: %f",
               record.mean_displacement, record.shared_ratio);
        m_keyframes.push_back(record);
      }
    }
  }
  Notify(5, "FeatureMapSphere::SearchKeyFrame: finished !");
  return !m_keyframes.empty();
}

bool FeatureMapSphere::EstimateIntrinsic() {
  if (m_keyframes.empty()) {
    Notify(2, "FeatureMapSphere::EstimateIntrinsic: list of keyframes empty!");
    return false;
  }
  SphereKeyFrame& kf = m_keyframes.back();
  if (!kf.first || !kf.later) {
    Notify(2, "FeatureMapSphere::EstimateIntrinsic: no image set!");
    return false;
  }
  FeatureImage& a = *kf.first;
  FeatureImage& b = *kf.later;
  Notify(5, "FeatureMapSphere::EstimateIntrinsic: estimate intrinsic from \"%s\" and \"%s\"",
         a.GetFileName(), b.GetFileName());

  if (m_parameter.m_estimate_k3 || m_parameter.m_estimate_k5) {
    const double ak3 = a.GetDistortionCoefficients()[0], ak5 = a.GetDistortionCoefficients()[1];
    const double bk3 = b.GetDistortionCoefficients()[0], bk5 = b.GetDistortionCoefficients()[1];
    CameraEstimatorRadDistHMatrix dist;
    dist.m_limit = m_parameter.m_limit_distortion;
    dist.m_max_k3 = m_parameter.m_max_k3;
    dist.m_max_k5 = m_parameter.m_max_k5;
    dist.m_settings.k3_0 = dist.m_settings.k3_1 = m_parameter.m_estimate_k3;
    dist.m_settings.k5_0 = dist.m_settings.k5_1 = m_parameter.m_estimate_k5;
    const char* what;
    if (dist.Optimize(&a, &b, kf.correspondences)) {
      what = "FeatureMapSphere::EstimateIntrinsic: lens distortion estimation succeed\n";
      Update3DFeaturePoints(kf.first);
    } else {
      a.SetDistortion(ak3, ak5, a.GetRdDim(), a.GetDistortionModel());
      b.SetDistortion(bk3, bk5, b.GetRdDim(), b.GetDistortionModel());
      Notify(2, "FeatureMapSphere::EstimateIntrinsic: lens distortion estimation failed !");
      what = "FeatureMapSphere::EstimateIntrinsic: lens distortion set to the old values\n";
    }
    Notify(3,
           "%s                                 image no. %d: k3=%e, k5=%e\n"
           "                                 image no. %d  k3=%e, k5=%e",
           what, a.GetImageIndex(), a.GetDistortionCoefficients()[0],
           a.GetDistortionCoefficients()[1], b.GetImageIndex(), b.GetDistortionCoefficients()[0],
           b.GetDistortionCoefficients()[1]);
  }

  CameraEstimatorPTRZF<OptimizerLM_PTRZF> est;
  est.SetPreviousCamera(a);
  est.SetCurrentCamera(b);
  est.SetCorrespondences(kf.correspondences, &a, &b);
  PerspectiveCamera kept;
  kept.CopyFrom(b, false);
  const bool ok = est.RunFullSearchFwithPTRZ(&b);
  Notify(4, "FeatureMapSphere::EstimateIntrinsic: RMSE: %.3f [pel] (%.3f [mm])",
         std::sqrt(est.GetError(true)), std::sqrt(est.GetError(false)));
  if (ok) {
    a.CopyFrom(est.GetPreviousCamera(), false);
    EstimateParameter(&a, &b, nullptr);
  }
  b.CopyFrom(kept, false);
  Notify(5, "FeatureMapSphere::EstimateIntrinsic: finished !");
  return ok;
}

bool FeatureMapSphere::FinalEstimation() {
  const int n = static_cast<int>(m_fimage_list.size());
  if (n < 2) {
    Notify(2, "FeatureMapSphere::FinalEstimation: no. of images %d < 2", n);
    return false;
  }
  bool result = false;
  if (m_parameter.m_estimate_focal) {
    if (SearchKeyFrame()) {
      result = EstimateIntrinsic();
    } else {
      Notify(2, "FeatureMapSphere::FinalEstimation: keyframe search failed !");
    }
    const bool synthetic = dynamic_cast<FeatureCorrelatorSyn*>(m_correlator.Get()) != nullptr;
    if (synthetic) ClearFPoint3D();
    for (SharedPtr<FeatureImage> img : m_fimage_list) {
      result = EstimateCamera(img);
      Update3DFeaturePoints(img);
      if (m_parameter.m_refine_distortion &&
          (m_parameter.m_estimate_k3 || m_parameter.m_estimate_k5)) {
        CameraEstimatorRadDistKnownFPoint3D dist;
        dist.Optimize(img.Get(), img->GetFPoints2D(), m_parameter.m_estimate_k5, false);
      }
      if (m_observer) m_observer->UpdateVisualisation(4, GetCurrentFImage()->GetImageIndex());
      if (synthetic) {
        // The test correlator makes its own points; each enters the list once.
        for (const SharedPtr<FeaturePoint2D>& f : img->GetFPoints2D()) {
          SharedPtr<FeaturePoint3D> p = f ? f->GetFPoint3D() : SharedPtr<FeaturePoint3D>();
          if (!p) continue;
          bool known = false;
          {
            std::shared_lock lock(m_fpoint3d_lock);
            known = p->GetId() >= 0 && size_t(p->GetId()) < m_fpoint3d_list.size() &&
                    m_fpoint3d_list[size_t(p->GetId())] == p;
          }
          if (!known) AddFPoint3D(p);
        }
      }
    }
  }

  if (m_parameter.m_final_ba) {
    const int method = m_parameter.m_final_ba_method;
    try {
      if (method == 0) {
        BundleAdjusterInterleave ba;
        BundleAdjusterInterleave::Parameter& p = ba.GetParameter();
        p.m_tolerance = 1e-7;
        p.m_estimate_focal = m_parameter.m_estimate_focal;
        p.m_estimate_principal_point = m_parameter.m_estimate_principal_point;
        p.m_rotation_axes = false;
        Notify(5,
               "FeatureMapSphere::FinalEstimation: start BUNDLE ADJUST (interleave) pure rotation");
        result = ba.Run(m_fimage_list, 0);
        Notify(4,
               "FeatureMapSphere::FinalEstimation: BUNDLE ADJUST (interleave) %s (est. focal=%s, "
               "princ. pnt=%s, ra=%s)",
               result ? "succeed" : "failed", YesNo(p.m_estimate_focal),
               YesNo(p.m_estimate_principal_point), YesNo(p.m_rotation_axes));
      } else if (method == 2 || method == 3) {
        BundleAdjusterSparse ba;
        BundleAdjusterSparse::Parameter& p = ba.GetParameter();
        p.m_parameter_mask = m_parameter.m_estimate_focal ? (p.m_parameter_mask | kCamFocal)
                                                          : (p.m_parameter_mask & ~kCamFocal);
        p.m_parameter_mask = m_parameter.m_estimate_principal_point
                                 ? (p.m_parameter_mask | kCamPrincipalPoint)
                                 : (p.m_parameter_mask & ~kCamPrincipalPoint);
        p.m_estimate_model = 1;
        p.m_max_iterations = m_parameter.m_ba_max_iterations;
        Notify(5, "FeatureMapSphere::FinalEstimation: start BUNDLE ADJUST (sparse) pure rotation");
        result = ba.Run(m_fimage_list, unsigned(n));
        Notify(4,
               "FeatureMapSphere::FinalEstimation: BUNDLE ADJUST (sparse) %s (est. focal=%s, "
               "princ. pnt=%s, est. model=%d)",
               result ? "succeed" : "failed", YesNo(p.m_parameter_mask & kCamFocal),
               YesNo(p.m_parameter_mask & kCamPrincipalPoint), p.m_estimate_model);
      } else {
        Notify(5, "FeatureMapSphere::FinalEstimation: unkown estimation method %d", method);
      }
    } catch (unsigned iteration) {
      Notify(4, "FeatureMapSphere::FinalEstimation: BUNDLE ADJUST (%s) stopped at iteration %ld",
             method == 0 ? "interleave" : "sparse", long(iteration));
      result = false;
    }
    PrintCameras(m_fimage_list);
  }

  UpdateMSE();
  Notify(3, "FeatureMapSphere::FinalEstimation: finished with RMSE %f [pel]", m_rmse);
  return result;
}

bool FeatureMapSphere::Refinement() {
  if (m_fimage_list.empty() || m_fpoint3d_list.empty()) {
    Notify(5, "FeatureMapSphere::Refinement: empty image (%ld) or empty 3D point list (%ld)",
           long(m_fimage_list.size()), long(m_fpoint3d_list.size()));
    return false;
  }
  BundleAdjusterSparse ba;
  BundleAdjusterSparse::Parameter& p = ba.GetParameter();
  p.m_parameter_mask = m_parameter.m_estimate_focal ? (p.m_parameter_mask | kCamFocal)
                                                    : (p.m_parameter_mask & ~kCamFocal);
  p.m_parameter_mask &= ~kCamPrincipalPoint;
  p.m_estimate_model = 1;
  Notify(5, "FeatureMapSphere::Refinement: start BUNDLE ADJUST (sparse) pure rotation");
  // Cleared again on every way out, a thrown failure included.
  SparseObserverScope scope(OptimizerSparseLM_RKFPoint3D::s_observer, m_observer);
  bool result = false;
  try {
    result = ba.Run(m_fimage_list, unsigned(m_fimage_list.size()));
    Notify(4,
           "FeatureMapSphere::Refinement: BUNDLE ADJUST (sparse) %s (est. focal=%s, princ. "
           "pnt=%s, est. model=%d)",
           result ? "succeed" : "failed", YesNo(p.m_parameter_mask & kCamFocal),
           YesNo(p.m_parameter_mask & kCamPrincipalPoint), p.m_estimate_model);
    UpdateMSE();
    Notify(5, "FeatureMapSphere::Refinement: finished with RMSE %f [pel]", m_rmse);
  } catch (unsigned iteration) {
    Notify(5, "FeatureMapSphere::Refinement: stopped at iteration %d\n", int(iteration));
    result = false;
  }
  return result;
}

bool EstimatorSpherePoint3D::Compute3DPoint() {
  if (m_pairs.empty()) {
    Notify(2, "EstimatorSpherePoint3D::Compute3DPoint: empty feature camera pair");
    return false;
  }
  double sin_sum = 0.0, cos_sum = 0.0, elevation = 0.0;
  for (const FeatureCameraPair& pair : m_pairs) {
    FeaturePoint3D p;
    FeatureMapper(*pair.camera).BackProjectToSphere(*pair.feature, p, false);
    sin_sum += std::sin(p.x);
    cos_sum += std::cos(p.x);
    elevation += p.y;
  }
  // Azimuths are averaged on the circle: 3.1 and -3.1 meet near pi, not at 0.
  m_result = vm::Vector3{std::atan2(sin_sum, cos_sum), elevation / double(m_pairs.size()), 100.0};
  return true;
}
