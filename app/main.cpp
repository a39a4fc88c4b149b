// kalvex: the program. Until the main window exists it runs the batch road only: the
// start-up steps that need no window, in their order, then the tracking run, then the
// batch end. Exit codes: 0 a solved and fully exported run (and -h/--help, --version);
// 1 no camera result, an unreadable sequence, frames of mixed sizes or a failed export; 2 a
// rejected option, configuration file, frame range or export target; 3 a partial result
// (exported, but frames of the range are not part of the solved camera path).
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/batch_frame_check.h"
#include "app/batch_progress.h"
#include "app/batch_run.h"
#include "app/commandline_parser_camera_tracking.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/product_info.h"
#include "foundation/runtime/split_path.h"
#include "foundation/runtime/worker_pool.h"
#include "image/image_cache.h"
#include "image/packed_string_list.h"
#include "interaction/controller.h"
#include "tracking/job/camera_tracking_manager.h"

namespace {

const char* const kConfigFileKey = "config-file";

// Sizes the worker pool from the option record's thread count (negative: by the number
// of processors) with at most two threads, and writes the result back.
void SizeWorkerPool(CameraTrackingOptions& options) {
  int t = options.thread_count;
  if (t < 0) {
    t = -2;
  } else if (t > 2) {
    t = 2;
  }
  options.thread_count = WorkerPool::SetNumberOfThreads(t);
}

// The frame range against the template, before any name is built: a reason, or empty.
std::string FrameRangeProblem(const std::string& image_template, const CameraTrackingOptions& o) {
  if (o.first_frame < 0 || o.last_frame < 0) return "";
  if (o.last_frame < o.first_frame) {
    return "the last frame " + std::to_string(o.last_frame) + " comes before the first frame " +
           std::to_string(o.first_frame);
  }
  if (!CameraTrackingManager::HasFrameNumber(image_template)) {
    return "\"" + image_template +
           "\" names one file; a frame range needs a numbered name such as img####.png or "
           "img%04d.png";
  }
  if (int64_t(o.last_frame) - o.first_frame >= CameraTrackingManager::kMaxFrameRange) {
    return "the frames " + std::to_string(o.first_frame) + " to " + std::to_string(o.last_frame) +
           " are more than " + std::to_string(CameraTrackingManager::kMaxFrameRange);
  }
  return "";
}

bool FolderIsEmpty(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool empty = true;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  ::closedir(dir);
  return empty;
}

// Why a template gave no frames: the missing folder or file, the empty range, or nothing
// matching in the folder.
std::string NoFramesReason(const std::string& image_template, const CameraTrackingOptions& o) {
  std::string directory, file;
  SplitPath(image_template.c_str(), &directory, &file);
  struct stat info;
  if (!directory.empty() && ::stat(directory.c_str(), &info) != 0) {
    return "folder \"" + directory + "\": " + std::strerror(errno);
  }
  const bool numbered = CameraTrackingManager::HasFrameNumber(image_template);
  if (!numbered) {
    if (::stat(image_template.c_str(), &info) != 0) return std::strerror(errno);
    return "not a picture, movie or list file this program reads";
  }
  if (o.first_frame >= 0 || o.last_frame >= 0) {
    return "no frame in the range " +
           (o.first_frame >= 0 ? std::to_string(o.first_frame) : std::string("first")) + " to " +
           (o.last_frame >= 0 ? std::to_string(o.last_frame) : std::string("last"));
  }
  const std::string folder = directory.empty() ? std::string(".") : directory;
  if (FolderIsEmpty(folder)) return "the folder \"" + folder + "\" is empty";
  return "no file in \"" + folder + "\" matches \"" + file + "\"";
}

// Reads every frame file once: unreadable frames and frames of another size are named.
// False when the sequence cannot be tracked as one shot (mixed sizes, nothing readable).
bool CheckFrames(ImageCache& cache, std::FILE* err) {
  const PackedStringListPtr files = cache.GetFileList();
  if (!files || cache.GetSourceKind() != 0) return true;  // a movie file checks its own frames
  const SequenceFrameCheck check = CheckSequenceFrames(*files);
  for (const FrameFault& fault : check.unreadable) {
    std::fprintf(err, "kalvex: warning: frame %d \"%s\" %s\n", fault.number, fault.file.c_str(),
                 fault.what.c_str());
  }
  for (const FrameFault& fault : check.other_size) {
    std::fprintf(err, "kalvex: frame %d \"%s\" is %s, the sequence %d x %d\n", fault.number,
                 fault.file.c_str(), fault.what.c_str(), check.width, check.height);
  }
  if (check.width == 0) {
    std::fprintf(err, "kalvex: no frame of the sequence can be read\n");
    return false;
  }
  if (!check.other_size.empty()) {
    std::fprintf(err,
                 "kalvex: the sequence has frames of different sizes: one camera cannot have "
                 "shot them; not tracked\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ProductInfo::SetProductName("Kalvex");
  ProductInfo::SetVersion(1, 6, 0);
  ProductInfo::SetReleaseKind(3);

  CommandlineParserCameraTracking parser;
  PackedStringList arguments;
  parser.ExpandArguments(arguments, argc, argv, kConfigFileKey);
  parser.ParseList(arguments);

  if (parser.HasError()) {
    // A typo must not start a run with settings the user did not ask for.
    std::fputs(parser.Usage().c_str(), stderr);
    for (const std::string& reason : parser.ErrorReasons()) {
      std::fprintf(stderr, "kalvex: %s\n", reason.c_str());
    }
    return kExitUsage;
  }
  if (parser.HelpRequested()) {
    std::fputs(parser.Usage().c_str(), stdout);
    return kExitOk;
  }
  if (parser.VersionRequested()) {
    std::printf("%s %s\n", ProductInfo::GetProductName().c_str(),
                ProductInfo::GetVersionString().c_str());
    return kExitOk;
  }
  const CameraTrackingOptions& options = parser.Options();
  if (options.batch_mode) {
    // Refused now, not after hours of tracking.
    const std::string range = FrameRangeProblem(parser.ImageFileTemplate(), options);
    if (!range.empty()) {
      std::fprintf(stderr, "kalvex: %s\n", range.c_str());
      return kExitUsage;
    }
    if (!CheckExportTargets(options.export_list, stderr)) return kExitUsage;
  }

  SizeWorkerPool(parser.Options());

  BatchProgress progress(stderr, isatty(fileno(stderr)) != 0);
  BatchTracker tracker(&progress);
  if (!parser.ConfigureCTrackMgr(&tracker)) {
    std::fprintf(stderr, "kalvex: the tracking options could not be applied\n");
    return kExitUsage;
  }

  if (!tracker.m_batch_mode) {
    std::fprintf(stderr,
                 "kalvex: the main window is not part of this build; use --batch-mode to track "
                 "and export (kalvex --help lists the options)\n");
    return kExitOk;
  }
  if (!parser.SequenceGiven()) {
    std::fprintf(stderr, "kalvex: batch mode needs an image sequence (one file argument)\n");
    return kExitFailed;
  }
  if (tracker.GetImageList().empty()) {
    std::fprintf(stderr, "kalvex: cannot read the image sequence \"%s\": %s\n",
                 parser.ImageFileTemplate().c_str(),
                 NoFramesReason(parser.ImageFileTemplate(), options).c_str());
    return kExitFailed;
  }
  if (!CheckFrames(*tracker.GetImageCache(), stderr)) return kExitFailed;

  // The Track button's copy: the refinement check box is on by default.
  TrackingSettings settings = *uic::Controller::Instance()->GetTrackingSettings();
  settings.m_perform_final_refinement = true;
  // The run chooses its map from the settings, not from the pool: without this a tripod
  // shot asked for with --est-method=pan would be solved as free motion.
  settings.m_camera_motion_constraint = parser.Options().estimation_method == 7 ? 1 : 0;
  Notify(5, "qMainWin::startTracking: tracking STARTED");
  NotifyContext::SetOutputFunction(&progress);
  tracker.StartAutomaticTracking(settings);
  tracker.WaitForEnd();
  NotifyContext::SetOutputFunction(&NotifyContext::Instance());
  return FinishBatchRun(tracker, stderr);
}
