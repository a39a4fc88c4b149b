// kalvex: the program. Until the main window exists it runs the batch road only: the
// start-up steps that need no window, in their order, then the tracking run, then the
// batch end. Exit codes: 0 a solved and fully exported run (and an explicit -h/--help);
// 1 no camera result, an unreadable sequence or a failed export; 2 a rejected option or
// configuration file.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/batch_progress.h"
#include "app/batch_run.h"
#include "app/commandline_parser_camera_tracking.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/product_info.h"
#include "foundation/runtime/worker_pool.h"
#include "image/packed_string_list.h"
#include "interaction/controller.h"

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
    std::fprintf(stderr, "kalvex: cannot read the image sequence \"%s\"\n",
                 parser.ImageFileTemplate().c_str());
    return kExitFailed;
  }

  // The Track button's copy: the refinement check box is on by default.
  TrackingSettings settings = *uic::Controller::Instance()->GetTrackingSettings();
  settings.m_perform_final_refinement = true;
  // The run chooses its map from the settings, not from the pool: without this a tripod
  // shot asked for with --est-method=pan would be solved as free motion.
  settings.m_camera_motion_constraint = parser.Options().estimation_method == 7 ? 1 : 0;
  Notify(5, "qMainWin::startTracking: tracking STARTED");
  tracker.StartAutomaticTracking(settings);
  tracker.WaitForEnd();
  return FinishBatchRun(tracker, stderr);
}
