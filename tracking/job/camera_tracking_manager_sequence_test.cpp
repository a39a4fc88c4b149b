#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "image/image_file_io.h"
#include "image/image_list.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"
#include "tracking/job/camera_tracking_manager.h"
#include "tracking/storage/project_job_for_test.h"

namespace {

using kxtest::LogCapture;
using kxtest::TempDir;

constexpr double kDefaultSx = 0.10666666666666667;
constexpr double kHalfFov = 0.34557519189487729;  // half of 39.6 degrees

// The manager with the members these tests look at.
class Manager : public CameraTrackingManager {
 public:
  using CameraTrackingManager::m_new_image_flags;
  using CameraTrackingManager::m_reverse;
  using CameraTrackingManager::m_sequence_template;
  using CameraTrackingManager::m_sequence_text1;
  using CameraTrackingManager::m_sequence_text2;
};

// A manager whose Clear can reach a feature map (its own, or a counting one).
struct Job {
  kxtest::ProjectMapForTest map;
  Manager mgr;
  Job() {
    if (mgr.GetLinks().map != nullptr) return;
    CTrackMgrRoot::Links links;
    links.map = &map;
    links.image_cache = mgr.GetImageCache();
    links.image_owner = &mgr;
    mgr.SetLinks(links);
  }
  ~Job() {
    for (auto& image : mgr.GetImageList()) {
      if (image) image->ClearFPoints2D();
    }
  }
  std::vector<SharedPtr<FeatureImage>>& images() { return mgr.GetImageList(); }
};

void WritePng(const std::string& path, int width, int height) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  auto ctx = std::make_unique<ImageFileIO::ImageFileContext>();
  ASSERT_EQ(
      ImageFileIO::OpenWrite(ctx.get(), path.c_str(), ImageFileIO::kWritePNG, width, height, 24), 0)
      << path;
  std::vector<uint32_t> row(size_t(width), 0x406080);
  for (int y = 0; y < height; ++y) ASSERT_EQ(ImageFileIO::WriteRow(row.data(), ctx.get()), 0);
  ASSERT_EQ(ImageFileIO::Close(ctx.get()), 0);
}

// Gives an image another frame size, everything else kept.
void Resize(PerspectiveCamera& c, uint32_t w, uint32_t h) {
  c.SetAll(c.GetC(), c.GetA(), c.GetH(), c.GetV(), w, h, c.GetPixelSizeX(), c.GetPixelSizeY(),
           c.GetDistortionCoefficients(), c.GetFurtherValues(), c.GetDistortionModel());
}

bool Logged(const LogCapture& log, const std::string& text) {
  return log.text.find(text) != std::string::npos;
}

// img0001, img0002, img0004, img0005 (8 x 6; frame 3 missing) and a list file naming
// img0002, the missing img0003 and img0001 in that order.
class SequenceDir : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int n : {1, 2, 4, 5}) WritePng(dir.File("img000" + std::to_string(n) + ".png"), 8, 6);
    kxtest::WriteFile(dir.File("shots.txt"), "# shots\nimg0002.png\n\nimg0003.png\nimg0001.png\n");
  }
  std::string Template() const { return dir.File("img####.png"); }
  TempDir dir;
};

// ---- building a job

