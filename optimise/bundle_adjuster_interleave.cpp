#include "optimise/bundle_adjuster_interleave.h"

#include <atomic>
#include <cmath>
#include <exception>
#include <string>

#include "features/feature_image.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/worker_pool.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "geometry/triangulation_multi_view.h"
#include "optimise/camera_estimator_known_fpoint3d.h"
#include "optimise/camera_estimator_raxes_k_known_fpoint3d.h"
#include "optimise/known_fpoint3d_model.h"
#include "optimise/model_fpoint3d_known_rtk.h"

namespace {

bool Usable(const FeaturePoint2D& feature) {
  const SharedPtr<FeaturePoint3D>& point = feature.GetFPoint3D();
  return point && !point->TestFlags(FP3D_FLAG_REMOVED);
}

bool LinkPasses(const SharedPtr<FeatureCorrespondence>& link, int support_mask) {
  if (!link) return false;
  const uint32_t flags = link->GetFlags();
  if (support_mask != 0) return (flags & static_cast<uint32_t>(support_mask)) != 0;
  return flags == 0;
}

}  // namespace

BundleAdjusterInterleave::BundleAdjusterInterleave() {
  const int threads = WorkerPool::GetNumberOfThreads() > 0 ? WorkerPool::GetNumberOfThreads() : 1;
  for (int i = 0; i < threads; ++i)
    m_triangulators.push_back(std::make_unique<TriangulationMultiView>());
}

BundleAdjusterInterleave::~BundleAdjusterInterleave() {
  Clear();
}

void BundleAdjusterInterleave::Clear() {
  m_fimage_list.clear();
  m_point_optimizers.clear();
  m_observations.clear();
  m_point_list.clear();
}

void BundleAdjusterInterleave::AddFImage(const SharedPtr<FeatureImage>& image) {
  if (!image) {
    Notify(2, "BundleAdjusterInterleave::AddFImage: image not set");
    return;
  }
  m_fimage_list.push_back(image);
  for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D()) {
    if (!feature) continue;
    if (m_parameter.m_mode == 0) {
      if (!feature->GetImage()) {
        Notify(2,
               "BundleAdjusterInterleave::OptimizeFPoint3D: associated image of feature 2D "
               "point not set!");
        continue;
      }
      if (Usable(*feature)) m_observations.emplace(feature->GetFPoint3D().Get(), feature.Get());
      continue;
    }
    if (!Usable(*feature)) continue;
    if (!LinkPasses(feature->GetPredecessor(), m_parameter.m_support_mask) &&
        !LinkPasses(feature->GetSuccessor(), m_parameter.m_support_mask))
      continue;
    std::unique_ptr<OptimizerLM_FPoint3DKnownRTK>& optimizer =
        m_point_optimizers[feature->GetFPoint3D().Get()];
    if (!optimizer) optimizer = std::make_unique<OptimizerLM_FPoint3DKnownRTK>();
    optimizer->m_data.AddObservation(feature, image.Get(), 0);
  }
}

void BundleAdjusterInterleave::SetFImageList(const ImageList& list) {
  Clear();
  for (const SharedPtr<FeatureImage>& image : list) AddFImage(image);
  for (auto it = m_observations.begin(); it != m_observations.end();
       it = m_observations.upper_bound(it->first))
    m_point_list.push_back(it->first);
}

bool BundleAdjusterInterleave::Run(const ImageList& list, unsigned n) {
  SetFImageList(list);
  return Optimize(n);
}

