#include "tracking/maps/feature_map_move.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "features/feature_image.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_fmatrix.h"
#include "geometry/sample_calculator_proj_matrix.h"
#include "optimise/callback_for_test.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"
#include "tracking/maps/tracking_fakes_for_test.h"

namespace {

using Image = SharedPtr<FeatureImage>;
using Point = SharedPtr<FeaturePoint3D>;

// Two default cameras (720 x 576, focal length 720 pixels, principal point at the centre
// (359.5, 287.5)), the second moved to C = (100, 0, 0); pixel size 0.01 x 0.02 mm.
//   image 0: P (0, 0, 1000) projects to (359.5, 287.5), seen at (362.5, 291.5): (3, 4);
//            Q (0, 100, 1000) projects to (359.5, 345.1), seen there;
//            a removed point seen 50 pixels off; a feature without a point.
//   image 1: P projects to (287.5, 287.5), seen at (288.5, 287.5): (1, 0);
//            R (200, -100, 2000) projects to (395.5, 258.7), seen at (395.5, 260.7): (0, 2),
//            flagged as a synthetic outlier; a direction point.
struct TwoCameraScene {
  TwoCameraScene() {
    const double k[4] = {0, 0, 0, 0}, further[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
      Image image = Image::Make();
      image->SetAll(vm::Vector3{100.0 * i, 0, 0}, vm::Vector3{0, 0, 1}, vm::Vector3{720, 0, 0},
                    vm::Vector3{0, 576, 0}, 720, 576, 0.01, 0.02, k, further, Poly3);
      image->SetImageIndex(i);
      images.push_back(image);
    }
    Point p = Point::Make(0.0, 0.0, 1000.0, FeaturePoint3D::eCartesian);
    Point q = Point::Make(0.0, 100.0, 1000.0, FeaturePoint3D::eCartesian);
    Point r = Point::Make(200.0, -100.0, 2000.0, FeaturePoint3D::eCartesian);
    Point removed = Point::Make(0.0, 0.0, 1000.0, FeaturePoint3D::eCartesian);
    removed->SetFlags(FP3D_FLAG_REMOVED);
    Point direction = Point::Make(0.1, 0.2, 1000.0, FeaturePoint3D::eSpherical);
    r->SetId(7);
    Observe(0, 362.5, 291.5, p);
    Observe(0, 359.5, 345.1, q);
    Observe(0, 409.5, 287.5, removed);
    Observe(0, 10.0, 10.0, Point());
    Observe(1, 288.5, 287.5, p);
    Observe(1, 395.5, 260.7, r)->SetFlags(0x1);
    Observe(1, 300.0, 300.0, direction);
  }
  SharedPtr<FeaturePoint2D> Observe(int i, double x, double y, const Point& point) {
    auto f = SharedPtr<FeaturePoint2D>::Make(images[i].Get(), x, y);
    f->SetFPoint3D(point);
    images[i]->AddFPoint2D(f);
    return f;
  }
  std::vector<Image> images;
};

TEST(FeatureMapMoveTest, GetMSEMatchesHandComputation) {
  const double mm0 = 0.03 * 0.03 + 0.08 * 0.08;  // image 0's (3, 4) pixels in mm
  const double mm1 = 0.01 * 0.01 + 0.04 * 0.04;  // image 1's (1, 0) and (0, 2)
  const struct {
    bool pixels;
    double total, mse0, mse1;
  } cases[] = {
      {true, 30.0 / 8, 25.0 / 4, 5.0 / 4},
      {false, (mm0 + mm1) / 8, mm0 / 4, mm1 / 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pixels);
    TwoCameraScene scene;
    EXPECT_NEAR(FeatureMapMove::GetMSE(scene.images, c.pixels, false), c.total, 1e-9);
    EXPECT_NEAR(scene.images[0]->GetMeanSquaredError(), c.mse0, 1e-9);
    EXPECT_NEAR(scene.images[1]->GetMeanSquaredError(), c.mse1, 1e-9);
    EXPECT_EQ(scene.images[0]->GetStatistic(6), 2);  // Cartesian points
    EXPECT_EQ(scene.images[0]->GetStatistic(7), 0);  // direction points
    EXPECT_EQ(scene.images[1]->GetStatistic(6), 2);
    EXPECT_EQ(scene.images[1]->GetStatistic(7), 1);
  }
}

TEST(FeatureMapMoveTest, GetMSEVerboseLines) {
  TwoCameraScene scene;
  kxtest::LogCapture log(5);
  FeatureMapMove::GetMSE(scene.images, true, true);
  for (const char* line : {
           "FeatureMapMove::GetMSE: frame index 0 No.3DFPs=2 No.Sphere_3DFPs=0 RMSE 2.500000 \n",
           "FeatureMapMove::GetMSE: synthetic outlier detected: frame index=1, x=395.500000 "
           "y=260.700000 Id=7",
           "FeatureMapMove::GetMSE: frame index 1 No.3DFPs=2 No.Sphere_3DFPs=1 RMSE 1.118034 ",
           // 2 images, 8 measurements: sqrt(1 - 6 * 2 / 16)
           "FeatureMapMove::GetMSE: Theoretic residual = 0.500000 * Std Deviation",
           "FeatureMapMove::GetMSE: total synthetic outliers: 1",
       }) {
    EXPECT_TRUE(log.Has(line)) << line << "\n" << log.text;
  }

  kxtest::LogCapture quiet(5);
  FeatureMapMove::GetMSE(scene.images, true, false);
  EXPECT_FALSE(quiet.Has("GetMSE")) << quiet.text;
}

TEST(FeatureMapMoveTest, GetMSEWithoutMeasurements) {
  kxtest::LogCapture log(5);
  EXPECT_EQ(FeatureMapMove::GetMSE({}, true, false), 1e20);
  EXPECT_TRUE(log.Has("FeatureMapMove::GetMSE: empty list of fimages, return 1e20"));

  // Only a direction point and a removed point: nothing measured, statistics kept.
  Image image = Image::Make();
  image->SetMeanSquaredError(9.0);
  image->SetStatistic(7, 5);
  Point removed = Point::Make(0.0, 0.0, 1000.0, FeaturePoint3D::eCartesian);
  removed->SetFlags(FP3D_FLAG_REMOVED);
  for (const Point& point : {Point::Make(0.1, 0.2, 1000.0, FeaturePoint3D::eSpherical), removed}) {
    auto f = SharedPtr<FeaturePoint2D>::Make(image.Get(), 1.0, 2.0);
    f->SetFPoint3D(point);
    image->AddFPoint2D(f);
  }
  EXPECT_EQ(FeatureMapMove::GetMSE({image, Image()}, true, true), 0.0);
  EXPECT_EQ(image->GetMeanSquaredError(), 9.0);
  EXPECT_EQ(image->GetStatistic(7), 5);
  EXPECT_TRUE(log.Has("FeatureMapMove::GetMSE: frame index -1 no 3DFPs found No.Sphere_3DFPs=1"));
}

}  // namespace

