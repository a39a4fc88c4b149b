#include "scene/scene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "features/feature_image.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "image/image_cache.h"
#include "image/packed_string_list.h"
#include "scene/display_settings.h"
#include "scene/objects/nhs_object_handle.h"
#include "scene/objects/primitives.h"
#include "scene/objects/recording_render_for_test.h"
#include "testing/log_capture.h"
#include "tracking/job/camera_tracking_manager.h"
#include "tracking/maps/feature_map.h"
#include "tracking/maps/free_motion_run_for_test.h"

namespace {

using kxtest::RecordingRender;
using vm::Vector3;

Matrix4x4 Translation(const Vector3& t) {
  Matrix4x4 m;
  m.SetZero();
  for (int i = 0; i < 4; ++i) m[i][i] = 1.0;
  for (int i = 0; i < 3; ++i) m[i][3] = t[i];
  return m;
}

Matrix3x4 Top(const Matrix4x4& m) {
  Matrix3x4 out;
  std::memcpy(out.m, m.m, sizeof out.m);
  return out;
}

// A solved job: 30 frames of a camera moving sideways and turning a little, looking at 20
// points 40 to 80 units ahead; every point has a feature in every frame where it projects.
struct SolvedJob {
  static constexpr int kFrames = 30;
  static constexpr int kPoints = 20;
  CameraTrackingManager manager;
  SharedPtr<FeatureMap> map = manager.GetFeatureMap();

  SolvedJob() {
    for (int k = 0; k < kFrames; ++k) {
      auto image = SharedPtr<FeatureImage>::Make(&manager);
      image->SetImageIndex(k);
      image->SetFocalLength(30.0);  // square pixels
      Matrix4x4 pose;
      pose.SetZero();
      pose.SetRotationXYZ(0.01 * k, -0.02 * k, 0.005 * k);
      pose[0][3] = 2.0 * k;
      pose[1][3] = -0.5 * k;
      pose[3][3] = 1.0;
      image->Transform(Top(pose));
      manager.GetImageList().push_back(image);
    }
    manager.SetFrameRange(0, kFrames - 1, 1);
    for (int i = 0; i < kPoints; ++i) {
      auto p = SharedPtr<FeaturePoint3D>::Make(-10.0 + 3.0 * (i % 7), -6.0 + 2.5 * (i % 5),
                                               40.0 + 2.0 * i, FeaturePoint3D::eCartesian);
      map->AddFPoint3D(p);
      for (const auto& image : manager.GetImageList()) {
        double x, y;
        if (!image->ProjectPCS(*p, x, y)) continue;
        auto f = SharedPtr<FeaturePoint2D>::Make(image.Get(), x, y);
        f->SetFPoint3D(p);
        image->AddFPoint2D(f);
      }
    }
  }
};

// Where the scene's point cloud draws each point when viewed from `camera`, in pixels: the
// recorded markers through the camera's pinhole.
std::vector<std::pair<double, double>> DrawnPixels(const Scene& scene,
                                                   const PerspectiveCamera& camera) {
  Matrix3x4 view = Top(camera.GetWorldToCameraMatrix()), model;
  model.Multiply(view, scene.GetPointCloud()->GetTransform());
  RecordingRender r;
  scene.GetPointCloud()->Draw(r, model);
  const double fx = camera.GetFocalLength() / camera.GetPixelSizeX();
  const double fy = camera.GetFocalLength() / camera.GetPixelSizeY();
  std::vector<std::pair<double, double>> pixels;
  for (const auto& m : r.markers) {
    double x, y;
    camera.CenteredToPixel(fx * m.p.x / m.p.z, fy * m.p.y / m.p.z, x, y);
    pixels.emplace_back(x, y);
  }
  return pixels;
}

// Every feature of the image that names a point of the solution lies within 1 px of that
// point as the scene draws it.
void ExpectPointsOnFeatures(Scene& scene, const FeatureImage& image, const FeatureMap& map) {
  scene.UpdateObjectFlags(1, 0x5c);  // every point shown
  const auto pixels = DrawnPixels(scene, image);
  const auto& points = map.GetFPoint3DList();
  ASSERT_EQ(pixels.size(), points.size());
  std::map<const FeaturePoint3D*, size_t> position;
  for (size_t i = 0; i < points.size(); ++i) position[points[i].Get()] = i;
  int checked = 0;
  for (const auto& f : image.GetFPoints2D()) {
    const FeaturePoint3D* p = f->GetFPoint3D().Get();
    if (p == nullptr || p->TestFlags(FP3D_FLAG_REMOVED)) continue;
    const auto& [x, y] = pixels[position.at(p)];
    EXPECT_LT(std::hypot(x - f->x, y - f->y), 1.0) << "frame " << image.GetImageIndex();
    ++checked;
  }
  EXPECT_GT(checked, 0) << "frame " << image.GetImageIndex();
}

const char* NameOf(const NHSObject* node) {
  const char* name = UIDRegistry::Instance().GetName(node->GetUID());
  return name ? name : "";
}

TEST(Scene, NewSceneHoldsTheLockedBuiltinsInReverseOrder) {
  Scene scene;
  std::vector<std::string> names;
  for (const NHSObject* c = scene.GetFirstChild(); c; c = c->GetNextSibling()) {
    names.push_back(NameOf(c));
    EXPECT_TRUE(c->GetUIDFlags() & UID_FLAG_LOCKED) << names.back();
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Point_Cloud", "Camera_Track", "Camera",
                                             "Orbit_Center", "WCS_Grid", "WCS_Axes"}));
  EXPECT_EQ(scene.GetGrid()->GetColor(), DisplaySettings::Get().SlotColor(DS_SLOT_GROUND_GRID));
  EXPECT_EQ(scene.GetLastTexturedIndex(), -1);
}

