#include "optimise/bundle_adjuster_subset.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "optimise/bundle_adjuster_interleave.h"
#include "optimise/camera_estimator_known_fpoint3d.h"
#include "optimise/camera_parameter_mask.h"

namespace {

// Runs a cleanup on every way out of a scope unless it already ran.
template <class F>
class Restore {
 public:
  explicit Restore(F f) : f_(std::move(f)) {}
  ~Restore() { Now(); }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;
  void Now() {
    if (!done_) {
      done_ = true;
      f_();
    }
  }

 private:
  F f_;
  bool done_ = false;
};

// A point a subset step may use: present, not removed, not protected.
FeaturePoint3D* UsablePoint(const FeaturePoint2D& feature) {
  FeaturePoint3D* point = feature.GetFPoint3D().Get();
  if (!point || point->TestFlags(FP3D_FLAG_REMOVED | FP3D_FLAG_PROTECTED)) return nullptr;
  return point;
}

double Precision(const FeaturePoint3D& point) {
  const Matrix3x3& c = point.GetCoVarianceMatrix();
  const double det = c[0][0] * (c[1][1] * c[2][2] - c[1][2] * c[2][1]) -
                     c[0][1] * (c[1][0] * c[2][2] - c[1][2] * c[2][0]) +
                     c[0][2] * (c[1][0] * c[2][1] - c[1][1] * c[2][0]);
  return det > 0.0 ? 1.0 / det : 0.0;
}

int ImageIndex(const BundleAdjuster::ImageList& list, size_t i) {
  return list[i]->GetImageIndex();
}

}  // namespace

int BundleAdjusterSubset::CameraStep(size_t images) {
  if (images <= 50) return 1;
  if (images <= 100) return 2;
  if (images <= 200) return 3;
  return 4;
}

bool BundleAdjusterSubset::Run(const ImageList& list, unsigned /*n*/) {
  return Optimize(list);
}

bool BundleAdjusterSubset::SparseRun(const ImageList& subset, bool& stopped, unsigned& iteration) {
  stopped = false;
  try {
    return BundleAdjusterSparse::Run(subset, 0);
  } catch (unsigned at) {
    stopped = true;
    iteration = at;
    return false;
  }
}

bool BundleAdjusterSubset::Optimize(const ImageList& list) {
  if (list.empty()) {
    Notify(2, "BundleAdjusterSubset::Optimize: no cameras");
    return false;
  }
  if (m_subset_mode == 1) return OptimizeGroups(list);
  if (m_subset_mode == 3) return OptimizeFPoint3DSubset(list);
  const int k = m_subset_mode == 2 ? 1 : CameraStep(list.size());
  ImageList subset;
  for (size_t i = 0; i < list.size(); i += static_cast<size_t>(k)) subset.push_back(list[i]);

  // A debugging dump: built only when the log would show it.
  if (NotifyContext::GetNotifyLevel() >= 5) {
    std::string images;
    for (const SharedPtr<FeatureImage>& image : subset)
      images += " " + std::to_string(static_cast<long>(image->GetImageIndex()));
    Notify(5,
           "HHHH  BundleAdjusterSubset::Optimize: build 2 lists with images (1. optimize "
           "cameras and 3D points), 2. optimize cameras:\n%s\n%s",
           images.c_str(), images.c_str());
  }

  bool stopped = false;
  unsigned iteration = 0;
  const bool ok = SparseRun(subset, stopped, iteration);
  const int views = static_cast<int>(subset.size());
  if (stopped) {
    Notify(5, "BundleAdjusterSubset::Optimize: sparse bundle stopped at iteration %d\n",
           static_cast<int>(iteration));
  } else if (ok) {
    Notify(4, "BundleAdjusterSubset::Optimize: sparse bundle adjust succeed!");
    if (NotifyContext::GetNotifyLevel() > 4)
      Notify(5,
             "BundleAdjusterSubset::Optimize: camera subset after sparse optimization RMSE %f "
             "[pel] over %d views",
             std::sqrt(BundleAdjuster::GetMSE(subset, true)), views);
  } else {
    Notify(2, "BundleAdjusterSubset::Optimize: sparse bundle adjust adjust failed (%d views)!",
           views);
  }
  CameraResection(list);
  if (k != 1) InterleavePass(list);
  return true;
}

bool BundleAdjusterSubset::CameraResection(const ImageList& list) {
  const uint32_t mask = m_parameter.m_estimate_model != 0
                            ? (m_parameter.m_parameter_mask & ~kCamCentre) | kCamOrientation
                            : m_parameter.m_parameter_mask | kCamPose;
  int succeeded = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    FeatureImage& image = *list[i];
    std::vector<SharedPtr<FeaturePoint2D>> features;
    for (const SharedPtr<FeaturePoint2D>& feature : image.GetFPoints2D())
      if (feature && UsablePoint(*feature) &&
          feature->TestCorrespondenceFlags(FCORR_SUPPORT_TRUE | FCORR_SUPPORT_FREEMOVE))
        features.push_back(feature);
    const int index = static_cast<int>(i);
    try {
      if (CameraEstimatorKnownFPoint3D().Optimize(&image, features, &mask))
        ++succeeded;
      else
        Notify(2, "BundleAdjusterSubset::CameraResection: resectioning of camera %d failed", index);
    } catch (const char* text) {
      Notify(2,
             "BundleAdjusterSubset::CameraResection: resectioning of camera %d failed with "
             "message \"%s\"",
             index, text);
    }
  }
  Notify(5, "BundleAdjusterSubset::CameraResection: resectioning %d of %d cameras succeed",
         succeeded, static_cast<int>(list.size()));
  return true;
}

