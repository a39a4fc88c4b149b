#include "app/batch_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/batch_progress.h"
#include "testing/temp_dir.h"
#include "tracking/maps/feature_map_move.h"

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

TEST(BatchProgressTest, OnATerminalLogLinesNeverShareTheProgressLine) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  BatchProgress progress(f, true);
  auto line = SharedPtr<NotifyMessage>::Make();
  line->level = 2;
  line->length = std::snprintf(line->text, sizeof line->text, "Warning: odd");
  progress.Output(line);  // no progress line yet: only the log line
  progress.Update(0.4);
  progress.Output(line);
  progress.Finish();
  const std::string text = ReadBack(f);
  std::fclose(f);
  EXPECT_EQ(text.rfind("Warning: odd\n", 0), 0u) << text;
  // The progress line is erased, the log line written, the progress line drawn again.
  const size_t erase = text.find("\r\033[KWarning: odd\nkalvex: tracking 40 %");
  EXPECT_NE(erase, std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n');
}

// A free-motion map whose final estimation found no key-frame pair.
class RotationOnlyMap : public FeatureMapMove {
 public:
  bool RotationOnlyResult() const override { return true; }
};

// A job of `frames` images: the first `earlier` carry a measured error from an earlier
// reconstruction, the next `solved` are the final reconstruction (the map's frames), and
// the map holds `points` points.
class FinishedJob : public uic::MetaCTracker {
 public:
  FinishedJob(int frames, int solved, int points, int earlier = 0, bool rotation_only = false) {
    if (rotation_only) m_fmap = SharedPtr<RotationOnlyMap>::Make();
    FeatureMap::ImageList final_frames;
    for (int i = 0; i < frames; ++i) {
      auto image = SharedPtr<FeatureImage>::Make(this);
      image->SetImageIndex(i);
      image->SetFileIndex(i + 1);
      if (i < earlier + solved) image->SetMeanSquaredError(0.04);
      if (i >= earlier && i < earlier + solved) final_frames.push_back(image);
      m_image_list.push_back(image);
    }
    m_fmap->SetImageList(final_frames);
    SetFrameRange(0, frames - 1, 1);
    for (int i = 0; i < points; ++i) {
      auto point =
          SharedPtr<FeaturePoint3D>::Make(double(i), 1.0, 10.0, FeaturePoint3D::eCartesian);
      m_fmap->AddFPoint3D(point);
    }
  }
};

TEST(BatchSummaryTest, NumbersAsRanges) {
  struct Case {
    std::vector<int> numbers;
    const char* text;
  };
  const Case cases[] = {
      {{}, ""},
      {{7}, "7"},
      {{3, 1, 2, 2, 5, 9, 8}, "1-3, 5, 8-9"},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberRangesText(c.numbers), c.text);
}

TEST(BatchSummaryTest, ExportTargetsCheckedWithReasons) {
  kxtest::TempDir dir;
  std::ofstream(dir.File("old.txt")) << "x";
  struct Case {
    std::vector<ExportRequest> requests;
    const char* says;  // null: accepted
  };
  const Case cases[] = {
      {{{dir.File("new.txt"), 1}, {dir.File("old.txt"), 4}}, nullptr},
      {{{dir.File("missing/cams.txt"), 1}}, "No such file or directory"},
      {{{dir.File("old.txt/cams.txt"), 1}}, "is not a folder"},
      {{{dir.path(), 1}}, "is a folder"},
      {{{dir.File("a.txt"), 1}, {dir.File("a.txt"), 4}}, "named by two exports"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requests[0].file_name);
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(CheckExportTargets(c.requests, err), c.says == nullptr);
    const std::string text = ReadBack(err);
    std::fclose(err);
    if (c.says != nullptr) {
      EXPECT_NE(text.find(c.says), std::string::npos) << text;
    }
  }
}

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
  EXPECT_NE(text.find("warning: frames 4 are not part of the solved camera path"),
            std::string::npos)
      << text;
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
    int solved, points, earlier;
    bool rotation_only;
    int code;
    std::vector<std::string> says;
  };
  const Case cases[] = {
      {"solved", 4, 2, 0, false, kExitOk, {"solved 4 of 4 frames"}},
      {"partial", 3, 2, 0, false, kExitPartial, {"solved 3 of 4", "frames 4 are not part"}},
      // Cameras of an earlier reconstruction are not counted, and the split is said.
      {"split",
       2,
       2,
       2,
       false,
       kExitPartial,
       {"solved 2 of 4", "frames 1-2 are not", "split: 2 of"}},
      {"no_camera", 0, 2, 0, false, kExitFailed, {"without a camera result"}},
      {"no_points", 4, 0, 0, false, kExitFailed, {"without a camera result", "0 3D points"}},
      // Every frame has a camera, but the travel is unsolved: exported, and said.
      {"rotation_only", 4, 2, 0, true, kExitOk, {"solved 4 of 4", "result is rotation-only"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kxtest::TempDir dir;
    FinishedJob job(4, c.solved, c.points, c.earlier, c.rotation_only);
    job.m_export_list = {{dir.File("cams.txt"), 1}};
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(FinishBatchRun(job, err), c.code);
    const std::string text = ReadBack(err);
    std::fclose(err);
    for (const std::string& says : c.says) EXPECT_NE(text.find(says), std::string::npos) << text;
    EXPECT_EQ(text.find("warning") == std::string::npos, c.code != kExitPartial && !c.rotation_only)
        << text;
    // Without a result nothing is exported, and the request is named; a partial result
    // is exported.
    EXPECT_EQ(std::ifstream(dir.File("cams.txt")).good(), c.code != kExitFailed);
    if (c.code == kExitFailed) {
      EXPECT_NE(text.find("not written"), std::string::npos) << text;
    }
  }
}

}  // namespace