TEST(Scene, SetDataShowsTheSolvedJobInPlace) {
  SolvedJob job;
  Scene scene;
  kxtest::LogCapture log(5);
  ASSERT_TRUE(scene.SetData(&job.manager));
  EXPECT_TRUE(log.Has("Scene::SetFPoints3D: no current image set"));
  EXPECT_EQ(&scene.GetPointCloud()->GetPoints(), &job.map->GetFPoint3DList());
  EXPECT_EQ(scene.GetCameraTrack()->GetPositions().size(), size_t(SolvedJob::kFrames));
  EXPECT_EQ(scene.GetCameraTrack()->GetPositions()[7], job.manager.GetImageList()[7]->GetC());
  for (int k : {0, 13, 29}) ExpectPointsOnFeatures(scene, *job.manager.GetImageList()[k], *job.map);

  // The camera object's first update is forced: placed at its image, with the frame.
  PackedStringListPtr list;
  list.Allocate();
  list->Append("frames.dummy", 0);
  ASSERT_EQ(job.manager.GetImageCache()->SetImageList(list, -1, -1), 0);
  scene.SetCameraObjectParams(job.manager.GetImageList()[4], job.manager.GetImageCache(), false);
  scene.UpdateCameraObject();
  EXPECT_FALSE(scene.IsCameraObjectPending());
  EXPECT_EQ(scene.GetLastTexturedIndex(), 4);
  EXPECT_NE(scene.GetCameraObject()->GetTexture(), nullptr);
  EXPECT_EQ(scene.GetCameraObject()->GetTransform()[0][3], job.manager.GetImageList()[4]->GetC().x);
  // Later updates follow the image with its frame while one is shown; after a forced
  // update without a cache the camera moves without loading frames.
  struct Step {
    int image;
    bool with_cache, force;
    int32_t textured;
  } const steps[] = {{6, true, false, 6}, {7, false, true, -1}, {8, true, false, -1}};
  for (const Step& s : steps) {
    const auto& image = job.manager.GetImageList()[size_t(s.image)];
    scene.SetCameraObjectParams(image, s.with_cache ? job.manager.GetImageCache() : nullptr,
                                s.force);
    scene.UpdateCameraObject();
    EXPECT_EQ(scene.GetLastTexturedIndex(), s.textured) << s.image;
    EXPECT_EQ(scene.GetCameraObject()->GetTransform()[0][3], image->GetC().x) << s.image;
  }
  // With an image set, the seen flag marks that image's points, and only those.
  auto unseen = SharedPtr<FeaturePoint3D>::Make(0.0, 0.0, 60.0, FeaturePoint3D::eCartesian);
  unseen->SetFlags(FP3D_FLAG_SEEN);
  job.map->AddFPoint3D(unseen);
  for (const auto& f : job.manager.GetImageList()[8]->GetFPoints2D()) {
    f->GetFPoint3D()->ClearFlags(FP3D_FLAG_SEEN);
  }
  scene.SetFPoints3D(job.map);
  for (const auto& f : job.manager.GetImageList()[8]->GetFPoints2D()) {
    EXPECT_TRUE(f->GetFPoint3D()->TestFlags(FP3D_FLAG_SEEN));
  }
  EXPECT_FALSE(unseen->TestFlags(FP3D_FLAG_SEEN));
}

