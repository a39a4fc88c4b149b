#include "tracking/storage/ctrack_mgr_root.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/project/project_bytes_for_test.h"
#include "tracking/storage/project_job_for_test.h"

namespace {

using kxtest::Job;
using kxtest::LoadedJob;
using kxtest::LogCapture;
using kxtest::ProjectBytes;
using kxtest::Thrown;

// The fixture with every kind of stored object, the way the manager would save it.
void BuildFullJob(Job& job, ProjectMapKind kind) {
  kxtest::BuildFixture(job);
  // A map holds no null points, and a point's index is its position.
  std::erase_if(job.points, [](const auto& p) { return !p; });
  for (size_t i = 0; i < job.points.size(); ++i) job.points[i]->SetId(int32_t(i));
  job.map_kind = kind;
  kxtest::BuildVertexObjects(job.pool);
  job.with_pool = true;
}

TEST(CTrackMgrRootTest, SaveLoadSaveKeepsEveryObject) {
  for (ProjectMapKind kind : {ProjectMapKind::kFreeMotion, ProjectMapKind::kPureRotation}) {
    for (bool binary : {false, true}) {
      SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + std::to_string(int(kind)));
      Job saved;
      BuildFullJob(saved, kind);
      const std::string first = kxtest::Save(saved.Contents(), binary);
      LoadedJob restored;
      LogCapture log;
      kxtest::Load(first, restored);
      const CTrackMgrRoot& root = restored.root;
      EXPECT_EQ(root.GetMapKind(), kind);
      EXPECT_EQ(kxtest::Describe(root.Contents()), kxtest::Describe(saved.Contents()));
      // The objects stored with too few vertices come back empty, as they were written.
      VertexObjectPool written;
      for (const PolygonMask& m : saved.pool.GetPolygonMasks()) {
        written.GetPolygonMasks().push_back(m.GetNumVertices() >= 3 ? m : PolygonMask());
      }
      for (const LineStrip& l : saved.pool.GetLineStrips()) written.GetLineStrips().push_back(l);
      for (const FocalGizmo& g : saved.pool.GetFocalGizmos()) {
        written.GetFocalGizmos().push_back(g.GetNumVertices() >= 12 ? g : FocalGizmo());
      }
      for (PolygonMask& m : written.GetPolygonMasks()) m.SetFlags(VERTEX_OBJECT_HAS_COLOR);
      for (LineStrip& l : written.GetLineStrips()) l.SetFlags(VERTEX_OBJECT_HAS_COLOR);
      written.GetPolygonMasks().back().AssignFlags(0);
      EXPECT_EQ(kxtest::DescribeVertexObjects(root.GetVertexObjectPool()),
                kxtest::DescribeVertexObjects(written));
      EXPECT_EQ(kxtest::Save(root.Contents(), binary), first);

      // Linking: every point's index is its list position, the map got the frames and
      // measured itself, the initial camera is the first frame's.
      const auto& points = restored.map.GetFPoint3DList();
      ASSERT_EQ(points.size(), 3u);
      for (size_t i = 0; i < points.size(); ++i) EXPECT_EQ(points[i]->GetId(), int32_t(i));
      EXPECT_EQ(restored.map.GetFImageList().size(), 5u);
      EXPECT_EQ(restored.incremental.size(), 5u);
      EXPECT_EQ(restored.map.mse_calls, 1);
      ASSERT_NE(root.GetInitCamera(), nullptr);
      EXPECT_EQ(root.GetInitCamera()->GetC().x, root.GetImageList()[0]->GetC().x);
      const auto& link = root.GetImageList()[0]->GetFPoints2D()[0]->GetSuccessor();
      ASSERT_TRUE(link);
      EXPECT_EQ(link->GetScore(), 1.0f);
      EXPECT_EQ(root.GetFrameStart(), 10);
      EXPECT_EQ(root.GetFrameEnd(), 14);
      EXPECT_TRUE(restored.cache.TopFieldFirst());
      EXPECT_EQ(restored.cache.GetFieldMode(), 2);
    }
  }
}

// A manager object written by hand around the given fields.
std::string Manager(bool binary, const std::function<void(ProjectBytes&)>& fields) {
  ProjectBytes w(binary);
  w.Begin(PF_KEY_KLX);
  w.Begin(PF_KEY_CTRACKMGR);
  fields(w);
  w.End();
  w.End();
  return w.bytes();
}

// An image with one feature carrying the given stored indices.
void Image(ProjectBytes& w, int index, int32_t fp3di, int32_t next, int32_t support) {
  w.Begin(PF_KEY_FIMAGE);
  w.Key(PF_KEY_INDEX).Int(index).Eol();
  w.Begin(PF_KEY_FP2D);
  w.Key(PF_KEY_FP3DI).Int(fp3di).Eol();
  w.Key(PF_KEY_NFP2DI).Int(next).Eol();
  w.Key(PF_KEY_NFCSUP).Int(support).Eol();
  w.End();
  w.End();
}