bool BundleAdjusterInterleave::Optimize(unsigned /*n*/) {
  if (m_fimage_list.empty()) {
    Notify(2, "BundleAdjusterInterleave::Optimize: empty list of fimages");
    return true;
  }
  if (m_parameter.m_mode == 0) {
    for (int pass = 0; pass < m_parameter.m_max_iterations; ++pass) {
      UpdateFPoint3DParallel();
      OptimizeRT_MT();
    }
    UpdateFPoint3DParallel();
    return true;
  }
  m_pixel_width = m_fimage_list.front()->GetPixelSizeX();
  m_pixel_height = m_fimage_list.front()->GetPixelSizeY();
  double prev = 1e30;
  double mse = 1e30;
  int passes = 0;
  while (passes < m_parameter.m_max_iterations) {
    if (m_parameter.m_rotation_axes) {
      OptimizeCameras();
      OptimizeFPoint3D();
    } else {
      OptimizeFPoint3D();
      OptimizeCameras();
    }
    ++passes;
    mse = BundleAdjuster::GetMSE(m_fimage_list, true);
    Notify(5, "BundleAdjusterInterleave::Optimize: RMSE %f [pel]", std::sqrt(mse));
    if (prev - mse < m_parameter.m_tolerance) break;
    prev = mse;
  }
  Notify(5, "BundleAdjusterInterleave::Optimize: finished after %d iterations with RMSE %f [pel]",
         passes, std::sqrt(mse));
  const bool result = m_parameter.m_rotation_axes ? OptimizeCameras() : OptimizeFPoint3D();
  Notify(5, "BundleAdjusterInterleave::Optimize: final  RMSE %f [pel]",
         std::sqrt(BundleAdjuster::GetMSE(m_fimage_list, true)));
  return result;
}

bool BundleAdjusterInterleave::OptimizeCamera(FeatureImage& image) {
  std::vector<SharedPtr<FeaturePoint2D>> directions, cartesian;
  for (const SharedPtr<FeaturePoint2D>& feature : image.GetFPoints2D()) {
    if (!feature || !Usable(*feature)) continue;
    const int cs = feature->GetFPoint3D()->GetCS();
    if (cs == FeaturePoint3D::eSpherical) directions.push_back(feature);
    if (cs == FeaturePoint3D::eCartesian) cartesian.push_back(feature);
  }
  const uint32_t centre = kCamCentre;
  uint32_t mask = kCamAllParameters;
  if (!m_parameter.m_estimate_focal) mask &= ~static_cast<uint32_t>(kCamFocal);
  if (!m_parameter.m_estimate_principal_point) mask &= ~kCamPrincipalPoint;
  bool result = false;
  if (!directions.empty()) {
    const uint32_t m = mask & ~centre;
    result = CameraEstimatorKnownFPoint3D().Optimize(&image, directions, &m);
  }
  if (!cartesian.empty()) {
    const uint32_t m = mask | centre;
    result = CameraEstimatorKnownFPoint3D().Optimize(&image, cartesian, &m);
  }
  return result;
}

bool BundleAdjusterInterleave::OptimizeCameras() {
  if (m_parameter.m_rotation_axes && !m_parameter.m_per_camera) {
    if (m_fimage_list.size() < 2) {
      Notify(2, "BundleAdjusterInterleave::OptimizeCameras: list of images < 2 !");
      return false;
    }
    std::vector<FeatureImage*> images;
    for (const SharedPtr<FeatureImage>& image : m_fimage_list) images.push_back(image.Get());
    // Cameras of a rotation-only adjustment sit at the origin.
    const double origin[3] = {0.0, 0.0, 0.0};
    try {
      return CameraEstimatorRAxesKKnownFPoint3D().Optimize(images, m_parameter.m_estimate_focal,
                                                           origin);
    } catch (const char* text) {
      Notify(2, "BundleAdjusterInterleave::OptimizeCameras: stopped with error \"%s\"", text);
      return false;
    }
  }
  bool result = false;
  for (size_t i = 1; i < m_fimage_list.size(); ++i) {
    try {
      result = OptimizeCamera(*m_fimage_list[i]);
    } catch (const char* text) {
      Notify(2, "BundleAdjusterInterleave::OptimizeCameras: stopped with error \"%s\"", text);
      result = false;
    }
    if (!result)
      Notify(2, "BundleAdjusterInterleave::OptimizeCameras: optimize for image %d failed",
             static_cast<int>(i));
  }
  return result;
}