// A result the free-motion map solved from a noisy synthetic sequence: drawn from each
// solved camera, the points land on their tracked features.
TEST(Scene, SolvedRunReprojectsOntoItsTracks) {
  kxtest::LogCapture log(2);
  kxtest::FreeMotionOptions o;
  o.frames = 30;
  o.noise = 0.2;
  // As a user sets sampler, point update and final adjustment for that noise.
  o.threshold_mode = 1;
  o.sigma = o.noise;
  o.max_map_error = 4.0 * o.noise;
  o.ba_limit = FeatureMapMove::eOnlyFinal;
  kxtest::FreeMotionRun run(o);
  auto map = SharedPtr<FeatureMapMove>::Make();
  run.Configure(*map);
  ASSERT_TRUE(run.Track(*map)) << run.failure << "\n" << log.text;
  CameraTrackingManager manager;
  manager.m_fmap = map;
  manager.GetImageList() = run.images;
  manager.SetFrameRange(0, o.frames - 1, 1);
  Scene scene;
  ASSERT_TRUE(scene.SetData(&manager));
  EXPECT_EQ(scene.GetCameraTrack()->GetPositions().size(), size_t(o.frames));
  for (int k : {0, 9, 21, 29}) ExpectPointsOnFeatures(scene, *run.images[size_t(k)], *map);
  scene.TransformWCS(Top(Translation({1.0, 2.0, -3.0})));
  scene.SyncMovedGroundGrid(&manager);
  for (int k : {0, 29}) ExpectPointsOnFeatures(scene, *run.images[size_t(k)], *map);
}

TEST(Scene, SetDataWithoutAFeatureMapChangesNothing) {
  SolvedJob job;
  Scene scene;
  ASSERT_TRUE(scene.SetData(&job.manager));
  job.manager.m_fmap = nullptr;
  kxtest::LogCapture log(5);
  EXPECT_FALSE(scene.SetData(&job.manager));
  EXPECT_FALSE(scene.SetData(nullptr));
  EXPECT_TRUE(log.Has("Scene::SetData: ctrack manager or feature map Null"));
  EXPECT_EQ(&scene.GetPointCloud()->GetPoints(), &job.map->GetFPoint3DList());
  EXPECT_EQ(scene.GetCameraTrack()->GetPositions().size(), size_t(SolvedJob::kFrames));
}

TEST(Scene, FrameRangeChoosesTrackAndCameraImage) {
  SolvedJob job;
  job.manager.SetFrameRange(10, 20, 1);
  Scene scene;
  ASSERT_TRUE(scene.SetData(&job.manager));
  EXPECT_EQ(scene.GetCameraTrack()->GetPositions().size(), 11u);
  EXPECT_TRUE(scene.IsCameraObjectPending());
  EXPECT_EQ(scene.GetCurrentImage(), job.manager.GetImageList()[10]);
}

TEST(Scene, MovingTheGridMovesTheTrackingDataTheOtherWay) {
  SolvedJob job;
  Scene scene;
  ASSERT_TRUE(scene.SetData(&job.manager));
  std::vector<Vector3> centres, points;
  for (const auto& image : job.manager.GetImageList()) centres.push_back(image->GetC());
  for (const auto& p : job.map->GetFPoint3DList()) points.push_back(*p);

  const Vector3 t(3.0, -1.5, 4.0);
  scene.TransformWCS(Top(Translation(t)));
  const Matrix4x4 W = scene.SyncMovedGroundGrid(&job.manager);
  EXPECT_NEAR(W[0][3], -3.0, 1e-12);
  for (size_t k = 0; k < centres.size(); ++k) {
    EXPECT_NEAR((job.manager.GetImageList()[k]->GetC() - (centres[k] - t)).Length(), 0.0, 1e-9);
  }
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_NEAR((Vector3(*job.map->GetFPoint3DList()[i]) - (points[i] - t)).Length(), 0.0, 1e-9);
  }
  for (const NHSObject* o : {static_cast<const NHSObject*>(scene.GetGrid()),
                             static_cast<const NHSObject*>(scene.GetAxes())}) {
    EXPECT_EQ(std::memcmp(o->GetTransform().m, Top(Translation({})).m, sizeof(Matrix3x4)), 0);
  }
  for (int k : {0, 17}) ExpectPointsOnFeatures(scene, *job.manager.GetImageList()[k], *job.map);

  // A scene move handed over later reaches the data the same way.
  scene.TransformReconstruction(Translation(t));
  scene.SyncMovedScene(&job.manager);
  EXPECT_NEAR((job.manager.GetImageList()[3]->GetC() - centres[3]).Length(), 0.0, 1e-9);
  ExpectPointsOnFeatures(scene, *job.manager.GetImageList()[3], *job.map);

  kxtest::LogCapture log(5);
  EXPECT_EQ(scene.SyncMovedGroundGrid(nullptr)[0][3], 0.0);
  EXPECT_TRUE(log.Has("Scene::SyncMovedGroundGrid: camera tracking manager not set!"));
}

