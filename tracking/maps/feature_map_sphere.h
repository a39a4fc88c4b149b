// FeatureMapSphere: the feature map of a camera that only turns about a fixed centre (a
// tripod, with or without zoom). Its 3D points are directions seen from the common centre
// (FeaturePoint3D::eSpherical: azimuth x, elevation y in radians, a nominal distance z).
//
// Per frame: OutlierElimination fits a pan/tilt/roll/zoom (or homography) model between
// the newest frame and the one before it with the map's outlier detector (mask 0x21);
// CameraEstimation gives the supported tracks their direction points and, when the focal
// length is known, estimates the newest camera. After the last frame FinalEstimation
// finds key frames, the focal length (and optionally the lens distortion), estimates every
// camera in frame order and optionally runs a final bundle adjustment; Refinement is a
// rotation-only sparse adjustment the user can stop.
//
// Key frames and the running maximum displacement are cleared by Clear, by Reset and by
// Init, so a new run never reuses an earlier run's key frames.
//
// Threads: the tracking thread; new points are appended under the point-list write lock.
// Failures: false results with log lines; const char* texts thrown by the detector, the
// estimators and the optimizers pass through (a user stop inside an adjuster is caught).
#pragma once

#include <vector>

#include "optimise/model_hmatrix.h"
#include "tracking/maps/feature_map.h"

class FeatureMapSphere : public FeatureMap {
 public:
  struct Parameter {
    explicit Parameter(int link_mode = 1) : m_link_mode(link_mode) {}
    // 0: only the earlier feature of a supported link gets a direction point; otherwise
    // the later feature is linked to it too (2 is an old mode that behaves like 1).
    int m_link_mode = 1;
    int m_final_ba_method = 3;  // 0 interleaved, 2 or 3 sparse
    bool m_estimate_focal = true;
    bool m_estimate_principal_point = false;
    bool m_fmatrix_pass = false;
    bool m_estimate_k3 = false;
    bool m_estimate_k5 = false;
    bool m_reserved_flag = false;  // carried, not read
    bool m_limit_distortion = false;
    double m_max_k3 = 1e-5;                                                      // pixels^-2
    double m_max_k5 = 1e-9;                                                      // pixels^-4
    ModelHMatrixSettings m_hmatrix_settings{0, true, true, false, false, true};  // carried
    double m_min_keyframe_displacement = 5.0;                                    // pixels
    double m_min_keyframe_ratio = 0.5;
    double m_reserved_double = 30000.0;  // carried, not read
    bool m_final_ba = false;
    bool m_refine_distortion = false;
    double m_direction_distance = 10000.0;  // mm
    int m_reserved_int = 0;                 // carried, not read
    int m_ba_max_iterations = -1;
  };

  struct SphereKeyFrame {
    SharedPtr<FeatureImage> first;
    SharedPtr<FeatureImage> later;
    t_ListFCorr correspondences;     // new links (first-image feature, later-image feature)
    double mean_displacement = 0.0;  // pixels
    double shared_ratio = 0.0;
  };

  // Parameter(1), then Clear (RMSE 1e16).
  FeatureMapSphere();
  ~FeatureMapSphere() override;

  // FeatureMap::Init after clearing the key frames.
  bool Init(SharedPtr<FeatureImage>& image) override;
  bool OutlierElimination() override;
  bool CameraEstimation() override;
  bool FinalEstimation() override;
  bool Refinement() override;
  // UpdateMSE.
  void GetMSE() override { UpdateMSE(); }

  // FeatureMap::Reset, no key frames, maximum displacement 0, RMSE 1e16.
  virtual void Clear();
  virtual bool EstimateCurrentCamera();
  // Map RMSE := sqrt(BundleAdjuster::GetMSE(images, pixels)).
  void UpdateMSE();
  // FeatureMap::Reset plus the key frames.
  void ResetSphere();

  // The image's camera from the image before it (false for the first image, silently).
  bool EstimateCamera(SharedPtr<FeatureImage>& image);
  // Direction points for the supported tracks entering image.
  bool Update3DLinks(SharedPtr<FeatureImage>& image);
  // Creates the feature's direction point seen from camera, or updates the position,
  // coordinate system and covariance of the point it has (its index, name and flags stay).
  void SetFeature3D(SharedPtr<FeaturePoint2D>& feature, FeatureImage* camera);
  // Re-derives the direction of every rotation track that starts in image.
  bool Update3DFeaturePoints(SharedPtr<FeatureImage>& image);
  // Printouts only.
  void EstimateParameter(const PerspectiveCamera* reference, FeatureImage* image,
                         CameraEstimator* estimator);
  void PrintCameras(const std::vector<SharedPtr<FeatureImage>>& images);
  // Turns the direction points into Cartesian points around the first camera; the
  // distance by mode (0 the direction distance, 4 five focal lengths, ...).
  bool ConvertToCartesian(unsigned mode);

  bool SearchKeyFrame();
  bool EstimateIntrinsic();

  Parameter& GetParameter() { return m_parameter; }
  void SetParameter(const Parameter& parameter) { m_parameter = parameter; }
  void CopyParameter(const FeatureMapSphere& other) { m_parameter = other.m_parameter; }
  const std::vector<SphereKeyFrame>& GetKeyFrames() const { return m_keyframes; }
  double GetMaxDisplacement() const { return m_max_displacement; }

 protected:
  // The image before image in the list, or null.
  FeatureImage* PreviousImage(const FeatureImage* image) const;
  int IndexOf(const FeatureImage* image) const;

  std::vector<SphereKeyFrame> m_keyframes;
  double m_max_displacement = 0.0;
  Parameter m_parameter{1};
};

// Places a direction point from several observations: the circular mean of the
// back-projected azimuths (so directions across the +-pi seam stay together), the mean
// elevation, distance 100.
class EstimatorSpherePoint3D {
 public:
  struct FeatureCameraPair {
    FeaturePoint2D* feature;
    PerspectiveCamera* camera;
  };
  void AddFeatureCameraPair(FeaturePoint2D* feature, PerspectiveCamera* camera) {
    m_pairs.push_back({feature, camera});
  }
  bool Compute3DPoint();
  const vm::Vector3& GetResult() const { return m_result; }

 private:
  std::vector<FeatureCameraPair> m_pairs;
  vm::Vector3 m_result{0.0, 0.0, 0.0};
};
