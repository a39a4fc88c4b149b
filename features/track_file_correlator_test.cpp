#include "features/track_file_correlator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "features/feature_correlator_syn.h"
#include "features/feature_image.h"
#include "foundation/project/project_bytes_for_test.h"

namespace {

using kxtest::LogCapture;
using kxtest::TempFile;
using Reader = FeatureCorrelatorReadFT2DFile;

struct Images {
  explicit Images(int n) {
    for (int i = 0; i < n; ++i) {
      list.push_back(std::make_unique<FeatureImage>());
      list.back()->SetImageIndex(i);
    }
  }
  ~Images() {
    for (auto& image : list) image->ClearFPoints2D();
  }
  FeatureImage* operator[](int i) { return list[size_t(i)].get(); }
  std::vector<std::unique_ptr<FeatureImage>> list;
};

int32_t Step(Reader& reader, FeatureImage* first, FeatureImage* second) {
  reader.SetFeatureImages(first, second);
  return reader.Compute();
}

TEST(TrackFileCorrelatorTest, ThreeLineExample) {
  TempFile file("0 10.5 20.25 -1 0 -1 0\n1 30 40 -1 0 -1 1\n0 11 21 0 1 0 0\n");
  Reader reader;
  reader.SetPath(file.path());
  Images images(2);
  EXPECT_EQ(Step(reader, images[0], images[1]), 1);
  EXPECT_EQ(reader.GetTrackedCount(), 1u);
  EXPECT_EQ(reader.GetLostFeatureCount(), 1u);
  EXPECT_EQ(reader.GetReadCount(), 1u);

  const auto& f0 = images[0]->GetFPoints2D();
  ASSERT_EQ(f0.size(), 2u);
  EXPECT_EQ(f0[0]->x, 10.5);
  EXPECT_EQ(f0[0]->y, 20.25);
  EXPECT_EQ(f0[0]->GetFlags(), uint32_t{FP2D_FLAG_NEW_TRACK});
  EXPECT_EQ(f0[1]->GetFlags(), FP2D_FLAG_NEW_TRACK | FP2D_FLAG_QUOTA);
  EXPECT_EQ(f0[1]->GetTrackNumber(), 1);
  const auto& f1 = images[1]->GetFPoints2D();
  ASSERT_EQ(f1.size(), 1u);
  EXPECT_EQ(f1[0]->GetImage(), images[1]);
  EXPECT_EQ(f1[0]->GetFlags(), 0u);
  ASSERT_TRUE(f1[0]->GetPredecessor());
  EXPECT_EQ(f1[0]->GetPredecessor()->GetFirst(), f0[0]);
  EXPECT_EQ(f0[0]->GetSuccessor(), f1[0]->GetPredecessor());
  ASSERT_EQ(reader.GetCorrespondences().size(), 1u);
  EXPECT_EQ(reader.GetCorrespondences()[0], f1[0]->GetPredecessor());

  // The file has ended: a further pair reads nothing.
  Images more(3);
  EXPECT_EQ(Step(reader, images[1], more[2]), 0);
  EXPECT_TRUE(more[2]->GetFPoints2D().empty());
  EXPECT_TRUE(reader.GetCorrespondences().empty());
}

TEST(TrackFileCorrelatorTest, ForwardReadingSkipsAndReopens) {
  // Blocks for images 0 .. 4; image 2 is partly mislabelled; image 4 comes from an export
  // (six fields).
  TempFile file(
      "0 1 1 -1 0 -1 0\n1 2 2 -1 0 -1 0\n"
      "0 1.5 1 1 1 0 1\n1 2.5 2 0 1 0 0\n2 3.5 3 -1 1 -1 0\n"
      "0 1.75 1 0 2 1 0\n1 2.75 2 9 2 1 0\n2 3.75 3 2 7 1 0\r\n"
      "0 5 5 -1 3 -1 0\n1 6 6 -1 3 -1 1\n"
      "0 5.5 5 1 4 3\n1 6.5 6 0 4 3\n");
  Reader reader;
  reader.SetPath(file.path());
  Images images(5);
  EXPECT_EQ(Step(reader, images[0], images[1]), 2);
  EXPECT_EQ(images[1]->GetFPoints2D()[0]->GetPredecessor()->GetFirst()->x, 2.0);
  {
    LogCapture log;
    EXPECT_EQ(Step(reader, images[1], images[2]), 2);  // predecessor 9 does not exist
    EXPECT_TRUE(log.Has("image indices of feature 2 are 7 1 (expect 2 1)")) << log.text;
    EXPECT_FALSE(log.Has("feature 0 are"));
  }
  EXPECT_TRUE(images[2]->GetFPoints2D()[1]->TestFlags(FP2D_FLAG_NEW_TRACK));
  EXPECT_EQ(images[2]->GetFPoints2D()[2]->x, 3.75);  // the CR LF line

  // Skipping image 3's pair: its block is read first, without predecessors.
  Images fresh(5);
  EXPECT_EQ(Step(reader, fresh[3], fresh[4]), 2);
  ASSERT_EQ(fresh[3]->GetFPoints2D().size(), 2u);
  for (const auto& f : fresh[3]->GetFPoints2D()) EXPECT_FALSE(f->GetPredecessor());
  ASSERT_EQ(fresh[4]->GetFPoints2D().size(), 2u);
  EXPECT_EQ(fresh[4]->GetFPoints2D()[0]->GetPredecessor()->GetFirst()->x, 6.0);
  EXPECT_FALSE(fresh[4]->GetFPoints2D()[0]->TestFlags(FP2D_FLAG_QUOTA));  // no flag: 0
  EXPECT_EQ(reader.GetLostFeatureCount(), 0u);

  // The pair (0, 1) opens the file again.
  Images again(2);
  EXPECT_EQ(Step(reader, again[0], again[1]), 2);
  EXPECT_EQ(again[1]->GetFPoints2D().size(), 3u);
}

TEST(TrackFileCorrelatorTest, BadFilesReadNothing) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* message;
    size_t first, second;
  };
  const Case cases[] = {
      {"five fields first", "0 1 1 -1 0\n0 2 2 0 1 0 0\n", "error reading correspondences", 0, 0},
      {"not numbered 0", "1 1 1 -1 0 -1 0\n0 2 2 0 1 0 0\n", "error reading correspondences", 0, 0},
      {"empty", "", "error reading correspondences", 0, 0},
      {"decimal comma", "0 1,5 1 -1 0 -1 0\n", "error reading correspondences", 0, 0},
      {"short line later", "0 1 1 -1 0 -1 0\n1 2 2 -1 0 -1 0\n0 3 3 0 1\n0 4 4 0 1 0 0\n", "", 2,
       0},
      {"number out of range", "0 1 1 -1 0 -1 0\n0 2 2 99999999999 1 0 0\n", "", 1, 0},
      {"bad flag", "0 1 1 -1 0 -1 0\n0 2 2 0 1 0 x\n", "", 1, 0},
      {"flag out of range", "0 1 1 -1 0 -1 0\n0 2 2 0 1 0 99999999999\n", "", 1, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    TempFile file(k.bytes);
    Reader reader;
    reader.SetPath(file.path());
    Images images(3);
    LogCapture log;
    EXPECT_EQ(Step(reader, images[0], images[1]), 0);
    if (k.message[0] != '\0') {
      EXPECT_TRUE(log.Has(k.message)) << log.text;
    }
    EXPECT_EQ(images[0]->GetFPoints2D().size(), k.first);
    EXPECT_EQ(images[1]->GetFPoints2D().size(), k.second);
    EXPECT_EQ(Step(reader, images[1], images[2]), 0);
    EXPECT_TRUE(images[2]->GetFPoints2D().empty());
  }

  Reader missing;
  missing.SetPath(testing::TempDir().append("kx_no_such.ft2d").c_str());
  Images images(2);
  LogCapture log;
  EXPECT_EQ(Step(missing, images[0], images[1]), 0);
  EXPECT_TRUE(log.Has("could not open correspondences file")) << log.text;
  EXPECT_TRUE(images[0]->GetFPoints2D().empty());
  EXPECT_EQ(Step(missing, images[1], nullptr), 0);  // reported by SetFeatureImages
}