TEST(Scene, SelectionReturnsAndTheGizmo) {
  Scene scene;
  NHSObject* box = scene.AddChild(new NHSObject_Cuboid);
  box->GetTransform()[1][3] = 4.0;
  EXPECT_FALSE(scene.SelectObject(0));
  EXPECT_TRUE(scene.SelectObject(box->GetUID()));
  NHSObject_Handle* gizmo = scene.GetGizmo();
  ASSERT_NE(gizmo, nullptr);
  EXPECT_EQ(gizmo->GetParent(), &scene);
  EXPECT_EQ(gizmo->GetTransform()[1][3], 4.0);
  EXPECT_TRUE(box->GetUIDFlags() & UID_FLAG_SELECTED);
  box->GetTransform()[1][3] = 6.0;
  EXPECT_FALSE(scene.SelectObject(box->GetUID()));  // refreshes the gizmo only
  EXPECT_EQ(scene.GetGizmo(), gizmo);
  EXPECT_EQ(gizmo->GetTransform()[1][3], 6.0);
  EXPECT_FALSE(scene.SelectObject(gizmo->GetUID()));
  EXPECT_FALSE(scene.SelectObject(gizmo->GetPartId(5)));
  EXPECT_EQ(scene.GetSelectedId(), box->GetUID());

  EXPECT_EQ(scene.SelectGroundGrid(false, false, true), NHSObject_Handle::kTranslate);
  EXPECT_EQ(scene.GetSelectedId(), scene.GetGrid()->GetUID());
  EXPECT_FALSE(box->GetUIDFlags() & UID_FLAG_SELECTED);
  EXPECT_TRUE(scene.SelectObject(0));
  EXPECT_EQ(scene.GetGizmo(), nullptr);
  EXPECT_FALSE(scene.GetGrid()->GetUIDFlags() & UID_FLAG_SELECTED);
}

TEST(Scene, ClearDataKeepsTheBuiltinsAndSurvivesASelectedObject) {
  SolvedJob job;
  Scene scene;
  ASSERT_TRUE(scene.SetData(&job.manager));
  NHSObject* first = scene.AddChild(new NHSObject_Cuboid);
  scene.SelectObject(first->GetUID());  // the gizmo comes after objects added later
  NHSObject* later = scene.AddChild(new NHSObject_Cuboid);
  scene.SelectObject(later->GetUID());  // the gizmo is the selected object's next sibling
  scene.ClearData();
  EXPECT_EQ(scene.CountChildren(), 6);
  EXPECT_EQ(scene.GetSelectedId(), 0);
  EXPECT_TRUE(scene.GetPointCloud()->GetPoints().empty());
}

TEST(Scene, ViewingModesShowAndHideObjects) {
  Scene scene;
  NHSObject* box = scene.AddChild(new NHSObject_Cuboid);
  auto shown = [](const NHSObject* o) { return !(o->GetUIDFlags() & UID_FLAG_HIDDEN); };
  struct Case {
    const char* name;
    int mode;
    uint32_t flags;
    Vector3 orbit;
    bool axes, grid, orbit_shown, camera, track, user;
  } const cases[] = {
      {"camera view", 0, 0xffffffff, {}, false, true, false, false, false, true},
      {"camera view, nothing", 0, 0, {}, false, false, false, false, false, false},
      {"observer, all", 1, 0xffffffff, {5, 0, 0}, true, true, true, true, true, true},
      {"orbit on the axes' origin", 1, 0xc00000, {}, true, false, false, false, false, false},
      {"orbit just off it", 1, 0xc00000, {0.02, 0, 0}, true, false, true, false, false, false},
      {"orbit without axes", 1, 0x800000, {}, false, false, true, false, false, false},
      {"observer grid and track", 1, 0x1100080, {}, false, true, false, false, true, true},
  };
  for (const Case& c : cases) {
    scene.SetOrbitCenter(c.orbit);
    scene.UpdateObjectFlags(c.mode, c.flags);
    EXPECT_EQ(shown(scene.GetAxes()), c.axes) << c.name;
    EXPECT_EQ(shown(scene.GetGrid()), c.grid) << c.name;
    EXPECT_EQ(shown(scene.GetOrbitCenterObject()), c.orbit_shown) << c.name;
    EXPECT_EQ(shown(scene.GetCameraObject()), c.camera) << c.name;
    EXPECT_EQ(shown(scene.GetCameraTrack()), c.track) << c.name;
    EXPECT_EQ(shown(box), c.user) << c.name;
    EXPECT_TRUE(shown(scene.GetPointCloud())) << c.name;
    EXPECT_EQ(scene.GetPointCloud()->GetFlags(), c.flags) << c.name;
    EXPECT_EQ(scene.GetOrbitCenter(), c.orbit) << c.name;
  }
  kxtest::LogCapture log(5);
  scene.UpdateObjectFlags(2, 0);
  EXPECT_TRUE(log.Has("Scene::UpdateObjectFlags: unknown viewing mode: 2"));
  EXPECT_EQ(scene.GetPointCloud()->GetFlags(), 0x1100080u);
}

