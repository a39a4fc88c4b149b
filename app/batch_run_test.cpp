#include "app/batch_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/batch_progress.h"
#include "testing/temp_dir.h"
#include "tracking/feature_map_move.h"

namespace {

// Everything written to a temporary stream.
std::string ReadBack(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  return text;
}

TEST(BatchProgressTest, RemainingTimeFromElapsedTimeAndPercent) {
  struct Case {
    int percent;
    long long elapsed_ms;
    const char* text;
  };
  const Case cases[] = {
      {0, 5000, "N/A"},
      {25, 10000, "Time remaining: 00:00:30 (Total: 00:00:40)"},
      {100, 61000, "Time remaining: 00:00:00 (Total: 00:01:01)"},
      // Times of day: a total beyond 24 hours wraps.
      {50, 50LL * 3600 * 1000, "Time remaining: 02:00:00 (Total: 04:00:00)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.percent);
    EXPECT_EQ(BatchProgress::RemainingTimeText(c.percent, c.elapsed_ms), c.text);
  }
}

TEST(BatchProgressTest, WithoutTerminalOneLinePerTenth) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  BatchProgress progress(f, false);
  for (double fraction : {0.0, 0.05, 0.12, 0.13, 0.25, 0.26, 0.99}) progress.Update(fraction);
  progress.Finish();
  const std::string text = ReadBack(f);
  std::fclose(f);
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 3u) << text;
  EXPECT_NE(text.find("tracking 12 %"), std::string::npos) << text;
  EXPECT_NE(text.find("tracking 99 %"), std::string::npos) << text;
  EXPECT_EQ(text.find('\r'), std::string::npos);
}

// A job of `frames` images, of which `solved` carry a measured error, and a map with
// `points` points.
class FinishedJob : public uic::MetaCTracker {
 public:
  FinishedJob(int frames, int solved, int points) {
    for (int i = 0; i < frames; ++i) {
      auto image = SharedPtr<FeatureImage>::Make(this);
      image->SetImageIndex(i);
      image->SetFileIndex(i + 1);
      if (i < solved) image->SetMeanSquaredError(0.04);
      m_image_list.push_back(image);
    }
    SetFrameRange(0, frames - 1, 1);
    for (int i = 0; i < points; ++i) {
      auto point =
          SharedPtr<FeaturePoint3D>::Make(double(i), 1.0, 10.0, FeaturePoint3D::eCartesian);
      m_fmap->AddFPoint3D(point);
    }
  }
};

TEST(FinishBatchRunTest, ResultSummaryEveryExportTriedAndFailuresNamed) {
  kxtest::TempDir dir;
  FinishedJob job(4, 3, 2);
  job.m_export_list = {
      {dir.File("cams.txt"), 1}, {dir.File("missing/cams.txt"), 1}, {dir.File("again.txt"), 1}};
  std::FILE* err = std::tmpfile();
  ASSERT_NE(err, nullptr);
  const int code = FinishBatchRun(job, err);
  const std::string text = ReadBack(err);
  std::fclose(err);
  EXPECT_EQ(code, kExitFailed) << text;
  EXPECT_NE(text.find("solved 3 of 4 frames"), std::string::npos) << text;
  EXPECT_NE(text.find("warning: 1 of 4 frames were left unsolved"), std::string::npos) << text;
  EXPECT_NE(text.find("export \"" + dir.File("missing/cams.txt") + "\" (type 1) failed"),
            std::string::npos)
      << text;
  // The failure did not stop the request after it.
  EXPECT_TRUE(std::ifstream(dir.File("cams.txt")).good());
  EXPECT_TRUE(std::ifstream(dir.File("again.txt")).good());
}

TEST(FinishBatchRunTest, ExitCodeByResult) {
  struct Case {
    const char* name;
    int solved, points;
    int code;
    const char* says;
  };
  const Case cases[] = {
      {"solved", 4, 2, kExitOk, "solved 4 of 4 frames"},
      {"no_camera", 0, 2, kExitFailed, "without a camera result"},
      {"no_points", 4, 0, kExitFailed, "without a camera result"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::TempDir dir;
    FinishedJob job(4, c.solved, c.points);
    job.m_export_list = {{dir.File("cams.txt"), 1}};
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(FinishBatchRun(job, err), c.code);
    const std::string text = ReadBack(err);
    std::fclose(err);
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_EQ(text.find("warning"), std::string::npos) << text;
    // Without a result nothing is exported, and the request is named.
    EXPECT_EQ(std::ifstream(dir.File("cams.txt")).good(), c.code == kExitOk);
    if (c.code != kExitOk) {
      EXPECT_NE(text.find("not written"), std::string::npos) << text;
    }
  }
}

}  // namespace