TEST_F(SequenceDir, JobFromTemplateRangeOrListInEveryFieldMode) {
  struct File {
    const char* name;
    int32_t number;
  };
  struct Case {
    const char* name;
    std::string templ;
    int first, last, step;
    bool reverse;
    std::vector<File> files;
  };
  const Case cases[] = {
      // A closed range names every number; the missing frame keeps its place.
      {"closed",
       Template(),
       1,
       5,
       1,
       false,
       {{"img0001.png", 1},
        {"img0002.png", 2},
        {"img0003.png", 3},
        {"img0004.png", 4},
        {"img0005.png", 5}}},
      // A negative step lists the same files in order and marks the job reversed.
      {"reverse",
       Template(),
       1,
       5,
       -2,
       true,
       {{"img0001.png", 1}, {"img0003.png", 3}, {"img0005.png", 5}}},
      // The directory search skips the missing frame.
      {"open",
       Template(),
       -1,
       -1,
       1,
       false,
       {{"img0001.png", 1}, {"img0002.png", 2}, {"img0004.png", 4}, {"img0005.png", 5}}},
      {"open from 2",
       Template(),
       2,
       -1,
       1,
       false,
       {{"img0002.png", 2}, {"img0004.png", 4}, {"img0005.png", 5}}},
      {"list file",
       dir.File("shots.txt"),
       -1,
       -1,
       1,
       false,
       {{"img0002.png", 0}, {"img0003.png", 1}, {"img0001.png", 2}}},
  };
  for (const Case& c : cases) {
    for (int mode = 0; mode <= 5; ++mode) {
      SCOPED_TRACE(std::string(c.name) + " field mode " + std::to_string(mode));
      Job job;
      job.mgr.GetImageCache()->SetFieldMode(mode);
      job.mgr.m_new_image_flags = 0x8000;
      ASSERT_EQ(
          job.mgr.SetSequence(c.templ.c_str(), c.first, c.last, c.step, "t1", nullptr, nullptr), 0);
      EXPECT_EQ(job.mgr.m_reverse, c.reverse);
      EXPECT_EQ(job.mgr.m_sequence_template, c.templ);
      EXPECT_EQ(job.mgr.m_sequence_text1, "t1");

      const bool two = mode == 3 || mode == 5;
      const size_t count = c.files.size() * (two ? 2 : 1);
      ASSERT_EQ(job.images().size(), count);
      EXPECT_EQ(job.mgr.GetFrameStart(), 0);
      EXPECT_EQ(job.mgr.GetFrameEnd(), int(count) - 1);
      EXPECT_EQ(job.mgr.GetFrameStep(), 1);
      const uint32_t width = mode == 2 ? 4 : 8;
      const uint32_t height = mode >= 1 && mode <= 3 ? 3 : 6;
      ASSERT_NE(job.mgr.GetInitCamera(), nullptr);
      EXPECT_EQ(job.mgr.GetInitCamera()->GetWidth(), width);
      EXPECT_EQ(job.mgr.GetInitCamera()->GetHeight(), height);
      for (size_t i = 0; i < count; ++i) {
        const File& f = c.files[two ? i / 2 : i];
        const FeatureImage& image = *job.images()[i];
        EXPECT_EQ(image.GetFileName(), dir.File(f.name)) << i;
        EXPECT_EQ(image.GetFileIndex(), f.number) << i;
        EXPECT_EQ(image.GetImageIndex(), int32_t(i));
        EXPECT_EQ(image.GetFlags(), 0x8000u);
        EXPECT_EQ(image.GetWidth(), width);
        EXPECT_EQ(image.GetHeight(), height);
      }
    }
  }
}

TEST(CameraTrackingManagerSequence, MapWildcard) {
  struct Case {
    const char* in;
    bool mapped;
    const char* out;
  };
  const Case cases[] = {
      {"img#.png", true, "img%d.png"},
      {"a#b#c", true, "a%03dc"},
      {"####", true, "%04d"},
      {"img%04d.png", false, "img%04d.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string t = c.in;
    EXPECT_EQ(CameraTrackingManager::MapWildcard(t), c.mapped);
    EXPECT_EQ(t, c.out);
  }
}

// The template is never a printf format: only the '#' run or one integer conversion
// becomes the number.
TEST_F(SequenceDir, TemplateNumberSlot) {
  struct Case {
    const char* templ;
    const char* name;  // of frame 7
  };
  const Case cases[] = {
      {"p%05d.png", "p00007.png"},      {"p%d.png", "p7.png"},
      {"100%/q##.png", "100%/q07.png"},  // a '%' before the '#' run is text
      {"%s_%03d.png", "%s_007.png"},     // so is a "%s"
      {"x%d_%d.png", "x7_%d.png"},       // only the first conversion counts
      {"w%5d.png", "w%5d.png"},          // not an accepted conversion: text
      {"a#b#c.png", "a007c.png"},        // everything between the first and last '#'
      {"still.png", "still.png"},        // no slot: the same name for every number
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.templ);
    WritePng(dir.File(c.name), 4, 4);
    Job job;
    const bool numbered = CameraTrackingManager::HasFrameNumber(c.templ);
    EXPECT_EQ(numbered, std::string(c.templ) != c.name);
    // Without a slot a range would name one picture for every frame: refused.
    ASSERT_EQ(job.mgr.SetSequence(dir.File(c.templ).c_str(), 7, 8, 1, nullptr, nullptr, nullptr),
              numbered ? 0 : -1);
    if (!numbered) continue;
    ASSERT_EQ(job.images().size(), 2u);
    EXPECT_EQ(job.images()[0]->GetFileName(), dir.File(c.name));
    EXPECT_EQ(job.images()[0]->GetFileIndex(), 7);
    EXPECT_EQ(job.images()[1]->GetFileIndex(), 8);
  }
}

