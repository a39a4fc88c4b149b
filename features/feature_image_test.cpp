#include "features/feature_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/project/project_bytes_for_test.h"

namespace {

using kxtest::LogCapture;
using kxtest::ProjectBytes;
using kxtest::TempFile;

using FeaturePtr = SharedPtr<FeaturePoint2D>;

FeaturePtr Feature(FeatureImage& image, double x, double y, uint32_t flags = 0) {
  auto f = FeaturePtr::Make(&image, x, y);
  f->AssignFlags(flags);
  return f;
}

SharedPtr<FeatureCorrespondence> Link(const FeaturePtr& earlier, const FeaturePtr& later) {
  auto link = SharedPtr<FeatureCorrespondence>::Make(earlier, later);
  earlier->SetSuccessor(link);
  later->SetPredecessor(link);
  return link;
}

std::string TempPath(const std::string& stem) {
  return testing::TempDir() + "kx_fimage_" + std::to_string(getpid()) + "_" + stem;
}

bool FileExists(const std::string& path) {
  return std::ifstream(path).good();
}

class CacheOwner : public FeatureImageOwner {
 public:
  ImageCache* GetImageCache() override { return cache; }
  ImageCache* cache = nullptr;
};

TEST(FeatureImageTest, Defaults) {
  FeatureImage image;
  EXPECT_EQ(image.GetFlags(), 0u);
  EXPECT_STREQ(image.GetFileName(), "");
  EXPECT_STREQ(image.GetFPointFileName(), "");
  EXPECT_STREQ(image.GetAuxFileName(), "");
  EXPECT_EQ(image.GetImageIndex(), -1);
  EXPECT_EQ(image.GetFileIndex(), -1);
  EXPECT_TRUE(image.GetFPoints2D().empty());
  EXPECT_TRUE(image.GetAnchors().empty());
  EXPECT_EQ(image.GetMatchCamera(), nullptr);
  for (int i = 0; i < FeatureImage::kStatisticCount; ++i) EXPECT_EQ(image.GetStatistic(i), -1);
  EXPECT_EQ(image.GetMeanSquaredError(), -1.0);
  EXPECT_EQ(image.GetWidth(), PerspectiveCamera().GetWidth());

  LogCapture log;
  image.SetFileName("a.tga");
  image.SetFileName(nullptr);
  EXPECT_STREQ(image.GetFileName(), "a.tga");
  EXPECT_TRUE(log.Has("Warning: str==NULL !")) << log.text;
}

TEST(FeatureImageTest, RemoveUnlinksAndMarksThePoint) {
  FeatureImage i0, i1, i2;
  i0.SetImageIndex(0);
  i1.SetImageIndex(1);
  i2.SetImageIndex(2);
  FeaturePtr p = Feature(i0, 1, 1), q = Feature(i1, 2, 2), r = Feature(i2, 3, 3);
  i0.AddFPoint2D(p);
  i1.AddFPoint2D(Feature(i1, 9, 9));
  EXPECT_EQ(i1.AddFPoint2D(q), 2u);
  i1.AddFPoint2D(Feature(i1, 8, 8));
  i2.AddFPoint2D(r);
  Link(p, q);
  Link(q, r);
  auto point = SharedPtr<FeaturePoint3D>::Make(1.0, 2.0, 3.0, FeaturePoint3D::eCartesian);
  q->SetFPoint3D(point);

  EXPECT_EQ(FindTrackPointInImage(p, 2), r);
  EXPECT_EQ(FindTrackPointInImage(r, 0), p);

  FeaturePtr stranger = Feature(i1, 5, 5);
  EXPECT_FALSE(i1.RemoveFPoint2D(stranger));
  EXPECT_FALSE(i1.RemoveFPoint2D(FeaturePtr()));
  EXPECT_EQ(i1.GetFPoints2D().size(), 3u);

  EXPECT_TRUE(i1.RemoveFPoint2D(q));
  ASSERT_EQ(i1.GetFPoints2D().size(), 2u);
  EXPECT_EQ(i1.GetFPoints2D()[0]->x, 9);  // the others keep their order
  EXPECT_EQ(i1.GetFPoints2D()[1]->x, 8);
  EXPECT_FALSE(p->GetSuccessor());
  EXPECT_FALSE(r->GetPredecessor());
  EXPECT_FALSE(q->GetPredecessor());
  EXPECT_FALSE(q->GetSuccessor());
  EXPECT_TRUE(point->TestFlags(FP3D_FLAG_REMOVED));
  EXPECT_EQ(q->GetFPoint3D(), point);  // the feature keeps its own link
  EXPECT_EQ(q.RefCount(), 1);          // only the test's handle is left
  EXPECT_FALSE(i1.RemoveFPoint2D(q));

  // An anchor is found in the anchor list.
  FeaturePtr anchor = Feature(i1, 4, 4, FP2D_FLAG_ANCHOR);
  i1.AddAnchor(Feature(i1, 7, 7, FP2D_FLAG_ANCHOR));
  EXPECT_EQ(i1.AddAnchor(anchor), 2u);
  EXPECT_TRUE(i1.RemoveFPoint2D(anchor));
  ASSERT_EQ(i1.GetAnchors().size(), 1u);
  EXPECT_EQ(i1.GetAnchors()[0]->x, 7);
  EXPECT_EQ(i1.GetFPoints2D().size(), 2u);
}

TEST(FeatureImageTest, ClearManualOrAuto) {
  for (bool manual : {true, false}) {
    FeatureImage before, image;
    std::vector<FeaturePtr> made;
    for (uint32_t flags :
         {uint32_t{FP2D_FLAG_MANUAL}, 0u, FP2D_FLAG_MANUAL | FP2D_FLAG_QUOTA, 0u}) {
      made.push_back(Feature(image, made.size(), 0, flags));
      image.AddFPoint2D(made.back());
      FeaturePtr earlier = Feature(before, 0, 0);
      before.AddFPoint2D(earlier);
      Link(earlier, made.back());
    }
    auto point = SharedPtr<FeaturePoint3D>::Make(FeaturePoint3D::eCartesian);
    made[0]->SetFPoint3D(point);
    made[1]->SetFPoint3D(point);
    image.AddAnchor(Feature(image, 0, 0, FP2D_FLAG_ANCHOR | FP2D_FLAG_MANUAL));

    image.ClearManualOrAutoFPoints2D(manual);
    const std::vector<double> kept = manual ? std::vector<double>{1, 3} : std::vector<double>{0, 2};
    ASSERT_EQ(image.GetFPoints2D().size(), kept.size()) << manual;
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(image.GetFPoints2D()[i]->x, kept[i]);
    for (const FeaturePtr& f : made) {
      const bool stays = f->TestFlags(FP2D_FLAG_MANUAL) != manual;
      EXPECT_EQ(static_cast<bool>(f->GetPredecessor()), stays) << f->x;
      EXPECT_EQ(static_cast<bool>(before.GetFPoints2D()[size_t(f->x)]->GetSuccessor()), stays);
    }
    EXPECT_EQ(image.GetAnchors().size(), 1u);
    EXPECT_FALSE(point->TestFlags(FP3D_FLAG_REMOVED));
  }
}

TEST(FeatureImageTest, CountsOfCorrespondences) {
  FeatureImage before, image, after;
  EXPECT_FALSE(image.HasCorrespondences(true, 0));  // an empty list
  EXPECT_EQ(image.CountCorrespondences(true), 0);
  // Five features: predecessors on 0, 2, 3; successors on 3 and 4; an anchor with both.
  std::vector<FeaturePtr> f;
  for (int i = 0; i < 5; ++i) {
    f.push_back(Feature(image, i, 0));
    image.AddFPoint2D(f.back());
  }
  for (int i : {0, 2, 3}) Link(Feature(before, 0, 0), f[size_t(i)]);
  for (int i : {3, 4}) Link(f[size_t(i)], Feature(after, 0, 0));
  FeaturePtr anchor = Feature(image, 0, 0, FP2D_FLAG_ANCHOR);
  image.AddAnchor(anchor);
  Link(Feature(before, 0, 0), anchor);
  Link(anchor, Feature(after, 0, 0));

  EXPECT_EQ(image.CountCorrespondences(true), 3);
  EXPECT_EQ(image.CountCorrespondences(false), 2);
  const struct {
    bool predecessor;
    uint32_t n;
    bool expected;
  } cases[] = {{true, 0, true},  {true, 3, true},   {true, 4, false},   {false, 0, true},
               {false, 2, true}, {false, 3, false}, {true, ~0u, false}, {false, 1, true}};
  for (const auto& k : cases) {
    EXPECT_EQ(image.HasCorrespondences(k.predecessor, k.n), k.expected)
        << k.predecessor << " " << k.n;
  }
}

TEST(FeatureImageTest, DestructionUnlinksTracks) {
  FeatureImage before;
  FeaturePtr earlier = Feature(before, 0, 0);
  before.AddFPoint2D(earlier);
  SharedPtr<FeatureCorrespondence> link;
  {
    FeatureImage image;
    FeaturePtr later = Feature(image, 1, 1);
    FeaturePtr anchor = Feature(image, 1, 1, FP2D_FLAG_ANCHOR);
    image.AddFPoint2D(later);
    image.AddAnchor(anchor);
    link = Link(earlier, later);
    Link(anchor, Feature(before, 2, 2));
    image.InitMatchCamera(image);
  }
  EXPECT_FALSE(earlier->GetSuccessor());
  EXPECT_EQ(link.RefCount(), 1);
  EXPECT_EQ(link->GetSecond().RefCount(), 1);  // the image let go of the later feature
}

TEST(FeatureImageTest, MatchCameraIsMadeOnce) {
  FeatureImage image;
  PerspectiveCamera a, b;
  a.SetFocalLength(20.0);
  a.SetDistortion(1e-4, 2e-6, 0, Poly5);
  b.SetFocalLength(70.0);
  image.InitMatchCamera(a);
  PerspectiveCamera* match = image.GetMatchCamera();
  ASSERT_NE(match, nullptr);
  image.InitMatchCamera(b);
  EXPECT_EQ(image.GetMatchCamera(), match);
  EXPECT_DOUBLE_EQ(match->GetFocalLength(), 20.0);
  EXPECT_EQ(match->GetDistortionCoefficients()[0], 1e-4);
  EXPECT_EQ(match->GetDistortionModel(), Poly5);
}

TEST(FeatureImageTest, LuminancePictureFromTheCache) {
  // A 6 x 4 grey frame: its luminance is its grey value.
  const std::string path = TempPath("frame.pgm");
  {
    std::ofstream out(path, std::ios::binary);
    out << "P5\n6 4\n255\n";
    for (int i = 0; i < 24; ++i) out.put(static_cast<char>(10 * i + 3));
  }
  ImageCache cache;
  PackedStringListPtr list;
  list.Allocate();
  list->Append(path.c_str(), 0);
  ASSERT_EQ(cache.SetImageList(list, -1, -1), 0);
  CacheOwner owner;
  owner.cache = &cache;

  FeatureImage image(&owner);
  image.SetImageIndex(0);
  CPicture<uint8_t>* picture = image.GetLumPicture();
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->Width(), 6u);
  EXPECT_EQ(picture->Height(), 4u);
  EXPECT_EQ(picture->Bands(), 1u);
  EXPECT_EQ(picture->RowStride(), 16u);
  for (uint32_t y = 0; y < 4; ++y) {
    for (uint32_t x = 0; x < 6; ++x) EXPECT_EQ(picture->GetElement(x, y, 0), 10 * (6 * y + x) + 3);
  }
  // The image holds the frame: the cache dropping it changes nothing for the picture.
  cache.ClearCache();
  EXPECT_EQ(image.GetLumPicture(), picture);
  EXPECT_EQ(picture->GetElement(5, 3, 0), 233);
  image.ReleaseLumPicture();
  EXPECT_EQ(picture->Width(), 0u);
  EXPECT_EQ(picture->Bands(), 1u);
  EXPECT_EQ(picture->Data(), nullptr);
  EXPECT_NE(image.GetLumPicture(), nullptr);  // fetched again

