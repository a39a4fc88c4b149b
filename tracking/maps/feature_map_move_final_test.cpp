#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/tracks/feature_flags.h"
#include "optimise/bundle_scene_for_test.h"
#include "optimise/callback_for_test.h"
#include "optimise/optimizer_sparse_lm.h"
#include "testing/distorted_scene_for_test.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"
#include "tracking/maps/feature_map_move.h"

namespace {

using Image = SharedPtr<FeatureImage>;
using Point = SharedPtr<FeaturePoint3D>;
using Images = std::vector<Image>;
using Points = std::vector<Point>;
using kxtest::Distance;

// Exposes the map's state: a reconstruction is set up directly, as the incremental
// stages would leave it.
class FinalMap : public FeatureMapMove {
 public:
  using FeatureMapMove::FocalSearchStride;
  using FeatureMapMove::increm_bun_state;
  using FeatureMapMove::kFocalSearchMaxFrames;
  using FeatureMapMove::m_ba_interleave;
  using FeatureMapMove::m_ba_sparse;
  using FeatureMapMove::m_ba_subset;
  using FeatureMapMove::m_bundle_adjuster;
  using FeatureMapMove::m_camera;
  using FeatureMapMove::m_fmap_sphere;
  using FeatureMapMove::m_fpoint3d_list;
  using FeatureMapMove::m_key1;
  using FeatureMapMove::m_max_std_dev;
  using FeatureMapMove::SearchFocalLength;

  // Frames, reconstructed list, points and state; the map camera is the first frame's.
  void Load(const Images& frames, const Images& reconstructed, const Points& points,
            int state = e3DProjectionState) {
    SetImageList(frames);
    SetIncrementalList(reconstructed);
    m_fpoint3d_list = points;
    m_camera.CopyFrom(*frames.front(), false);
    increm_bun_state = state;
  }
  void SetParameters(int estimate_focal, int ba_limit, int opt_method = 3) {
    Parameter p = GetParameter();
    p.m_estimate_focal = estimate_focal;
    p.m_ba_limit = ba_limit;
    p.m_optMethod = opt_method;
    SetParameter(p);
  }

  // With adjuster set, Refinement runs it instead of its own choice.
  BundleAdjuster* adjuster = nullptr;
  BundleAdjuster* OwnChoice() { return FeatureMapMove::RefinementAdjuster(); }

 protected:
  BundleAdjuster* RefinementAdjuster() override {
    return adjuster ? adjuster : FeatureMapMove::RefinementAdjuster();
  }
};

// A camera at centre looking along +z (focal length 10 mm, 1000 x 800 pixels of 0.01 mm).
Image CameraAt(const vm::Vector3& centre, int index) {
  Image image = Image::Make();
  image->CopyFrom(kxtest::MakeSyntheticCamera(1000, 800, 0.01, centre, 0, 0, 0, 10.0, 0, 0), false);
  image->SetImageIndex(index);
  return image;
}

void Observe(const Image& image, const Point& point) {
  auto feature = SharedPtr<FeaturePoint2D>::Make(image.Get(), 500.0, 400.0);
  feature->SetFPoint3D(point);
  image->AddFPoint2D(feature);
}

// Largest difference between the pairwise distances of got and truth, each relative to
// its first pair: zero for shapes equal up to a similarity.
double ShapeError(const std::vector<vm::Vector3>& got, const std::vector<vm::Vector3>& truth) {
  const double got_unit = Distance(got[0], got[1]), true_unit = Distance(truth[0], truth[1]);
  double worst = 0.0;
  for (size_t a = 0; a < got.size(); ++a) {
    for (size_t b = a + 1; b < got.size(); ++b) {
      worst = std::max(worst, std::abs(Distance(got[a], got[b]) / got_unit -
                                       Distance(truth[a], truth[b]) / true_unit));
    }
  }
  return worst;
}

std::vector<vm::Vector3> Positions(const Images& images, const Points& points) {
  std::vector<vm::Vector3> out;
  for (const Point& p : points) out.push_back(*p);
  for (const Image& i : images) out.push_back(i->GetC());
  return out;
}

std::vector<vm::Vector3> TruePositions(const kxtest::BundleScene& scene) {
  std::vector<vm::Vector3> out = scene.true_points;
  for (const PerspectiveCamera& c : scene.true_cameras) out.push_back(c.GetC());
  return out;
}

void ExpectSamePose(const PerspectiveCamera& got, const PerspectiveCamera& want, double tol) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(got.GetC()[i], want.GetC()[i], tol * 1000.0);
    EXPECT_NEAR(got.GetA()[i], want.GetA()[i], tol);
    EXPECT_NEAR(got.H0()[i], want.H0()[i], tol);
    EXPECT_NEAR(got.V0()[i], want.V0()[i], tol);
  }
}