TEST(Scene, SelectedPointsAreMarkedRemovedAndAveraged) {
  SolvedJob job;
  Scene scene;
  ASSERT_TRUE(scene.SetData(&job.manager));
  scene.UpdateObjectFlags(1, 0x08);  // shows ordinary points only
  const auto& points = job.map->GetFPoint3DList();
  EXPECT_EQ(scene.DeleteSelected3DPoints(), 0u);
  UIDRegistry& registry = UIDRegistry::Instance();
  for (int i : {0, 1, 2, 3}) registry.SetSelected(points[size_t(i)]->GetUID(), true);
  points[1]->SetFlags(FP3D_FLAG_REMOVED);    // already removed
  points[2]->SetFlags(FP3D_FLAG_PROTECTED);  // not shown
  Vector3 mean;
  Scene::PointList list;
  EXPECT_EQ(scene.GetSelected3DPoints(&mean, &list), 2u);
  EXPECT_EQ(mean, (Vector3(*points[0]) + Vector3(*points[3])) * 0.5);
  EXPECT_EQ(list, (Scene::PointList{points[0], points[3]}));
  EXPECT_EQ(scene.DeleteSelected3DPoints(), 2u);
  EXPECT_TRUE(points[3]->TestFlags(FP3D_FLAG_REMOVED));
  EXPECT_EQ(points.size(), size_t(SolvedJob::kPoints));  // marked, never taken out
  registry.SetSelected(points[0]->GetUID(), false);
  registry.SetSelected(points[3]->GetUID(), false);
  scene.UpdateObjectFlags(1, 0x10);  // removed points shown
  EXPECT_EQ(scene.GetSelected3DPoints(&mean, nullptr), 1u);
  EXPECT_EQ(mean, Vector3(*points[1]));
  for (const auto& p : points) registry.SetSelected(p->GetUID(), false);
}

// The tracking thread adds points and changes point flags as the viewer marks the seen ones
// and draws the cloud.
TEST(SceneConcurrency, SeenFlagsWhileTheTrackingThreadAddsPoints) {
  SolvedJob job;
  Scene scene;
  ASSERT_TRUE(scene.SetData(&job.manager));
  scene.SetCameraObjectParams(job.manager.GetImageList()[5], nullptr, false);
  scene.UpdateObjectFlags(1, 0x4c);
  std::atomic<bool> done{false};
  std::thread tracking([&] {
    for (int i = 0; i < 300; ++i) {
      auto p = SharedPtr<FeaturePoint3D>::Make(0.1 * i, 1.0, 50.0, FeaturePoint3D::eCartesian);
      job.map->AddFPoint3D(p);
      // It also rewrites the flag words of older points, as a writer.
      std::lock_guard<ReadWriteSpinLock> writing(job.map->GetFPoint3DLock());
      job.map->GetFPoint3DList()[size_t(i) % SolvedJob::kPoints]->CycleBits(FP3D_FLAG_NO_EXPORT);
    }
    done = true;
  });
  int rounds = 0;
  while (!done || rounds < 3) {
    scene.SetFPoints3D(job.map);
    RecordingRender r;
    scene.GetPointCloud()->Draw(r, Top(Translation({0, 0, 10})));
    EXPECT_GE(r.markers.size(), size_t(SolvedJob::kPoints));
    ++rounds;
  }
  tracking.join();
  EXPECT_EQ(job.map->GetFPoint3DList().size(), size_t(SolvedJob::kPoints + 300));
}

}  // namespace