TEST(FeatureMapMoveTest, ParameterDefaults) {
  const FeatureMapMove::Parameter p;
  const KeyFrameSelect::Parameter& k = p.m_keyframe_parameter;
  struct Case {
    const char* name;
    double value;
    double expected;
  };
  const Case cases[] = {
      {"m_point_update_mode", double(p.m_point_update_mode), 0},
      {"m_optMethod", double(p.m_optMethod), 3},
      {"m_ba_limit", double(p.m_ba_limit), 5},
      {"m_min_views", double(p.m_min_views), 3},
      {"m_estimate_focal", double(p.m_estimate_focal), 1},
      {"m_estimate_principal", double(p.m_estimate_principal), 0},
      {"m_ba_window", double(p.m_ba_window), 10},
      {"m_ba_max_iter", double(p.m_ba_max_iter), -1},
      {"m_prior_focal_35mm", p.m_prior_focal_35mm, -1.0},
      {"m_keep_points_behind", double(p.m_keep_points_behind), 0},
      {"m_guided_resectioning", double(p.m_guided_resectioning), 0},
      {"m_guided_resectioning_dist", double(p.m_guided_resectioning_dist), 5.0},
      {"keyframe m_method", double(k.m_method), 5},
      {"keyframe m_estimate_focal", double(k.m_estimate_focal), 1},
      {"keyframe m_estimate_principal", double(k.m_estimate_principal), 0},
      {"keyframe m_focal_prior", k.m_focal_prior, -11.0},
      {"keyframe m_max_latency", double(k.m_max_latency), -1},
      {"keyframe m_first_keyframe", double(k.m_first_keyframe), 0},
      {"keyframe m_second_keyframe", double(k.m_second_keyframe), 1},
      {"keyframe m_search_start", double(k.m_search_start), -1},
      {"keyframe m_min_corr_ratio", k.m_min_corr_ratio, 0.5},
      {"keyframe m_gric_lambda1", k.m_gric_lambda1, 8.0},
      {"keyframe m_gric_lambda2", k.m_gric_lambda2, 4.0},
      {"keyframe m_threshold_factor", k.m_threshold_factor, 2.0},
      {"keyframe m_gibson_w1", k.m_gibson_w1, 3.0},
      {"keyframe m_gibson_w2", k.m_gibson_w2, 10.0},
      {"keyframe m_gibson_w3", k.m_gibson_w3, 1.0},
      {"keyframe m_max_inlier_ratio", k.m_max_inlier_ratio, 0.8},
  };
  for (const Case& t : cases) EXPECT_EQ(t.value, t.expected) << t.name;

  // The point-update block, in the map's block and in the key-frame block.
  for (const UpdateFPoint3DParameter* u : {&p.m_update_parameter, &k.m_update_parameter}) {
    EXPECT_EQ(u->m_min_displacement, 5.0);
    EXPECT_EQ(u->m_max_map_error, 1.0);
    EXPECT_EQ(u->m_estimate_focal, 1);
    EXPECT_EQ(u->m_estimate_principal, 0);
    EXPECT_FALSE(u->m_use_old_update);
  }
}