  // A frame the cache does not have.
  FeatureImage missing(&owner);
  missing.SetImageIndex(7);
  missing.SetFileName("shot/f7.pgm");
  LogCapture log;
  EXPECT_EQ(missing.GetLumPicture(), nullptr);
  EXPECT_TRUE(log.Has("Warning: can't get image \"shot/f7.pgm\"")) << log.text;
  std::remove(path.c_str());
}

TEST(FeatureImageTest, NoOwnerOrNoCacheGivesNoPicture) {
  CacheOwner owner;  // no cache
  FeatureImage orphan, cacheless(&owner);
  cacheless.SetFileName("x.tga");
  {
    LogCapture log;
    EXPECT_EQ(orphan.GetCTrackMgr(), nullptr);
    EXPECT_FALSE(orphan.GetCacheEntry());
    EXPECT_EQ(orphan.GetLumPicture(), nullptr);
    EXPECT_TRUE(log.Has("Warning: camera tracking manager null")) << log.text;
    EXPECT_TRUE(log.Has("Warning: can't get image \"not set\"")) << log.text;
  }
  LogCapture log;
  EXPECT_EQ(cacheless.GetCTrackMgr(), &owner);
  EXPECT_EQ(cacheless.GetLumPicture(), nullptr);
  EXPECT_TRUE(log.Has("can't get image \"x.tga\"")) << log.text;
  EXPECT_FALSE(log.Has("manager null"));
}

