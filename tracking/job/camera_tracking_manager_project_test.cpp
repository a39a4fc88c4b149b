// Saving and loading a whole tracking job through the manager: its own image list, frame
// cache, current map and vertex objects, as the project save and load use it.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/project/data_base_in.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/project_bytes_for_test.h"
#include "foundation/project/project_root.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "image/packed_string_list.h"
#include "testing/log_capture.h"
#include "testing/synthetic_scene_for_test.h"
#include "testing/temp_dir.h"
#include "testing/thrown.h"
#include "tracking/job/camera_tracking_manager.h"
#include "tracking/maps/feature_map_move.h"
#include "tracking/storage/project_job_for_test.h"
#include "tracking/storage/project_writer.h"

namespace {

using kxtest::Describe;
using kxtest::DescribeVertexObjects;
using kxtest::LogCapture;
using kxtest::Thrown;

constexpr int kFrames = 4;

FeatureMapMove& MoveMap(CameraTrackingManager& manager) {
  return dynamic_cast<FeatureMapMove&>(*manager.m_fmap_move);
}

// v on a grid both file modes keep exactly (a single and 8 significant digits), never -0.
double Grid(double v, double step) {
  return std::round(v / step) * step + 0.0;
}
vm::Vector3 Grid(const vm::Vector3& v, double step) {
  return {Grid(v.x, step), Grid(v.y, step), Grid(v.z, step)};
}

// A manager that unlinks its anchors before it goes: anchor tracks are links in both
// directions, which the manager's own teardown (features only) leaves alone.
struct Manager : CameraTrackingManager {
  ~Manager() override {
    for (const SharedPtr<FeatureImage>& image : GetImageList()) {
      if (image) image->ClearAnchors();
    }
  }
};

// A job tracked and solved through the manager: four frames on disk read through its
// cache (field mode 2, top field first), features tracked over every frame and linked to
// the current map's points, an anchor track on a named locator, a manual feature, a lens
// key frame, and complete vertex objects of every kind. kind picks the map's switch: pure
// rotation keeps direction points.
struct SolvedJob {
  kxtest::TempDir dir;
  Manager manager;