// The mean of the smaller half of the observed depths, over the focal length: the scale
// the final estimation sets is 5.
double TypicalDepthInFocalLengths(const Images& images) {
  std::vector<double> depths;
  for (const Image& image : images) {
    for (const auto& f : image->GetFPoints2D()) {
      const Point& p = f->GetFPoint3D();
      if (!p || (p->GetFlags() & FP3D_FLAG_REMOVED)) continue;
      depths.push_back(std::abs((*p - image->GetC()).Dot(image->GetA())));
    }
  }
  std::sort(depths.begin(), depths.end());
  const size_t b = (depths.size() + 1) / 2;
  double sum = 0.0;
  for (size_t i = 0; i < b; ++i) sum += depths[i];
  return sum / double(b) / images.front()->GetFocalLength();
}

TEST(FeatureMapMoveFinalTest, ScaleSearch) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* name;
    std::vector<double> depths;  // of the first camera's observations, mm
    double given;
    double applied;  // 0: nothing changes
    const char* qr;  // the line on stderr, or null when the search does not run
    bool warns;
  } cases[] = {
      {"four depths", {1, 2, 3, 4}, 0.0, 50.0 / 1.5, "QR: 3.000000", false},
      {"two behind two in front", {-1, -2, 3, 4}, 0.0, 50.0 / 1.5, "QR: 3.000000", false},
      {"three behind", {-1, -2, -3, 4, 5}, 0.0, -25.0, "QR: 6.000000", false},
      {"one observation", {7}, 0.0, 50.0 / 7.0, "QR: 7.000000", false},
      {"given scale", {1, 2, 3, 4}, 2.0, 2.0, nullptr, false},
      {"all depths zero", {0, 0}, 0.0, 0.0, "QR: 0.000000", true},
      {"given NaN", {1}, nan, 0.0, nullptr, true},
      {"nothing observed", {}, 0.0, 0.0, nullptr, false},
  };
  const vm::Vector3 c0{10, 20, 30};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Images images = {CameraAt(c0, 0), CameraAt(c0 + vm::Vector3{100, 0, 0}, 1)};
    Points points;
    for (double d : c.depths) {
      points.push_back(Point::Make(c0.x + 5, c0.y, c0.z + d, FeaturePoint3D::eCartesian));
      Observe(images[0], points.back());
    }
    // Never measured, but moved with the rest: a removed point; never touched: a direction.
    Point removed = Point::Make(c0.x, c0.y + 3, c0.z + 1000, FeaturePoint3D::eCartesian);
    removed->SetFlags(FP3D_FLAG_REMOVED);
    Observe(images[0], removed);
    Point direction = Point::Make(0.1, 0.2, 1000.0, FeaturePoint3D::eSpherical);
    Observe(images[0], direction);
    points.push_back(removed);
    points.push_back(direction);

    kxtest::LogCapture log(5);
    testing::internal::CaptureStderr();
    const double applied =
        FeatureMapMove::SearchAndApplyOptimalScaleFactor(images, points, c.given);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NEAR(applied, c.applied, 1e-12);
    EXPECT_EQ(log.Has("FeatureMapMove::SearchAndApplyOptimalScaleFactor: QR:"), c.qr != nullptr)
        << log.text;
    if (c.qr) {
      EXPECT_TRUE(log.Has(c.qr)) << log.text;
    }
    EXPECT_EQ(log.Has("no usable scale"), c.warns) << log.text;

    const double s = c.applied == 0.0 ? 1.0 : c.applied;
    EXPECT_EQ(images[0]->GetC(), c0);
    EXPECT_NEAR(images[1]->GetC().x, c0.x + 100 * s, 1e-9);
    EXPECT_NEAR(images[1]->GetC().z, c0.z, 1e-9);
    EXPECT_EQ(images[1]->GetA(), images[0]->GetA());
    for (size_t i = 0; i < c.depths.size(); ++i) {
      EXPECT_NEAR(points[i]->x, c0.x + 5 * s, 1e-9);
      EXPECT_NEAR(points[i]->z, c0.z + c.depths[i] * s, 1e-9);
      EXPECT_NEAR(points[i]->GetCoVariance(0, 0), s * s, 1e-9);
    }
    EXPECT_NEAR(removed->z, c0.z + 1000 * s, 1e-9);
    EXPECT_NEAR(removed->GetCoVariance(2, 2), s * s, 1e-9);
    EXPECT_EQ(static_cast<vm::Vector3&>(*direction), (vm::Vector3{0.1, 0.2, 1000.0}));
  }
}

