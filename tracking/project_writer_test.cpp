#include "tracking/project_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "foundation/project/data_base.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/project_bytes_for_test.h"
#include "foundation/project/project_root.h"
#include "foundation/runtime/split_path.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_point.h"
#include "testing/locale.h"
#include "tracking/vertex_object_pool.h"

namespace {

using Images = std::vector<SharedPtr<FeatureImage>>;
using Points = std::vector<SharedPtr<FeaturePoint3D>>;

// ---- a tracking job, as the manager hands it to the writer

struct Job {
  Images images;
  Points points;
  ProjectMapKind map_kind = ProjectMapKind::kNone;
  int32_t frame_start = 0, frame_end = 0, frame_step = 1;
  bool top_field_first = false;
  int32_t deint_method = 0;
  VertexObjectPool pool;
  bool with_pool = false;
  std::string path;  // as read

  Job() = default;
  Job(const Job&) = delete;
  ~Job() {
    for (auto& image : images) {
      if (image) image->ClearFPoints2D(), image->ClearAnchors();
    }
  }

  CTrackMgrContents Contents() const {
    CTrackMgrContents c;
    c.images = &images;
    c.map_kind = map_kind;
    c.points = &points;
    c.frame_start = frame_start;
    c.frame_end = frame_end;
    c.frame_step = frame_step;
    c.top_field_first = top_field_first;
    c.deint_method = deint_method;
    c.vertex_objects = with_pool ? &pool : nullptr;
    return c;
  }
};

void Link(const SharedPtr<FeaturePoint2D>& earlier, const SharedPtr<FeaturePoint2D>& later,
          uint32_t flags) {
  auto link = SharedPtr<FeatureCorrespondence>::Make();
  link->SetFirst(earlier);
  link->SetSecond(later);
  link->SetScore(1.0f);
  link->SetFlags(flags);
  earlier->SetSuccessor(link);
  later->SetPredecessor(link);
}

// Five frames (one per lens model) with a null entry in the image list, tracks over
// every frame, anchors tracked on their own, manual and covariance features, a feature
// whose successor is an anchor, Cartesian and direction points, a null point and a point
// that is not in the map.
void BuildFixture(Job& job) {
  const RadialDistortionFunction models[5] = {Poly3, Poly5, Fisheye, FisheyeEquisolid, Poly4};
  const char* names[5] = {"shots/seq1/img0010.tga", "C:\\shots\\img0011.tga", "img0012.tga", "",
                          "shots/other/img0014.tga"};
  job.points = {SharedPtr<FeaturePoint3D>::Make(100.5, -20.25, 3000.0, FeaturePoint3D::eCartesian),
                SharedPtr<FeaturePoint3D>(),
                SharedPtr<FeaturePoint3D>::Make(0.25, -0.125, 5000.0, FeaturePoint3D::eSpherical),
                SharedPtr<FeaturePoint3D>::Make(1.0, 2.0, 3.0, FeaturePoint3D::eCartesian)};
  job.points[0]->SetName("corner of the table");
  job.points[0]->SetId(0);
  job.points[0]->AssignFlags(FP3D_FLAG_NO_EXPORT);
  job.points[2]->SetId(2);
  job.points[3]->SetName("locator 1");
  job.points[3]->SetId(3);
  job.points[3]->AssignFlags(FP3D_FLAG_LOCATOR);
  auto foreign = SharedPtr<FeaturePoint3D>::Make(9.0, 9.0, 9.0, FeaturePoint3D::eCartesian);

  std::vector<SharedPtr<FeaturePoint2D>> last_features, last_anchors;
  for (int k = 0; k < 5; ++k) {
    auto image = SharedPtr<FeatureImage>::Make();
    image->SetFileName(names[k]);
    image->SetFileIndex(k);
    image->SetImageIndex(10 + k);
    image->AssignFlags(k == 0 ? FIMAGE_FLAG_LENS_KEY : FIMAGE_FLAG_NOT_ESTIMATED * (k % 2));
    const double kk[4] = {k == 4 ? 600.0 : -1.25e-5 * (k + 1), 2.5e-9, 0, 0};
    const double zero[2] = {0, 0};
    image->SetAll({10.5 * k, -20.25, 1234.5}, {0.0, 0.6, 0.8}, {1500.0, 3.0, 40.0 + k},
                  {-2.0, 1100.0, 7.0}, 1920, 1080, 0.0078125, 0.0075, kk, zero, models[k]);
    std::vector<SharedPtr<FeaturePoint2D>> features, anchors;
    for (int i = 0; i < 3; ++i) {
      auto f = SharedPtr<FeaturePoint2D>::Make(image.Get(), 100.25 * (i + 1) + k, 50.5 + k);
      if (i == 1) f->SetCoVariance(2.0f, 0.5f, 3.0f);
      if (i == 2) f->SetFlags(FP2D_FLAG_MANUAL | FP2D_FLAG_CLICKED_FRAME);
      if (i == 0) f->SetFPoint3D(job.points[0]);
      if (i == 1) f->SetFPoint3D(k % 2 ? job.points[2] : foreign);
      features.push_back(f);
    }
    auto anchor = SharedPtr<FeaturePoint2D>::Make(image.Get(), 640.0 - k, 360.0);
    anchor->SetFlags(FP2D_FLAG_ANCHOR | FP2D_FLAG_MANUAL);
    anchor->SetFPoint3D(job.points[3]);
    anchors.push_back(anchor);
    if (k > 0) {
      const uint32_t flags[3] = {0x21, 0x1, k == 2 ? 0u : 0x41u};
      for (int i = 0; i < 2; ++i) Link(last_features[i], features[i], flags[i]);
      if (k != 3) Link(last_features[2], features[2], flags[2]);
      if (k == 4) Link(last_features[2], anchor, 0x1);  // feature to anchor: not stored
      Link(last_anchors[0], anchor, FCORR_FLAGS_USER_LINK);
    }
    for (auto& f : features) image->AddFPoint2D(f);
    if (k == 1) image->GetFPoints2D().insert(image->GetFPoints2D().begin(), {});
    image->AddAnchor(anchor);
    job.images.push_back(image);
    if (k == 1) job.images.push_back({});
    last_features = features;
    last_anchors = anchors;
  }
  job.frame_start = 10;
  job.frame_end = 14;
  job.frame_step = 1;
  job.top_field_first = true;
  job.deint_method = 2;
}

// Every kind of vertex object, with and without enough vertices to be stored.
void BuildVertexObjects(VertexObjectPool& pool) {
  PolygonMask& mask = pool.GetPolygonMasks().emplace_back();
  mask.SetName("car");
  mask.SetIndexRange(10, 20);
  mask.SetMProp(2);
  mask.SetMHTProp(1);
  mask.SetColor({0.25, 0.5, 0.75, 1.0});
  for (int i = 0; i < 3; ++i) {
    mask.AddVertex({10.0 * i, 20.5, 0.0}, 10);
    mask.SetVertexPosition(&mask.GetVertices().back(), {10.0 * i + 5, 25.5, 0.0}, 15 + i);
  }
  PolygonMask& small = pool.GetPolygonMasks().emplace_back();
  small.AddVertex({1, 2, 0}, 0);
  small.AddVertex({3, 4, 0}, 0);
  LineStrip& line = pool.GetLineStrips().emplace_back();
  line.SetIndexRange(0, 40);
  line.AddVertex({100.0, 200.0, 0}, 12);
  line.AddVertex({300.0, 0.0625, 0}, 12);
  FocalGizmo& gizmo = pool.GetFocalGizmos().emplace_back();
  gizmo.SetName("focal");
  gizmo.SetIndexRange(5, 6);
  for (int i = 0; i < 12; ++i) gizmo.AddVertex({i * 8.0, i * 4.0, 0}, 5);
  gizmo.GetVertices().emplace_back();  // a vertex without keys: no "Data"
  pool.GetFocalGizmos().emplace_back().AddVertex({1, 1, 0}, 1);
}

std::string Save(const Job& job, bool binary) {
  return kxtest::WrittenBytes(binary, [&](DataBaseOut& out) {
    out.BeginRoot();
    EXPECT_TRUE(WriteCTrackMgr(out, job.Contents()));
    out.EndRoot();
  });
}

// ---- a stand-in for the manager's restore side: what the reader needs to rebuild the job

struct MapIn : DataBase {
  Points* points;
  explicit MapIn(Points* p) : points(p) {}
  bool CheckForField(DataBaseIn& in, const char* key) override {
    if (!in.IsField(key, PF_KEY_FP3D)) return false;
    auto point = SharedPtr<FeaturePoint3D>::Make(FeaturePoint3D::eSpherical);
    point->RestoreObject(in);
    points->push_back(point);
    return true;
  }
};

struct JobIn : DataBase {
  Job* job;
  explicit JobIn(Job* j) : job(j) {}
  void Clear() {}
  bool CheckForField(DataBaseIn& in, const char* key) override {
    if (in.IsField(key, PF_KEY_FIMAGE)) {
      job->images.push_back(SharedPtr<FeatureImage>::Make());
      job->images.back()->RestoreObject(in);
    } else if (in.IsField(key, PF_KEY_FMAP_FREE_MOVE) || in.IsField(key, PF_KEY_FMAP_SPHERE)) {
      job->map_kind = in.IsField(key, PF_KEY_FMAP_SPHERE) ? ProjectMapKind::kPureRotation
                                                          : ProjectMapKind::kFreeMotion;
      MapIn map(&job->points);
      map.RestoreObject(in);
    } else if (in.IsField(key, PF_KEY_PATH)) {
      char text[PF_MAX_TEXT + 1];
      in.GetString(text, sizeof text);
      job->path = text;
    } else if (in.IsField(key, PF_KEY_TOP_FIELD_FIRST)) {
      job->top_field_first = in.GetInt() != 0;
    } else if (in.IsField(key, PF_KEY_DEINT_METHOD)) {
      job->deint_method = in.GetInt();
    } else if (in.IsField(key, PF_KEY_FRMS)) {
      job->frame_start = in.GetInt();
      job->frame_end = in.GetInt();
      job->frame_step = in.GetInt();
    } else {
      return false;
    }
    return true;
  }
  void PostProcessDataBaseIn() {
    for (auto& image : job->images) {
      if (!job->path.empty() && image->GetFileName()[0] != '\0') {
        image->SetFileName((job->path + "/" + image->GetFileName()).c_str());
      }
      for (auto* list : {&image->GetFPoints2D(), &image->GetAnchors()}) {
        for (auto& f : *list) {
          const int32_t i = f->GetFPoint3DIndex();
          if (i >= 0 && size_t(i) < job->points.size()) f->SetFPoint3D(job->points[i]);
        }
      }
    }
    for (size_t k = 0; k + 1 < job->images.size(); ++k) {
      FeatureImage& a = *job->images[k];
      FeatureImage& b = *job->images[k + 1];
      for (auto [from, to] : {std::pair{&a.GetFPoints2D(), &b.GetFPoints2D()},
                              std::pair{&a.GetAnchors(), &b.GetAnchors()}}) {
        for (auto& f : *from) {
          const int32_t n = f->GetSuccessorIndex();
          if (n < 0 || size_t(n) >= to->size()) continue;
          const uint32_t saved = f->GetSuccessorFlags();
          Link(f, (*to)[n], saved == 0 ? 0 : saved | FCORR_SUPPORT_TRUE);
        }
      }
    }
  }
};

void Load(const std::string& bytes, Job& job) {
  kxtest::TempFile file(bytes);
  DataBaseIn in;
  in.Open(file.path());
  ASSERT_TRUE(kxtest::ReadObjectKey(in, PF_KEY_KLX));
  ASSERT_EQ(in.GetIdentifier(), in.IsBinary() ? uint8_t{PF_OBJECT_BEGIN} : uint8_t{'{'});
  JobIn manager(&job);
  in.Read(manager);
  EXPECT_TRUE(AtBlockEnd(in));
}

// ---- the stored state of a job as text, positions found by plain scans

int32_t PositionIn(const void* object, const auto& list) {
  int32_t position = 0;
  for (const auto& entry : list) {
    if (!entry) continue;
    if (entry.Get() == object) return position;
    ++position;
  }
  return -1;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, " %.6g", v);
  return text;
}