TEST(TrackFileCorrelatorTest, CloneRefuses) {
  TempFile file("0 1 1 -1 0 -1 0\n0 2 2 0 1 0 0\n");
  Reader reader;
  reader.SetPath(file.path());
  LogCapture log;
  EXPECT_FALSE(reader.Clone());
  EXPECT_TRUE(log.Has("Warning: this method has side effects: dont use")) << log.text;
  Images images(2);
  EXPECT_EQ(Step(reader, images[0], images[1]), 1);
}

// Synthetic tracks written as a track file (with and without the flag column) read back as
// the same tracks.
TEST(TrackFileCorrelatorTest, RoundTripOfSyntheticTracks) {
  const int kImages = 5;
  FeatureCorrelatorSyn templ;
  FeatureCorrelatorSyn::Parameter& p = templ.GetParameter();
  p = FeatureCorrelatorSyn::Parameter();
  p.m_nf = 3000;
  p.m_dp = 0.02;
  p.m_std_d = 0.3;
  Images source(kImages);
  std::vector<SharedPtr<FeatureCorrelator>> clones;
  templ.Init3DScene();
  for (int k = 0; k + 1 < kImages; ++k) {
    clones.push_back(templ.Clone());
    clones.back()->SetFeatureImages(source[k], source[k + 1]);
    clones.back()->Compute();
  }
  for (int i = 0; i < kImages; ++i) {
    int j = 0;
    for (const auto& f : source[i]->GetFPoints2D()) {
      if (j++ % 3 == 0) f->SetFlags(FP2D_FLAG_QUOTA);
    }
  }

  for (bool with_flag : {true, false}) {
    SCOPED_TRACE(with_flag ? "seven fields" : "six fields");
    std::string text;
    for (int i = 0; i < kImages; ++i) {
      const auto& list = source[i]->GetFPoints2D();
      const auto& earlier = i > 0 ? source[i - 1]->GetFPoints2D() : list;
      for (size_t j = 0; j < list.size(); ++j) {
        const FeaturePoint2D& f = *list[j];
        long predecessor = -1;
        if (f.GetPredecessor()) {
          for (size_t e = 0; e < earlier.size(); ++e) {
            if (earlier[e] == f.GetPredecessor()->GetFirst()) predecessor = long(e);
          }
        }
        char line[200];
        std::snprintf(line, sizeof line, "%zu %.17g %.17g %ld %d %d", j, f.x, f.y, predecessor, i,
                      i - 1);
        text += line;
        if (with_flag) text += f.TestFlags(FP2D_FLAG_QUOTA) ? " 1" : " 0";
        text += '\n';
      }
    }
    TempFile file(text);
    Reader reader;
    reader.SetPath(file.path());
    Images read(kImages);
    for (int i = 0; i + 1 < kImages; ++i) {
      EXPECT_EQ(Step(reader, read[i], read[i + 1]), source[i + 1]->CountCorrespondences(true));
    }
    for (int i = 0; i < kImages; ++i) {
      const auto& a = source[i]->GetFPoints2D();
      const auto& b = read[i]->GetFPoints2D();
      ASSERT_EQ(a.size(), b.size()) << i;
      for (size_t j = 0; j < a.size(); ++j) {
        EXPECT_EQ(a[j]->x, b[j]->x);
        EXPECT_EQ(a[j]->y, b[j]->y);
        EXPECT_EQ(b[j]->TestFlags(FP2D_FLAG_QUOTA), with_flag && a[j]->TestFlags(FP2D_FLAG_QUOTA));
        ASSERT_EQ(static_cast<bool>(a[j]->GetPredecessor()),
                  static_cast<bool>(b[j]->GetPredecessor()));
        EXPECT_EQ(b[j]->TestFlags(FP2D_FLAG_NEW_TRACK), !b[j]->GetPredecessor());
        if (!a[j]->GetPredecessor()) continue;
        const FeaturePoint2D& ea = *a[j]->GetPredecessor()->GetFirst();
        const FeaturePoint2D& eb = *b[j]->GetPredecessor()->GetFirst();
        EXPECT_EQ(ea.x, eb.x);
        EXPECT_EQ(ea.y, eb.y);
        EXPECT_EQ(eb.GetImage(), read[i - 1]);
      }
    }
  }
  clones.clear();
}

}  // namespace