  explicit SolvedJob(ProjectMapKind kind) {
    auto list = PackedStringListPtr::Make();
    for (int k = 0; k < kFrames; ++k) {
      const std::string path = dir.File("img000" + std::to_string(k) + ".pgm");
      std::ofstream out(path, std::ios::binary);
      out << "P5\n16 12\n255\n" << std::string(16 * 12, char(40 * k));
      out.close();
      list->Append(path.c_str(), 20 + k);
    }
    ImageCache& cache = *manager.GetImageCache();
    cache.SetFieldMode(2);
    cache.SetTopFieldFirst(true);
    EXPECT_EQ(manager.SetImageFileList(list), 0);

    FeatureMapMove& map = MoveMap(manager);
    map.m_free_move = kind == ProjectMapKind::kFreeMotion ? 1 : 0;
    kxtest::SyntheticScene scene({.num_points = 10, .num_cameras = kFrames, .noise_px = 0.3});
    std::vector<SharedPtr<FeaturePoint3D>> points;
    for (const vm::Vector3& p : scene.points) {
      SharedPtr<FeaturePoint3D> point;
      if (kind == ProjectMapKind::kFreeMotion) {
        point = SharedPtr<FeaturePoint3D>::Make(p.x, p.y, p.z, FeaturePoint3D::eCartesian);
      } else {
        const double n = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
        point =
            SharedPtr<FeaturePoint3D>::Make(p.x / n, p.y / n, p.z / n, FeaturePoint3D::eSpherical);
      }
      map.AddFPoint3D(point);
      points.push_back(point);
    }
    points[3]->SetName("table corner");
    points[3]->AssignFlags(FP3D_FLAG_NO_EXPORT);
    auto locator = SharedPtr<FeaturePoint3D>::Make(1.0, 2.0, 3.0, FeaturePoint3D::eCartesian);
    locator->SetName("locator");
    locator->AssignFlags(FP3D_FLAG_LOCATOR);
    map.AddFPoint3D(locator);

    std::vector<SharedPtr<FeaturePoint2D>> last_features;
    SharedPtr<FeaturePoint2D> last_anchor;
    for (int k = 0; k < kFrames; ++k) {
      FeatureImage& image = *manager.GetImageList()[k];
      const PerspectiveCamera& c = scene.cameras[k];
      const double kk[4] = {-2.5e-4 * k + 0.0, 1e-7, 0, 0};
      const double zero[2] = {0, 0};
      image.SetAll(Grid(c.GetC(), 0.25), Grid(c.GetA(), 1.0 / 256), Grid(c.GetH(), 0.25),
                   Grid(c.GetV(), 0.25), c.GetWidth(), c.GetHeight(), c.GetPixelSizeX(),
                   c.GetPixelSizeY(), kk, zero, k == 2 ? Poly5 : Poly3);
      if (k == 0) image.SetFlags(FIMAGE_FLAG_LENS_KEY);
      std::vector<SharedPtr<FeaturePoint2D>> features;
      for (size_t i = 0; i < points.size(); ++i) {
        const vm::Vector2& at = scene.observed[k][i];
        auto f = SharedPtr<FeaturePoint2D>::Make(&image, Grid(at.x, 0.25), Grid(at.y, 0.25));
        f->SetFPoint3D(points[i]);
        if (i == 5) f->SetFlags(FP2D_FLAG_MANUAL);
        if (k > 0) kxtest::Link(last_features[i], f, i == 7 ? 0u : 0x21u);
        image.AddFPoint2D(f);
        features.push_back(f);
      }
      auto anchor = SharedPtr<FeaturePoint2D>::Make(&image, 8.0 + k, 6.0);
      anchor->SetFlags(FP2D_FLAG_ANCHOR | FP2D_FLAG_MANUAL);
      anchor->SetFPoint3D(locator);
      if (last_anchor) kxtest::Link(last_anchor, anchor, FCORR_FLAGS_USER_LINK);
      image.AddAnchor(anchor);
      last_features = features;
      last_anchor = anchor;
    }
    map.SetImageList(manager.GetImageList());

    VertexObjectPool& pool = manager.GetVertexObjectPool();
    kxtest::BuildVertexObjects(pool);
    // Only the complete objects: the others are stored empty (the writer's tests).
    pool.GetPolygonMasks().pop_back();
    pool.GetFocalGizmos().pop_back();
    for (PolygonMask& m : pool.GetPolygonMasks()) m.SetFlags(VERTEX_OBJECT_HAS_COLOR);
    for (LineStrip& l : pool.GetLineStrips()) l.SetFlags(VERTEX_OBJECT_HAS_COLOR);
  }
};

std::string Save(const CameraTrackingManager& manager, bool binary) {
  return kxtest::WrittenBytes(binary, [&](DataBaseOut& out) {
    out.BeginRoot();
    EXPECT_TRUE(WriteCTrackMgr(out, manager));
    out.EndRoot();
  });
}

// The project's root block around the manager's load entry.
void Load(const std::string& bytes, CameraTrackingManager& manager) {
  kxtest::TempFile file(bytes);
  DataBaseIn in;
  in.Open(file.path());
  if (!kxtest::ReadObjectKey(in, PF_KEY_KLX)) throw "not a project root";
  in.GetIdentifier();
  manager.ReadCTrackMgr(in);
  if (!AtBlockEnd(in)) throw "root not closed";
}

void ExpectEmpty(CameraTrackingManager& manager) {
  EXPECT_TRUE(manager.GetImageList().empty());
  EXPECT_TRUE(manager.m_fmap_move->GetFPoint3DList().empty());
  EXPECT_TRUE(manager.m_fmap_move->GetFImageList().empty());
  EXPECT_EQ(DescribeVertexObjects(manager.GetVertexObjectPool()), "");
  EXPECT_EQ(manager.GetInitCamera(), nullptr);
  EXPECT_EQ(manager.GetImagePath(), nullptr);
}

TEST(CameraTrackingManagerProjectTest, SaveLoadSaveThroughTheManager) {
  for (ProjectMapKind kind : {ProjectMapKind::kFreeMotion, ProjectMapKind::kPureRotation}) {
    SolvedJob job(kind);
    for (bool binary : {false, true}) {
      SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") +
                   (kind == ProjectMapKind::kFreeMotion ? "free motion" : "pure rotation"));
      const std::string first = Save(job.manager, binary);
      Manager restored;
      // The switch follows the file, whatever it was.
      MoveMap(restored).m_free_move = kind == ProjectMapKind::kFreeMotion ? 0 : 1;
      LogCapture log;
      Load(first, restored);

      EXPECT_EQ(restored.GetMapKind(), kind);
      EXPECT_EQ(MoveMap(restored).m_free_move, kind == ProjectMapKind::kFreeMotion ? 1 : 0);
      EXPECT_EQ(Describe(restored.Contents()), Describe(job.manager.Contents()));
      EXPECT_EQ(DescribeVertexObjects(restored.GetVertexObjectPool()),
                DescribeVertexObjects(job.manager.GetVertexObjectPool()));
      EXPECT_EQ(Save(restored, binary), first);

      // Whole file names, the frame cache's list and settings, the map's frames.
      ImageCache& cache = *restored.GetImageCache();
      EXPECT_TRUE(cache.TopFieldFirst());
      EXPECT_EQ(cache.GetFieldMode(), 2);
      const PackedStringListPtr files = cache.GetFileList();
      ASSERT_TRUE(files);
      ASSERT_EQ(files->Count(), kFrames);
      for (int k = 0; k < kFrames; ++k) {
        const FeatureImage& saved = *job.manager.GetImageList()[k];
        EXPECT_STREQ(restored.GetImageList()[k]->GetFileName(), saved.GetFileName());
        EXPECT_EQ(files->GetEntryName(k), std::string(saved.GetFileName()));
        EXPECT_EQ(files->GetEntryNumber(k), saved.GetFileIndex());
      }
      EXPECT_EQ(restored.GetFrameStart(), 0);
      EXPECT_EQ(restored.GetFrameEnd(), kFrames - 1);
      EXPECT_EQ(restored.m_fmap_move->GetFImageList().size(), size_t(kFrames));
      EXPECT_EQ(MoveMap(restored).GetIncrementalList().size(), size_t(kFrames));
      ASSERT_NE(restored.GetInitCamera(), nullptr);
      EXPECT_EQ(restored.GetInitCamera()->GetH().x, restored.GetImageList()[0]->GetH().x);
    }

    // Frames gone from disk: the job stays as read, so its files can be found again.
    for (int k = 0; k < kFrames; ++k) std::remove(job.manager.GetImageList()[k]->GetFileName());
    Manager moved;
    LogCapture log;
    kxtest::TempFile file(Save(job.manager, true));
    EXPECT_EQ(Thrown([&] {
                DataBaseIn in;
                in.Open(file.path());
                kxtest::ReadObjectKey(in, PF_KEY_KLX);
                in.GetIdentifier();
                moved.ReadCTrackMgr(in);
              }),
              "unable to load image(s)");
    EXPECT_EQ(moved.GetImageList().size(), size_t(kFrames));
    EXPECT_EQ(moved.m_fmap_move->GetFPoint3DList().size(),
              job.manager.m_fmap_move->GetFPoint3DList().size());
  }
}

// A damaged file leaves the manager empty, its frame cache in the mode it had, and ready
// for the next load.
TEST(CameraTrackingManagerProjectTest, DamagedFileLeavesTheManagerEmptyAndUsable) {
  SolvedJob job(ProjectMapKind::kFreeMotion);
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "ascii");
    const std::string good = Save(job.manager, binary);
    Manager manager;
    LogCapture log;
    bool loaded = false;
    for (size_t cut : {good.size() / 3, good.size() / 2, good.size() * 4 / 5, good.size() - 4}) {
      SCOPED_TRACE(cut);
      EXPECT_NE(Thrown([&] { Load(good.substr(0, cut), manager); }), "");
      ExpectEmpty(manager);
      if (!loaded) {
        // Before any good load: the damaged file's field order and mode are not kept.
        EXPECT_FALSE(manager.GetImageCache()->TopFieldFirst());
        EXPECT_EQ(manager.GetImageCache()->GetFieldMode(), 0);
      }
      Load(good, manager);
      loaded = true;
      EXPECT_EQ(Describe(manager.Contents()), Describe(job.manager.Contents()));
      EXPECT_EQ(Save(manager, binary), good);
    }
  }
}

}  // namespace