std::string Describe(const Job& job) {
  std::string s = "frames" + Number(job.frame_start) + Number(job.frame_end) +
                  Number(job.frame_step) + Number(job.top_field_first) + Number(job.deint_method) +
                  "\n";
  const bool has_map = job.map_kind != ProjectMapKind::kNone;
  std::vector<const FeatureImage*> images;
  for (const auto& image : job.images) {
    if (image) images.push_back(image.Get());
  }
  for (size_t k = 0; k < images.size(); ++k) {
    const FeatureImage& im = *images[k];
    std::string directory, name;  // the directory is the first frame's (checked apart)
    SplitPath(im.GetFileName(), &directory, &name);
    s += "image " + name + Number(im.GetFileIndex()) + Number(im.GetImageIndex()) +
         Number(im.GetFlags()) + "\n camera";
    for (const vm::Vector3* v : {&im.GetC(), &im.GetA(), &im.GetH(), &im.GetV()}) {
      s += Number(v->x) + Number(v->y) + Number(v->z);
    }
    s += Number(im.GetWidth()) + Number(im.GetHeight()) + Number(im.GetPixelSizeX()) +
         Number(im.GetPixelSizeY()) + Number(im.GetDistortionCoefficients()[0]) +
         Number(im.GetDistortionCoefficients()[1]) +
         Number(GetRadDistType(im.GetDistortionModel())) + "\n";
    const FeatureImage* next = k + 1 < images.size() ? images[k + 1] : nullptr;
    for (bool anchors : {false, true}) {
      for (const auto& f : anchors ? im.GetAnchors() : im.GetFPoints2D()) {
        if (!f) continue;
        s += anchors ? " anchor" : " feature";
        s += Number(f->x) + Number(f->y) + Number(f->GetFlags());
        s += Number(has_map ? PositionIn(f->GetFPoint3D().Get(), job.points) : -1);
        const FeatureCorrespondence* link = f->GetSuccessor().Get();
        int32_t next_position = -1;
        if (link != nullptr && next != nullptr) {
          next_position = PositionIn(link->GetSecond().Get(),
                                     anchors ? next->GetAnchors() : next->GetFPoints2D());
        }
        // A stored link comes back with bit 0 added unless it was 0.
        const uint32_t flags = link == nullptr || link->GetFlags() == 0 ? 0 : link->GetFlags() | 1;
        s += Number(next_position) + Number(next_position < 0 ? 0 : flags) + "\n";
      }
    }
  }
  if (has_map) {
    for (const auto& p : job.points) {
      if (!p) continue;
      s += std::string("point ") + (p->GetName() ? p->GetName() : "-") + Number(p->x) +
           Number(p->y) + Number(p->z) + Number(p->GetId()) + Number(p->GetCS()) +
           Number(p->GetFlags()) + "\n";
    }
  }
  return s;
}