bool BundleAdjusterSubset::InterleavePass(const ImageList& list) {
  BundleAdjusterInterleave interleave;
  BundleAdjusterInterleave::Parameter& p = interleave.GetParameter();
  p.m_max_iterations = 3;
  p.m_estimate_model = m_parameter.m_estimate_model;
  p.m_parameter_mask = m_parameter.m_parameter_mask;
  return interleave.Run(list, static_cast<unsigned>(list.size()));
}

bool BundleAdjusterSubset::OptimizeGroups(const ImageList& list) {
  // The temporary marks go on every way out, a stop or a failure included.
  Restore unmark([&list] {
    for (const SharedPtr<FeatureImage>& image : list)
      for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D())
        if (FeaturePoint3D* point = feature ? UsablePoint(*feature) : nullptr)
          point->ClearFlags(FP3D_FLAG_TEMP_MARK);
  });
  size_t start = 0;
  for (;;) {
    ImageList group;
    int total = 0;
    size_t i = start;
    size_t first = start;
    for (; i < list.size(); ++i) {
      int fresh = 0;
      for (const SharedPtr<FeaturePoint2D>& feature : list[i]->GetFPoints2D()) {
        FeaturePoint3D* point = feature ? UsablePoint(*feature) : nullptr;
        if (!point || point->TestFlags(FP3D_FLAG_TEMP_MARK)) continue;
        point->SetFlags(FP3D_FLAG_TEMP_MARK);
        ++fresh;
      }
      total += fresh;
      Notify(5, "AAAA BundleAdjusterSubset::OptimizeGroups: image %ld, 3d pnts %d",
             static_cast<long>(list[i]->GetImageIndex()), total);
      group.push_back(list[i]);
      if (total > m_subset_size) break;
    }
    if (group.empty()) break;
    const size_t last = first + group.size() - 1;
    const int size = static_cast<int>(group.size());
    bool stopped = false;
    unsigned iteration = 0;
    const bool ok = SparseRun(group, stopped, iteration);
    if (stopped) {
      Notify(5, "BundleAdjusterSubset::OptimizeGroups: sparse bundle stopped at iteration %d\n",
             static_cast<int>(iteration));
    } else if (ok) {
      Notify(3, "BundleAdjusterSubset::OptimizeGroups: sparse bundle adjust succeed");
      if (NotifyContext::GetNotifyLevel() > 4)
        Notify(5,
               "BundleAdjusterSubset::OptimizeGroups: camera subset after sparse optimization "
               "RMSE %f [pel] image %d to %d (%d cameras)",
               std::sqrt(BundleAdjuster::GetMSE(group, true)), ImageIndex(list, first),
               ImageIndex(list, last), size);
    } else {
      Notify(2,
             "BundleAdjusterSubset::OptimizeGroups: sparse bundle adjust adjust failed, image %d "
             "to %d (%d cameras)!",
             ImageIndex(list, first), ImageIndex(list, last), size);
    }
    if (last + 1 >= list.size()) break;
    // A group that closed on its own shared first image brought nothing new (a budget
    // below zero): move on, or the loop would never end.
    start = (last == first && total <= 0) ? last + 1 : last;
  }
  unmark.Now();
  CameraResection(list);
  InterleavePass(list);
  return true;
}

bool BundleAdjusterSubset::OptimizeFPoint3DSubset(const ImageList& list) {
  if (!m_fpoint3d_list) {
    Notify(2, "BundleAdjusterSubset::OptimizeFPoint3DSubset: list of 3D points not set");
    return false;
  }
  std::vector<std::pair<double, FeaturePoint3D*>> sorted;
  for (const SharedPtr<FeaturePoint3D>& point : *m_fpoint3d_list)
    if (point) sorted.emplace_back(Precision(*point), point.Get());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  const uint32_t both = FP3D_FLAG_REMOVED | FP3D_FLAG_TEMP_MARK;
  // The temporarily removed points come back on every way out.
  Restore unremove([&sorted, both] {
    for (const auto& [precision, point] : sorted)
      if ((point->GetFlags() & both) == both) point->ClearFlags(both);
  });
  const size_t keep = m_subset_size > 0 ? static_cast<size_t>(m_subset_size) : 0;
  for (size_t i = keep; i < sorted.size(); ++i)
    if (!sorted[i].second->TestFlags(FP3D_FLAG_REMOVED)) sorted[i].second->SetFlags(both);

  bool stopped = false;
  unsigned iteration = 0;
  const bool ok = SparseRun(list, stopped, iteration);
  const int views = static_cast<int>(list.size());
  if (stopped) {
    Notify(5,
           "BundleAdjusterSubset::OptimizeFPoint3DSubset: sparse bundle stopped at iteration %d\n",
           static_cast<int>(iteration));
  } else if (ok) {
    Notify(4, "BundleAdjusterSubset::OptimizeFPoint3DSubset: sparse bundle adjust succeed!");
    if (NotifyContext::GetNotifyLevel() > 4)
      Notify(5,
             "BundleAdjusterSubset::OptimizeFPoint3DSubset: camera subset after sparse "
             "optimization RMSE %f [pel] over %d views",
             std::sqrt(BundleAdjuster::GetMSE(list, true)), views);
  } else {
    Notify(2,
           "BundleAdjusterSubset::OptimizeFPoint3DSubset: sparse bundle adjust adjust failed (%d "
           "views)!",
           views);
  }
  unremove.Now();
  InterleavePass(list);
  return true;
}