// ---- refusals: nothing of the job changes

TEST_F(SequenceDir, RefusedInputsLeaveTheJob) {
  Job job;
  ASSERT_EQ(job.mgr.SetSequence(Template().c_str(), 1, 2, 1, "keep", nullptr, nullptr), 0);
  FeatureImage* first = job.images()[0].Get();
  const PerspectiveCamera* init = job.mgr.GetInitCamera();
  struct Case {
    const char* name;
    std::function<int()> call;
    int result;  // 1: any non-zero
    const char* log;
  };
  const Case cases[] = {
      {"step 0, closed range",
       [&] { return job.mgr.SetSequence("x####.png", 1, 5, 0, "t", nullptr, nullptr); }, -1,
       "CameraTrackingManager::SetSequence: step 0"},
      {"closed range, one file",
       [&] {
         return job.mgr.SetSequence(dir.File("img0001.png").c_str(), 1, 5, 1, nullptr, nullptr,
                                    nullptr);
       },
       -1, "names one file, not the frames 1 to 5"},
      {"closed range too long",
       [&] { return job.mgr.SetSequence("x####.png", 0, 2147483647, 1, "t", nullptr, nullptr); },
       -1, "the frames 0 to 2147483647 are more than"},
      {"first file missing",
       [&] { return job.mgr.SetSequence(Template().c_str(), 3, 4, 1, nullptr, nullptr, nullptr); },
       1, "CameraTrackingManager::SetImageFileList: set file list to image cache failed"},
      {"no file found",
       [&] {
         return job.mgr.SetSequence(dir.File("none####.png").c_str(), -1, -1, 1, nullptr, nullptr,
                                    nullptr);
       },
       1, "CameraTrackingManager::SetImageFileList: set file list to image cache failed"},
      {"null path list", [&] { return job.mgr.ChangeFilePath(nullptr); }, -2,
       "CameraTrackingManager::ChangeFilePath: no file list given"},
      {"path list refused", [&] { return job.mgr.ChangeFilePath(PackedStringListPtr::Make()); }, -2,
       "CameraTrackingManager::ChangeFilePath: set file list to image cache failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log(5);
    const int r = c.call();
    if (c.result == 1) {
      EXPECT_NE(r, 0);
    } else {
      EXPECT_EQ(r, c.result);
    }
    EXPECT_TRUE(Logged(log, c.log)) << log.text;
    ASSERT_EQ(job.images().size(), 2u);
    EXPECT_EQ(job.images()[0].Get(), first);
    EXPECT_EQ(job.mgr.GetInitCamera(), init);
    EXPECT_EQ(job.images()[0]->GetFileName(), dir.File("img0001.png"));
    EXPECT_EQ(job.mgr.m_sequence_text1, "keep");
  }
  // Step 0 is fine where no step is used.
  EXPECT_EQ(job.mgr.SetSequence(Template().c_str(), 4, -1, 0, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(job.images().size(), 2u);
}

TEST_F(SequenceDir, AspectsRefuseZeroSizesAndBadPixelAspects) {
  Job job;
  ASSERT_EQ(job.mgr.SetSequence(Template().c_str(), 1, 2, 1, nullptr, nullptr, nullptr), 0);
  const auto pixel_sizes = [&] {
    std::vector<double> s{job.mgr.GetInitCamera()->GetPixelSizeX(),
                          job.mgr.GetInitCamera()->GetPixelSizeY()};
    for (const auto& image : job.images()) {
      s.push_back(image->GetPixelSizeX());
      s.push_back(image->GetPixelSizeY());
    }
    return s;
  };
  const std::vector<double> before = pixel_sizes();
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double aspect : {0.0, -1.0, nan, inf}) {
    SCOPED_TRACE(aspect);
    LogCapture log(5);
    job.mgr.SetPixelAspects(aspect, 0.0);
    EXPECT_TRUE(Logged(log, "bad pixel aspect")) << log.text;
    EXPECT_EQ(pixel_sizes(), before);
  }
  {
    LogCapture log(5);
    job.mgr.SetCameraAspects(-4.0 / 3.0, 10.0);  // a negative pixel width
    EXPECT_TRUE(Logged(log, "SetCameraAspects: zero pixel size")) << log.text;
    EXPECT_EQ(pixel_sizes(), before);
  }
  // One zero side is enough to refuse.
  for (uint32_t w : {0u, 8u}) {
    SCOPED_TRACE(w);
    Resize(*job.images()[0], w, w == 0 ? 6 : 0);
    LogCapture log(5);
    job.mgr.SetCameraAspects(4.0 / 3.0, 10.0);
    job.mgr.SetPixelAspects(1.0, 0.0);
    EXPECT_TRUE(Logged(log, "SetCameraAspects: zero image size")) << log.text;
    EXPECT_TRUE(Logged(log, "SetPixelAspects: zero image size")) << log.text;
    EXPECT_EQ(pixel_sizes(), before);
  }
}

// ---- cameras

TEST(CameraTrackingManagerSequence, InitialCameraDefaults) {
  Job job;
  LogCapture log(5);
  job.mgr.InitCameras(nullptr);
  EXPECT_TRUE(Logged(log, "no images in image cache, used default image sizes")) << log.text;
  const PerspectiveCamera& c = *job.mgr.GetInitCamera();
  EXPECT_EQ(c.GetWidth(), 720u);
  EXPECT_EQ(c.GetHeight(), 576u);
  EXPECT_EQ(c.GetPixelSizeX(), kDefaultSx);
  EXPECT_EQ(c.GetPixelSizeY(), 0.1);
  EXPECT_NEAR(c.GetFocalLength(), kDefaultSx * 720.0 / (2.0 * std::tan(kHalfFov)), 1e-12);
  EXPECT_NEAR(c.GetHorizontalFieldOfView(), 39.6 * M_PI / 180.0, 1e-12);

  // 0 means a 50 mm lens; without images and initial camera nothing happens.
  job.mgr.SetInitFocalLength(0.0);
  EXPECT_NEAR(c.GetFocalLength(), 50.0 * kDefaultSx * 720.0 / 36.0, 1e-12);
  Job empty;
  LogCapture log2(5);
  empty.mgr.SetInitFocalLength(-1.0);
  EXPECT_TRUE(Logged(log2, "no initial camera, and no image list set")) << log2.text;
  EXPECT_EQ(empty.mgr.GetInitCamera(), nullptr);
}

TEST_F(SequenceDir, CamerasOfAJob) {
  Job job;
  ASSERT_EQ(job.mgr.SetSequence(Template().c_str(), 1, 2, 1, nullptr, nullptr, nullptr), 0);
  // The images' own pixel size (new images: 0.1 x 0.1), the frame's size, 39.6 degrees.
  const PerspectiveCamera* init = job.mgr.GetInitCamera();
  EXPECT_EQ(init->GetPixelSizeX(), 0.1);
  EXPECT_NEAR(init->GetHorizontalFieldOfView(), 2 * kHalfFov, 1e-12);
  for (const auto& image : job.images()) {
    EXPECT_EQ(image->GetFocalLength(), init->GetFocalLength());
  }

  // The frame aspect and the sensor diagonal, with r^2 added to the squared pixel counts.
  const PerspectiveCamera* image1 = job.images()[1].Get();
  const double h_before = image1->GetH().x;
  job.mgr.SetCameraAspects(4.0 / 3.0, 10.0);  // r = 4/3 * 6/8 = 1
  const double s = std::sqrt(100.0 / (64.0 + 36.0 + 1.0));
  for (const PerspectiveCamera* c : {init, image1}) {
    EXPECT_DOUBLE_EQ(c->GetPixelSizeX(), s);
    EXPECT_DOUBLE_EQ(c->GetPixelSizeY(), s);
  }
  EXPECT_EQ(job.images()[1]->GetH().x, h_before);  // field of view kept, mm focal follows

  // The pixel aspect keeps the field of view.
  const double fov = init->GetHorizontalFieldOfView();
  job.mgr.SetPixelAspects(2.0, 36.0);
  for (const PerspectiveCamera* c : {init, image1}) {
    EXPECT_DOUBLE_EQ(c->GetPixelSizeX(), 4.5);
    EXPECT_DOUBLE_EQ(c->GetPixelSizeY(), 2.25);
    EXPECT_NEAR(c->GetHorizontalFieldOfView(), fov, 1e-12);
  }
  job.mgr.SetInitFocalLength(35.0);
  EXPECT_NEAR(job.images()[0]->GetFocalLength(), 35.0 * 4.5 * 8.0 / 36.0, 1e-12);

  // A new list keeps the old initial camera's distortion (not the images').
  job.mgr.GetInitCamera()->SetDistortion(0.25, 0.0, 0, nullptr);
  ASSERT_EQ(job.mgr.SetSequence(Template().c_str(), 1, 2, 1, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(job.mgr.GetInitCamera()->GetDistortionCoefficients()[0], 0.25);
  EXPECT_EQ(job.images()[0]->GetDistortionCoefficients()[0], 0.0);
  EXPECT_EQ(job.images()[0]->GetPixelSizeX(), 0.1);
}

// Ten frames of one picture (a template without a number slot).
class TenFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 10; ++i) WritePng(dir.File("still000" + std::to_string(i) + ".png"), 8, 6);
    ASSERT_EQ(
        job.mgr.SetSequence(dir.File("still####.png").c_str(), 0, 9, 1, nullptr, nullptr, nullptr),
        0);
    ASSERT_EQ(job.images().size(), 10u);
  }
  void Key(size_t position, double k3, double k5) {
    FeatureImage& image = *job.images()[position];
    image.SetFlags(FIMAGE_FLAG_LENS_KEY);
    image.SetDistortion(k3, k5, 1, Poly3);
  }
  double K3(size_t position) { return job.images()[position]->GetDistortionCoefficients()[0]; }
  TempDir dir;
  Job job;
};

TEST_F(TenFrames, DistortionInterpolatedOverFrames) {
  Key(2, 0.1, 0.01);
  Key(6, 0.5, 0.05);
  job.mgr.InterpolateRadialDistortion();
  const double k3[] = {0.1, 0.1, 0.1, 0.2, 0.3, 0.4, 0.5, 0.5, 0.5, 0.5};
  for (size_t j = 0; j < 10; ++j) {
    SCOPED_TRACE(j);
    EXPECT_NEAR(K3(j), k3[j], 1e-15);
    EXPECT_NEAR(job.images()[j]->GetDistortionCoefficients()[1], k3[j] / 10, 1e-15);
    EXPECT_EQ(job.images()[j]->GetRdDim(), 1);
  }
  RadialDistortionParameters p{};
  job.mgr.GetRadialDistortionParameter(&p, 4);
  EXPECT_NEAR(p.k[0], 0.3, 1e-15);
  p.k[0] = -1;
  job.mgr.GetRadialDistortionParameter(&p, 10);
  EXPECT_EQ(p.k[0], -1);

  // Without key frames nothing is distorted.
  for (auto& image : job.images()) image->ClearFlags(FIMAGE_FLAG_LENS_KEY);
  job.mgr.InterpolateRadialDistortion();
  for (size_t j = 0; j < 10; ++j) EXPECT_EQ(K3(j), 0.0);
}

// After recycling, list positions and image indices differ: the interpolation follows the
// image indices.
TEST_F(TenFrames, DistortionAfterRecycling) {
  job.mgr.RecycleImages(4);  // positions 0..5 hold indices 4..9
  Key(0, 0.0, 0.0);
  Key(4, 0.4, 0.0);
  job.mgr.InterpolateRadialDistortion();
  EXPECT_NEAR(K3(2), 0.2, 1e-15);
}

TEST_F(TenFrames, RecycleImages) {
  std::vector<FeatureImage*> before;
  for (auto& image : job.images()) {
    image->AddFPoint2D(SharedPtr<FeaturePoint2D>::Make(image.Get(), 1.0, 2.0));
    image->SetFlags(8);
    before.push_back(image.Get());
  }
  job.mgr.RecycleImages(3);
  ASSERT_EQ(job.images().size(), 10u);
  for (size_t j = 0; j < 10; ++j) {
    SCOPED_TRACE(j);
    const FeatureImage* image = job.images()[j].Get();
    const bool recycled = j >= 7;
    EXPECT_EQ(image, before[(j + 3) % 10]);
    EXPECT_EQ(image->GetImageIndex(), int32_t(j + 3));  // recycled ones follow the old last (9)
    if (recycled) {
      EXPECT_EQ(image->GetFileIndex(), int32_t(j + 3));
    }
    EXPECT_EQ(image->GetFPoints2D().empty(), recycled);
    EXPECT_EQ(image->GetFlags(), recycled ? 0u : 8u);
  }
  EXPECT_EQ(job.mgr.GetFirstImageIndex(), 3);

  // More than the list holds: all of them, in their order.
  LogCapture log(5);
  job.mgr.RecycleImages(25);
  EXPECT_TRUE(Logged(log, "RecycleImages")) << log.text;
  for (size_t j = 0; j < 10; ++j) {
    EXPECT_EQ(job.images()[j].Get(), before[(j + 3) % 10]);
    EXPECT_EQ(job.images()[j]->GetImageIndex(), int32_t(13 + j));
  }
  EXPECT_EQ(job.mgr.GetFirstImageIndex(), 13);
  job.mgr.SetFirstImageIndex(0);
  EXPECT_EQ(job.mgr.GetFirstImageIndex(), 0);
}

// ---- new paths and restored lists

TEST_F(SequenceDir, ChangeFilePathKeepsTheFrames) {
  Job job;
  ASSERT_EQ(job.mgr.SetSequence(Template().c_str(), -1, -1, 1, nullptr, nullptr, nullptr), 0);
  auto& first = job.images()[0];
  first->AddFPoint2D(SharedPtr<FeaturePoint2D>::Make(first.Get(), 1.0, 2.0));
  TempDir moved;
  for (int n : {1, 2, 4, 5}) WritePng(moved.File("img000" + std::to_string(n) + ".png"), 8, 6);
  ASSERT_EQ(job.mgr.ChangeFilePath(FindSequenceFiles(moved.File("img0001.png").c_str(), -1, -1)),
            0);
  ASSERT_EQ(job.images().size(), 4u);
  EXPECT_EQ(job.images()[0]->GetFPoints2D().size(), 1u);
  EXPECT_EQ(job.images()[2]->GetFileName(), moved.File("img0004.png"));
}

TEST_F(SequenceDir, RestoreImageListAfterALoad) {
  for (int mode : {0, 3}) {
    SCOPED_TRACE(mode);
    Job job;
    job.mgr.GetImageCache()->SetFieldMode(mode);
    ASSERT_EQ(job.mgr.SetSequence(Template().c_str(), -1, -1, 1, nullptr, nullptr, nullptr), 0);
    const size_t count = job.images().size();
    // As a load leaves it: stored indices, and a cache without this list.
    for (auto& image : job.images()) image->SetImageIndex(image->GetImageIndex() + 100);
    ASSERT_EQ(job.mgr.GetImageCache()->SetImageList(
                  FindSequenceFiles(dir.File("img0005.png").c_str(), 5, 5), -1, -1),
              0);
    ASSERT_EQ(job.mgr.RestoreImageList(), 0);
    EXPECT_EQ(job.mgr.GetImageCache()->GetNumFrames(), count);
    const PackedStringListPtr files = job.mgr.GetImageCache()->GetFileList();
    ASSERT_EQ(files->Count(), 4);
    EXPECT_EQ(files->GetEntryNumber(2), 4);
    EXPECT_EQ(files->GetEntryName(2), dir.File("img0004.png"));
    for (size_t i = 0; i < count; ++i) EXPECT_EQ(job.images()[i]->GetImageIndex(), int32_t(i));
  }
  Job broken;
  ASSERT_EQ(broken.mgr.SetSequence(Template().c_str(), 1, 2, 1, nullptr, nullptr, nullptr), 0);
  broken.images()[0]->SetFileName(dir.File("gone.png").c_str());
  EXPECT_EQ(broken.mgr.RestoreImageList(), -1);
}

}  // namespace