TEST(FeatureMapMoveFinalTest, RemovesPointsOnAndBehindTheCamera) {
  const Images images = {CameraAt({0, 0, 0}, 0), CameraAt({0, 0, 0}, 1)};
  auto make = [](double depth, uint32_t flags, int cs = FeaturePoint3D::eCartesian) {
    Point p = Point::Make(1.0, 2.0, depth, cs);
    p->SetFlags(flags);
    return p;
  };
  const Point in_front = make(5, 0), on_plane = make(0, 0), behind = make(-5, 0),
              protected_behind = make(-5, FP3D_FLAG_PROTECTED),
              removed_behind = make(-5, FP3D_FLAG_REMOVED),
              direction = make(-5, 0, FeaturePoint3D::eSpherical);
  for (const Image& image : images) {
    for (const Point& p :
         {in_front, on_plane, behind, protected_behind, removed_behind, direction}) {
      Observe(image, p);
    }
  }
  // Seen twice, counted once.
  EXPECT_EQ(FeatureMapMove::RemoveFPoint3DBehindCamera(images), 2);
  EXPECT_EQ(on_plane->GetFlags(), uint32_t(FP3D_FLAG_REMOVED));
  EXPECT_EQ(behind->GetFlags(), uint32_t(FP3D_FLAG_REMOVED));
  EXPECT_EQ(in_front->GetFlags(), 0u);
  EXPECT_EQ(protected_behind->GetFlags(), uint32_t(FP3D_FLAG_PROTECTED));
  EXPECT_EQ(direction->GetFlags(), 0u);
  EXPECT_EQ(FeatureMapMove::RemoveFPoint3DBehindCamera(images), 0);
}

TEST(FeatureMapMoveFinalTest, AlignmentMovesTheReconstructionRigidly) {
  kxtest::BundleScene scene = kxtest::MakeBundleScene(kxtest::SceneSpec(5, 30, 5));
  const Images reconstructed(scene.images.begin() + 1, scene.images.end());
  FinalMap map;
  map.Load(scene.images, reconstructed, scene.points);
  Point direction = Point::Make(0.1, 0.2, 1000.0, FeaturePoint3D::eSpherical);
  map.m_fpoint3d_list.push_back(direction);
  const Point removed = scene.points[3];
  removed->SetFlags(FP3D_FLAG_REMOVED);
  const std::vector<vm::Vector3> before = Positions(reconstructed, scene.points);
  const PerspectiveCamera outside = *scene.images[0];
  const PerspectiveCamera reference = kxtest::MakeSyntheticCamera(
      1000, 800, 0.01, vm::Vector3{300, -40, 77}, 0.4, -0.2, 0.1, 25.0, 0, 0);
  const double focal = reconstructed[0]->GetFocalLength();

  map.AlignEstimationToCamera(reference);
  ExpectSamePose(*reconstructed[0], reference, 1e-12);
  EXPECT_NEAR(reconstructed[0]->GetFocalLength(), focal, 1e-9);  // intrinsics stay
  const std::vector<vm::Vector3> after = Positions(reconstructed, scene.points);
  for (size_t a = 0; a < after.size(); ++a) {
    for (size_t b = a + 1; b < after.size(); ++b) {
      EXPECT_NEAR(Distance(after[a], after[b]), Distance(before[a], before[b]), 1e-8);
    }
  }
  EXPECT_NE(after[3], before[3]);  // the removed point moved too
  EXPECT_EQ(scene.images[0]->GetC(), outside.GetC());
  EXPECT_EQ(scene.images[0]->GetA(), outside.GetA());
  EXPECT_EQ(static_cast<vm::Vector3&>(*direction), (vm::Vector3{0.1, 0.2, 1000.0}));

  FinalMap empty;
  kxtest::LogCapture log(5);
  empty.AlignEstimationToCamera(reference);
  EXPECT_TRUE(log.Has("FeatureMapMove::AlignEstimationToCamera: empty incremental image list"));
}

TEST(FeatureMapMoveFinalTest, RefinementAdjusterByMethod) {
  const struct {
    int method;
    int expected;  // 0 interleaved, 1 sparse, 2 subset
  } cases[] = {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 2}, {6, 1}, {-1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    FinalMap map;
    map.SetParameters(1, FeatureMapMove::eNever, c.method);
    map.m_ba_sparse.GetParameter().m_max_iterations = 17;
    BundleAdjuster* const chosen = map.OwnChoice();
    BundleAdjuster* const want[] = {&map.m_ba_interleave, &map.m_ba_sparse, &map.m_ba_subset};
    EXPECT_EQ(chosen, want[c.expected]);
    // The subset adjuster runs with the sparse block.
    EXPECT_EQ(map.m_ba_subset.GetParameter().m_max_iterations, c.expected == 2 ? 17 : -1);
    EXPECT_EQ(map.m_bundle_adjuster, nullptr);  // not stored
  }
}

