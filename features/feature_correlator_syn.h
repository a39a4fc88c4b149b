// FeatureCorrelatorSyn: a correlator that looks at no pixels. It builds one synthetic 3D
// scene, makes a camera for every image from a known path (or takes a preset one),
// projects the scene into the image, adds Gaussian noise and optionally outliers, creates
// the 2D features and links each one to the feature of the same scene point in the image
// made before it. Optionally it creates the 3D point of every tracked scene point. It is
// the tracking engine's test bench with known ground truth.
//
// Process-wide state, shared by every instance and never destroyed: the reference camera
// R (a copy of the first image's camera, taken by the instance with clone index 0), the
// scene (points relative to R's centre), the map from scene point to the feature of the
// most recent image that saw it, the random generator (its own, seeded 1937) and the clone
// counter. The instance with clone index k = 0 makes images 0 and 1; the clone with index
// k makes image k + 1. There are no locks: only one thread may use these correlators, and
// two of them must not compute at the same time.
//
// Units: world coordinates in mm, image positions in pixels, angles in radians (the
// parameter constructor takes degrees).
#pragma once

#include <cstdint>
#include <vector>

#include "features/feature_correlator.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/random_generator.h"

class FeatureCorrelatorSyn : public FeatureCorrelator {
 public:
  struct Parameter {
    // The defaults below.
    Parameter() = default;
    // The angles in degrees; r2 = 0 means r2 = r1; a null translation means none.
    Parameter(uint32_t nf, double r1, double r2, double pan_deg, double tilt_deg, double roll_deg,
              double dz, double zlb, double zub, double po, double to, double std_d, uint32_t p_r2,
              const vm::Vector3* translation, bool cc, bool s3d, bool covariance, bool dist,
              bool grid, bool cube, double k3, double k5, double principal_x, double principal_y,
              double outlier, double max_deviation, uint32_t seed);

    uint32_t m_nf = 10000;   // scene points to create
    double m_r1 = 100000.0;  // first radius (mm)
    double m_r2 = 100000.0;  // second radius (mm)
    double m_dp = 0.0;       // pan per image (radians)
    double m_dt = 0.0;       // tilt per image
    double m_dr = 0.0;       // roll per image
    double m_dz = 0.0;       // zoom step: factor 1 + dz per image
    double m_zlb = 0.5;      // lower zoom bound
    double m_zub = 2.0;      // upper zoom bound
    double m_po = 0.0;       // centre offset along R's axis
    double m_to = 0.0;       // centre offset along R's vertical axis
    double m_std_d = 0.0;    // image noise, standard deviation in pixels
    uint32_t m_p_r2 = 50;    // percentage of points on the second radius, 0..100
    double m_tx = 0.0;       // camera translation per image (mm)
    double m_ty = 0.0;
    double m_tz = 0.0;
    uint8_t m_cc = 0;            // use the preset camera instead of a generated one
    uint8_t m_s3d = 0;           // create and link 3D points
    uint8_t m_covariance = 0;    // give features the covariance (std d^2, 0, std d^2)
    uint8_t m_dist = 1;          // random radius between r1 and r2
    uint8_t m_grid = 0;          // latitude-longitude grid instead of random directions
    uint8_t m_cube = 0;          // a box between z = r1 and z = r2 instead of spheres
    double m_k3 = 1e-6;          // K3 of every generated camera
    double m_k5 = 1e-8;          // K5 of every generated camera
    double m_principal_x = 0.0;  // principal point of the generated camera (pixels)
    double m_principal_y = 0.0;
    double m_outlier = 0.0;       // share of outliers, 0..1
    double m_max_deviation = 15;  // largest outlier displacement (pixels)
    uint32_t m_seed = 1937;       // generator seed; 0 keeps the generator's state
  };

  // Clone index 0, the default parameters; creates the shared state when missing.
  FeatureCorrelatorSyn();
  // Unlinks the correspondences of the list, then the base destructor.
  ~FeatureCorrelatorSyn() override;

  Parameter& GetParameter() { return parameter_; }
  // Copies the block; the scene is rebuilt only by Init3DScene.
  void SetParameter(const Parameter& parameter) { parameter_ = parameter; }
  int GetCloneIndex() const { return k_; }

  // Builds the scene when there is none, makes image 0 (clone index 0 only) from the first
  // image and image k + 1 from the second; returns the number of correspondences. 0 when an
  // image it needs is missing.
  int32_t Compute() override;
  // A new correlator with this block and the next clone index.
  SharedPtr<FeatureCorrelator> Clone() override;
  // Clone index 0: the reference camera becomes a copy of the first image's camera.
  void OnNewFeatureImages() override;

  // Clears the earlier feature's successor and the later feature's predecessor of every
  // correspondence of the list; the list stays.
  void UnlinkCorrespondences();
  // Reseeds the generator and rebuilds the scene (seed not 0: a seeded run draws the same
  // scene and noise whatever ran before it in the process); with seed 0 the scene is
  // rebuilt only when the point parameters changed (or there is none). Sets the clone
  // counter and this clone index to 0.
  void Init3DScene();
  // The generated camera of image n.
  void GetCamera(int n, PerspectiveCamera& camera) const;
  // Replaces the image's features by the projections of the scene in image n, linked to
  // the features of the previous image. A null image is logged (level 2).
  void CreateImageFeatures(FeatureImage* image, int n);

  // The shared state, for inspection: the scene (relative to the reference camera's
  // centre) and the reference camera.
  static const std::vector<vm::Vector3>& GetScene();
  static const PerspectiveCamera& GetReferenceCamera();

 private:
  Parameter parameter_;
  int k_ = 0;
};
