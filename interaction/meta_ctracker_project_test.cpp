// Saving and loading whole projects through the tracker: the job, its images and the
// scene's user objects.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "interaction/meta_ctracker.h"
#include "interaction/tracker_job_for_test.h"
#include "scene/objects/nhs_object.h"
#include "scene/objects/stored_object_for_test.h"
#include "testing/log_capture.h"

namespace uic {
namespace {

using kxtest::ReadFile;
using kxtest::ReadText;
using kxtest::TrackerJob;
using kxtest::WriteFile;

// The job of TrackerJob plus one user object of every stored type code, each with its own
// transform, colour and name.
struct ProjectJob : TrackerJob {
  ProjectJob() {
    int n = 0;
    for (uint16_t type = 12; type <= 22; ++type) {
      NHSObject* object = kxtest::CreateStoredOrBareObject(type);
      if (object == nullptr) continue;
      Matrix3x4 m{};
      m.m[0] = m.m[5] = m.m[10] = 1.0 + n;
      m.m[3] = 0.5 * n;
      object->SetTransform(m);
      object->SetColor(0xff102030u + uint32_t(n));
      object->AddProperty(new NHSProperty_Name(("object " + std::to_string(n)).c_str()));
      tracker.GetScene().AddChild(object);
      ++n;
    }
  }
};

int CountUserObjects(Scene& scene) {
  int n = 0;
  for (NHSObject* c = scene.GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    n += c->IsSceneObject();
  }
  return n;
}

// The points of the scene's point cloud that are not removed.
size_t CountShownPoints(Scene& scene) {
  size_t n = 0;
  for (const auto& p : scene.GetPointCloud()->GetPoints()) {
    n += p && !p->TestFlags(FP3D_FLAG_REMOVED);
  }
  return n;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  return names;
}

class ProjectTest : public ::testing::TestWithParam<bool> {};  // text (true) or binary

TEST_P(ProjectTest, SaveLoadSaveGivesTheSameBytes) {
  const bool ascii = GetParam();
  ProjectJob job;
  const std::string first = job.dir.File("first.klx");
  const std::string second = job.dir.File("second.klx");
  ASSERT_TRUE(job.tracker.SaveProject(first.c_str(), ascii));
  {
    MetaCTracker loaded;
    kxtest::LogCapture log(5);
    ASSERT_TRUE(loaded.LoadProject(first.c_str(), kxtest::CreateStoredOrBareObject)) << log.text;
    EXPECT_TRUE(log.Has("MetaCTracker::LoadProject: Load Project: load 4 images"));
    EXPECT_EQ(loaded.GetImageList().size(), size_t(TrackerJob::kFrames));
    EXPECT_EQ(CountUserObjects(loaded.GetScene()), 10);
    EXPECT_EQ(CountShownPoints(loaded.GetScene()), size_t(TrackerJob::kTracks - 1));
    ASSERT_TRUE(loaded.SaveProject(second.c_str(), ascii));
  }
  EXPECT_EQ(ReadFile(first), ReadFile(second));
  const std::string text = ReadText(first);
  EXPECT_EQ(text.find(ascii ? std::string("KLXP\nVersion 1.0\nMode ascii\nKLX {\nCTrackMgr")
                            : std::string("KLXP\nVersion 1.0\nMode binary\nEndian big\n\x08\x10")),
            0u);
  // No temporary file is left next to the projects.
  EXPECT_EQ(FilesIn(job.dir.path()).size(), size_t(TrackerJob::kFrames + 2));
}

TEST_P(ProjectTest, EveryTruncationFailsCleanly) {
  const bool ascii = GetParam();
  ProjectJob job;
  const std::string good = job.dir.File("good.klx");
  ASSERT_TRUE(job.tracker.SaveProject(good.c_str(), ascii));
  const std::vector<uint8_t> bytes = ReadFile(good);
  // The root's closing mark is the last byte (binary) or the last "}" before the LF; a load
  // stops in front of it, so only a file that keeps it loads.
  const size_t closing = bytes.size() - (ascii ? 2 : 1);
  const std::string cut = job.dir.File("cut.klx");
  kxtest::LogCapture log(2);
  int previous_objects = 0;
  // One tracker for every cut: a failed load must also leave it able to load again.
  MetaCTracker loaded;
  for (size_t n = 0; n < bytes.size(); ++n) {
    WriteFile(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(n)));
    loaded.GetScene().ClearData();
    const bool ok = loaded.LoadProject(cut.c_str(), kxtest::CreateStoredOrBareObject);
    ASSERT_EQ(ok, n > closing) << n;
    // The objects read before the end stay, and grow with the file.
    const int objects = CountUserObjects(loaded.GetScene());
    ASSERT_GE(objects, previous_objects) << n;
    previous_objects = objects;
  }
  EXPECT_EQ(previous_objects, 10);
  EXPECT_TRUE(log.Has("failed with error: unexpected end of file in line"));
}

INSTANTIATE_TEST_SUITE_P(Modes, ProjectTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Text" : "Binary"; });

TEST(ProjectLoadTest, RootErrorsAreReportedWithFileAndLine) {
  kxtest::TempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
    const char* error;
  };
  const std::string text = "KLXP\nVersion 1.0\nMode ascii\n";
  const std::string binary = "KLXP\nVersion 1.0\nMode binary\nEndian big\n";
  const std::vector<Case> cases = {
      {"text_key", text + "KLY {\n}\n", "KLX id expected in line 4"},
      {"text_long_key", text + "KLXKLXKLXKLXKLXKLXKLX {\n}\n", "KLX id expected"},
      {"text_brace", text + "KLX\n(\n", "missing { in line 5"},
      {"binary_key", binary + "\x09\x10", "KLX ID expected"},
      {"binary_separator", binary + "\x08\x11", "start separator expected"},
      {"header", "KLXQ\n", "DataBaseIn::Open: wrong magic number"},
      {"missing_file", "", "open: could not open file"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.File(std::string(c.name) + ".klx");
    if (!c.bytes.empty()) WriteFile(path, c.bytes);
    kxtest::LogCapture log(5);
    MetaCTracker tracker;
    EXPECT_FALSE(tracker.LoadProject(path.c_str())) << c.name;
    EXPECT_TRUE(
        log.Has("MetaCTracker::LoadProject: \"" + path + "\"\nfailed with error: " + c.error))
        << c.name << "\n"
        << log.text;
  }
  kxtest::LogCapture log(5);
  MetaCTracker tracker;
  EXPECT_FALSE(tracker.LoadProject(nullptr));
  EXPECT_FALSE(tracker.SaveProject(nullptr, true));
  EXPECT_TRUE(log.Has("MetaCTracker::LoadProject: name is Null"));
  EXPECT_TRUE(log.Has("MetaCTracker::SaveProject: name is Null"));
}

TEST(ProjectLoadTest, MissingImagesFailButKeepTheJob) {
  ProjectJob job;
  const std::string path = job.dir.File("job.klx");
  ASSERT_TRUE(job.tracker.SaveProject(path.c_str(), true));
  for (int k = 0; k < TrackerJob::kFrames; ++k) {
    std::filesystem::remove(job.dir.File("img000" + std::to_string(k) + ".pgm"));
  }
  kxtest::LogCapture log(2);
  MetaCTracker loaded;
  EXPECT_FALSE(loaded.LoadProject(path.c_str(), kxtest::CreateStoredOrBareObject));
  EXPECT_TRUE(log.Has("failed with error: unable to load image(s)"));
  EXPECT_EQ(loaded.GetImageList().size(), size_t(TrackerJob::kFrames));  // kept for relocating
}

// Exceptions other than the reader's texts are failures of the load too, never the end of
// the program; the objects read before stay.
NHSObject* OutOfMemory(uint16_t) {
  throw std::bad_alloc();
}
NHSObject* LibraryError(uint16_t) {
  throw std::length_error("vector too long");
}

TEST(ProjectLoadTest, OtherExceptionsFailTheLoad) {
  ProjectJob job;
  const std::string path = job.dir.File("job.klx");
  ASSERT_TRUE(job.tracker.SaveProject(path.c_str(), false));
  struct Case {
    NHSObjectFactory factory;
    const char* error;
  };
  for (const Case& c :
       {Case{OutOfMemory, "out of memory"}, Case{LibraryError, "vector too long"}}) {
    kxtest::LogCapture log(2);
    MetaCTracker loaded;
    EXPECT_FALSE(loaded.LoadProject(path.c_str(), c.factory));
    EXPECT_TRUE(log.Has(std::string("failed with error: ") + c.error)) << log.text;
    EXPECT_EQ(loaded.GetImageList().size(), size_t(TrackerJob::kFrames));
  }
}

// A save that cannot complete leaves the previous project exactly as it was.
TEST(ProjectSaveTest, AFailedSaveKeepsThePreviousFile) {
  ProjectJob job;
  const std::string path = job.dir.File("job.klx");
  WriteFile(path, "the user's previous project");
  const std::vector<uint8_t> previous = ReadFile(path);

  // A full disk: the file-size limit stops the writes half-way, in a child process.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail instead of killing
    struct rlimit limit = {200, 200};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool saved = job.tracker.SaveProject(path.c_str(), true);
    _exit(saved ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save reported success";
  EXPECT_EQ(ReadFile(path), previous);

  // A folder that does not exist: nothing is created.
  kxtest::LogCapture log(5);
  const std::string missing = job.dir.File("no/such/folder/job.klx");
  EXPECT_FALSE(job.tracker.SaveProject(missing.c_str(), false));
  EXPECT_TRUE(log.Has("MetaCTracker::SaveProject: open \"" + missing + "\" failed!"));
  EXPECT_EQ(ReadFile(path), previous);
  EXPECT_EQ(FilesIn(job.dir.path()).size(), size_t(TrackerJob::kFrames + 1));

  // The same save without the limit replaces it.
  ASSERT_TRUE(job.tracker.SaveProject(path.c_str(), true));
  EXPECT_NE(ReadFile(path), previous);
}

}  // namespace
}  // namespace uic