namespace {

using Feature = SharedPtr<FeaturePoint2D>;
using Link = SharedPtr<FeatureCorrespondence>;

// A camera moving step mm (50 by default) per frame along x past a 7 x 6 grid of points 2
// to 3 m away (about 70 pixels apart in the images). Each point is tracked through every
// frame; the first frame's features carry the Cartesian 3D points.
struct MovingScene {
  explicit MovingScene(int frames, double step = 50.0) {
    for (int a = 0; a < 7; ++a) {
      for (int b = 0; b < 6; ++b) {
        points.push_back(Point::Make(-600.0 + 200 * a, -400.0 + 160 * b,
                                     2000.0 + 300 * ((a * 3 + b * 5) % 4),
                                     FeaturePoint3D::eCartesian));
      }
    }
    for (int i = 0; i < frames; ++i) {
      Image image = Image::Make();
      image->CopyFrom(kxtest::MakeSyntheticCamera(720, 576, 0.01, vm::Vector3{step * i, 0, 0}, 0.0,
                                                  0.0, 0.0, 10.0, 0.0, 0.0),
                      false);
      image->SetImageIndex(10 + i);
      images.push_back(image);
      features.emplace_back();
      for (size_t j = 0; j < points.size(); ++j) {
        double x, y, depth;
        EXPECT_TRUE(image->ProjectPoint(*points[j], x, y, depth, true));
        Feature f = Feature::Make(image.Get(), x, y);
        if (i == 0) f->SetFPoint3D(points[j]);
        image->AddFPoint2D(f);
        features[i].push_back(f);
        if (i > 0) Connect(features[i - 1][j], f);
      }
    }
  }
  static Link Connect(const Feature& earlier, const Feature& later) {
    Link link = Link::Make(earlier, later);
    earlier->SetSuccessor(link);
    later->SetPredecessor(link);
    return link;
  }
  // Breaks track j between frame i - 1 and frame i.
  void Break(int i, size_t j) {
    features[i - 1][j]->SetSuccessor(nullptr);
    features[i][j]->SetPredecessor(nullptr);
  }
  // Keeps only the first n tracks from frame 0 into frame 1.
  void KeepTracks(size_t n) {
    for (size_t j = n; j < points.size(); ++j) Break(1, j);
  }
  std::vector<Point> points;
  std::vector<Image> images;
  std::vector<std::vector<Feature>> features;  // [frame][point]
};

// Exposes the map's state for the checks.
class MapForTest : public FeatureMapMove {
 public:
  using FeatureMapMove::adaptiv_skip_frames_counter;
  using FeatureMapMove::LastLongestNewChain;
  using FeatureMapMove::m_bundle_adjuster;
  using FeatureMapMove::m_first_3d_index;
  using FeatureMapMove::m_fpoint3d_list;
  using FeatureMapMove::m_max_std_dev;
};

// Starts map on the scene's first frame and appends the others.
void Start(FeatureMapMove& map, MovingScene& scene, SharedPtr<OutlierDetector> detector) {
  map.SetOutlierDetector(detector);
  map.SetCameraEstimator(SharedPtr<kxtest::CameraEstimatorForTest>::Make());
  ASSERT_TRUE(map.Init(scene.images[0]));
  for (size_t i = 1; i < scene.images.size(); ++i) map.AppendImage(scene.images[i]);
}

SharedPtr<RandSampling> Sampler(int mode, SharedPtr<SampleCalculator> calculator) {
  auto sampler = SharedPtr<RandSampling>::Make();
  RandSampling::Parameter p;
  p.m_threshold_mode = mode;
  p.m_sigma = 0.4;
  sampler->SetParameter(p);
  sampler->SetSampleCalculator(calculator);
  return sampler;
}

TEST(FeatureMapMoveTest, MaxStdDevByDetector) {
  const struct {
    const char* name;
    SharedPtr<OutlierDetector> detector;
    double expected;
    bool warns;
  } cases[] = {
      {"fake", SharedPtr<kxtest::OutlierDetectorForTest>::Make(), 0.3, true},
      {"mode 0", Sampler(0, SharedPtr<SampleCalculatorProjMatrix>::Make()), 0.8 / std::sqrt(9.21),
       false},
      {"mode 1", Sampler(1, nullptr), 0.4, false},
      {"mode 2", Sampler(2, nullptr), 0.4, false},
      {"mode 3", Sampler(3, nullptr), 0.3, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::LogCapture log(5);
    EXPECT_NEAR(FeatureMapMove::GetMaxStdDev(c.detector), c.expected, 1e-12);
    EXPECT_EQ(log.Has("FeatureMapMove::GetMaxStdDev: unknwon outlier detector"), c.warns);
  }
}

TEST(FeatureMapMoveTest, CovarianceOnlyUpToTheFirstSetOne) {
  for (int frames : {2, 3}) {
    SCOPED_TRACE(frames);
    MovingScene scene(frames);
    scene.features[frames - 1][3]->SetCoVariance(9, 0, 9);
    FeatureMapMove::SetCovarianceMatrices(scene.images, 0.5);
    for (int i = 0; i < frames; ++i) {
      const bool treated = frames == 2 || i == frames - 1;
      for (size_t j = 0; j < scene.points.size(); ++j) {
        const float* c = scene.features[i][j]->GetCoVariance();
        const bool set = treated && (i < frames - 1 || j < 3);
        if (set) {
          EXPECT_EQ(c[0], 0.25f) << i << " " << j;
          EXPECT_EQ(c[2], 0.25f);
        } else if (!(i == frames - 1 && j == 3)) {
          EXPECT_NE(c[0], 0.25f) << i << " " << j;
        }
      }
    }
  }
  // A first feature with a covariance: nothing changes, nothing is said.
  MovingScene scene(1);
  scene.features[0][0]->SetCoVariance(4, 0, 4);
  kxtest::LogCapture log(5);
  FeatureMapMove::SetCovarianceMatrices(scene.images, 0.5);
  EXPECT_EQ(scene.features[0][1]->GetCoVariance()[0], 1.0f);
  EXPECT_FALSE(log.Has("SetCovarianceMatrices")) << log.text;
}

TEST(FeatureMapMoveTest, InitResetsTheReconstruction) {
  MovingScene scene(2);
  for (const Feature& f : scene.features[1]) {
    f->SetFPoint3D(scene.points[0]);
    f->GetPredecessor()->SetFlags(FCORR_SUPPORT_TRUE | FCORR_SUPPORT_FREEMOVE);
  }
  MapForTest map;
  map.SetIncrementalList(scene.images);
  std::vector<int> keys = {4, 5, 6};
  kxtest::LogCapture log(5);
  Start(map, scene, Sampler(1, nullptr));
  // The later frame's links were cleared only when it is the first one.
  ASSERT_TRUE(map.Init(scene.images[1]));
  EXPECT_TRUE(log.Has("***** FeatureMapMove::Init() set maximal standard deviation=0.400000"));
  EXPECT_EQ(map.GetMaxStdDev(), 0.4);
  EXPECT_EQ(map.GetKeyFrameSelect().GetMaxStdDev(), 0.4);
  EXPECT_TRUE(map.GetIncrementalList().empty());
  for (size_t j = 0; j < scene.points.size(); ++j) {
    EXPECT_FALSE(scene.features[1][j]->GetFPoint3D());
    EXPECT_FALSE(scene.features[0][j]->GetFPoint3D());
    EXPECT_EQ(scene.features[1][j]->GetPredecessor()->GetFlags(), uint32_t(FCORR_SUPPORT_TRUE));
  }
  map.GetKeyFramePair(keys);
  EXPECT_EQ(keys, (std::vector<int>{0, 0}));

  // Without the components Init's own errors pass.
  FeatureMapMove bare;
  EXPECT_THROW(bare.Init(scene.images[0]), const char*);
}

TEST(FeatureMapMoveTest, OutlierEliminationNeedsSevenLinks) {
  for (int linked : {6, 7}) {
    SCOPED_TRACE(linked);
    MovingScene scene(2);
    scene.KeepTracks(linked);
    FeatureMapMove map;
    auto detector = SharedPtr<kxtest::OutlierDetectorForTest>::Make();
    Start(map, scene, detector);
    kxtest::LogCapture log(5);
    EXPECT_EQ(map.OutlierElimination(), linked == 7);
    EXPECT_EQ(detector->runs, linked == 7 ? 1 : 0);
    EXPECT_EQ(log.Has("FeatureMapMove::OutlierElimination: image 11: no. of correspondences 6 < 7"),
              linked == 6);
  }
  FeatureMapMove map;
  kxtest::LogCapture log(5);
  EXPECT_FALSE(map.OutlierElimination());
  EXPECT_TRUE(log.Has("FeatureMapMove::OutlierElimination: outlier detector not set"));
}

TEST(FeatureMapMoveTest, OutlierEliminationMarksPlantedOutliers) {
  MovingScene scene(2);
  const size_t planted[] = {2, 9, 17, 30};
  for (size_t j : planted) scene.features[1][j]->y += 25.0;  // across the epipolar lines
  scene.features[1][9]->SetFlags(FP2D_FLAG_MANUAL);          // the user's feature stays
  MapForTest map;
  Start(map, scene, Sampler(1, SharedPtr<SampleCalculatorFMatrix>::Make()));
  kxtest::CallbackForTest observer;
  map.SetObserver(&observer);
  kxtest::LogCapture log(5);
  ASSERT_TRUE(map.OutlierElimination());
  for (size_t j = 0; j < scene.points.size(); ++j) {
    const bool outlier = j == 2 || j == 17 || j == 30;
    EXPECT_EQ(scene.features[1][j]->GetPredecessor()->GetFlags() & FCORR_SUPPORT_TRUE,
              outlier ? 0u : 1u)
        << j;
  }
  EXPECT_EQ(scene.images[1]->GetStatistic(0), 38);
  EXPECT_EQ(scene.images[1]->GetStatistic(1), 4);
  EXPECT_TRUE(log.Has("overwrite support (FCORR_SUPPORT_TRUE) for 1 of 1 manual feature points"));
  EXPECT_TRUE(log.Has("FeatureMapMove::OutlierElimination: stores 2 fimages"));
  EXPECT_EQ(observer.reports, (std::vector<std::pair<int, int>>{{2, 11}}));
  EXPECT_EQ(scene.features[1][0]->GetCoVariance()[0], 0.16f);
}

TEST(FeatureMapMoveTest, OutlierEliminationHandsTheDetectorThePreviousCamera) {
  MovingScene scene(3);
  MapForTest map;
  auto detector = SharedPtr<kxtest::OutlierDetectorForTest>::Make();
  Start(map, scene, detector);
  ASSERT_TRUE(map.OutlierElimination());
  EXPECT_EQ(detector->current_camera.GetC(), scene.images[1]->GetC());
  EXPECT_EQ(detector->runs, 1);
}

TEST(FeatureMapMoveTest, PointUpdateModeTriangulatesTheNewestTracks) {
  MovingScene scene(4, 30.0);  // every point stays in view
  for (size_t i = 1; i < scene.images.size(); ++i) {
    for (const Feature& f : scene.features[i]) f->GetPredecessor()->SetFlags(FCORR_SUPPORT_TRUE);
  }
  for (const Feature& f : scene.features[0]) f->SetFPoint3D(nullptr);
  // The newest frame's own camera is off; the point update must use the match camera.
  const Image& cur = scene.images[3];
  cur->InitMatchCamera(*cur);
  const vm::Vector3 centre = cur->GetC();
  cur->CopyFrom(*scene.images[2], false);
  MapForTest map;
  FeatureMapMove::Parameter p;
  p.m_point_update_mode = 2;
  map.SetParameter(p);
  Start(map, scene, SharedPtr<kxtest::OutlierDetectorForTest>::Make());
  EXPECT_EQ(map.LastLongestNewChain(), 0);
  kxtest::LogCapture log(5);
  ASSERT_TRUE(map.OutlierElimination());
  EXPECT_FALSE(log.Has("3D point update not available")) << log.text;
  EXPECT_EQ(cur->GetC(), centre);
  EXPECT_EQ(map.m_fpoint3d_list.size(), scene.points.size());
  for (size_t j = 0; j < scene.points.size(); ++j) {
    const Point& made = scene.features[3][j]->GetFPoint3D();
    ASSERT_TRUE(made) << j;
    EXPECT_EQ(scene.features[0][j]->GetFPoint3D(), made) << j;
    EXPECT_NEAR(made->x, scene.points[j]->x, 1e-3) << j;
    EXPECT_NEAR(made->y, scene.points[j]->y, 1e-3) << j;
    EXPECT_NEAR(made->z, scene.points[j]->z, 1e-3) << j;
  }
  EXPECT_EQ(map.LastLongestNewChain(), 4);
}

}  // namespace

namespace {

TEST(FeatureMapMoveTest, ResectionRecoversTheCameraDespiteOutliers) {
  const struct {
    const char* name;
    bool projective, forward;
  } cases[] = {{"pose forward", false, true},
               {"projective forward", true, true},
               {"pose reverse", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MovingScene scene(2);
    const int own = c.forward ? 1 : 0;
    if (!c.forward) {
      for (size_t j = 0; j < scene.points.size(); ++j) {
        scene.features[0][j]->SetFPoint3D(nullptr);
        scene.features[1][j]->SetFPoint3D(scene.points[j]);
      }
    }
    const vm::Vector3 truth = scene.images[own]->GetC();
    for (size_t j : {3, 11, 25, 40}) scene.features[own][j]->y += 30.0;
    MapForTest map;
    Start(map, scene, Sampler(1, nullptr));
    EXPECT_TRUE(c.forward ? map.ForwardCameraResectioning(1, c.projective)
                          : map.ReverseCameraResectioning(0, c.projective));
    const vm::Vector3 centre = scene.images[own]->GetC();
    EXPECT_NEAR(centre.x, truth.x, 1e-3);
    EXPECT_NEAR(centre.y, truth.y, 1e-3);
    EXPECT_NEAR(centre.z, truth.z, 1e-3);
    EXPECT_EQ(scene.images[own]->GetStatistic(4), 38);
    EXPECT_EQ(scene.images[own]->GetStatistic(5), 4);
    for (size_t j = 0; j < scene.points.size(); ++j) {
      const bool outlier = j == 3 || j == 11 || j == 25 || j == 40;
      const Link& link =
          c.forward ? scene.features[1][j]->GetPredecessor() : scene.features[0][j]->GetSuccessor();
      EXPECT_EQ(link->GetFlags(), outlier ? 0u : 0x41u) << j;
      EXPECT_EQ(bool(scene.features[own][j]->GetFPoint3D()), !outlier) << j;
    }
  }
}

TEST(FeatureMapMoveTest, ResectionNeedsSixPoints) {
  for (size_t linked : {5, 6}) {
    SCOPED_TRACE(linked);
    MovingScene scene(2);
    scene.KeepTracks(linked);
    MapForTest map;
    Start(map, scene, Sampler(1, nullptr));
    kxtest::LogCapture log(5);
    EXPECT_EQ(map.ForwardCameraResectioning(1, false), linked == 6);
    EXPECT_EQ(log.Has("FeatureMapMove::CameraResectioning: incremental bundle adjustment to "
                      "increasing frame no. of 3D points 5 < 6"),
              linked == 5);
    EXPECT_EQ(log.Has("FeatureMapMove::ProjectionOutlierDetection: RANSAC projection matrix"),
              linked == 6);
  }
}

TEST(FeatureMapMoveTest, NoNeighbourNoResection) {
  MovingScene scene(2);
  MapForTest map;
  Start(map, scene, Sampler(1, nullptr));
  kxtest::LogCapture log(5);
  EXPECT_FALSE(map.ForwardCameraResectioning(0, false));
  EXPECT_FALSE(map.ReverseCameraResectioning(1, false));
  EXPECT_TRUE(log.Has("FeatureMapMove::ForwardCameraResectioning: try to access image before 10"));
  EXPECT_TRUE(log.Has("FeatureMapMove::ReverseCameraResectioning: try to access image after 11"));
  EXPECT_FALSE(log.Has("FeatureMapMove::CameraResectioning: image")) << log.text;
}

TEST(FeatureMapMoveTest, OnlyCartesianPointsTravelAlongTracks) {
  MovingScene scene(2);
  scene.features[0][0]->SetFPoint3D(Point::Make(0.1, 0.2, 1.0, FeaturePoint3D::eSpherical));
  const Point own = Point::Make(1.0, 2.0, 3000.0, FeaturePoint3D::eCartesian);
  scene.features[1][1]->SetFPoint3D(own);
  std::vector<Link> out;
  generate_fcorr_list_with_3dfp(scene.images[1].Get(), out, true);
  EXPECT_EQ(out.size(), scene.points.size() - 1);
  EXPECT_FALSE(scene.features[1][0]->GetFPoint3D());
  EXPECT_EQ(scene.features[1][1]->GetFPoint3D(), own);
  EXPECT_EQ(scene.features[1][2]->GetFPoint3D(), scene.points[2]);
}

TEST(FeatureMapMoveTest, OutlierWithRemovedPointKeepsItsSupport) {
  MovingScene scene(2);
  const Point removed = Point::Make(0.0, 0.0, 2500.0, FeaturePoint3D::eCartesian);
  removed->SetFlags(FP3D_FLAG_REMOVED);
  scene.features[1][5]->SetFPoint3D(removed);
  MapForTest map;
  Start(map, scene, Sampler(1, nullptr));
  std::vector<Feature> inliers;
  EXPECT_EQ(map.ProjectionOutlierDetection(scene.images[1], scene.images[0].Get(), &inliers, true),
            42);
  EXPECT_EQ(inliers.size(), 41u);
  EXPECT_EQ(scene.features[1][5]->GetPredecessor()->GetFlags() & FCORR_SUPPORT_TRUE, 1u);
  EXPECT_FALSE(scene.features[1][5]->GetFPoint3D());
}

// Frame 2's camera comes from its tracks; tracks broken between frames 1 and 2 are joined
// when the new feature lies within the limit of the ended track's projected point.
struct GuidedCase {
  const char* name;
  double offset;     // of the started feature from the projection, pixels
  bool consecutive;  // frame 1's index is one less than frame 2's
  bool merged;
};

// Guided resectioning on; frame 1 resected, so its features carry the points.
void StartGuided(MapForTest& map, MovingScene& scene) {
  FeatureMapMove::Parameter p;
  p.m_guided_resectioning = true;
  map.SetParameter(p);
  Start(map, scene, Sampler(1, nullptr));
  ASSERT_TRUE(map.ForwardCameraResectioning(1, false));
}

TEST(FeatureMapMoveTest, GuidedResectioningJoinsBrokenTracks) {
  const GuidedCase cases[] = {{"4.9 pixels", 4.9, true, true},
                              {"5.1 pixels", 5.1, true, false},
                              {"index gap", 0.0, false, false}};
  for (const GuidedCase& c : cases) {
    SCOPED_TRACE(c.name);
    MovingScene scene(3);
    MapForTest map;
    StartGuided(map, scene);
    scene.Break(2, 20);
    scene.features[2][20]->x += c.offset;
    if (!c.consecutive) scene.images[2]->SetImageIndex(30);
    kxtest::LogCapture log(5);
    ASSERT_TRUE(map.ForwardCameraResectioning(2, false));
    const Link& link = scene.features[2][20]->GetPredecessor();
    EXPECT_EQ(bool(link), c.merged);
    if (link) {
      EXPECT_EQ(link->GetFirst(), scene.features[1][20]);
      EXPECT_EQ(scene.features[1][20]->GetSuccessor(), link);
      EXPECT_EQ(link->GetFlags(), 0x41u);
      EXPECT_EQ(scene.features[2][20]->GetFPoint3D(), scene.points[20]);
    }
    if (c.consecutive) {
      EXPECT_TRUE(
          log.Has("guided resectioning: frame 12, 1 feature tracks ended, 1 tracks "
                  "started, " +
                  std::string(c.merged ? "1" : "0") + " tracks merged"))
          << log.text;
    } else {
      EXPECT_FALSE(log.Has("tracks merged")) << log.text;
    }
  }
}

TEST(FeatureMapMoveTest, GuidedResectioningJoinsTheFirstEndedTrack) {
  MovingScene scene(3);
  MapForTest map;
  StartGuided(map, scene);
  // Two ended tracks whose points project within a pixel of each other in frame 2.
  const Point a = scene.points[7];
  const Point b = Point::Make(a->x + 2.0, a->y, a->z, FeaturePoint3D::eCartesian);
  Feature ended[2];
  for (int k = 0; k < 2; ++k) {
    ended[k] = Feature::Make(scene.images[1].Get(), 5.0, 5.0);
    ended[k]->SetFPoint3D(k == 0 ? a : b);
    scene.images[1]->AddFPoint2D(ended[k]);
  }
  const Feature started =
      Feature::Make(scene.images[2].Get(), scene.features[2][7]->x + 1.0, scene.features[2][7]->y);
  scene.images[2]->AddFPoint2D(started);
  ASSERT_TRUE(map.ForwardCameraResectioning(2, false));
  ASSERT_TRUE(started->GetPredecessor());
  EXPECT_EQ(started->GetPredecessor()->GetFirst(), ended[0]);
  EXPECT_EQ(started->GetFPoint3D(), a);
  EXPECT_FALSE(ended[1]->GetSuccessor());
}

}  // namespace

namespace {

// Records each run; throws the iteration number when asked to.
class AdjusterForTest : public BundleAdjuster {
 public:
  void AddFImage(const SharedPtr<FeatureImage>&) override {}
  void SetFImageList(const ImageList&) override {}
  bool Optimize(unsigned) override { return true; }
  bool Run(const ImageList& list, unsigned n) override {
    runs.push_back({list, n});
    if (stop_at > 0) throw stop_at;
    return true;
  }
  struct Call {
    ImageList list;
    unsigned count;
  };
  std::vector<Call> runs;
  unsigned stop_at = 0;
};

std::vector<Image> Frames(int n) {
  std::vector<Image> frames;
  for (int i = 0; i < n; ++i) {
    frames.push_back(Image::Make());
    frames.back()->SetImageIndex(i);
  }
  return frames;
}

TEST(FeatureMapMoveTest, AdaptiveWindowRunsEveryTenthOfItsLength) {
  const struct {
    const char* name;
    int images, first_3d;
    std::vector<bool> runs;  // over consecutive frames
    size_t window;
  } cases[] = {
      {"25 images", 25, 0, {false, false, true, false, false, true}, 25},
      {"9 beyond", 14, 5, {true, true, true}, 9},
      {"1 beyond", 6, 5, {false, false}, 0},
      {"none beyond", 5, 5, {false}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MapForTest map;
    FeatureMapMove::Parameter p;
    p.m_ba_limit = FeatureMapMove::eAdaptivLimit;
    map.SetParameter(p);
    AdjusterForTest adjuster;
    map.m_bundle_adjuster = &adjuster;
    map.m_first_3d_index = c.first_3d;
    const std::vector<Image> frames = Frames(c.images);
    map.SetIncrementalList(frames);
    for (size_t f = 0; f < c.runs.size(); ++f) {
      adjuster.runs.clear();
      EXPECT_TRUE(map.BundleAdjust());
      ASSERT_EQ(adjuster.runs.size(), c.runs[f] ? 1u : 0u) << f;
      if (!c.runs[f]) continue;
      EXPECT_EQ(adjuster.runs[0].list.size(), c.window);
      EXPECT_EQ(adjuster.runs[0].list.front(), frames[c.images - c.window]);
      EXPECT_EQ(adjuster.runs[0].count, c.window);
    }
  }
}

TEST(FeatureMapMoveTest, WindowModesHandTheAdjusterTheirCount) {
  const struct {
    const char* name;
    int mode;
    bool runs;
    unsigned count;
  } cases[] = {
      {"unlimited", FeatureMapMove::eUnlimited, true, 0},
      {"manual", FeatureMapMove::eManualLimit, true, 10},
      {"minimal without a new point", FeatureMapMove::eMinimalLimit, false, 0},
      {"only final", FeatureMapMove::eOnlyFinal, false, 0},
      {"never", FeatureMapMove::eNever, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MapForTest map;
    FeatureMapMove::Parameter p;
    p.m_ba_limit = c.mode;
    map.SetParameter(p);
    AdjusterForTest adjuster;
    map.m_bundle_adjuster = &adjuster;
    map.SetIncrementalList(Frames(4));
    kxtest::LogCapture log(5);
    EXPECT_TRUE(map.BundleAdjust());
    ASSERT_EQ(adjuster.runs.size(), c.runs ? 1u : 0u);
    EXPECT_EQ(log.Has("FeatureMapMove::BundleAdjust: incremental bundle adjust skipped"), !c.runs);
    if (!c.runs) continue;
    EXPECT_EQ(adjuster.runs[0].list.size(), 4u);
    EXPECT_EQ(adjuster.runs[0].count, c.count);
  }
}

TEST(FeatureMapMoveTest, StoppedAdjustmentIsLoggedAndTheFrameGoesOn) {
  MapForTest map;
  FeatureMapMove::Parameter p;
  p.m_ba_limit = FeatureMapMove::eUnlimited;
  map.SetParameter(p);
  AdjusterForTest adjuster;
  adjuster.stop_at = 7;
  map.m_bundle_adjuster = &adjuster;
  map.SetIncrementalList(Frames(3));
  kxtest::LogCapture log(5);
  EXPECT_TRUE(map.BundleAdjust());
  EXPECT_TRUE(log.Has("FeatureMapMove::BundleAdjust: stopped bundle adjust at iteration 7"));
  EXPECT_TRUE(log.Has("FeatureMapMove::BundleAdjust: incremental bundle adjust failed"));
}

TEST(FeatureMapMoveTest, LimitKeepsTheSubsetAndProtectedPoints) {
  for (int valid : {5000, 5001}) {
    SCOPED_TRACE(valid);
    MapForTest map;
    for (int i = 0; i <= valid; ++i) {
      Point point = Point::Make(double(i), 0.0, 1000.0, FeaturePoint3D::eCartesian);
      if (i == 0) point->SetFlags(FP3D_FLAG_REMOVED);
      map.AddFPoint3D(point);
    }
    const Point guarded = map.m_fpoint3d_list.back();
    guarded->SetFlags(FP3D_FLAG_PROTECTED);
    FeatureMap::PointList subset;
    FeatureMap::SelectFPoint3DSubset(map.GetFImageList(), map.m_fpoint3d_list, subset, 4000);
    map.LimitNumFPoint3D({}, 4000);
    for (const Point& point : map.m_fpoint3d_list) {
      const bool chosen = std::find(subset.begin(), subset.end(), point) != subset.end();
      // A removed point stays removed even when the subset picked it.
      const bool kept = point->GetId() != 0 && (valid == 5000 || chosen || point == guarded);
      EXPECT_EQ((point->GetFlags() & FP3D_FLAG_REMOVED) == 0, kept) << point->GetId();
      EXPECT_EQ(point->GetFlags() & FP3D_FLAG_TEMP_MARK, 0u);
    }
    EXPECT_FALSE(guarded->GetFlags() & FP3D_FLAG_REMOVED);
  }
}

}  // namespace

namespace {

TEST(FeatureMapMoveTest, FailedEstimateIsReportedButTheFrameGoesOn) {
  MovingScene scene(2);
  // The estimators leave protected points out: nothing is left to fit.
  for (const Point& point : scene.points) point->SetFlags(FP3D_FLAG_PROTECTED);
  MapForTest map;
  Start(map, scene, Sampler(1, nullptr));
  kxtest::LogCapture log(5);
  EXPECT_TRUE(map.ForwardCameraResectioning(1, false));
  EXPECT_TRUE(log.Has("FeatureMapMove::CameraResectioning: resectioning of camera 11 failed"));
  EXPECT_FALSE(log.Has("succeed")) << log.text;
}

}  // namespace