TEST(FeatureImageTest, SaveFPointsTarget) {
  FeatureImage image;
  image.AddFPoint2D(Feature(image, 1.5, 2.5));
  const std::string given = TempPath("given.fpt"), stored = TempPath("stored.fpt");
  {
    LogCapture log;
    EXPECT_FALSE(image.SaveFPoints(nullptr));
    EXPECT_FALSE(image.SaveFPoints(""));
    EXPECT_TRUE(log.Has("Warning: fpoint_file_name empty !")) << log.text;
  }
  EXPECT_TRUE(image.SaveFPoints(given.c_str()));
  EXPECT_TRUE(FileExists(given));
  image.SetFPointFileName(stored.c_str());
  EXPECT_TRUE(image.SaveFPoints(nullptr));
  std::ifstream in(stored);
  std::string header, line;
  std::getline(in, header);
  std::getline(in, line);
  EXPECT_EQ(header, "#FPOINT V2.0");
  EXPECT_EQ(line, "1.5\t2.5\t0\t0\t0\t0\t0\t0\t0\t0\t0\t0");
  std::remove(given.c_str());
  std::remove(stored.c_str());
}

// An "FImage" object as the project writer stores it, in either mode.
std::string ImageObject(bool binary, const PerspectiveCamera& cam) {
  ProjectBytes w(binary);
  w.Begin(PF_KEY_FIMAGE);
  w.Key(PF_KEY_FILENAME).Text("img0007.tga").Eol();
  w.Key(PF_KEY_FILE_INDEX).Int(12).Eol();
  w.Key(PF_KEY_INDEX).Int(7).Eol();
  w.Key(PF_KEY_FLGS).Int(0x10008).Eol();
  if (binary) {
    w.Byte(PF_CAMERA_RECORD);
    for (const vm::Vector3* v : {&cam.GetC(), &cam.GetA(), &cam.GetH(), &cam.GetV()}) {
      w.Real(v->x).Real(v->y).Real(v->z);
    }
    w.Int(int32_t(cam.GetWidth())).Int(int32_t(cam.GetHeight()));
    w.Real(cam.GetPixelSizeX()).Real(cam.GetPixelSizeY());
    w.Real(cam.GetDistortionCoefficients()[0]).Real(cam.GetDistortionCoefficients()[1]);
    w.Int(1);
  } else {
    const vm::Vector3& c = cam.GetC();
    const vm::Vector3& h = cam.GetH();
    w.Key(PF_KEY_CVEC).Real(c.x).Real(c.y).Real(c.z).Eol();
    w.Key(PF_KEY_HVEC).Real(h.x).Real(h.y).Real(h.z).Eol();
    w.Key(PF_KEY_WIDTH).Int(int32_t(cam.GetWidth())).Eol();
    w.Key(PF_KEY_HEIGHT).Int(int32_t(cam.GetHeight())).Eol();
    w.Key(PF_KEY_RAD_DIST_K3).Real(cam.GetDistortionCoefficients()[0]).Eol();
    w.Key(PF_KEY_RAD_DIST_TYPE).Int(1).Eol();
  }
  // A feature, an anchor, another feature; then a field nobody knows.
  const struct {
    double x, y;
    int32_t flags;
  } points[] = {{10.5, 20.25, 0x1000}, {3.0, 4.0, 0x48}, {30.0, 40.0, 0x8}};
  for (const auto& p : points) {
    w.Begin(PF_KEY_FP2D);
    w.Key(PF_KEY_VEC2).Real(p.x).Real(p.y).Eol();
    w.Key(PF_KEY_FP3DI).Int(-1).Eol();
    w.Key(PF_KEY_NFP2DI).Int(2).Eol();
    w.Key(PF_KEY_NFCSUP).Int(0x21).Eol();
    w.Key(PF_KEY_FLGS).Int(p.flags).Eol();
    w.End();
  }
  // A stray field (in binary only an object can be skipped).
  if (binary) {
    w.Begin(PF_KEY_MPROP).End();
  } else {
    w.Key(PF_KEY_MPROP).Int(5).Eol();
  }
  w.End();
  return w.bytes();
}

