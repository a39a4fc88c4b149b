// BundleAdjusterInterleave: resection-intersection adjustment. It alternates between
// refining every camera with the 3D points held fixed and every point with the cameras
// held fixed.
//
// Mode 0 re-triangulates the Cartesian points in parallel on the worker pool (one
// triangulator per pool thread, fixed at construction), then resections every camera,
// for m_max_iterations passes and a last point update. Its results do not depend on the
// number of threads. Any other mode refines each point with its own dense optimizer and
// the cameras one by one (or jointly about a rotation centre), until the mean squared
// reprojection error stops improving.
//
// Estimator failures are logged and the pass goes on; Optimize never throws and nothing
// here observes a user's stop. Cameras and points change in place; the images and their
// features must outlive the adjuster's list.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "optimise/bundle_adjuster.h"
#include "optimise/camera_parameter_mask.h"

class FeatureImage;
class FeaturePoint2D;
class FeaturePoint3D;
class OptimizerLM_FPoint3DKnownRTK;
class TriangulationMultiView;

class BundleAdjusterInterleave : public BundleAdjuster {
 public:
  struct Parameter {
    int m_max_iterations = 50;                // passes
    double m_tolerance = 1e-5;                // mode != 0: least improvement of the MSE (px^2)
    bool m_estimate_focal = true;             // cameras free their focal length
    bool m_estimate_principal_point = false;  // per-camera estimation frees the principal point
    bool m_rotation_axes = false;             // cameras before points; jointly unless m_per_camera
    int m_support_mask = 255;                 // mode != 0: link flags that make a feature usable
    bool m_per_camera = false;                // with m_rotation_axes, still camera by camera
    int m_estimate_model = 0;                 // carried for the callers; not read here
    unsigned m_parameter_mask =
        kCamMaskMotionModelDefault;  // mode 0: mask of the per-camera resection
    int m_mode = 0;  // 0 triangulate and resection; else point optimizers, error-driven stop
  };

  BundleAdjusterInterleave();
  ~BundleAdjusterInterleave() override;
  BundleAdjusterInterleave(const BundleAdjusterInterleave&) = delete;
  BundleAdjusterInterleave& operator=(const BundleAdjusterInterleave&) = delete;

  void AddFImage(const SharedPtr<FeatureImage>& image) override;
  // Clear, AddFImage for each image, then the point list.
  void SetFImageList(const ImageList& list) override;
  // Adjusts the whole list (n is ignored). True in mode 0 and for an empty list; else the
  // result of the final step.
  bool Optimize(unsigned n) override;
  bool Run(const ImageList& list, unsigned n) override;

  Parameter& GetParameter() { return m_parameter; }
  const Parameter& GetParameter() const { return m_parameter; }
  void SetParameter(const Parameter& parameter) { m_parameter = parameter; }

  // Empties the list, the point optimizers, the observations and the point list.
  void Clear();

  // Mode != 0 steps. OptimizeCameras never changes the first image's camera in per-camera
  // mode; it returns the result of the last camera (joint: of the joint fit).
  bool OptimizeCameras();
  // Refines every point with more than one observation; the last optimizer's result.
  bool OptimizeFPoint3D();
  // One camera against its Cartesian and direction points.
  bool OptimizeCamera(FeatureImage& image);

  // Mode 0 steps. Both return true.
  bool OptimizeRT_MT();
  // Re-triangulates every point of the point list; a point whose triangulation fails
  // keeps its position and covariance.
  bool UpdateFPoint3DParallel();

  int GetNumberOfTriangulators() const { return static_cast<int>(m_triangulators.size()); }
  const std::vector<FeaturePoint3D*>& GetPointList() const { return m_point_list; }

  double m_pixel_width = 1.0;  // the first image's sx and sy at the last mode != 0 run
  double m_pixel_height = 1.0;
  Parameter m_parameter;

 private:
  ImageList m_fimage_list;
  std::map<FeaturePoint3D*, std::unique_ptr<OptimizerLM_FPoint3DKnownRTK>> m_point_optimizers;
  std::multimap<FeaturePoint3D*, FeaturePoint2D*> m_observations;
  std::vector<FeaturePoint3D*> m_point_list;
  std::vector<std::unique_ptr<TriangulationMultiView>> m_triangulators;
};
