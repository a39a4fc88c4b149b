#include "export/undistorted_image_export.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/camera/radial_distortion.h"
#include "image/image_cache.h"
#include "image/image_file_io.h"
#include "image/image_list_for_test.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> rgb;  // 0x00RRGGBB, top row first
  uint32_t At(int x, int y) const { return rgb[size_t(y) * width + x]; }
};

bool WritePpm(const std::string& path, int w, int h, const std::function<uint32_t(int, int)>& f) {
  auto ctx = std::make_unique<ImageFileIO::ImageFileContext>();
  int32_t r = ImageFileIO::OpenWrite(ctx.get(), path.c_str(), ImageFileIO::kWritePNM, w, h, 24);
  std::vector<uint32_t> row(static_cast<size_t>(w));
  for (int y = 0; r == 0 && y < h; ++y) {
    for (int x = 0; x < w; ++x) row[size_t(x)] = f(x, y);
    r = ImageFileIO::WriteRow(row.data(), ctx.get());
  }
  return ImageFileIO::Close(ctx.get()) == 0 && r == 0;
}

Picture Read(const std::string& path) {
  Picture p;
  auto ctx = std::make_unique<ImageFileIO::ImageFileContext>();
  if (ImageFileIO::OpenRead(ctx.get(), path.c_str()) == 0) {
    p.width = ctx->width, p.height = ctx->height;
    p.rgb.resize(size_t(p.width) * p.height);
    for (int y = 0; y < p.height; ++y)
      if (ImageFileIO::ReadRow(p.rgb.data() + size_t(y) * p.width, ctx.get()) != 0) p.rgb.clear();
    for (auto& v : p.rgb) v &= 0xFFFFFF;
  }
  ImageFileIO::Close(ctx.get());
  return p;
}