std::string TestData(const char* name) {
  return std::string(KALVEX_SOURCE_DIR) + "/testdata/project/" + name;
}

// ---- tests

TEST(ProjectWriterTest, SaveLoadSaveRoundTripsTheJob) {
  for (ProjectMapKind kind :
       {ProjectMapKind::kFreeMotion, ProjectMapKind::kPureRotation, ProjectMapKind::kNone}) {
    for (bool binary : {false, true}) {
      SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + std::to_string(int(kind)));
      Job saved;
      BuildFixture(saved);
      saved.map_kind = kind;
      const std::string first = Save(saved, binary);
      Job restored;
      Load(first, restored);
      ASSERT_EQ(restored.images.size(), 5u);
      EXPECT_EQ(restored.map_kind, kind);
      EXPECT_EQ(restored.path, "shots/seq1");
      EXPECT_EQ(Describe(restored), Describe(saved));
      // Names come back with the first frame's directory; an empty name stays empty.
      const char* names[5] = {"shots/seq1/img0010.tga", "shots/seq1/img0011.tga",
                              "shots/seq1/img0012.tga", "", "shots/seq1/img0014.tga"};
      for (int k = 0; k < 5; ++k) EXPECT_STREQ(restored.images[k]->GetFileName(), names[k]);
      EXPECT_EQ(Save(restored, binary), first);
    }
  }
}