// Looks at the free-motion optimiser's observer while it runs, then ends as told.
class ObservingAdjuster : public BundleAdjuster {
 public:
  enum Ending { kSuccess, kStop, kError };
  explicit ObservingAdjuster(Ending ending) : ending_(ending) {}
  void AddFImage(const SharedPtr<FeatureImage>&) override {}
  void SetFImageList(const ImageList&) override {}
  bool Optimize(unsigned) override { return true; }
  bool Run(const ImageList&, unsigned) override {
    seen = OptimizerSparseLM_RTKFPoint3D::s_observer.load();
    if (ending_ == kStop) throw 7u;
    if (ending_ == kError) throw "adjuster broke";
    return true;
  }
  Callback* seen = nullptr;

 private:
  Ending ending_;
};

TEST(FeatureMapMoveFinalTest, RefinementResetsTheObserverOnEveryWayOut) {
  for (auto ending :
       {ObservingAdjuster::kSuccess, ObservingAdjuster::kStop, ObservingAdjuster::kError}) {
    SCOPED_TRACE(int(ending));
    kxtest::BundleScene scene = kxtest::MakeBundleScene(kxtest::SceneSpec(3, 20, 3));
    FinalMap map;
    map.Load(scene.images, scene.images, scene.points);
    kxtest::CallbackForTest observer;
    map.SetObserver(&observer);
    ObservingAdjuster adjuster(ending);
    map.adjuster = &adjuster;
    kxtest::LogCapture log(5);
    if (ending == ObservingAdjuster::kError) {
      EXPECT_THROW(map.Refinement(), const char*);
    } else {
      EXPECT_EQ(map.Refinement(), ending == ObservingAdjuster::kSuccess);
      // A stop still ends with the alignment and the RMSE.
      EXPECT_TRUE(log.Has("FeatureMapMove::Refinement: finished with RMSE")) << log.text;
      EXPECT_GE(map.GetRMSE(), 0.0);
    }
    EXPECT_EQ(adjuster.seen, &observer);
    EXPECT_EQ(OptimizerSparseLM_RTKFPoint3D::s_observer.load(), nullptr);
    EXPECT_EQ(log.Has("FeatureMapMove::Refinement: stopped at iteration 7"),
              ending == ObservingAdjuster::kStop);
  }
  FinalMap empty;
  kxtest::LogCapture log(5);
  EXPECT_FALSE(empty.Refinement());
  EXPECT_TRUE(log.Has("FeatureMapMove::Refinement: empty image (0) or empty 3D point list (0)"));
}

// A free-motion solve whose cameras and points were knocked off the truth; the features
// are exact.
struct PerturbedSolve {
  PerturbedSolve() : scene(kxtest::MakeBundleScene(Spec())) {
    kxtest::PerturbBundleScene(scene, 11, 0.01, 30.0, 0.0);
    reference = scene.true_cameras[0];
  }
  static kxtest::BundleSceneSpec Spec() {
    kxtest::BundleSceneSpec spec = kxtest::SceneSpec(6, 50, 5);
    spec.noise_px = 0.0;
    return spec;
  }
  double ShapeErrorNow() const {
    return ShapeError(Positions(scene.images, scene.points), TruePositions(scene));
  }
  kxtest::BundleScene scene;
  PerspectiveCamera reference;
};