bool BundleAdjusterInterleave::OptimizeFPoint3D() {
  bool result = false;
  long count = 0;
  for (auto& [point, optimizer] : m_point_optimizers) {
    if (!optimizer) {
      Notify(2, "BundleAdjusterInterleave::AddFImage: optimizer == NULL");
      continue;
    }
    ModelFPoint3DKnownRTKData& data = optimizer->m_data;
    if (data.GetNumberOfSamples() <= 1) continue;
    data.SetInitialParameters(*point);
    ++count;
    try {
      result = optimizer->Optimize();
      if (result) {
        const std::vector<double>& v = optimizer->m_param_vector;
        point->x = v[0];
        point->y = v[1];
        if (data.m_coordinate_system == FeaturePoint3D::eCartesian && v.size() == 3)
          point->z = v[2];
      } else {
        Notify(2, "BundleAdjusterInterleave::OptimizeFPoint3D: optimize failed");
      }
    } catch (const char* text) {
      result = false;
      Notify(2,
             "BundleAdjusterInterleave::OptimizeFPoint3D: optimize failed for 3D point %ld, "
             "message \"%s\"",
             count, text);
    }
  }
  return result;
}

bool BundleAdjusterInterleave::OptimizeRT_MT() {
  const uint32_t mask = m_parameter.m_parameter_mask;
  for (size_t i = 0; i < m_fimage_list.size(); ++i) {
    FeatureImage& image = *m_fimage_list[i];
    const int index = static_cast<int>(i);
    try {
      if (CameraEstimatorKnownFPoint3D().Optimize(&image, image.GetFPoints2D(), &mask))
        Notify(4, "BundleAdjusterInterleave::OptimizeRT_MT: camera %d succeed", index);
      else
        Notify(4, "BundleAdjusterInterleave::OptimizeRT_MT: camera %d failed", index);
    } catch (const char* text) {
      Notify(2, "BundleAdjusterInterleave::OptimizeRT_MT: camera %d failed with message \"%s\"",
             index, text);
    }
  }
  return true;
}

bool BundleAdjusterInterleave::UpdateFPoint3DParallel() {
  const size_t count = m_point_list.size();
  const int items = static_cast<int>(m_triangulators.size());
  std::atomic<size_t> next{0};
  // Each item records its own failures; they are logged after the join.
  std::vector<std::string> errors(m_triangulators.size());
  std::vector<int> failures(m_triangulators.size(), 0);
  WorkerPool::ParallelFor(items, [&](int item) {
    TriangulationMultiView& triangulation = *m_triangulators[static_cast<size_t>(item)];
    for (;;) {
      const size_t i = next.fetch_add(1);
      if (i >= count) break;
      FeaturePoint3D* point = m_point_list[i];
      try {
        // A direction point has no position to triangulate.
        if (point->GetCS() != FeaturePoint3D::eCartesian) continue;
        triangulation.Reset();
        const auto range = m_observations.equal_range(point);
        for (auto it = range.first; it != range.second; ++it) triangulation.AddFPoint2D(it->second);
        if (!triangulation.Compute()) continue;
        const vm::Vector3 x = triangulation.GetPoint();
        Matrix3x3 information;
        if (!triangulation.GetInformationMatrix(information)) continue;
        Matrix3x3 covariance;
        covariance.Invert(information);  // a singular matrix gives the identity
        point->x = x.x;
        point->y = x.y;
        point->z = x.z;
        point->SetCoVariance(covariance.m);
      } catch (const std::exception& e) {
        if (failures[static_cast<size_t>(item)]++ == 0)
          errors[static_cast<size_t>(item)] = e.what();
      } catch (const char* text) {
        if (failures[static_cast<size_t>(item)]++ == 0) errors[static_cast<size_t>(item)] = text;
      } catch (...) {
        if (failures[static_cast<size_t>(item)]++ == 0)
          errors[static_cast<size_t>(item)] = "unknown";
      }
    }
  });
  for (size_t i = 0; i < errors.size(); ++i)
    if (failures[i] > 0)
      Notify(2,
             "BundleAdjusterInterleave::UpdateFPoint3DParallel: %d 3D points failed, first "
             "message \"%s\"",
             failures[i], errors[i].c_str());
  return true;
}