void Points(ProjectBytes& w, const ProjectKey& key, int n) {
  w.Begin(key);
  for (int i = 0; i < n; ++i) {
    w.Begin(PF_KEY_FP3D);
    w.Key(PF_KEY_ID).Int(7).Eol();  // a wrong stored index
    w.End();
  }
  w.End();
}

TEST(CTrackMgrRootTest, LinksStoredIndices) {
  struct Case {
    const char* name;
    int32_t fp3di;
    int32_t support;
    bool linked;
    uint32_t flags;
    const char* log;
  };
  const Case cases[] = {
      {"no point", -1, 0x20, false, 0x21, ""},
      {"last point", 1, 0, true, 0, ""},
      {"index = count", 2, 1, false, 1, "bad 3D point index 2 for 2D feature, valid range [0, 1]"},
  };
  for (bool binary : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (binary ? " binary" : " ascii"));
      LoadedJob job;
      LogCapture log;
      kxtest::Load(Manager(binary,
                           [&](ProjectBytes& w) {
                             w.Key(PF_KEY_PATH).Text("C:\\shots").Eol();
                             Image(w, 3, c.fp3di, 0, c.support);
                             Image(w, 4, -1, -1, 0);
                             Points(w, PF_KEY_FMAP_SPHERE, 2);
                           }),
                   job);
      const auto& images = job.root.GetImageList();
      ASSERT_EQ(images.size(), 2u);
      const auto& f = images[0]->GetFPoints2D()[0];
      EXPECT_EQ(bool(f->GetFPoint3D()), c.linked);
      if (c.linked) {
        EXPECT_EQ(f->GetFPoint3D().Get(), job.map.GetFPoint3DList()[1].Get());
      }
      ASSERT_TRUE(f->GetSuccessor());
      EXPECT_EQ(f->GetSuccessor()->GetSecond().Get(), images[1]->GetFPoints2D()[0].Get());
      EXPECT_EQ(images[1]->GetFPoints2D()[0]->GetPredecessor().Get(), f->GetSuccessor().Get());
      EXPECT_EQ(f->GetSuccessor()->GetFlags(), c.flags);
      EXPECT_EQ(job.root.GetMapKind(), ProjectMapKind::kPureRotation);
      EXPECT_EQ(job.map.GetFPoint3DList()[1]->GetId(), 1);
      EXPECT_EQ(job.root.GetFrameStart(), 3);
      EXPECT_EQ(job.root.GetFrameEnd(), 4);
      EXPECT_EQ(job.map.GetFImageList().size(), 2u);
      EXPECT_EQ(log.text.find("bad 3D point") != std::string::npos, *c.log != '\0') << log.text;
      EXPECT_NE(log.text.find(c.log), std::string::npos) << log.text;
      // Any name is joined with '/', a backslash resolved the same way.
      EXPECT_STREQ(job.root.GetImagePath(), "C:\\shots");
    }
  }
}

TEST(CTrackMgrRootTest, JoinImagePath) {
  EXPECT_EQ(JoinImagePath("C:\\shots\\seq", "img.tga"), "C:/shots/seq/img.tga");
  EXPECT_EQ(JoinImagePath("/data/seq", "a\\b.tga"), "/data/seq/a/b.tga");
}

TEST(CTrackMgrRootTest, ManagerAndVertexFields) {
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary);
    LoadedJob job;
    LogCapture log(5);
    kxtest::Load(Manager(binary,
                         [&](ProjectBytes& w) {
                           w.Key(PF_KEY_FRMS).Int(-1).Int(9).Int(2).Eol();
                           w.Begin(PF_KEY_PMASK);
                           w.Key(PF_KEY_FRMS).Int(10).Int(20).Eol();
                           w.Key(PF_KEY_MPROP).Int(3).Eol();
                           w.Key(PF_KEY_MHTPROP).Int(1).Eol();
                           w.End();
                           w.Begin(PF_KEY_FOCAL_GIZMO);
                           w.Key(PF_KEY_NAME).Text("g").Eol();
                           w.End();
                         }),
                 job);
    EXPECT_EQ(job.root.GetFrameStart(), 0);
    EXPECT_EQ(job.root.GetFrameEnd(), 9);
    EXPECT_EQ(job.root.GetFrameStep(), 2);
    const PolygonMask& mask = job.root.GetVertexObjectPool().GetPolygonMasks().front();
    EXPECT_EQ(mask.GetStartIndex(), 10);
    EXPECT_EQ(mask.GetEndIndex(), 20);
    EXPECT_EQ(mask.GetMProp(), 0);
    EXPECT_EQ(mask.GetMHTProp(), 1);
    EXPECT_EQ(job.root.GetVertexObjectPool().GetFocalGizmos().front().GetName(), "g");
    EXPECT_NE(log.text.find("restore FocalGizmo"), std::string::npos);
    EXPECT_NE(log.text.find("empty image list"), std::string::npos);
  }
}

