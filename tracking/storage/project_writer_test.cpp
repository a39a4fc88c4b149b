#include "tracking/storage/project_writer.h"

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
#include "tracking/objects/vertex_object_pool.h"
#include "tracking/storage/project_job_for_test.h"

namespace {

using kxtest::BuildFixture;
using kxtest::BuildVertexObjects;
using kxtest::Describe;
using kxtest::Job;
using kxtest::Load;
using kxtest::LoadedJob;
using kxtest::Save;

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
      // A restored point's index is its written position.
      int32_t position = 0;
      for (auto& point : saved.points) {
        if (point) point->SetId(position++);
      }
      const std::string first = Save(saved.Contents(), binary);
      LoadedJob restored;
      kxtest::LogCapture log;
      Load(first, restored);
      ASSERT_EQ(restored.root.GetImageList().size(), 5u);
      EXPECT_EQ(restored.root.GetMapKind(), kind);
      EXPECT_STREQ(restored.root.GetImagePath(), "shots/seq1");
      EXPECT_EQ(Describe(restored.root.Contents()), Describe(saved.Contents()));
      // Names come back with the first frame's directory; an empty name stays empty.
      const char* names[5] = {"shots/seq1/img0010.tga", "shots/seq1/img0011.tga",
                              "shots/seq1/img0012.tga", "", "shots/seq1/img0014.tga"};
      for (int k = 0; k < 5; ++k) {
        EXPECT_STREQ(restored.root.GetImageList()[k]->GetFileName(), names[k]);
      }
      EXPECT_EQ(Save(restored.root.Contents(), binary), first);
    }
  }
}

// Folders longer than the format's usual text limit, and a first name that is only a
// folder, come back whole: a second save writes the same bytes.
TEST(ProjectWriterTest, FileNamesOfAnyLengthRoundTrip) {
  const std::string deep = "/" + std::string(150, 'a') + "/" + std::string(150, 'b');
  struct Case {
    const char* what;
    std::string first;  // the first image's name; the others are in `folder`
    std::string folder;
  };
  const Case cases[] = {
      {"folder of 300 characters", deep + "/img0010.tga", deep},
      {"first name ends with a separator", "shots/seq1/", "shots/seq1"},
  };
  for (const Case& c : cases) {
    for (bool binary : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (binary ? " binary" : " ascii"));
      Job saved;
      BuildFixture(saved);
      std::vector<std::string> names;
      int k = 0;
      for (auto& image : saved.images) {
        if (!image) continue;
        names.push_back(k == 0 ? c.first : c.folder + "/img001" + std::to_string(k) + ".tga");
        image->SetFileName(names.back().c_str());
        ++k;
      }
      const std::string first = Save(saved.Contents(), binary);
      LoadedJob restored;
      kxtest::LogCapture log;
      Load(first, restored);
      ASSERT_EQ(restored.root.GetImageList().size(), names.size());
      for (size_t i = 1; i < names.size(); ++i) {
        EXPECT_EQ(restored.root.GetImageList()[i]->GetFileName(), names[i]);
      }
      EXPECT_EQ(Save(restored.root.Contents(), binary), first);
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
    const std::string bytes = Save(job.Contents(), binary);
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
    const std::string bytes = Save(job.Contents(), true);
    const std::string head = std::string("\x08\x10\x60\x10", 4) + c.expected_binary + "\x63\x10";
    EXPECT_EQ(bytes.substr(bytes.find('\n', bytes.find("Endian")) + 1, head.size()), head);
    const std::string ascii = Save(job.Contents(), false);
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
  const std::string text = Save(job.Contents(), false);
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