constexpr auto List = kxtest::ListOf;
// A smooth pattern, so resampling differences stay small.
uint32_t Pattern(int x, int y, int frame) {
  const int r = 128 + int(100 * std::sin(x * 0.11 + frame)),
            g = 128 + int(100 * std::sin(y * 0.09));
  const int b = 128 + int(90 * std::cos((x + y) * 0.07));
  return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

struct Run {
  std::vector<int> progress;
  std::atomic<uint8_t> stop{0};
  int stop_after = -1;  // progress value that sets the stop flag
};

void OnProgress(void* context, int value) {
  Run* run = static_cast<Run*>(context);
  run->progress.push_back(value);
  if (value == run->stop_after) run->stop.store(1);
}

// Three 60 x 40 frames in a temporary folder and a job reading them into out_<n>.ppm.
struct Fixture {
  static constexpr int kWidth = 60, kHeight = 40;
  kxtest::TempDir dir;
  std::vector<std::string> inputs, outputs;
  Run run;

  explicit Fixture(int frames = 3) {
    for (int i = 0; i < frames; ++i) {
      inputs.push_back(dir.File("in_" + std::to_string(i) + ".ppm"));
      outputs.push_back(dir.File("out_" + std::to_string(i) + ".ppm"));
      EXPECT_TRUE(
          WritePpm(inputs.back(), kWidth, kHeight, [i](int x, int y) { return Pattern(x, y, i); }));
    }
  }
  UndistortJob Job() {
    UndistortJob job;
    job.image_list = List(inputs);
    job.output_names = List(outputs);
    job.first = 0;
    job.last = int(inputs.size()) - 1;
    job.format = ImageFileIO::kWritePNM;
    job.stop = &run.stop;
    job.progress = OnProgress;
    job.context = &run;
    return job;
  }
};

// Rows above the captions (the product name starts at 70 % of the height, its strokes 5 pixels
// wide) must come through unchanged.
constexpr int kClearRows = 40 * 70 / 100 - 6;

TEST(ExportUndistortedImages, ZeroDistortionCopiesFramesAndStampsTheCaption) {
  Fixture f;
  UndistortJob job = f.Job();
  ASSERT_EQ(ExportUndistortedImages(job), 0);
  EXPECT_EQ(f.run.progress, (std::vector<int>{33, 66, 100, 101}));
  EXPECT_EQ(job.parameters, nullptr);
  for (int i = 0; i < 3; ++i) {
    const Picture out = Read(f.outputs[i]);
    ASSERT_EQ(out.width, Fixture::kWidth) << i;
    ASSERT_EQ(out.height, Fixture::kHeight) << i;
    for (int y = 0; y < kClearRows; ++y)
      for (int x = 0; x < out.width; ++x)
        ASSERT_EQ(out.At(x, y), Pattern(x, y, i)) << x << "," << y;
    int grey = 0;  // the caption's full-ink pixels
    for (int y = kClearRows; y < out.height; ++y)
      for (int x = 0; x < out.width; ++x) grey += out.At(x, y) == 0xA0A0A0;
    EXPECT_GT(grey, 20) << i;
  }
}

TEST(ExportUndistortedImages, StopEndsAfterTheCurrentFrame) {
  Fixture f;
  f.run.stop_after = 33;
  UndistortJob job = f.Job();
  EXPECT_EQ(ExportUndistortedImages(job), 0);
  EXPECT_EQ(f.run.progress, (std::vector<int>{33, 101}));
  EXPECT_EQ(::access(f.outputs[0].c_str(), F_OK), 0);
  EXPECT_NE(::access(f.outputs[1].c_str(), F_OK), 0);
}

TEST(ExportUndistortedImages, FailuresReport102AndKeepEarlierFiles) {
  struct Case {
    const char* name;
    std::function<void(Fixture&, UndistortJob&)> spoil;
    std::vector<int> progress;
  } cases[] = {
      {"output folder missing",
       [](Fixture& f, UndistortJob& job) {
         job.output_names = List({f.outputs[0], f.dir.File("none/out_1.ppm"), f.outputs[2]});
       },
       {33, 102}},
      {"frame unreadable",
       [](Fixture& f, UndistortJob&) {
         FILE* junk = std::fopen(f.inputs[2].c_str(), "wb");
         std::fputs("P6 not a picture", junk);
         std::fclose(junk);
       },
       {33, 66, 102}},
      {"list cannot be opened",
       [](Fixture&, UndistortJob& job) { job.image_list = List({}); },
       {102}},
  };
  for (auto& c : cases) {
    Fixture f;
    UndistortJob job = f.Job();
    job.parameters = std::make_unique<std::vector<RadialDistortionParameters>>(1);
    c.spoil(f, job);
    kxtest::LogCapture log;
    EXPECT_EQ(ExportUndistortedImages(job), -1) << c.name;
    EXPECT_EQ(f.run.progress, c.progress) << c.name;
    EXPECT_EQ(job.parameters, nullptr) << c.name;
    if (c.progress.size() > 1) {
      EXPECT_EQ(Read(f.outputs[0]).width, Fixture::kWidth) << c.name;
    }
  }
}

TEST(ExportUndistortedImages, ShortNameListReusesTheLastNameWithOneWarning) {
  Fixture f;
  UndistortJob job = f.Job();
  job.output_names = List({f.outputs[0]});
  kxtest::LogCapture log(2);
  ASSERT_EQ(ExportUndistortedImages(job), 0);
  int warnings = 0;
  for (const auto& line : log.lines)
    warnings += line.find("1 output names for 3 frames") != std::string::npos;
  EXPECT_EQ(warnings, 1);
  const Picture out = Read(f.outputs[0]);
  ASSERT_EQ(out.width, Fixture::kWidth);
  EXPECT_EQ(out.At(5, 5), Pattern(5, 5, 2));  // the last frame's
}

TEST(ExportUndistortedImages, TwoFieldsFillEvenAndOddLines) {
  // Even source lines red, odd lines blue: the top field (even lines) lands in the even output
  // lines whichever field comes first.
  for (bool top_first : {true, false}) {
    Fixture f(1);
    ASSERT_TRUE(
        WritePpm(f.inputs[0], 60, 40, [](int, int y) { return y % 2 ? 0x0000FFu : 0xFF0000u; }));
    ImageCache source;
    source.SetFieldMode(3);
    source.SetTopFieldFirst(top_first);
    UndistortJob job = f.Job();
    job.source_cache = &source;  // holds another list: the worker copies its field settings
    ASSERT_EQ(ExportUndistortedImages(job), 0) << top_first;
    const Picture out = Read(f.outputs[0]);
    ASSERT_EQ(out.height, 20) << top_first;
    for (int y = 0; y < 20 * 70 / 100 - 6; ++y)
      EXPECT_EQ(out.At(30, y), y % 2 ? 0x0000FFu : 0xFF0000u) << top_first << " " << y;
  }
}

TEST(RadialDistortionMapper, InverseUndoesTheDirectModel) {
  RadialDistortionParameters p = {99.5, 74.5, 1.0, 1.0, {-2e-6, 0, 0, 0}, 1.0, Poly3};
  const RadialDistortionMapper mapper(p, true);
  for (auto [x, y] : {std::pair{10.0, 20.0}, {99.5, 74.5}, {180.0, 140.0}}) {
    double sx = 0, sy = 0;
    mapper.Map(sx, sy, x, y);
    // The source position (pixel-centre coordinates) maps back to (x, y) by the direct model.
    const double m = sx - 0.5 - p.principal_x, l = sy - 0.5 - p.principal_y;
    const double g = Poly3(m * m + l * l, p.k, false);
    EXPECT_NEAR(g * m + p.principal_x, x, 1e-6);
    EXPECT_NEAR(g * l + p.principal_y, y, 1e-6);
  }
}

TEST(ExportUndistortedImages, RemovesABarrelDistortionMadeByImageMagick) {
  const char kConvert[] = "/usr/bin/convert";
  if (::access(kConvert, X_OK) != 0) GTEST_SKIP() << "ImageMagick convert is missing";
  Fixture f(1);
  const int w = 200, h = 150;
  ASSERT_TRUE(WritePpm(f.inputs[0], w, h, [](int x, int y) { return Pattern(x, y, 0); }));
  // ImageMagick's destination radius r (in units of half the smaller side) reads the source
  // at r·(B r² + D): with D = 1 that is the direct Poly3 model with k = B / (h/2)².
  const double b = 0.08, radius = h / 2.0;
  const std::string distorted = f.dir.File("barrel.ppm");
  const std::string command = std::string(kConvert) + " " + f.inputs[0] +
                              " -filter point -interpolate bilinear -distort Barrel '0 " +
                              std::to_string(b) + " 0 1' " + distorted;
  ASSERT_EQ(std::system(command.c_str()), 0);
  UndistortJob job = f.Job();
  job.image_list = List({distorted});
  job.parameters = std::make_unique<std::vector<RadialDistortionParameters>>(1);
  (*job.parameters)[0] = {0.5 * w - 0.5, 0.5 * h - 0.5, 1, 1, {b / (radius * radius), 0, 0, 0},
                          1.0,           Poly3};
  ASSERT_EQ(ExportUndistortedImages(job), 0);
  const Picture out = Read(f.outputs[0]);
  ASSERT_EQ(out.width, w);
  double sum = 0;
  int n = 0;
  for (int y = h / 6; y < h * 70 / 100 - 6; ++y) {
    for (int x = w / 6; x < w - w / 6; ++x) {
      for (int s = 0; s < 24; s += 8) {
        const double d = double((out.At(x, y) >> s) & 255) - double((Pattern(x, y, 0) >> s) & 255);
        sum += d * d;
        ++n;
      }
    }
  }
  EXPECT_LT(std::sqrt(sum / n), 1.0);  // 0.26 levels when written
}

}  // namespace
