// Objects placed on a real solve: a rendered free-motion shot (a room with a floor, walls
// and boxes, known cameras) tracked and solved by the tracking job from its image files, as
// the program does, then a plane fitted to the solved points that lie on the floor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#ifdef KALVEX_HAVE_EIGEN
#include <Eigen/Dense>
#include <Eigen/Geometry>
#endif

#include "features/feature_image.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "geometry/rand_sampling.h"
#include "scene/objects/primitives.h"
#include "scene/scene.h"
#include "testing/log_capture.h"
#include "testing/synthetic_sequence.h"
#include "testing/temp_dir.h"
#include "tracking/job/camera_tracking_manager.h"
#include "tracking/maps/feature_map.h"
#include "tracking/maps/feature_map_move.h"

namespace {

using vm::Vector3;

constexpr double kFloorY = 1.6;  // the rendered room's floor (y down)

void WritePgm(const std::string& path, const synthetic::Image& image) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << image.width << " " << image.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(image.pixels.data()),
            static_cast<std::streamsize>(image.pixels.size()));
}

#ifdef KALVEX_HAVE_EIGEN
TEST(UserObjectSolve, PlaneFittedToTheSolvedFloorPointsLiesOnThem) {
  kxtest::LogCapture log(2);
  synthetic::SequenceOptions o;
  o.shot = synthetic::Shot::kFreeMotion;
  o.frames = 20;
  o.width = 480;
  o.height = 270;
  o.focal = 400;
  const synthetic::Sequence sequence(o);
  kxtest::TempDir dir;
  for (int k = 0; k < o.frames; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "img%04d.pgm", k);
    WritePgm(dir.File(name), sequence.Render(k));
  }

  CameraTrackingManager manager;
  ASSERT_EQ(manager.SetSequence(dir.File("img####.pgm").c_str(), 0, o.frames - 1, 1, nullptr,
                                nullptr, nullptr),
            0);
  // The components the tracking driver installs for a free-motion run with its default
  // settings (focal length estimated).
  FeatureMap& map = *manager.GetFeatureMap();
  map.SetCorrelatorTemplate(manager.m_correlator);
  dynamic_cast<RandSampling&>(*manager.m_rand_sampling)
      .SetSampleCalculator(manager.m_sample_calculator_fmatrix);
  map.SetOutlierDetector(manager.m_rand_sampling);
  map.SetGuidedMatcher(manager.m_guided_matching_fmatrix);
  map.SetCameraEstimator(manager.m_camera_estimator_ptrz);
  manager.InitCameras(nullptr);
  manager.SetInitFocalLength(-1.0);
  FeatureMapMove* move = manager.GetFreeMotionMap();
  ASSERT_NE(move, nullptr);
  FeatureMapMove::Parameter parameter = move->GetParameter();
  parameter.m_estimate_focal = 1;
  move->SetParameter(parameter);
  move->m_free_move = 1;
  for (int k = 0; k < o.frames; ++k) {
    ASSERT_NO_THROW(manager.Compute(unsigned(k), CameraTrackingManager::kStepMatchAuto |
                                                     CameraTrackingManager::kStepOutliers |
                                                     CameraTrackingManager::kStepCamera))
        << log.text;
  }
  ASSERT_TRUE(manager.ComputeFinalCameraEstimation()) << log.text;

  // Each solved point with the true room point its first feature's pixel sees. The floor
  // points are those whose ray meets the floor; the rest (walls, boxes) serve to compare.
  std::map<const FeaturePoint3D*, Vector3> truth;
  for (const SharedPtr<FeatureImage>& image : manager.GetImageList()) {
    for (const SharedPtr<FeaturePoint2D>& f : image->GetFPoints2D()) {
      const FeaturePoint3D* p = f ? f->GetFPoint3D().Get() : nullptr;
      if (p == nullptr || p->TestFlags(FP3D_FLAG_REMOVED) ||
          p->GetCS() != FeaturePoint3D::eCartesian || truth.count(p) != 0) {
        continue;
      }
      synthetic::Vec3 X;
      if (sequence.Backproject(image->GetImageIndex(), f->x, f->y, &X)) {
        truth[p] = {X[0], X[1], X[2]};
      }
    }
  }
  std::vector<const FeaturePoint3D*> floor, other;
  for (const auto& [p, X] : truth) (std::abs(X.y - kFloorY) < 1e-9 ? floor : other).push_back(p);
  ASSERT_GE(floor.size(), 15u);
  ASSERT_GE(other.size(), 15u);

  Scene scene;
  ASSERT_TRUE(scene.SetData(&manager));
  auto* plane = dynamic_cast<NHSObject_Rect*>(scene.AddSceneObject(2, floor, 0xff00ff00));
  ASSERT_NE(plane, nullptr);
  const Matrix3x4& t = plane->GetTransform();
  const Vector3 centre{t.m[3], t.m[7], t.m[11]}, normal{t.m[2], t.m[6], t.m[10]};
  // Root-mean-square distances to the fitted plane.
  auto distance = [&](const std::vector<const FeaturePoint3D*>& points) {
    double sum = 0;
    for (const FeaturePoint3D* p : points) sum += std::pow((*p - centre).Dot(normal), 2);
    return std::sqrt(sum / double(points.size()));
  };
  const double on = distance(floor), off = distance(other);

  // The solve is the room up to a similarity; taken into the room by the similarity that
  // fits all points best, the floor points scatter about the true floor by the solve's
  // own error. The fitted plane must lie on them at least as closely (root mean square), and
  // along the floor.
  Eigen::Matrix3Xd solved(3, truth.size()), room(3, truth.size());
  Eigen::Index column = 0;
  for (const auto& [p, X] : truth) {
    solved.col(column) << p->x, p->y, p->z;
    room.col(column++) << X.x, X.y, X.z;
  }
  const Eigen::Matrix4d S = Eigen::umeyama(solved, room, true);
  const double scale = S.block<3, 3>(0, 0).col(0).norm();
  double scatter = 0;
  for (const FeaturePoint3D* p : floor) {
    scatter += std::pow((S * Eigen::Vector4d(p->x, p->y, p->z, 1)).y() - kFloorY, 2);
  }
  scatter = std::sqrt(scatter / double(floor.size()));
  const Eigen::Vector3d up = S.block<3, 3>(0, 0) * Eigen::Vector3d(normal.x, normal.y, normal.z);
  const double angle_deg =
      std::acos(std::min(1.0, std::abs(up.normalized().y()))) * 180 / std::numbers::pi;
  std::printf(
      "floor points %zu, others %zu: distance %.3g on the floor (scatter about the "
      "true floor %.3g), %.3g off it; normal %.3g degrees off the floor's\n",
      floor.size(), other.size(), on * scale, scatter, off * scale, angle_deg);
  EXPECT_LE(on * scale, scatter);
  EXPECT_LT(angle_deg, 2.0);
  EXPECT_GT(off, 10 * on);
}
#endif

}  // namespace