TEST(FeatureMapMoveFinalTest, RefineModeRefinesAPerturbedSolve) {
  PerturbedSolve solve;
  const double error_before = solve.ShapeErrorNow();
  const double rmse_before = std::sqrt(FeatureMapMove::GetMSE(solve.scene.images, true, false));
  FinalMap map;
  // A loaded result: frames and points, nothing reconstructed yet, state 0.
  map.Load(solve.scene.images, {}, solve.scene.points, FeatureMapMove::eInitialisation);
  map.m_camera = solve.reference;
  map.SetParameters(0, FeatureMapMove::eUnlimited, 2);
  kxtest::LogCapture log(5);
  ASSERT_TRUE(map.FinalEstimation()) << log.text;
  EXPECT_TRUE(log.Has("we are in refine mode!!"));
  EXPECT_TRUE(log.Has("FeatureMapMove::FinalEstimation: final bundle adjust succeed!")) << log.text;
  EXPECT_EQ(map.GetIncrementalList(), solve.scene.images);
  EXPECT_EQ(map.increm_bun_state, FeatureMapMove::e3DProjectionState);
  // Pose only: the sparse block lost its intrinsics.
  EXPECT_EQ(map.m_ba_sparse.GetParameter().m_parameter_mask, 0x7E000u);

  const double error_after = solve.ShapeErrorNow();
  EXPECT_GT(error_before, 1e-3);
  EXPECT_LT(error_after, 1e-5) << "before " << error_before;
  EXPECT_LT(map.GetRMSE(), 1e-3) << "before " << rmse_before;
  // Aligned to the map camera, depths at five focal lengths.
  ExpectSamePose(*solve.scene.images[0], solve.reference, 1e-9);
  EXPECT_NEAR(TypicalDepthInFocalLengths(solve.scene.images), 5.0, 1e-9);
}

TEST(FeatureMapMoveFinalTest, RefinementImprovesAPerturbedSolveOrStopsUsable) {
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop);
    PerturbedSolve solve;
    const double error_before = solve.ShapeErrorNow();
    FinalMap map;
    map.Load(solve.scene.images, solve.scene.images, solve.scene.points);
    map.m_camera = solve.reference;
    map.SetParameters(0, FeatureMapMove::eNever, 2);
    kxtest::CallbackForTest observer;
    observer.stop = stop;
    map.SetObserver(&observer);
    EXPECT_EQ(map.Refinement(), !stop);
    EXPECT_EQ(OptimizerSparseLM_RTKFPoint3D::s_observer.load(), nullptr);
    // Stopped: the shape as it was, still aligned and measured.
    if (stop) {
      EXPECT_NEAR(solve.ShapeErrorNow(), error_before, 1e-9);
    } else {
      EXPECT_LT(solve.ShapeErrorNow(), 1e-5);
    }
    ExpectSamePose(*solve.scene.images[0], solve.reference, 1e-9);
    EXPECT_NEAR(map.GetRMSE(), std::sqrt(FeatureMapMove::GetMSE(solve.scene.images, true, false)),
                1e-12);
  }
}

TEST(FeatureMapMoveFinalTest, PureRotationRunsThePureRotationStages) {
  kxtest::BundleSceneSpec spec = kxtest::SceneSpec(5, 30, 4);
  spec.rotation_only = true;
  spec.noise_px = 0.3;
  auto make = [&spec]() {
    kxtest::BundleScene scene = kxtest::MakeBundleScene(spec);
    kxtest::PerturbBundleScene(scene, 3, 0.002, 0.0, 0.2);
    return scene;
  };
  kxtest::BundleScene ours = make(), theirs = make();
  auto prepare = [](FeatureMapSphere& sphere, kxtest::BundleScene& scene) {
    sphere.SetImageList(scene.images);
    for (Point& p : scene.points) sphere.AddFPoint3D(p);
    sphere.GetParameter().m_estimate_focal = false;
    sphere.GetParameter().m_final_ba = true;
  };
  FinalMap map;
  map.m_free_move = 0;
  prepare(map.m_fmap_sphere, ours);
  FeatureMapSphere alone;
  prepare(alone, theirs);

  kxtest::LogCapture log(5);
  EXPECT_EQ(map.FinalEstimation(), alone.FinalEstimation());
  EXPECT_EQ(map.Refinement(), alone.Refinement());
  EXPECT_FALSE(log.Has("FeatureMapMove::")) << log.text;
  for (size_t i = 0; i < ours.images.size(); ++i) {
    EXPECT_EQ(ours.images[i]->GetA(), theirs.images[i]->GetA()) << i;
    EXPECT_EQ(ours.images[i]->GetH(), theirs.images[i]->GetH()) << i;
  }
  EXPECT_EQ(map.GetRMSE(), alone.GetRMSE());
  EXPECT_EQ(map.GetFPoint3DList(), ours.points);
  EXPECT_TRUE(map.GetIncrementalList().empty());
}