TEST(ProjectWriterTest, GoldenFiles) {
  kxtest::DecimalCommaLocale comma;  // numbers never depend on the locale
  Job job;
  BuildFixture(job);
  job.map_kind = ProjectMapKind::kFreeMotion;
  BuildVertexObjects(job.pool);
  job.with_pool = true;
  const bool update = std::getenv("KX_UPDATE_GOLDEN") != nullptr;
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "ascii");
    const std::string bytes = Save(job, binary);
    const std::string path = TestData(binary ? "job_binary.kpz" : "job_ascii.kpz");
    if (update) kxtest::WriteFile(path, bytes);
    EXPECT_EQ(bytes, kxtest::ReadText(path));
  }
}

TEST(ProjectWriterTest, ManagerFields) {
  struct Case {
    const char* first_name;
    bool top_field_first;
    int32_t deint_method;
    std::string expected_binary;
  };
  const Case cases[] = {
      {"img0001.tga", true, 2, "\x30\x04\x31\x08\x32\x28\x38\x06"},
      {"seq\\shot1/x\\img0001.tga", false, 3,
       std::string("\x33seq\\shot1/x\0\x30\x00\x31\x0c\x32\x28\x38\x06", 21)},
      {"seq/shot1/img0001.tga", false, 0,
       std::string("\x33seq/shot1\0\x30\x00\x31\x00\x32\x28\x38\x06", 19)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first_name);
    Job job;
    job.map_kind = ProjectMapKind::kNone;
    job.images.push_back(SharedPtr<FeatureImage>());
    job.images.push_back(SharedPtr<FeatureImage>::Make());
    job.images.back()->SetFileName(c.first_name);
    job.top_field_first = c.top_field_first;
    job.deint_method = c.deint_method;
    job.frame_start = 10;
    job.frame_end = 14;
    job.frame_step = -2;
    const std::string bytes = Save(job, true);
    const std::string head = std::string("\x08\x10\x60\x10", 4) + c.expected_binary + "\x63\x10";
    EXPECT_EQ(bytes.substr(bytes.find('\n', bytes.find("Endian")) + 1, head.size()), head);
    const std::string ascii = Save(job, false);
    EXPECT_EQ(ascii.find("\tPath") != std::string::npos,
              std::string(c.first_name).find_first_of("\\/") != std::string::npos);
    EXPECT_NE(ascii.find("\tFrms 10 14 -2\n\tFImage {\n\t\tFilename \"img0001.tga\"\n"),
              std::string::npos);
  }
}

TEST(ProjectWriterTest, VertexObjectsInAscii) {
  Job job;
  job.map_kind = ProjectMapKind::kNone;
  BuildVertexObjects(job.pool);
  job.with_pool = true;
  const std::string text = Save(job, false);
  const std::string expected =
      "\tPMask {\n"
      "\t\tName \"car\"\n"
      "\t\tMProp 2\n"
      "\t\tMHTProp 1\n"
      "\t\tCol 0.2500 0.5000 0.7500 1\n"
      "\t\tFrms 10 20\n"
      "\t\tVert {\n"
      "\t\t\tData [\n"
      "\t\t\t\t 0 20.500000  10 ,\n"
      "\t\t\t\t 5 25.500000  15\n"
      "\t\t\t]\n"
      "\t\t}\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  EXPECT_NE(text.find("\tPMask {\n\t}\n\tLineStrip {\n\t\tCol 0.5000 0 0 1\n\t\tFrms 0 40\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\t\tVert {\n\t\t}\n\t}\n\tFocalGizmo {\n\t}\n}\n"), std::string::npos)
      << text;
}

}  // namespace