TEST(CTrackMgrRootTest, DamagedFilesFailCleanly) {
  struct Case {
    bool binary;
    std::string vertex_data;  // after the "Data" key
    const char* error;
  };
  const Case cases[] = {
      {false, " ( 1 2 3 ]", "Vertex::CheckForField: can't find vector begin"},
      {false, " [ 1 2 3 ; 4 5 6 ]", "Vertex::CheckForField:  \",\" expected"},
      {true, "\x12", "Vertex::CheckForField: can't find vector begin"},
      {true, std::string("\x13\x42", 2), "Vertex::CheckForField: BIN_VECTOR2 expected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    LoadedJob job;
    LogCapture log;
    const std::string bytes = Manager(c.binary, [&](ProjectBytes& w) {
      Image(w, 0, -1, -1, 0);
      Points(w, PF_KEY_FMAP_FREE_MOVE, 2);
      w.Begin(PF_KEY_LINE_STRIP);
      w.Begin(PF_KEY_VERT);
      w.Key(PF_KEY_DATA).Raw(c.vertex_data).Eol();
      w.End();
      w.End();
    });
    EXPECT_EQ(Thrown([&] { kxtest::Load(bytes, job); }), c.error);
    // Nothing of the failed load stays.
    EXPECT_TRUE(job.root.GetImageList().empty());
    EXPECT_TRUE(job.map.GetFPoint3DList().empty());
    EXPECT_TRUE(job.root.GetVertexObjectPool().GetLineStrips().empty());
  }
  // An unknown binary value that is not an object.
  LoadedJob job;
  LogCapture log;
  const std::string unknown = Manager(true, [&](ProjectBytes& w) {
    Image(w, 0, -1, -1, 0);
    w.Byte(0x7e).Int(5);
  });
  EXPECT_EQ(Thrown([&] { kxtest::Load(unknown, job); }),
            "DataBaseIn::SkipObject: unknown binary field is not an object");
  EXPECT_TRUE(job.root.GetImageList().empty());

  // Every truncation of a full job throws a text and leaves the job empty.
  for (bool binary : {false, true}) {
    Job saved;
    BuildFullJob(saved, ProjectMapKind::kFreeMotion);
    const std::string whole = kxtest::Save(saved.Contents(), binary);
    const size_t body = ProjectBytes(binary).bytes().size();
    // Cut anywhere before the manager object's closing mark.
    const size_t end = binary ? whole.size() - 1 : whole.rfind('}', whole.size() - 3);
    for (size_t cut = body; cut < end; cut += binary ? 1 : 3) {
      LoadedJob truncated;
      LogCapture quiet;
      const std::string error = Thrown([&] { kxtest::Load(whole.substr(0, cut), truncated); });
      ASSERT_NE(error, "") << "binary " << binary << " cut " << cut;
      ASSERT_TRUE(truncated.root.GetImageList().empty()) << cut;
      ASSERT_TRUE(truncated.map.GetFPoint3DList().empty()) << cut;
    }
  }
}

}  // namespace

namespace {

TEST(CTrackMgrRootTest, ClearEmptiesTheJobOnlyWithAMap) {
  LoadedJob job;
  job.root.GetImageList().push_back(SharedPtr<FeatureImage>::Make());
  job.root.SetImagePath("old/path");
  job.root.SetFrameRange(3, 9, 2);
  job.root.GetVertexObjectPool().GetLineStrips().emplace_back();
  {
    LogCapture log(5);
    job.root.Clear();
    EXPECT_NE(log.text.find("1 images removed from memory!"), std::string::npos) << log.text;
  }
  EXPECT_TRUE(job.root.GetImageList().empty());
  EXPECT_TRUE(job.root.GetVertexObjectPool().GetLineStrips().empty());
  EXPECT_EQ(job.root.GetImagePath(), nullptr);
  EXPECT_EQ(job.root.GetFrameStep(), 1);

  CTrackMgrRoot unlinked;
  unlinked.GetImageList().push_back(SharedPtr<FeatureImage>::Make());
  unlinked.SetImagePath("old/path");
  LogCapture log;
  unlinked.Clear();
  EXPECT_NE(log.text.find("FMap not set !"), std::string::npos) << log.text;
  EXPECT_EQ(unlinked.GetImageList().size(), 1u);
  EXPECT_EQ(unlinked.GetImagePath(), nullptr);
}

}  // namespace