TEST(FeatureImageTest, RestoreFromProjectFile) {
  PerspectiveCamera cam;
  const double none[4] = {0, 0, 0, 0};
  cam.SetAll({100.0, -50.0, 2500.0}, {0.0, 0.0, 1.0}, {1200.0, 0.0, 320.0}, {0.0, 1200.0, 240.0},
             1920, 1080, 0.0125, 0.0125, none, none, Poly3);
  cam.SetDistortion(-2.5e-4, 0.0, 0, Poly3);
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "ascii");
    TempFile file(ImageObject(binary, cam));
    DataBaseIn in;
    in.Open(file.path());
    ASSERT_TRUE(kxtest::ReadObjectKey(in, PF_KEY_FIMAGE));
    FeatureImage image;
    {
      LogCapture log;
      image.RestoreObject(in);
      EXPECT_TRUE(log.Has("unknown")) << log.text;  // the stray field was skipped
    }
    EXPECT_STREQ(image.GetFileName(), "img0007.tga");
    EXPECT_EQ(image.GetFileIndex(), 12);
    EXPECT_EQ(image.GetImageIndex(), 7);
    EXPECT_EQ(image.GetFlags(), 0x10008u);
    EXPECT_FLOAT_EQ(image.GetC().z, 2500.0);
    EXPECT_FLOAT_EQ(image.GetH().x, 1200.0);
    EXPECT_EQ(image.GetWidth(), 1920u);
    EXPECT_EQ(image.GetHeight(), 1080u);
    EXPECT_FLOAT_EQ(image.GetDistortionCoefficients()[0], -2.5e-4);
    EXPECT_EQ(image.GetDistortionModel(), Poly5);

    ASSERT_EQ(image.GetFPoints2D().size(), 2u);
    ASSERT_EQ(image.GetAnchors().size(), 1u);
    const FeaturePoint2D& first = *image.GetFPoints2D()[0];
    EXPECT_EQ(first.x, 10.5);
    EXPECT_EQ(first.y, 20.25);
    EXPECT_EQ(first.GetFlags(), 0x1000u);
    EXPECT_EQ(first.GetSuccessorIndex(), 2);
    EXPECT_EQ(first.GetSuccessorFlags(), 0x21u);
    EXPECT_EQ(first.GetImage(), &image);
    EXPECT_EQ(image.GetFPoints2D()[1]->x, 30.0);
    EXPECT_EQ(image.GetAnchors()[0]->GetFlags(), 0x48u);
    EXPECT_EQ(image.GetAnchors()[0]->GetImage(), &image);
  }
}

}  // namespace