TEST(FeatureMapMoveFinalTest, RotationOnlyResultTakesTheSpherePointsOnce) {
  kxtest::BundleSceneSpec spec = kxtest::SceneSpec(4, 12, 3);
  spec.rotation_only = true;
  kxtest::BundleScene scene = kxtest::MakeBundleScene(spec);
  FinalMap map;
  Point own = Point::Make(1, 2, 3, FeaturePoint3D::eCartesian);
  map.Load(scene.images, scene.images, {own}, FeatureMapMove::e2DProjectionState);
  map.m_camera = kxtest::MakeSyntheticCamera(1000, 800, 0.01, {500, 0, 0}, 0.3, 0, 0, 10, 0, 0);
  map.m_fmap_sphere.SetImageList(scene.images);
  for (Point& p : scene.points) map.m_fmap_sphere.AddFPoint3D(p);
  const vm::Vector3 centre = scene.images[2]->GetC();

  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    kxtest::LogCapture log(5);
    EXPECT_TRUE(map.FinalEstimation());
    ASSERT_EQ(map.GetFPoint3DList().size(), 1 + scene.points.size());
    for (size_t i = 0; i < map.GetFPoint3DList().size(); ++i) {
      EXPECT_EQ(map.GetFPoint3DList()[i]->GetCS(), int(FeaturePoint3D::eCartesian));
      if (i > 0) {
        EXPECT_EQ(map.GetFPoint3DList()[i]->GetId(), int(i));
      }
    }
    EXPECT_TRUE(log.Has(run == 0 ? "12 of 12 FP3Ds copied" : "0 of 12 FP3Ds copied")) << log.text;
    // No adjustment, scale or alignment.
    EXPECT_FALSE(log.Has("***** FeatureMapMove::FinalEstimation")) << log.text;
    EXPECT_EQ(scene.images[2]->GetC(), centre);
    EXPECT_EQ(map.GetIncrementalList().size(), scene.images.size());
  }
}

TEST(FeatureMapMoveFinalTest, CompletesTheFramesBeforeTheKeyFramesOnce) {
  kxtest::BundleScene scene = kxtest::MakeBundleScene(kxtest::SceneSpec(5, 30, 5));
  const Images keyed(scene.images.begin() + 2, scene.images.end());
  FinalMap map;
  map.Load(scene.images, keyed, scene.points);
  map.m_key1 = 2;
  map.m_max_std_dev = 0.5;                       // as Init leaves it
  map.SetParameters(0, FeatureMapMove::eNever);  // the defaults otherwise
  const PerspectiveCamera reference = kxtest::MakeSyntheticCamera(
      1000, 800, 0.01, vm::Vector3{300, -40, 77}, 0.4, -0.2, 0.1, 25.0, 0, 0);
  map.m_camera = reference;
  kxtest::CallbackForTest observer;
  map.SetObserver(&observer);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    kxtest::LogCapture log(5);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(map.FinalEstimation()) << log.text;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(map.GetIncrementalList(), scene.images);
    EXPECT_EQ(log.Has("FeatureMapMove::ReverseCameraResectioning: image 1"), run == 0);
    for (const char* line :
         {"FeatureMapMove:FinalEstimation: final bundle adjustment skipped",
          "FeatureMapMove::FinalEstimation: (2) remove 0 3D points behind the camera",
          "FeatureMapMove::FinalEstimation: frame 0 to 4 finished with RMSE"}) {
      EXPECT_TRUE(log.Has(line)) << line << "\n" << log.text;
    }
    EXPECT_FALSE(log.Has("MetricUpgrade"));
    EXPECT_FALSE(log.Has("(1) remove"));
    EXPECT_EQ(err.find("MetricUpgrade"), std::string::npos);
    ExpectSamePose(*scene.images[0], reference, 1e-9);
    EXPECT_NEAR(TypicalDepthInFocalLengths(scene.images), 5.0, 1e-9);
    EXPECT_EQ(observer.reports.back(), std::make_pair(4, 4));
  }
}

