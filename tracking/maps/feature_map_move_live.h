// FeatureMapMoveLive: the forward-only free-motion map. It builds the reconstruction frame
// by frame with the free-motion engine it shares with FeatureMapMove (start, outlier
// elimination, key-frame search, resection, point update, windowed adjustment) and has
// no end of run: FinalEstimation and Refinement change nothing and succeed.
//
// What it leaves out of the shared engine:
// - no pure-rotation map: the stages always run the free-motion steps (m_free_move, set
//   through a FeatureMapMove reference, has no effect);
// - no rotation-only cameras: until a key-frame pair exists the frames get no camera
//   from this map and stay out of the reconstructed list, so a pair found after a
//   restart of the search starts the list with its second key frame;
// - no reverse resection, point limit, setter or list replacement.
//
// Its messages, those of the shared engine and of the error measure included, start with
// "FeatureMapMoveLive" instead of "FeatureMapMove" while one of its operations runs.
//
// Its settings are the free-motion defaults with a fixed focal length (m_estimate_focal
// 0); there is no setter, so the key-frame and point-update blocks keep their own
// defaults. The pool holds one; no configuration makes it current, and the manager finds
// it by its slot or its type.
//
// Threads and failures: as FeatureMapMove.
#pragma once

#include <vector>

#include "tracking/maps/feature_map_move.h"

class FeatureMapMoveLive : public FeatureMapMove {
 public:
  // The free-motion defaults with a fixed focal length.
  FeatureMapMoveLive();
  ~FeatureMapMoveLive() override;

  // The stages of FeatureMapMove, always free motion, under this map's name.
  bool Init(SharedPtr<FeatureImage>& first) override;
  bool OutlierElimination() override;
  bool CameraEstimation() override;
  // Nothing to finish: true, nothing changed.
  bool FinalEstimation() override { return true; }
  bool Refinement() override { return true; }
  // Map RMSE := sqrt(GetMSE(reconstructed list, pixels, quiet)).
  void GetMSE() override;

  // The operations of FeatureMapMove under this map's name (see there).
  static double GetMSE(const std::vector<SharedPtr<FeatureImage>>& images, bool pixels,
                       bool verbose);
  static double GetMaxStdDev(const SharedPtr<OutlierDetector>& detector);
  double GetMaxStdDev() const { return m_max_std_dev; }
  static void SetCovarianceMatrices(const std::vector<SharedPtr<FeatureImage>>& images,
                                    double sigma);
  static void generate_fcorr_list_with_3dfp(FeatureImage* image,
                                            std::vector<SharedPtr<FeatureCorrespondence>>& out,
                                            bool direction);
  bool IncrementalBundleAdjust(bool final);
  bool IncrementalBA_2DProjState(bool final);
  int ProjectionOutlierDetection(const SharedPtr<FeatureImage>& image, FeatureImage* neighbour,
                                 std::vector<SharedPtr<FeaturePoint2D>>* out, bool direction);
  bool CameraResectioning(const SharedPtr<FeatureImage>& image, FeatureImage* neighbour,
                          bool estimate_projective, bool direction);
  bool ForwardCameraResectioning(int p, bool estimate_projective);
  bool BundleAdjust();

  // The settings stay as constructed; the rest has no counterpart here.
  void SetParameter(const Parameter&) = delete;
  FeatureMapSphere::Parameter& GetSphereParameter() = delete;
  void GetKeyFramePair(std::vector<int>&) const = delete;
  int SetIncrementalList(const std::vector<SharedPtr<FeatureImage>>&) = delete;
  bool ReverseCameraResectioning(int, bool) = delete;
  void LimitNumFPoint3D(const std::vector<SharedPtr<FeatureImage>>&, int) = delete;

 protected:
  bool RotationOnlyCameras() const override { return false; }

 private:
  // Not this map's: the stages set it back to free motion.
  using FeatureMapMove::m_free_move;
};
