// Test helpers for project files of a tracking job: a job as the manager hands it to the
// writer (with the null entries the writer must skip), a fixture job with every kind of
// stored object, the bytes WriteCTrackMgr makes of it, and the stored state of a job as
// text (cross references as positions in the written lists), for comparing a saved job
// with a restored one.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/project_bytes_for_test.h"
#include "foundation/project/project_root.h"
#include "foundation/runtime/split_path.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_point.h"
#include "image/image_cache.h"
#include "tracking/maps/feature_map.h"
#include "tracking/objects/vertex_object_pool.h"
#include "tracking/storage/ctrack_mgr_root.h"
#include "tracking/storage/project_writer.h"

namespace kxtest {

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

inline void Link(const SharedPtr<FeaturePoint2D>& earlier, const SharedPtr<FeaturePoint2D>& later,
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
inline void BuildFixture(Job& job) {
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
inline void BuildVertexObjects(VertexObjectPool& pool) {
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

inline std::string Save(const CTrackMgrContents& job, bool binary) {
  return kxtest::WrittenBytes(binary, [&](DataBaseOut& out) {
    out.BeginRoot();
    EXPECT_TRUE(WriteCTrackMgr(out, job));
    out.EndRoot();
  });
}

// ---- the stored state of a job as text, positions found by plain scans

inline int32_t PositionIn(const void* object, const auto& list) {
  int32_t position = 0;
  for (const auto& entry : list) {
    if (!entry) continue;
    if (entry.Get() == object) return position;
    ++position;
  }
  return -1;
}

inline std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, " %.6g", v);
  return text;
}

inline std::string Describe(const CTrackMgrContents& job) {
  std::string s = "frames" + Number(job.frame_start) + Number(job.frame_end) +
                  Number(job.frame_step) + Number(job.top_field_first) + Number(job.deint_method) +
                  "\n";
  const bool has_map = job.map_kind != ProjectMapKind::kNone;
  std::vector<const FeatureImage*> images;
  for (const auto& image : *job.images) {
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
        s += Number(has_map ? PositionIn(f->GetFPoint3D().Get(), *job.points) : -1);
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
    for (const auto& p : *job.points) {
      if (!p) continue;
      s += std::string("point ") + (p->GetName() ? p->GetName() : "-") + Number(p->x) +
           Number(p->y) + Number(p->z) + Number(p->GetId()) + Number(p->GetCS()) +
           Number(p->GetFlags()) + "\n";
    }
  }
  return s;
}

// The vertex objects as text: every stored member and every key.
inline std::string DescribeVertexObjects(const VertexObjectPool& pool) {
  std::string s;
  auto object = [&](const char* kind, const VertexObject& o, const ColorRGBA* color) {
    s += std::string(kind) + " " + o.GetName() + Number(o.GetStartIndex()) +
         Number(o.GetEndIndex()) + Number(o.GetFlags()) + Number(o.GetMHTProp());
    if (color) s += Number(color->r) + Number(color->g) + Number(color->b) + Number(color->a);
    s += "\n";
    for (const Vertex& v : o.GetVertices()) {
      s += " vertex";
      for (int i = 0; i < v.GetNumKeys(); ++i) {
        int frame = 0;
        vm::Vector3 value;
        v.GetKey(i, &frame, &value);
        s += Number(frame) + Number(value.x) + Number(value.y) + Number(value.z);
      }
      s += "\n";
    }
  };
  for (const PolygonMask& m : pool.GetPolygonMasks()) {
    object("mask", m, &m.GetColor());
    s += Number(m.GetMProp()) + "\n";
  }
  for (const LineStrip& l : pool.GetLineStrips()) object("line", l, &l.GetColor());
  for (const FocalGizmo& g : pool.GetFocalGizmos()) object("gizmo", g, nullptr);
  return s;
}

// A feature map that only counts what a load hands it.
class ProjectMapForTest : public FeatureMap {
 public:
  bool OutlierElimination() override { return false; }
  bool CameraEstimation() override { return false; }
  bool FinalEstimation() override { return false; }
  bool Refinement() override { return false; }
  void GetMSE() override { ++mse_calls; }
  int mse_calls = 0;
};

// A restored job: the root with its map and frame cache linked.
struct LoadedJob {
  ProjectMapForTest map;
  ImageCache cache;
  CTrackMgrRoot root;
  std::vector<SharedPtr<FeatureImage>> incremental;
  LoadedJob() {
    CTrackMgrRoot::Links links;
    links.map = &map;
    links.image_cache = &cache;
    links.set_incremental_list = [this](const auto& list) { incremental = list; };
    root.SetLinks(links);
  }
};

// Reads a whole project file (root block included) into job; the reader's texts are
// thrown on.
inline void Load(const std::string& bytes, LoadedJob& job) {
  TempFile file(bytes);
  DataBaseIn in;
  in.Open(file.path());
  if (!ReadObjectKey(in, PF_KEY_KLX)) throw "not a project root";
  in.GetIdentifier();
  job.root.Read(in);
  if (!AtBlockEnd(in)) throw "root not closed";
}

}  // namespace kxtest