TEST(FeatureMapMoveFinalTest, TooLittleToFinishFails) {
  const struct {
    const char* name;
    int points;
    bool reconstructed;  // the list holds every frame; else it is empty (refine mode)
    int frames, method;
    bool result;
    const char* line;
  } cases[] = {
      {"six points", 6, true, 3, 3, false, "FeatureMapMove::FinalEstimation: failed"},
      {"seven points", 7, true, 3, 3, true, "finished with RMSE"},
      {"refine with method 1", 30, false, 3, 1, false, "Wrong m_parameter.m_optMethod!"},
      {"refine with method 6", 30, false, 3, 6, false, "Wrong m_parameter.m_optMethod!"},
      {"one frame, no refine mode", 30, false, 1, 1, false,
       "FeatureMapMove::FinalEstimation: failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::BundleScene scene = kxtest::MakeBundleScene(kxtest::SceneSpec(c.frames, 30, c.frames));
    const Points points(scene.points.begin(), scene.points.begin() + c.points);
    FinalMap map;
    map.Load(scene.images, c.reconstructed ? scene.images : Images{}, points);
    map.SetParameters(0, FeatureMapMove::eNever, c.method);
    kxtest::LogCapture log(5);
    EXPECT_EQ(map.FinalEstimation(), c.result);
    EXPECT_TRUE(log.Has(c.line)) << log.text;
    EXPECT_EQ(log.Has("refine mode"), !c.reconstructed && c.frames > 1);
  }
}

TEST(FeatureMapMoveFinalTest, UpgradesAProjectiveReconstruction) {
  const struct {
    const char* name;
    int focal, principal, ba_limit;
    int log_level;
    bool resected;  // resection and metric adjustment ran
    bool adjusted;
  } cases[] = {
      {"one focal length, quiet log", 1, 0, FeatureMapMove::eNever, 0, true, false},
      {"one focal length, adjusted", 1, 0, FeatureMapMove::eUnlimited, 5, true, true},
      {"focal per frame", 2, 0, FeatureMapMove::eNever, 5, true, false},
      {"focal and principal per frame: upgrade only", 2, 2, FeatureMapMove::eNever, 5, false,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::DistortedScene distorted(6, 1.0);
    kxtest::SyntheticScene& scene = distorted.scene;
    FinalMap map;
    map.Load(scene.images, scene.images, scene.points3d);
    map.m_camera = scene.cameras[0];
    FeatureMapMove::Parameter p = map.GetParameter();
    p.m_estimate_focal = c.focal;
    p.m_estimate_principal = c.principal;
    p.m_ba_limit = c.ba_limit;
    map.SetParameter(p);
    // As the incremental stage leaves it: the sparse adjuster on a free projection matrix.
    map.m_ba_sparse.GetParameter().m_parameter_mask = 0x7E010;
    map.m_bundle_adjuster = &map.m_ba_sparse;

    kxtest::LogCapture log(c.log_level);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(map.FinalEstimation());
    const std::string err = testing::internal::GetCapturedStderr();
    // A debug line of the log, not a line of its own on stderr.
    EXPECT_EQ(log.Has("FeatureMapMove::FinalEstimation: MetricUpgrade with prior 35mm equiv. "
                      "focal length -1.00 mm"),
              c.log_level >= 5)
        << log.text;
    EXPECT_EQ(err.find("MetricUpgrade with prior"), std::string::npos) << err;
    if (c.log_level >= 5) {
      EXPECT_EQ(log.Has("mean_focal_length=10.0000"), c.resected) << log.text;
      EXPECT_EQ(log.Has("(1) remove 0 3D points"), c.resected);
      EXPECT_EQ(log.Has("no final metric bundle adjustment performed!"), !c.resected);
      EXPECT_EQ(log.Has("final metric bundle adjust succeed!"), c.adjusted) << log.text;
      EXPECT_TRUE(log.Has("(2) remove 0 3D points"));
    }
    if (c.resected) {
      // The metric adjustment frees the focal length only per frame.
      EXPECT_EQ(map.m_ba_sparse.GetParameter().m_parameter_mask,
                c.focal == 2 ? 0x7E002u : 0x7E000u);
    }
    for (const Image& image : scene.images) {
      EXPECT_NEAR(image->GetFocalLength(), 10.0, 1e-4);
      EXPECT_NEAR(image->GetCenterPointX(), 0.0, 1e-2);
    }
    EXPECT_LT(ShapeError(distorted.Positions(), distorted.TruePositions()), 1e-5);
    ExpectSamePose(*scene.images[0], scene.cameras[0], 1e-9);
    EXPECT_LT(map.GetRMSE(), 1e-3);
  }
}

// Shots whose metric upgrade left the focal length 19 % off: no adjustment with the focal
// length held can make up for it, the search finds it. A longer shot's trials adjust every
// few frames only, which keeps their cost that of a short shot's; the focal length found
// is every frame's. A shot longer than the search takes is left alone.
TEST(FeatureMapMoveFinalTest, SearchFocalLength) {
  const struct {
    int cameras;
    const char* trials;
  } cases[] = {{5, "adjustments of 5 frames"}, {70, "adjustments of 24 frames"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cameras);
    kxtest::SyntheticSceneOptions options;
    options.num_cameras = c.cameras;
    options.num_points = 60;
    options.principal_x_px = 0.0;
    options.principal_y_px = 0.0;
    kxtest::SyntheticScene scene(options);
    scene.BuildFeatures();
    for (const Image& image : scene.images) image->SetFocalLength(11.9);
    FinalMap map;
    map.Load(scene.images, scene.images, scene.points3d);
    map.SetParameters(1, FeatureMapMove::eNever);
    const uint32_t mask = map.m_ba_sparse.GetParameter().m_parameter_mask;
    kxtest::LogCapture log(4);
    EXPECT_GT(map.SearchFocalLength(), 5);
    EXPECT_TRUE(log.Has("focal length 11.900000 mm -> 10.00")) << log.text;
    EXPECT_TRUE(log.Has(c.trials)) << log.text;
    for (const Image& image : scene.images) EXPECT_NEAR(image->GetFocalLength(), 10.0, 0.02);
    EXPECT_LT(std::sqrt(FeatureMapMove::GetMSE(scene.images, true, false)), 0.01);
    EXPECT_EQ(map.m_ba_sparse.GetParameter().m_parameter_mask, mask);
    if (c.cameras > 5) continue;

    Images long_shot;
    while (long_shot.size() <= FinalMap::kFocalSearchMaxFrames) {
      long_shot.push_back(scene.images[long_shot.size() % scene.images.size()]);
    }
    for (const Image& image : scene.images) image->SetFocalLength(11.9);
    map.Load(scene.images, long_shot, scene.points3d);
    EXPECT_EQ(map.SearchFocalLength(), 0);
    for (const Image& image : scene.images) EXPECT_NEAR(image->GetFocalLength(), 11.9, 1e-12);
  }
}

TEST(FeatureMapMoveFinalTest, FocalSearchStride) {
  const struct {
    size_t frames, stride;
  } cases[] = {{2, 1},   {30, 1},  {31, 2},  {60, 2},  {61, 3},
               {100, 4}, {120, 4}, {240, 4}, {241, 0}, {5000, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(FinalMap::FocalSearchStride(c.frames), c.stride) << c.frames << " frames";
  }
}

TEST(FeatureMapMoveFinalTest, StopInTheFinalAdjustmentLetsTheStageFinish) {
  kxtest::BundleScene scene = kxtest::MakeBundleScene(kxtest::SceneSpec(4, 30, 4));
  FinalMap map;
  map.Load(scene.images, scene.images, scene.points);
  map.SetParameters(0, FeatureMapMove::eUnlimited);
  kxtest::CallbackForTest observer;
  map.SetObserver(&observer);
  ObservingAdjuster adjuster(ObservingAdjuster::kStop);
  map.m_bundle_adjuster = &adjuster;
  kxtest::LogCapture log(5);
  EXPECT_TRUE(map.FinalEstimation());
  for (const char* line : {"FeatureMapMove::FinalEstimation: stopped bundle adjust at iteration 7",
                           "FeatureMapMove::FinalEstimation: final bundle adjust failed!",
                           "(2) remove", "finished with RMSE"}) {
    EXPECT_TRUE(log.Has(line)) << line << "\n" << log.text;
  }
  // The final estimation does not hand its observer to the optimiser.
  EXPECT_EQ(adjuster.seen, nullptr);
}

TEST(FeatureMapMoveFinalTest, FailedUpgradeKeepsTheProjectiveResult) {
  for (bool thrown : {false, true}) {
    SCOPED_TRACE(thrown);
    kxtest::DistortedScene distorted(3, 1.0);
    kxtest::SyntheticScene& scene = distorted.scene;
    FeatureImage& broken = *scene.images[1];
    if (thrown) {
      scene.images[0]->SetPixelSize(0.0, 0.0);
    } else {
      // A view without a horizontal row: no transform gives it a focal length.
      broken.SetAll(broken.GetC(), broken.GetA(), vm::Vector3{0, 0, 0}, broken.GetV(),
                    broken.GetWidth(), broken.GetHeight(), broken.GetPixelSizeX(),
                    broken.GetPixelSizeY(), broken.GetDistortionCoefficients(),
                    broken.GetFurtherValues(), broken.GetDistortionModel());
    }
    const std::vector<vm::Vector3> before = distorted.Positions();
    FinalMap map;
    map.Load(scene.images, scene.images, scene.points3d);
    map.m_camera = scene.cameras[2];
    map.SetParameters(1, FeatureMapMove::eNever);
    kxtest::LogCapture log(5);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(map.FinalEstimation());
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(log.Has(thrown ? "FeatureMapMove::FinalEstimation: auto calibration failed with "
                                 "error \"AutoCalibADQ::MetricUpgrade: zero pixel size\""
                               : "FeatureMapMove::FinalEstimation: metric upgrade failed"))
        << log.text;
    EXPECT_FALSE(log.Has("finished with RMSE"));
    EXPECT_EQ(distorted.Positions(), before);
    EXPECT_EQ(map.GetRMSE(), -1.0);
  }
}

}  // namespace
